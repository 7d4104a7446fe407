#!/bin/sh
# skyvane-modem-rule against a scratch installation and a scratch sysfs:
# the rule is written once, for the registered modem's USB ids.
set -eu
src=$1
cli=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
export SKYVANE_HOME="$tmp/home" SKYVANE_ROOT="$tmp/home" PARLO_CLI="$cli"
usb="$tmp/sys/devices/1-3"
mkdir -p "$usb/1-3:1.0/ttyACM7" "$tmp/sys/tty/ttyACM7"
echo 22b8 > "$usb/idVendor"
echo 2d62 > "$usb/idProduct"
ln -s "$usb/1-3:1.0/ttyACM7" "$tmp/sys/tty/ttyACM7/device"
"$cli" modem add Moto /dev/ttyACM7 >/dev/null

fail() { echo "FAIL: $*" >&2; exit 1; }
rule='ATTRS{idVendor}=="22b8", ATTRS{idProduct}=="2d62", ENV{ID_MM_DEVICE_IGNORE}="1"'
out=$("$src/scripts/skyvane-modem-rule" --print --sysfs "$tmp/sys/tty" Moto)
printf '%s\n' "$out" | grep -qxF "$rule" || fail "--print: $out"

# Refused without a yes; written with one; not twice.
echo n | "$src/scripts/skyvane-modem-rule" --rules-file "$tmp/rules" --sysfs "$tmp/sys/tty" Moto \
    >/dev/null && fail "wrote without a yes"
[ ! -e "$tmp/rules" ] || fail "file written without a yes"
"$src/scripts/skyvane-modem-rule" --yes --rules-file "$tmp/rules" --sysfs "$tmp/sys/tty" Moto >/dev/null
grep -qxF "$rule" "$tmp/rules" || fail "rule not written"
"$src/scripts/skyvane-modem-rule" --yes --rules-file "$tmp/rules" --sysfs "$tmp/sys/tty" Moto \
    | grep -q "already" || fail "second run"
[ "$(grep -c ID_MM_DEVICE_IGNORE "$tmp/rules")" -eq 1 ] || fail "rule written twice"

# A modem that is not registered: an error, nothing written.
if "$src/scripts/skyvane-modem-rule" --yes --rules-file "$tmp/other" Nokia 2>/dev/null; then
    fail "unknown modem accepted"
fi
[ ! -e "$tmp/other" ] || fail "file written for an unknown modem"
# Through sudo: the modems are read as the user who called sudo, with that
# user's installation. Stand-ins for id (root) and sudo record the call.
mkdir -p "$tmp/path"
cat >"$tmp/path/id" <<'ID'
#!/bin/sh
[ "$1" = -u ] && { echo 0; exit 0; }
exec /usr/bin/id "$@"
ID
cat >"$tmp/path/sudo" <<'SUDO'
#!/bin/sh
echo "$*" >>"$SUDO_LOG"
[ "$1" = -H ] && [ "$2" = -u ] || exit 1
shift 3
exec "$@"
SUDO
chmod +x "$tmp/path/id" "$tmp/path/sudo"
out=$(PATH="$tmp/path:$PATH" SUDO_USER=alice SUDO_LOG="$tmp/sudo.log" \
    "$src/scripts/skyvane-modem-rule" --print --sysfs "$tmp/sys/tty" Moto)
printf '%s\n' "$out" | grep -qxF "$rule" || fail "through sudo: $out"
grep -q -- "-u alice .*modem rule Moto" "$tmp/sudo.log" || fail "not run as the calling user"
# Run by root itself, parlo-cli runs as it is.
rm -f "$tmp/sudo.log"
PATH="$tmp/path:$PATH" SUDO_LOG="$tmp/sudo.log" \
    "$src/scripts/skyvane-modem-rule" --print --sysfs "$tmp/sys/tty" Moto >/dev/null
[ ! -e "$tmp/sudo.log" ] || fail "sudo used without a calling user"
echo "skyvane-modem-rule: ok"

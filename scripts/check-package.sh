#!/usr/bin/env bash
# Checks the Debian packages made from a finished build (skyvane and
# skyvane-tools): lintian at the pedantic level (any error or warning fails),
# their file lists and dependencies, every program on the PATH answering
# --help and --version from a scratch root without a display and without
# side effects, the manual pages, and the user service's command running one
# automatic synchronisation against the simulated phone.
# Usage: scripts/check-package.sh [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
src=$PWD
build=$(cd "${1:-build}" && pwd)
fail() { echo "check-package: $*" >&2; exit 1; }
say() { echo "check-package: $*"; }

rm -f "$build"/skyvane*_*.deb
(cd "$build" && cpack -G DEB >/dev/null) || fail "cpack failed"
suite=$(ls "$build"/skyvane_*.deb)
tools=$(ls "$build"/skyvane-tools_*.deb)

# lintian, as a Debian maintainer runs it on a new package.
if command -v lintian >/dev/null; then
    report=$(lintian --display-info --pedantic --fail-on error,warning \
        "$suite" "$tools" 2>&1 | grep -v "running with root privileges") || {
        echo "$report" >&2
        fail "lintian reports errors or warnings"
    }
    say "lintian: no errors or warnings$([ -n "$report" ] && printf '; the rest:\n%s' "$report")"
else
    fail "lintian is not installed (scripts/setup.sh installs it)"
fi

# Which files go where.
suite_files=$(dpkg-deb --contents "$suite" | awk '{print $6}')
tools_files=$(dpkg-deb --contents "$tools" | awk '{print $6}')
has() { grep -qx "$2" <<<"$1"; }
for f in ./usr/bin/parlo-cli ./usr/lib/skyvane/bin/parlo-cli ./usr/lib/skyvane/lib/libcordis.so \
         ./usr/share/skyvane/vok.dat ./usr/share/man/man1/parlo-cli.1.gz \
         ./usr/share/bash-completion/completions/parlo-cli ./usr/bin/skyvane-modem-rule \
         ./usr/share/icons/hicolor/scalable/apps/skyvane.svg ./usr/share/doc/skyvane/updater.md \
         ./usr/share/applications/skyvane-send-sms.desktop ./usr/share/doc/skyvane/copyright \
         ./usr/lib/systemd/user/skyvane-autosync.service; do
    has "$suite_files" "$f" || fail "$f is not in $(basename "$suite")"
done
for f in ./usr/bin/phonesim ./usr/bin/updater-sign ./usr/share/man/man1/phonesim.1.gz \
         ./usr/share/doc/skyvane-tools/copyright; do
    has "$tools_files" "$f" || fail "$f is not in $(basename "$tools")"
done
for f in phonesim updater-sign skyvane-install; do
    ! grep -q "/$f\$" <<<"$suite_files" || fail "the test tool $f is in $(basename "$suite")"
done
grep -q 'bin/.*_eng.bin$' <<<"$tools_files" || fail "the installer's stand-in packages are missing"
! grep -q '\.bin$' <<<"$suite_files" || fail "installer stand-ins in $(basename "$suite")"
depends=$(dpkg-deb --field "$suite" Depends)
grep -q libc6 <<<"$depends" || fail "no library dependencies declared: '$depends'"
grep -q sensible-utils <<<"$depends" || fail "sensible-utils is not a dependency: '$depends'"
dpkg-deb --field "$tools" Depends | grep -q "skyvane (= " || fail "skyvane-tools does not depend on skyvane"

root=$(mktemp -d)
phone=
cleanup() {
    [ -z "$phone" ] || kill "$phone" 2>/dev/null || true
    rm -rf "$root"
}
trap cleanup EXIT
dpkg-deb -x "$suite" "$root"
dpkg-deb -x "$tools" "$root"
# The installed programs, not the build tree's; no display.
unset SKYVANE_BIN_DIR SKYVANE_DATA_DIR SKYVANE_HOME SKYVANE_ROOT DISPLAY WAYLAND_DISPLAY \
    QT_QPA_PLATFORM XDG_DATA_HOME
export HOME="$root/home"
mkdir -p "$HOME"

# Every program on the PATH: --help and --version, nothing written, and a
# manual page whose SEE ALSO names pages that are there.
programs=0
for program in "$root"/usr/bin/*; do
    name=$(basename "$program")
    help=$(timeout 20 "$program" --help </dev/null 2>&1) || fail "$name --help failed: $help"
    grep -qi "usage" <<<"$help" || fail "$name --help shows no usage: $help"
    version=$(timeout 20 "$program" --version </dev/null 2>&1) || fail "$name --version failed"
    [ "$version" = "$name 1.0.0" ] || [[ $version == "$name "[0-9]* ]] ||
        fail "$name --version said '$version'"
    [ -z "$(ls -A "$HOME")" ] || fail "$name --help or --version wrote $(ls -A "$HOME")"
    page="$root/usr/share/man/man1/$name.1.gz"
    [ -f "$page" ] || fail "no manual page for $name"
    for ref in $(zcat "$page" | sed -n '/^\.SH SEE ALSO/,/^\.SH/p' |
                 sed -n 's/^\.BR \([^ ]*\) (1).*/\1/p' | sed 's/\\-/-/g'); do
        [ -f "$root/usr/share/man/man1/$ref.1.gz" ] || fail "$name(1) refers to $ref(1), which is missing"
    done
    programs=$((programs + 1))
done
say "$programs programs answer --help and --version and have manual pages"
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$root"/usr/share/applications/*.desktop || fail "desktop entries"
fi

# The user service: its unit, and its command run as the unit runs it,
# against the simulated phone with a scratch installation.
unit="$root/usr/lib/systemd/user/skyvane-autosync.service"
exec_start=$(sed -n 's/^ExecStart=//p' "$unit")
if command -v systemd-analyze >/dev/null; then
    # The unit as installed in the scratch root.
    mkdir -p "$root/unit"
    sed "s|^ExecStart=/|ExecStart=$root/|" "$unit" >"$root/unit/skyvane-autosync.service"
    said=$(systemd-analyze verify --man=no "$root/unit/skyvane-autosync.service" 2>&1) ||
        fail "systemd-analyze verify: $said"
    [ -z "$said" ] || fail "systemd-analyze verify: $said"
fi
[[ $exec_start == /usr/bin/parlo-cli* ]] || fail "unexpected ExecStart: $exec_start"
read -r -a command <<<"$exec_start"
command[0]=$root${command[0]}
inst="$HOME/.local/share/skyvane"
mkdir -p "$inst"
cp "$src/tools/phonesim/demo/phone.json" "$root/phone.json"
"$root/usr/bin/phonesim" --state "$root/phone.json" --home "$inst" --register "Simulated phone" \
    --alias COM3: >"$root/phonesim.out" 2>"$root/phonesim.err" &
phone=$!
for _ in $(seq 100); do
    [ "$(wc -l <"$root/phonesim.out")" -ge 2 ] && break
    kill -0 "$phone" 2>/dev/null || fail "phonesim ended: $(cat "$root/phonesim.err")"
    sleep 0.1
done
cli() { "$root/usr/bin/parlo-cli" --yes "$@" >/dev/null; }
cli options interval 2 || fail "parlo-cli options interval 2 failed"  # the shortest
cli send +491709876543 "Sent by the user service" || fail "parlo-cli send failed"
"${command[@]}" >"$root/service.log" 2>&1 &
service=$!
ran=0
for _ in $(seq 2000); do
    grep -q "^run 1:" "$root/service.log" && { ran=1; break; }
    kill -0 "$service" 2>/dev/null || break
    sleep 0.1
done
kill -TERM "$service" 2>/dev/null || true
status=0
wait "$service" || status=$?
log=$(cat "$root/service.log")
say "the user service logged:"
sed 's/^/    /' <<<"$log"
[ $ran -eq 1 ] || fail "no automatic run within three minutes"
grep -q "^run 1: sent 1, received [1-9]" <<<"$log" || fail "the run did not send and receive"
[ $status -eq 0 ] || fail "the service ended with status $status on SIGTERM"
grep -q "^Stopping" <<<"$log" || fail "the service did not stop cleanly"
say "$(basename "$suite") and $(basename "$tools") ok"

#!/usr/bin/env bash
# parlo-cli's bash completion against a scratch installation: the commands
# are parlo-cli's own, folders and modems are the real ones (quoted), and
# what the program refuses is not offered.
set -o pipefail
src=$1
cli=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
export SKYVANE_HOME="$tmp/home" SKYVANE_ROOT="$tmp/home"
"$cli" --yes folders add "Work Mail" >/dev/null
"$cli" --yes modem add "Nokia 6230" /dev/ttyS9 >/dev/null

fail() { echo "FAIL: $*" >&2; exit 1; }
# shellcheck source=/dev/null
source "$src/resources/desktop/parlo-cli.bash-completion"
# The completion of the command line "$@" (the last word is the one completed).
complete_line() {
    COMP_WORDS=("$cli" "$@")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _parlo_cli
    printf '%s\n' "${COMPREPLY[@]}" | sort
}

# Every command of the program's table, and nothing else that is not an option.
want=$("$cli" --help | sed -n '/^Commands:/,$p' | awk 'NR > 1 && /^  [a-z]/ {print $1}' | sort -u)
got=$(complete_line "" | grep -v '^-' | sort -u)
[ "$want" = "$got" ] || fail "commands: $(diff <(echo "$want") <(echo "$got") | tr '\n' ' ')"

folders=$(complete_line move "")
grep -qxF 'Recycle\ Bin' <<<"$folders" || fail "move: no Recycle Bin in: $folders"
grep -qxF 'Sent\ Messages' <<<"$folders" || fail "move: no Sent Messages in: $folders"
grep -qxF 'Work\ Mail' <<<"$folders" || fail "move: the user folder is missing: $folders"
! grep -qx 'all\|sent\|draft' <<<"$folders" || fail "move offers names it refuses: $folders"
for f in $(complete_line move "" | grep -v '\\'); do
    "$cli" list "$f" >/dev/null 2>&1 || fail "offered folder '$f' is refused by list"
done
[ "$(complete_line move "Rec")" = 'Recycle\ Bin' ] || fail "move Rec: $(complete_line move Rec)"
[ "$(complete_line move 'Work\ M')" = 'Work\ Mail' ] || fail "a quoted prefix"
grep -qx all <<<"$(complete_line list "")" || fail "list: no 'all'"

[ "$(complete_line modem rule "")" = 'Nokia\ 6230' ] || fail "modem rule: $(complete_line modem rule "")"
[ "$(complete_line modem remove No)" = 'Nokia\ 6230' ] || fail "modem remove"

# --data-dir names another installation: its folders are offered.
other="$tmp/other"
SKYVANE_HOME="$other" SKYVANE_ROOT="$other" "$cli" --yes folders add "Elsewhere" >/dev/null
grep -qxF 'Elsewhere' <<<"$(unset SKYVANE_HOME SKYVANE_ROOT; complete_line --data-dir "$other" move "")" ||
    fail "--data-dir is not followed"
echo "completion: ok"

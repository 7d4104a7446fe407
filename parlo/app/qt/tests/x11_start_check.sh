#!/bin/sh
# Starts Parlo again and again on a real X server with a window manager, as a
# desktop user does: every start must show the main window, a number from the
# command line must open its new message, and a hand-off file left by the
# contacts action after that message was closed with Escape must open its own
# new message (never be consumed without one).
#
# Usage: x11_start_check.sh BIN_DIR [RUNS]   (exit 77: no X tools, skipped)
set -u
bin=$1
runs=${2:-20}
for tool in Xvfb openbox xdotool; do
    command -v "$tool" >/dev/null 2>&1 || { echo "skipped: no $tool"; exit 77; }
done

work=$(mktemp -d)
pids=""
cleanup() {
    for p in $pids; do kill "$p" 2>/dev/null; done
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

# The display SKYVANE_X_DISPLAY names (a number), or one nobody uses: Xvfb
# then picks it and tells it on a descriptor.
if [ -n "${SKYVANE_X_DISPLAY:-}" ]; then
    Xvfb ":$SKYVANE_X_DISPLAY" -screen 0 1280x900x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
    pids="$pids $!"
    echo "$SKYVANE_X_DISPLAY" >"$work/display"
    i=0
    while ! DISPLAY=":$SKYVANE_X_DISPLAY" xdotool getdisplaygeometry >/dev/null 2>&1 &&
        [ $i -lt 300 ]; do
        sleep 0.1; i=$((i + 1))
    done
else
    exec 3>"$work/display"
    Xvfb -displayfd 3 -screen 0 1280x900x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
    pids="$pids $!"
    exec 3>&-
    i=0
    while [ ! -s "$work/display" ] && [ $i -lt 300 ]; do sleep 0.1; i=$((i + 1)); done
fi
[ -s "$work/display" ] || { echo "Xvfb did not start"; exit 1; }
DISPLAY=:$(head -n1 "$work/display")
export DISPLAY
openbox >"$work/openbox.log" 2>&1 &
pids="$pids $!"

export SKYVANE_HOME="$work/home" SKYVANE_ROOT="$work/home" SKYVANE_BIN_DIR="$bin"
export SKYVANE_CONTACTS="$work/contacts" QT_QPA_PLATFORM=xcb
mkdir -p "$SKYVANE_HOME" "$SKYVANE_CONTACTS"
: >"$work/phonesim.out"
"$bin/phonesim" --state "$work/phone.json" --register Phonesim --alias COM3: \
    --home "$SKYVANE_HOME" >"$work/phonesim.out" 2>&1 &
pids="$pids $!"
i=0
while [ "$(wc -l <"$work/phonesim.out")" -lt 2 ] && [ $i -lt 600 ]; do sleep 0.1; i=$((i + 1)); done
[ "$(wc -l <"$work/phonesim.out")" -ge 2 ] || { echo "phonesim did not start"; exit 1; }
printf 'BEGIN:VCARD\nVERSION:3.0\nUID:ada\nN:Lovelace;Ada;;;\nFN:Ada Lovelace\nTEL;TYPE=CELL:+49 170 555\nEND:VCARD\n' \
    >"$work/contacts/ada.vcf"

# The windows on show whose title matches, one id a line. A search dies
# with an X error (BadWindow) when a window goes while it looks at it, as
# start-up windows and tooltips do, and then says nothing: such a search is
# made again, so that "none" is only said when none was found.
search() {
    tries=0
    while [ $tries -lt 100 ]; do
        if xdotool search --onlyvisible --name "$1" 2>"$work/search.err"; then
            return 0
        fi
        [ -s "$work/search.err" ] || return 1
        tries=$((tries + 1))
    done
    return 1
}
# Waits up to 60 s for a window whose title matches; prints its id.
window() {
    i=0
    while [ $i -lt 600 ]; do
        found=$(search "$1" | head -n1)
        [ -n "$found" ] && { echo "$found"; return 0; }
        sleep 0.1; i=$((i + 1))
    done
    return 1
}
# Waits up to 60 s until no window whose title matches is on show.
gone() {
    i=0
    while search "$1" >/dev/null; do
        [ $i -ge 600 ] && return 1
        sleep 0.1; i=$((i + 1))
    done
}
# Activates a window and types keys into it; never hangs on a window that
# went meanwhile.
keys() {
    w=$1
    shift
    timeout 30 xdotool windowactivate --sync "$w" key --clearmodifiers "$@" 2>/dev/null
}
# The titles of the windows on show, for a failure's report.
titles() {
    for w in $(search .); do
        printf "'%s' " "$(xdotool getwindowname "$w" 2>/dev/null)"
    done
}
fail() {
    echo "run $run ($(date +%T)): $*; on show: $(titles)"
    failures=$((failures + 1))
}

failures=0
run=1
while [ $run -le "$runs" ]; do
    "$bin/Parlo" +4917012345 >"$work/parlo.log" 2>&1 &
    parlo=$!
    main=$(window '^vok SMS')
    compose=$(window '^SMS$')
    if [ -z "$main" ] || [ -z "$compose" ]; then
        fail "main window '${main}' compose '${compose}' did not show"
        kill "$parlo" 2>/dev/null; wait "$parlo" 2>/dev/null
        run=$((run + 1))
        continue
    fi
    keys "$compose" Escape
    gone '^SMS$' || fail "Escape did not close the new message"
    # The contacts action: the hand-off file and a second start, which hands
    # it to the running window.
    "$bin/tessel" "$work/contacts/ada.vcf" >/dev/null 2>&1
    compose=$(window '^SMS$')
    if [ -z "$compose" ]; then
        if [ -e "$SKYVANE_HOME/newsms.tmp" ]; then state="still waiting"; else state="lost"; fi
        fail "the hand-off opened no new message (the file is $state)"
    else
        keys "$compose" Escape
        gone '^SMS$' || fail "Escape did not close the hand-off's new message"
        [ -e "$SKYVANE_HOME/newsms.tmp" ] && fail "the hand-off file stayed after its message"
    fi
    # Only this start's window may be on show: a second start that did not
    # hand over would show a window of its own.
    count=$(search '^vok SMS' | wc -l)
    [ "$count" -eq 1 ] || fail "$count main windows"
    main=$(window '^vok SMS')
    [ -n "$main" ] && keys "$main" ctrl+q
    i=0
    while kill -0 "$parlo" 2>/dev/null && [ $i -lt 600 ]; do sleep 0.1; i=$((i + 1)); done
    if kill -0 "$parlo" 2>/dev/null; then
        fail "Ctrl+Q did not end Parlo"
        kill "$parlo"
    fi
    wait "$parlo" 2>/dev/null
    # A window that a failed hand-over started (in this installation) ends
    # with the run.
    for p in $(pgrep -x Parlo); do
        tr '\0' '\n' 2>/dev/null <"/proc/$p/environ" | grep -qx "SKYVANE_HOME=$SKYVANE_HOME" &&
            kill "$p" 2>/dev/null
    done
    run=$((run + 1))
done
echo "$runs runs, $failures failures"
[ $failures -eq 0 ]

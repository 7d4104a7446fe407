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

# A display nobody uses: Xvfb picks it and tells it on a descriptor.
exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1280x900x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids="$pids $!"
exec 3>&-
i=0
while [ ! -s "$work/display" ] && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
[ -s "$work/display" ] || { echo "Xvfb did not start"; exit 1; }
DISPLAY=:$(head -n1 "$work/display")
export DISPLAY
openbox >"$work/openbox.log" 2>&1 &
pids="$pids $!"

export SKYVANE_HOME="$work/home" SKYVANE_ROOT="$work/home" SKYVANE_BIN_DIR="$bin"
export SKYVANE_CONTACTS="$work/contacts" QT_QPA_PLATFORM=xcb
mkdir -p "$SKYVANE_HOME" "$SKYVANE_CONTACTS"
"$bin/phonesim" --state "$work/phone.json" --register Phonesim --alias COM3: \
    --home "$SKYVANE_HOME" >"$work/phonesim.out" 2>&1 &
pids="$pids $!"
i=0
while [ "$(wc -l <"$work/phonesim.out")" -lt 2 ] && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
printf 'BEGIN:VCARD\nVERSION:3.0\nUID:ada\nN:Lovelace;Ada;;;\nFN:Ada Lovelace\nTEL;TYPE=CELL:+49 170 555\nEND:VCARD\n' \
    >"$work/contacts/ada.vcf"

# Waits up to 60 s for a window whose title matches; prints its id.
window() {
    timeout 60 xdotool search --sync --onlyvisible --name "$1" 2>/dev/null | head -n1
}

failures=0
run=1
while [ $run -le "$runs" ]; do
    "$bin/Parlo" +4917012345 >"$work/parlo.log" 2>&1 &
    parlo=$!
    main=$(window '^vok SMS')
    compose=$(window '^SMS$')
    if [ -z "$main" ] || [ -z "$compose" ]; then
        echo "run $run: main window '${main}' compose '${compose}' did not show"
        failures=$((failures + 1))
        kill "$parlo" 2>/dev/null; wait "$parlo" 2>/dev/null
        run=$((run + 1))
        continue
    fi
    xdotool windowactivate --sync "$compose" key --clearmodifiers Escape 2>/dev/null
    i=0
    while xdotool search --onlyvisible --name '^SMS$' >/dev/null 2>&1 && [ $i -lt 100 ]; do
        sleep 0.1; i=$((i + 1))
    done
    # The contacts action: the hand-off file and a second start.
    "$bin/tessel" "$work/contacts/ada.vcf" >/dev/null 2>&1
    compose=$(window '^SMS$')
    if [ -z "$compose" ]; then
        if [ -e "$SKYVANE_HOME/newsms.tmp" ]; then state="still waiting"; else state="lost"; fi
        echo "run $run: the hand-off opened no new message (the file is $state)"
        failures=$((failures + 1))
    else
        xdotool windowactivate --sync "$compose" key --clearmodifiers Escape 2>/dev/null
    fi
    sleep 0.5
    main=$(window '^vok SMS')
    [ -n "$main" ] && xdotool windowactivate --sync "$main" key --clearmodifiers ctrl+q 2>/dev/null
    i=0
    while kill -0 "$parlo" 2>/dev/null && [ $i -lt 300 ]; do sleep 0.1; i=$((i + 1)); done
    if kill -0 "$parlo" 2>/dev/null; then
        echo "run $run: Ctrl+Q did not end Parlo"
        failures=$((failures + 1))
        kill "$parlo"
    fi
    wait "$parlo" 2>/dev/null
    run=$((run + 1))
done
echo "$runs runs, $failures failures"
[ $failures -eq 0 ]

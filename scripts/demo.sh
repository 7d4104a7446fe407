#!/usr/bin/env bash
# Installs, builds and runs the main job against the simulated phone:
#   - a scratch installation directory (build/demo, or $SKYVANE_DEMO_DIR),
#   - the simulated phone, preloaded with received and sent messages in its
#     memory and on its SIM (tools/phonesim/demo/phone.json), registered there
#     as the modem "Simulated phone" on COM3:,
#   - one message queued in the Outbox (to the phone's own number, so it comes
#     back as a received message);
#   - with a display: the SMS client's window (synchronise with its toolbar);
#     without one, or with --cli: a synchronisation and the folders printed.
# Running it again keeps the installation and the phone's state: nothing is
# queued or read twice.
set -euo pipefail
cd "$(dirname "$0")/.."
mode=auto
for arg in "$@"; do
  case $arg in
    --cli) mode=cli ;;
    *) echo "usage: scripts/demo.sh [--cli]" >&2; exit 2 ;;
  esac
done
scripts/setup.sh build

bin=$PWD/build/bin
demo=${SKYVANE_DEMO_DIR:-$PWD/build/demo}
mkdir -p "$demo"
export SKYVANE_HOME=$demo SKYVANE_ROOT=$demo SKYVANE_BIN_DIR=$bin
cli() { "$bin/parlo-cli" --yes "$@"; }

first_run=0
if [ ! -f "$demo/phone.json" ]; then
  cp tools/phonesim/demo/phone.json "$demo/phone.json"
  first_run=1
fi

echo "== Starting the simulated phone"
"$bin/phonesim" --state "$demo/phone.json" --register "Simulated phone" --alias COM3: \
  --send-ms 200 >"$demo/phonesim.out" 2>"$demo/phonesim.err" &
phone=$!
trap 'kill $phone 2>/dev/null || true; wait $phone 2>/dev/null || true' EXIT
for _ in $(seq 100); do
  [ "$(wc -l <"$demo/phonesim.out")" -ge 2 ] && break
  kill -0 $phone 2>/dev/null || { cat "$demo/phonesim.err" >&2; exit 1; }
  sleep 0.1
done
echo "   device $(sed -n 1p "$demo/phonesim.out"), registered as $(sed -n 2p "$demo/phonesim.out")"

if [ $first_run -eq 1 ]; then
  echo "== Queueing a message"
  cli send +491709876543 "Hello from Skyvane: this message went out through the Outbox and came back."
fi

if [ $mode = auto ] && [ -x "$bin/Parlo" ] && { [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; }; then
  echo "== Opening the SMS client (close its window to end the demo)"
  "$bin/Parlo"
  exit 0
fi

echo "== Synchronising"
cli sync

for folder in Inbox Outbox "Sent Messages"; do
  echo "== $folder"
  cli list "$folder"
done

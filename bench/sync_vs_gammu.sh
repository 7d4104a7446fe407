#!/bin/bash
# Times `parlo-cli sync` against `gammu getallsms` on the same simulated phone,
# in turn (A B A B ...), and counts the command lines each one sends.
#
#   bench/sync_vs_gammu.sh [BUILD_DIR] [PHONE] [RUNS] [PHONESIM_ARGS...]
#
# PHONE is one of bench_sync's phones: realistic (the default: 255 phone
# memory slots holding 20 messages, 50 SIM slots holding 5, 20 ms an answer),
# full, full-no-listing. The phone answers at 115200 baud. Extra arguments go
# to phonesim, e.g. `--delay-ms 50` or `--cmgl error`.
#
# parlo-cli uses a scratch installation in which phonesim registers itself
# (the only modem, no other setting); its first run stores the messages, the
# timed runs find them stored, as gammu's runs read them every time. gammu
# (from the distribution) gets a configuration naming the same device.
set -euo pipefail

build=${1:-build}
phone=${2:-realistic}
runs=${3:-5}
shift $(($# < 3 ? $# : 3))

command -v gammu >/dev/null || { echo "gammu is not installed (apt-get install gammu)" >&2; exit 2; }
bin=$(cd "$build/bin" && pwd)
dir=$(mktemp -d)
phonesim_pid=
cleanup() {
    [ -n "$phonesim_pid" ] && kill "$phonesim_pid" 2>/dev/null && wait "$phonesim_pid" 2>/dev/null
    rm -rf "$dir"
}
trap cleanup EXIT

"$bin/bench_sync" --write-state "$phone" "$dir/phone.json"
mkdir "$dir/home"
"$bin/phonesim" --state "$dir/phone.json" --baud 115200 --control "$dir/control" \
    --register "Bench phone" --home "$dir/home" "$@" >"$dir/phonesim.out" &
phonesim_pid=$!
for _ in $(seq 50); do
    [ -S "$dir/control" ] && [ -s "$dir/phonesim.out" ] && break
    sleep 0.1
done
device=$(head -n 1 "$dir/phonesim.out")
printf '[gammu]\ndevice = %s\nconnection = at115200\n' "$device" >"$dir/gammurc"

commands() {
    python3 - "$dir/control" <<'EOF'
import socket, sys
s = socket.socket(socket.AF_UNIX)
s.connect(sys.argv[1])
s.sendall(b"commands\n")
print(s.recv(64).decode().split()[1])
EOF
}

parlo=("$bin/parlo-cli" --data-dir "$dir/home" sync)
gammu_cmd=(gammu -c "$dir/gammurc" getallsms)
"${parlo[@]}" >"$dir/first.txt" || { cat "$dir/first.txt" >&2; exit 1; }

# One run of a command: its wall time in ms and the command lines it sent.
measure() {
    local before after start end
    before=$(commands)
    start=$(date +%s%N)
    "$@" >"$dir/last.txt" 2>&1 || { echo "failed: $*" >&2; cat "$dir/last.txt" >&2; exit 1; }
    end=$(date +%s%N)
    after=$(commands)
    echo "$(((end - start) / 1000000)) $((after - before))"
}

median() { sort -n | awk '{a[NR] = $1} END {print a[int((NR + 1) / 2)]}'; }

: >"$dir/a" && : >"$dir/b" && : >"$dir/ratio"
for _ in $(seq "$runs"); do
    read -r ta ca < <(measure "${parlo[@]}")
    read -r tb cb < <(measure "${gammu_cmd[@]}")
    echo "$ta" >>"$dir/a" && echo "$tb" >>"$dir/b"
    awk -v a="$ta" -v b="$tb" 'BEGIN {printf "%.3f\n", a / b}' >>"$dir/ratio"
done
echo "phone: $phone, $runs runs each, phonesim $*"
echo "parlo-cli sync:      median $(median <"$dir/a") ms, $ca commands"
echo "gammu getallsms:     median $(median <"$dir/b") ms, $cb commands"
echo "parlo-cli / gammu:   median $(median <"$dir/ratio") (pair by pair)"

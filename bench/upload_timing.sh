#!/usr/bin/env bash
# Uploads a 256 KiB image to a simulated NC-4100 on a 38400 baud link, with the
# image at 38400 and at 115200 baud, and reports the wire efficiency of each
# transfer (see upload_timing.py). Needs a build in build/. RUNS=n repeats.
set -euo pipefail
cd "$(dirname "$0")/.."

. bench/simulator.sh
runs=${RUNS:-1}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

build/nc-mkimage --model NC-4100 --code-size $((256 * 1024 - 28)) -o "$work/fw.nci"

for rate in 38400 115200; do
  for run in $(seq "$runs"); do
    start_simulator -v --model NC-4100 --baud 38400 --record "$work/record"
    build/nc-service -q -p "$port" -b 38400 upload -b "$rate" "$work/fw.nci" \
      >"$work/out" 2>&1 || true
    grep -q "image loaded" "$work/record" || { cat "$work/out" "$work/sim.err"; exit 1; }
    python3 bench/upload_timing.py "$work/record" 38400 "$rate"
    kill "$sim_pid"; wait "$sim_pid" 2>/dev/null || true
    rm -f "$work/port" "$work/record"
  done
done

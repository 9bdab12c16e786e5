#!/usr/bin/env bash
# CPU seconds per wall second that nav, mon and stat take while an NC-4100 at
# 38400 baud sends its default table, measured over 20 s after they settled.
# The tool should sleep in the kernel between arrivals. Needs a build in build/.
set -euo pipefail
cd "$(dirname "$0")/.."

. bench/simulator.sh
work=$(mktemp -d)
start_simulator --model NC-4100 --baud 38400
ticks_per_second=$(getconf CLK_TCK)
window=${NC_BENCH_SECONDS:-20}

ticks_of() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }

for command in nav mon stat; do
  (sleep $((window + 6)); printf '\033') |
    build/nc-service -a -p "$port" -b 38400 "$command" >/dev/null 2>&1 &
  pipeline=$!
  sleep 5
  tool=$(pgrep -n -f "nc-service -a -p $port -b 38400 $command")
  before=$(ticks_of "$tool")
  sleep "$window"
  after=$(ticks_of "$tool")
  wait "$pipeline"
  awk -v t=$((after - before)) -v hz="$ticks_per_second" -v w="$window" -v c="$command" \
    'BEGIN { printf "%-4s %.4f CPU s per wall s (%d ticks of 1/%d s in %d s)\n", c, t / hz / w, t, hz, w }'
done

#!/usr/bin/env bash
# Measures the time from start to the prompt against one simulated device at
# 38400 baud, with and without -b 38400, and the CPU time the tool uses while
# the prompt waits for 10 s. Needs a build in build/.
set -euo pipefail
cd "$(dirname "$0")/.."

. bench/simulator.sh
work=$(mktemp -d)
start_simulator --model NC-4100 --baud 38400

ticks_of() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }

measure() {
  local label=$1; shift
  mkfifo "$work/in"
  local start end
  start=$(date +%s.%N)
  build/nc-service -p "$port" "$@" <"$work/in" >"$work/out" 2>&1 &
  local tool=$!
  exec 3>"$work/in"
  until grep -q 'nc> ' "$work/out" 2>/dev/null; do sleep 0.01; done
  end=$(date +%s.%N)
  local before after
  before=$(ticks_of "$tool")
  sleep 10
  after=$(ticks_of "$tool")
  echo quit >&3
  exec 3>&-
  wait "$tool"
  rm -f "$work/in"
  printf '%-14s start to prompt %.2f s, CPU while waiting 10 s: %d ticks of 1/%s s\n' \
    "$label" "$(echo "$end - $start" | bc)" "$((after - before))" "$(getconf CLK_TCK)"
}

measure "without -b"
measure "with -b 38400" -b 38400

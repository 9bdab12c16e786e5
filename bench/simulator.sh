# Sourced by the benchmarks: starts nc-sim from build/ with the given options
# in the background and sets sim_pid and port (its pty). The caller's
# $work is the scratch folder; the simulator is stopped on exit.
start_simulator() {
  build/nc-sim "$@" </dev/null >"$work/port" 2>"$work/sim.err" &
  sim_pid=$!
  trap 'kill "$sim_pid" 2>/dev/null; rm -rf "$work"' EXIT
  until [ -s "$work/port" ]; do sleep 0.05; done
  port=$(head -n 1 "$work/port")
}

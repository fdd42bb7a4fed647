#!/bin/sh
# Idle cost of the desktop program with IN1 and OUT1 open on JACK, beside
# jack-keyboard on the same private JACK server and X server: the program's
# IN1 reads jack-keyboard's output and its OUT1 writes to jack-keyboard's
# input, and both are measured over the same idle seconds (bench/idle_cost.sh).
# Then the same with FLOOR, a client that does nothing but keep its two ports
# (bench/jack_floor.cpp), in the program's place: the two clients play into
# each other, and the server runs first the one whose connection came first,
# which costs more per cycle, whatever the client does.
#   sh bench/idle_beside_jack.sh PROGRAM [SECONDS [FLOOR]]
# FLOOR defaults to the notalumen_jack_floor built beside PROGRAM.
# Prints Markdown; says so and exits 0 when jack-keyboard is not installed.
set -eu

program=${1:?usage: sh bench/idle_beside_jack.sh PROGRAM [SECONDS]}
seconds=${2:-30}
floor=${3:-$(dirname "$program")/bench/notalumen_jack_floor}
here=$(dirname "$0")

if ! command -v jack-keyboard >/dev/null 2>&1; then
  echo "Beside jack-keyboard: skipped, jack-keyboard is not installed."
  exit 0
fi
command -v jackd >/dev/null 2>&1 || { echo "idle_beside_jack.sh: jackd is not installed" >&2; exit 2; }
[ -x "$floor" ] || { echo "idle_beside_jack.sh: no client at $floor" >&2; exit 2; }

# The tests' server: synchronous, not real-time, dummy driver, 256 frames.
server=notalumen-idle-$$
log=$(mktemp /tmp/notalumen-idle-jackd-XXXXXX)
jackd -n "$server" -S -r -d dummy -r 48000 -p 256 >"$log" 2>&1 &
jackd=$!
# The server ends after the clients (idle_cost.sh ends them first); what a
# client killed on its way out leaves in /dev/shm goes with it, or later
# servers find the machine's table of servers full.
xvfb=
keyboard=
stand_in=
stop() {
  for p in $stand_in $keyboard; do kill "$p" 2>/dev/null || true; done
  for p in $stand_in $keyboard; do wait "$p" 2>/dev/null || true; done
  [ -n "$xvfb" ] && { kill "$xvfb" 2>/dev/null || true; wait "$xvfb" 2>/dev/null || true; }
  kill "$jackd" 2>/dev/null || true
  wait "$jackd" 2>/dev/null || true
  rm -f /dev/shm/jack_sem.*_"$server"_* "$log" "$log.display"
}
trap stop EXIT
trap 'exit 2' INT TERM
sleep 2
kill -0 "$jackd" 2>/dev/null || { echo "idle_beside_jack.sh: jackd did not start:" >&2; cat "$log" >&2; exit 2; }

echo "With IN1 and OUT1 open on JACK, beside jack-keyboard:"
echo
IDLE_JACK_SERVER=$server IDLE_BESIDE=jack-keyboard \
  IDLE_PORTS='-IN1:"jack-keyboard:midi_out" -OUT1:"jack-keyboard:midi_in"' \
  sh "$here/idle_cost.sh" "$program" "$seconds"

# The stand-in in the program's place, beside a jack-keyboard started afresh
# (in an X server of its own), as the program was: the stand-in connects its
# output first, then its input, as the program opens its ports.
# shellcheck source=bench/xvfb.sh
. "$here/xvfb.sh"
start_xvfb "$log.display" idle_beside_jack.sh
DISPLAY=$display JACK_DEFAULT_SERVER=$server jack-keyboard >/dev/null 2>&1 &
keyboard=$!
sleep 2
JACK_DEFAULT_SERVER=$server "$floor" jack-keyboard:midi_out jack-keyboard:midi_in &
stand_in=$!
sleep 5
for p in $keyboard $stand_in; do
  kill -0 "$p" 2>/dev/null || { echo "idle_beside_jack.sh: jack-keyboard or $floor ended" >&2; exit 2; }
done
# runtime PID: nanoseconds its threads have run (scheduler statistics).
runtime() { cat /proc/"$1"/task/*/schedstat | awk '{ s += $1 } END { printf "%.0f\n", s }'; }
f0=$(runtime "$stand_in"); k0=$(runtime "$keyboard"); t0=$(date +%s.%N)
sleep "$seconds"
f1=$(runtime "$stand_in"); k1=$(runtime "$keyboard"); t1=$(date +%s.%N)
pct() { awk -v d="$1" -v t0="$t0" -v t1="$t1" 'BEGIN { printf "%.3f", 100 * d / 1e9 / (t1 - t0) }'; }
echo
echo "In the program's place, over $seconds idle seconds beside a jack-keyboard started afresh:"
echo "\`$(basename "$floor")\`, a client that keeps an input and an output port and does nothing else."
echo
echo "| Figure | Stand-in | \`jack-keyboard\` | Stand-in / it |"
echo "|---|---|---|---|"
echo "| CPU time while idle, schedstat | $(pct $((f1 - f0))) % | $(pct $((k1 - k0))) % | $(awk -v a=$((f1 - f0)) -v b=$((k1 - k0)) 'BEGIN { printf (b > 0 ? "%.2f" : "-"), a / b }') |"

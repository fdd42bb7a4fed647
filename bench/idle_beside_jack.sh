#!/bin/sh
# Idle cost of the desktop program with IN1 and OUT1 open on JACK, beside
# jack-keyboard on the same private JACK server and X server: the program's
# IN1 reads jack-keyboard's output and its OUT1 writes to jack-keyboard's
# input, and both are measured over the same idle seconds (bench/idle_cost.sh).
#   sh bench/idle_beside_jack.sh PROGRAM [SECONDS]
# Prints Markdown; says so and exits 0 when jack-keyboard is not installed.
set -eu

program=${1:?usage: sh bench/idle_beside_jack.sh PROGRAM [SECONDS]}
seconds=${2:-30}
here=$(dirname "$0")

if ! command -v jack-keyboard >/dev/null 2>&1; then
  echo "Beside jack-keyboard: skipped, jack-keyboard is not installed."
  exit 0
fi
command -v jackd >/dev/null 2>&1 || { echo "idle_beside_jack.sh: jackd is not installed" >&2; exit 2; }

# The tests' server: synchronous, not real-time, dummy driver, 256 frames.
server=notalumen-idle-$$
log=$(mktemp /tmp/notalumen-idle-jackd-XXXXXX)
jackd -n "$server" -S -r -d dummy -r 48000 -p 256 >"$log" 2>&1 &
jackd=$!
# The server ends after the clients (idle_cost.sh ends them first); what a
# client killed on its way out leaves in /dev/shm goes with it, or later
# servers find the machine's table of servers full.
stop() {
  kill "$jackd" 2>/dev/null || true
  wait "$jackd" 2>/dev/null || true
  rm -f /dev/shm/jack_sem.*_"$server"_* "$log"
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

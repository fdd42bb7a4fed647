#!/bin/sh
# Idle cost of the Linux desktop program: starts it with its keyboard window in
# a private Xvfb and, in the same run, a `sleep` as the baseline; once start-up
# has settled, measures the CPU time each uses over SECONDS idle seconds and the
# program's resident memory, and prints the figures as Markdown.
#   sh bench/idle_cost.sh PROGRAM [SECONDS]
# PROGRAM is the built desktop program (build/bench/notalumen); it runs from a
# scratch copy beside a sonrack.ini of its own. IDLE_SETTLE (seconds, default 5)
# is the wait after the window shows; IDLE_JACK_SERVER names a running JACK
# server for the program to use (default: none answers); IDLE_PORTS adds
# settings lines for its ports (such as `-IN1:"keys:out" -OUT1:"synth:in"` on
# that server); IDLE_BESIDE is a command (such as `jack-keyboard`) started first
# in the same X server and on the same JACK server, whose cost is measured over
# the same seconds as the program's. Exits nonzero only when it cannot run.
set -eu

program=${1:?usage: sh bench/idle_cost.sh PROGRAM [SECONDS]}
seconds=${2:-30}
settle=${IDLE_SETTLE:-5}
shown_program=$program  # as the rerun command names it

for tool in Xvfb xwininfo; do
  command -v "$tool" >/dev/null 2>&1 || { echo "idle_cost.sh: $tool is not installed" >&2; exit 2; }
done
[ -x "$program" ] || { echo "idle_cost.sh: no program at $program" >&2; exit 2; }

scratch=$(mktemp -d /tmp/notalumen-idle-XXXXXX)
xvfb=
prog=
base=
peer=
cleanup() {
  # The programs first, while their X server is still there: a quit signal
  # lets them leave their JACK server cleanly.
  for p in $prog $peer; do kill "$p" 2>/dev/null || true; done
  for p in $prog $peer; do wait "$p" 2>/dev/null || true; done
  for p in $base $xvfb; do kill "$p" 2>/dev/null || true; done
  for p in $base $xvfb; do wait "$p" 2>/dev/null || true; done
  rm -rf "$scratch"
}
trap cleanup EXIT
trap 'exit 2' INT TERM

# shellcheck source=bench/xvfb.sh
. "$(dirname "$0")/xvfb.sh"
start_xvfb "$scratch/display" idle_cost.sh

# The settings: the full 88-key range, channel 1's strip shown from the start,
# no MIDI ports. No JACK server answers the name below, so the program stays
# without a MIDI system unless the machine has the ALSA sequencer.
cp "$program" "$scratch/notalumen"
printf -- '-nMin=21 -nMax=108\r\n-Ch1\r\n' >"$scratch/sonrack.ini"
ports=${IDLE_PORTS:-}
[ -n "$ports" ] && printf -- '%s\r\n' "$ports" >>"$scratch/sonrack.ini"
opened="no port opened"
[ -n "$ports" ] && opened="the ports above opened"
settings=$(tr -d '\r' <"$scratch/sonrack.ini" | tr '\n' ' ' | sed 's/ *$//')
jack_server=${IDLE_JACK_SERVER:-notalumen-idle-none-$$}
midi_system="none (no JACK server answers; /dev/snd/seq absent)"
[ -e /dev/snd/seq ] && midi_system="the ALSA sequencer (/dev/snd/seq present; $opened)"
[ -n "${IDLE_JACK_SERVER:-}" ] && midi_system="JACK server \"$IDLE_JACK_SERVER\" running ($opened)"

beside=${IDLE_BESIDE:-}
if [ -n "$beside" ]; then
  # shellcheck disable=SC2086  # the command's words
  (cd "$scratch" && exec env DISPLAY="$display" JACK_DEFAULT_SERVER="$jack_server" $beside \
    >"$scratch/beside.log" 2>&1) &
  peer=$!
  sleep 2  # its ports are there before the program looks for its devices
  kill -0 "$peer" 2>/dev/null || { echo "idle_cost.sh: $beside ended" >&2; cat "$scratch/beside.log" >&2; exit 2; }
fi

(cd "$scratch" && exec env DISPLAY="$display" JACK_DEFAULT_SERVER="$jack_server" ./notalumen \
  >"$scratch/output.log" 2>&1) &
prog=$!
sleep 100000 &
base=$!

tries=0
until xwininfo -display "$display" -root -tree 2>/dev/null | grep -q '"Notalumen '; do
  tries=$((tries + 1))
  if [ $tries -gt 150 ] || ! kill -0 "$prog" 2>/dev/null; then
    echo "idle_cost.sh: the program's window did not show" >&2
    cat "$scratch/output.log" >&2
    exit 2
  fi
  sleep 0.1
done
sleep "$settle"
kill -0 "$prog" 2>/dev/null || { echo "idle_cost.sh: the program ended" >&2; exit 2; }

# ticks PID: utime + stime of all its threads, in clock ticks (the fields after
# the command name, which is in parentheses).
ticks() { sed 's/^.*) //' "/proc/$1/stat" | awk '{ print $12 + $13 }'; }
# runtime PID: nanoseconds its threads have run (scheduler statistics).
runtime() { cat /proc/"$1"/task/*/schedstat | awk '{ s += $1 } END { printf "%.0f\n", s }'; }
# switches PID: context switches of its threads (each a wake-up or a preemption).
switches() {
  cat /proc/"$1"/task/*/status | awk '/^(voluntary|nonvoluntary)_ctxt_switches:/ { s += $2 } END { print s }'
}
status_kib() { awk -v key="$2:" '$1 == key { print $2 }' "/proc/$1/status"; }
threads() { ls "/proc/$1/task" | wc -l; }

rss_start=$(status_kib "$prog" VmRSS)
hwm_start=$(status_kib "$prog" VmHWM)
base_rss=$(status_kib "$base" VmRSS)
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
p_ticks0=$(ticks "$prog"); p_ns0=$(runtime "$prog"); p_sw0=$(switches "$prog")
[ -n "$peer" ] && { q_ticks0=$(ticks "$peer"); q_ns0=$(runtime "$peer"); q_sw0=$(switches "$peer"); }
b_ticks0=$(ticks "$base"); b_ns0=$(runtime "$base"); b_sw0=$(switches "$base")
t0=$(date +%s.%N)
sleep "$seconds"
p_ticks1=$(ticks "$prog"); p_ns1=$(runtime "$prog"); p_sw1=$(switches "$prog")
[ -n "$peer" ] && { q_ticks1=$(ticks "$peer"); q_ns1=$(runtime "$peer"); q_sw1=$(switches "$peer"); }
b_ticks1=$(ticks "$base"); b_ns1=$(runtime "$base"); b_sw1=$(switches "$base")
t1=$(date +%s.%N)
load_after=$(cut -d' ' -f1-3 /proc/loadavg)
rss_end=$(status_kib "$prog" VmRSS)
hwm_end=$(status_kib "$prog" VmHWM)
nthreads=$(threads "$prog")
kill -0 "$prog" 2>/dev/null || { echo "idle_cost.sh: the program ended during the measurement" >&2; exit 2; }
hz=$(getconf CLK_TCK)
cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)

# pct_ticks DELTA, pct_ns DELTA: percent of one core over the measured time.
pct_ticks() { awk -v d="$1" -v hz="$hz" -v t0="$t0" -v t1="$t1" 'BEGIN { printf "%.3f", 100 * d / hz / (t1 - t0) }'; }
pct_ns() { awk -v d="$1" -v t0="$t0" -v t1="$t1" 'BEGIN { printf "%.3f", 100 * d / 1e9 / (t1 - t0) }'; }
rate() { awk -v d="$1" -v t0="$t0" -v t1="$t1" 'BEGIN { printf "%.1f", d / (t1 - t0) }'; }
# With a command beside the program, the target is that command's cost over
# the same seconds; alone, 0.2 % of one core.
verdict() {
  if [ -n "$peer" ]; then
    awk -v p="$1" -v q="$2" -v c="$beside" 'BEGIN { printf "at most %s'"'"'s %.3f %% (%s)\n", c, q, (p <= q ? "met" : "missed") }'
  else
    awk -v p="$1" 'BEGIN { print (p < 0.2 ? "under 0.2 % (met)" : "under 0.2 % (missed)") }'
  fi
}
mib() { awk -v k="$1" 'BEGIN { printf "%.1f MiB", k / 1024 }'; }

p_ticks=$((p_ticks1 - p_ticks0)); b_ticks=$((b_ticks1 - b_ticks0))
p_ns=$((p_ns1 - p_ns0)); b_ns=$((b_ns1 - b_ns0))
p_pct_ticks=$(pct_ticks "$p_ticks"); b_pct_ticks=$(pct_ticks "$b_ticks")
p_pct_ns=$(pct_ns "$p_ns"); b_pct_ns=$(pct_ns "$b_ns")
q_pct_ticks=; q_pct_ns=
[ -n "$peer" ] && { q_pct_ticks=$(pct_ticks $((q_ticks1 - q_ticks0))); q_pct_ns=$(pct_ns $((q_ns1 - q_ns0))); }
command="\`${IDLE_JACK_SERVER:+IDLE_JACK_SERVER=$IDLE_JACK_SERVER }${ports:+IDLE_PORTS='$ports' }${beside:+IDLE_BESIDE='$beside' }IDLE_SETTLE=$settle sh bench/idle_cost.sh $shown_program $seconds\`"
tick_ms=$((1000 / hz))

echo "Run of $(date -u '+%Y-%m-%d %H:%M UTC') on $(nproc) cores ($cpu), $(uname -sr);"
echo "load average $load_before before the measurement, $load_after after it."
echo "The program ran from a scratch copy in a private Xvfb (1280x1024x24, no window"
echo "manager) with the settings \`$settings\` (its keyboard window);"
echo "MIDI system: $midi_system. It had $nthreads thread(s). The CPU time"
echo "was taken over $seconds idle seconds, starting $settle s after its window showed."
echo
echo "| Figure | Program | Target | Baseline in the same run (\`sleep\`) | Command |"
echo "|---|---|---|---|---|"
echo "| CPU time while idle, utime + stime from /proc/PID/stat ($tick_ms ms ticks) | $p_pct_ticks % of one core ($p_ticks ticks) | $(verdict "$p_pct_ticks" "$q_pct_ticks") | $b_pct_ticks % ($b_ticks ticks) | $command |"
echo "| CPU time while idle, run time of all threads from /proc/PID/task/*/schedstat (exact) | $p_pct_ns % of one core | $(verdict "$p_pct_ns" "$q_pct_ns") | $b_pct_ns % | $command |"
echo "| Context switches while idle (wake-ups), all threads | $(rate $((p_sw1 - p_sw0)))/s | - | $(rate $((b_sw1 - b_sw0)))/s | $command |"
echo "| Resident memory once started (VmRSS) | $(mib "$rss_start") ($(mib "$rss_end") at the end) | - | $(mib "$base_rss") | $command |"
echo "| Peak resident memory (VmHWM) | $(mib "$hwm_start") ($(mib "$hwm_end") at the end) | - | - | $command |"
if [ -n "$peer" ]; then
  kill -0 "$peer" 2>/dev/null || { echo "idle_cost.sh: $beside ended during the measurement" >&2; exit 2; }
  q_ns=$((q_ns1 - q_ns0))
  echo
  echo "Beside it over the same seconds, in the same X server and on the same JACK server: \`$beside\`."
  echo
  echo "| Figure | Program | \`$beside\` | Program / it |"
  echo "|---|---|---|---|"
  echo "| CPU time while idle, schedstat | $p_pct_ns % | $q_pct_ns % | $(awk -v a="$p_ns" -v b="$q_ns" 'BEGIN { printf (b > 0 ? "%.2f" : "-"), a / b }') |"
  echo "| CPU time while idle, /proc stat ticks | $p_pct_ticks % | $q_pct_ticks % | - |"
  echo "| Context switches while idle (wake-ups) | $(rate $((p_sw1 - p_sw0)))/s | $(rate $((q_sw1 - q_sw0)))/s | - |"
fi

#!/bin/sh
# Runs every fuzz target for a bounded time over its kept seeds (fuzz/corpus)
# and its made seeds, growing a working corpus under the build directory.
# Fails when any target finds a crash, a leak, a hang of more than 10 s, an
# out-of-memory or a sanitizer report; what it found stays under OUT/artifacts.
#
#   sh fuzz/run.sh BUILD_DIR SECONDS_PER_TARGET [TARGET ...]
set -u
build=$(cd "$1" && pwd)
seconds=$2
shift 2
targets=${*:-settings programs scan cmdline sjis paths midi_in}
kept=$(cd "$(dirname "$0")" && pwd)/corpus
out=$build/out
mkdir -p "$out/artifacts"
rm -rf "$out/seeds"
if ! "$build/fuzz/fuzz_seeds" "$out/seeds" 2>"$out/seeds.log"; then
  cat "$out/seeds.log"
  exit 1
fi

# Scratch files of the targets (a crashed run leaves its own behind): on a
# memory file system when there is one, removed at the end.
tmpbase=/dev/shm
[ -w "$tmpbase" ] || tmpbase=${TMPDIR:-/tmp}
NOTALUMEN_FUZZ_TMP=$(mktemp -d "$tmpbase/notalumen-fuzz-run-XXXXXX") || exit 1
export NOTALUMEN_FUZZ_TMP
trap 'rm -rf "$NOTALUMEN_FUZZ_TMP"' EXIT

status=0
for t in $targets; do
  mkdir -p "$out/corpus/$t" "$out/seeds/$t"
  log=$out/$t.log
  printf 'fuzz_%s: %s s ... ' "$t" "$seconds"
  # -close_fd_mask=2: the program's diagnostics are formatted but not shown;
  # the fuzzer's own report still goes to the log.
  if "$build/fuzz/fuzz_$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -close_fd_mask=2 \
      -print_final_stats=1 -artifact_prefix="$out/artifacts/$t-" \
      "$out/corpus/$t" "$kept/$t" "$out/seeds/$t" >"$log" 2>&1; then
    grep -E '^stat::number_of_executed_units' "$log" | sed 's/.*: *//; s/$/ runs, ok/'
  else
    echo "FAILED"
    tail -n 60 "$log"
    echo "(whole log: $log; reproducer under $out/artifacts)"
    status=1
  fi
done
exit $status

#!/bin/sh
# Runs the benchmark program and writes the figures (the median of the
# repetitions) as a Markdown table between the bench-table markers of a
# document, or to standard output when no document is named.
#   sh bench/perf_table.sh BENCH_BINARY [DOCUMENT] [REPETITIONS]
set -eu

bench=$1
doc=${2:-}
reps=${3:-5}
if [ "$reps" -lt 3 ]; then
  echo "perf_table.sh: take 3 repetitions or more (the machine is shared)" >&2
  exit 2
fi
shown=build/bench/bench/notalumen_bench  # the binary as the commands in the table name it

json=$(mktemp)
table=$(mktemp)
trap 'rm -f "$json" "$table" "$table.doc"' EXIT

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
"$bench" --benchmark_repetitions="$reps" --benchmark_report_aggregates_only=true \
  --benchmark_out="$json" --benchmark_out_format=json >&2
load_after=$(cut -d' ' -f1-3 /proc/loadavg)
cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)

# Rows: benchmark | what it measures | unit | target | baseline benchmark.
rows='BM_InputPath/window/outputs:1|Input path, note on/off on 16 channels, drawn in 16 columns (back buffer and window), 1 output|events|1,000,000 events/s or more|BM_SimDeliveryEmptyCallback
BM_InputPath/window/outputs:16|The same, 16 outputs|events|1,000,000 events/s or more|BM_SimDeliveryEmptyCallback
BM_InputPath/no_window/outputs:1|Input path without a window (drawKey fills nothing), 1 output|events|well above the drawn figure|BM_SimDeliveryEmptyCallback
BM_InputPath/no_window/outputs:16|The same, 16 outputs|events|well above the drawn figure|BM_SimDeliveryEmptyCallback
BM_InputPath/no_column/outputs:1|Input path, channels without a column (no key drawn), 1 output|events|well above the drawn figure|BM_SimDeliveryEmptyCallback
BM_InputPath/no_column/outputs:16|The same, 16 outputs|events|well above the drawn figure|BM_SimDeliveryEmptyCallback
BM_DrawKey|drawKey alone, one key in one of 16 columns|keys|-|BM_SurfaceFillKeyRects
BM_PlayNoteProgram/outputs:1|Program of 255 entries (85 note messages, each drawn) fired by a note, 1 output|programs|-|BM_SimSend
BM_PlayNoteProgram/outputs:16|The same, 16 outputs|programs|-|BM_SimSend
BM_PlayExclusiveProgram/outputs:1|Program of one 255-byte system-exclusive message, 1 output|programs|-|BM_SimSend
BM_PlayExclusiveProgram/outputs:16|The same, 16 outputs|programs|-|BM_SimSend
BM_Relayout16Columns|Full relayout with 16 columns (new back buffer, every key drawn, window fitted)|relayouts|-|BM_SurfaceFill
BM_ReadSettingsFile|Reading a 1 MiB settings file from tmpfs|bytes|-|BM_ReadBytesOnly
BM_ReadProgramFile|Reading a full program file (511 programs of 255 values, 1,024 assignments) from tmpfs|bytes|-|BM_ReadBytesOnly
BM_SjisToWide|sjisToWide of a 9,000-byte Shift-JIS text|bytes|-|BM_WidenBytes
BM_WideToSjis|wideToSjis of the same text|bytes|-|BM_NarrowUnits'

baselines='BM_SimDeliveryNoInput|simMidiInShort to an input that is not open (the sim lookup alone)|events
BM_SimDeliveryEmptyCallback|simMidiInShort to an open input whose callback does nothing (the floor of the input path)|events
BM_SimSend|One short word to a sim output device, recording off|sends
BM_RawFill|Plain fill of a 407 x 830 pixel block (the size of the 16-column back buffer)|bytes
BM_SurfaceFill|The same block through the sim surface fill|bytes
BM_SurfaceFillKeyRects|Key-sized fills through the sim surface fill (8 x 30 interior, 1 x 31 outline)|fills
BM_ReadBytesOnly|The program file through rfopen/rfgetc alone|bytes
BM_WidenBytes|The text widened byte by byte without tables|bytes
BM_NarrowUnits|The text narrowed unit by unit without tables|bytes'

# Medians from the JSON output, one line each: run name, bytes per second,
# items per second, iterations per second of CPU time (0 when not reported).
medians=$(awk '
  /"run_name":/ { split($0, q, "\""); run = q[4] }
  /"aggregate_name":/ { split($0, q, "\""); agg = q[4] }
  /"items_per_second":/ { v = $2; sub(/,$/, "", v); items = v }
  /"bytes_per_second":/ { v = $2; sub(/,$/, "", v); bytes = v }
  /"cpu_time":/ { v = $2; sub(/,$/, "", v); cpu = v }
  /"time_unit":/ { split($0, q, "\""); unit = q[4] }
  /^ *}/ {
    if (agg == "median" && run != "") {
      scale = unit == "ns" ? 1e9 : unit == "us" ? 1e6 : unit == "ms" ? 1e3 : 1
      print run, (bytes != "" ? bytes : 0), (items != "" ? items : 0), (cpu > 0 ? scale / cpu : 0)
    }
    run = ""; agg = ""; items = ""; bytes = ""; cpu = ""; unit = ""
  }' "$json")

# verdict NAME TARGET: whether a median meets a target of events per second.
verdict() {
  case $2 in
    1,000,000*) echo "$medians" | awk -v name="$1" -v t="$2" \
                  '$1 == name { print t ($3 >= 1e6 ? " (met)" : " (missed)"); found = 1 } END { if (!found) print t }' ;;
    *) echo "$2" ;;
  esac
}

# figure NAME UNIT: the median in words.
figure() {
  echo "$medians" | awk -v name="$1" -v unit="$2" '
    $1 == name {
      v = unit == "bytes" ? $2 + 0 : $3 + 0 > 0 ? $3 + 0 : $4 + 0
      if (unit == "bytes" && v >= 1073741824) printf "%.1f GiB/s", v / 1073741824
      else if (unit == "bytes") printf "%.1f MiB/s", v / 1048576
      else if (v >= 1e6) printf "%.2f M %s/s", v / 1e6, unit
      else if (v >= 1e3) printf "%.1f k %s/s", v / 1e3, unit
      else printf "%.0f %s/s", v, unit
      found = 1
    }
    END { if (!found) printf "(not run)" }'
}

unit_of() {
  echo "$baselines" | awk -F'|' -v name="$1" '$1 == name { print $3 }'
}

command_for() {
  printf '`%s --benchmark_filter='"'"'^%s$'"'"' --benchmark_repetitions=%s`' "$shown" "$1" "$reps"
}

{
  echo "Run of $(date -u '+%Y-%m-%d %H:%M UTC') on $(nproc) cores ($cpu), $(uname -sr);"
  echo "load average $load_before before the run, $load_after after it. Each figure is"
  echo "the median of $reps repetitions, per CPU second of the benchmark thread."
  echo
  echo "| Figure | Median | Target | Baseline in the same run | Command |"
  echo "|---|---|---|---|---|"
  echo "$rows" | while IFS='|' read -r name what unit target base; do
    printf '| %s | %s | %s | %s: %s | %s |\n' "$what" "$(figure "$name" "$unit")" "$(verdict "$name" "$target")" \
      "$base" "$(figure "$base" "$(unit_of "$base")")" "$(command_for "$name")"
  done
  echo
  echo "| Baseline | Median | Command |"
  echo "|---|---|---|"
  echo "$baselines" | while IFS='|' read -r name what unit; do
    printf '| %s (%s) | %s | %s |\n' "$what" "$name" "$(figure "$name" "$unit")" "$(command_for "$name")"
  done
} >"$table"

if [ -z "$doc" ]; then
  cat "$table"
  exit 0
fi
# The table replaces what lies between the markers; the rest of the document stays.
awk -v table="$table" '
  /<!-- bench-table:end -->/ { skipping = 0 }
  !skipping { print }
  /<!-- bench-table:begin -->/ {
    while ((getline line < table) > 0) print line
    skipping = 1
  }' "$doc" >"$table.doc"
grep -q '<!-- bench-table:begin -->' "$doc" || { echo "perf_table.sh: no bench-table markers in $doc" >&2; exit 1; }
cat "$table.doc" >"$doc"
echo "perf_table.sh: figures written to $doc" >&2

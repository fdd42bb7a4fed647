#!/bin/sh
# Runs an example scenario through notalumen-sim in a scratch copy of its
# directory and compares what the outputs received with the expected lines.
set -eu
runner="$1"
example="$2"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cp -r "$example"/. "$dir"/
"$runner" "$dir/scenario.txt" "$dir/actual.txt"
diff -u "$example/expected.txt" "$dir/actual.txt"
for picture in $(sed -n 's/^snapshot //p' "$dir/scenario.txt"); do
  test -s "$dir/$picture" || { echo "no picture $picture"; exit 1; }
done

#!/bin/sh
# Replaces what lies between the markers <!-- NAME:begin --> and
# <!-- NAME:end --> of a document by standard input; the rest stays.
#   sh bench/doc_section.sh DOCUMENT NAME < TEXT
set -eu

doc=$1
name=$2
begin="<!-- $name:begin -->"
end="<!-- $name:end -->"
grep -qF "$begin" "$doc" && grep -qF "$end" "$doc" || {
  echo "doc_section.sh: no $name markers in $doc" >&2
  exit 1
}
text=$(mktemp)
out=$(mktemp)
trap 'rm -f "$text" "$out"' EXIT
cat >"$text"
[ -s "$text" ] || { echo "doc_section.sh: nothing to write for $name" >&2; exit 1; }
awk -v text="$text" -v begin="$begin" -v end="$end" '
  $0 == end { skipping = 0 }
  !skipping { print }
  $0 == begin {
    while ((getline line < text) > 0) print line
    skipping = 1
  }' "$doc" >"$out"
cat "$out" >"$doc"
echo "doc_section.sh: $name written to $doc" >&2

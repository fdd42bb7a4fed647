#!/bin/bash
# The Windows program under Wine: /? ends with 0 and writes nothing; /list
# writes the settings template of a machine without MIDI devices and ends with 0.
set -u
. "$(dirname "$0")/wine_common.sh"
exe="$1"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cp "$exe" "$dir/notalumen.exe"
fail=0

run_wine "$dir/notalumen.exe" '/?'
rc=$?
[ "$rc" -eq 0 ] || { echo "/? ended with $rc"; fail=1; }
[ ! -e "$dir/sonrack.ini" ] || { echo "/? wrote a settings file"; fail=1; }

printf 'stale\r\n' > "$dir/sonrack.ini"
run_wine "$dir/notalumen.exe" /LiST
rc=$?
[ "$rc" -eq 0 ] || { echo "/list ended with $rc"; fail=1; }
printf '%s\r\n' '// --- MIDI IN: 0 device(s).' '' '// --- MIDI OUT: 0 device(s).' '' \
  '-mX=1 -mY=1.0        // (multiplying sizes for X/Y) - display sizes ' \
  '-nMin=21 -nMax=108   // (noteMin-noteMax) - display note range 0-127 ' \
  '-soc                 // (stay on console) - for detailed info. display ' \
  '// -AllChMix   // fix 1st-row to display all MIDI channels 1-16 ' \
  '// -Ch1   // fix 1st-row display MIDI channel to Ch=1 ' \
  '// -Ch2   // fix 2nd-row display MIDI channel to Ch=2 ' \
  '// -Ch3   // fix 3rd-row display MIDI channel to Ch=3 ' > "$dir/expected.ini"
if ! cmp "$dir/expected.ini" "$dir/sonrack.ini"; then
  echo "template differs:"; od -c "$dir/sonrack.ini" | head -20; fail=1
fi
exit $fail

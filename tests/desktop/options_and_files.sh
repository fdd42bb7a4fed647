#!/bin/sh
# The Linux program as a user meets it from a shell: --help, -h, /? and
# --version answer on standard output before anything else happens, and the
# files come from beside the program, else from $XDG_CONFIG_HOME/notalumen/
# (or ~/.config/notalumen/), where /list writes the template. Run without a
# display: the boxes then go to standard error and are answered at once.
set -u
program=$1
version=$2
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
mkdir -p "$dir/bin" "$dir/cwd" "$dir/home"
cp "$program" "$dir/bin/notalumen"
cd "$dir/cwd" || exit 1
failed=0
fail() {
  echo "FAIL: $*"
  failed=1
}
# Started through PATH from another directory, with no display and no MIDI.
run() {
  env -u DISPLAY -u WAYLAND_DISPLAY PATH="$dir/bin:$PATH" HOME="$dir/home" XDG_RUNTIME_DIR="$dir" \
    NOTALUMEN_MIDI=alsa timeout 30 "$@" >"$dir/out" 2>"$dir/err"
  echo $? >"$dir/rc"
}
rc() { cat "$dir/rc"; }
has() { grep -qF -- "$2" "$dir/$1" || fail "$3: no \"$2\" in $(cat "$dir/$1")"; }

# Help: the options, the two files and the places they are looked for.
for asked in --help -h "/?"; do
  run env XDG_CONFIG_HOME="$dir/config" notalumen "$asked"
  [ "$(rc)" = 0 ] || fail "$asked ends with $(rc)"
  for text in "Usage: notalumen" "/list" "sonrack.ini" "progrm01.ini" "$dir/bin/" "$dir/config/notalumen/"; do
    has out "$text" "$asked"
  done
done
run notalumen -h
has out "$dir/home/.config/notalumen/" "-h without XDG_CONFIG_HOME"

# Version: first, whatever else the command line holds.
run env XDG_CONFIG_HOME="$dir/config" notalumen /list --version
[ "$(rc)" = 0 ] || fail "--version ends with $(rc)"
[ "$(head -n 1 "$dir/out")" = "notalumen $version" ] || fail "--version prints $(cat "$dir/out")"
[ -e "$dir/config" ] && fail "/list acted before --version"

# No settings anywhere: the box names both places and the way out.
run env XDG_CONFIG_HOME="$dir/config" notalumen
[ "$(rc)" = 1 ] || fail "missing settings end with $(rc)"
has err "$dir/bin/" "missing settings"
has err "$dir/config/notalumen/" "missing settings"
has err 'Run "notalumen /list"' "missing settings"

# /list writes the template into the per-user directory, making it.
run env XDG_CONFIG_HOME="$dir/config" notalumen /list
[ "$(rc)" = 0 ] || fail "/list ends with $(rc)"
has config/notalumen/sonrack.ini "MIDI IN:" "the template"
has err "wrote the settings template $dir/config/notalumen/sonrack.ini: 0 MIDI input(s), 0 MIDI output(s)" "/list"
has err "no MIDI system answers" "/list without MIDI"
[ -e "$dir/bin/sonrack.ini" ] && fail "/list wrote beside the program"
[ -e "$dir/cwd/sonrack.ini" ] && fail "/list wrote into the current directory"

# The per-user file is read (its port shows in the report of failed ports);
# a file beside the program wins.
printf -- '-OUT1:"from-config"\r\n' >"$dir/config/notalumen/sonrack.ini"
run env XDG_CONFIG_HOME="$dir/config" notalumen
[ "$(rc)" = 1 ] || fail "the report of failed ports ends with $(rc)"
has err "OUT1: from-config" "per-user settings"
printf -- '-OUT1:"from-beside"\r\n' >"$dir/bin/sonrack.ini"
run env XDG_CONFIG_HOME="$dir/config" notalumen
has err "OUT1: from-beside" "settings beside the program"

# Settings without ports and no display: a message and exit code 1.
printf -- '-nMin=36\r\n' >"$dir/bin/sonrack.ini"
run notalumen
[ "$(rc)" = 1 ] || fail "no display ends with $(rc)"
has err "no display" "no display"
[ $failed = 0 ] && echo OK
exit $failed

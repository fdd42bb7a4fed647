# Sourced by the idle scripts: start_xvfb FILE SCRIPT starts a private Xvfb
# (1280x1024x24, no TCP) in the background and sets xvfb (its process) and
# display (":N", which it reports on descriptor 3 into FILE); SCRIPT names the
# caller in its complaint when no display is reported within 15 s.
start_xvfb() {
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$1" >/dev/null 2>&1 &
  xvfb=$!
  tries=0
  while [ ! -s "$1" ]; do
    tries=$((tries + 1))
    [ $tries -le 150 ] || { echo "$2: Xvfb did not report its display" >&2; exit 2; }
    sleep 0.1
  done
  display=:$(head -n 1 "$1")
}

# Shared set-up of the Windows-program tests: a private Wine prefix inside the
# build tree, Wine's own chatter off, and a virtual X display for the window.
export WINEPREFIX="${NOTALUMEN_WINEPREFIX:?}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$WINEPREFIX"

# Runs the program under Wine inside Xvfb; its exit code is the program's.
run_wine() {
  xvfb-run -a -s "-screen 0 1280x1024x24" wine "$@"
}

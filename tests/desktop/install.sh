#!/bin/sh
# cmake --install into a scratch prefix: the program, its .desktop file (valid,
# its StartupWMClass the window's class), the icon in every size, the manual
# page with the version, README and LICENSE.
set -u
build=$1
version=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
prefix=$scratch/prefix
if ! command -v desktop-file-validate >/dev/null; then
  echo "desktop-file-validate is not installed (desktop-file-utils)"
  [ -n "${CI:-}" ] && exit 1
  exit 77
fi
cmake --install "$build" --prefix "$prefix" >"$scratch/log" 2>&1 || { cat "$scratch/log"; exit 1; }
failed=0
expected="bin/notalumen
share/applications/notalumen.desktop
share/doc/notalumen/LICENSE
share/doc/notalumen/README.md
share/icons/hicolor/128x128/apps/notalumen.png
share/icons/hicolor/16x16/apps/notalumen.png
share/icons/hicolor/24x24/apps/notalumen.png
share/icons/hicolor/256x256/apps/notalumen.png
share/icons/hicolor/32x32/apps/notalumen.png
share/icons/hicolor/48x48/apps/notalumen.png
share/icons/hicolor/64x64/apps/notalumen.png
share/icons/hicolor/scalable/apps/notalumen.svg
share/man/man1/notalumen.1"
echo "$expected" >"$scratch/expected"
(cd "$prefix" && find . -type f | sed 's|^\./||' | LC_ALL=C sort) >"$scratch/installed"
diff -u "$scratch/expected" "$scratch/installed" || { echo "FAIL: the installed files differ"; failed=1; }
for size in 16 24 32 48 64 128 256; do
  file "$prefix/share/icons/hicolor/${size}x$size/apps/notalumen.png" | grep -q "PNG image data, $size x $size" ||
    { echo "FAIL: the $size-pixel icon is not $size x $size"; failed=1; }
done
desktop="$prefix/share/applications/notalumen.desktop"
desktop-file-validate "$desktop" || { echo "FAIL: desktop-file-validate"; failed=1; }
grep -qx "StartupWMClass=notalumen" "$desktop" || { echo "FAIL: StartupWMClass is not the window's class"; failed=1; }
grep -qx "Icon=notalumen" "$desktop" || { echo "FAIL: the entry names another icon"; failed=1; }
grep -q "Notalumen $version" "$prefix/share/man/man1/notalumen.1" || { echo "FAIL: the manual page lacks the version"; failed=1; }
[ "$("$prefix/bin/notalumen" --version | head -n 1)" = "notalumen $version" ] ||
  { echo "FAIL: the installed program does not tell its version"; failed=1; }
[ $failed = 0 ] && echo OK
exit $failed

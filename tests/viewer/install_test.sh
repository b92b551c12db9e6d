#!/usr/bin/env bash
# Installs the build into a scratch prefix and checks that the result works where
# it landed: the layout, the program beside its manual behind a link on PATH, and
# the library found by pkg-config and by CMake's find_package from another project.
#   install_test.sh <build-dir> <host-source-dir> <libdir> [extra compiler flags]
set -euo pipefail
build=$1
host_src=$2
libdir=$3
cflags=${4:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix="$work/prefix"
fail() { echo "install test: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >"$work/install.log" || { cat "$work/install.log" >&2; fail "cmake --install failed"; }

for f in bin/tovelle $libdir/tovelle/tovelle $libdir/tovelle/readme.txt bin/qrv-render \
         $libdir/libqrv.so include/qrv.h $libdir/pkgconfig/qrv.pc $libdir/cmake/Qrv/QrvConfig.cmake \
         $libdir/cmake/Qrv/QrvConfigVersion.cmake share/applications/tovelle.desktop \
         share/icons/hicolor/48x48/apps/tovelle.png share/icons/hicolor/256x256/apps/tovelle.png \
         share/tovelle/samples/garden.jpg share/tovelle/samples/garden_.bmp; do
  [ -e "$prefix/$f" ] || fail "missing $f"
done
[ -L "$prefix/bin/tovelle" ] || fail "bin/tovelle is not a link"
[ "$(readlink "$prefix/bin/tovelle")" = "../$libdir/tovelle/tovelle" ] || fail "bin/tovelle links to $(readlink "$prefix/bin/tovelle")"
grep -q '^Exec=tovelle %f$' "$prefix/share/applications/tovelle.desktop" || fail "desktop entry without Exec"
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$prefix/share/applications/tovelle.desktop" || fail "desktop entry does not validate"
fi

# The programs find the installed library, not the build tree's. (ldd is given the
# real file: the loader takes $ORIGIN from it, not from the link it was started by.)
for program in bin/tovelle bin/qrv-render; do
  lib=$(env -u LD_LIBRARY_PATH ldd "$(readlink -f "$prefix/$program")" | awk '/libqrv\.so/ {print $3}')
  [ "$(readlink -f "$lib")" = "$(readlink -f "$prefix/$libdir/libqrv.so")" ] || fail "$program loads libqrv.so from '$lib'"
done

# Another project through pkg-config...
export PKG_CONFIG_PATH="$prefix/$libdir/pkgconfig"
[ "$(pkg-config --modversion qrv)" = "1.0.0" ] || fail "pkg-config version $(pkg-config --modversion qrv)"
# shellcheck disable=SC2046,SC2086
cc $cflags "$host_src/host.c" $(pkg-config --cflags --libs qrv) -o "$work/pc-host" || fail "pkg-config host does not build"
LD_LIBRARY_PATH="$prefix/$libdir" "$work/pc-host" >/dev/null || fail "pkg-config host does not run"

# ...and through find_package(Qrv).
cmake -S "$host_src" -B "$work/host-build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_C_FLAGS="$cflags" -DCMAKE_EXE_LINKER_FLAGS="$cflags" >"$work/host.log" 2>&1 \
  || { cat "$work/host.log" >&2; fail "find_package(Qrv) host does not configure"; }
cmake --build "$work/host-build" >>"$work/host.log" 2>&1 || { cat "$work/host.log" >&2; fail "find_package(Qrv) host does not build"; }
LD_LIBRARY_PATH="$prefix/$libdir" "$work/host-build/host" >/dev/null || fail "find_package(Qrv) host does not run"

# The program started through its link finds the manual beside the real file.
if command -v xvfb-run >/dev/null; then
  env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb TOVELLE_SMOKE_GRAB="$work/grab" \
    XDG_RUNTIME_DIR="$work" LSAN_OPTIONS="${LSAN_OPTIONS:+$LSAN_OPTIONS:}suppressions=$(dirname "$0")/lsan.supp" \
    xvfb-run -a "$prefix/bin/tovelle" >"$work/run.log" 2>&1 || { cat "$work/run.log" >&2; fail "installed tovelle did not run"; }
  grep -qx "manual found $(readlink -f "$prefix")/$libdir/tovelle/readme.txt" "$work/grab/report.txt" \
    || { cat "$work/grab/report.txt" >&2; fail "installed tovelle does not find its manual"; }
fi
echo "install test: ok"

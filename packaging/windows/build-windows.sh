#!/usr/bin/env bash
# Cross-builds Kavrel Config Assistant for Windows x86_64 with MinGW-w64, runs the portable
# test suites under Wine on a virtual display, and makes the portable zip and the NSIS
# installer, which it then installs, starts and uninstalls under Wine.
#
#   packaging/windows/build-windows.sh QT_PREFIX
#
# QT_PREFIX holds Qt 6.4.2 for mingw-w64 as DLLs (see build-qt.sh). Everything goes under
# build/windows/. Called by ./build.sh windows, which installs the host packages first.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
qt=$1
out=$root/build/windows
build=$out/build
version=1.03
name=kavrel-config-assistant-$version
jobs=$(nproc 2>/dev/null || echo 2)

# One Wine prefix per machine: making one takes half a minute.
export WINEPREFIX=${WINEPREFIX:-$HOME/.cache/kavrel-config-assistant/wine64}
export WINEARCH=win64 WINEDEBUG=-all
wine_path() { winepath -w "$1" 2>/dev/null; }

step() { echo "build.sh windows: $*"; }

# The JSON headers are all the cross build needs of the host's nlohmann-json.
mkdir -p "$out/include/nlohmann"
cp -r /usr/include/nlohmann/. "$out/include/nlohmann/"

step "cross-building with Qt in $qt"
"$qt/bin/qt-cmake" -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DQZ_JSON_INCLUDE="$out/include" \
    -DCMAKE_CROSSCOMPILING_EMULATOR=wine >/dev/null
cmake --build "$build" -j "$jobs"

mkdir -p "$WINEPREFIX"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    step "making the Wine prefix $WINEPREFIX"
    wineboot --init >/dev/null 2>&1 || true
    wineserver -w
fi
# The tests find Qt's DLLs and plugins through these.
export WINEPATH="$(wine_path "$qt/bin")"
export QT_PLUGIN_PATH="$(wine_path "$qt/plugins")"

step "running the portable tests under Wine"
on_display() { xvfb-run -a -s "-screen 0 1280x900x24" "$root/packaging/windows/with-window-manager.sh" "$@"; }
on_display ctest --test-dir "$build" --output-on-failure -j 1 --timeout 300

step "checking that qzconfig.exe answers as the Linux qzconfig does"
wineserver -w # the tests' wineserver has gone, so the first case does not meet it leaving
if [ -x "$root/build/qt6/cli/qzconfig" ]; then
    "$root/packaging/windows/compare-qzconfig.sh" "$root/build/qt6/cli/qzconfig" "$build/cli/qzconfig.exe"
else
    step "no Linux build in build/qt6: run ./build.sh test first to compare the answers"
fi

step "making $name-win64.zip"
stage=$out/stage/$name
rm -rf "$out/stage" "$out/$name-win64.zip"
mkdir -p "$stage/platforms" "$stage/styles"
cp "$build/QZConfigAssistant.exe" "$build/cli/qzconfig.exe" "$stage/"
for dll in Qt6Core Qt6Gui Qt6Widgets Qt6SerialPort; do cp "$qt/bin/$dll.dll" "$stage/"; done
cp "$qt/plugins/platforms/qwindows.dll" "$stage/platforms/"
cp "$qt/plugins/styles/qwindowsvistastyle.dll" "$stage/styles/"
x86_64-w64-mingw32-strip "$stage"/*.exe
sed 's/$/\r/' "$root/README.md" > "$stage/README.txt"
sed 's/$/\r/' "$root/packaging/windows/LICENSES.txt" > "$stage/LICENSES.txt"
# Nothing but Windows' own DLLs and the ones beside the programs may be needed.
"$root/packaging/windows/check-imports.sh" "$stage"
(cd "$out/stage" && zip -qr -9 "$out/$name-win64.zip" "$name")

step "making $name-setup.exe"
makensis -V2 -DVERSION=$version -DSTAGE="$stage" -DICON="$root/packaging/windows/QZConfigAssistant.ico" -DOUTFILE="$out/$name-setup.exe" \
    "$root/packaging/windows/installer.nsi"

step "installing, starting and uninstalling it under Wine"
on_display "$root/packaging/windows/check-installer.sh" "$out/$name-setup.exe"

ls -l "$out/$name-win64.zip" "$out/$name-setup.exe"

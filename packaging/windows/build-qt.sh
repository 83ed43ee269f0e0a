#!/usr/bin/env bash
# Cross-builds Qt 6.4.2 for Windows x86_64 as DLLs with Debian 12's MinGW-w64 GCC (posix
# threads) and installs it into PREFIX, which must not exist yet:
#
#   packaging/windows/build-qt.sh PREFIX SERIALPORT_TARBALL
#
# qtbase is Debian's qt6-base 6.4.2+dfsg-10 source with Debian's four CVE fixes; modules
# Core, Gui, Widgets, Test and the windows platform plugin, raster only; QtSerialPort is
# the 6.4.2 release tarball. The GCC runtime is linked into every DLL (-static), so they
# need only Windows' own DLLs and each other. Takes 25-40 minutes on 2 cores. The host Qt
# (qt6-base-dev, qt6-base-dev-tools, the same 6.4.2) provides moc, rcc and uic.
set -Eeuo pipefail
prefix=$1
serialport=$(readlink -f "$2")
work=$(mktemp -d "${TMPDIR:-/tmp}/qt-mingw.XXXXXX")
jobs=$(nproc 2>/dev/null || echo 2)
mingw=x86_64-w64-mingw32
qtbase_version=6.4.2+dfsg-10
orig=qt6-base_6.4.2+dfsg.orig.tar.xz
orig_sha256=4f14b89a9463a540fd84a6718b8519a2297119b454ef547721015a9e9019ae9e
debian=qt6-base_6.4.2+dfsg-10.debian.tar.xz
debian_sha256=d1a2621b1acb1606db7274ccdb96654564cea04af836c5b86da94e150714d16c
serialport_sha256=cff9e47bcbc209601cf8153699ebbab9dca348be6d0f87f2f322bb6962fc7875
serialport_release_sha256=336d95919037800184b3c3de8ccb6f62954b20f3756c05adce8d5010504340fa
static_runtime=(-DCMAKE_SHARED_LINKER_FLAGS=-static -DCMAKE_MODULE_LINKER_FLAGS=-static
                -DCMAKE_EXE_LINKER_FLAGS=-static)
trap 'echo "build-qt.sh: failed at line $LINENO; the work is in $work" >&2' ERR
say() { echo "build-qt.sh: $*"; }

[ ! -e "$prefix" ] || { echo "build-qt.sh: $prefix exists already" >&2; exit 2; }
sum=$(sha256sum "$serialport" | cut -d' ' -f1)
[ "$sum" = "$serialport_sha256" ] || [ "$sum" = "$serialport_release_sha256" ] \
    || { echo "build-qt.sh: $serialport is not QtSerialPort 6.4.2 (sha256 $sum)" >&2; exit 1; }

say "fetching Debian's qt6-base source"
if ! grep -rqs '^Types:.*deb-src' /etc/apt/sources.list.d/ && ! grep -qs '^deb-src' /etc/apt/sources.list; then
    printf 'Types: deb-src\nURIs: http://deb.debian.org/debian\nSuites: bookworm bookworm-updates\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
        > /etc/apt/sources.list.d/kavrel-deb-src.sources
    apt-get update -q
fi
(cd "$work" && apt-get source --download-only "qt6-base=$qtbase_version" >/dev/null)
echo "$orig_sha256  $work/$orig" | sha256sum -c --quiet -
echo "$debian_sha256  $work/$debian" | sha256sum -c --quiet -

say "unpacking"
tar -C "$work" -xJf "$work/$orig"
qtbase=$work/qtbase-everywhere-src-6.4.2
tar -C "$qtbase" -xJf "$work/$debian"
for patch in cve-2023-32762.diff cve-2023-32763.diff cve-2023-33285.diff cve-2023-24607.patch; do
    patch -d "$qtbase" -p1 --batch --forward --fuzz=0 --quiet < "$qtbase/debian/patches/$patch"
done
tar -C "$work" -xJf "$serialport"

mkdir -p "$prefix"
cat > "$prefix/mingw-toolchain.cmake" <<EOF
# Cross toolchain: Debian 12's MinGW-w64 GCC 12 (posix threads) for Windows x86_64.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER $mingw-gcc-posix)
set(CMAKE_CXX_COMPILER $mingw-g++-posix)
set(CMAKE_RC_COMPILER $mingw-windres)
set(CMAKE_AR $mingw-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB $mingw-gcc-ranlib-posix CACHE FILEPATH "")
set(CMAKE_STRIP $mingw-strip CACHE FILEPATH "")
set(CMAKE_FIND_ROOT_PATH /usr/$mingw)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
EOF

say "building qtbase (the long part)"
nice -n 19 cmake -G Ninja -S "$qtbase" -B "$work/build-qtbase" \
    -DCMAKE_TOOLCHAIN_FILE="$prefix/mingw-toolchain.cmake" -DQT_HOST_PATH=/usr \
    -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON "${static_runtime[@]}" \
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF -DFEATURE_pkg_config=OFF \
    -DFEATURE_network=OFF -DFEATURE_sql=OFF -DFEATURE_xml=OFF -DFEATURE_dbus=OFF -DFEATURE_concurrent=OFF \
    -DFEATURE_printsupport=OFF -DFEATURE_opengl=OFF -DINPUT_opengl=no -DFEATURE_vulkan=OFF \
    -DFEATURE_tabletevent=OFF -DFEATURE_direct2d=OFF -DFEATURE_directwrite3=OFF -DFEATURE_freetype=OFF \
    -DFEATURE_fontconfig=OFF -DFEATURE_icu=OFF -DFEATURE_zstd=OFF -DFEATURE_jpeg=OFF -DFEATURE_gif=OFF \
    -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_png=OFF \
    -DFEATURE_system_harfbuzz=OFF -DFEATURE_system_doubleconversion=OFF -DFEATURE_sql_sqlite=OFF >/dev/null
nice -n 19 ninja -C "$work/build-qtbase" -j "$jobs" >/dev/null
cmake --install "$work/build-qtbase" --strip >/dev/null

say "building qtserialport"
nice -n 19 "$prefix/bin/qt-cmake-private" -G Ninja -S "$work/qtserialport-everywhere-src-6.4.2" \
    -B "$work/build-qtserialport" -DCMAKE_BUILD_TYPE=Release "${static_runtime[@]}" \
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF >/dev/null
nice -n 19 ninja -C "$work/build-qtserialport" -j "$jobs" >/dev/null
cmake --install "$work/build-qtserialport" --strip >/dev/null

# The prefix may move (into a cache): Qt's toolchain file finds ours beside it.
sed -i "s|^set(__qt_initially_configured_toolchain_file \"$prefix/mingw-toolchain.cmake\")\$|set(__qt_initially_configured_toolchain_file \"\${CMAKE_CURRENT_LIST_DIR}/../../../mingw-toolchain.cmake\")|" \
    "$prefix/lib/cmake/Qt6/qt.toolchain.cmake"
for dll in Qt6Core Qt6Gui Qt6Widgets Qt6Test Qt6SerialPort; do
    [ -f "$prefix/bin/$dll.dll" ] || { echo "build-qt.sh: $dll.dll was not built" >&2; exit 1; }
done
rm -rf "$work"
say "Qt 6.4.2 for mingw-w64 is in $prefix"

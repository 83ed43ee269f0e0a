#!/usr/bin/env bash
# Builds and checks Kavrel Config Assistant on Debian 12. Installs what is missing first.
#
#   ./build.sh test [--qt5]     build (Qt 6, or Qt 5.15) and run every test through CTest
#   ./build.sh run              build and start the window
#   ./build.sh sanitize         the whole suite under AddressSanitizer and UBSan
#   ./build.sh fuzz [SECONDS]   run every fuzz target for SECONDS each (default 60)
#   ./build.sh bench            print the benchmark ratios
#   ./build.sh package          build the Debian package and check it
#   ./build.sh windows          cross-build for Windows, test under Wine, make the zip and installer
set -euo pipefail
cd "$(dirname "$0")"
root=$PWD
jobs=$(nproc 2>/dev/null || echo 2)

base_packages=(cmake make g++ pkg-config libgtest-dev qt6-base-dev qtbase5-dev libgl-dev
               qt6-serialport-dev libqt5serialport5-dev nlohmann-json3-dev
               fonts-dejavu-core fonts-liberation2 xvfb xauth dbus-daemon python3-dbusmock
               libqt6sql6-psql libqt5sql5-psql postgresql)

# The real bluetoothd in a qemu guest, for the air check's test (./build.sh test, Qt 6).
guest_packages=(qemu-system-x86 linux-image-amd64 bluez bluez-test-tools busybox-static cpio kmod)

windows_packages=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
                  qt6-base-dev-tools wine wine64 openbox x11-utils nsis zip ninja-build perl xz-utils patch)

# Installs each named Debian package that is not installed yet; nothing when all are.
ensure_packages() {
    local missing=() package
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" \
            || missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "build.sh: installing ${missing[*]}"
    local sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    "${sudo[@]}" apt-get update -q
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# configure_and_build DIR [CMAKE ARGS...]
configure_and_build() {
    local dir=$1
    shift
    cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
    cmake --build "$dir" -j "$jobs"
}

run_tests() {
    local dir=$1
    QT_QPA_PLATFORM=offscreen ctest --test-dir "$dir" --output-on-failure -j "$jobs"
}

# Prints the folder of Qt 6.4.2 for mingw-w64, made once per machine and recipe under
# ~/.cache: unpacked from the shared prebuilt archive when its checksum is the one recorded,
# built from source with packaging/windows/build-qt.sh otherwise.
windows_qt() {
    local shared=$root/../shared/windows key cache archive serialport
    archive=${QZ_QT_ARCHIVE:-$shared/qt6.4.2-mingw64-shared.tar.xz}
    serialport=${QZ_SERIALPORT_SOURCE:-$shared/qtserialport-everywhere-src-6.4.2.tar.xz}
    key=$(sha256sum packaging/windows/build-qt.sh | cut -c1-12)
    cache=$HOME/.cache/kavrel-config-assistant/qt6.4.2-mingw64-$key
    if [ ! -f "$cache/bin/Qt6Core.dll" ]; then
        rm -rf "$cache" "$cache.tmp"
        mkdir -p "$(dirname "$cache")"
        if [ -f "$archive" ] && [ "$(sha256sum "$archive" | cut -d' ' -f1)" = "$(cat packaging/windows/qt-archive.sha256)" ]; then
            echo "build.sh: unpacking Qt for Windows from $archive" >&2
            mkdir -p "$cache.tmp"
            tar -xJf "$archive" -C "$cache.tmp"
            mv "$cache.tmp/qt6-mingw-shared" "$cache"
            rm -rf "$cache.tmp"
        else
            echo "build.sh: building Qt for Windows from source (25-40 minutes, once per machine)" >&2
            packaging/windows/build-qt.sh "$cache.tmp" "$serialport" >&2
            mv "$cache.tmp" "$cache"
        fi
    fi
    echo "$cache"
}

mode=${1:-test}
[ $# -gt 0 ] && shift

case "$mode" in
test)
    ensure_packages "${base_packages[@]}"
    if [ "${1:-}" = "--qt5" ]; then
        configure_and_build build/qt5 -DQZ_QT_MAJOR=5
        run_tests build/qt5
    else
        ensure_packages "${guest_packages[@]}"
        configure_and_build build/qt6 -DQZ_QT_MAJOR=6 -DQZ_REAL_BLUEZ=ON
        run_tests build/qt6
    fi
    ;;
run)
    ensure_packages "${base_packages[@]}"
    configure_and_build build/qt6 -DQZ_QT_MAJOR=6
    if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
        echo "build.sh: no display to show the window on." >&2
        echo "  Start it under a virtual display:  xvfb-run -a ./build.sh run" >&2
        exit 1
    fi
    exec build/qt6/QZConfigAssistant
    ;;
sanitize)
    ensure_packages "${base_packages[@]}"
    configure_and_build build/sanitize -DQZ_QT_MAJOR=6 -DQZ_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        run_tests build/sanitize
    ;;
fuzz)
    seconds=${1:-60}
    ensure_packages "${base_packages[@]}" clang libclang-rt-14-dev
    CXX=clang++ configure_and_build build/fuzz -DQZ_FUZZ=ON -DQZ_BUILD_UI=OFF
    mkdir -p build/fuzz/artifacts
    for target in StudyList BeaconList BroadcastList AdvertisingData PackageDecoder CommandLine AirMatch ConsoleSession; do
        corpus=fuzz/corpus/$(echo "$target" | tr '[:upper:]' '[:lower:]')
        work=build/fuzz/corpus/$target
        mkdir -p "$work"
        echo "build.sh: fuzzing $target for $seconds s"
        # New inputs go to the work folder; a failing input lands in build/fuzz/artifacts/
        # and belongs in $corpus from then on, as a regression case.
        build/fuzz/fuzz/fuzz_$target -max_total_time="$seconds" -print_final_stats=1 \
            -artifact_prefix=build/fuzz/artifacts/"$target"- "$work" "$corpus" 2>&1 | tail -n 12
    done
    ;;
bench)
    ensure_packages "${base_packages[@]}" libbenchmark-dev
    configure_and_build build/bench -DQZ_QT_MAJOR=6 -DQZ_BENCH=ON -DCMAKE_BUILD_TYPE=Release
    # The line's record is measured against a server of its own, made for the run.
    tests/line/run.sh build/bench/bench/bench_ratios 2>/dev/null || echo "build.sh: some ratios miss their targets (see above)"
    ;;
package)
    ensure_packages "${base_packages[@]}" dpkg-dev desktop-file-utils appstream lintian
    # Debian's hardening: checked buffers, and relocations read-only before main() runs.
    configure_and_build build/package -DQZ_QT_MAJOR=6 -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_CXX_FLAGS="-D_FORTIFY_SOURCE=2" -DCMAKE_EXE_LINKER_FLAGS="-Wl,-z,relro,-z,now"
    rm -rf build/package/install build/package/*.deb
    cmake --install build/package --prefix "$root/build/package/install" >/dev/null
    (cd build/package && cpack -G DEB >/dev/null)
    deb=$(ls build/package/*.deb)
    packaging/check-package.sh "$deb" build/package/install
    echo "build.sh: $deb"
    ;;
windows)
    ensure_packages "${base_packages[@]}" "${windows_packages[@]}"
    # qzconfig.exe's answers are compared with the Linux build's.
    configure_and_build build/qt6 -DQZ_QT_MAJOR=6
    qt=$(windows_qt)
    packaging/windows/build-windows.sh "$qt"
    ;;
*)
    echo "build.sh: unknown mode '$mode'; use test [--qt5], run, sanitize, fuzz [SECONDS], bench, package or windows" >&2
    exit 2
    ;;
esac

#!/usr/bin/env bash
# Builds and checks Kavrel Config Assistant on Debian 12. Installs what is missing first.
#
#   ./build.sh test [--qt5]     build (Qt 6, or Qt 5.15) and run every test through CTest
#   ./build.sh run              build and start the window
#   ./build.sh sanitize         the whole suite under AddressSanitizer and UBSan
#   ./build.sh fuzz [SECONDS]   run every fuzz target for SECONDS each (default 60)
#   ./build.sh bench            print the benchmark ratios
#   ./build.sh package          build the Debian package and check it
set -euo pipefail
cd "$(dirname "$0")"
root=$PWD
jobs=$(nproc 2>/dev/null || echo 2)

base_packages=(cmake make g++ pkg-config libgtest-dev qt6-base-dev qtbase5-dev libgl-dev
               qt6-serialport-dev libqt5serialport5-dev nlohmann-json3-dev
               fonts-dejavu-core fonts-liberation2 xvfb xauth)

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

mode=${1:-test}
[ $# -gt 0 ] && shift

case "$mode" in
test)
    ensure_packages "${base_packages[@]}"
    if [ "${1:-}" = "--qt5" ]; then
        configure_and_build build/qt5 -DQZ_QT_MAJOR=5
        run_tests build/qt5
    else
        configure_and_build build/qt6 -DQZ_QT_MAJOR=6
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
    for target in StudyList BeaconList BroadcastList AdvertisingData PackageDecoder CommandLine; do
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
    build/bench/bench/bench_ratios 2>/dev/null || echo "build.sh: some ratios miss their targets (see above)"
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
*)
    echo "build.sh: unknown mode '$mode'; use test [--qt5], run, sanitize, fuzz [SECONDS], bench or package" >&2
    exit 2
    ;;
esac

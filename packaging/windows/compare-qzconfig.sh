#!/usr/bin/env bash
# Runs the Linux qzconfig and qzconfig.exe (under Wine) on the same cases and fails on the
# first difference in exit status, standard output or standard error. The Windows program
# must end every line with CR LF and say exactly the same otherwise.
#
#   compare-qzconfig.sh LINUX_QZCONFIG WINDOWS_QZCONFIG_EXE
set -uo pipefail
linux=$1
windows=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cases=()
add() { cases+=("$(printf '%q ' "$@")"); }

add --help
add --version
add help
add study --help
add nosuch
add ''
for type in 16 128 32; do
    for notify in FFE1 ffe1 0000FFE1-0000-1000-8000-00805F9B34FB FFE 'FF E1' '' G000 0000ffe1000010008000-00805f9b34fb; do
        for write in FFE2 FFE1 0000FFE2-0000-1000-8000-00805F9B34FB 12345; do
            add study --uuid-type=$type --notify="$notify" --write "$write"
        done
    done
done
for major in 04D2 04d2 01234 1000 65535 65536 0000 00000 10123 12 FFFFF 0x04D2 'Lä'; do
    for minor in 10125 0001 00000; do
        add ibeacon --major=$major --minor=$minor
    done
    add ibeacon --major=$major --uuid=FDA50693-A4E2-4FB1-AFCF-C6EB07647825 --commands
done
add ibeacon --uuid=fda50693a4e24fb1afcfc6eb07647825
add ibeacon --uuid=FDA5
for name in QZSoft 'Lamp (2)' 'Lämp' '' 'A name that is too long'; do
    for address in '' 000E0B123456 000e0b123456 00:0E:0B:12: 000E0B12345; do
        add broadcast --name="$name" --address="$address" --advert=0x0201060302F0FF --same
    done
done
for advert in 020106 0x0201060302F0FF 0201060D094B69746368656E204C616D70 02010600 1F0102 0201060 '' 0x02; do
    add broadcast --advert="$advert" --scan=0303AAFE
    add broadcast --advert="$advert" --commands
    add decode "$advert"
    add decode --json "$advert"
done
add ibeacon --major=1000 --explain
add study --uuid-type=128 --explain --notify=ffe1
add broadcast --explain --name=' Lämp' --address=00:0E:0B:12: --advert=0201060302F0FF
add ibeacon --minor=0x04D2
add ibeacon --port=COM3 --modules=3 --count=uuid --record=r.csv
add ibeacon --port=COM3 --commands
add ibeacon --baud=9600
add ibeacon --timeout=99 --port=COM3
add decode 1AFF4C000215FDA50693A4E24FB1AFCFC6EB0764782504D204D3C5
add verify study
add verify ibeacon --timeout=0
add scan --bogus
add ibeacon --port=COM3 --listen=5
for talk in console discover connect; do
    add $talk --help
    add $talk --baud=9601
done
add discover --port=COM3 --timeout=0
add connect --port=COM3 --to=65
add connect --port=COM3 --to=2 --type=0
add connect --port=COM3 --to=00:17:EA:09:43:AE --type=00

failed=0
for line in "${cases[@]}"; do
    eval "args=($line)"
    "$linux" "${args[@]}" >"$work/out" 2>"$work/err"
    linuxStatus=$?
    for _ in 1 2 3; do
        wine "$windows" "${args[@]}" >"$work/wout" 2>"$work/werr"
        windowsStatus=$?
        # A client that meets a wineserver just as it shuts down is refused, and on a loaded
        # machine Wine now and then loses a run's standard error: such a run is run again,
        # so that only a difference that holds counts.
        if ! grep -q '^wine client error' "$work/werr" && [ "$linuxStatus" = "$windowsStatus" ] \
            && cmp -s "$work/err" <(sed 's/\r$//' "$work/werr"); then
            break
        fi
        wineserver -w
    done
    for stream in out err; do
        w=$work/w$stream
        if ! cmp -s "$work/$stream" <(sed 's/\r$//' "$w"); then
            echo "compare-qzconfig: $line: standard $stream differs" >&2
            diff <(cat -A "$work/$stream") <(sed 's/\r$//' "$w" | cat -A) | head -5 >&2
            failed=1
        fi
        if [ "$(grep -c $'\r$' "$w")" != "$(grep -c '' "$w")" ]; then
            echo "compare-qzconfig: $line: standard $stream has a line without CR LF" >&2
            failed=1
        fi
    done
    if [ "$linuxStatus" != "$windowsStatus" ]; then
        echo "compare-qzconfig: $line: exit $windowsStatus, not $linuxStatus" >&2
        failed=1
    fi
done
echo "compare-qzconfig: ${#cases[@]} cases compared"

# Windows has nothing to listen with: qzconfig.exe says so, and exits with 3.
cannot="qzconfig: cannot listen over the air: listening over the air needs BlueZ, on Linux; this Windows build has no Bluetooth back end yet"
for args in "verify ibeacon" "scan --timeout=1" "ibeacon --port=COM3 --verify"; do
    wine "$windows" $args >"$work/wout" 2>"$work/werr"
    status=$?
    if [ "$status" != 3 ] || [ "$(sed 's/\r$//' "$work/werr")" != "$cannot" ] || [ -s "$work/wout" ]; then
        echo "compare-qzconfig: $args: exit $status and \"$(cat "$work/werr")\", not 3 and \"$cannot\"" >&2
        failed=1
    fi
done
exit $failed

#!/bin/bash
# The guest's case runner, its first process after the initramfs: starts the system bus,
# three emulated LE controllers (hci0 advertises by raw HCI, as a set-up module would;
# hci1 listens through bluetoothd; hci2 is a neighbour's beacon where a case asks) and
# runs each case of cases.txt with qzconfig, plain and with bluetoothd -E. Writes one
# line per case to results/summary, then powers off.
share=/tmp/share
results=$share/results
qzconfig=$share/qzconfig-bin
exec >"$results/guest.log" 2>&1
mount -t proc proc /proc
mount -t sysfs sys /sys
mkdir -p /dev/pts /run/dbus
mount -t devpts devpts /dev/pts
export PATH=/usr/sbin:/usr/bin:/sbin:/bin
bluetoothd_path=/usr/libexec/bluetooth/bluetoothd
[ -x "$bluetoothd_path" ] || bluetoothd_path=/usr/lib/bluetooth/bluetoothd

finish() {
    touch "$results/done"
    sync
    echo o >/proc/sysrq-trigger
    sleep 10
}
trap finish EXIT

modprobe hci_vhci || { echo "FAIL guest: no hci_vhci" >>"$results/summary"; exit; }
dbus-daemon --system --fork || { echo "FAIL guest: no system bus" >>"$results/summary"; exit; }

# The controllers the kernel's management interface knows: btvirt may lose one at its start.
controllers() { btmgmt info 2>/dev/null | sed -n 's/^Index list with \([0-9]*\) item.*/\1/p'; }
start_controllers() {
    for attempt in 1 2 3 4 5; do
        btvirt -L -l3 &
        btvirt_pid=$!
        for wait in $(seq 20); do
            [ "$(controllers)" = 3 ] && return 0
            sleep 0.2
        done
        kill "$btvirt_pid" 2>/dev/null
        wait "$btvirt_pid" 2>/dev/null
        sleep 1
    done
    return 1
}

start_bluetoothd() {
    "$bluetoothd_path" -n $1 &
    bluetoothd_pid=$!
    for wait in $(seq 50); do
        dbus-send --system --print-reply --dest=org.freedesktop.DBus / org.freedesktop.DBus.NameHasOwner \
            string:org.bluez 2>/dev/null | grep -q 'boolean true' && break
        sleep 0.2
    done
    local index
    for index in 0 1 2; do btmgmt --index "$index" power on >/dev/null; done
    sleep 1
}

stop_bluetoothd() {
    kill "$bluetoothd_pid" 2>/dev/null
    wait "$bluetoothd_pid" 2>/dev/null
}

# An advertiser: raw HCI, as the module's firmware would. hci0 unless told otherwise.
controller=hci0
hci() { hcitool -i "$controller" cmd 0x08 "$@" >/dev/null; }
bytes_of() { echo "$1" | sed 's/../& /g'; }
padded() { # length, then the data padded to 31 bytes
    local digits=$1
    printf '%02X ' $((${#digits} / 2))
    bytes_of "$digits$(printf '%*s' $((62 - ${#digits})) '' | tr ' ' 0)"
}
advertise() { # type address(12 hex, as written) advert response
    local type=$1 address=$2 advert=$3 response=$4
    hci 0x000A 00
    # LE Set Random Address takes the address least significant byte first.
    hci 0x0005 $(echo "$address" | sed 's/../& /g' | awk '{for (i = NF; i > 0; i--) printf "%s ", $i}')
    hci 0x0006 A0 00 A0 00 "$type" 01 00 00 00 00 00 00 00 07 00
    hci 0x0008 $(padded "$advert")
    hci 0x0009 $(padded "$response")
    ( while :; do hci 0x000A 01; sleep 1; hci 0x000A 00; done ) &
    advertisers+=($!)
}
quiet() {
    local pid
    for pid in "${advertisers[@]}"; do
        kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
    done
    advertisers=()
    controller=hci2 hci 0x000A 00
    hci 0x000A 00
}
advertisers=()
# The neighbour: a beacon with the iBeacon page's UUID and major, and minor 1.
neighbour() {
    controller=hci2 advertise 03 C0FFEE000002 0201061AFF4C0002150000FFF000001000800000805F9B34FB278B0001C5 ""
}

# Each case: name|passes|adv type|address|advert|response|during|status|expected|qzconfig arguments
# passes: both, plain or E. during: none, off (hci1 switched off after 3 s), stop
# (bluetoothd stopped after 3 s), neighbour (hci2 advertises a neighbour's beacon). expected: a fragment the output holds (\n for a line break).
run_case() {
    local pass=$1 line=$2
    IFS='|' read -r name passes type address advert response during status expected args <<<"$line"
    [ "$passes" = both ] || [ "$passes" = "$pass" ] || return
    [ -n "$advert$response" ] && advertise "$type" "$address" "$advert" "$response"
    local started output got
    started=$EPOCHREALTIME
    local helper=
    [ "$during" = neighbour ] && neighbour
    case "$during" in
    off) ( sleep 3; btmgmt --index 1 power off >/dev/null ) & helper=$! ;;
    stop) ( sleep 3; kill "$bluetoothd_pid" ) & helper=$! ;;
    esac
    # shellcheck disable=SC2086
    output=$(timeout 60 "$qzconfig" $args 2>&1)
    got=$?
    local seconds
    seconds=$(awk "BEGIN { print $EPOCHREALTIME - $started }")
    quiet
    [ -n "$helper" ] && wait "$helper" 2>/dev/null
    local want
    want=$(printf '%b' "$expected")
    if [ "$got" = "$status" ] && [[ "$output" == *"$want"* ]]; then
        printf 'PASS %-5s %-44s %5.1f s\n' "$pass" "$name" "$seconds" >>"$results/summary"
    else
        printf 'FAIL %-5s %-44s exit %s, not %s\n' "$pass" "$name" "$got" "$status" >>"$results/summary"
        printf '     expected: %s\n' "$want" | head -5 >>"$results/summary"
        printf '%s\n' "$output" | sed 's/^/     got: /' | head -20 >>"$results/summary"
    fi
    case "$during" in
    off) btmgmt --index 1 power on >/dev/null; sleep 1 ;;
    stop) wait "$bluetoothd_pid" 2>/dev/null; start_bluetoothd "$flags" ;;
    esac
}

# How many advertisement monitors the listening controller's kernel side holds.
monitor_handles() {
    btmgmt --index 1 monitor.features 2>/dev/null | sed -n 's/.*Handles list with \([0-9]*\) item.*/\1/p'
}

# bluetoothd -E only: the monitor qzconfig registers goes when the check ends, and with the
# bus connection of a qzconfig killed while listening.
check_monitor_cleanup() {
    local lamp="--adapter=hci1 --name=Lamp-01 --address=C0FFEE123456 --same"
    advertise 02 C0FFEE123456 02010608094C616D702D3031 02010608094C616D702D3031
    # shellcheck disable=SC2086
    "$qzconfig" verify broadcast $lamp --advert=0201060909426C616D702D3031 --timeout=30 >/dev/null 2>&1 &
    local pid=$! during after ended
    sleep 4
    during=$(monitor_handles)
    kill -9 "$pid"
    wait "$pid" 2>/dev/null
    sleep 2
    after=$(monitor_handles)
    # shellcheck disable=SC2086
    "$qzconfig" verify broadcast $lamp --advert=02010608094C616D702D3031 --timeout=8 >/dev/null 2>&1
    ended=$(monitor_handles)
    quiet
    if [ "${during:-0}" -gt 0 ] && [ "$after,$ended" = "0,0" ]; then
        echo "PASS E     the monitor goes with a killed qzconfig and at the end" >>"$results/summary"
    else
        echo "FAIL E     monitors while listening, after a kill, after a check: $during,$after,$ended, not some,0,0" \
            >>"$results/summary"
    fi
}

# Before any controller: BlueZ without an adapter.
start_bluetoothd ""
output=$("$qzconfig" verify ibeacon --timeout=2 2>&1)
if [ $? = 3 ] && [[ "$output" == *"BlueZ has no Bluetooth adapter"* ]]; then
    echo "PASS plain  no adapter" >>"$results/summary"
else
    printf 'FAIL plain  no adapter: %s\n' "$output" >>"$results/summary"
fi
stop_bluetoothd

start_controllers || { echo "FAIL guest: btvirt made no two controllers" >>"$results/summary"; exit; }
for pass in plain E; do
    flags=""
    [ "$pass" = E ] && flags="-E"
    rm -rf /var/lib/bluetooth/*
    start_bluetoothd "$flags"
    while IFS= read -r line; do
        case "$line" in '#'* | '') continue ;; esac
        run_case "$pass" "$line"
    done <"$share/cases.txt"
    [ "$pass" = E ] && check_monitor_cleanup
    stop_bluetoothd
done

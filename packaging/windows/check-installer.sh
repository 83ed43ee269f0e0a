#!/usr/bin/env bash
# Installs SETUP silently under Wine, checks the files, the Start-menu entry and the
# uninstall entry, starts the installed window once, uninstalls silently and checks that
# nothing is left. Runs on an X display (xvfb-run).
set -euo pipefail
setup=$1
unset WINEPATH QT_PLUGIN_PATH # the installed programs must need nothing from outside
dir="$WINEPREFIX/drive_c/Program Files/Kavrel Config Assistant"
link="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Kavrel Config Assistant.lnk"
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\KavrelConfigAssistant'
fail() { echo "check-installer: $*" >&2; exit 1; }

wine "$setup" /S
wineserver -w
for file in QZConfigAssistant.exe qzconfig.exe Uninstall.exe Qt6Core.dll Qt6Gui.dll Qt6Widgets.dll \
            Qt6SerialPort.dll platforms/qwindows.dll styles/qwindowsvistastyle.dll README.txt LICENSES.txt; do
    [ -f "$dir/$file" ] || fail "not installed: $file"
done
[ -f "$link" ] || fail "no Start-menu entry"
wine reg query "$key" /v DisplayName 2>/dev/null | grep -q "Kavrel Config Assistant" \
    || fail "no entry in Apps and Features"
[ "$(wine "$dir/qzconfig.exe" --version)" = $'qzconfig 1.03\r' ] || fail "the installed qzconfig.exe does not answer"

# The installed window opens (its title appears on the display) and is closed again.
wine "$dir/QZConfigAssistant.exe" &
shown=
for _ in $(seq 1 60); do
    # Read whole first: with pipefail, grep -q leaving early would fail xwininfo's write.
    tree=$(xwininfo -root -tree 2>/dev/null || true)
    if grep -q '"Kavrel Config Assistant V1.03"' <<<"$tree"; then shown=1; break; fi
    sleep 0.5
done
wineserver -k || true
wait || true
[ -n "$shown" ] || fail "the installed window did not open"

wine "$dir/Uninstall.exe" /S
wineserver -w
[ ! -e "$dir" ] || fail "left behind: $(find "$dir" | head -5)"
[ ! -e "$link" ] || fail "the Start-menu entry is left"
if wine reg query "$key" >/dev/null 2>&1; then fail "the uninstall entry is left"; fi
echo "check-installer: installed, started and uninstalled cleanly"

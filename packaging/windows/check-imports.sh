#!/usr/bin/env bash
# Fails when a program or DLL in FOLDER imports a DLL that is neither Windows' own nor in
# FOLDER: the zip must run on a bare Windows.
set -euo pipefail
folder=$1
system='^(kernel32|shcore|user32|gdi32|gdiplus|shell32|ole32|oleaut32|advapi32|comdlg32|comctl32|imm32|winmm|ws2_32|version|uxtheme|dwmapi|setupapi|shlwapi|msvcrt|mpr|netapi32|userenv|wtsapi32|d3d9|d3d11|dxgi|dwrite|cfgmgr32|authz|ntdll|api-ms-win-.*)\.dll$'
bad=0
while IFS= read -r -d '' file; do
    while read -r dll; do
        lower=$(echo "$dll" | tr '[:upper:]' '[:lower:]')
        if ! [[ $lower =~ $system ]] && [ ! -f "$folder/$dll" ]; then
            echo "check-imports: ${file#$folder/} needs $dll, which is not beside it" >&2
            bad=1
        fi
    done < <(x86_64-w64-mingw32-objdump -p "$file" | sed -n 's/^\s*DLL Name: //p')
done < <(find "$folder" -name '*.exe' -print0 -o -name '*.dll' -print0)
exit $bad

#!/usr/bin/env bash
# The plugin must load beside the host with nothing of ours next to it: it may import system DLLs only.
set -euo pipefail
dll="$1"
file "$dll" | grep -q "PE32 executable (DLL).*Intel 80386" || { echo "not a 32-bit PE DLL: $dll"; exit 1; }
bad=$(i686-w64-mingw32-objdump -p "$dll" | sed -n 's/^\s*DLL Name: //p' |
      grep -v -i -x -E '(kernel32|user32|gdi32|advapi32|ole32|oleaut32|shlwapi|shell32|comctl32|comdlg32|msvcrt|version|uxtheme)\.dll' || true)
if [ -n "$bad" ]; then echo "non-system imports: $bad"; exit 1; fi
echo "imports only system DLLs"

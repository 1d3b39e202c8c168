#!/usr/bin/env bash
# The plugin must load beside the host with nothing of ours next to it: it may import system DLLs only.
#   check-imports.sh ARCH DLL     ARCH: i686 (the product, PE32) or x86_64 (the test twin, PE32+)
set -euo pipefail
arch="$1" dll="$2"
case "$arch" in
  i686)   format="PE32 executable (DLL).*Intel 80386" ;;
  x86_64) format="PE32+ executable (DLL).*x86-64" ;;
  *) echo "unknown architecture: $arch"; exit 2 ;;
esac
[ -f "$dll" ] || { echo "$arch: no plugin DLL at $dll"; exit 1; }
file "$dll" | grep -q "$format" || { echo "$arch: not the expected PE DLL: $(file -b "$dll")"; exit 1; }
bad=$("$arch-w64-mingw32-objdump" -p "$dll" | sed -n 's/^\s*DLL Name: //p' |
      grep -v -i -x -E '(kernel32|user32|gdi32|advapi32|ole32|oleaut32|shlwapi|shell32|comctl32|comdlg32|msvcrt|version|uxtheme)\.dll' || true)
if [ -n "$bad" ]; then echo "$arch: non-system imports: $bad"; exit 1; fi
echo "$arch: plugin imports only system DLLs"

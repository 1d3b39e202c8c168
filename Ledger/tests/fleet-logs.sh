#!/usr/bin/env bash
# Runs the fleet scenarios once in the terminal simulator: each writes one terminal's log folder
# under OUT. Usage: fleet-logs.sh CROSS-BUILD OUT SCENARIO-FOLDER
set -euo pipefail
build="$1" out="$2" scenarios="$3"
if [ -z "$build" ] || [ ! -x "$build/wine-run" ]; then
  echo "no simulator build (TALLY_SIM_BUILD=\"$build\"): ./tally test configures it" >&2; exit 1
fi
rm -rf "$out"; mkdir -p "$out"
export LEDGER_FLEET="Z:$(realpath "$out" | tr / '\\')"
"$build/wine-run" "$build/Host/TallySim.exe" --fresh --plugin "$build/Plugin/Tallymark.dll" \
  "$scenarios/kiosk-north.scn" "$scenarios/kiosk-south.scn" "$scenarios/mall-3.scn" > "$out.transcript" 2>&1 || {
  cat "$out.transcript" >&2; exit 1; }
ls "$out"/*/*.txt

#!/usr/bin/env bash
# The installer as a terminal's owner uses it, silent, under this build's Wine, in a scratch prefix of
# the group's own whose terminal program (host key "Root Path") is C:\Terminal. The simulator plays
# the terminal program there: it loads the plugin through the registration, as the terminal would.
#   install   no terminal program: exit 2; an installation: files, class registrations, uninstall
#             entry, the plugin loaded through its class and counting a payment
#   upgrade   over counted notes, a collection, a changed setting and a changed template: a registry
#             key that cannot be written (exit 3) and a running terminal (exit 4) leave the installed
#             version working; then the newer build keeps everything, the template's new text beside it
#   remove    the removal keeps the money records, settings and changed templates; with /PURGE not
# usage: installer-test.sh GROUP BUILD_DIR SETUP VERSION NEWER_SETUP NEWER_VERSION
set -euo pipefail
group=$1 build=$2 setup=$3 version=$4 newer_setup=$5 newer_version=$6
work="$build/installer-test/$group"
export WINEPREFIX="$work/prefix"
run="$build/wine-run"
drive="$WINEPREFIX/drive_c"
plugin='C:\Terminal\Plugins\Tallymark'
folder="$drive/Terminal/Plugins/Tallymark"
templates="$drive/Terminal/PrintTemplates/Tallymark"
uninstall_key='"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tallymark"'
classes=('{C8AE8BE9-D0E5-4C7B-AB66-E72978C9C810}' '{8FF8F174-FC50-475C-99ED-C25A85584B73}')
failures=0

cleanup() { "$run" --server -k >/dev/null 2>&1 || true; rm -rf "$WINEPREFIX"; }
trap cleanup EXIT
rm -rf "$work"
mkdir -p "$work"
cd "$work"
# Under load Wine now and then leaves a new prefix where no program starts ("could not load
# kernel32.dll"): such a prefix is made again, once.
for try in 1 2; do
  "$run" wineboot.exe -i </dev/null >/dev/null 2>&1 || true
  "$run" cmd /c exit </dev/null >/dev/null 2>&1 && break
  echo "the scratch prefix does not start programs; making it again"
  "$run" --server -k >/dev/null 2>&1 || true
  rm -rf "$WINEPREFIX"
done

fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Runs a scenario (stdin) in the simulator against the prefix's registry; its transcript only when a
# line failed.
sim() {  # NAME
  cat > "$1.scn"
  if ! "$run" "$build/Host/TallySim.exe" --outbox outbox "$1.scn" </dev/null > "$1.out" 2>&1; then
    fail "scenario $1"; grep -E '^(> |FAIL|ok )' "$1.out" || cat "$1.out"
  fi
}

expect_exit() {  # CODE WHAT PROGRAM ARGS...
  local code=$1 what=$2 status=0; shift 2
  "$run" "$@" </dev/null >/dev/null 2>&1 || status=$?
  [ "$status" -eq "$code" ] || fail "$what: exit code $status, expected $code"
}

# The installer's log beside the plugin, which it writes in UTF-16.
log_has() { iconv -f UTF-16 -t UTF-8 "$folder/Tallymark-setup.log" 2>/dev/null | grep -qF "$1" || fail "the log lacks: $1"; }

terminal() {
  sim terminal <<'EOF'
reg "HKLM\Software\Velmor\Paylantra" "Root Path" = sz:C:\Terminal
EOF
}

registered() {  # VERSION: the classes name the installed DLL, and the terminal loads that version through them
  sim "registered-$1" <<EOF
expect reg "HKCR\\CLSID\\${classes[0]}\\InProcServer32" "" = sz:$plugin\\Tallymark.dll
expect reg "HKCR\\CLSID\\${classes[1]}\\InProcServer32" "" = sz:$plugin\\Tallymark.dll
expect reg "HKLM\\Software\\Velmor\\Paylantra\\Plugins\\Tallymark" CLSID = sz:${classes[0]}
expect reg "HKLM\\Software\\Velmor\\Paylantra\\Control Plugins\\Tallymark" CLSID = sz:${classes[1]}
expect reg $uninstall_key DisplayVersion = sz:$1
start
expect env Tallymark.Installed = $1
exit
EOF
}

case "$group" in
install)
  expect_exit 2 "no terminal program" "$setup" /S
  [ ! -e "$drive/Terminal" ] || fail "an installation without a terminal program left files"
  terminal
  expect_exit 0 "silent installation" "$setup" /S
  for file in Tallymark.dll Tallymark.chm Tallymark-uninstall.exe; do
    [ -f "$folder/$file" ] || fail "$file is not in the plugin folder"
  done
  [ "$(ls "$templates"/*.txt 2>/dev/null | wc -l)" -eq 14 ] || fail "the 14 default templates are not in $templates"
  sim entry <<EOF
expect reg $uninstall_key DisplayName = sz:Tallymark: счётчик купюр и инкассация
expect reg $uninstall_key Publisher = sz:Velmor
expect reg $uninstall_key InstallLocation = sz:$plugin
expect reg $uninstall_key UninstallString = sz:"$plugin\\Tallymark-uninstall.exe"
expect reg $uninstall_key QuietUninstallString = sz:"$plugin\\Tallymark-uninstall.exe" /S _?=$plugin
expect reg "HKLM\\Software\\Velmor\\Paylantra\\Plugins\\Tallymark\\Options" "Collect Enabled" = dword:1
EOF
  "$run" reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tallymark' /v EstimatedSize </dev/null 2>&1 |
    grep -qE 'REG_DWORD +0x0*[1-9a-f]' || fail "no size in the uninstall entry"
  registered "$version"
  sim payment <<'EOF'
start
payment 100 RUB 500 RUB
expect reg "HKLM\Software\Velmor\Paylantra\Plugins\Tallymark\Bill Counters\Terminal\RUB" 100 = dword:1
expect reg "HKLM\Software\Velmor\Paylantra\Plugins\Tallymark\Bill Counters\Collect\RUB" 500 = dword:1
exit
EOF
  [ -n "$(ls "$drive/Terminal/Logs/Tallymark/" 2>/dev/null)" ] || fail "no operation log in the terminal's log folder"
  ;;

upgrade)
  terminal
  expect_exit 0 "installation of $version" "$setup" /S
  changed="$templates/Инкассация (чек).txt"
  sim records <<'EOF'
start
payment 100 RUB 500 RUB 1000 RUB
stacker remove
event Tallymark.Collect.Init
prop Tallymark.Collect.Param.ReceiptCount = 0
event Tallymark.Collect.Done
event Tallymark.Collect.Close
stacker insert
expect reg "HKLM\Software\Velmor\Paylantra\Plugins\Tallymark\Collect" Number = dword:1
payment 50 RUB
exit
reg "HKLM\Software\Velmor\Paylantra\Plugins\Tallymark\Options" "Collect Receipt Count" = dword:5
file "C:\Terminal\PrintTemplates\Tallymark\Инкассация (чек).txt" = Чек терминала №7
readonly "HKLM\Software\Velmor\Paylantra\URL"
EOF
  # The newer build's registration cannot write the collection page's address.
  expect_exit 3 "upgrade with a key that cannot be written" "$newer_setup" /S
  log_has "Оставлена версия $version"
  registered "$version"
  sim unlock <<'EOF'
readonly "HKLM\Software\Velmor\Paylantra\URL" off
EOF
  # The terminal program runs and holds the plugin while the newer build comes.
  rm -f "$drive/held"
  cat > holding.scn <<'EOF'
start
file "C:\held" = started
wait 6000
exit
EOF
  "$run" "$build/Host/TallySim.exe" holding.scn </dev/null > holding.out 2>&1 &
  holder=$!
  for _ in $(seq 1 120); do [ -f "$drive/held" ] && break; sleep 0.25; done
  [ -f "$drive/held" ] || fail "the holding terminal did not start"
  expect_exit 4 "upgrade while the terminal program runs" "$newer_setup" /S
  wait "$holder" || fail "the holding terminal failed"
  registered "$version"

  expect_exit 0 "upgrade to $newer_version" "$newer_setup" /S
  registered "$newer_version"
  log_has "Шаблон «Инкассация (чек).txt» изменён владельцем"
  sim kept <<'EOF'
expect reg "HKLM\Software\Velmor\Paylantra\Plugins\Tallymark\Bill Counters\Terminal\RUB" 100 = dword:1
expect reg "HKLM\Software\Velmor\Paylantra\Plugins\Tallymark\Bill Counters\Terminal\RUB" 50 = dword:1
expect reg "HKLM\Software\Velmor\Paylantra\Plugins\Tallymark\Bill Counters\Collect\RUB" 50 = dword:1
expect reg "HKLM\Software\Velmor\Paylantra\Plugins\Tallymark\Bill Counters\Collect\RUB" 1000 = missing
expect reg "HKLM\Software\Velmor\Paylantra\Plugins\Tallymark\Collect" Number = dword:1
expect reg "HKLM\Software\Velmor\Paylantra\Plugins\Tallymark\Collect\Summary\RUB" 1000 = dword:1
expect reg "HKLM\Software\Velmor\Paylantra\Plugins\Tallymark\Options" "Collect Receipt Count" = dword:5
expect file "C:\Terminal\PrintTemplates\Tallymark\Инкассация (чек).txt" Чек терминала №7
expect file "C:\Terminal\PrintTemplates\Tallymark\Инкассация (чек).txt.new" ЧЕК ИНКАССАЦИИ
expect no-file "C:\Terminal\PrintTemplates\Tallymark\Инкассация (отчёт).txt.new"
start
payment 100 RUB
expect reg "HKLM\Software\Velmor\Paylantra\Plugins\Tallymark\Bill Counters\Terminal\RUB" 100 = dword:2
exit
EOF
  ;;

remove)
  terminal
  expect_exit 0 "installation" "$setup" /S
  sim records <<'EOF'
start
payment 100 RUB
exit
reg "HKCU\Software\Velmor\Paylantra\Plugins\Tallymark\Options" "Collect Receipt Count" = dword:4
file "C:\Terminal\PrintTemplates\Tallymark\Инкассация (чек).txt" = Чек терминала №7
EOF
  # As a management tool runs it: the entry's QuietUninstallString, which waits and answers.
  expect_exit 0 "removal" "$folder/Tallymark-uninstall.exe" /S "_?=$plugin"
  for file in Tallymark.dll Tallymark.chm "Инкассация (отчёт).txt"; do
    [ ! -e "$folder/$file" ] && [ ! -e "$templates/$file" ] || fail "$file is still there after the removal"
  done
  [ -f "$templates/Инкассация (чек).txt" ] || fail "the changed template went with the removal"
  [ -n "$(ls "$drive/Terminal/Logs/Tallymark/" 2>/dev/null)" ] || fail "the operation log went with the removal"
  sim removed <<EOF
expect reg "HKCR\\CLSID\\${classes[0]}\\InProcServer32" "" = missing
expect reg "HKCR\\CLSID\\${classes[1]}\\InProcServer32" "" = missing
expect reg "HKLM\\Software\\Velmor\\Paylantra\\Plugins\\Tallymark" CLSID = missing
expect reg "HKLM\\Software\\Velmor\\Paylantra\\Control Plugins\\Tallymark" CLSID = missing
expect reg "HKLM\\Software\\Velmor\\Paylantra\\URL" collect = missing
expect reg $uninstall_key DisplayName = missing
expect reg "HKLM\\Software\\Velmor\\Paylantra\\Plugins\\Tallymark\\Bill Counters\\Terminal\\RUB" 100 = dword:1
expect reg "HKCU\\Software\\Velmor\\Paylantra\\Plugins\\Tallymark\\Options" "Collect Receipt Count" = dword:4
EOF
  # Installed again, it counts on; removed with /PURGE, the records go too.
  expect_exit 0 "installation after a removal" "$setup" /S
  sim counts-on <<'EOF'
start
payment 100 RUB
expect reg "HKLM\Software\Velmor\Paylantra\Plugins\Tallymark\Bill Counters\Terminal\RUB" 100 = dword:2
exit
EOF
  expect_exit 0 "removal with /PURGE" "$folder/Tallymark-uninstall.exe" /S /PURGE "_?=$plugin"
  for gone in "$templates" "$drive/Terminal/Logs/Tallymark" "$folder/Tallymark-setup.log" "$folder/Tallymark.dll"; do
    [ ! -e "$gone" ] || fail "$gone is still there after the removal with /PURGE"
  done
  sim purged <<'EOF'
expect reg "HKLM\Software\Velmor\Paylantra\Plugins\Tallymark\Bill Counters\Terminal\RUB" 100 = missing
expect reg "HKLM\Software\Velmor\Paylantra\Plugins\Tallymark\Options" "Collect Enabled" = missing
expect reg "HKCU\Software\Velmor\Paylantra\Plugins\Tallymark\Options" "Collect Receipt Count" = missing
expect reg "HKLM\Software\Velmor\Paylantra" "Root Path" = sz:C:\Terminal
EOF
  ;;
*)
  echo "usage: installer-test.sh install|upgrade|remove BUILD_DIR SETUP VERSION NEWER_SETUP NEWER_VERSION" >&2; exit 2 ;;
esac

if [ "$failures" -ne 0 ]; then echo "installer $group: $failures failure(s)"; exit 1; fi
echo "installer $group: passed"

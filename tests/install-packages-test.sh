#!/usr/bin/env bash
# tools/install-packages.sh against a fake apt on PATH: a broken index, the pinned route to the
# 32-bit Wine, a 32-bit Wine that cannot be had, and a package of the twin that cannot be had.
set -u
script="$(cd "$(dirname "$0")/.." && pwd)/tools/install-packages.sh"
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
mkdir -p "$work/bin"
cat > "$work/bin/dpkg-query" <<'FAKE'
#!/usr/bin/env bash
pkg="${!#}"; key="$pkg"; grep -q ':' <<<"$pkg" || key="$pkg:amd64"
line=$(grep -m1 -E "^($pkg|$key) " "$FAKE/installed") || exit 1
case "$2" in *Status*) echo -n "install ok installed" ;; *) echo -n "${line#* }" ;; esac
FAKE
cat > "$work/bin/dpkg" <<'FAKE'
#!/usr/bin/env bash
[ "$1" = --print-foreign-architectures ] && echo i386; exit 0
FAKE
cat > "$work/bin/apt-cache" <<'FAKE'
#!/usr/bin/env bash
grep "^$2|" "$FAKE/madison" | awk -F'|' -v p="$2" '{ print p " | " $2 " | http://mirror Packages" }'
FAKE
cat > "$work/bin/apt-get" <<'FAKE'
#!/usr/bin/env bash
echo "$*" >> "$FAKE/apt.log"
if [ "$1" = update ]; then
  [ -f "$FAKE/update-fails" ] && { echo "E: Failed to fetch http://mirror/i386/Packages.xz  File has unexpected size"; exit 100; }
  exit 0
fi
for want in $(cat "$FAKE/unavailable" 2>/dev/null); do
  case " $* " in *" $want "*) echo "E: Unable to locate package $want"; exit 100 ;; esac
done
if [[ " $* " == *" wine32:i386 "* ]]; then
  for pin in $(cat "$FAKE/needs-pins" 2>/dev/null); do
    case " $* " in *" $pin "*) ;; *)
      echo " libwine:i386 : Depends: ${pin%%=*} (>= 1.0) but it is not going to be installed"
      echo "E: Unable to correct problems, you have held broken packages."; exit 100 ;;
    esac
  done
fi
# A pin that would make apt remove a package unless that package is pinned too.
while read -r trigger removed fix; do
  [[ " $* " == *" $trigger "* && " $* " != *" $fix "* ]] || continue
  [[ " $* " == *" -s "* ]] && { echo "Inst ${trigger%%=*} [old] (${trigger#*=} Debian [amd64])"; echo "Remv $removed [old]"; exit 0; }
  echo "E: Packages need to be removed but remove is disabled."; exit 100
done < <(cat "$FAKE/removes" 2>/dev/null)
[[ " $* " == *" -s "* ]] && exit 0
for a in "$@"; do [[ "$a" == -* || "$a" == install ]] || echo "${a%%=*} 1" >> "$FAKE/installed"; done
FAKE
chmod +x "$work/bin/"*

failures=0
check() {  # WHAT CONDITION...
  local what="$1"; shift
  if "$@"; then echo "ok   $what"; else echo "FAIL $what"; failures=$((failures + 1)); fi
}
run() {  # CASE: a fresh fake machine, then the script over the packages of the case
  export FAKE="$work/$1"; mkdir -p "$FAKE"; : > "$FAKE/apt.log"
  printf 'libssl3:amd64 3.0.19\nzlib1g:amd64 1:1.2.13\ncmake 3.25\n' > "$FAKE/installed"
  printf 'libssl3:i386|3.0.20\nlibssl3:i386|3.0.17\nlibssl3:amd64|3.0.22\nlibssl3:amd64|3.0.20\nzlib1g:i386|1:1.2.13\n' > "$FAKE/madison"
}
install() { PATH="$work/bin:$PATH" "$script" "$FAKE/state" cmake wine64 wine32:i386 > "$FAKE/out" 2>&1; echo $? > "$FAKE/status"; }

run nothing-missing; echo "wine64 1" >> "$FAKE/installed"; echo "wine32:i386 1" >> "$FAKE/installed"; install
check "nothing missing: apt is not asked" test ! -s "$FAKE/apt.log"

run pinned; touch "$FAKE/update-fails"; printf 'libssl3:i386=3.0.20 libssl3:amd64=3.0.20 zlib1g:i386=1:1.2.13\n' > "$FAKE/needs-pins"
echo "libssl3:amd64=3.0.20 libssl-dev libssl-dev:amd64=3.0.20" > "$FAKE/removes"
printf 'libssl-dev:amd64|3.0.22\nlibssl-dev:amd64|3.0.20\n' >> "$FAKE/madison"; install
check "a failed index is told and the installation goes on" grep -q 'apt-get update failed for some indexes, going on with the rest: Failed to fetch' "$FAKE/out"
check "pinned route: both arches of a library meet at a shared version" \
  grep -q -- '-y -qq --no-remove --allow-downgrades --no-install-recommends wine32:i386 .*libssl3:i386=3.0.20 libssl3:amd64=3.0.20' "$FAKE/apt.log"
check "pinned route: an installed version that i386 has is kept" bash -c "grep -q 'zlib1g:i386=1:1.2.13' '$FAKE/apt.log' && ! grep -q 'zlib1g:amd64=' '$FAKE/apt.log'"
check "pinned route: a package tied to a pinned library follows it, never removed" \
  grep -q -- '--no-remove .*libssl-dev:amd64=3.0.20' "$FAKE/apt.log"
check "pinned route: exit 0 and no reason left" bash -c "[ \$(cat '$FAKE/status') = 0 ] && [ ! -e '$FAKE/state' ]"

run no-wine32; printf 'libgd3:i386=9\n' > "$FAKE/needs-pins"; install
check "no 32-bit Wine: the twin's packages are installed" grep -q '^wine64 ' "$FAKE/installed"
check "no 32-bit Wine: exit 0, apt's first error kept for the suite's line" \
  bash -c "[ \$(cat '$FAKE/status') = 0 ] && grep -qx 'Unable to correct problems, you have held broken packages.' '$FAKE/state'"

run twin-package-missing; echo wine64 > "$FAKE/unavailable"; install
check "a package the twin needs fails the run with apt's reason" \
  bash -c "[ \$(cat '$FAKE/status') = 1 ] && grep -q 'could not install .*wine64.*: Unable to locate package wine64' '$FAKE/out'"

[ $failures -eq 0 ] || { echo "$failures failed"; for f in "$work"/*/out; do echo "== $f"; cat "$f"; done; exit 1; }

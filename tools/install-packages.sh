#!/usr/bin/env bash
# Installs the Debian packages of the list that are missing:  install-packages.sh STATE PACKAGE...
# One bad index or one package that cannot be had never ends the installation. The i386 packages
# (the 32-bit Wine) are optional: when they cannot be installed, apt's reason goes into STATE and the
# i686 suite is skipped; everything else is needed by the 64-bit twin, and a failure there exits 1.
set -uo pipefail
state="$1"; shift
sudo=""; [ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
exec 4>&2  # what is said reaches the user also from inside captured output

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
first_error() { grep -m1 '^E: ' | sed 's/^E: //; s/[[:space:]]*$//'; }

required=() optional=()
for p in "$@"; do
  installed "$p" && continue
  case "$p" in *:i386) optional+=("$p") ;; *) required+=("$p") ;; esac
done
if [ ${#required[@]} -eq 0 ] && [ ${#optional[@]} -eq 0 ]; then rm -f "$state"; exit 0; fi

echo "tally: installing ${required[*]} ${optional[*]}" >&2
if [ ${#optional[@]} -ne 0 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi
if ! out=$($sudo apt-get update -qq 2>&1) || grep -q '^E: ' <<<"$out"; then
  echo "tally: apt-get update failed for some indexes, going on with the rest: $(first_error <<<"$out")" >&2
fi

if [ ${#required[@]} -ne 0 ]; then
  if ! out=$($sudo apt-get install -y -qq --no-remove --no-install-recommends "${required[@]}" 2>&1); then
    echo "tally: could not install ${required[*]}: $(first_error <<<"$out")" >&2
    exit 1
  fi
fi
[ ${#optional[@]} -eq 0 ] && { rm -f "$state"; exit 0; }

# The i386 libraries must be at their installed 64-bit twins' versions; when an index lags behind
# (a mirror in sync), apt's resolver gives up although both arches share a version. Pin each library
# that it names to the installed 64-bit version, or else to the newest version both arches have.
common_version() {  # LIB
  local have i386 amd64
  have=$(dpkg-query -W -f='${Version}' "$1:amd64" 2>/dev/null)
  i386=$(apt-cache madison "$1:i386" 2>/dev/null | awk -F' *[|] *' '{ print $2 }')
  if [ -n "$have" ] && grep -qxF -- "$have" <<<"$i386"; then echo "$have"; return; fi
  if [ -z "$have" ]; then head -n1 <<<"$i386"; return; fi
  amd64=$(apt-cache madison "$1:amd64" 2>/dev/null | awk -F' *[|] *' '{ print $2 }')
  grep -xF -f <(printf '%s\n' "$amd64") <<<"$i386" | head -n1
}

pin() {  # PACKAGE VERSION: once each
  case " ${pins[*]} " in *" $1="*) return 1 ;; esac
  pins+=("$1=$2")
}

# A 64-bit package that apt would remove or break for the pins (a -dev package tied to its library's
# exact version) goes to the version that the pins bring; packages are never removed for the 32-bit Wine.
pin_dependents() {  # SIMULATION-OUTPUT
  local line name version new
  new=$(sed -nE 's/^Inst [^ ]+ (\[[^]]*\] )?\(([^ ]+) .*/\2/p' <<<"$1"; sed -nE 's/.* but ([^ ]+) is to be installed$/\1/p' <<<"$1")
  while read -r name; do
    version=$(apt-cache madison "${name%:amd64}:amd64" 2>/dev/null | awk -F' *[|] *' '{ print $2 }' | grep -xF -f <(printf '%s\n' "$new") | head -n1)
    [ -n "$version" ] && pin "${name%:amd64}:amd64" "$version" && added=1
  done < <({ sed -nE 's/^Remv ([^ ]+) .*/\1/p' <<<"$1"; sed -nE 's/^ *([^ :]+(:amd64)?) : Depends: [^ ]+ \(= [^)]*\) but [^ ]+ is to be installed$/\1/p' <<<"$1"; } | sort -u)
}

pinned_install() {
  local pins=() round lib version have out added
  for round in 1 2 3 4 5 6 7 8 9 10 11 12; do
    out=$(apt-get install -s --no-install-recommends "${optional[@]}" "${pins[@]}" 2>&1)
    if [ $? -eq 0 ] && ! grep -q '^Remv ' <<<"$out"; then
      echo "tally: installing the 32-bit Wine with $(grep -o ':i386=' <<<"${pins[*]}" | wc -l) libraries pinned to their 64-bit twins' versions" >&4
      $sudo apt-get install -y -qq --no-remove --allow-downgrades --no-install-recommends "${optional[@]}" "${pins[@]}" 2>&1
      return
    fi
    added=0
    while read -r lib; do
      version=$(common_version "$lib")
      [ -n "$version" ] && pin "$lib:i386" "$version" || continue
      added=1
      have=$(dpkg-query -W -f='${Version}' "$lib:amd64" 2>/dev/null)
      [ -n "$have" ] && [ "$have" != "$version" ] && pin "$lib:amd64" "$version"
    done < <(grep -oE 'Depends: [^ ]+:i386' <<<"$out" | sed 's/^Depends: //; s/:i386$//' | sort -u)
    pin_dependents "$out"
    [ $added -eq 1 ] || break
  done
  grep -q '^Remv ' <<<"$out" && echo "E: installing it would remove $(sed -nE 's/^Remv ([^ ]+) .*/\1/p' <<<"$out" | head -n3 | tr '\n' ' ')"
  echo "$out"
  return 1
}

if out=$($sudo apt-get install -y -qq --no-remove --no-install-recommends "${optional[@]}" 2>&1) ||
   out2=$(pinned_install 2>&1); then
  rm -f "$state"
  exit 0
fi
reason=$(first_error <<<"$out")
[ -n "$reason" ] || reason=$(first_error <<<"$out2")
mkdir -p "$(dirname "$state")"
echo "${reason:-apt-get install failed}" > "$state"
echo "tally: the 32-bit Wine could not be installed ($(cat "$state")); the i686 suite will be skipped" >&2
exit 0

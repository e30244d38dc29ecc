#!/usr/bin/env bash
# Runs the Linux build and the Windows build (under Wine) on the same random
# matrices and compares their reports. Equal reports are the rule; a report may
# differ only where one number is one unit apart in its last printed place (a C
# runtime's pow, sqrt, cos or atan2 rounding its last bit the other way). Each
# difference is shown with its case; any other difference makes the status 1.
#   tools/compare_reports.sh [count] [linux build folder] [windows build folder]
set -uo pipefail
export LC_ALL=C
count=${1:-50}
linux=$(realpath "${2:-build}")
windows=$(realpath "${3:-build-windows}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export WINEPREFIX="$windows/wineprefix" WINEDEBUG=-all DISPLAY=
RANDOM=1  # the same matrices every time
entry() {
  case $((RANDOM % 3)) in
    0) echo $((RANDOM % 19 - 9)) ;;
    1) printf '%d.%04d\n' $((RANDOM % 200 - 100)) $((RANDOM % 10000)) ;;
    *) printf '%d.%d%d\n' $((RANDOM % 20 - 10)) $RANDOM $RANDOM ;;
  esac
}

# True when two lines are the same but for their last number, whose mantissas (sign
# and point in the same places, the same exponent) are one unit apart.
last_place_only() {
  local a=${1%$'\r'} b=${2%$'\r'}
  [[ ${a% *} == "${b% *}" ]] || return 1
  local x=${a##* } y=${b##* }
  [[ ${x#*[Ee]} == "${y#*[Ee]}" || ($x != *[Ee]* && $y != *[Ee]*) ]] || return 1
  x=${x%%[Ee]*} y=${y%%[Ee]*}
  [[ ${#x} == "${#y}" && ${x//[0-9]/} == "${y//[0-9]/}" && -n ${x//[^0-9]/} ]] || return 1
  local unit=$((10#${x//[^0-9]/} - 10#${y//[^0-9]/}))
  ((unit == 1 || unit == -1))
}

# Prints the differing lines of two reports; false when one of them is more than a
# last-place difference.
compare() {
  local -a L W
  mapfile -t L < "$1"
  mapfile -t W < "$2"
  if ((${#L[@]} != ${#W[@]})); then
    echo "  $1: ${#L[@]} lines, $2: ${#W[@]} lines"
    return 1
  fi
  local i only_last=0
  for ((i = 0; i < ${#L[@]}; ++i)); do
    [[ ${L[i]} == "${W[i]}" ]] && continue
    if last_place_only "${L[i]}" "${W[i]}"; then
      echo "  last place: ${L[i]%$'\r'}  |  ${W[i]##* }"
    else
      echo "  line $((i + 1)): ${L[i]%$'\r'}  |  ${W[i]%$'\r'}"
      only_last=1
    fi
  done
  return $only_last
}

last_place=0 other=0
for ((i = 1; i <= count; ++i)); do
  rm -f "$work/linux.txt"
  for ((k = 0; k < 9; ++k)); do entry; done > "$work/input"
  (cd "$work" && "$linux/invar" < input > /dev/null 2>&1 && mv invar.txt linux.txt)
  rm -f "$WINEPREFIX/drive_c/invar.txt"
  "$windows/wine-run" "$windows/invar.exe" < "$work/input" > /dev/null 2> "$work/errors"
  status=$?
  cp "$WINEPREFIX/drive_c/invar.txt" "$work/windows.txt" 2>/dev/null || : > "$work/windows.txt"
  cmp -s "$work/linux.txt" "$work/windows.txt" && continue
  echo "case $i: $(tr '\n' ' ' < "$work/input")"
  # A missing report says why, as far as the Windows run told.
  [[ -s $work/windows.txt ]] || { echo "  the Windows run ended with status $status"; head -5 "$work/errors"; }
  if compare "$work/linux.txt" "$work/windows.txt"; then
    last_place=$((last_place + 1))
  else
    other=$((other + 1))
  fi
done
echo "$count matrices: $((count - last_place - other)) reports equal, $last_place differ in a last place only, $other differ otherwise"
((other == 0))

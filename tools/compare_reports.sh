#!/usr/bin/env bash
# Runs the Linux build and the Windows build (under Wine) on the same random
# matrices and compares their reports byte for byte. A difference names the case
# and shows the differing lines; it is expected only where a C runtime's pow, sqrt,
# cos or atan2 rounds its last place differently.
#   tools/compare_reports.sh [count] [linux build folder] [windows build folder]
set -uo pipefail
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
differ=0
for ((i = 1; i <= count; ++i)); do
  rm -f "$work/linux.txt"
  for ((k = 0; k < 9; ++k)); do entry; done > "$work/input"
  (cd "$work" && "$linux/invar" < input > /dev/null 2>&1 && mv invar.txt linux.txt)
  rm -f "$WINEPREFIX/drive_c/invar.txt"
  "$windows/wine-run" "$windows/invar.exe" < "$work/input" > /dev/null 2>&1
  if ! cmp -s "$work/linux.txt" "$WINEPREFIX/drive_c/invar.txt"; then
    differ=$((differ + 1))
    echo "case $i: $(tr '\n' ' ' < "$work/input")"
    diff "$work/linux.txt" "$WINEPREFIX/drive_c/invar.txt" | grep -a '^[<>]'
  fi
done
echo "$count matrices, $differ reports differ"

#!/bin/sh
# Checks the Debian package that `make package` made in the build folder BUILD: its
# control fields; its files against tests/install/installed_files.txt, under /usr,
# owned by root, the programs 0755, every other file 0644 and every folder 0755; and
# lintian's verdict, which must hold no error (skipped, with a message, where lintian
# is not installed).
#
#   tools/check_package.sh BUILD
set -eu
build=$1
root=$(cd "$(dirname "$0")/.." && pwd)
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
deb=$build/invar_${version}_amd64.deb
failed=0
fail() {
  printf 'check_package: %s\n' "$*" >&2
  failed=1
}
[ -n "$version" ] && [ -f "$deb" ] || { fail "no package $deb"; exit 1; }

expect_field() {
  value=$(dpkg-deb -f "$deb" "$1")
  case "$value" in
    $2) ;;
    *) fail "$1: \"$value\", expected $2" ;;
  esac
}
expect_field Package invar
expect_field Version "$version"
expect_field Architecture amd64
expect_field Section math
expect_field Maintainer '*?<*@*>'
expect_field Depends 'libc6 (>= *)*'
expect_field Recommends 'libx11-6, libxext6, libgl1'

listing=$(dpkg-deb -c "$deb" | awk '{ print $1, $2, $6 }')
wrong=$(printf '%s\n' "$listing" | awk '
  $2 != "root/root" { print; next }
  $1 ~ /^d/ { if ($1 != "drwxr-xr-x") print; next }
  $1 !~ /^-/ { print; next }
  $3 ~ /^\.\/usr\/bin\// { if ($1 != "-rwxr-xr-x") print; next }
  $1 != "-rw-r--r--" { print }')
[ -z "$wrong" ] || fail "owner, mode or kind wrong: $wrong"
files=$(printf '%s\n' "$listing" | awk '$1 ~ /^-/ { sub(/^\.\/usr\//, "", $3); print $3 }' | sort)
expected=$(sort "$root/tests/install/installed_files.txt")
if [ "$files" != "$expected" ]; then
  fail "file list differs from tests/install/installed_files.txt (- expected, + packaged):"
  printf '%s\n' "$expected" > "$build/expected_files.txt"
  printf '%s\n' "$files" | diff "$build/expected_files.txt" - >&2 || true
fi

if command -v lintian >/dev/null; then
  lintian --fail-on error "$deb" || fail "lintian reports an error"
else
  echo "check_package: lintian is not installed, its check skipped (apt-get install lintian)"
fi
[ "$failed" = 0 ] || exit 1
echo "check_package: $deb: $(stat -c %s "$deb") bytes, $(printf '%s\n' "$files" | wc -l) files, fields and files as expected"

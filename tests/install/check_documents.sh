#!/bin/sh
# The installed desktop entry passes desktop-file-validate without a word, and each
# installed manual page renders with man without a warning and holds its sections.
# Exits 77 (skipped) where desktop-file-utils or man-db is not installed.
#   check_documents.sh PREFIX
prefix=$1
for tool in desktop-file-validate:desktop-file-utils man:man-db; do
  if ! command -v "${tool%%:*}" >/dev/null; then
    echo "skipped: ${tool%%:*} is not installed (apt-get install ${tool#*:})"
    exit 77
  fi
done
status=0
entry=$prefix/share/applications/invar.desktop
said=$(desktop-file-validate "$entry" 2>&1) || status=1
[ -z "$said" ] || { printf '%s:\n%s\n' "$entry" "$said"; status=1; }
for page in "$prefix"/share/man/man1/invar.1.gz "$prefix"/share/man/man1/glscreen.1.gz; do
  warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || { printf '%s:\n%s\n' "$page" "$warnings"; status=1; }
  sections=$(LC_ALL=C.UTF-8 MANWIDTH=80 man -E UTF-8 -l "$page" 2>/dev/null | grep -c '^\(NAME\|SYNOPSIS\|OPTIONS\|EXIT STATUS\)$')
  [ "$sections" = 4 ] || { echo "$page: NAME, SYNOPSIS, OPTIONS or EXIT STATUS missing"; status=1; }
done
exit $status

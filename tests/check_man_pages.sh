#!/usr/bin/env bash
# Renders each manual page given as man shows it in 80 columns and fails on
# a warning from groff, a line wider than 80 columns or punctuation set
# apart by a space (a macro's last argument split from its full stop).
# Skipped (status 77) where man is not installed.
#   check_man_pages.sh page.1...
set -u
if ! command -v man >/dev/null; then
  echo "man is not installed (Debian: man-db): skipped"
  exit 77
fi
status=0
for page in "$@"; do
  failed=0
  # The C locale renders in ASCII, so that a byte is a column.
  text=$(LC_ALL=C MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
  if [[ -n $text ]]; then
    echo "$page: $text"
    failed=1
  fi
  wide=$(LC_ALL=C MANWIDTH=80 man -l "$page" 2>/dev/null | awk 'length > 80 || / [.,;:]( |$)/ { print NR ": " $0 }')
  if [[ -n $wide ]]; then
    echo "$page: wider than 80 columns, or a stray space before punctuation:"
    echo "$wide"
    failed=1
  fi
  if [[ $failed == 0 ]]; then echo "$page: ok"; else status=1; fi
done
exit $status

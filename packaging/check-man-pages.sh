#!/usr/bin/env bash
# The man pages format without a warning, and the renderer's page shows every
# option its --help names (the page is made from that text; this catches a
# generator that drops or mangles a part of it).
#   check-man-pages.sh VELLORAN-RENDER PAGE...
set -euo pipefail
program=$1
shift
for page in "$@"; do
  warnings=$(groff -man -Tutf8 -ww -z "$page" 2>&1)
  if [ -n "$warnings" ]; then
    echo "$page: $warnings" >&2
    exit 1
  fi
done
renderer_page=$(printf '%s\n' "$@" | grep 'velloran-render\.1$')
shown=$(MANWIDTH=200 man -l "$renderer_page" 2>/dev/null | col -b)
missing=0
for option in $("$program" --help | grep -o -- '--[a-z][a-z-]*' | sort -u); do
  if ! grep -q -- "$option" <<<"$shown"; then
    echo "$renderer_page: $option is missing" >&2
    missing=1
  fi
done
version=$("$program" --version | awk '{print $2}')
grep -q "velloran-render $version" <<<"$shown" || { echo "$renderer_page: not version $version" >&2; exit 1; }
exit $missing

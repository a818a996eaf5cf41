#!/usr/bin/env bash
# The README's pictures stay true: the script that makes them still makes its PNG files.
# Usage: screenshots-test.sh BUILD-FOLDER SOURCE-FOLDER
set -euo pipefail
build="$1" source="$2"
out="$(mktemp -d -t kelvane-screenshots-test-XXXXXX)"
trap 'rm -rf "$out"' EXIT
"$source/scripts/screenshots.sh" "$out" "$build"
for picture in join-page downloading no-request; do
  file="$out/$picture.png"
  [ -s "$file" ] || { echo "screenshots-test: $picture.png is missing or empty" >&2; exit 1; }
  [ "$(head -c 8 "$file" | od -An -tx1 | tr -d ' \n')" = "89504e470d0a1a0a" ] ||
    { echo "screenshots-test: $picture.png is no PNG file" >&2; exit 1; }
done
echo "screenshots-test: every picture made"

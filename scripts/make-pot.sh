#!/usr/bin/env bash
# Writes the message catalogue template: every text the customer reads, from the program
# (calls of `localized`), its own pages, the desktop entry and the AppStream data.
#   scripts/make-pot.sh LOCALIZE_PAGE_TOOL OUTPUT
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
tool="$1"
output="$2"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$top"

common=(--from-code=UTF-8 --add-comments=TRANSLATORS: --sort-by-file --no-wrap --add-location=file
        --package-name="Orvo Tendra - Kelvane" --msgid-bugs-address=support@orvo.com)
find src -name '*.cpp' -o -name '*.h' | LC_ALL=C sort >"$work/sources"
xgettext "${common[@]}" --language=C++ -k --keyword=localized --files-from="$work/sources" \
  -o "$work/program.pot"
xgettext "${common[@]}" --language=Desktop packaging/com.Orvo.Tendra.OrvoTendraKelvane.desktop \
  -o "$work/entry.pot"
xgettext "${common[@]}" packaging/com.orvo.tendra.orvotendrakelvane.metainfo.xml \
  -o "$work/metainfo.pot"
"$tool" extract src/resources/pages/*.html >"$work/pages.po"
msgcat --use-first --no-wrap --sort-by-file --add-location=file "$work/program.pot" "$work/pages.po" \
  "$work/entry.pot" "$work/metainfo.pot" -o "$work/all.pot"
# The dates say nothing of the texts; without them the template only changes with them.
grep -v '^"POT-Creation-Date: ' "$work/all.pot" >"$output"

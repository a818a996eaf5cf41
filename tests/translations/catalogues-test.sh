#!/usr/bin/env bash
# Every shipped catalogue translates every message the customer can meet, the template is
# current with the sources, and the translated menu entry and AppStream data still validate.
# Usage: catalogues-test.sh BUILD-FOLDER SOURCE-FOLDER LOCALIZE-PAGE-TOOL
set -euo pipefail
build="$1" source="$2" tool="$3"
work="$(mktemp -d -t kelvane-catalogues-XXXXXX)"
trap 'rm -rf "$work"' EXIT
failed=0
fail() { echo "catalogues-test: $*" >&2; failed=1; }

"$source/scripts/make-pot.sh" "$tool" "$work/current.pot"
# Comments and references aside, the committed template has the sources' messages.
strip() { msgcat --no-location --no-wrap --sort-output "$1" | grep -v '^#'; }
if ! diff <(strip "$source/po/orvo-tendra-kelvane.pot") <(strip "$work/current.pot") >"$work/diff"; then
  cat "$work/diff" >&2
  fail "po/orvo-tendra-kelvane.pot is out of date: build the kelvane-pot target and msgmerge the catalogues"
fi

while read -r language; do
  case "$language" in ''|'#'*) continue ;; esac
  po="$source/po/$language.po"
  [ -f "$po" ] || { fail "po/LINGUAS names $language, which has no catalogue"; continue; }
  # msgcmp counts neither untranslated nor fuzzy messages as translated.
  msgcmp "$po" "$work/current.pot" 2>"$work/msgcmp" || { cat "$work/msgcmp" >&2; fail "$language misses messages"; }
  msgfmt --check --check-accelerators=_ -o /dev/null "$po" || fail "$language does not compile cleanly"
  [ -z "$(msgattrib --only-fuzzy "$po")" ] || fail "$language has fuzzy messages"
done <"$source/po/LINGUAS"

entry="$build/Orvo Tendra Kelvane.app/Contents/Resources/com.Orvo.Tendra.OrvoTendraKelvane.desktop"
desktop-file-validate "$entry" || fail "the translated menu entry does not validate"
grep -q '^Keywords\[de\]=.*Fernwartung' "$entry" || fail "a German search for Fernwartung finds nothing"
appstreamcli validate --no-net "$build/packaging/com.orvo.tendra.orvotendrakelvane.metainfo.xml" ||
  fail "the translated AppStream data do not validate"
exit "$failed"

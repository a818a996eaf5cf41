#!/usr/bin/env bash
# Builds, runs every benchmark in one go, prints each one's own report and then one table of
# all figures, measured side by side in this run.
# Usage: bench/run-all.sh
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default >/dev/null
if [ -z "${DISPLAY:-}" ]; then exec xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" dbus-run-session -- "$0" "$@"; fi
rows="$(mktemp)"
trap 'rm -f "$rows"' EXIT
when="$(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores"
for bench in join-page-start agent-provisioning self-update-staging disk-image-mount; do
  echo "-- $bench"
  "bench/$bench.sh" build 2>/dev/null | grep -vE '^(xorriso|dbus|Spi|$)' | tee -a "$rows" | grep -v '^row|' || true
done
echo
echo "== $when =="
echo "| Figure | Application | Yardstick | Yardstick's figure | Ratio | Target |"
echo "|---|---|---|---|---|---|"
grep '^row|' "$rows" | awk -F'|' '{ line = "|"; for (i = 2; i <= NF; ++i) line = line " " $i " |"; print line }'

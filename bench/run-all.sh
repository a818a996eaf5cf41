#!/usr/bin/env bash
# Builds, then runs every benchmark in one go and prints their figures one after another.
# Usage: bench/run-all.sh
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build >/dev/null
if [ -z "${DISPLAY:-}" ]; then exec xvfb-run -a -s "-screen 0 1280x1024x24" dbus-run-session -- "$0" "$@"; fi
echo "== $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores =="
for bench in join-page-start agent-provisioning self-update-staging disk-image-mount; do
  echo
  echo "-- $bench"
  "bench/$bench.sh" build 2>/dev/null | grep -vE '^(xorriso|dbus|Spi|$)'
done

#!/usr/bin/env bash
# Installs what is missing, builds, and starts the application (under a virtual X display
# when there is none). Arguments go to the application, e.g. -KelvaneToken T -DC eu.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build

app="build/Orvo Tendra Kelvane.app/Contents/MacOS/OrvoTendraKelvane"
echo "Log: \$HOME/Library/Logs/OrvoTendra/OrvoKelvane/orvoKelvane.log"
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24" dbus-run-session -- "$app" "$@"
fi
exec "$app" "$@"

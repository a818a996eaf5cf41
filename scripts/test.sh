#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test under a virtual X display and a
# private session bus. Extra arguments go to ctest.
# KELVANE_SANITIZE=address|thread builds and tests a sanitizer build in its own folder.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh

sanitize="${KELVANE_SANITIZE:-}"
build="build${sanitize:+-$sanitize}"
cmake -S . -B "$build" -G Ninja -DKELVANE_SANITIZE="$sanitize" >/dev/null
cmake --build "$build"

export GTK_A11Y=none
if [ "$sanitize" = thread ]; then
  export TSAN_OPTIONS="second_deadlock_stack=1 suppressions=$PWD/tests/tsan.supp"
fi
run=(ctest --test-dir "$build" --output-on-failure -j2 "$@")
if [ -z "${DISPLAY:-}" ]; then run=(xvfb-run -a -s "-screen 0 1280x1024x24" "${run[@]}"); fi
exec dbus-run-session -- "${run[@]}"

#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test under a virtual X display and a
# private session bus. Extra arguments go to ctest.
# KELVANE_SANITIZE=address|thread builds and tests a sanitizer build in its own folder.
#
# Customers are never root, so neither are the tests: started as root, this script installs
# the packages and then builds and tests as the ordinary account "kelvane-tester" (made when
# missing). The disk-image and file-copy checks then run once more as root, since root
# ignores the permission bits those checks are about.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh

sanitize="${KELVANE_SANITIZE:-}"
build="build${sanitize:+-$sanitize}"
tester=kelvane-tester

if [ "$(id -u)" -eq 0 ] && [ -z "${KELVANE_TESTS_DROPPED:-}" ]; then
  if ! id -u "$tester" >/dev/null 2>&1; then
    useradd --create-home --shell /bin/bash --comment "Orvo Tendra Kelvane tests" "$tester"
  fi
  tester_home="$(getent passwd "$tester" | cut -d: -f6)"
  as_tester=(setpriv --reuid="$tester" --regid="$tester" --init-groups
             env -u XDG_RUNTIME_DIR HOME="$tester_home" USER="$tester" LOGNAME="$tester" KELVANE_TESTS_DROPPED=1)
  checkout="$PWD"
  if ! "${as_tester[@]}" test -r "$checkout/CMakeLists.txt"; then
    # The checkout lies where the account cannot reach it (under /root, say): it tests a copy.
    checkout="$tester_home/checkout"
    mkdir -p "$checkout"
    # A fresh copy of the sources each time; only the build folders are kept, to build on.
    find "$checkout" -mindepth 1 -maxdepth 1 ! -name 'build*' -exec rm -rf {} +
    tar --exclude='./build*' -cf - . | tar -xf - -C "$checkout"
    chown -R "$tester:" "$checkout"
  fi
  mkdir -p "$checkout/$build"
  own_build() {
    # The Debian 13 root kept there is root's, as a system's files are.
    find "$checkout/$build" -path "$checkout/$build/debian13-root" -prune -o -exec chown -h "$tester:" {} +
  }
  own_build
  status=0
  (cd "$checkout" && "${as_tester[@]}" ./scripts/test.sh "$@") || status=$?
  if [ "$status" -eq 0 ] && [ $# -eq 0 ]; then
    echo "test: the disk-image and copy checks again, and the Debian 13 root, as root"
    (cd "$checkout" && KELVANE_TESTS_DROPPED=1 ./scripts/test.sh -R '^(DiskImageTool|FileManager|Debian13)\.') || status=$?
    own_build
  fi
  exit "$status"
fi

cmake --preset "${sanitize:-default}" >/dev/null
cmake --build --preset "${sanitize:-default}"

export GTK_A11Y=none
if [ "$sanitize" = thread ]; then
  export TSAN_OPTIONS="second_deadlock_stack=1 suppressions=$PWD/tests/tsan.supp"
fi
run=(ctest --test-dir "$build" --output-on-failure -j2 "$@")
if [ -z "${DISPLAY:-}" ]; then run=(xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" "${run[@]}"); fi
exec dbus-run-session -- "${run[@]}"

#!/usr/bin/env bash
# The build of this machine on a Debian 13 system, as a customer there has it: in a Debian 13
# root made with debootstrap (kept in the build folder between runs), the package installs
# with apt, its AppArmor profile parses with that release's parser, and the bundle starts as an
# ordinary account under Xvfb against the substitute server (outside the root, on loopback).
# A chroot refuses user namespaces, so the join page must load without the web sandbox, with
# the log line that says so. On the accessibility bus the join page's fields are reachable from
# the application's window, as Debian 13's GTK and web engine allow.
# Usage: debian13-test.sh BUILD-FOLDER SOURCE-FOLDER. Needs root; skipped (77) otherwise.
set -euo pipefail
build="$(cd "$1" && pwd)" source="$2"
if [ "$(id -u)" -ne 0 ]; then
  echo "debian13-test: making and entering a Debian 13 root needs root; skipped"
  exit 77
fi
if ! grep -q '^KELVANE_SANITIZE:STRING=$' "$build/CMakeCache.txt"; then
  echo "debian13-test: a sanitizer build is no customer's; skipped"
  exit 77
fi
root="$build/debian13-root"
mirror="${KELVANE_DEBIAN_MIRROR:-http://deb.debian.org/debian}"
account=customer
work="$(mktemp -d -t kelvane-debian13-XXXXXX)"
pids=() mounts=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
  # Anything the account left running inside the root holds its mounts.
  if [ -d "$root/proc/1" ]; then chroot "$root" pkill -KILL -u "$account" 2>/dev/null || true; fi
  for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do umount -l "${mounts[$i]}" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "debian13-test: $*" >&2; exit 1; }

# The root: minbase with what the run needs; a half-made one is made again.
if [ ! -e "$root/.kelvane-ready" ]; then
  rm -rf "$root"
  debootstrap --variant=minbase --include=ca-certificates,xvfb,xauth,dbus,apparmor,procps \
    trixie "$root" "$mirror" >"$work/debootstrap.log" 2>&1 ||
    { tail -20 "$work/debootstrap.log"; fail "debootstrap failed"; }
  touch "$root/.kelvane-ready"
fi
cp /etc/resolv.conf "$root/etc/resolv.conf"
# No /sys: the package's scripts must not load a profile into this machine's kernel.
mount -t proc proc "$root/proc" && mounts+=("$root/proc")
mount --rbind /dev "$root/dev" && mount --make-rslave "$root/dev" && mounts+=("$root/dev")

# The package, with its dependencies, by apt.
(cd "$build" && cpack -G DEB -B "$work/out" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; fail "cpack failed"; }
cp "$(ls "$work"/out/*.deb)" "$root/tmp/orvo-tendra-kelvane.deb"
chroot "$root" apt-get update -qq >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; fail "apt-get update failed"; }
DEBIAN_FRONTEND=noninteractive chroot "$root" apt-get install -y -qq --no-install-recommends \
  /tmp/orvo-tendra-kelvane.deb at-spi2-core python3-gi gir1.2-atspi-2.0 >>"$work/apt.log" 2>&1 || { tail -30 "$work/apt.log"; fail "the package does not install with apt on Debian 13"; }
chroot "$root" dpkg-query -W -f='${Status}' orvo-tendra-kelvane | grep -q 'install ok installed' ||
  fail "the package is not installed"
[ -e "$root/etc/apparmor.d/orvo-tendra-kelvane" ] || fail "the AppArmor profile was not put in place"
chroot "$root" apparmor_parser --skip-kernel-load --skip-cache -Q /etc/apparmor.d/orvo-tendra-kelvane ||
  fail "Debian 13's apparmor_parser refuses the profile"

# The bundle as the engineer's file brings it, in an ordinary account's Downloads.
chroot "$root" id -u "$account" >/dev/null 2>&1 || chroot "$root" useradd --create-home "$account"
home="$root/home/$account"
bundle="/home/$account/Downloads/Orvo Tendra Kelvane.app"
rm -rf "$home/Downloads" "$home/Library"
mkdir -p "$home/Downloads"
cp -a "$build/Orvo Tendra Kelvane.app" "$root$bundle"

"$build/substitute-server" --port-file "$work/port" --ca-out "$work/ca.pem" >"$work/server.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.1; done
host="127.0.0.1:$(cat "$work/port")"
admin() { curl -s --cacert "$work/ca.pem" "$@"; }
admin -X POST "https://$host/__admin/test-script" \
  -d '{"steps":[{"name":"getSystemOs","body":""}],"settleMs":0}' >/dev/null
"$source/scripts/write-deployment.sh" "$root$bundle/Contents/Resources/Deployment.plist" "$host"
cp "$work/ca.pem" "$root/tmp/kelvane-ca.pem"
cp "$source/tests/debian13/page-reachable.py" "$root/tmp/page-reachable.py"
# The application and a screen reader's view of it, on one session and accessibility bus.
cat >"$root/tmp/run-and-read.sh" <<'SCRIPT'
#!/bin/sh
"$1" -KelvaneToken T-13 -DC com -pathForKelvane join &
while [ ! -e /tmp/kelvane-page-loaded ]; do sleep 0.2; done
/usr/bin/python3 /tmp/page-reachable.py 30 >/tmp/kelvane-page-reachable.txt 2>&1
echo $? >/tmp/kelvane-page-reachable.rc
wait
SCRIPT
chmod 755 "$root/tmp/run-and-read.sh"
rm -f "$root/tmp/kelvane-page-loaded" "$root/tmp/kelvane-page-reachable.rc"
chroot "$root" chown -R "$account:" "/home/$account"

chroot --userspec="$account:$account" "$root" env -i HOME="/home/$account" USER="$account" \
  PATH=/usr/bin:/bin SSL_CERT_FILE=/tmp/kelvane-ca.pem \
  xvfb-run -a -s "-screen 0 1280x1024x24" dbus-run-session -- \
  /tmp/run-and-read.sh "$bundle/Contents/MacOS/OrvoTendraKelvane" >"$work/app.log" 2>&1 &
pids+=($!)
log="$home/Library/Logs/OrvoTendra/OrvoKelvane/orvoKelvane.log"
for _ in $(seq 1200); do
  if admin "https://$host/__admin/replies" | grep -q '"replies"'; then
    admin "https://$host/__admin/requests" | grep -q 'T-13' || fail "the join page was not asked for with the request's token"
    grep -q "The join page runs without the web engine's sandbox: this system does not let it make a user namespace" "$log" ||
      { cat "$log"; fail "no line says the page runs without the sandbox"; }
    touch "$root/tmp/kelvane-page-loaded"
    for _ in $(seq 400); do [ -s "$root/tmp/kelvane-page-reachable.rc" ] && break; sleep 0.1; done
    cat "$root/tmp/kelvane-page-reachable.txt" 2>/dev/null || true
    [ "$(cat "$root/tmp/kelvane-page-reachable.rc" 2>/dev/null)" = 0 ] ||
      fail "a screen reader cannot reach the join page's fields from the window"
    echo "debian13-test: the package installs with apt on Debian 13, its AppArmor profile parses, and the bundle loads the join page there without the sandbox, saying why; a screen reader reaches the page's fields from the window"
    exit 0
  fi
  sleep 0.1
done
cat "$work/app.log"
[ -e "$log" ] && tail -40 "$log"
fail "the bundle did not load the join page on Debian 13 within 120 s"

#!/usr/bin/env bash
# Prints the time from the self-update check's answer to the newer build being staged, with a
# 200 MB update image on loopback, beside the same steps by hand (curl, the disk-image tool,
# cp -R), and the application's resident memory at idle and its growth during the download.
# Usage: bench/self-update-staging.sh [build folder]
set -euo pipefail
cd "$(dirname "$0")/.."
build="$(cd "${1:-build}" && pwd)"
work="$(mktemp -d -t kelvane-bench-XXXXXX)"
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; chmod -R u+w "$work" 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
if [ -z "${DISPLAY:-}" ]; then exec xvfb-run -a -s "-screen 0 1280x1024x24" dbus-run-session -- "$0" "$@"; fi
export GTK_A11Y=none

stage="$work/stage"; mkdir -p "$stage"
cp -a "$build/update/Orvo Tendra Kelvane.app" "$stage/"
head -c $((200 * 1024 * 1024)) /dev/urandom >"$stage/Orvo Tendra Kelvane.app/Contents/Resources/payload"
image="$work/OrvoTendraKelvane.dmg"
./scripts/make-image.sh --volume "Kelvane Plugin" --output "$image" "$stage/Orvo Tendra Kelvane.app" 2>/dev/null

"$build/substitute-server" --port-file "$work/port" --ca-out "$work/ca.pem" --kelvane-image "$image" --offer-update \
  >"$work/server.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.1; done
host="127.0.0.1:$(cat "$work/port")"
admin() { curl -s --cacert "$work/ca.pem" "$@"; }
# When the server first received a request for the path (its record's keys are sorted).
received_at() {
  admin "https://$host/__admin/requests" | tr -d ' \n' |
    { grep -o "\"path\":\"$1\",\"query\":\"[^\"]*\",\"receivedAt\":[0-9.]*" || true; } |
    head -1 | sed 's/.*"receivedAt"://'
}

bundle="$work/Orvo Tendra Kelvane.app"
cp -a "$build/Orvo Tendra Kelvane.app" "$bundle"
echo "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>com</key><string>$host</string></dict></plist>" \
  >"$bundle/Contents/Resources/Deployment.plist"
export SSL_CERT_FILE="$work/ca.pem" KELVANE_VOLUMES_ROOT="$work/volumes"
home="$work/home"; mkdir -p "$home"
log="$home/Library/Logs/OrvoTendra/OrvoKelvane/orvoKelvane.log"
HOME="$home" "$bundle/Contents/MacOS/OrvoTendraKelvane" -DC com -pathForKelvane join >/dev/null 2>&1 &
app=$!
pids+=("$app")
rss() { awk '/VmRSS/ { print $2 }' "/proc/$app/status" 2>/dev/null || echo 0; }
until [ -n "$(received_at /api/v1/customer_plugin/check_update)" ]; do sleep 0.01; done
idle="$(rss)"; peak="$idle"
until grep -q "file copied to  OrvoKelvaneNative folder" "$log" 2>/dev/null; do
  current="$(rss)"; [ "$current" -gt "$peak" ] && peak="$current"
  sleep 0.05
done
staged="$(date +%s.%N)"
asked="$(received_at /api/v1/customer_plugin/check_update)"
app_seconds="$(echo "$staged - $asked" | bc -l)"
kill "$app"; wait "$app" 2>/dev/null || true

manual="$work/manual"; mkdir -p "$manual"
start="$(date +%s.%N)"
curl -s --cacert "$work/ca.pem" -o "$manual/OrvoTendraKelvane.dmg" "https://$host/agent/OrvoTendraKelvane.dmg"
KELVANE_VOLUMES_ROOT="$work/manual-volumes" "$bundle/Contents/MacOS/kelvane-hdiutil" mount "$manual/OrvoTendraKelvane.dmg" >/dev/null
cp -R "$work/manual-volumes/Kelvane Plugin/Orvo Tendra Kelvane.app" "$manual/"
end="$(date +%s.%N)"
manual_seconds="$(echo "$end - $start" | bc -l)"

printf 'self-update staging, 200 MB image:\n'
printf '  application        %6.2f s\n' "$app_seconds"
printf '  by hand            %6.2f s\n' "$manual_seconds"
awk -v a="$app_seconds" -v b="$manual_seconds" 'BEGIN { printf "  ratio              %6.2f\n", a / b }'
printf 'resident memory: %d KiB at idle on the join page, growth during the download %d KiB\n' "$idle" "$((peak - idle))"

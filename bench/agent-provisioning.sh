#!/usr/bin/env bash
# Prints the time from a join (the server receiving the agent update check) to the agent's
# start with a 200 MB agent image on loopback, beside the same steps done by hand (curl
# download, the disk-image tool, cp -R, starting the agent), and how much the application's
# resident memory grows during the download.
# Usage: bench/agent-provisioning.sh [build folder]
set -euo pipefail
cd "$(dirname "$0")/.."
build="$(cd "${1:-build}" && pwd)"
work="$(mktemp -d -t kelvane-bench-XXXXXX)"
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; chmod -R u+w "$work" 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
if [ -z "${DISPLAY:-}" ]; then exec xvfb-run -a -s "-screen 0 1280x1024x24" dbus-run-session -- "$0" "$@"; fi
export GTK_A11Y=none

# A 200 MB agent image: the stand-in agent with a large payload, and its companions.
stage="$work/stage"; mkdir -p "$stage"
cp -a "$build/agent/Orvo.app" "$stage/"
head -c $((200 * 1024 * 1024)) /dev/urandom >"$stage/Orvo.app/Contents/payload"
image="$work/OrvoMac.dmg"
./scripts/make-image.sh --volume Orvo --output "$image" "$stage/Orvo.app" "$build"/agent/companions/*
echo "agent image: $(du -m "$image" | cut -f1) MB"

"$build/substitute-server" --port-file "$work/port" --ca-out "$work/ca.pem" --agent-image "$image" >"$work/server.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.1; done
host="127.0.0.1:$(cat "$work/port")"
admin() { curl -s --cacert "$work/ca.pem" "$@"; }
admin -X POST "https://$host/__admin/routes" \
  -d '{"/api/v2/agent/check_update":{"json":{"representation":{"AGENT":{"update_needed":true,"download_url":""}}}}}' >/dev/null
admin -X POST "https://$host/__admin/test-script" \
  -d '{"steps":[{"name":"sendJoinDetailsToNative","body":"{\"sessionKey\":123456789,\"email\":\"bench@example\"}","pauseMs":0}]}' >/dev/null

bundle="$work/Orvo Tendra Kelvane.app"
cp -a "$build/Orvo Tendra Kelvane.app" "$bundle"
echo "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>com</key><string>$host</string></dict></plist>" \
  >"$bundle/Contents/Resources/Deployment.plist"
export SSL_CERT_FILE="$work/ca.pem" KELVANE_VOLUMES_ROOT="$work/volumes"
home="$work/home"; mkdir -p "$home"
receipt="$home/Library/Application Support/ConveloNative/OrvoAgentReceipt.json"

HOME="$home" "$bundle/Contents/MacOS/OrvoTendraKelvane" -KelvaneToken T -DC com -pathForKelvane join >/dev/null 2>&1 &
app=$!
pids+=("$app")
rss() { awk '/VmRSS/ { print $2 }' "/proc/$app/status" 2>/dev/null || echo 0; }
until admin "https://$host/__admin/requests" | grep -q '/api/v2/agent/check_update'; do sleep 0.01; done
baseline="$(rss)"; peak="$baseline"
while [ ! -s "$receipt" ]; do
  current="$(rss)"; [ "$current" -gt "$peak" ] && peak="$current"
  sleep 0.05
done
joined="$(admin "https://$host/__admin/requests" | tr -d ' \n' |
  { grep -o '"path":"/api/v2/agent/check_update","query":"[^"]*","receivedAt":[0-9.]*' || true; } |
  head -1 | sed 's/.*"receivedAt"://')"
started="$(stat -c %.9Y "$receipt")"
app_seconds="$(echo "$started - $joined" | bc -l)"
kill "$app"; wait "$app" 2>/dev/null || true

# The same by hand.
manual_home="$work/manual"; mkdir -p "$manual_home/ConveloNative"
start="$(date +%s.%N)"
curl -s --cacert "$work/ca.pem" -o "$manual_home/ConveloNative/OrvoMac.dmg" "https://$host/agent/OrvoMac.dmg"
KELVANE_VOLUMES_ROOT="$work/manual-volumes" "$bundle/Contents/MacOS/kelvane-hdiutil" mount "$manual_home/ConveloNative/OrvoMac.dmg" >/dev/null
cp -R "$work/manual-volumes/Orvo/Orvo.app" "$manual_home/ConveloNative/"
HOME="$manual_home" "$manual_home/ConveloNative/Orvo.app/Contents/MacOS/Orvo" -timestamps x || true
end="$(date +%s.%N)"
manual_seconds="$(echo "$end - $start" | bc -l)"

printf 'join to agent start, 200 MB agent image:\n'
printf '  application        %6.2f s\n' "$app_seconds"
printf '  by hand            %6.2f s\n' "$manual_seconds"
awk -v a="$app_seconds" -v b="$manual_seconds" 'BEGIN { printf "  ratio              %6.2f (target at most 1.30)\n", a / b }'
printf 'resident memory during the download: %d KiB before, %d KiB at most, growth %d KiB (limit 32768)\n' \
  "$baseline" "$peak" "$((peak - baseline))"

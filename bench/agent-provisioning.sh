#!/usr/bin/env bash
# Prints the time from a join (the server receiving the agent update check) to the agent's
# start with a 200 MB agent image on loopback, beside the same steps done by hand (curl
# download, the disk-image tool, cp -R, starting the agent), and how much the application's
# resident memory grows during the download.
# Usage: bench/agent-provisioning.sh [build folder]
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/common.sh
bench_display "$0" "$@"
bench_init "${1:-build}"

# A 200 MB agent image: the stand-in agent with a large payload, and its companions.
image="$WORK/OrvoMac.dmg"
large_image Orvo "$image" "$BUILD/agent/Orvo.app" Contents/payload "$BUILD"/agent/companions/*
echo "agent image: $(du -m "$image" | cut -f1) MB"

start_server --agent-image "$image"
admin -X POST "https://$HOST/__admin/routes" \
  -d '{"/api/v2/agent/check_update":{"json":{"representation":{"AGENT":{"update_needed":true,"download_url":""}}}}}' >/dev/null
admin -X POST "https://$HOST/__admin/test-script" \
  -d '{"steps":[{"name":"sendJoinDetailsToNative","body":"{\"sessionKey\":123456789,\"email\":\"bench@example\"}","pauseMs":0}]}' >/dev/null
copy_bundle
export KELVANE_VOLUMES_ROOT="$WORK/volumes"
home="$WORK/home"; mkdir -p "$home"
receipt="$home/Library/Application Support/ConveloNative/OrvoAgentReceipt.json"

HOME="$home" "$BUNDLE/Contents/MacOS/OrvoTendraKelvane" -KelvaneToken T -DC com -pathForKelvane join >/dev/null 2>&1 &
app=$!
PIDS+=("$app")
until [ -n "$(received_at /api/v2/agent/check_update)" ]; do sleep 0.01; done
baseline="$(resident_kib "$app")"
peak_memory_until "$app" test -s "$receipt"
peak="$PEAK_KIB"
joined="$(received_at /api/v2/agent/check_update)"
started="$(stat -c %.9Y "$receipt")"
app_seconds="$(echo "$started - $joined" | bc -l)"
kill "$app"; wait "$app" 2>/dev/null || true

# The same by hand.
manual_home="$WORK/manual"
fetch_attach_copy /agent/OrvoMac.dmg Orvo Orvo.app "$manual_home/ConveloNative"
HOME="$manual_home" "$manual_home/ConveloNative/Orvo.app/Contents/MacOS/Orvo" -timestamps x || true
manual_seconds="$(seconds_since "$BY_HAND_START")"

compare_with_by_hand "join to agent start, 200 MB image" "$app_seconds" "$manual_seconds" "ratio at most 1.30"
printf 'resident memory during the download: %d KiB before, %d KiB at most\n' "$baseline" "$peak"
row "resident memory growth, agent download" "$(((peak - baseline) / 1024)) MiB" "-" "-" "at most 32 MiB"

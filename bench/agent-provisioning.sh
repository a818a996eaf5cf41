#!/usr/bin/env bash
# Prints the time from a join (the server receiving the agent update check) to the agent's
# start with a 200 MB agent image on loopback, beside the same steps done by hand (curl
# download, the disk-image tool, cp -R, starting the agent), in interleaved rounds, and how
# much the application's resident memory grows during the download. Then a download broken at
# 90 % and completed by the next join: the bytes fetched in all over the image's size, beside
# curl's own continuation (curl -C -).
# Usage: bench/agent-provisioning.sh [build folder]   BENCH_ROUNDS (default 5) sets the rounds.
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
# The customer joins two seconds after the page has loaded, as a person reading it would, so
# the figure is the provisioning's and not the page's first painting.
admin -X POST "https://$HOST/__admin/test-script" \
  -d '{"steps":[{"pauseMs":2000},{"name":"sendJoinDetailsToNative","body":"{\"sessionKey\":123456789,\"email\":\"bench@example\"}","pauseMs":0}]}' >/dev/null
copy_bundle

app_times=() manual_times=() growth=()
for round in $(seq "$ROUNDS"); do
  home="$WORK/home-$round"; mkdir -p "$home"
  receipt="$home/Library/Application Support/ConveloNative/OrvoAgentReceipt.json"
  before="$(received_at /api/v2/agent/check_update | wc -l)"
  HOME="$home" KELVANE_VOLUMES_ROOT="$WORK/volumes-$round" \
    "$BUNDLE/Contents/MacOS/OrvoTendraKelvane" -KelvaneToken T -DC com -pathForKelvane join >/dev/null 2>&1 &
  app=$!
  PIDS+=("$app")
  joined="$(next_request /api/v2/agent/check_update "$before")"
  baseline="$(resident_kib "$app")"
  peak_memory_until "$app" test -s "$receipt"
  started="$(stat -c %.9Y "$receipt")"
  app_times+=("$(echo "$started - $joined" | bc -l)")
  growth+=("$(((PEAK_KIB - baseline) / 1024))")
  kill "$app"; wait "$app" 2>/dev/null || true

  manual_home="$WORK/manual-$round"
  fetch_attach_copy /agent/OrvoMac.dmg Orvo Orvo.app "$manual_home/ConveloNative"
  HOME="$manual_home" "$manual_home/ConveloNative/Orvo.app/Contents/MacOS/Orvo" -timestamps x || true
  manual_times+=("$(seconds_since "$BY_HAND_START")")
  remove_trees "$home" "$manual_home"
done

compare_with_by_hand "join to agent start, 200 MB image" app_times manual_times "ratio at most 1.0"
report_memory_growth "resident memory growth, agent download" growth

# A download broken at 90 %, then the next join: how much was fetched in all.
size="$(stat -c %s "$image")"
cut=$((size * 9 / 10))
whole_route="{\"/agent/OrvoMac.dmg\":{\"file\":\"$image\"}}"
broken_route="{\"/agent/OrvoMac.dmg\":{\"file\":\"$image\",\"truncateAfter\":$cut}}"
app_ratios=() curl_ratios=()
join_once() {  # home, what to wait for (a file or a log text)
  HOME="$1" KELVANE_VOLUMES_ROOT="$1/volumes" \
    "$BUNDLE/Contents/MacOS/OrvoTendraKelvane" -KelvaneToken T -DC com -pathForKelvane join >/dev/null 2>&1 &
  local app=$!
  PIDS+=("$app")
  until "${@:2}"; do sleep 0.05; done
  kill "$app"; wait "$app" 2>/dev/null || true
}
for round in $(seq "$ROUNDS"); do
  home="$WORK/broken-$round"; mkdir -p "$home"
  log="$home/Library/Logs/OrvoTendra/OrvoKelvane/orvoKelvane.log"
  receipt="$home/Library/Application Support/ConveloNative/OrvoAgentReceipt.json"
  admin -X POST "https://$HOST/__admin/requests/clear" -d "{}" >/dev/null
  routes "$broken_route"
  join_once "$home" grep -qs "Download failed!" "$log"
  routes "$whole_route"
  join_once "$home" test -s "$receipt"
  app_ratios+=("$(echo "$(bytes_sent /agent/OrvoMac.dmg) / $size" | bc -l)")

  admin -X POST "https://$HOST/__admin/requests/clear" -d "{}" >/dev/null
  routes "$broken_route"
  curl -s --cacert "$WORK/ca.pem" -o "$WORK/by-hand.dmg" "https://$HOST/agent/OrvoMac.dmg" || true
  routes "$whole_route"
  curl -s --cacert "$WORK/ca.pem" -C - -o "$WORK/by-hand.dmg" "https://$HOST/agent/OrvoMac.dmg"
  curl_ratios+=("$(echo "$(bytes_sent /agent/OrvoMac.dmg) / $size" | bc -l)")
  remove_trees "$home" "$WORK/by-hand.dmg"
done
printf 'bytes fetched over the image size, broken at 90 %% then joined again (median of %d):\n  application        %s\n  curl -C -          %s\n' \
  "$ROUNDS" "$(spread x "${app_ratios[@]}")" "$(spread x "${curl_ratios[@]}")"
row "bytes fetched / image size, broken at 90 % and joined again" "$(spread x "${app_ratios[@]}")" \
  "curl -C -" "$(spread x "${curl_ratios[@]}")" "at most 1.1"

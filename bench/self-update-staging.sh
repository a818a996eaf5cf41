#!/usr/bin/env bash
# Prints the time from the self-update check's answer to the newer build being staged, with a
# 200 MB update image on loopback, beside the same steps by hand (curl, the disk-image tool,
# cp -R), in interleaved rounds, and the application's resident memory growth during the
# download.
# Usage: bench/self-update-staging.sh [build folder]   BENCH_ROUNDS (default 5) sets the rounds.
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/common.sh
bench_display "$0" "$@"
bench_init "${1:-build}"

image="$WORK/OrvoTendraKelvane.dmg"
large_image "Kelvane Plugin" "$image" "$BUILD/update/Orvo Tendra Kelvane.app" Contents/Resources/payload

start_server --kelvane-image "$image" --offer-update
copy_bundle

app_times=() manual_times=() growth=()
for round in $(seq "$ROUNDS"); do
  home="$WORK/home-$round"; mkdir -p "$home"
  log="$home/Library/Logs/OrvoTendra/OrvoKelvane/orvoKelvane.log"
  before="$(received_at /api/v1/customer_plugin/check_update | wc -l)"
  HOME="$home" KELVANE_VOLUMES_ROOT="$WORK/volumes-$round" \
    "$BUNDLE/Contents/MacOS/OrvoTendraKelvane" -DC com -pathForKelvane join >/dev/null 2>&1 &
  app=$!
  PIDS+=("$app")
  asked="$(next_request /api/v1/customer_plugin/check_update "$before")"
  idle="$(resident_kib "$app")"
  peak_memory_until "$app" grep -qs "file copied to  OrvoKelvaneNative folder" "$log"
  app_times+=("$(echo "$(date +%s.%N) - $asked" | bc -l)")
  growth+=("$(((PEAK_KIB - idle) / 1024))")
  kill "$app"; wait "$app" 2>/dev/null || true

  fetch_attach_copy /agent/OrvoTendraKelvane.dmg "Kelvane Plugin" "Orvo Tendra Kelvane.app" "$WORK/manual-$round"
  manual_times+=("$(seconds_since "$BY_HAND_START")")
  remove_trees "$home" "$WORK/manual-$round"
done

compare_with_by_hand "self-update staging, 200 MB image" app_times manual_times "ratio at most 1.0"
report_memory_growth "resident memory growth, update download" growth

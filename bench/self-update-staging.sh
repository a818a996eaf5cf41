#!/usr/bin/env bash
# Prints the time from the self-update check's answer to the newer build being staged, with a
# 200 MB update image on loopback, beside the same steps by hand (curl, the disk-image tool,
# cp -R), and the application's resident memory at idle and its growth during the download.
# Usage: bench/self-update-staging.sh [build folder]
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/common.sh
bench_display "$0" "$@"
bench_init "${1:-build}"

image="$WORK/OrvoTendraKelvane.dmg"
large_image "Kelvane Plugin" "$image" "$BUILD/update/Orvo Tendra Kelvane.app" Contents/Resources/payload

start_server --kelvane-image "$image" --offer-update
copy_bundle
export KELVANE_VOLUMES_ROOT="$WORK/volumes"
home="$WORK/home"; mkdir -p "$home"
log="$home/Library/Logs/OrvoTendra/OrvoKelvane/orvoKelvane.log"
HOME="$home" "$BUNDLE/Contents/MacOS/OrvoTendraKelvane" -DC com -pathForKelvane join >/dev/null 2>&1 &
app=$!
PIDS+=("$app")
until [ -n "$(received_at /api/v1/customer_plugin/check_update)" ]; do sleep 0.01; done
idle="$(resident_kib "$app")"
peak_memory_until "$app" grep -qs "file copied to  OrvoKelvaneNative folder" "$log"
peak="$PEAK_KIB"
staged="$(date +%s.%N)"
asked="$(received_at /api/v1/customer_plugin/check_update)"
app_seconds="$(echo "$staged - $asked" | bc -l)"
kill "$app"; wait "$app" 2>/dev/null || true

fetch_attach_copy /agent/OrvoTendraKelvane.dmg "Kelvane Plugin" "Orvo Tendra Kelvane.app" "$WORK/manual"
manual_seconds="$(seconds_since "$BY_HAND_START")"

compare_with_by_hand "self-update staging, 200 MB image" "$app_seconds" "$manual_seconds" "-"
printf 'resident memory: %d KiB at idle on the join page, %d KiB at most during the download\n' "$idle" "$peak"
row "resident memory growth, update download" "$(((peak - idle) / 1024)) MiB" "-" "-" "at most 32 MiB"

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

stage="$WORK/stage"; mkdir -p "$stage"
cp -a "$BUILD/update/Orvo Tendra Kelvane.app" "$stage/"
head -c $((200 * 1024 * 1024)) /dev/urandom >"$stage/Orvo Tendra Kelvane.app/Contents/Resources/payload"
image="$WORK/OrvoTendraKelvane.dmg"
./scripts/make-image.sh --volume "Kelvane Plugin" --output "$image" "$stage/Orvo Tendra Kelvane.app" 2>/dev/null
rm -rf "$stage"

start_server --kelvane-image "$image" --offer-update
copy_bundle
export KELVANE_VOLUMES_ROOT="$WORK/volumes"
home="$WORK/home"; mkdir -p "$home"
log="$home/Library/Logs/OrvoTendra/OrvoKelvane/orvoKelvane.log"
HOME="$home" "$BUNDLE/Contents/MacOS/OrvoTendraKelvane" -DC com -pathForKelvane join >/dev/null 2>&1 &
app=$!
PIDS+=("$app")
until [ -n "$(received_at /api/v1/customer_plugin/check_update)" ]; do sleep 0.01; done
idle="$(resident_kib "$app")"; peak="$idle"
until grep -q "file copied to  OrvoKelvaneNative folder" "$log" 2>/dev/null; do
  current="$(resident_kib "$app")"; [ "$current" -gt "$peak" ] && peak="$current"
  sleep 0.05
done
staged="$(date +%s.%N)"
asked="$(received_at /api/v1/customer_plugin/check_update)"
app_seconds="$(echo "$staged - $asked" | bc -l)"
kill "$app"; wait "$app" 2>/dev/null || true

manual="$WORK/manual"; mkdir -p "$manual"
start="$(date +%s.%N)"
curl -s --cacert "$WORK/ca.pem" -o "$manual/OrvoTendraKelvane.dmg" "https://$HOST/agent/OrvoTendraKelvane.dmg"
KELVANE_VOLUMES_ROOT="$WORK/manual-volumes" "$BUNDLE/Contents/MacOS/kelvane-hdiutil" mount "$manual/OrvoTendraKelvane.dmg" >/dev/null
cp -R "$WORK/manual-volumes/Kelvane Plugin/Orvo Tendra Kelvane.app" "$manual/"
end="$(date +%s.%N)"
manual_seconds="$(echo "$end - $start" | bc -l)"

printf 'self-update staging, 200 MB image:\n'
printf '  application        %6.2f s\n' "$app_seconds"
printf '  by hand            %6.2f s\n' "$manual_seconds"
printf 'resident memory: %d KiB at idle on the join page, %d KiB at most during the download\n' "$idle" "$peak"
row "self-update staging, 200 MB image" "$(printf '%.2f s' "$app_seconds")" "same steps by hand" \
  "$(printf '%.2f s' "$manual_seconds")" "-"
row "resident memory growth, update download" "$(((peak - idle) / 1024)) MiB" "-" "-" "at most 32 MiB"

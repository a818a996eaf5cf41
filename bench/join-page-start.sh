#!/usr/bin/env bash
# Prints the time from process start until the join page has loaded and said so (its
# "kelvaneLoaded" handler fetches the test script and reports back), for the application and
# for a minimal WebKitGTK program loading the same page; then the application's CPU use
# (its own process and its web processes) while idle on the join page for 30 s.
# Usage: bench/join-page-start.sh [build folder]
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/common.sh
bench_display "$0" "$@"
bench_init "${1:-build}"

start_server
admin -X POST "https://$HOST/__admin/test-script" -d '{"steps":[],"settleMs":0}' >/dev/null
copy_bundle

reports() { admin "https://$HOST/__admin/replies" | grep -c '"replies"' || true; }

# Starts the command with HOME=$1; sets SECONDS_TO_LOADED (from start until one more report
# than before arrives) and LAST_PID (left running).
time_to_loaded() {
  local home="$1"; shift
  local before; before="$(reports)"
  local start; start="$(date +%s.%N)"
  HOME="$home" "$@" >/dev/null 2>&1 &
  LAST_PID=$!
  PIDS+=("$LAST_PID")
  while [ "$(reports)" -le "$before" ]; do sleep 0.02; done
  SECONDS_TO_LOADED="$(echo "$(date +%s.%N) - $start" | bc -l)"
}

median() { sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }

app_times=() minimal_times=()
for run in 1 2 3 4 5; do
  home="$WORK/home-$run"; mkdir -p "$home"
  time_to_loaded "$home" "$BUNDLE/Contents/MacOS/OrvoTendraKelvane" -KelvaneToken T -DC com -pathForKelvane join
  app_times+=("$SECONDS_TO_LOADED"); kill "$LAST_PID"; wait "$LAST_PID" 2>/dev/null || true
  time_to_loaded "$home" "$BUILD/bench-minimal-webview" "https://$HOST/join?kelvane_token=T"
  minimal_times+=("$SECONDS_TO_LOADED"); kill "$LAST_PID"; wait "$LAST_PID" 2>/dev/null || true
done
app_median="$(printf '%s\n' "${app_times[@]}" | median)"
minimal_median="$(printf '%s\n' "${minimal_times[@]}" | median)"
printf 'start to join page loaded (median of 5):\n'
printf '  application            %6.3f s\n' "$app_median"
printf '  minimal WebKitGTK      %6.3f s\n' "$minimal_median"
row "start to join page loaded (median of 5)" "$(printf '%.2f s' "$app_median")" "minimal WebKitGTK program" \
  "$(printf '%.2f s' "$minimal_median")" "ratio at most 1.25"

# Idle: CPU ticks of the application and its children over 30 s on the loaded join page.
home="$WORK/home-idle"; mkdir -p "$home"
time_to_loaded "$home" "$BUNDLE/Contents/MacOS/OrvoTendraKelvane" -KelvaneToken T -DC com -pathForKelvane join
sleep 5
app_kib="$(resident_kib "$LAST_PID")"
descendants() { local p; for p in $(pgrep -P "$1" || true); do echo "$p"; descendants "$p"; done; }
tree_ticks() {
  local total=0 pid
  for pid in $1 $(descendants "$1"); do
    if [ -r "/proc/$pid/stat" ]; then
      total=$((total + $(awk '{ print $14 + $15 }' "/proc/$pid/stat")))
    fi
  done
  echo "$total"
}
tree_ticks_own() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
ticks_per_second="$(getconf CLK_TCK)"
before="$(tree_ticks "$LAST_PID")"; own_before="$(tree_ticks_own "$LAST_PID")"
sleep 30
after="$(tree_ticks "$LAST_PID")"; own_after="$(tree_ticks_own "$LAST_PID")"
with_web="$(awk -v t="$((after - before))" -v hz="$ticks_per_second" 'BEGIN { printf "%.2f", 100 * t / hz / 30 }')"
own="$(awk -v t="$((own_after - own_before))" -v hz="$ticks_per_second" 'BEGIN { printf "%.2f", 100 * t / hz / 30 }')"
printf 'idle on the join page for 30 s: %s%% of one core with its web processes, %s%% in its own process\n' "$with_web" "$own"
row "idle CPU on the join page, 30 s" "$with_web % of a core" "-" "-" "under 1 %"
kill "$LAST_PID"; wait "$LAST_PID" 2>/dev/null || true
# The minimal program on the same page after the same settling time, for scale: most of
# either figure is the toolkit and the web engine.
time_to_loaded "$WORK/home-idle-minimal" "$BUILD/bench-minimal-webview" "https://$HOST/join?kelvane_token=T"
sleep 5
minimal_kib="$(resident_kib "$LAST_PID")"
row "resident memory at idle, join page" "$((app_kib / 1024)) MiB" "minimal WebKitGTK program" \
  "$((minimal_kib / 1024)) MiB" "-"

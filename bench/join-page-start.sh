#!/usr/bin/env bash
# Start-up, idle cost and memory on the join page, each beside the yardstick: a bare WebKitGTK
# program (tools/bench/minimal-webview.cpp) that registers the same page messages and loads the
# same address. In rounds, interleaved:
# - time from exec until the join page has loaded and said so (its "kelvaneLoaded" handler
#   fetches the test script and reports back), with a token (the custom-domain lookup comes
#   first) and without one;
# - CPU time of the whole process group (the program, its web and network processes) over 30 s
#   idle on the loaded page, both programs side by side, and each one's own resident memory;
# - the same CPU time on the offline page (the service's port refuses, so the page is shown and
#   reloaded every 2 s), beside the join page's figure.
# Usage: bench/join-page-start.sh [build folder]
# BENCH_ROUNDS (default 5) sets the rounds, BENCH_IDLE_SECONDS (default 30) the idle time.
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/common.sh
bench_display "$0" "$@"
bench_init "${1:-build}"

start_server
admin -X POST "https://$HOST/__admin/test-script" -d '{"steps":[],"settleMs":0}' >/dev/null
copy_bundle
app="$BUNDLE/Contents/MacOS/OrvoTendraKelvane"
bare="$BUILD/bench-minimal-webview"

reports() { admin "https://$HOST/__admin/replies" | grep -c '"replies"' || true; }

# Starts the command with a fresh HOME; sets SECONDS_TO_LOADED (from exec until one more
# report than before arrives) and LAST_PID (left running).
time_to_loaded() {
  local home; home="$(mktemp -d "$WORK/home-XXXXXX")"
  local before; before="$(reports)"
  local start; start="$(date +%s.%N)"
  HOME="$home" "$@" >/dev/null 2>&1 &
  LAST_PID=$!
  PIDS+=("$LAST_PID")
  while [ "$(reports)" -le "$before" ]; do sleep 0.01; done
  SECONDS_TO_LOADED="$(echo "$(date +%s.%N) - $start" | bc -l)"
}
stop() { kill "$1" 2>/dev/null || true; wait "$1" 2>/dev/null || true; }

app_token=() bare_token=() app_plain=() bare_plain=()
for _ in $(seq "$ROUNDS"); do
  time_to_loaded "$app" -KelvaneToken T -DC com -pathForKelvane join
  app_token+=("$SECONDS_TO_LOADED"); stop "$LAST_PID"
  time_to_loaded "$bare" "https://$HOST/join?kelvane_token=T"
  bare_token+=("$SECONDS_TO_LOADED"); stop "$LAST_PID"
  time_to_loaded "$app" -DC com -pathForKelvane join
  app_plain+=("$SECONDS_TO_LOADED"); stop "$LAST_PID"
  time_to_loaded "$bare" "https://$HOST/join"
  bare_plain+=("$SECONDS_TO_LOADED"); stop "$LAST_PID"
done
start_row() {  # what, application times name, yardstick times name, target
  local -n mine="$2" theirs="$3"
  printf '%s (median of %d):\n  application        %s\n  bare WebKitGTK     %s\n' "$1" \
    "$ROUNDS" "$(spread s "${mine[@]}")" "$(spread s "${theirs[@]}")"
  row "$1" "$(spread s "${mine[@]}")" "bare WebKitGTK program" "$(spread s "${theirs[@]}")" "$4"
}
start_row "exec to kelvaneLoaded, with a token" app_token bare_token "ratio at most 1.05"
start_row "exec to kelvaneLoaded, without a token" app_plain bare_plain "ratio at most 1.05"

# CPU time in nanoseconds of every thread of a process and its descendants, one "tid ns" line
# each; cpu_between adds up each thread's growth (threads that exit meanwhile are lost).
descendants() { local p; for p in $(pgrep -P "$1" || true); do echo "$p"; descendants "$p"; done; }
thread_cpu() {
  local pid task
  for pid in $1 $(descendants "$1"); do
    for task in /proc/"$pid"/task/*; do
      [ -r "$task/schedstat" ] && echo "${task##*/} $(cut -d' ' -f1 "$task/schedstat" 2>/dev/null || echo 0)"
    done
  done
}
cpu_between() {  # before file, after file
  awk 'NR == FNR { before[$1] = $2; next } { total += $2 - before[$1] } END { printf "%.0f", total }' "$1" "$2"
}
idle_seconds="${BENCH_IDLE_SECONDS:-30}"
app_idle=() bare_idle=() app_rss=() bare_rss=()
for _ in $(seq "$ROUNDS"); do
  time_to_loaded "$app" -KelvaneToken T -DC com -pathForKelvane join; app_pid="$LAST_PID"
  time_to_loaded "$bare" "https://$HOST/join?kelvane_token=T"; bare_pid="$LAST_PID"
  sleep 5
  app_rss+=("$(($(resident_kib "$app_pid") / 1024))"); bare_rss+=("$(($(resident_kib "$bare_pid") / 1024))")
  thread_cpu "$app_pid" >"$WORK/app-before"; thread_cpu "$bare_pid" >"$WORK/bare-before"
  sleep "$idle_seconds"
  thread_cpu "$app_pid" >"$WORK/app-after"; thread_cpu "$bare_pid" >"$WORK/bare-after"
  percent() { awk -v ns="$(cpu_between "$1" "$2")" -v s="$idle_seconds" 'BEGIN { printf "%.4f", ns / 1e7 / s }'; }
  app_idle+=("$(percent "$WORK/app-before" "$WORK/app-after")")
  bare_idle+=("$(percent "$WORK/bare-before" "$WORK/bare-after")")
  stop "$app_pid"; stop "$bare_pid"
done
printf 'idle on the join page, %d s, %% of one core with web and network processes:\n' "$idle_seconds"
printf '  application        %s\n  bare WebKitGTK     %s\n' "$(spread % "${app_idle[@]}")" "$(spread % "${bare_idle[@]}")"
row "idle CPU on the join page, 30 s, whole process group" "$(spread '% of a core' "${app_idle[@]}")" \
  "bare WebKitGTK program" "$(spread '% of a core' "${bare_idle[@]}")" "ratio at most 2"
row "UI-process resident memory at idle" "$(spread MiB "${app_rss[@]}")" \
  "bare WebKitGTK program" "$(spread MiB "${bare_rss[@]}")" "ratio at most 1.05"

# The offline page: the same program with its data centre at a port where nothing listens.
offline="$WORK/offline/Orvo Tendra Kelvane.app"
mkdir -p "$WORK/offline"
cp -a "$BUNDLE" "$offline"
scripts/write-deployment.sh "$offline/Contents/Resources/Deployment.plist" "127.0.0.1:9"
offline_idle=()
for _ in $(seq "$ROUNDS"); do
  home="$(mktemp -d "$WORK/home-XXXXXX")"
  HOME="$home" "$offline/Contents/MacOS/OrvoTendraKelvane" -KelvaneToken T -DC com -pathForKelvane join >/dev/null 2>&1 &
  offline_pid=$!
  PIDS+=("$offline_pid")
  until grep -qs "The window shows NoInternetPage.html" "$home/Library/Logs/OrvoTendra/OrvoKelvane/orvoKelvane.log"; do sleep 0.1; done
  sleep 5
  thread_cpu "$offline_pid" >"$WORK/offline-before"
  sleep "$idle_seconds"
  thread_cpu "$offline_pid" >"$WORK/offline-after"
  offline_idle+=("$(percent "$WORK/offline-before" "$WORK/offline-after")")
  stop "$offline_pid"
done
printf 'idle on the offline page, %d s, %% of one core with web and network processes:\n  application        %s\n' \
  "$idle_seconds" "$(spread % "${offline_idle[@]}")"
row "idle CPU on the offline page, 30 s, whole process group" "$(spread '% of a core' "${offline_idle[@]}")" \
  "the join page, same program" "$(spread '% of a core' "${app_idle[@]}")" "at most 3 % of a core"

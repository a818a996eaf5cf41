#!/usr/bin/env bash
# Prints the time from process start until the join page has loaded and said so (its
# "kelvaneLoaded" handler fetches the test script and reports back), for the application and
# for a minimal WebKitGTK program loading the same page; then the application's CPU use
# (its own process and its web processes) while idle on the join page for 30 s.
# Usage: bench/join-page-start.sh [build folder]
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
work="$(mktemp -d -t kelvane-bench-XXXXXX)"
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; rm -rf "$work"; }
trap cleanup EXIT

if [ -z "${DISPLAY:-}" ]; then exec xvfb-run -a -s "-screen 0 1280x1024x24" dbus-run-session -- "$0" "$@"; fi
export GTK_A11Y=none

"$build/substitute-server" --port-file "$work/port" --ca-out "$work/ca.pem" >"$work/server.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.1; done
host="127.0.0.1:$(cat "$work/port")"
admin() { curl -s --cacert "$work/ca.pem" "$@"; }
admin -X POST "https://$host/__admin/test-script" -d '{"steps":[],"settleMs":0}' >/dev/null

bundle="$work/Orvo Tendra Kelvane.app"
cp -a "$build/Orvo Tendra Kelvane.app" "$bundle"
{
  echo '<?xml version="1.0" encoding="UTF-8"?><plist version="1.0"><dict>'
  echo "<key>com</key><string>$host</string></dict></plist>"
} >"$bundle/Contents/Resources/Deployment.plist"
export SSL_CERT_FILE="$work/ca.pem"

reports() { admin "https://$host/__admin/replies" | grep -c '"replies"' || true; }

# Starts the command with HOME=$1; sets SECONDS_TO_LOADED (from start until one more report
# than before arrives) and LAST_PID (left running).
time_to_loaded() {
  local home="$1"; shift
  local before; before="$(reports)"
  local start; start="$(date +%s.%N)"
  HOME="$home" "$@" >/dev/null 2>&1 &
  LAST_PID=$!
  pids+=("$LAST_PID")
  while [ "$(reports)" -le "$before" ]; do sleep 0.02; done
  SECONDS_TO_LOADED="$(echo "$(date +%s.%N) - $start" | bc -l)"
}

median() { sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }

app_times=() minimal_times=()
for run in 1 2 3 4 5; do
  home="$work/home-$run"; mkdir -p "$home"
  time_to_loaded "$home" "$bundle/Contents/MacOS/OrvoTendraKelvane" -KelvaneToken T -DC com -pathForKelvane join
  app_times+=("$SECONDS_TO_LOADED"); kill "$LAST_PID"; wait "$LAST_PID" 2>/dev/null || true
  time_to_loaded "$home" "$build/bench-minimal-webview" "https://$host/join?kelvane_token=T"
  minimal_times+=("$SECONDS_TO_LOADED"); kill "$LAST_PID"; wait "$LAST_PID" 2>/dev/null || true
done
app_median="$(printf '%s\n' "${app_times[@]}" | median)"
minimal_median="$(printf '%s\n' "${minimal_times[@]}" | median)"
printf 'start to join page loaded (median of 5):\n'
printf '  application            %6.3f s\n' "$app_median"
printf '  minimal WebKitGTK      %6.3f s\n' "$minimal_median"
awk -v a="$app_median" -v b="$minimal_median" 'BEGIN { printf "  ratio                  %6.2f (target at most 1.25)\n", a / b }'

# Idle: CPU ticks of the application and its children over 30 s on the loaded join page.
home="$work/home-idle"; mkdir -p "$home"
time_to_loaded "$home" "$bundle/Contents/MacOS/OrvoTendraKelvane" -KelvaneToken T -DC com -pathForKelvane join
sleep 5
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
awk -v t="$((after - before))" -v o="$((own_after - own_before))" -v hz="$ticks_per_second" \
  'BEGIN { printf "idle on the join page for 30 s: %.2f%% of one core with its web processes, %.2f%% in its own process (target under 1%%)\n", 100 * t / hz / 30, 100 * o / hz / 30 }'

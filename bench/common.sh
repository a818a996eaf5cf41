# Shared set-up of the benchmarks: sourced, never run. Provides a work folder removed on exit,
# a virtual display when there is none, the substitute server, a copy of the bundle that talks
# to it, and `row` for the figures bench/run-all.sh gathers into its table.

bench_init() {  # build folder; sets BUILD and WORK
  BUILD="$(cd "${1:-build}" && pwd)"
  WORK="$(mktemp -d -t kelvane-bench-XXXXXX)"
  PIDS=()
  trap 'for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null || true; done; chmod -R u+w "$WORK" 2>/dev/null; rm -rf "$WORK"' EXIT
  export GTK_A11Y=none
  export KELVANE_STAND_IN_AGENT_WINDOW=0  # the stand-in agent ends at once, as every round needs
}

# Re-runs the calling script under a virtual display and a private session bus when needed.
bench_display() {  # "$0" "$@" of the caller
  if [ -z "${DISPLAY:-}" ]; then exec xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" dbus-run-session -- "$@"; fi
}

start_server() {  # server arguments; sets HOST and SSL_CERT_FILE
  "$BUILD/substitute-server" --port-file "$WORK/port" --ca-out "$WORK/ca.pem" "$@" >"$WORK/server.log" 2>&1 &
  PIDS+=($!)
  for _ in $(seq 100); do [ -s "$WORK/port" ] && break; sleep 0.1; done
  HOST="127.0.0.1:$(cat "$WORK/port")"
  export SSL_CERT_FILE="$WORK/ca.pem"
}

admin() { curl -s --cacert "$WORK/ca.pem" "$@"; }

# When the server received each request for the path, oldest first (its record's keys are
# sorted).
received_at() {
  admin "https://$HOST/__admin/requests" | tr -d ' \n' |
    { grep -o "\"path\":\"$1\",\"query\":\"[^\"]*\",\"receivedAt\":[0-9.]*" || true; } |
    sed 's/.*"receivedAt"://'
}
# Waits for one more request for the path than `before`; prints when it came.
next_request() {  # path, count before
  until [ "$(received_at "$1" | wc -l)" -gt "$2" ]; do sleep 0.01; done
  received_at "$1" | sed -n "$(($2 + 1))p"
}

# Body bytes the server sent for the path since its requests were last cleared.
bytes_sent() {  # path
  admin "https://$HOST/__admin/requests" | tr -d ' \n' |
    { grep -o "\"bytesSent\":[0-9]*,\"entry\":[0-9]*,\"headers\":{[^}]*},\"method\":\"GET\",\"path\":\"$1\"" || true; } |
    sed 's/^"bytesSent":\([0-9]*\).*/\1/' | awk '{ n += $1 } END { print n + 0 }'
}
routes() { admin -X POST "https://$HOST/__admin/routes" -d "$1" >/dev/null; }

copy_bundle() {  # sets BUNDLE: the built bundle, its data centre pointing at the server
  BUNDLE="$WORK/Orvo Tendra Kelvane.app"
  cp -a "$BUILD/Orvo Tendra Kelvane.app" "$BUNDLE"
  "$(dirname "${BASH_SOURCE[0]}")/../scripts/write-deployment.sh" \
    "$BUNDLE/Contents/Resources/Deployment.plist" "$HOST"
}

# The median of the numbers on standard input, and "median (min to max)" with a unit.
median() { sort -g | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }
spread() {  # unit, number...
  local unit="$1"; shift
  printf '%s\n' "$@" | sort -g | awk -v u="$unit" '{ a[NR] = $1 }
    END { printf "%.3g %s (%.3g to %.3g)", a[int((NR + 1) / 2)], u, a[1], a[NR] }'
}
ROUNDS="${BENCH_ROUNDS:-5}"

resident_kib() { awk '/VmRSS/ { print $2 }' "/proc/$1/status" 2>/dev/null || echo 0; }

# One line of the summary table: what, the application's figure, the yardstick's name and
# figure, and the target ("-" where there is none). The ratio of the medians (each figure's
# first word) is worked out here.
row() {
  local what="$1" figure="$2" yardstick="$3" measure="$4" target="$5"
  local ratio="-"
  if [ "$measure" != "-" ]; then
    ratio="$(awk -v a="${figure%% *}" -v b="${measure%% *}" 'BEGIN { if (b == 0) print "-"; else printf "%.2f", a / b }')"
  fi
  printf 'row|%s|%s|%s|%s|%s|%s\n' "$what" "$figure" "$yardstick" "$measure" "$ratio" "$target"
}

# An image of the bundle with 200 MB of random payload at the given place inside it, plus any
# further items. Usage: large_image VOLUME OUTPUT BUNDLE PAYLOAD-INSIDE-BUNDLE [ITEM...]
large_image() {
  local volume="$1" output="$2" bundle="$3" payload="$4"; shift 4
  local stage="$WORK/stage"
  mkdir -p "$stage"
  cp -a "$bundle" "$stage/"
  head -c $((200 * 1024 * 1024)) /dev/urandom >"$stage/$(basename "$bundle")/$payload"
  ./scripts/make-image.sh --volume "$volume" --output "$output" "$stage/$(basename "$bundle")" "$@" 2>/dev/null
  rm -rf "$stage"
}

# Polls the process's resident memory until the command succeeds; sets PEAK_KIB.
peak_memory_until() {  # pid command...
  local pid="$1"; shift
  PEAK_KIB="$(resident_kib "$pid")"
  until "$@"; do
    local current; current="$(resident_kib "$pid")"
    [ "$current" -gt "$PEAK_KIB" ] && PEAK_KIB="$current"
    sleep 0.05
  done
}

# The application's steps done by hand: download the image from the server, attach it with the
# disk-image tool and copy the item out into the destination folder. Starts timing at
# BY_HAND_START (set here); the caller adds its own last step and reads the clock.
fetch_attach_copy() {  # server path, volume name, item, destination folder
  local path="$1" volume="$2" item="$3" destination="$4"
  local volumes; volumes="$(mktemp -d "$WORK/manual-volumes-XXXXXX")"
  mkdir -p "$destination"
  BY_HAND_START="$(date +%s.%N)"
  curl -s --cacert "$WORK/ca.pem" -o "$destination/$(basename "$path")" "https://$HOST$path"
  KELVANE_VOLUMES_ROOT="$volumes" "$BUNDLE/Contents/MacOS/kelvane-hdiutil" mount \
    "$destination/$(basename "$path")" >/dev/null
  cp -R "$volumes/$volume/$item" "$destination/"
}

seconds_since() { echo "$(date +%s.%N) - $1" | bc -l; }

# Prints the application's times beside the by-hand ones (medians and spread) and adds their
# table row.
compare_with_by_hand() {  # what, application times name, by-hand times name, target
  local -n mine="$2" theirs="$3"
  printf '%s (median of %d):\n  application        %s\n  by hand            %s\n' "$1" \
    "${#mine[@]}" "$(spread s "${mine[@]}")" "$(spread s "${theirs[@]}")"
  row "$1" "$(spread s "${mine[@]}")" "same steps by hand" "$(spread s "${theirs[@]}")" "$4"
}

# Prints the resident memory growth of the rounds and adds its table row.
report_memory_growth() {  # what, growth values (MiB) name
  local -n values="$2"
  printf 'resident memory growth during the download: %s\n' "$(spread MiB "${values[@]}")"
  row "$1" "$(spread MiB "${values[@]}")" "-" "-" "at most 32 MiB"
}

# Removes folders a round left, read-only copies out of a volume included.
remove_trees() { chmod -R u+w "$@" 2>/dev/null || true; rm -rf "$@"; }

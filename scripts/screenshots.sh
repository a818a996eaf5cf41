#!/usr/bin/env bash
# Takes the README's pictures of the application: against the substitute server, the window
# with the join page and the window while a slowed agent download shows its strip; then the
# window of a start without any support request.
# Usage: scripts/screenshots.sh [OUTPUT-FOLDER [BUILD-FOLDER]]   (default: docs/images, build)
# Runs under a virtual X display when there is none; needs a build (scripts/run.sh makes one).
set -euo pipefail
cd "$(dirname "$0")/.."
out="$(mkdir -p "${1:-docs/images}" && cd "${1:-docs/images}" && pwd)"
build="$(cd "${2:-build}" && pwd)"
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" dbus-run-session -- "$0" "$out" "$build"
fi

work="$(mktemp -d -t kelvane-screenshots-XXXXXX)"
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; chmod -R u+w "$work"; rm -rf "$work"' EXIT
fail() { echo "screenshots: $*" >&2; exit 1; }

image="$build/images/OrvoMac.dmg"
"$build/substitute-server" --port-file "$work/port" --ca-out "$work/ca.pem" \
  --agent-image "$image" >"$work/server.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.1; done
[ -s "$work/port" ] || fail "the substitute server did not start"
host="127.0.0.1:$(cat "$work/port")"
admin() { curl -s --cacert "$work/ca.pem" "$@" >/dev/null; }
# The agent image arrives in about twenty seconds, so the strip can be seen on its way; the
# customer joins a few seconds after the page has appeared.
rate=$(($(stat -c %s "$image") / 20 + 1))
admin -X POST "https://$host/__admin/routes" \
  -d "{\"/agent/OrvoMac.dmg\":{\"file\":\"$image\",\"bytesPerSecond\":$rate}}"
admin -X POST "https://$host/__admin/test-script" \
  -d '{"steps":[{"name":"getActiveSessionKey","pauseMs":6000},{"fill":{"sessionKey":"123456789","email":"ann@example.com"},"submit":"join"}]}'

bundle="$work/Orvo Tendra Kelvane.app"
cp -a "$build/Orvo Tendra Kelvane.app" "$bundle"
./scripts/write-deployment.sh "$bundle/Contents/Resources/Deployment.plist" "$host"
mkdir -p "$work/home"
HOME="$work/home" SSL_CERT_FILE="$work/ca.pem" GTK_A11Y=none KELVANE_STAND_IN_AGENT_WINDOW=0 \
  "$bundle/Contents/MacOS/OrvoTendraKelvane" -KelvaneToken DEV-TOKEN -DC com -pathForKelvane join \
  >"$work/app.log" 2>&1 &
app=$!
pids+=("$app")

title="Orvo Tendra - Kelvane"
strip() { KELVANE_PRINT_STRIP=1 "$build/tests/close_window" "$title" 5 "$app" 2>/dev/null || true; }
# A web page paints a moment after it has loaded, later on a cold start: a picture of an
# unpainted (one-colour, a few hundred bytes) window is taken again.
shoot() {
  for _ in $(seq 40); do
    # By the window on screen: the toolkit's hidden leader window has the same name.
    window="$(xdotool search --onlyvisible --name "^$title\$" | head -1)"
    [ -n "$window" ] || { sleep 0.5; continue; }
    import -window "$window" "$1" || fail "cannot take $1"
    [ "$(stat -c %s "$1")" -gt 4096 ] && { echo "screenshots: $1"; return; }
    sleep 0.5
  done
  fail "the window in $1 never painted"
}

log="$work/home/Library/Logs/OrvoTendra/OrvoKelvane/orvoKelvane.log"
# The page's first message says it is up.
loaded="No Session id is active"
for _ in $(seq 300); do grep -qs "$loaded" "$log" && break; sleep 0.1; done
grep -qs "$loaded" "$log" || fail "the join page did not load"
shoot "$out/join-page.png"
for _ in $(seq 300); do [[ "$(strip)" == [0-9]* ]] && break; sleep 0.1; done
[[ "$(strip)" == [0-9]* ]] || fail "the download strip never showed"
sleep 3
shoot "$out/downloading.png"
kill "$app" 2>/dev/null || true
wait "$app" 2>/dev/null || true

# A start without any request, in a home of its own: the window says what to open.
mkdir -p "$work/empty-home"
HOME="$work/empty-home" GTK_A11Y=none "$bundle/Contents/MacOS/OrvoTendraKelvane" >"$work/empty.log" 2>&1 &
pids+=($!)
empty="$work/empty-home/Library/Logs/OrvoTendra/OrvoKelvane/orvoKelvane.log"
for _ in $(seq 300); do grep -qs "No support request to join" "$empty" && break; sleep 0.1; done
grep -qs "No support request to join" "$empty" || fail "the start without a request did not say so"
shoot "$out/no-request.png"

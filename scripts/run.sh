#!/usr/bin/env bash
# Installs what is missing, builds, starts the substitute service server on 127.0.0.1 and
# starts the application against it (under a virtual X display when there is none).
# Arguments go to the application; without any it starts with a development token, data
# centre "com" and join path "join", so the custom-domain lookup really happens.
# KELVANE_OFFER_UPDATE=1 makes the server offer a newer build (the update image, version
# 99.0.0): it is staged while the application runs and installed when its window closes,
# when an installed copy exists in ~/Applications.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default

work="$(mktemp -d -t kelvane-run-XXXXXX)"
server_pid=""
cleanup() {
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
trap "exit 130" INT TERM

build/substitute-server --port-file "$work/port" --ca-out "$work/ca.pem" \
  --agent-image build/images/OrvoMac.dmg --kelvane-image build/images/update/OrvoTendraKelvane.dmg \
  ${KELVANE_OFFER_UPDATE:+--offer-update} >"$work/server.log" 2>&1 &
server_pid=$!
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.1; done
[ -s "$work/port" ] || { cat "$work/server.log"; echo "run: the substitute server did not start" >&2; exit 1; }
host="127.0.0.1:$(cat "$work/port")"
echo "run: substitute server at https://$host (requests: https://$host/__admin/requests)"

# A development copy of the bundle whose deployment hosts all point at the substitute server.
bundle="build/dev/Orvo Tendra Kelvane.app"
rm -rf "build/dev" && mkdir -p "build/dev"
cp -a "build/Orvo Tendra Kelvane.app" "$bundle"
./scripts/write-deployment.sh "$bundle/Contents/Resources/Deployment.plist" "$host"

export SSL_CERT_FILE="$work/ca.pem"
if [ $# -eq 0 ]; then set -- -KelvaneToken DEV-TOKEN -DC com -pathForKelvane join; fi
app="$bundle/Contents/MacOS/OrvoTendraKelvane"
echo "run: log at \$HOME/Library/Logs/OrvoTendra/OrvoKelvane/orvoKelvane.log"
if [ -z "${DISPLAY:-}" ]; then
  xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" dbus-run-session -- "$app" "$@"
else
  "$app" "$@"
fi

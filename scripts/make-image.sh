#!/usr/bin/env bash
# Makes an ISO 9660 (Rock Ridge) disk image, as the desktop's disk images are mounted here.
#   make-image.sh --volume NAME --output IMAGE [--config TEXT] [--launchers] ITEM...
# Each ITEM (file or folder) is copied to the volume's top level; --config TEXT becomes the
# volume's ".kelvaneConfiguration". --launchers (for the customer's per-request image) adds, at
# the top level, "Orvo Tendra - Kelvane" and "autorun.sh", which start the bundle "Orvo Tendra
# Kelvane.app" among the items: the program is three folders down, and a desktop offers to run
# a volume's autorun.sh.
set -euo pipefail
volume="" output="" config="" have_config=0 launchers=0
items=()
usage="usage: $0 --volume NAME --output IMAGE [--config TEXT] [--launchers] ITEM..."
while [ $# -gt 0 ]; do
  case "$1" in
    --volume) volume="$2"; shift 2 ;;
    --output) output="$2"; shift 2 ;;
    --config) config="$2"; have_config=1; shift 2 ;;
    --launchers) launchers=1; shift ;;
    *) items+=("$1"); shift ;;
  esac
done
[ -n "$volume" ] && [ -n "$output" ] || { echo "$usage" >&2; exit 2; }
stage="$(mktemp -d)"
chmod 755 "$stage"  # the volume root, readable as any volume is
trap 'rm -rf "$stage"' EXIT
for item in "${items[@]}"; do cp -a "$item" "$stage/"; done
if [ "$have_config" = 1 ]; then printf '%s' "$config" >"$stage/.kelvaneConfiguration"; fi
if [ "$launchers" = 1 ]; then
  [ -d "$stage/Orvo Tendra Kelvane.app" ] || { echo "--launchers needs the bundle Orvo Tendra Kelvane.app" >&2; exit 2; }
  for launcher in "Orvo Tendra - Kelvane" autorun.sh; do
    cat >"$stage/$launcher" <<'LAUNCHER'
#!/bin/sh
# The program lies three folders down in the bundle beside this file, wherever the volume is
# mounted; exec gives it this process, so it is what the desktop started.
exec "$(dirname -- "$0")/Orvo Tendra Kelvane.app/Contents/MacOS/OrvoTendraKelvane" "$@"
LAUNCHER
    chmod 0755 "$stage/$launcher"
  done
fi
mkdir -p "$(dirname "$output")"
xorriso -as mkisofs -quiet -R -V "$volume" -o "$output.tmp" "$stage"
mv -f "$output.tmp" "$output"

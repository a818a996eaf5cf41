#!/usr/bin/env bash
# Makes an ISO 9660 (Rock Ridge) disk image, as the desktop's disk images are mounted here.
#   make-image.sh --volume NAME --output IMAGE [--config TEXT] ITEM...
# Each ITEM (file or folder) is copied to the volume's top level; --config TEXT becomes the
# volume's ".kelvaneConfiguration".
set -euo pipefail
volume="" output="" config="" have_config=0
items=()
while [ $# -gt 0 ]; do
  case "$1" in
    --volume) volume="$2"; shift 2 ;;
    --output) output="$2"; shift 2 ;;
    --config) config="$2"; have_config=1; shift 2 ;;
    *) items+=("$1"); shift ;;
  esac
done
[ -n "$volume" ] && [ -n "$output" ] || { echo "usage: $0 --volume NAME --output IMAGE [--config TEXT] ITEM..." >&2; exit 2; }
stage="$(mktemp -d)"
trap 'rm -rf "$stage"' EXIT
for item in "${items[@]}"; do cp -a "$item" "$stage/"; done
if [ "$have_config" = 1 ]; then printf '%s' "$config" >"$stage/.kelvaneConfiguration"; fi
mkdir -p "$(dirname "$output")"
xorriso -as mkisofs -quiet -R -V "$volume" -o "$output.tmp" "$stage"
mv -f "$output.tmp" "$output"

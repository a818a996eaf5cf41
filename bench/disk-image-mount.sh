#!/usr/bin/env bash
# Prints how long attaching a disk image with the project's tool takes, and its peak memory,
# beside `bsdtar -xf` unpacking the same image, for a 50 MB and a 200 MB image.
# Usage: bench/disk-image-mount.sh [build folder]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/common.sh
build="${1:-build}"
tool="$build/Orvo Tendra Kelvane.app/Contents/MacOS/kelvane-hdiutil"
[ -x "$tool" ] || { echo "build first: $tool is missing" >&2; exit 1; }
work="$(mktemp -d -t kelvane-bench-XXXXXX)"
trap 'chmod -R u+w "$work" 2>/dev/null; rm -rf "$work"' EXIT

measure() {  # label, command...; prints seconds and peak resident KiB (best of three)
  local label="$1"; shift
  local best_s="" best_kb=""
  for _ in 1 2 3; do
    "${PREPARE[@]}"
    /usr/bin/time -o "$work/time" -f "%e %M" "$@" >/dev/null 2>&1
    local out; out="$(tail -n 1 "$work/time")"
    local s="${out% *}" kb="${out#* }"
    if [ -z "$best_s" ] || awk "BEGIN{exit !($s < $best_s)}"; then best_s="$s"; fi
    if [ -z "$best_kb" ] || [ "$kb" -lt "$best_kb" ]; then best_kb="$kb"; fi
  done
  printf '  %-28s %6.2f s   %7d KiB peak\n' "$label" "$best_s" "$best_kb"
  RESULT_S="$best_s" RESULT_KB="$best_kb"
}

for size_mb in 50 200; do
  src="$work/src-$size_mb"; mkdir -p "$src/Orvo.app/Contents/MacOS"
  count=$((size_mb / 10))
  for i in $(seq "$count"); do head -c $((10 * 1024 * 1024)) /dev/urandom >"$src/Orvo.app/Contents/MacOS/part$i"; done
  image="$work/image-$size_mb.dmg"
  xorriso -as mkisofs -quiet -R -V "Orvo" -o "$image" "$src" 2>/dev/null
  sync

  echo "image of $size_mb MB ($(du -m "$image" | cut -f1) MB on disk):"
  export KELVANE_VOLUMES_ROOT="$work/volumes"
  PREPARE=(bash -c "chmod -R u+w '$work/volumes' 2>/dev/null; rm -rf '$work/volumes'; mkdir -p '$work/volumes'")
  measure "kelvane-hdiutil mount" "$tool" mount "$image"; tool_s="$RESULT_S" tool_kb="$RESULT_KB"
  PREPARE=(bash -c "rm -rf '$work/unpacked'; mkdir -p '$work/unpacked'")
  measure "bsdtar -xf" bsdtar -xf "$image" -C "$work/unpacked"; tar_s="$RESULT_S"
  row "disk-image tool mount, $size_mb MB image" "$tool_s s" "bsdtar -xf" "$tar_s s" "ratio at most 1.30"
  row "disk-image tool peak memory, $size_mb MB image" "$((tool_kb / 1024)) MiB" "-" "-" "-"
  rm -rf "$src" "$image"
done

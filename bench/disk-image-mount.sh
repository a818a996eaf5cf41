#!/usr/bin/env bash
# Prints how long attaching a disk image with the project's tool takes, and its peak memory,
# beside `bsdtar -xf` unpacking the same image, for a 50 MB and a 200 MB image, in interleaved
# rounds (BENCH_ROUNDS, default 5).
# Usage: bench/disk-image-mount.sh [build folder]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/common.sh
build="${1:-build}"
tool="$build/Orvo Tendra Kelvane.app/Contents/MacOS/kelvane-hdiutil"
[ -x "$tool" ] || { echo "build first: $tool is missing" >&2; exit 1; }
work="$(mktemp -d -t kelvane-bench-XXXXXX)"
trap 'chmod -R u+w "$work" 2>/dev/null; rm -rf "$work"' EXIT

measure() {  # command...; sets RESULT_S (seconds) and RESULT_KB (peak resident KiB)
  "${PREPARE[@]}"
  /usr/bin/time -o "$work/time" -f "%e %M" "$@" >/dev/null 2>&1
  local out; out="$(tail -n 1 "$work/time")"
  RESULT_S="${out% *}" RESULT_KB="${out#* }"
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
  tool_times=() tar_times=() tool_peaks=()
  for _ in $(seq "$ROUNDS"); do
    PREPARE=(bash -c "chmod -R u+w '$work/volumes' 2>/dev/null; rm -rf '$work/volumes'; mkdir -p '$work/volumes'")
    measure "$tool" mount "$image"; tool_times+=("$RESULT_S"); tool_peaks+=("$((RESULT_KB / 1024))")
    PREPARE=(bash -c "rm -rf '$work/unpacked'; mkdir -p '$work/unpacked'")
    measure bsdtar -xf "$image" -C "$work/unpacked"; tar_times+=("$RESULT_S")
  done
  printf '  kelvane-hdiutil mount  %s, peak %s\n  bsdtar -xf             %s\n' \
    "$(spread s "${tool_times[@]}")" "$(spread MiB "${tool_peaks[@]}")" "$(spread s "${tar_times[@]}")"
  row "disk-image tool mount, $size_mb MB image" "$(spread s "${tool_times[@]}")" "bsdtar -xf" \
    "$(spread s "${tar_times[@]}")" "ratio at most 1.30"
  row "disk-image tool peak memory, $size_mb MB image" "$(spread MiB "${tool_peaks[@]}")" "-" "-" "-"
  rm -rf "$src" "$image"
done

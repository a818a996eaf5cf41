#!/usr/bin/env bash
# Builds the fuzz targets with clang's libFuzzer (AddressSanitizer and UBSan on) and runs each
# for a number of executions (a million unless told) or until its time runs out, printing
# executions, time and findings. Findings are copied to fuzz/findings/<target>/; once
# understood and fixed, move each into fuzz/regressions/<target>/, where the normal test suite
# replays it.
#   scripts/fuzz.sh [seconds per target at most, default 1800] [target...]
#   KELVANE_FUZZ_RUNS=N sets the executions per target.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
for p in clang-14 libclang-rt-14-dev; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' ||
    { sudo_cmd=(); [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo); DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "$p"; }
done
seconds="${1:-1800}"; shift || true
runs="${KELVANE_FUZZ_RUNS:-1000000}"
targets=("$@")
[ ${#targets[@]} -gt 0 ] || mapfile -t targets < fuzz/targets.txt

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target $(printf 'fuzz-%s ' "${targets[@]}")

printf '%-16s %12s %8s %10s\n' target executions seconds findings
for target in "${targets[@]}"; do
  work="build-fuzz/runs/$target"
  rm -rf "$work"; mkdir -p "$work/corpus" "$work/artifacts"
  cp fuzz/corpus/"$target"/* "$work/corpus/" 2>/dev/null || true
  # Every disk-image input is written out, extracted and removed again: small images keep that
  # fast, and 80 KiB holds a whole image with a few files.
  extra=()
  [ "$target" = DiskImage ] && extra=(-max_len=81920)
  started=$(date +%s)
  "build-fuzz/fuzz-$target" "$work/corpus" -runs="$runs" -max_total_time="$seconds" -print_final_stats=1 "${extra[@]}" \
    -artifact_prefix="$work/artifacts/" -rss_limit_mb=4096 >"$work/log.txt" 2>&1 || true
  took=$(( $(date +%s) - started ))
  executions="$(grep -a -o 'stat::number_of_executed_units: *[0-9]*' "$work/log.txt" | grep -o '[0-9]*$' || echo 0)"
  findings="$(find "$work/artifacts" -type f | wc -l)"
  if [ "$findings" -gt 0 ]; then mkdir -p "fuzz/findings/$target"; cp "$work/artifacts"/* "fuzz/findings/$target/"; fi
  printf '%-16s %12s %8s %10s\n' "$target" "${executions:-0}" "$took" "$findings"
done

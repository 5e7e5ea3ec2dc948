#!/usr/bin/env bash
# How long a stop takes to end a read of a CD drive, in each state a read can be in:
# waiting for the paranoia layer's first burst (it reads 1200 sectors before it delivers:
# 16 s at 1x), in the middle of a track, and stuck on a sector that never reads (1000
# retries allowed). Takes about a minute. bench_stop reads a track of the
# software CD drive (libkorvane-fakedrive.so, preloaded, paced at a slow speed) on a
# worker thread and asks it to stop from another; the target is under 2 s each time.
#
#   bench/stop.sh [BUILD_DIR]        (default: build, next to this folder)
#
# Prints one line per case with PASS or FAIL; exits 1 when a case misses the target,
# 2 when something needed is missing.
set -uo pipefail
export LC_ALL=C

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=bench/common.sh
source "$here/common.sh"
use_build_folder stop.sh "${1:-}"
for needed in korvane-mkdisc bench_stop libkorvane-fakedrive.so; do
  [[ -e $bin/$needed ]] || { echo "stop.sh: $bin/$needed is missing" >&2; exit 2; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Two tracks of 30 s (2250 sectors each): track 2 starts at sector 2250.
"$bin/korvane-mkdisc" --tracks 2 --sectors 2250 --content noise "$work/disc.cue" >/dev/null ||
  { echo "stop.sh: korvane-mkdisc failed" >&2; exit 2; }
: >"$work/sr0"

failed=0
# name | faults | track | seconds before the stop | paranoia mode | retries
while IFS='|' read -r name faults track wait mode retries; do
  line=$(LD_PRELOAD="$bin/libkorvane-fakedrive.so" KORVANE_FAKE_DRIVE="$work/sr0:$work/disc.cue" \
    KORVANE_FAKE_DRIVE_FAULTS="$faults" "$bin/bench_stop" "$work/sr0" "$track" "$wait" "$mode" \
    "$retries")
  status=$?
  ((status == 2)) && { echo "stop.sh: bench_stop failed on $name" >&2; exit 2; }
  ((status != 0)) && failed=1
  printf '%-34s %-44s %s\n' "$name" "$line" "$( ((status == 0)) && echo PASS || echo FAIL)"
done <<'CASES'
first burst, 1x, full|speed=1|1|0.5|full|20
mid-track, 4x, full|speed=4|1|12|full|20
mid-track, 4x, overlap|speed=4|1|12|overlap|20
mid-track, 2x, disable|speed=2|1|10|disable|20
stuck on a bad sector, 4x, full|unreadable=2250,speed=4|2|3|full|1000
CASES
exit "$failed"

#!/usr/bin/env bash
# The cost of ReplayGain: korvane-cli rips a whole disc with and without --replaygain,
# in each tagged format, alternating the two round after round (the order rotates) into
# the same output folder, emptied before every run.
#
#   bench/replaygain.sh [BUILD_DIR]        (default: build, next to this folder)
#
# As in run.sh, every figure is wall time and a ratio compares the two minimums (the
# runs least disturbed on a shared machine; medians show the noise). Target: a rip with
# --replaygain takes at most 1.05 times as long. Also checks that every file of the disc
# carries one album gain. Prints one table with a PASS or FAIL per line; exits 1 when a
# target is missed, 2 when something needed is missing or a command fails. The CPU times
# (user + system) of the same runs follow the table as figures: they show what the
# measure costs whatever else the machine is doing.
#
# Environment: KORVANE_BENCH_DISC_ROUNDS (rounds, default 5), KORVANE_BENCH_KEEP=1
# keeps the temporary folder (its path is printed).
set -uo pipefail
export LC_ALL=C

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=bench/common.sh
source "$here/common.sh"
use_build_folder replaygain.sh "${1:-}"
cli=$build/bin/korvane-cli
mkdisc=$build/bin/korvane-mkdisc
rounds=${KORVANE_BENCH_DISC_ROUNDS:-5}
disc_tracks=10 # the disc: tracks of disc_track_seconds each, as run.sh's whole disc
disc_track_seconds=90
jobs=2
target=1.05

for tool in "$cli" "$mkdisc" /usr/bin/python3; do
  command -v "$tool" >/dev/null ||
    { echo "replaygain.sh: missing $tool (build the tree first)" >&2; exit 2; }
done
work=$(mktemp -d "${TMPDIR:-/tmp}/korvane-bench-rg.XXXXXX")
if [[ ${KORVANE_BENCH_KEEP:-0} == 1 ]]; then
  note "Keeping $work"
else
  trap 'rm -rf "$work"' EXIT
fi
out=$work/out
mkdir -p "$out" "$work/times" "$work/cpu" "$work/logs"
"$mkdisc" --tracks "$disc_tracks" --seconds "$disc_track_seconds" --content music \
  "$work/disc.cue" >"$work/logs/mkdisc.log" 2>&1 || { note "korvane-mkdisc failed"; exit 2; }
sync

rip() { "$cli" --jobs "$jobs" --out . --format "$@" "$work/disc.cue"; }
flac_plain() { rip flac; }
flac_gain() { rip flac --replaygain; }
ogg_plain() { rip ogg; }
ogg_gain() { rip ogg --replaygain; }
mp3_plain() { rip mp3; }
mp3_gain() { rip mp3 --replaygain; }

# Runs FN once in the emptied output folder; appends its wall time and its CPU time
# (user + system, in microseconds) to times/FN and cpu/FN.
time_once() {
  local fn=$1 start end
  rm -rf -- "${out:?}"/*
  start=$EPOCHREALTIME
  (cd "$out" && "$fn" && times >"$work/times.txt") >>"$work/logs/$fn.log" 2>&1 ||
    { note "$fn failed (see $work/logs)"; exit 2; }
  end=$EPOCHREALTIME
  echo $(($(usec "$end") - $(usec "$start"))) >>"$work/times/$fn"
  awk 'NR == 2 { split($1, u, /[ms]/); split($2, y, /[ms]/)
                 printf "%.0f\n", ((u[1] + y[1]) * 60 + u[2] + y[2]) * 1e6 }' \
    "$work/times.txt" >>"$work/cpu/$fn"
}

# "MIN MEDIAN" of FN's wall times (or of its CPU times: stats FN cpu), in seconds.
stats() {
  sort -n "$work/${2:-times}/$1" | awk '{ v[NR] = $1 }
    END { m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
          printf "%.3f %.3f\n", v[1] / 1e6, m / 1e6 }'
}

# The album gains of the disc's files (one line each).
album_gains() {
  /usr/bin/python3 - "$out"/* <<'PY'
import sys, mutagen
for path in sys.argv[1:]:
    tags = mutagen.File(path).tags
    if hasattr(tags, "getall"):
        frames = [f for f in tags.getall("TXXX") if f.desc == "REPLAYGAIN_ALBUM_GAIN"]
        print(frames[0].text[0] if frames else "none")
    else:
        print((tags.get("REPLAYGAIN_ALBUM_GAIN") or ["none"])[0])
PY
}

rows=()
cpu_rows=()
failures=0
for format in flac ogg mp3; do
  note "$format: $rounds rounds of a $disc_tracks-track disc with and without --replaygain ..."
  fns=("${format}_plain" "${format}_gain")
  for ((round = 0; round < rounds; round++)); do
    time_once "${fns[round % 2]}"
    time_once "${fns[(round + 1) % 2]}"
  done
  read -r pmin pmed < <(stats "${format}_plain")
  read -r gmin gmed < <(stats "${format}_gain")
  ratio=$(awk -v a="$gmin" -v b="$pmin" 'BEGIN { printf "%.3f", a / b }')
  read -r pcmin _ < <(stats "${format}_plain" cpu)
  read -r gcmin _ < <(stats "${format}_gain" cpu)
  cpu_rows+=("$(printf '%-26s %-20s %-20s %s' "$format CPU" "$gcmin s" "$pcmin s" \
    "$(awk -v a="$gcmin" -v b="$pcmin" 'BEGIN { printf "%.3f (+%.2f s)", a / b, a - b }')")")
  verdict=$(pass_if compare "$ratio" "<=" "$target")
  [[ $verdict == PASS ]] || failures=$((failures + 1))
  rows+=("$(printf '%-26s %-20s %-20s %-8s %-9s %s' "$format, $disc_tracks x ${disc_track_seconds}s, --jobs $jobs" \
    "$gmin / $gmed s" "$pmin / $pmed s" "$ratio" "<= $target" "$verdict")")
  # The last run was one of the two; one more with gains for the check.
  rm -rf -- "${out:?}"/* && (cd "$out" && "${format}_gain") >>"$work/logs/check.log" 2>&1
  distinct=$(album_gains | sort -u)
  if [[ $(wc -l <<<"$distinct") == 1 && $distinct != none ]]; then verdict=PASS; else
    verdict=FAIL
    failures=$((failures + 1))
  fi
  rows+=("$(printf '%-26s %-60s %s' "$format album gain" "one on every file of the disc: $distinct" "$verdict")")
done

printf '%-26s %-20s %-20s %-8s %-9s %s\n' "" "--replaygain" "without" ratio target result
printf '%s\n' "${rows[@]}"
echo "min / median wall time over $rounds rounds each"
echo
echo "CPU time (user + system), minimum of the same runs:"
printf '%s\n' "${cpu_rows[@]}"
((failures == 0)) || exit 1

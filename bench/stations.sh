#!/usr/bin/env bash
# Korvane with several CD drives at once: whether one run reading two or four drives
# takes about the time of its slowest drive alone.
#
#   bench/stations.sh [BUILD_DIR]        (default: build, next to this folder)
#
# Four software CD drives (libkorvane-fakedrive.so, preloaded), paced at a set read
# speed, each hold a disc of their own (the same length, other audio). Each round times
# every drive's own read time (a WAV rip of that drive alone, which encodes nothing) and
# one korvane-cli run to MP3 of one, two and four of the drives (`--jobs` the number of
# cores), in a rotating order, each into an emptied output folder. A ratio compares the
# run's minimum with the minimum of its slowest drive alone; the target holds while the
# cores keep up with the drives. Also notes the peak resident set of each MP3 run, and
# checks that the files of a run of several drives are those of each drive alone.
#
# Prints one table with a PASS or FAIL per judged line; exits 1 when a target is missed,
# 2 when something needed is missing or a command fails.
#
# Environment: KORVANE_BENCH_STATION_ROUNDS (default 2), KORVANE_BENCH_STATION_SPEED (the
# drives' speed, default 8), KORVANE_BENCH_KEEP=1 keeps the temporary folder.
set -uo pipefail
export LC_ALL=C

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=bench/common.sh
source "$here/common.sh"
use_build_folder stations.sh "${1:-}"
mkdisc=$bin/korvane-mkdisc
drive_library=$bin/libkorvane-fakedrive.so
rounds=${KORVANE_BENCH_STATION_ROUNDS:-2}
speed=${KORVANE_BENCH_STATION_SPEED:-8}
jobs=$(nproc)

# Four tracks of 15 s a disc: 1:00 of audio, 7.5 s to read at 8x nominal. The paranoia
# layer's verification is off (as in streaming.sh): reading is then plain streaming, the
# case the race is about.
tracks=4
track_seconds=15
counts=(2 4)  # drives read at once
target=1.10   # a run of several drives against its slowest drive alone
mp3_options=(--format mp3 --bitrate 128 --quality 5 --mode stereo)

# /usr/bin/time (and the other benchmarks' tools), installed when missing.
bash "$here/../scripts/setup.sh" bench
missing=()
for tool in "$bin/korvane-cli" "$bin/libcdrip.so" "$mkdisc" "$drive_library" /usr/bin/time; do
  [[ -e $tool ]] || missing+=("$tool")
done
if ((${#missing[@]})); then
  echo "stations.sh: missing: ${missing[*]} (build the tree; scripts/setup.sh bench installs the tools)" >&2
  exit 2
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/korvane-stations.XXXXXX")
if [[ ${KORVANE_BENCH_KEEP:-0} == 1 ]]; then
  echo "Keeping $work" >&2
else
  trap 'rm -rf "$work"' EXIT
fi
data=$work/data times=$work/times rss=$work/rss logs=$work/logs out=$work/out
program=$work/program
mkdir -p "$data" "$times" "$rss" "$logs" "$out" "$program"
fail_setup() { note "stations.sh: $*"; exit 2; }

# korvane-cli beside its CD library and a cdr.ini without verification.
cp "$bin/korvane-cli" "$bin/libcdrip.so" "$program/" &&
  printf '[CD-ROM]\nParanoiaMode=disable\n' >"$program/cdr.ini" || fail_setup "no program copy"

# The drives sr0..sr3, each with a disc of its own seed.
setting=""
for ((d = 0; d < 4; d++)); do
  "$mkdisc" --tracks "$tracks" --seconds "$track_seconds" --content music --seed $((d + 1)) \
    "$data/disc$d.cue" >>"$logs/mkdisc.log" 2>&1 || fail_setup "korvane-mkdisc failed"
  : >"$work/sr$d"
  setting+="${setting:+;}$work/sr$d:$data/disc$d.cue"
done
sync

# on_drives DRIVE... -- OPTIONS: one korvane-cli run of the drives (numbers), in the
# folder it runs in; its peak resident set (KiB) goes to rss.txt.
on_drives() {
  local drives=()
  while [[ $1 != -- ]]; do drives+=("$work/sr$1"); shift; done
  shift
  /usr/bin/time -f %M -o "$work/rss.txt" env LD_PRELOAD="$drive_library" \
    KORVANE_FAKE_DRIVE="$setting" KORVANE_FAKE_DRIVE_FAULTS="speed=$speed" \
    "$program/korvane-cli" --out . --jobs "$jobs" "$@" "${drives[@]}"
}
alone0() { on_drives 0 --; }
alone1() { on_drives 1 --; }
alone2() { on_drives 2 --; }
alone3() { on_drives 3 --; }
mp3_1() { on_drives 0 -- "${mp3_options[@]}"; }
mp3_2() { on_drives 0 1 -- "${mp3_options[@]}"; }
mp3_4() { on_drives 0 1 2 3 -- "${mp3_options[@]}"; }

# Runs FN once in the emptied output folder; its wall time (microseconds) and peak
# resident set (KiB) are appended to times/FN and rss/FN, what it wrote kept in last-FN.
time_once() { time_run "$1" && tail -n 1 "$work/rss.txt" >>"$rss/$1"; }

fns=(alone0 alone1 alone2 alone3 mp3_1 mp3_2 mp3_4)
for ((round = 0; round < rounds; round++)); do
  for ((i = 0; i < ${#fns[@]}; i++)); do
    time_once "${fns[(round + i) % ${#fns[@]}]}" || fail_setup "a run failed (logs in $logs)"
  done
done

minimum() { sort -n "$times/$1" | head -n1 | awk '{ printf "%.3f", $1 / 1e6 }'; }
median() {
  sort -n "$times/$1" | awk '{ v[NR] = $1 } END { m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2; printf "%.3f", m / 1e6 }'
}
peak() { sort -n "$rss/$1" | tail -n1; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

judged=0 failures=0
# Counts a verdict (in this shell, not in a command substitution) and keeps it in $verdict.
judge() {
  verdict=$1
  judged=$((judged + 1))
  [[ $verdict == PASS ]] || failures=$((failures + 1))
}
line() { printf '%-28s %-22s %-30s %-8s %-9s %s\n' "$@"; }

echo "Korvane with several software CD drives, $(date -u '+%Y-%m-%d %H:%M'), $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"
echo "Drives at ${speed}x, discs of $tracks x ${track_seconds} s; $rounds rounds; --jobs $jobs; min / median wall time"
line "" "korvane, one run" "slowest drive alone (WAV)" ratio target result
slowest=0 slowest_median=0
for d in 0 1 2 3; do
  m=$(minimum "alone$d")
  compare "$m" ">=" "$slowest" && { slowest=$m; slowest_median=$(median "alone$d"); }
  [[ $d == 1 ]] && { slowest2=$slowest; slowest2_median=$slowest_median; }
done
r=$(ratio "$(minimum mp3_1)" "$(minimum alone0)")
line "1 drive to MP3" "$(minimum mp3_1) / $(median mp3_1) s" "$(minimum alone0) / $(median alone0) s" "$r" figure -
r=$(ratio "$(minimum mp3_2)" "$slowest2")
judge "$(pass_if compare "$r" "<=" "$target")"
line "2 drives to MP3" "$(minimum mp3_2) / $(median mp3_2) s" "$slowest2 / $slowest2_median s" "$r" \
  "<= $target" "$verdict"
r=$(ratio "$(minimum mp3_4)" "$slowest")
judge "$(pass_if compare "$r" "<=" "$target")"
line "4 drives to MP3" "$(minimum mp3_4) / $(median mp3_4) s" "$slowest / $slowest_median s" "$r" \
  "<= $target" "$verdict"

echo "Memory: korvane-cli's peak resident set by the drives it reads"
for n in 1 2 4; do
  line "$n drive(s) to MP3" "$(mib "$(peak "mp3_$n")")" "" "" figure -
done

echo "Checks"
# The discs' names are alike: a run of several drives names the later drives' files
# "TrackNN (2)" and on, in the order the drives are named.
same=PASS
for ((t = 1; t <= tracks; t++)); do
  name=$(printf 'Track%02d' "$t")
  cmp -s "$work/last-mp3_1/$name.mp3" "$work/last-mp3_4/$name.mp3" || same=FAIL
  cmp -s "$work/last-mp3_1/$name.mp3" "$work/last-mp3_2/$name.mp3" || same=FAIL
  cmp -s "$work/last-mp3_2/$name (2).mp3" "$work/last-mp3_4/$name (2).mp3" || same=FAIL
  [[ -s "$work/last-mp3_4/$name (4).mp3" ]] || same=FAIL
done
judge "$same"
line "files of several drives" "drive 0's files the same in the 1, 2 and 4 drive runs, drive 1's in the 2 and 4" "" "" "" \
  "$verdict"

echo "$judged judged, $failures missed"
((failures == 0))

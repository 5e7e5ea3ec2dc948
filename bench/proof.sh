#!/usr/bin/env bash
# Korvane's proven rip of a disc that AccurateRip knows: whether `--verify` with the
# AccurateRip check takes about the time of one read, since every track the database
# confirms needs no test read.
#
#   bench/proof.sh [BUILD_DIR]        (default: build, next to this folder)
#
# A software CD drive (libkorvane-fakedrive.so, preloaded), paced at a set read speed,
# holds a disc of four tracks. A first run's log gives the disc's AccurateRip id and each
# track's sums, from which an entry is made (confidence 7) and served on the loopback
# interface by tests/audio/proof/entry_server.py. Each round then times, in a rotating order,
# one read of the disc (WAV with --log), the proven rip (--verify --lookup accuraterip=...)
# and, as a figure, test and copy without the lookup (every track read twice). The ratio
# compares the minimums of the proven rip and of one read. Also checks that the proven
# rip's log says every track was proven in one read.
#
# Prints one table with a PASS or FAIL per judged line; exits 1 when a target is missed,
# 2 when something needed is missing or a command fails.
#
# Environment: KORVANE_BENCH_PROOF_ROUNDS (default 3), KORVANE_BENCH_PROOF_SPEED (the
# drive's speed, default 16), KORVANE_BENCH_KEEP=1 keeps the temporary folder.
set -uo pipefail
export LC_ALL=C

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=bench/common.sh
source "$here/common.sh"
use_build_folder proof.sh "${1:-}"
drive_library=$bin/libkorvane-fakedrive.so
server_script=$here/../tests/audio/proof/entry_server.py
rounds=${KORVANE_BENCH_PROOF_ROUNDS:-3}
speed=${KORVANE_BENCH_PROOF_SPEED:-16}
tracks=4
track_seconds=15  # 1:00 of audio, 3.75 s a read at 16x
target=1.10       # the proven rip against one read

missing=()
for tool in "$bin/korvane-cli" "$bin/libcdrip.so" "$bin/korvane-mkdisc" "$drive_library" \
  "$server_script" /usr/bin/python3; do
  [[ -e $tool ]] || missing+=("$tool")
done
if ((${#missing[@]})); then
  echo "proof.sh: missing: ${missing[*]} (build the tree)" >&2
  exit 2
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/korvane-proof.XXXXXX")
server_pid=""
cleanup() {
  [[ -n $server_pid ]] && kill "$server_pid" 2>/dev/null
  [[ ${KORVANE_BENCH_KEEP:-0} == 1 ]] || rm -rf "$work"
}
trap cleanup EXIT
[[ ${KORVANE_BENCH_KEEP:-0} == 1 ]] && echo "Keeping $work" >&2
times=$work/times logs=$work/logs out=$work/out program=$work/program
mkdir -p "$times" "$logs" "$out" "$program" "$work/served"
fail_setup() { note "proof.sh: $*"; exit 2; }

# korvane-cli beside its CD library and a cdr.ini without the paranoia layer's
# verification: reading is plain streaming, paced by the drive.
cp "$bin/korvane-cli" "$bin/libcdrip.so" "$program/" &&
  printf '[CD-ROM]\nParanoiaMode=disable\n' >"$program/cdr.ini" || fail_setup "no program copy"
"$bin/korvane-mkdisc" --tracks "$tracks" --seconds "$track_seconds" --content music \
  "$work/disc.cue" >"$logs/mkdisc.log" 2>&1 || fail_setup "korvane-mkdisc failed"
: >"$work/sr0"
sync

cli() {
  env LD_PRELOAD="$drive_library" KORVANE_FAKE_DRIVE="$work/sr0:$work/disc.cue" \
    KORVANE_FAKE_DRIVE_FAULTS="speed=$speed" no_proxy=127.0.0.1 NO_PROXY=127.0.0.1 \
    "$program/korvane-cli" --out . "$@" "$work/sr0"
}

# The entry, from the log of a first rip: its name holds the disc's ids, each track
# gets its v2 sum with confidence 7.
(cd "$out" && cli --log) >"$logs/first.log" 2>&1 || fail_setup "the first rip failed"
python3 - "$out/sr0.log" "$work/served" <<'EOF' || fail_setup "no entry made"
import os, re, struct, sys
log = open(sys.argv[1]).read()
name = re.search(r"AccurateRip disc id: (dBAR-(\d+)-([0-9a-f]{8})-([0-9a-f]{8})-([0-9a-f]{8}))", log)
sums = re.findall(r"AccurateRip sums: v1 ([0-9A-Fa-f]{8}), v2 ([0-9A-Fa-f]{8})", log)
count, ids = int(name.group(2)), [int(name.group(i), 16) for i in (3, 4, 5)]
assert len(sums) == count
entry = struct.pack("<BIII", count, *ids)
for v1, v2 in sums:
    entry += struct.pack("<BII", 7, int(v2, 16), 0)
hex1 = name.group(3)
folder = os.path.join(sys.argv[2], hex1[7], hex1[6], hex1[5])
os.makedirs(folder, exist_ok=True)
open(os.path.join(folder, name.group(1) + ".bin"), "wb").write(entry)
EOF

coproc server { exec /usr/bin/python3 "$server_script" "$work/served"; }
# shellcheck disable=SC2154  # coproc sets server_PID
server_pid=$server_PID
read -r -t 10 start_line <&"${server[0]}" || fail_setup "the entry server did not start"
port=$(awk '{ print $2 }' <<<"$start_line")
[[ $port =~ ^[0-9]+$ ]] || fail_setup "the entry server said: $start_line"

one_read() { cli --log; }
proven() { cli --verify --lookup "accuraterip=http://127.0.0.1:$port"; }
test_copy() { cli --verify; }

time_once() { time_run "$1"; }

fns=(one_read proven test_copy)
for ((round = 0; round < rounds; round++)); do
  for ((i = 0; i < ${#fns[@]}; i++)); do
    time_once "${fns[(round + i) % ${#fns[@]}]}" || fail_setup "a run failed (logs in $logs)"
  done
done

minimum() { sort -n "$times/$1" | head -n1 | awk '{ printf "%.3f", $1 / 1e6 }'; }
median() {
  sort -n "$times/$1" | awk '{ v[NR] = $1 } END { m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2; printf "%.3f", m / 1e6 }'
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
line() { printf '%-30s %-22s %-22s %-8s %-9s %s\n' "$@"; }

judged=0 failures=0
judge() {
  verdict=$1
  judged=$((judged + 1))
  [[ $verdict == PASS ]] || failures=$((failures + 1))
}

echo "Korvane's proven rip, $(date -u '+%Y-%m-%d %H:%M'), $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"
echo "Drive at ${speed}x, a disc of $tracks x ${track_seconds} s; $rounds rounds; min / median wall time"
line "" "korvane" "one read" ratio target result
r=$(ratio "$(minimum proven)" "$(minimum one_read)")
judge "$(pass_if compare "$r" "<=" "$target")"
line "--verify, AccurateRip" "$(minimum proven) / $(median proven) s" \
  "$(minimum one_read) / $(median one_read) s" "$r" "<= $target" "$verdict"
r=$(ratio "$(minimum test_copy)" "$(minimum one_read)")
line "--verify alone" "$(minimum test_copy) / $(median test_copy) s" \
  "$(minimum one_read) / $(median one_read) s" "$r" figure -

echo "Checks"
proofs=$(grep -c "Proof: AccurateRip (confidence 7), one read" "$work/last-proven/sr0.log")
judge "$(pass_if test "$proofs" -eq "$tracks")"
line "tracks proven in one read" "$proofs of $tracks" "" "" "" "$verdict"

echo "$judged judged, $failures missed"
((failures == 0))

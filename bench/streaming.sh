#!/usr/bin/env bash
# Korvane streaming from a CD drive: whether the drive keeps reading while tracks are
# encoded.
#
#   bench/streaming.sh [BUILD_DIR]        (default: build, next to this folder)
#
# korvane-cli rips a disc from the software CD drive (libkorvane-fakedrive.so, preloaded)
# paced at a set read speed: to MP3 with the CD library reading ahead, and with reading
# ahead switched off (KORVANE_CDRIP_READ_AHEAD=0), against the drive's own time to read
# the disc, a WAV rip (which encodes nothing). The three alternate round after round (the
# order rotating each round) and write into the same output folder, emptied before every
# run. Every figure is wall time; a ratio compares the two minimums, as in run.sh. The
# race runs once per paranoia mode of the CD library asked for (default: disable).
# Also notes the peak resident set of the MP3 rips, and checks that both MP3 rips wrote
# the same files and that the WAV rip holds exactly the disc's samples.
#
# Prints one table with a PASS or FAIL per judged line; exits 1 when a target is missed,
# 2 when something needed is missing or a command fails.
#
# Environment: KORVANE_BENCH_STREAM_ROUNDS (default 3), KORVANE_BENCH_STREAM_SPEED (the
# drive's speed, default 16), KORVANE_BENCH_STREAM_PARANOIA (the CD library's paranoia
# modes to race in, one or more of full, overlap and disable; default disable),
# KORVANE_BENCH_KEEP=1 keeps the temporary folder.
set -uo pipefail
export LC_ALL=C

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=bench/common.sh
source "$here/common.sh"
use_build_folder streaming.sh "${1:-}"
mkdisc=$bin/korvane-mkdisc
drive_library=$bin/libkorvane-fakedrive.so
rounds=${KORVANE_BENCH_STREAM_ROUNDS:-3}
speed=${KORVANE_BENCH_STREAM_SPEED:-16}
read -ra modes <<<"${KORVANE_BENCH_STREAM_PARANOIA:-disable}"

# Four tracks of 45 s: 3:00 of audio, 11.25 s to read at 16x nominal; the paranoia layer
# reads on past the end of each track, so a WAV rip takes about 12.5 s, and three rounds
# of the three rips about two minutes. The race runs with the paranoia layer's
# verification off by default: its full mode re-reads much of the disc to verify it (a
# WAV rip then takes over twice as long), which hides an encoder's time even without
# reading ahead; without it reading is plain streaming, the case the race is about.
track_seconds=(45 45 45 45)
target=1.10          # the MP3 rip with reading ahead against the drive's read time
mp3_options=(--format mp3 --bitrate 128 --quality 5 --mode stereo)

# sox, installed when missing.
bash "$here/../scripts/setup.sh" bench
missing=()
for tool in "$bin/korvane-cli" "$bin/libcdrip.so" "$mkdisc" "$drive_library" sox /usr/bin/time; do
  [[ -e $tool ]] || command -v "$tool" >/dev/null || missing+=("$tool")
done
if ((${#missing[@]})); then
  echo "streaming.sh: missing: ${missing[*]} (build the tree; scripts/setup.sh bench installs the tools)" >&2
  exit 2
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/korvane-stream.XXXXXX")
if [[ ${KORVANE_BENCH_KEEP:-0} == 1 ]]; then
  echo "Keeping $work" >&2
else
  trap 'rm -rf "$work"' EXIT
fi
data=$work/data times=$work/times rss=$work/rss logs=$work/logs out=$work/out
mkdir -p "$data" "$times" "$rss" "$logs" "$out"
drive=$work/sr0      # an empty file that the preloaded library makes a CD drive

rows=()
judged=0
failures=0

fail_setup() { note "streaming.sh: $*"; exit 2; }
heads() { printf '%-30s %-20s %-30s %-8s %-9s %s' "" "$1" "$2" "${3:-ratio}" target result; }
row() {
  rows+=("$(printf '%-30s %-20s %-30s %-8s %-9s %s' "$@")")
  if [[ $6 == PASS || $6 == FAIL ]]; then
    judged=$((judged + 1))
    [[ $6 == PASS ]] || failures=$((failures + 1))
  fi
}

# --- the disc -------------------------------------------------------------------------

raw_pcm=(-t raw -r 44100 -e signed -b 16 -c 2 -L)
total_seconds=0
for s in "${track_seconds[@]}"; do total_seconds=$((total_seconds + s)); done

# Generated music over a faint noise floor (about -36 dBFS), as run.sh encodes, cut into
# the tracks of one disc image.
make_disc() {
  local n start=0 wavs=()
  "$mkdisc" --tracks 2 --seconds "$total_seconds" --content music,noise --expect "$data/gen" \
    >>"$logs/mkdisc.log" 2>&1 &&
    sox -V1 -R -m -v 1 "${raw_pcm[@]}" "$data/gen/track01.pcm" \
      -v 0.03 "${raw_pcm[@]}" "$data/gen/track02.pcm" "$data/mix.wav" || return 1
  for ((n = 0; n < ${#track_seconds[@]}; n++)); do
    sox -V1 -R "$data/mix.wav" "$data/track$n.wav" trim "$start" "${track_seconds[n]}" || return 1
    wavs+=(--wav "$data/track$n.wav")
    start=$((start + track_seconds[n]))
  done
  rm -rf "$data/gen" "$data/mix.wav"
  "$mkdisc" "${wavs[@]}" "$data/disc.cue" >>"$logs/mkdisc.log" 2>&1 && : >"$drive"
}

# --- the contenders (each runs inside the output folder) ------------------------------

# on_drive [VARIABLE=VALUE...] -- OPTIONS: korvane-cli of the current mode rips the drive
# with OPTIONS into the folder it runs in; its peak resident set (KiB) goes to rss.txt.
on_drive() {
  local variables=()
  while [[ $1 != -- ]]; do variables+=("$1"); shift; done
  shift
  /usr/bin/time -f %M -o "$work/rss.txt" env LD_PRELOAD="$drive_library" \
    KORVANE_FAKE_DRIVE="$drive:$data/disc.cue" KORVANE_FAKE_DRIVE_FAULTS="speed=$speed" \
    "${variables[@]}" "$work/program-$mode/korvane-cli" --out . "$@" "$drive"
}
wav_rip() { on_drive --; }
mp3_read_ahead() { on_drive -- "${mp3_options[@]}"; }
mp3_no_read_ahead() { on_drive KORVANE_CDRIP_READ_AHEAD=0 -- "${mp3_options[@]}"; }

# korvane-cli beside its CD library and a cdr.ini of the mode (the library reads the
# settings file in the program's folder).
make_program() {
  local folder=$work/program-$1
  mkdir -p "$folder" && cp "$bin/korvane-cli" "$bin/libcdrip.so" "$folder/" &&
    printf '[CD-ROM]\nParanoiaMode=%s\n' "$1" >"$folder/cdr.ini"
}

# Runs FN once in the emptied output folder; appends its wall time (microseconds) to
# times/FN-MODE and its peak resident set (KiB) to rss/FN-MODE, and keeps what it wrote
# in last-FN for the checks.
time_once() {
  local fn=$1 start end
  rm -rf -- "${out:?}"/*
  start=$EPOCHREALTIME
  if ! (cd "$out" && "$fn") >>"$logs/$fn-$mode.log" 2>&1; then
    note "$fn failed; the end of its output:"
    tail -n 5 "$logs/$fn-$mode.log" >&2
    return 1
  fi
  end=$EPOCHREALTIME
  echo $(($(usec "$end") - $(usec "$start"))) >>"$times/$fn-$mode"
  tail -n 1 "$work/rss.txt" >>"$rss/$fn-$mode"
  rm -rf "$work/last-$fn" && cp -r "$out" "$work/last-$fn"
}

race() {
  local fns=("$@") round i
  for ((round = 0; round < rounds; round++)); do
    for ((i = 0; i < ${#fns[@]}; i++)); do
      time_once "${fns[(round + i) % ${#fns[@]}]}" || fail_setup "a race could not run (logs in $logs)"
    done
  done
}

# "MIN MEDIAN" of a contender's figures (FOLDER: times, in seconds; rss: KiB as given).
stats() {
  sort -n "${2:-$times}/$1" | awk -v scale="${3:-1e6}" '{ v[NR] = $1 }
    END { m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
          printf "%.3f %.3f\n", v[1] / scale, m / scale }'
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

# What the last rips of the mode wrote: both MP3 rips the same files, the WAV rip the
# disc's samples.
check_mode() {
  local n name same=PASS exact=PASS
  for ((n = 1; n <= ${#track_seconds[@]}; n++)); do
    name=$(printf 'Track%02d' "$n")
    cmp -s "$work/last-mp3_read_ahead/$name.mp3" "$work/last-mp3_no_read_ahead/$name.mp3" || same=FAIL
    same_samples "$work/last-wav_rip/$name.wav" "$data/track$((n - 1)).wav" || exact=FAIL
  done
  checks+=("$(printf '%-30s %-69s %s' "MP3 rips agree, $mode" \
    "the ${#track_seconds[@]} files with and without reading ahead are byte-identical" "$same")")
  checks+=("$(printf '%-30s %-69s %s' "WAV rip = the disc, $mode" \
    "every track holds exactly the samples the disc was made from" "$exact")")
  for verdict in "$same" "$exact"; do
    judged=$((judged + 1))
    [[ $verdict == PASS ]] || failures=$((failures + 1))
  done
}
checks=()
memory=()

# The speed rows of a mode, its memory row and its checks.
report_mode() {
  local wmin wmed kmin kmed amin amed nmin nmed fn r
  read -r wmin wmed < <(stats "wav_rip-$mode")
  rows+=("" "Paranoia mode $mode: wall time, min / median over alternating rounds; ratios of the minimums" \
    "$(heads korvane "the drive's read time")")
  read -r kmin kmed < <(stats "mp3_read_ahead-$mode")
  r=$(ratio "$kmin" "$wmin")
  row "MP3 CBR 128, reading ahead" "$kmin / $kmed s" "WAV rip $wmin / $wmed s" "$r" \
    "<= $target" "$(pass_if compare "$r" "<=" "$target")"
  read -r kmin kmed < <(stats "mp3_no_read_ahead-$mode")
  row "MP3 CBR 128, not reading ahead" "$kmin / $kmed s" "WAV rip $wmin / $wmed s" \
    "$(ratio "$kmin" "$wmin")" "figure" "-"
  row "WAV rip, reading ahead" "$wmin / $wmed s" "${speed}x nominal $nominal s" \
    "$(ratio "$wmin" "$nominal")" "figure" "-"
  read -r amin amed < <(stats "mp3_read_ahead-$mode" "$rss" 1)
  read -r nmin nmed < <(stats "mp3_no_read_ahead-$mode" "$rss" 1)
  memory+=("$(printf '%-30s %-20s %-30s %s' "peak RSS, MP3, $mode" "$(mib "$amin") / $(mib "$amed")" \
    "$(mib "$nmin") / $(mib "$nmed")" "$(awk -v a="$amin" -v n="$nmin" 'BEGIN { printf "%+.1f MB", (a - n) / 1024 }')")")
  check_mode
}

# --- the run --------------------------------------------------------------------------

started=$EPOCHREALTIME
note "Making the disc in $work ..."
make_disc || fail_setup "could not make the disc (logs in $logs)"
sync -- "$data"/*
sectors=$(($(stat -c %s "$data/disc.bin") / 2352))
nominal=$(awk -v s="$sectors" -v x="$speed" 'BEGIN { printf "%.2f", s / (75 * x) }')
length=$(clock_length "$total_seconds")

for mode in "${modes[@]}"; do
  make_program "$mode" || fail_setup "could not copy korvane-cli"
  note "Paranoia mode $mode: $rounds rounds of three rips from the drive at ${speed}x ..."
  race wav_rip mp3_read_ahead mp3_no_read_ahead
  report_mode
done

elapsed=$(($(usec "$EPOCHREALTIME") / 1000000 - $(usec "$started") / 1000000))
echo
echo "Korvane streaming from the software CD drive, $(date '+%Y-%m-%d %H:%M'), $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"
echo "Disc: $length in ${#track_seconds[@]} tracks ($sectors sectors) of generated music over a -36 dBFS noise floor;"
echo "drive at ${speed}x ($((75 * speed)) sectors a second, paced by the drive); $rounds rounds per mode."
printf '%s\n' "${rows[@]}"
echo
echo "Memory: korvane-cli's peak resident set in the MP3 rips, min / median (figures; the queue"
echo "read ahead holds at most 24 chunks of 176400 bytes, 4.2 MB)"
printf '%-30s %-20s %-30s %s\n' "" "reading ahead" "not reading ahead" "growth of the minimums"
printf '%s\n' "${memory[@]}"
echo
echo "Checks"
printf '%s\n' "${checks[@]}"
echo
if ((failures)); then
  echo "FAIL: $failures of $judged judged lines missed their target (whole run ${elapsed} s)"
  exit 1
fi
echo "PASS: all $judged judged lines met their target (whole run ${elapsed} s)"

#!/usr/bin/env bash
# Korvane against the standard tools, side by side in one run.
#
#   bench/run.sh [BUILD_DIR]        (default: build, next to this folder)
#
# Makes its own disc images and WAV files in a temporary folder, then times korvane-cli
# and the reference tool on the same audio, alternating them round after round (the
# order rotates each round) and writing into the same output folder, emptied before
# every run. Every figure is wall time; a ratio compares the two minimums, because on a
# shared machine the fastest run is the one least disturbed by its neighbours (the
# medians are shown as a measure of the noise). Also measures korvane-cli's peak memory
# on a short and a long track, checks that its files decode to the right length in
# ffmpeg and pass ogginfo (and its FLAC files `flac -t`, decoding to the very samples of
# the input, at a size near flac's; its Opus files opusinfo, decoding to the audio that
# opusenc's file decodes to), and runs bench_cdin and bench_idle from the build.
#
# Prints one table with a PASS or FAIL per line; exits 1 when a target is missed,
# 2 when something needed is missing or a command fails.
#
# Environment: KORVANE_BENCH_ROUNDS (rounds of the encoder races, default 5),
# KORVANE_BENCH_FAST_ROUNDS (rounds of the WAV races, default 9),
# KORVANE_BENCH_KEEP=1 keeps the temporary folder (its path is printed).
set -uo pipefail
export LC_ALL=C

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=bench/common.sh
source "$here/common.sh"
use_build_folder run.sh "${1:-}"
cli=$bin/korvane-cli
mkdisc=$bin/korvane-mkdisc
rounds=${KORVANE_BENCH_ROUNDS:-5}
fast_rounds=${KORVANE_BENCH_FAST_ROUNDS:-9}

# Audio lengths in seconds. The encoder races use a cut of the same recording, short
# enough that five rounds of three races stay within a couple of minutes; the PCM race
# copies a full 79-minute disc, so that even cp takes a few tenths of a second.
mix_seconds=360                    # IMA ADPCM races; long track of two memory lines
enc_seconds=150                    # MP3, Ogg, FLAC and Opus races
short_seconds=60                   # short track of the memory lines
long_tracks=(1200 1200 1200 1140)  # PCM race: 79:00 in four tracks
rss_slack_kib=4096                 # how much more the long track may take at its peak
disc_tracks=10                     # whole-disc races: tracks of disc_track_seconds each
disc_track_seconds=90
disc_rounds=${KORVANE_BENCH_DISC_ROUNDS:-3}
disc_jobs=2                        # korvane's --jobs, and the tools' processes at once
disc_rss_limit_kib=$((64 * 1024))  # korvane's peak on the whole disc

# --- set-up ---------------------------------------------------------------------------

# The standard tools that korvane is measured against, installed when missing.
bash "$here/../scripts/setup.sh" bench
missing=()
for tool in "$cli" "$mkdisc" "$bin/bench_cdin" "$bin/bench_idle" ffmpeg sox \
  soxi lame oggenc ogginfo cd-paranoia flac opusenc opusdec opusinfo; do
  command -v "$tool" >/dev/null || missing+=("$tool")
done
if ((${#missing[@]})); then
  echo "run.sh: missing: ${missing[*]} (build the tree; scripts/setup.sh bench installs the tools)" >&2
  exit 2
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/korvane-bench.XXXXXX")
if [[ ${KORVANE_BENCH_KEEP:-0} == 1 ]]; then
  echo "Keeping $work" >&2
else
  trap 'rm -rf "$work"' EXIT
fi
data=$work/data      # disc images and WAV files
out=$work/out        # the one output folder every contender writes into
times=$work/times    # per contender: one wall time (microseconds) a line
cpu=$work/cpu        # per contender: one CPU time (microseconds) a line
sizes=$work/sizes    # per contender: the bytes its last run wrote
logs=$work/logs      # what each command printed
mkdir -p "$data" "$out" "$times" "$cpu" "$sizes" "$logs"

rows=()              # the table, printed at the end
judged=0
failures=0

fail_setup() { note "run.sh: $*"; exit 2; }

# section TITLE HEADS: a title and the column heads (made by race_heads or check_heads).
section() { rows+=("" "$1" "$2"); }
race_heads() { printf '%-30s %-20s %-30s %-8s %-9s %s' "" "$1" "$2" "${3:-ratio}" target result; }
check_heads() { printf '%-30s %-69s %s' "" "what was checked" result; }

# row NAME KORVANE REFERENCE RATIO TARGET VERDICT
row() {
  rows+=("$(printf '%-30s %-20s %-30s %-8s %-9s %s' "$@")")
  count_verdict "$6"
}

# check_row NAME WHAT VERDICT: a check rather than a race.
check_row() {
  rows+=("$(printf '%-30s %-69s %s' "$1" "$2" "$3")")
  count_verdict "$3"
}

count_verdict() {
  judged=$((judged + 1))
  [[ $1 == PASS ]] || failures=$((failures + 1))
}




# --- the audio ------------------------------------------------------------------------

raw_pcm=(-t raw -r 44100 -e signed -b 16 -c 2 -L)

# Generated music, and the same music over a faint noise floor (about -36 dBFS) as a
# recording has, so that no encoder coasts on a signal it finds easy to predict.
make_audio() {
  "$mkdisc" --tracks 2 --seconds "$mix_seconds" --content music,noise --expect "$data/gen" \
    >>"$logs/mkdisc.log" 2>&1 &&
    sox -V1 -R "${raw_pcm[@]}" "$data/gen/track01.pcm" "$data/music.wav" &&
    sox -V1 -R -m -v 1 "${raw_pcm[@]}" "$data/gen/track01.pcm" \
      -v 0.03 "${raw_pcm[@]}" "$data/gen/track02.pcm" "$data/mix.wav" &&
    sox -V1 -R "$data/mix.wav" "$data/enc.wav" trim 0 "$enc_seconds" &&
    sox -V1 -R "$data/mix.wav" "$data/short.wav" trim 0 "$short_seconds" &&
    rm -rf "$data/gen"
}

# One disc image per WAV file (NAME.cue and NAME.bin next to NAME.wav), and the long
# disc: ripping copies bytes whatever they hold, so it is noise, made in a second.
make_discs() {
  local name
  for name in music mix enc short; do
    "$mkdisc" --wav "$data/$name.wav" "$data/$name.cue" >>"$logs/mkdisc.log" 2>&1 || return 1
  done
  local IFS=,
  "$mkdisc" --tracks ${#long_tracks[@]} --seconds "${long_tracks[*]}" --content noise \
    "$data/long.cue" >>"$logs/mkdisc.log" 2>&1
}

# A disc of music tracks for the whole-disc races, and each track as a WAV file for the
# tools (disc/trackNN.wav).
make_whole_disc() {
  "$mkdisc" --tracks "$disc_tracks" --seconds "$disc_track_seconds" --content music \
    --expect "$data/disc" "$data/disc.cue" >>"$logs/mkdisc.log" 2>&1 || return 1
  local pcm
  for pcm in "$data"/disc/track*.pcm; do
    sox -V1 -R "${raw_pcm[@]}" "$pcm" "${pcm%.pcm}.wav" && rm "$pcm" || return 1
  done
}

# --- timing ---------------------------------------------------------------------------


# Runs FN once in the emptied output folder; appends its wall time to times/FN and its
# CPU time (user + system, all its processes) to cpu/FN, and notes what it wrote in
# sizes/FN.
time_once() {
  local fn=$1 start end
  rm -rf -- "${out:?}"/*
  start=$EPOCHREALTIME
  if ! (cd "$out" && "$fn" && times >"$work/times.txt") >>"$logs/$fn.log" 2>&1; then
    note "$fn failed; the end of its output:"
    tail -n 5 "$logs/$fn.log" >&2
    return 1
  fi
  end=$EPOCHREALTIME
  echo $(($(usec "$end") - $(usec "$start"))) >>"$times/$fn"
  # The second line of `times` holds the children's user and system time, as 0m1.234s.
  awk 'NR == 2 { split($1, u, /[ms]/); split($2, y, /[ms]/)
                 printf "%.0f\n", ((u[1] + y[1]) * 60 + u[2] + y[2]) * 1e6 }' \
    "$work/times.txt" >>"$cpu/$fn"
  find "$out" -type f -printf '%s\n' | awk '{ s += $1 } END { print s + 0 }' >"$sizes/$fn"
}

# race ROUNDS FN...: every round runs each FN once, starting one further along the list
# than the round before, so no contender always runs first or after the same neighbour.
race() {
  local n_rounds=$1 round i
  shift
  local fns=("$@")
  for ((round = 0; round < n_rounds; round++)); do
    for ((i = 0; i < ${#fns[@]}; i++)); do
      time_once "${fns[(round + i) % ${#fns[@]}]}" || fail_setup "a race could not run (logs in $logs)"
    done
  done
  rm -rf -- "${out:?}"/*
}

# "MIN MEDIAN" of a contender's wall times (or of the figures in FOLDER), in seconds.
stats() {
  sort -n "${2:-$times}/$1" | awk '{ v[NR] = $1 }
    END { m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
          printf "%.3f %.3f\n", v[1] / 1e6, m / 1e6 }'
}

# ratio_of KORVANE_FN REFERENCE_FN [FOLDER]: korvane's minimum over the reference's.
ratio_of() {
  local kmin rmin
  read -r kmin _ < <(stats "$1" "${3:-$times}")
  read -r rmin _ < <(stats "$2" "${3:-$times}")
  awk -v a="$kmin" -v b="$rmin" 'BEGIN { printf "%.2f", a / b }'
}

# race_for_target ROUNDS TARGET KORVANE_FN REFERENCE_FN [OTHER_FN...]: a race, and when
# korvane's ratio misses TARGET by less than a tenth, as many rounds again: the minimums
# of a close race need more runs before they settle. Names such races in `extended`.
race_for_target() {
  local n_rounds=$1 target=$2
  shift 2
  race "$n_rounds" "$@"
  local ratio
  ratio=$(ratio_of "$1" "$2")
  if ! compare "$ratio" "<=" "$target" && compare "$ratio" "<=" "$(awk -v t="$target" 'BEGIN { print t * 1.1 }')"; then
    note "  ratio $ratio is close to its target $target: $n_rounds more rounds ..."
    race "$n_rounds" "$@"
    extended+=("$1")
  fi
}
extended=()

# time_row NAME KORVANE_FN REFERENCE REFERENCE_FN TARGET: korvane's time over the
# reference's, both minimums. Also adds the CPU times (user + system) of the same runs
# to `cpu_rows`, as figures that waiting for a busy processor does not inflate.
time_row() {
  local name=$1 kfn=$2 ref=$3 rfn=$4 target=$5 kmin kmed rmin rmed ratio
  read -r kmin kmed < <(stats "$kfn")
  read -r rmin rmed < <(stats "$rfn")
  ratio=$(ratio_of "$kfn" "$rfn")
  [[ " ${extended[*]} " == *" $kfn "* ]] && name="$name *"
  row "$name" "$kmin / $kmed s" "$ref $rmin / $rmed s" "$ratio" "<= $target" \
    "$(pass_if compare "$ratio" "<=" "$target")"
  read -r kmin kmed < <(stats "$kfn" "$cpu")
  read -r rmin rmed < <(stats "$rfn" "$cpu")
  cpu_rows+=("$(printf '%-30s %-20s %-30s %s' "$1" "$kmin / $kmed s" "$ref $rmin / $rmed s" \
    "$(ratio_of "$kfn" "$rfn" "$cpu")")")
}
cpu_rows=()

# --- the contenders (each runs inside the output folder) ------------------------------

korvane_ima_music() { "$cli" --out . --wav-type ima --block-size 512 "$data/music.cue"; }
ffmpeg_ima_music() {
  ffmpeg -nostdin -hide_banner -loglevel error -i "$data/music.wav" \
    -c:a adpcm_ima_wav -block_size 512 ima.wav
}
korvane_ima_mix() { "$cli" --out . --wav-type ima --block-size 512 "$data/mix.cue"; }
ffmpeg_ima_mix() {
  ffmpeg -nostdin -hide_banner -loglevel error -i "$data/mix.wav" \
    -c:a adpcm_ima_wav -block_size 512 ima.wav
}

korvane_pcm() { "$cli" --out . "$data/long.cue"; }
cdparanoia_pcm() { cd-paranoia -q -d "$data/long.cue" -Z -B; }
cp_pcm() { cp "$data/long.bin" .; }

korvane_mp3_cbr() {
  "$cli" --out . --format mp3 --bitrate 128 --quality 5 --mode stereo "$data/enc.cue"
}
lame_cbr() { lame --quiet -b 128 -q 5 -m s "$data/enc.wav" cbr.mp3; }
korvane_mp3_vbr() {
  "$cli" --out . --format mp3 --vbr --vbr-quality 4 --vbr-min 32 --vbr-max 320 \
    --mode stereo "$data/enc.cue"
}
lame_vbr() { lame --quiet --vbr-old -V 4 -b 32 -B 320 -m s "$data/enc.wav" vbr.mp3; }

korvane_ogg() { "$cli" --out . --format ogg --compression 0.2 "$data/enc.cue"; }
oggenc_q2() { oggenc --quiet -q 2 -o q2.ogg "$data/enc.wav"; }

# flac adds an 8 KiB padding block for later tag edits unless told not to; korvane
# writes none, so the sizes compare audio with audio.
korvane_flac() { "$cli" --out . --format flac --compression-level 5 "$data/enc.cue"; }
flac_5() { flac --silent -5 --no-padding -o enc.flac "$data/enc.wav"; }

# The Opus output at the settings of opusenc's: 160 kbit/s, variable (unconstrained),
# complexity 10.
korvane_opus() { "$cli" --out . --format opus --bitrate 160 --complexity 10 "$data/enc.cue"; }
opusenc_160() { opusenc --quiet --bitrate 160 --comp 10 --vbr "$data/enc.wav" enc.opus; }

# The whole disc: korvane with --jobs, the tools one track after another, and the tools
# several at once (xargs -P), as a user without korvane would run them.
mp3_options=(-b 128 -q 5 -m s)
korvane_disc_mp3() {
  "$cli" --jobs "$disc_jobs" --out . --format mp3 --bitrate 128 --quality 5 --mode stereo \
    "$data/disc.cue"
}
lame_disc_serial() {
  local wav
  for wav in "$data"/disc/*.wav; do lame --quiet "${mp3_options[@]}" "$wav" "$(basename "$wav" .wav).mp3" || return 1; done
}
lame_disc_parallel() {
  printf '%s\0' "$data"/disc/*.wav | xargs -0 -P "$disc_jobs" -I{} sh -c \
    'lame --quiet -b 128 -q 5 -m s "$1" "$(basename "$1" .wav).mp3"' _ {}
}
korvane_disc_ogg() { "$cli" --jobs "$disc_jobs" --out . --format ogg --compression 0.2 "$data/disc.cue"; }
oggenc_disc_serial() {
  local wav
  for wav in "$data"/disc/*.wav; do oggenc --quiet -q 2 -o "$(basename "$wav" .wav).ogg" "$wav" || return 1; done
}
oggenc_disc_parallel() {
  printf '%s\0' "$data"/disc/*.wav | xargs -0 -P "$disc_jobs" -I{} sh -c \
    'oggenc --quiet -q 2 -o "$(basename "$1" .wav).ogg" "$1"' _ {}
}

korvane_disc_flac() { "$cli" --jobs "$disc_jobs" --out . --format flac --compression-level 5 "$data/disc.cue"; }
flac_disc_serial() {
  local wav
  for wav in "$data"/disc/*.wav; do flac --silent -5 --no-padding -o "$(basename "$wav" .wav).flac" "$wav" || return 1; done
}
flac_disc_parallel() {
  printf '%s\0' "$data"/disc/*.wav | xargs -0 -P "$disc_jobs" -I{} sh -c \
    'flac --silent -5 --no-padding -o "$(basename "$1" .wav).flac" "$1"' _ {}
}

# disc_rows NAME KORVANE_FN SERIAL_FN PARALLEL_FN TOOL: korvane against the tool one
# track after another (at least 1.8 times faster) and several at once (at most 1.05
# times slower).
disc_rows() {
  local name=$1 kfn=$2 sfn=$3 pfn=$4 tool=$5 kmin kmed smin smed pmin pmed serial parallel
  read -r kmin kmed < <(stats "$kfn")
  read -r smin smed < <(stats "$sfn")
  read -r pmin pmed < <(stats "$pfn")
  serial=$(ratio_of "$sfn" "$kfn")
  parallel=$(ratio_of "$kfn" "$pfn")
  row "$name vs one at a time" "$kmin / $kmed s" "$tool $smin / $smed s" "${serial}x" ">= 1.80x" \
    "$(pass_if compare "$serial" ">=" 1.80)"
  row "$name vs $disc_jobs at once" "$kmin / $kmed s" "$tool -P$disc_jobs $pmin / $pmed s" "$parallel" \
    "<= 1.05" "$(pass_if compare "$parallel" "<=" 1.05)"
}

# --- checks of what korvane writes (outside the races) --------------------------------

# rip_into FOLDER KORVANE_ARGS...: one rip into a fresh FOLDER.
rip_into() {
  local folder=$1
  shift
  rm -rf "$folder" && mkdir -p "$folder" && "$cli" --out "$folder" "$@" >>"$logs/checks.log" 2>&1
}

# The WAV the other tools encode must hold what korvane reads off the image.
check_rip_matches_wav() {
  local folder=$work/check
  rip_into "$folder" "$data/mix.cue"
  check_row "PCM rip = the tools' WAV" "korvane's rip of the image holds exactly the samples of mix.wav" \
    "$(pass_if same_samples "$folder/Track01.wav" "$data/mix.wav")"
  rm -rf "$folder"
}

# korvane and cd-paranoia must read the same bytes off the long disc for their race to
# mean anything.
check_rip_matches_cdparanoia() {
  local k=$work/check-k p=$work/check-p n result=PASS
  rip_into "$k" "$data/long.cue" || result=FAIL
  mkdir -p "$p" && (cd "$p" && cd-paranoia -q -d "$data/long.cue" -Z -B) >>"$logs/checks.log" 2>&1 ||
    result=FAIL
  for ((n = 1; n <= ${#long_tracks[@]}; n++)); do
    same_samples "$k/$(printf 'Track%02d.wav' "$n")" "$p/$(printf 'track%02d.cdda.wav' "$n")" ||
      result=FAIL
  done
  check_row "PCM rip = cd-paranoia's" "the ${#long_tracks[@]} tracks of the long disc, sample for sample" "$result"
  rm -rf "$k" "$p"
}

# within VALUE LOW HIGH ERRFILE: LOW <= VALUE <= HIGH and ERRFILE is empty.
within() { (($1 >= $2 && $1 <= $3)) && [[ ! -s $4 ]]; }

# decode_row NAME FILE INPUT_WAV SLACK: ffmpeg decodes FILE without a message to between
# the input's frame count and SLACK frames more.
decode_row() {
  local name=$1 file=$2 expected bytes extra
  expected=$(soxi -s "$3")
  bytes=$(ffmpeg -nostdin -hide_banner -loglevel error -i "$file" -f s16le -ac 2 - \
    2>"$logs/decode.err" | wc -c)
  extra=$((bytes / 4 - expected))
  local what="ffmpeg decodes input +$extra frames (allowed 0..+$4), no messages"
  [[ -s $logs/decode.err ]] && what="ffmpeg: $(head -n1 "$logs/decode.err" | cut -c1-60)"
  check_row "$name" "$what" "$(pass_if within "$extra" 0 "$4" "$logs/decode.err")"
}

check_ima() {
  rip_into "$work/check" --wav-type ima --block-size 512 "$data/mix.cue"
  # A 512-byte stereo block holds 1017 frames; the last block is padded to its full size.
  decode_row "IMA ADPCM file decodes" "$work/check/Track01.wav" "$data/mix.wav" 1017
}

check_mp3() {
  local label=$1
  shift
  rip_into "$work/check" --format mp3 "$@" "$data/enc.cue"
  # Without an information frame a decoder also plays the encoder delay (576 frames) and
  # the padding of the last frame (under 1152): two frames of slack in all.
  decode_row "MP3 $label file decodes" "$work/check/Track01.mp3" "$data/enc.wav" 2304
}

check_ogg() {
  local warnings notes status=0
  rip_into "$work/check" --format ogg --compression 0.2 "$data/enc.cue"
  ogginfo "$work/check/Track01.ogg" >"$logs/ogginfo.log" 2>&1 || status=$?
  warnings=$(grep -ciE 'warning|error' "$logs/ogginfo.log")
  notes=$(grep -c 'Note:' "$logs/ogginfo.log")
  check_row "Ogg file passes ogginfo" "exit status $status, $warnings warnings or errors, $notes notes (below)" \
    "$(pass_if test "$status" -eq 0 -a "$warnings" -eq 0)"
  # Vorbis granule positions make the length exact.
  decode_row "Ogg file decodes" "$work/check/Track01.ogg" "$data/enc.wav" 0
}

# korvane's FLAC file passes `flac -t` (which checks the MD5 of STREAMINFO) and decodes
# to exactly the samples of the WAV that flac encoded.
check_flac() {
  local file=$work/check/Track01.flac result=PASS
  rip_into "$work/check" --format flac "$data/enc.cue" || result=FAIL
  flac --silent -t "$file" >>"$logs/checks.log" 2>&1 || result=FAIL
  flac --silent -d -c --force-raw-format --endian=little --sign=signed "$file" 2>>"$logs/checks.log" |
    cmp -s - <(sox -V1 "$data/enc.wav" "${raw_pcm[@]}" -) || result=FAIL
  check_row "FLAC file passes flac -t" "flac -t passes; flac -d gives exactly the samples of enc.wav" "$result"
}

# korvane's Opus file passes opusinfo, decodes in opusdec (at the input's rate) to the
# input's length, and to the very samples that opusenc's file at the same settings
# decodes to: the two encoders ran alike, so their race compares like with like.
check_opus() {
  local k=$work/check/Track01.opus o=$work/check/opusenc.opus result=PASS frames expected
  rm -rf "$work/check" && mkdir -p "$work/check"
  "$cli" --out "$work/check" --format opus --bitrate 160 --complexity 10 "$data/enc.cue" \
    >>"$logs/checks.log" 2>&1 || result=FAIL
  opusenc --quiet --bitrate 160 --comp 10 --vbr "$data/enc.wav" "$o" >>"$logs/checks.log" 2>&1 ||
    result=FAIL
  opusinfo "$k" >"$logs/opusinfo.log" 2>&1 || result=FAIL
  grep -qiE 'warning|error' "$logs/opusinfo.log" && result=FAIL
  frames=$(($(opusdec --quiet "$k" - 2>>"$logs/checks.log" | wc -c) / 4))
  expected=$(soxi -s "$data/enc.wav")
  cmp -s <(opusdec --quiet "$k" - 2>/dev/null) <(opusdec --quiet "$o" - 2>/dev/null) || result=FAIL
  check_row "Opus file passes opusinfo" \
    "opusinfo clean; opusdec decodes input $(printf %+d $((frames - expected))) frames, as opusenc's file" \
    "$(pass_if test "$result" = PASS -a "$frames" -eq "$expected")"
}

# --- memory ---------------------------------------------------------------------------

# Peak resident set of one korvane-cli run, in KiB.
peak_rss_kib() {
  rm -rf -- "${out:?}"/*
  if [[ -x /usr/bin/time ]]; then
    (cd "$out" && /usr/bin/time -f %M -o "$work/rss" "$cli" --out . "$@") >>"$logs/rss.log" 2>&1 &&
      cat "$work/rss"
  else
    (cd "$out" && python3 -c 'import resource, subprocess, sys
subprocess.run(sys.argv[1:], check=True, stdout=subprocess.DEVNULL)
print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)' "$cli" --out . "$@") 2>>"$logs/rss.log"
  fi
}


# memory_row NAME SHORT_SOURCE SHORT_LABEL LONG_SOURCE LONG_LABEL [KORVANE_OPTIONS...]
memory_row() {
  local name=$1 short=$2 short_label=$3 long=$4 long_label=$5 a b
  shift 5
  if ! a=$(peak_rss_kib "$@" "$short") || ! b=$(peak_rss_kib "$@" "$long"); then
    check_row "$name" "korvane-cli failed (see rss.log)" FAIL
    return
  fi
  row "$name" "$short_label  $(mib "$a")" "$long_label  $(mib "$b")" \
    "$(awk -v g=$((b - a)) 'BEGIN { printf "%+.1f MB", g / 1024 }')" \
    "<= +$((rss_slack_kib / 1024)) MB" "$(pass_if test $((b - a)) -le "$rss_slack_kib")"
}

# --- the run --------------------------------------------------------------------------

started=$EPOCHREALTIME
note "Making the test audio and disc images in $work ..."
make_audio || fail_setup "could not make the test audio (logs in $logs)"
make_discs || fail_setup "could not make the disc images (logs in $logs)"
make_whole_disc || fail_setup "could not make the whole disc (logs in $logs)"
# The kernel would otherwise write the fresh images back to disk during the first races.
sync -- "$data"/*
mix_length=$(clock_length "$mix_seconds")
enc_length=$(clock_length "$enc_seconds")
long_seconds=0
for s in "${long_tracks[@]}"; do long_seconds=$((long_seconds + s)); done

section "Speed: wall time, min / median over alternating rounds; every ratio is of the minimums" \
  "$(race_heads korvane reference)"
note "IMA ADPCM races ($fast_rounds rounds each) ..."
race_for_target "$fast_rounds" 1.00 korvane_ima_music ffmpeg_ima_music
time_row "IMA ADPCM, music $mix_length" korvane_ima_music ffmpeg ffmpeg_ima_music 1.00
race_for_target "$fast_rounds" 1.00 korvane_ima_mix ffmpeg_ima_mix
time_row "IMA ADPCM, music+noise $mix_length" korvane_ima_mix ffmpeg ffmpeg_ima_mix 1.00

note "PCM race against cd-paranoia and cp ($fast_rounds rounds) ..."
race_for_target "$fast_rounds" 1.00 korvane_pcm cdparanoia_pcm cp_pcm
time_row "PCM WAV, $(clock_length "$long_seconds") in ${#long_tracks[@]} tracks" \
  korvane_pcm cd-paranoia cdparanoia_pcm 1.00
long_bytes=$(stat -c %s "$data/long.bin")
rate() { awk -v b="$long_bytes" -v s="$1" 'BEGIN { printf "%.0f MB/s", b / s / 1e6 }'; }
read -r kmin _ < <(stats korvane_pcm)
read -r cmin _ < <(stats cp_pcm)
share=$(awk -v k="$kmin" -v c="$cmin" 'BEGIN { printf "%.2f", c / k }')
row "PCM WAV vs cp, throughput" "$(rate "$kmin")" "cp $(rate "$cmin")" "$share" ">= 0.50" \
  "$(pass_if compare "$share" ">=" 0.50)"

note "MP3 races ($rounds rounds each) ..."
race_for_target "$rounds" 1.05 korvane_mp3_cbr lame_cbr
time_row "MP3 CBR 128 q5, $enc_length" korvane_mp3_cbr lame lame_cbr 1.05
race_for_target "$rounds" 1.05 korvane_mp3_vbr lame_vbr
time_row "MP3 VBR V4 32-320, $enc_length" korvane_mp3_vbr lame lame_vbr 1.05

note "Ogg Vorbis race ($rounds rounds) ..."
race_for_target "$rounds" 1.05 korvane_ogg oggenc_q2
time_row "Ogg Vorbis q0.2, $enc_length" korvane_ogg oggenc oggenc_q2 1.05

note "FLAC race ($rounds rounds) ..."
race_for_target "$rounds" 1.05 korvane_flac flac_5
time_row "FLAC level 5, $enc_length" korvane_flac flac flac_5 1.05
flac_size=$(awk -v k="$(cat "$sizes/korvane_flac")" -v f="$(cat "$sizes/flac_5")" \
  'BEGIN { printf "%.4f", k / f }')
row "FLAC level 5 size, $enc_length" "$(cat "$sizes/korvane_flac") B" "flac $(cat "$sizes/flac_5") B" \
  "$flac_size" "<= 1.01" "$(pass_if compare "$flac_size" "<=" 1.01)"

note "Opus race ($rounds rounds) ..."
race_for_target "$rounds" 1.05 korvane_opus opusenc_160
time_row "Opus VBR 160 c10, $enc_length" korvane_opus opusenc opusenc_160 1.05

disc_length=$(clock_length $((disc_tracks * disc_track_seconds)))
section "Whole disc, $disc_tracks tracks, $disc_length: korvane --jobs $disc_jobs; min / median over $disc_rounds rounds" \
  "$(race_heads korvane tool "ratio")"
note "Whole-disc races ($disc_rounds rounds each) ..."
race "$disc_rounds" korvane_disc_mp3 lame_disc_serial lame_disc_parallel
disc_rows "MP3 CBR 128 q5" korvane_disc_mp3 lame_disc_serial lame_disc_parallel lame
race "$disc_rounds" korvane_disc_ogg oggenc_disc_serial oggenc_disc_parallel
disc_rows "Ogg Vorbis q0.2" korvane_disc_ogg oggenc_disc_serial oggenc_disc_parallel oggenc
race "$disc_rounds" korvane_disc_flac flac_disc_serial flac_disc_parallel
disc_rows "FLAC level 5" korvane_disc_flac flac_disc_serial flac_disc_parallel flac
if disc_rss=$(peak_rss_kib --jobs "$disc_jobs" --format mp3 "$data/disc.cue"); then
  row "peak RSS, whole disc MP3" "$(mib "$disc_rss")" "" "" "<= $((disc_rss_limit_kib / 1024)) MB" \
    "$(pass_if test "$disc_rss" -le "$disc_rss_limit_kib")"
else
  check_row "peak RSS, whole disc MP3" "korvane-cli failed (see rss.log)" FAIL
fi

section "Memory: korvane-cli's peak resident set, short track vs long track" \
  "$(race_heads "short track" "long track" growth)"
note "Peak memory, short and long tracks ..."
short_length=$(clock_length "$short_seconds")
first_long=$data/long.cue/Track01.cda
first_long_length=$(clock_length "${long_tracks[0]}")
memory_row "peak RSS, WAV PCM" "$data/short.cue" "$short_length" "$first_long" "$first_long_length"
memory_row "peak RSS, IMA ADPCM" "$data/short.cue" "$short_length" "$first_long" "$first_long_length" \
  --wav-type ima
memory_row "peak RSS, MP3 CBR" "$data/short.cue" "$short_length" "$data/mix.cue" "$mix_length" \
  --format mp3
memory_row "peak RSS, Ogg Vorbis" "$data/short.cue" "$short_length" "$data/mix.cue" "$mix_length" \
  --format ogg
memory_row "peak RSS, FLAC" "$data/short.cue" "$short_length" "$data/mix.cue" "$mix_length" \
  --format flac

section "Checks: the same input on both sides; korvane's files in the standard tools" \
  "$(check_heads)"
note "Checking the files ..."
check_rip_matches_wav
check_rip_matches_cdparanoia
check_ima
check_mp3 CBR --bitrate 128 --quality 5 --mode stereo
check_mp3 VBR --vbr --vbr-quality 4 --vbr-min 32 --vbr-max 320 --mode stereo
check_ogg
check_flac
check_opus
rm -rf "$work/check"

# The benchmark programs of the build: reading through the CD source against libcdio
# (with its own target), and the CPU time of idle outputs (figures only).
note "bench_cdin and bench_idle ..."
cdin_status=0
cdin_output=$("$bin/bench_cdin" 2>&1) || cdin_status=$?
check_row "bench_cdin (TCDIn/libcdio)" \
  "$(grep -o 'bin/cue.*ratio [0-9.]*' <<<"$cdin_output" | head -n1 | tr -s ' ')" \
  "$(pass_if test "$cdin_status" -eq 0)"
idle_output=$("$bin/bench_idle" 2>&1)

elapsed=$(($(usec "$EPOCHREALTIME") / 1000000 - $(usec "$started") / 1000000))
size_of() { cat "$sizes/$1"; }
indent() { sed 's/^/    /'; }

echo
echo "Korvane benchmarks, $(date '+%Y-%m-%d %H:%M'), $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"
echo "Audio: generated music, alone and over a -36 dBFS noise floor (the PCM race: noise);"
echo "$fast_rounds rounds of each WAV race, $rounds of each encoder race; judged by the minimums."
printf '%s\n' "${rows[@]}"
grep 'Note:' "$logs/ogginfo.log" | sed 's/^/    ogginfo: /'
((${#extended[@]})) && echo "* close to its target after the first rounds, so run for twice as many rounds"
echo
echo "CPU time (user + system) of the same runs, min / median: figures only, for reading the"
echo "wall times on a busy machine (korvane's include its second thread)"
printf '%s\n' "${cpu_rows[@]}"
echo
echo "Bytes written in the last round: IMA $(size_of korvane_ima_mix) (ffmpeg $(size_of ffmpeg_ima_mix)),"
echo "  PCM $(size_of korvane_pcm) (cd-paranoia $(size_of cdparanoia_pcm), cp $(size_of cp_pcm)),"
echo "  MP3 CBR $(size_of korvane_mp3_cbr) (lame $(size_of lame_cbr)), MP3 VBR $(size_of korvane_mp3_vbr) (lame $(size_of lame_vbr)),"
echo "  Ogg $(size_of korvane_ogg) (oggenc $(size_of oggenc_q2)), FLAC $(size_of korvane_flac) (flac $(size_of flac_5)),"
echo "  Opus $(size_of korvane_opus) (opusenc $(size_of opusenc_160); korvane's pages hold 0.25 s, opusenc's 1 s)"
echo
echo "bench_cdin:"
indent <<<"$cdin_output"
echo "bench_idle:"
indent <<<"$idle_output"
echo
if ((failures)); then
  echo "FAIL: $failures of $judged lines missed their target (whole run ${elapsed} s)"
  exit 1
fi
echo "PASS: all $judged lines met their target (whole run ${elapsed} s)"

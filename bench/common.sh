# The small helpers the benchmark scripts share (sourced, not run).

note() { printf '%s\n' "$*" >&2; }
pass_if() { if "$@"; then echo PASS; else echo FAIL; fi; }

# compare VALUE OP TARGET, in floating point; OP is <= or >=.
compare() { awk -v v="$1" -v op="$2" -v t="$3" 'BEGIN { exit !((op == "<=") ? v <= t : v >= t) }'; }

clock_length() { printf '%d:%02d' $(($1 / 60)) $(($1 % 60)); }
# A time of $EPOCHREALTIME in microseconds.
usec() { local t=${1/[.,]/}; echo $((10#$t)); }
mib() { awk -v k="$1" 'BEGIN { printf "%.1f MB", k / 1024 }'; }

# Byte offset of a WAV file's sample data (just past the "data" chunk header).
wav_data_offset() {
  local hit
  hit=$(head -c 4096 "$1" | grep -obUa -m1 data | head -n1) || return 1
  echo $((${hit%%:*} + 8))
}

# same_samples A B: two WAV files hold the same sample bytes, whatever their headers.
same_samples() {
  local a b
  a=$(wav_data_offset "$1") && b=$(wav_data_offset "$2") && cmp -s -i "$a:$b" "$1" "$2"
}

# Runs FN once in the emptied output folder $out, its output going to $logs/FN.log;
# appends its wall time (microseconds) to $times/FN and keeps what it wrote in
# $work/last-FN. Returns 1, with the end of its output, when it fails.
time_run() {
  local fn=$1 start end
  rm -rf -- "${out:?}"/*
  start=$EPOCHREALTIME
  if ! (cd "$out" && "$fn") >>"$logs/$fn.log" 2>&1; then
    note "$fn failed; the end of its output:"
    tail -n 5 "$logs/$fn.log" >&2
    return 1
  fi
  end=$EPOCHREALTIME
  echo $(($(usec "$end") - $(usec "$start"))) >>"$times/$fn"
  rm -rf "$work/last-$fn" && cp -r "$out" "$work/last-$fn"
}

# use_build_folder SCRIPT [DIR]: the build folder DIR (default: the tree's build) as
# $build and its programs' folder as $bin; SCRIPT names the caller when there is none.
use_build_folder() {
  build=$(cd "${2:-$here/../build}" 2>/dev/null && pwd) ||
    { echo "$1: no build folder ${2:-$here/../build}" >&2; exit 2; }
  bin=$build/bin
}

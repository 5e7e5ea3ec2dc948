#!/usr/bin/env bash
# Fuzzes the disc-image readers (cue sheets, .toc and .nrg, through CR_AddImageDrive and
# a read of the table and the tracks) with libFuzzer (clang) for a while, growing the
# corpus kept in tests/cdrip/image_corpus. Usage: scripts/fuzz-images.sh [seconds]
# Inputs are at most 16 KB and the files they name lie in a folder of their own, in
# memory where /dev/shm exists; nothing grows without bound. KORVANE_FUZZ_OUT names the
# folder for the build and the found inputs (default build-fuzz); KORVANE_FUZZ_CHECK=1
# only builds and runs the fuzzer, leaving the kept corpus as it is (the test suite's
# check that the script still works).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh fuzz  # clang and its fuzzer runtime, when missing
seconds=${1:-60}
out=${KORVANE_FUZZ_OUT:-build-fuzz}
mkdir -p "$out" "$out/image-corpus"
# shellcheck disable=SC2046
clang++ -std=c++17 -O1 -g -fsanitize=fuzzer,address,undefined -Icdrip -Icommon \
  cdrip/*.cpp tests/cdrip/image_fuzz.cpp \
  $(pkg-config --cflags --libs libcdio libcdio_cdda libcdio_paranoia libcue) -lpthread \
  -o "$out/image-fuzz"
"$out/image-fuzz" -max_total_time="$seconds" -max_len=16384 -timeout=10 -rss_limit_mb=2048 \
  -artifact_prefix="$out/" \
  -dict=tests/cdrip/image_fuzz.dict "$out/image-corpus" tests/cdrip/image_corpus
[ "${KORVANE_FUZZ_CHECK:-0}" = 1 ] && exit 0
# Keep a small corpus in the repository: merge what was found into it.
"$out/image-fuzz" -merge=1 tests/cdrip/image_corpus "$out/image-corpus" >/dev/null 2>&1 || true

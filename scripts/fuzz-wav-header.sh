#!/usr/bin/env bash
# Fuzzes the .wav header scan with libFuzzer (clang) for a while, growing the corpus
# kept in tests/audio/outputs/wav/header_corpus. Usage: scripts/fuzz-wav-header.sh [seconds]
# KORVANE_FUZZ_OUT names the folder for the build and the found inputs (default
# build-fuzz); KORVANE_FUZZ_CHECK=1 only builds and runs the fuzzer, leaving the kept
# corpus as it is (the test suite's check that the script still works).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh fuzz  # clang and its fuzzer runtime, when missing
seconds=${1:-60}
out=${KORVANE_FUZZ_OUT:-build-fuzz}
mkdir -p "$out" "$out/corpus"
clang++ -std=c++17 -O1 -g -fsanitize=fuzzer,address,undefined -Iaudio -Icommon \
  audio/core/audio_classes.cpp audio/outputs/audio_wave.cpp audio/core/file_stream.cpp \
  tests/audio/outputs/wav/header_scan_fuzz.cpp -lpthread \
  -o "$out/wav-header-fuzz"
"$out/wav-header-fuzz" -max_total_time="$seconds" -max_len=12000 -artifact_prefix="$out/" \
  "$out/corpus" tests/audio/outputs/wav/header_corpus
[ "${KORVANE_FUZZ_CHECK:-0}" = 1 ] && exit 0
# Keep a small corpus in the repository: merge what was found into it.
"$out/wav-header-fuzz" -merge=1 tests/audio/outputs/wav/header_corpus "$out/corpus" >/dev/null 2>&1 || true

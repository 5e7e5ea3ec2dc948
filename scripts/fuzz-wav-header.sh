#!/usr/bin/env bash
# Fuzzes the .wav header scan with libFuzzer (clang) for a while, growing the corpus
# kept in tests/wav/header_corpus. Usage: scripts/fuzz-wav-header.sh [seconds]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
out=build-fuzz
mkdir -p "$out" "$out/corpus"
clang++ -std=c++17 -O1 -g -fsanitize=fuzzer,address,undefined -Iaudio \
  audio/audio_classes.cpp audio/audio_wave.cpp tests/wav/header_scan_fuzz.cpp \
  -o "$out/wav-header-fuzz"
"$out/wav-header-fuzz" -max_total_time="$seconds" -max_len=12000 \
  "$out/corpus" tests/wav/header_corpus
# Keep a small corpus in the repository: merge what was found into it.
"$out/wav-header-fuzz" -merge=1 tests/wav/header_corpus "$out/corpus" >/dev/null 2>&1 || true

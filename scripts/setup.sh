#!/usr/bin/env bash
# Installs every Debian package that Korvane needs to build, run, test and benchmark.
# Idempotent: when everything is present it only checks and returns within a second.
set -euo pipefail

packages=(
  # build tools
  cmake g++ make ninja-build pkg-config
  # window framework and embedded browser
  qt6-base-dev qt6-webengine-dev
  # CD drives and disc images
  libcdio-dev libcdio-paranoia-dev libcue-dev
  # encoders and decoders (loaded at run time; headers give the record layouts)
  libmp3lame-dev libmp3lame0 libogg-dev libvorbis-dev libmad0-dev libflac12 libflac-dev
  # disc identities and online lookups
  libdiscid-dev libcurl4-openssl-dev nlohmann-json3-dev zlib1g-dev
  # tests: GoogleTest, sox and flac as independent decoders, mutagen as an independent
  # reader of MP3 tags and FLAC metadata; clang and its runtime for the fuzz scripts
  # (scripts/fuzz-*.sh)
  libgtest-dev sox flac python3-mutagen clang libclang-rt-14-dev
  # the window under a virtual display, and its screenshot
  xvfb xauth x11-apps imagemagick
  # installation: korvane-cli's manual page made from its --help, and the checks of the
  # desktop entry, the AppStream metadata and the manual pages
  help2man desktop-file-utils appstream groff-base
  # benchmarks: the standard tools korvane is measured against
  ffmpeg lame vorbis-tools cd-paranoia hyperfine
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  sudo_cmd=(sudo)
fi

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null

#!/usr/bin/env bash
# Installs the Debian packages that Korvane needs for what is asked, and only those:
#   scripts/setup.sh [make|build|test|fuzz|bench|deb|clean-root]...   (default: build)
#   make   make alone, which a fresh Debian lacks (`./make.sh` installs it first)
#   build  compile and install Korvane (`make build`, `make run`, `make install`)
#   test   the test suite (`make test`): build, fuzz and the tests' own tools
#   fuzz   the fuzz scripts (scripts/fuzz-*.sh)
#   bench  the benchmarks (bench/run.sh): the standard tools korvane is measured against
#   deb    the Debian package (`make deb`): build and Debian's packaging tools
#   clean-root  a clean Debian root to run the README's commands in (scripts/clean-root.sh)
# Idempotent: when everything is present it only checks, needs neither root nor the
# network, and returns within a second.
set -euo pipefail

build=(
  # build tools
  build-essential cmake ninja-build pkg-config
  # window framework and embedded browser
  qt6-base-dev qt6-webengine-dev
  # CD drives and disc images
  libcdio-dev libcdio-paranoia-dev libcue-dev
  # encoders and decoders (loaded at run time; headers give the record layouts)
  libmp3lame-dev libogg-dev libvorbis-dev libmad0-dev libflac-dev libopusenc-dev
  # loudness for ReplayGain (loaded at run time too)
  libebur128-dev
  # disc identities and online lookups
  libdiscid-dev libcurl4-openssl-dev nlohmann-json3-dev zlib1g-dev
  # korvane-cli's manual page, made from its --help
  help2man
)
fuzz=(
  # libFuzzer and the sanitizers' runtime
  clang libclang-rt-14-dev
)
test=(
  # the libraries loaded at run time, which the tests rip with
  libmp3lame0 libflac12 libopusenc0
  # GoogleTest and its mocks, sox and flac as independent decoders, mutagen as an independent reader
  # of MP3 tags and FLAC metadata
  libgtest-dev libgmock-dev sox flac python3-mutagen
  # strace kills a run at a chosen write
  strace
  # ffmpeg and ogginfo read back every format and check files cut short by a full disk;
  # opusdec and opusinfo decode and check the Opus files
  ffmpeg vorbis-tools opus-tools
  # loudgain as an independent measure of ReplayGain
  loudgain
  # the lookup servers that the tests run on the loopback interface
  python3
  # the window under a virtual display, and its screenshot
  xvfb xauth x11-apps imagemagick
  # the checks of the installed desktop entry, AppStream metadata and manual pages, and
  # of what the Debian package would hold (dpkg-shlibdeps, its xz-compressed size)
  desktop-file-utils appstream groff-base dpkg-dev xz-utils
  # the test suite checks that the fuzz scripts still work
  "${fuzz[@]}"
)
bench=(
  ffmpeg lame vorbis-tools cd-paranoia hyperfine sox flac opus-tools time
  # the benchmarks' loopback lookup server and their measures of memory
  python3
)
deb=(
  "${build[@]}"
  # dpkg-buildpackage with debhelper (build-essential, in the build set, is what it
  # checks for), the package checks and hardening-check
  dpkg-dev debhelper lintian devscripts
)

clean_root=(
  # a Debian root made from the archive, without a package of this machine
  mmdebstrap
)

[ $# -gt 0 ] || set -- build
packages=()
for what in "$@"; do
  case $what in
    make) packages+=(make) ;;
    build) packages+=("${build[@]}") ;;
    test) packages+=("${build[@]}" "${test[@]}") ;;
    fuzz) packages+=("${fuzz[@]}") ;;
    bench) packages+=("${bench[@]}") ;;
    deb) packages+=("${deb[@]}") ;;
    clean-root) packages+=("${clean_root[@]}") ;;
    *)
      echo "setup.sh: unknown set '$what' (make, build, test, fuzz, bench, deb or clean-root)" >&2
      exit 2
      ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
# One name may come from several sets.
mapfile -t missing < <(printf '%s\n' "${missing[@]}" | awk 'NF && !seen[$0]++')

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null; then
    echo "setup.sh: missing packages, to be installed as root: ${missing[*]}" >&2
    exit 1
  fi
  sudo_cmd=(sudo)
fi

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null

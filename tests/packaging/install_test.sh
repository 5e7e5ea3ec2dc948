#!/usr/bin/env bash
# Installs the build into a scratch prefix and moves the prefix elsewhere, so that the
# installed programs can only find their files relative to themselves; then uses them
# as a user would: korvane-cli --version, a rip of the installed demo disc (checked
# against the disc's own audio), the window started offscreen and closed. The user's
# home is a scratch folder too; nothing may be written into the prefix. Last, the
# uninstall removes every file of the installation, and nothing that was there before.
# Usage: install_test.sh BUILD_DIR
set -euo pipefail
build=$(realpath "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# As `make install` installs: stripped.
cmake --install "$build" --prefix "$work/staged" --strip >/dev/null
mv "$work/staged" "$work/prefix"
prefix=$work/prefix
app=org.example.korvane

expected=(
  bin/korvane bin/korvane-cli
  lib/korvane/libcdrip.so lib/korvane/libkorvane_browser.so
  share/korvane/b.htm share/korvane/korvane-demo.cue share/korvane/korvane-demo.bin
  share/applications/$app.desktop share/metainfo/$app.metainfo.xml
  share/icons/hicolor/scalable/apps/$app.svg
  share/man/man1/korvane.1.gz share/man/man1/korvane-cli.1.gz
  share/doc/korvane/copyright share/doc/korvane/changelog.gz
)
for size in 16 32 48 64 128 256; do
  expected+=("share/icons/hicolor/${size}x$size/apps/$app.png")
done
for file in "${expected[@]}"; do
  [ -f "$prefix/$file" ] || fail "$file is not installed"
done
# Lintian's overrides belong to the Debian package alone; the licence is named.
[ ! -e "$prefix/share/lintian" ] || fail "an installation to a prefix ships lintian overrides"
grep -qx 'License: GPL-3.0-or-later' "$prefix/share/doc/korvane/copyright" ||
  fail "the copyright file names no licence"
for program in korvane korvane-cli; do
  ! readelf -S "$prefix/bin/$program" | grep -q '\.debug_info' || fail "$program is not stripped"
  readelf -d "$prefix/bin/$program" | grep -q 'RUNPATH.*\[\$ORIGIN/\.\./lib/korvane\]$' ||
    fail "$program does not find its libraries relative to itself"
done

# The desktop's and the software centre's own checks, and the manual pages without
# formatting warnings.
desktop-file-validate "$prefix/share/applications/$app.desktop" || fail "desktop entry"
appstreamcli validate --no-net "$prefix/share/metainfo/$app.metainfo.xml" >/dev/null ||
  fail "AppStream metadata"
for page in korvane korvane-cli; do
  warnings=$(zcat "$prefix/share/man/man1/$page.1.gz" | groff -man -ww -z 2>&1)
  [ -z "$warnings" ] || fail "$page.1: $warnings"
done

export HOME=$work/home
unset XDG_CONFIG_HOME LD_LIBRARY_PATH
mkdir -p "$HOME"
cd "$work"
find "$prefix" | sort >before.txt

[ "$("$prefix/bin/korvane-cli" --version | head -n1)" = "korvane-cli version 1.00" ] || fail "--version"
"$prefix/bin/korvane-cli" --out "$work/out" "$prefix/share/korvane/korvane-demo.cue" >rip.txt ||
  fail "rip of the demo disc: $(cat rip.txt)"
grep -qx "5 done, 0 failed, 0 aborted" rip.txt || fail "rip summary: $(cat rip.txt)"
# The five PCM files hold the disc's audio, track after track, behind 44-byte headers.
cmp -s <(for track in 1 2 3 4 5; do tail -c +45 "out/Track0$track.wav"; done) \
  "$prefix/share/korvane/korvane-demo.bin" || fail "the ripped audio differs from the disc's"
[ -f "$HOME/.config/korvane/cdr.ini" ] || fail "cdr.ini is not in the user's configuration folder"

QT_QPA_PLATFORM=offscreen timeout 60 "$prefix/bin/korvane" --quit-after-start \
  "$prefix/share/korvane/korvane-demo.cue" || fail "the window did not start and end cleanly"

find "$prefix" | sort >after.txt
diff before.txt after.txt >&2 || fail "the programs wrote into their installed prefix"
echo "installed programs work from $prefix"

touch "$prefix/share/applications/another-program.desktop"
bash "$(dirname "$0")/../../scripts/uninstall.sh" "$build" "$prefix" >/dev/null ||
  fail "uninstall"
left=$(cd "$prefix" && find . ! -type d)
[ "$left" = "./share/applications/another-program.desktop" ] ||
  fail "the uninstall left or removed: $left"
[ ! -e "$prefix/lib/korvane" ] && [ ! -e "$prefix/share/korvane" ] ||
  fail "the uninstall left Korvane's own folders"

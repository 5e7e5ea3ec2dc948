#!/usr/bin/env bash
# Builds the Debian package into a scratch folder and checks its fields, its contents
# list (exactly the files of an installation, with Debian's owners and modes), and that
# the programs unpacked from it run.
# Usage: package_test.sh BUILD_DIR
set -euo pipefail
build=$(realpath "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work" >/dev/null
debs=("$work"/korvane_*_amd64.deb)
deb=${debs[0]}
[ -f "$deb" ] || fail "no package made"

[ "$(dpkg-deb -f "$deb" Package)" = korvane ] || fail "package name"
[ "$(dpkg-deb -f "$deb" Section)" = sound ] || fail "section"
depends=$(dpkg-deb -f "$deb" Depends)
for package in libqt6widgets6 libqt6webenginewidgets6 libcdio19 libcdio-paranoia2 libcue2 \
  libmp3lame0 libogg0 libvorbis0a libvorbisenc2 libvorbisfile3 libmad0 libflac12 libdiscid0 libcurl4; do
  [[ ", $depends," == *", $package"[\ ,]* ]] || fail "Depends lacks $package: $depends"
done

app=org.example.korvane
icons=""
for size in 16 32 48 64 128 256; do
  icons+="-rw-r--r-- ./usr/share/icons/hicolor/${size}x$size/apps/$app.png"$'\n'
done
expected=$(sort <<LIST
-rwxr-xr-x ./usr/bin/korvane
-rwxr-xr-x ./usr/bin/korvane-cli
-rw-r--r-- ./usr/lib/korvane/libcdrip.so
-rw-r--r-- ./usr/lib/korvane/libkorvane_browser.so
-rw-r--r-- ./usr/share/korvane/b.htm
-rw-r--r-- ./usr/share/korvane/korvane-demo.bin
-rw-r--r-- ./usr/share/korvane/korvane-demo.cue
-rw-r--r-- ./usr/share/applications/$app.desktop
-rw-r--r-- ./usr/share/metainfo/$app.metainfo.xml
-rw-r--r-- ./usr/share/icons/hicolor/scalable/apps/$app.svg
${icons}-rw-r--r-- ./usr/share/man/man1/korvane.1.gz
-rw-r--r-- ./usr/share/man/man1/korvane-cli.1.gz
-rw-r--r-- ./usr/share/doc/korvane/copyright
-rw-r--r-- ./usr/share/doc/korvane/changelog.gz
-rw-r--r-- ./usr/share/lintian/overrides/korvane
LIST
)
listing=$(dpkg-deb -c "$deb")
owners=$(awk '{print $2}' <<<"$listing" | sort -u)
[ "$owners" = root/root ] || fail "files not owned by root: $owners"
files=$(awk '$1 !~ /^d/ {print $1, $6}' <<<"$listing" | sort)
diff <(echo "$expected") <(echo "$files") >&2 || fail "contents differ from the expected list"

dpkg-deb -x "$deb" "$work/root"
[ "$("$work/root/usr/bin/korvane-cli" --version)" = "korvane-cli version 1.00" ] ||
  fail "the packaged korvane-cli does not run"
HOME=$work/home "$work/root/usr/bin/korvane-cli" --list "$work/root/usr/share/korvane/korvane-demo.cue" |
  grep -c 'Track0[1-5]\.cda.*audio$' | grep -qx 5 || fail "the packaged demo disc is not read"
echo "package $(basename "$deb") holds what an installation holds"

#!/usr/bin/env bash
# The Debian package as far as it can be checked without building it a second time
# (`make deb` builds it with dpkg-buildpackage and checks it with lintian): the build
# installed under /usr in a scratch root, as debhelper installs it, checked for the
# files the package holds, one version everywhere, the dependencies that dpkg-shlibdeps
# computes from debian/control's split (the web engine recommended, no library linked
# that is not used) and the size of the package it makes.
# Usage: package_test.sh BUILD_DIR
set -euo pipefail
build=$(realpath "$1")
source_dir=$(realpath "$(dirname "$0")/../..")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# Where debhelper installs it: debian/korvane/ of a package's source.
root=$work/pkg/debian/korvane
DESTDIR=$root cmake --install "$build" --prefix /usr >/dev/null
# debhelper installs the copyright file and the change log itself.
rm -r "$root/usr/share/doc/korvane"

app=org.example.korvane
icons=""
for size in 16 32 48 64 128 256; do
  icons+="./usr/share/icons/hicolor/${size}x$size/apps/$app.png"$'\n'
done
expected=$(sort <<LIST
./usr/bin/korvane
./usr/bin/korvane-cli
./usr/lib/korvane/libcdrip.so
./usr/lib/korvane/libkorvane_browser.so
./usr/share/korvane/b.htm
./usr/share/korvane/korvane-demo.bin
./usr/share/korvane/korvane-demo.cue
./usr/share/applications/$app.desktop
./usr/share/metainfo/$app.metainfo.xml
./usr/share/icons/hicolor/scalable/apps/$app.svg
${icons}./usr/share/man/man1/korvane.1.gz
./usr/share/man/man1/korvane-cli.1.gz
LIST
)
diff <(echo "$expected") <(cd "$root" && find . -type f | sort) >&2 ||
  fail "installed files differ from the package's list"

# One version: the package's, the window's, korvane-cli's, the metainfo's and the
# manual pages'.
cd "$source_dir"
version=$(dpkg-parsechangelog -S Version)
[ "$version" = 1.00 ] || fail "debian/changelog's version is $version"
[ "$(dpkg-parsechangelog -S Distribution)" = bookworm ] || fail "changelog distribution"
grep -q "\"Korvane version $version\"" app/windows/unit1.cpp || fail "window title version"
cli_version=$("$root/usr/bin/korvane-cli" --version)
[ "$(head -n1 <<<"$cli_version")" = "korvane-cli version $version" ] ||
  fail "korvane-cli --version: $cli_version"
grep -q 'GPL-3.0-or-later' <<<"$cli_version" || fail "korvane-cli --version names no licence"
grep -q "<release version=\"$version\"" "$root/usr/share/metainfo/$app.metainfo.xml" ||
  fail "metainfo release version"
for page in korvane korvane-cli; do
  zcat "$root/usr/share/man/man1/$page.1.gz" | grep -q "^\.TH .*\"[^\"]* $version\"" ||
    fail "$page.1 does not carry version $version"
done
zcat "$root/usr/share/man/man1/korvane-cli.1.gz" | grep -q '^korvane-cli \\- .*FLAC' ||
  fail "korvane-cli.1's name line names no FLAC"

# The package's fields: FLAC described, the libraries loaded at run time by hand.
control=debian/control
grep -q '^ .*FLAC' "$control" || fail "the description names no FLAC"
depends=$(sed -n '/^Depends:/,/^[A-Z]/p' "$control")
for package in libmp3lame0 libogg0 libvorbis0a libvorbisenc2 libvorbisfile3 libmad0 libflac12 libopusenc0 \
  libebur128-1 zlib1g '${shlibs:Depends}'; do
  grep -qF "$package" <<<"$depends" || fail "Depends lacks $package"
done

# The dependencies computed as debian/rules computes them, from what is installed.
cp "$control" "$work/pkg/debian/control"
cd "$work/pkg"
lib=$root/usr/lib/korvane
mkdir "$root/DEBIAN"
dpkg-shlibdeps -Tsubstvars -l"$lib" -dDepends "$root/usr/bin/korvane" "$root/usr/bin/korvane-cli" \
  "$lib/libcdrip.so" -dRecommends "$lib/libkorvane_browser.so" 2>shlibdeps.err ||
  fail "dpkg-shlibdeps: $(cat shlibdeps.err)"
[ ! -s shlibdeps.err ] || fail "dpkg-shlibdeps warns: $(cat shlibdeps.err)"
rmdir "$root/DEBIAN"
shlibs_depends=$(sed -n 's/^shlibs:Depends=//p' substvars)
shlibs_recommends=$(sed -n 's/^shlibs:Recommends=//p' substvars)
for package in libqt6widgets6 libcdio19 libcdio-paranoia2 libcue2 libdiscid0 libcurl4; do
  [[ ", $shlibs_depends," == *", $package"[\ ,]* ]] ||
    fail "shlibs:Depends lacks $package: $shlibs_depends"
done
[[ $shlibs_depends != *webengine* ]] || fail "the web engine is required: $shlibs_depends"
[[ $shlibs_recommends == *libqt6webenginewidgets6* ]] ||
  fail "the web engine is not recommended: $shlibs_recommends"

# The package under 5 MB: its files stripped as dh_strip strips them, xz-compressed.
strip --remove-section=.comment --remove-section=.note --strip-unneeded "$root"/usr/bin/* "$lib"/*
size=$(tar -C "$root" -cf - . | xz -T1 -6 | wc -c)
((size < 5 * 1024 * 1024)) || fail "the package's payload takes $size bytes"

HOME=$work/home "$root/usr/bin/korvane-cli" --list "$root/usr/share/korvane/korvane-demo.cue" |
  grep -c 'Track0[1-5]\.cda.*audio$' | grep -qx 5 || fail "the packaged demo disc is not read"
echo "package files, version $version, dependencies and size ($size bytes) as intended"

#!/usr/bin/env bash
# Removes from PREFIX what `make install` put there: the build installs once more into a
# scratch folder, which gives the list of Korvane's files under PREFIX; those files go,
# then the folders of Korvane's own that are left empty. Nothing else under PREFIX is
# touched, so a prefix shared with other programs keeps theirs.
# Usage: scripts/uninstall.sh BUILD_DIR PREFIX
set -euo pipefail
build=$1
prefix=$(realpath -m "$2")
[ -f "$build/cmake_install.cmake" ] || {
  echo "uninstall: $build holds no configured build; run make install first" >&2
  exit 1
}
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
DESTDIR=$stage cmake --install "$build" --prefix "$prefix" >/dev/null
removed=0
while IFS= read -r -d '' file; do
  target=$prefix/${file#./}
  if [ -e "$target" ] || [ -L "$target" ]; then
    rm -f "$target"
    removed=$((removed + 1))
  fi
done < <(cd "$stage$prefix" && find . ! -type d -print0)
# Korvane's own folders (lib/korvane, share/korvane, share/doc/korvane), once empty.
while IFS= read -r -d '' folder; do
  rmdir "$prefix/${folder#./}" 2>/dev/null || true
done < <(cd "$stage$prefix" && find . -depth -type d -name 'korvane*' -print0)
echo "Removed $removed files of Korvane from $prefix"

#!/usr/bin/env bash
# Runs commands in this folder's last commit as a newcomer would: in a clean Debian 12
# root made here with mmdebstrap from this machine's Debian sources (Debian's required
# and important packages, no make, nothing installed by hand), into which the commit is
# cloned. A package that only this machine has cannot make the commands pass there. The
# root lives in a private mount namespace and is removed at the end, whatever happens.
# Needs root (mmdebstrap, chroot, mounts).
#   scripts/clean-root.sh [COMMAND]      default: ./make.sh run && ./make.sh test
set -euo pipefail
cd "$(dirname "$0")/.."
command=${1:-./make.sh run && ./make.sh test}
[ "$(id -u)" -eq 0 ] || { echo "clean-root.sh: needs root" >&2; exit 1; }
bash scripts/setup.sh clean-root

# The machine's Debian sources: deb822 files signed by Debian's archive keyring and
# one-line entries of a Debian archive (other vendors' repositories stay out).
debian_sources() {
  local file
  for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.sources; do
    [ -f "$file" ] && grep -q 'debian-archive-keyring' "$file" && { cat "$file"; echo; }
  done
  for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$file" ] && grep -E '^deb\s+\S+/debian(-security)?/?\s' "$file"
  done
  return 0
}

root=$(mktemp -d /var/tmp/korvane-clean-root.XXXXXX)
trap 'rm -rf --one-file-system "$root"' EXIT
sources=$root.sources
debian_sources >"$sources"
trap 'rm -rf --one-file-system "$root" "$sources"' EXIT
[ -s "$sources" ] || { echo "clean-root.sh: this machine names no Debian archive" >&2; exit 1; }

started=$SECONDS
echo "Making a clean Debian 12 root in $root"
mmdebstrap --quiet bookworm "$root" "$sources"
git clone --quiet . "$root/src"
echo "Root made in $((SECONDS - started)) s; running: $command"

# proc, sys and dev are mounted in a mount namespace of the command's own, so that they
# go with it however it ends.
unshare --mount --propagation private --pid --fork bash -c '
  root=$1
  mount -t proc proc "$root/proc"
  mount --rbind /sys "$root/sys"
  mount --rbind /dev "$root/dev"
  exec chroot "$root" /usr/bin/env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    HOME=/root LANG=C.UTF-8 TERM=dumb CI=${CI:-} bash -c "cd /src && $2"' _ "$root" "$command"
echo "Passed in the clean root, $((SECONDS - started)) s in all"

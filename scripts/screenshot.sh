#!/usr/bin/env bash
# Takes docs/screenshot.png: the Korvane window in the middle of a run (an audio CD in
# /dev/sr0 converted to MP3 into ~/Music, the second track part-way), on a virtual
# display. The picture shows a desktop user's folder and drive, not those of the machine
# that takes it: the run happens in a private mount namespace (so the script needs root;
# nothing outside the namespace changes) in which /home is an empty scratch folder
# holding the user ann's music folder, and /dev/sr0 is the software CD drive of the tests
# (preloaded) holding the demo disc.
# Usage: scripts/screenshot.sh [BUILD_DIR]   (default: build; the build makes the demo disc)
#
# The script runs itself in three stages: here, inside the namespace, on the display.
set -euo pipefail

case ${KORVANE_SCREENSHOT_STAGE:-} in
namespace)
  # /dev with an empty file sr0 added (an overlay keeps every device node working),
  # /dev/shm mounted back on it; /home empty.
  mkdir -p "$KORVANE_WORK/dev-upper" "$KORVANE_WORK/dev-work" "$KORVANE_WORK/shm"
  mount --bind /dev/shm "$KORVANE_WORK/shm"
  mount -t overlay overlay \
    -o "lowerdir=/dev,upperdir=$KORVANE_WORK/dev-upper,workdir=$KORVANE_WORK/dev-work" /dev
  mount --move "$KORVANE_WORK/shm" /dev/shm
  touch /dev/sr0
  mount -t tmpfs -o size=64m tmpfs /home
  mkdir -p /home/ann/Music
  export HOME=/home/ann
  KORVANE_SCREENSHOT_STAGE=display exec xvfb-run -a -s "-screen 0 800x600x24 -nolisten tcp" \
    "$0"
  ;;
display)
  # The driver holds the run when the second track passes 40 % and creates the pause
  # file; the picture is taken then, and removing the file lets the driver abort and
  # end. The driver places the window at the top left corner; the picture is cut to the
  # window with its own frame (client area 629 x 519, edges, border and title bar). The
  # screen is larger, as a desktop's is, so that the window does not fill it.
  pause=$KORVANE_WORK/paused
  LD_PRELOAD=$KORVANE_FAKEDRIVE KORVANE_FAKE_DRIVE=/dev/sr0:$KORVANE_DEMO \
    "$KORVANE_DRIVER" "$pause" /home/ann/Music /dev/sr0/Track0{1,2,3,4,5}.cda &
  driver=$!
  for _ in $(seq 600); do
    [ -e "$pause" ] && break
    kill -0 "$driver" 2>/dev/null || break
    sleep 0.1
  done
  status=1
  if [ -e "$pause" ]; then
    import -window root -crop 645x554+0+0 +repage "$KORVANE_WORK/shot.png" && status=0
    rm -f "$pause"
  fi
  wait "$driver" || status=1
  exit $status
  ;;
esac

cd "$(dirname "$0")/.."
build=${1:-build}
driver="$build/bin/korvane-screenshot"
fakedrive="$build/bin/libkorvane-fakedrive.so"
demo="$build/demo/korvane-demo.cue"
out=docs/screenshot.png
for needed in "$driver" "$fakedrive" "$demo"; do
  if [ ! -e "$needed" ]; then
    echo "screenshot.sh: $needed is missing; build first (cmake --build $build)." >&2
    exit 1
  fi
done
mkdir -p docs
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
KORVANE_DRIVER=$(realpath "$driver") KORVANE_FAKEDRIVE=$(realpath "$fakedrive") \
  KORVANE_DEMO=$(realpath "$demo") KORVANE_WORK=$work KORVANE_SCREENSHOT_STAGE=namespace \
  unshare --mount --propagation private "$(realpath "$0")"
mv "$work/shot.png" "$out"
echo "Wrote $out"

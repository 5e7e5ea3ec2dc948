#!/usr/bin/env bash
# The README's commands on a machine that may not have make yet (a fresh Debian has none):
# installs it when it is missing, then runs make here with the same arguments.
#   ./make.sh run    ./make.sh test    ./make.sh deb ...
set -euo pipefail
cd "$(dirname "$0")"
command -v make >/dev/null || bash scripts/setup.sh make
exec make "$@"

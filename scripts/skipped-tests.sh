#!/usr/bin/env bash
# After a ctest run: one line per reason for the tests that skipped themselves, with how
# many did, from the log of the run (a GoogleTest skip prints "...: Skipped" and then its
# reason). Prints nothing when no test skipped.
# Usage: scripts/skipped-tests.sh BUILD_DIR
set -euo pipefail
log=$1/Testing/Temporary/LastTest.log
[ -f "$log" ] || exit 0
awk '
  reason_next { reasons[$0]++; reason_next = 0; next }
  /: Skipped$/ { reason_next = 1 }
  END {
    for (r in reasons)
      printf "Skipped: %d test%s, %s%s\n", reasons[r], reasons[r] == 1 ? "" : "s", r,
             r ~ /^needs root/ ? " (run the tests as root to include them)" : ""
  }' "$log" | sort

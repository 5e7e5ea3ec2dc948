#!/usr/bin/env bash
# After a ctest run: one line per reason for the tests that skipped themselves because
# this machine lacks what they need (a reason that starts with "needs", such as root),
# with how many did, from the log of the run (a GoogleTest skip prints "...: Skipped" and
# then its reason). Tests that skip in one run of a program because another run covers
# them (a software drive with other faults) are not counted. Prints nothing when no test
# skipped for want of something.
# Usage: scripts/skipped-tests.sh BUILD_DIR
set -euo pipefail
log=$1/Testing/Temporary/LastTest.log
[ -f "$log" ] || exit 0
awk '
  reason_next { if ($0 ~ /^needs /) reasons[$0]++; reason_next = 0; next }
  /: Skipped$/ { reason_next = 1 }
  END {
    for (r in reasons)
      printf "Skipped: %d test%s, %s%s\n", reasons[r], reasons[r] == 1 ? "" : "s", r,
             r ~ /^needs root/ ? " (run the tests as root to include them)" : ""
  }' "$log" | sort

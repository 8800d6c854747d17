#!/usr/bin/env bash
# scripts/ctest-counts.sh over ctest's closing lines: skipped tests are counted apart from the
# passed ones and named; a run that printed no summary counts nothing.
# usage: ctest-counts-test.sh SCRIPTS_DIR
set -uo pipefail

counts=$1/ctest-counts.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0

# check NAME EXPECTED LOG: the script's whole answer for LOG must be EXPECTED.
check() {
    printf '%b' "$3" >"$work/log"
    local got
    got=$("$counts" "$work/log")
    if [ "$got" != "$(printf '%b' "$2")" ]; then
        echo "FAILED: $1: got \"$got\""
        status=1
    fi
}

check "skips and a failure" "1 1 2\nA.b\nDemo" \
    "50% tests passed, 1 tests failed out of 4\n\nThe following tests did not run:\n\t  2 - A.b (Skipped)\n\t  4 - Demo (Skipped)\n\nThe following tests FAILED:\n\t  3 - B.c (Failed)\n"
check "one test, failed" "0 1 0" "0% tests passed, 1 test failed out of 1\n"
check "all passed" "120 0 0" "100% tests passed, 0 tests failed out of 120\n"
check "the last summary counts" "3 0 0" \
    "100% tests passed, 0 tests failed out of 1\n100% tests passed, 0 tests failed out of 3\n"
check "no summary" "0 0 0" "No tests were found!!!\n"
check "a name with blanks and brackets" "0 0 1\nA (b) c" \
    "100% tests passed, 0 tests failed out of 1\nThe following tests did not run:\n\t  7 - A (b) c (Skipped)\n"
exit "$status"

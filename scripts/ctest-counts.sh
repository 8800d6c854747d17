#!/usr/bin/env bash
# Reads what one ctest run printed and says how its tests ended: "PASSED FAILED SKIPPED", and
# then the names of the skipped tests, one a line. ctest counts a skipped test among the passed
# in its "N% tests passed, F tests failed out of T" line, and names it under "The following
# tests did not run:" with "(Skipped)"; a run without that line counts nothing.
# usage: ctest-counts.sh LOG
set -uo pipefail

if [ "$#" -ne 1 ]; then
    echo "usage: $0 LOG" >&2
    exit 2
fi
log=$1

summary=$(grep -E '[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
if [ -z "$summary" ]; then
    echo "0 0 0"
    exit 0
fi
failed=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$summary")
total=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\2/' <<<"$summary")
# "	 12 - Suite.Name (Skipped)" in the list of tests that did not run.
skipped_names=$(sed -nE 's/^[[:space:]]+[0-9]+ - (.*) \(Skipped\)[[:space:]]*$/\1/p' "$log" | sort -u)
skipped=0
[ -z "$skipped_names" ] || skipped=$(wc -l <<<"$skipped_names")
echo "$((total - failed - skipped)) $failed $skipped"
[ -z "$skipped_names" ] || echo "$skipped_names"

#!/usr/bin/env bash
# Installs what is needed, builds every configuration from scratch and runs the whole test suite:
# the plain build (with the Debian package built, installed, run and purged on this machine),
# AddressSanitizer + UndefinedBehaviorSanitizer, ThreadSanitizer for the threaded parts, and a
# reproducible run of every fuzz target (fixed seed, committed corpus, fixed number of inputs).
# It ends with one line: "total: N passed, N failed, N skipped". With ORVANE_FAIL_ON_SKIP=1 (as
# CI runs it) a test that cannot run fails instead of skipping, and any skip fails the run.
set -uo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --for-tests || exit 1

jobs=$(nproc)
passed=0
failed=0
skipped=0
skipped_names=()
status=0

# Runs ctest and adds its passed, failed and skipped tests to the totals.
run_ctest() {
    local dir=$1
    shift
    local log
    log=$(mktemp)
    ctest --test-dir "$dir" --output-on-failure -j "$jobs" "$@" 2>&1 | tee "$log"
    local rc=${PIPESTATUS[0]}
    local counts p f s
    counts=$(scripts/ctest-counts.sh "$log")
    read -r p f s <<<"$(head -n 1 <<<"$counts")"
    passed=$((passed + p))
    failed=$((failed + f))
    skipped=$((skipped + s))
    if [ "$s" -gt 0 ]; then
        mapfile -t -O "${#skipped_names[@]}" skipped_names < <(tail -n +2 <<<"$counts" |
            sed "s|^|$dir: |")
    fi
    rm -f "$log"
    [ "$rc" -eq 0 ] || status=1
}

build() {
    local preset=$1
    shift
    rm -rf "$(preset_dir "$preset")"
    cmake --preset "$preset" "$@" >/dev/null && cmake --build "$(preset_dir "$preset")" -j "$jobs"
}

preset_dir() {
    case $1 in
        default) echo build ;;
        *) echo "build/$1" ;;
    esac
}

echo "== plain build"
# The package test installs and purges the package on this machine, which CI throws away.
if build default; then ORVANE_PACKAGE_TEST=1 run_ctest build; else status=1; fi

echo "== AddressSanitizer + UndefinedBehaviorSanitizer"
if build asan; then run_ctest build/asan -LE 'bench|package'; else status=1; fi

echo "== ThreadSanitizer (threaded parts)"
# Reading the file beyond 4 GiB under ThreadSanitizer takes minutes and checks nothing threaded:
# that case runs in the other builds only.
if build tsan; then
    run_ctest build/tsan -L threads -E '^FileResponse\.AFileBeyondFourGigabytesIsAnnouncedAndSentWhole$'
else
    status=1
fi

echo "== fuzz targets: the committed corpus, a fixed seed and number of inputs"
if build fuzz; then
    run_ctest build/fuzz -L fuzz
else
    status=1
fi

echo
if [ "$skipped" -gt 0 ]; then
    echo "skipped:"
    printf '  %s\n' "${skipped_names[@]}"
    if [ "${ORVANE_FAIL_ON_SKIP:-}" = 1 ]; then
        echo "ORVANE_FAIL_ON_SKIP=1: a skipped test fails the run"
        status=1
    fi
fi
echo "total: ${passed} passed, ${failed} failed, ${skipped} skipped"
exit "$status"

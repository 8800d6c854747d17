#!/usr/bin/env bash
# Installs what is needed, builds every configuration from scratch and runs the whole test suite:
# the plain build (with the Debian package built, installed, run and purged on this machine),
# AddressSanitizer + UndefinedBehaviorSanitizer, ThreadSanitizer for the threaded parts, and a
# timed run of every fuzz target.
set -uo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh || exit 1

jobs=$(nproc)
fuzz_seconds=${ORVANE_FUZZ_SECONDS:-60}
passed=0
failed=0
status=0

# ctest prints "N% tests passed, F tests failed out of T"; keep a running total over the runs.
run_ctest() {
    local dir=$1
    shift
    local log
    log=$(mktemp)
    ctest --test-dir "$dir" --output-on-failure -j "$jobs" "$@" 2>&1 | tee "$log"
    local rc=${PIPESTATUS[0]}
    local line
    line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
    if [ -n "$line" ]; then
        local f t
        f=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")
        t=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\2/' <<<"$line")
        passed=$((passed + t - f))
        failed=$((failed + f))
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
if build tsan; then run_ctest build/tsan -L threads; else status=1; fi

echo "== fuzz targets, ${fuzz_seconds} s each"
if build fuzz "-DORVANE_FUZZ_SECONDS=${fuzz_seconds}"; then
    run_ctest build/fuzz -L fuzz -j "$jobs"
else
    status=1
fi

echo
echo "total: ${passed} passed, ${failed} failed"
exit "$status"

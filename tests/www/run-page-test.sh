#!/usr/bin/env bash
# Runs the browser test of the self-service page inside a private network namespace that has
# only its own loopback link: the test server, chromedriver and the headless browser live and
# die there, and no packet can leave the machine.
# Usage: run-page-test.sh SERVER_PROGRAM WWW_DIR SCREENSHOT_DIR
#        run-page-test.sh --netns NS --service URL USER PASSWORD SCREENSHOT_DIR
# The second form checks the page of a program already running in a lab: the browser runs in
# the lab's namespace NS instead of a new one (see page_test.py).
# Exits 77 (skipped) when not root or when the browser, its driver or selenium are missing.
set -euo pipefail

readonly kSkipped=77
# Debian's selenium is installed for the system interpreter, not for any other python3 on PATH.
readonly python=/usr/bin/python3

# A new network namespace, or the one given.
network=(unshare --net)
if [ "${1:-}" = --netns ] && [ "$#" -eq 7 ] && [ "$3" = --service ]; then
    network=(ip netns exec "$2" unshare)
    shift 2
elif [ "$#" -ne 3 ]; then
    echo "usage: $0 SERVER_PROGRAM WWW_DIR SCREENSHOT_DIR" >&2
    echo "       $0 --netns NS --service URL USER PASSWORD SCREENSHOT_DIR" >&2
    exit 2
fi
if [ "$EUID" -ne 0 ]; then
    echo "SKIPPED: needs root to create a private network namespace"
    exit "$kSkipped"
fi
missing=()
for tool in chromium chromedriver curl unshare ip; do
    command -v "$tool" >/dev/null || missing+=("$tool")
done
if [ ! -x "$python" ] || ! "$python" -c 'import selenium' 2>/dev/null; then
    missing+=("python3-selenium")
fi
if [ "${#missing[@]}" -gt 0 ]; then
    echo "SKIPPED: missing ${missing[*]} (install chromium, chromium-driver and python3-selenium)"
    exit "$kSkipped"
fi

here="$(cd "$(dirname "$0")" && pwd)"
# A process namespace too: when the test ends, or is killed, nothing it started lives on.
exec "${network[@]}" --pid --fork --mount-proc --kill-child -- \
    "$python" "$here/page_test.py" "$@"

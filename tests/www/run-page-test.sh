#!/usr/bin/env bash
# Runs the browser test of the self-service page inside a private network namespace that has
# only its own loopback link: the test server, chromedriver and the headless browser live and
# die there, and no packet can leave the machine.
# Usage: run-page-test.sh SERVER_PROGRAM WWW_DIR SCREENSHOT_DIR
#        run-page-test.sh --netns NS --service URL USER PASSWORD SCREENSHOT_DIR
# The second form checks the page of a program already running in a lab: the browser runs in
# the lab's namespace NS instead of a new one (see page_test.py).
# Exits 77 (skipped) where no namespace can be made or the browser (chromium), its driver
# (chromium-driver), python3-selenium or axe-core are missing; under ORVANE_FAIL_ON_SKIP=1 it fails then.
set -euo pipefail

# Debian's selenium is installed for the system interpreter, not for any other python3 on PATH
# (the gate checks that one).
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
source "$(dirname "$0")/../support/gate.sh"
# The browser's own process and mount namespaces are made in either form.
gate_require netns chromium chromedriver curl ip python:selenium

here="$(cd "$(dirname "$0")" && pwd)"
# The accessibility checker, a pinned npm package that scripts/install-deps.sh installs.
[ -f "$here/node_modules/axe-core/axe.min.js" ] ||
    gate_skip "axe-core is not installed in tests/www/node_modules: run scripts/install-deps.sh --for-tests"
# A process namespace too: when the test ends, or is killed, nothing it started lives on.
exec "${network[@]}" --pid --fork --mount-proc --kill-child -- \
    "$python" "$here/page_test.py" "$@"

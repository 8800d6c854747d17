# Shared by the shell tests of this folder: counted failures and the size of a PNG image.
# Sourced, not run.

failures=0
fail() {
    echo "FAILED: $*"
    failures=$((failures + 1))
}

# "<width>x<height>" from a PNG file's header, or "not a PNG image".
png_size() {
    local header
    header=$(od -An -tx1 -N24 "$1" 2>/dev/null | tr -d ' \n')
    if [ "${header:0:16}" != 89504e470d0a1a0a ] || [ "${#header}" -lt 48 ]; then
        echo "not a PNG image"
        return
    fi
    echo "$((16#${header:32:8}))x$((16#${header:40:8}))"
}

# Ends the test: status 1 with the count when a check failed, else 0 with the message.
finish_checks() { # message
    if [ "$failures" -gt 0 ]; then
        echo "$failures checks failed"
        exit 1
    fi
    echo "$1"
    exit 0
}

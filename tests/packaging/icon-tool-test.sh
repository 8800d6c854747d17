#!/usr/bin/env bash
# The build tool that draws the icon's PNG sizes: the program's SVG becomes PNG images of the
# sizes asked for; a document Qt cannot draw, a missing file and sizes out of range are
# refused without leaving an image.
# usage: icon-tool-test.sh RENDER_TOOL SVG_FILE
set -uo pipefail

if [ "$#" -ne 2 ]; then
    echo "usage: $0 RENDER_TOOL SVG_FILE" >&2
    exit 2
fi
tool=$1
svg=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
    echo "FAILED: $*"
    failures=$((failures + 1))
}

# Width and height from the PNG header, or "not a PNG image".
png_size() {
    local header
    header=$(od -An -tx1 -N24 "$1" | tr -d ' \n')
    if [ "${header:0:16}" != 89504e470d0a1a0a ]; then
        echo "not a PNG image"
        return
    fi
    echo "$((16#${header:32:8}))x$((16#${header:40:8}))"
}

"$tool" "$svg" "$work" 16 48 256 2>"$work/err" || fail "drawing the icon: $(cat "$work/err")"
for size in 16 48 256; do
    [ "$(png_size "$work/$size.png")" = "${size}x$size" ] ||
        fail "$size.png is $(png_size "$work/$size.png")"
done

mkdir "$work/bad"
printf '<svg xmlns="http://www.w3.org/2000/svg"><rect' >"$work/cut.svg"
printf '\x89PNG not a drawing' >"$work/binary.svg"
refused() { # expected status, what, arguments...
    local expected=$1 what=$2
    shift 2
    "$tool" "$@" >/dev/null 2>"$work/err"
    local status=$?
    [ "$status" -eq "$expected" ] || fail "$what: status $status, not $expected"
    [ -s "$work/err" ] || fail "$what: no message"
    [ -z "$(ls "$work/bad")" ] || fail "$what: left $(ls "$work/bad")"
    rm -f "$work/bad"/*
}
refused 1 "a cut document" "$work/cut.svg" "$work/bad" 16
refused 1 "binary data" "$work/binary.svg" "$work/bad" 16
refused 1 "a missing file" "$work/none.svg" "$work/bad" 16
refused 2 "size 0" "$svg" "$work/bad" 16 0
refused 2 "size 1025" "$svg" "$work/bad" 1025
refused 2 "size 12px" "$svg" "$work/bad" 12px
refused 2 "no size" "$svg" "$work/bad"

if [ "$failures" -gt 0 ]; then
    exit 1
fi
echo "the icon tool draws every size asked for and refuses what it cannot draw"

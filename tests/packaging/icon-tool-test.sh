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
source "$(dirname "$0")/checks.sh"

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

finish_checks "the icon tool draws every size asked for and refuses what it cannot draw"

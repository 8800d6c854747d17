#!/bin/bash
# Checks the install script CMake generated for the package: what goes to the installed web
# folder are named files of the page, not a copy of the source web folder with whatever else
# lies there.
# Usage: page-files-test.sh <build>/packaging/cmake_install.cmake
set -u
script=$1
rules=$(grep -F '/www"' "$script")
[ -n "$rules" ] || { echo "no install rule for the web folder in $script"; exit 1; }
if grep -q 'TYPE DIRECTORY' <<<"$rules"; then
    echo "the web folder is installed as a whole:"
    echo "$rules"
    exit 1
fi
grep -q 'TYPE FILE FILES ".*/www/default\.htm"' <<<"$rules" || {
    echo "the page itself is not installed:"
    echo "$rules"
    exit 1
}
echo "web folder: named files only"

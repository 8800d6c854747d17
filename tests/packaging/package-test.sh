#!/usr/bin/env bash
# The Debian package end to end: built with CPack from the build folder, checked with lintian,
# installed on this machine with apt-get, run as installed (the program from its menu entry in
# a private network namespace: it serves its page and answers "/Query"; the lab wrapper with
# the installed simulator and finder), purged, and nothing it installed may be left behind.
# Installing changes the machine: it runs only with ORVANE_PACKAGE_TEST=1 (set by
# scripts/test.sh for CI, whose machines are thrown away) where packages can be installed, and
# is skipped otherwise (tests/support/gate.sh).
# usage: package-test.sh BUILD_DIR VERSION
set -uo pipefail

readonly kPackage=orvanesrv
readonly kPort=51001
readonly kStartTries=300 # of 0.1 s
readonly kIconSizes="16 22 24 32 48 64 128 256"

if [ "$#" -ne 2 ]; then
    echo "usage: $0 BUILD_DIR VERSION" >&2
    exit 2
fi
build=$1
version=$2
source "$(dirname "$0")/../support/gate.sh"
if [ "${ORVANE_PACKAGE_TEST:-}" != 1 ]; then
    gate_skip "set ORVANE_PACKAGE_TEST=1 to let this test install and purge the package" \
        "$kPackage on this machine"
fi
# The installed lab wrapper builds its lab of named namespaces joined by veth links.
gate_require dpkg netns ipnetns veth cpack apt-get dpkg-deb lintian unshare ip curl cmp
# dpkg's state of the package: empty or "not-installed" when it is not on the machine.
package_state() {
    dpkg-query -W -f='${db:Status-Status}' "$kPackage" 2>/dev/null | grep -v '^not-installed$'
}
if [ -n "$(package_state)" ]; then
    echo "FAILED: $kPackage is already on this machine ($(package_state)); purge it first"
    exit 1
fi

source "$(dirname "$0")/checks.sh"

work=$(mktemp -d /tmp/orvane-package-test.XXXXXX)
# apt-get reads the package as its own unprivileged user.
chmod 755 "$work"
installed=0
cleanup() {
    if [ "$installed" -eq 1 ]; then
        DEBIAN_FRONTEND=noninteractive apt-get purge -y -q "$kPackage" >/dev/null 2>&1
    fi
    rm -rf "$work"
}
trap cleanup EXIT

# --- Build and inspect.
if ! (cd "$build" && cpack -G DEB -B "$work/out") >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log"
    echo "FAILED: cpack"
    exit 1
fi
debs=("$work"/out/*.deb)
if [ "${#debs[@]}" -ne 1 ] || [ ! -f "${debs[0]}" ]; then
    echo "FAILED: cpack wrote ${#debs[@]} packages: ${debs[*]}"
    exit 1
fi
deb=${debs[0]}
echo "package: $(basename "$deb")"
[ "$(basename "$deb")" = "${kPackage}_${version}_$(dpkg --print-architecture).deb" ] ||
    fail "file name $(basename "$deb")"
[ "$(dpkg-deb -f "$deb" Package)" = "$kPackage" ] || fail "Package field"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "Version field is not $version"
depends=$(dpkg-deb -f "$deb" Depends)
depends_names=$(sed 's/ ([^)]*)//g; s/, /\n/g' <<<"$depends")
for library in libc6 libstdc++6 libqt6widgets6 libqt6svg6 libsqlite3-0 libcurl4; do
    grep -qxF "$library" <<<"$depends_names" || fail "Depends lacks $library: $depends"
done
[ "$(dpkg-deb -f "$deb" Recommends)" = iproute2 ] || fail "Recommends is not iproute2"

# Every file the package holds, without the leading "."; directories end in "/".
dpkg-deb --fsys-tarfile "$deb" | tar -t | sed 's/^\.//' | grep -v '^/$' >"$work/contents"
expected=(
    /usr/bin/OrvaneSrv /usr/bin/orvane-slpfind /usr/bin/orvane-array-sim /usr/bin/orvane-lab
    /usr/share/orvanesrv/lab/orvane-lab.sh /usr/share/orvanesrv/www/default.htm
    /usr/share/applications/orvanesrv.desktop
    /usr/share/icons/hicolor/scalable/apps/orvanesrv.svg
    /usr/share/doc/orvanesrv/copyright /usr/share/doc/orvanesrv/changelog.gz
    /usr/share/doc/orvanesrv/README.md.gz /usr/share/doc/orvanesrv/security-notes.md
)
for page in OrvaneSrv orvane-slpfind orvane-array-sim orvane-lab; do
    expected+=("/usr/share/man/man1/$page.1.gz")
done
for size in $kIconSizes; do
    expected+=("/usr/share/icons/hicolor/${size}x$size/apps/orvanesrv.png")
done
for path in "${expected[@]}"; do
    grep -qxF "$path" "$work/contents" || fail "the package lacks $path"
done
# Only what is meant for the machine: nothing of the build, the tests or /usr/local.
files=$(grep -v '/$' "$work/contents")
if [ "$(wc -l <<<"$files")" -ne "${#expected[@]}" ]; then
    fail "the package holds other files: $(grep -vxF -f <(printf '%s\n' "${expected[@]}") <<<"$files" | tr '\n' ' ')"
fi

# It warns that it runs as root; the test needs root anyway.
lintian --fail-on error "$deb" || fail "lintian reports errors"

# --- Install.
# What of the package's paths exists before: the shared directories.
while IFS= read -r path; do
    [ -e "$path" ] && echo "$path"
done <"$work/contents" >"$work/before"
preexisting=$(grep -v '/$' "$work/before")
[ -z "$preexisting" ] || fail "already on the machine: $preexisting"
# What it depends on is on this machine already, since it was built here.
installed=1
if ! DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$deb" >"$work/apt.log" 2>&1; then
    cat "$work/apt.log"
    echo "FAILED: apt-get install"
    exit 1
fi
[ "$(dpkg-query -W -f='${Version}' "$kPackage")" = "$version" ] || fail "dpkg does not list $kPackage $version"

# Installed icons are PNG images of the size of their folder.
for size in $kIconSizes; do
    png=/usr/share/icons/hicolor/${size}x$size/apps/orvanesrv.png
    [ "$(png_size "$png")" = "${size}x$size" ] || fail "$png is $(png_size "$png")"
done
# Manual pages format without a complaint.
command -v man >/dev/null || echo "man not installed: the manual pages are not formatted"
command -v man >/dev/null && for page in OrvaneSrv orvane-slpfind orvane-array-sim orvane-lab; do
    complaints=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 "$page" 2>&1 >/dev/null)
    [ -z "$complaints" ] || fail "man $page: $complaints"
done

# --- Run the program as the menu entry starts it, headless, in a network of its own.
desktop=/usr/share/applications/orvanesrv.desktop
exec_line=$(sed -n 's/^Exec=//p' "$desktop")
path_line=$(sed -n 's/^Path=//p' "$desktop")
[ "$path_line" = /usr/share/orvanesrv/www ] || fail "menu entry Path=$path_line"
[ "$(command -v "$exec_line")" = /usr/bin/OrvaneSrv ] || fail "menu entry Exec=$exec_line"
mkdir -m 700 "$work/home"
cat >"$work/run.sh" <<EOF
ip link set lo up
cd '$path_line' || exit 1
env -u DISPLAY -u WAYLAND_DISPLAY HOME='$work/home' XDG_CONFIG_HOME='$work/home/config' \
    XDG_STATE_HOME='$work/home/state' OpenSLPConfig=/dev/null $exec_line 2>'$work/program.err' &
pid=\$!
for ((i = 0; i < $kStartTries; i++)); do
    curl -s -o '$work/page' -w '%{http_code}' http://127.0.0.1:$kPort/ >'$work/page.status' &&
        [ "\$(cat '$work/page.status')" = 200 ] && break
    kill -0 \$pid 2>/dev/null || break
    sleep 0.1
done
curl -s -u admin:9983 --data-binary '' http://127.0.0.1:$kPort/Query >'$work/query'
curl -s -o /dev/null -w '%{http_code}' -u admin:wrong --data-binary '' \
    http://127.0.0.1:$kPort/Query >'$work/refused'
kill -TERM \$pid
wait \$pid
echo \$? >'$work/program.status'
EOF
unshare -n bash "$work/run.sh"
cmp -s "$work/page" /usr/share/orvanesrv/www/default.htm ||
    fail "GET / does not serve the installed page: $(head -c 200 "$work/page")"
[ "$(cat "$work/query")" = '<StorageServers AdminGroup="Yes"></StorageServers>' ] ||
    fail "/Query as admin answered: $(cat "$work/query")"
[ "$(cat "$work/refused")" = 401 ] || fail "/Query with a wrong password answered $(cat "$work/refused")"
[ "$(cat "$work/program.status")" = 0 ] || fail "the program ended with $(cat "$work/program.status")"
[ -f "$work/home/config/OrvaneSrv/registry.db" ] || fail "no store in XDG_CONFIG_HOME"
[ -f "$work/home/state/OrvaneSrv/service.log" ] || fail "no service log in XDG_STATE_HOME"
if [ "$failures" -gt 0 ]; then
    cat "$work/program.err"
fi

# The installed lab finds the installed simulator, and the installed finder sees its array.
found=$(OpenSLPConfig=/dev/null orvane-lab --arrays 1 -- \
    orvane-slpfind findsrvs service:raid.004417 2>"$work/lab.err")
[ "$found" = "service:raid.004417://10.77.1.1" ] ||
    fail "orvane-lab with orvane-slpfind: $found $(cat "$work/lab.err")"

# --- Purge: nothing the package installed stays.
dpkg -L "$kPackage" | grep -v '^/\.$' | sort >"$work/listed"
[ "$(sed 's:/$::' "$work/contents" | sort)" = "$(cat "$work/listed")" ] ||
    fail "dpkg lists other paths than the package holds"
installed=0
if ! DEBIAN_FRONTEND=noninteractive apt-get purge -y -q "$kPackage" >>"$work/apt.log" 2>&1; then
    cat "$work/apt.log"
    fail "apt-get purge"
fi
[ -z "$(package_state)" ] || fail "dpkg still knows $kPackage: $(package_state)"
while IFS= read -r path; do
    if [ -e "${path%/}" ] && ! grep -qxF "$path" "$work/before"; then
        fail "left behind: $path"
    fi
done <"$work/contents"

finish_checks "package built, checked, installed, run and purged cleanly"

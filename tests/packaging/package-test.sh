#!/usr/bin/env bash
# The Debian packages end to end: orvanesrv and orvanesrv-lab built with CPack from the build
# folder, checked with lintian, the user service unit with systemd-analyze, installed on this
# machine with apt-get, run as installed (the program from its menu entry in a private network
# namespace: it serves its page and answers "/Query"; the lab wrapper with the installed
# simulator and finder), purged, and nothing they installed may be left behind.
# Installing changes the machine: it runs only with ORVANE_PACKAGE_TEST=1 (set by
# scripts/test.sh for CI, whose machines are thrown away) where packages can be installed, and
# is skipped otherwise (tests/support/gate.sh).
# usage: package-test.sh BUILD_DIR VERSION
set -uo pipefail

readonly kPackage=orvanesrv
readonly kLabPackage=orvanesrv-lab
readonly kPackages="$kPackage $kLabPackage"
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
gate_require dpkg netns ipnetns veth cpack apt-get dpkg-deb lintian systemd-analyze unshare ip curl cmp
# dpkg's state of a package: empty or "not-installed" when it is not on the machine.
package_state() { # package
    dpkg-query -W -f='${db:Status-Status}' "$1" 2>/dev/null | grep -v '^not-installed$'
}
for package in $kPackages; do
    if [ -n "$(package_state "$package")" ]; then
        echo "FAILED: $package is already on this machine ($(package_state "$package")); purge it first"
        exit 1
    fi
done

source "$(dirname "$0")/checks.sh"

work=$(mktemp -d /tmp/orvane-package-test.XXXXXX)
# apt-get reads the package as its own unprivileged user.
chmod 755 "$work"
installed=0
cleanup() {
    if [ "$installed" -eq 1 ]; then
        DEBIAN_FRONTEND=noninteractive apt-get purge -y -q $kPackages >/dev/null 2>&1
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
arch=$(dpkg --print-architecture)
deb=$work/out/${kPackage}_${version}_$arch.deb
lab_deb=$work/out/${kLabPackage}_${version}_$arch.deb
debs=("$work"/out/*.deb)
if [ "${#debs[@]}" -ne 2 ] || [ ! -f "$deb" ] || [ ! -f "$lab_deb" ]; then
    echo "FAILED: cpack wrote ${#debs[@]} packages, not $(basename "$deb") and $(basename "$lab_deb"): ${debs[*]}"
    exit 1
fi
echo "packages: $(basename "$deb") $(basename "$lab_deb")"
[ "$(dpkg-deb -f "$deb" Package)" = "$kPackage" ] || fail "Package field of $kPackage"
[ "$(dpkg-deb -f "$lab_deb" Package)" = "$kLabPackage" ] || fail "Package field of $kLabPackage"
for file in "$deb" "$lab_deb"; do
    [ "$(dpkg-deb -f "$file" Version)" = "$version" ] || fail "Version field is not $version"
done
# Each package's Depends as one name a line.
depends_names() { # deb
    dpkg-deb -f "$1" Depends | sed 's/ ([^)]*)//g; s/, /\n/g'
}
for library in libc6 libstdc++6 libqt6widgets6 libqt6svg6 libsqlite3-0 libcurl4 libsystemd0; do
    depends_names "$deb" | grep -qxF "$library" || fail "Depends of $kPackage lacks $library"
done
depends_names "$lab_deb" | grep -qxF "$kPackage" || fail "$kLabPackage does not depend on $kPackage"
[ "$(dpkg-deb -f "$lab_deb" Depends | grep -o "$kPackage ([^)]*)")" = "$kPackage (= $version)" ] ||
    fail "$kLabPackage does not depend on $kPackage $version exactly"
[ "$(dpkg-deb -f "$lab_deb" Recommends)" = iproute2 ] || fail "Recommends of $kLabPackage is not iproute2"

# What each package must hold (every file, without the leading "."), and nothing else.
expected=(
    /usr/bin/OrvaneSrv /usr/bin/orvanectl /usr/bin/orvane-slpfind
    /usr/lib/systemd/user/orvanesrv.service
    /usr/share/bash-completion/completions/orvanectl
    /usr/share/orvanesrv/www/default.htm
    /usr/share/applications/orvanesrv.desktop
    /usr/share/icons/hicolor/scalable/apps/orvanesrv.svg
    /usr/share/doc/orvanesrv/copyright /usr/share/doc/orvanesrv/changelog.gz
    /usr/share/doc/orvanesrv/README.md.gz /usr/share/doc/orvanesrv/security-notes.md
)
program_pages="OrvaneSrv orvanectl orvane-slpfind"
lab_expected=(
    /usr/bin/orvane-array-sim /usr/bin/orvane-lab /usr/share/orvanesrv/lab/orvane-lab.sh
    /usr/share/doc/orvanesrv-lab/copyright /usr/share/doc/orvanesrv-lab/changelog.gz
)
lab_pages="orvane-array-sim orvane-lab"
for page in $program_pages; do
    expected+=("/usr/share/man/man1/$page.1.gz")
done
for page in $lab_pages; do
    lab_expected+=("/usr/share/man/man1/$page.1.gz")
done
for size in $kIconSizes; do
    expected+=("/usr/share/icons/hicolor/${size}x$size/apps/orvanesrv.png")
done
# Every path a package holds, without the leading "."; directories end in "/".
check_contents() { # deb contents-file expected...
    local file=$1 contents=$2 path files
    shift 2
    dpkg-deb --fsys-tarfile "$file" | tar -t | sed 's/^\.//' | grep -v '^/$' >"$contents"
    for path in "$@"; do
        grep -qxF "$path" "$contents" || fail "$(basename "$file") lacks $path"
    done
    # Only what is meant for the machine: nothing of the build, the tests or /usr/local.
    files=$(grep -v '/$' "$contents")
    if [ "$(wc -l <<<"$files")" -ne "$#" ]; then
        fail "$(basename "$file") holds other files: $(grep -vxF -f <(printf '%s\n' "$@") <<<"$files" | tr '\n' ' ')"
    fi
}
check_contents "$deb" "$work/contents" "${expected[@]}"
check_contents "$lab_deb" "$work/lab-contents" "${lab_expected[@]}"

# It warns that it runs as root; the test needs root anyway.
lintian --fail-on error,warning "$deb" "$lab_deb" || fail "lintian reports errors or warnings"

# --- Install.
# What of the package's paths exists before: the shared directories.
while IFS= read -r path; do
    [ -e "$path" ] && echo "$path"
done < <(cat "$work/contents" "$work/lab-contents") >"$work/before"
preexisting=$(grep -v '/$' "$work/before")
[ -z "$preexisting" ] || fail "already on the machine: $preexisting"
# What it depends on is on this machine already, since it was built here.
installed=1
if ! DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$deb" "$lab_deb" >"$work/apt.log" 2>&1; then
    cat "$work/apt.log"
    echo "FAILED: apt-get install"
    exit 1
fi
for package in $kPackages; do
    [ "$(dpkg-query -W -f='${Version}' "$package")" = "$version" ] || fail "dpkg does not list $package $version"
done

# Installed icons are PNG images of the size of their folder.
for size in $kIconSizes; do
    png=/usr/share/icons/hicolor/${size}x$size/apps/orvanesrv.png
    [ "$(png_size "$png")" = "${size}x$size" ] || fail "$png is $(png_size "$png")"
done
# Manual pages format without a complaint.
command -v man >/dev/null || echo "man not installed: the manual pages are not formatted"
command -v man >/dev/null && for page in $program_pages $lab_pages; do
    complaints=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 "$page" 2>&1 >/dev/null)
    [ -z "$complaints" ] || fail "man $page: $complaints"
done

# The user unit as installed: systemd's own check (a user manager's view, which needs a runtime
# folder), and the command line it starts the program with.
unit=/usr/lib/systemd/user/orvanesrv.service
if command -v systemd-analyze >/dev/null; then
    mkdir -m 700 "$work/runtime"
    XDG_RUNTIME_DIR=$work/runtime systemd-analyze --user verify "$unit" >"$work/verify.log" 2>&1 ||
        fail "systemd-analyze verify: $(cat "$work/verify.log")"
else
    echo "systemd-analyze not installed: the unit is not verified"
fi
[ "$(sed -n 's/^ExecStart=//p' "$unit")" = "/usr/bin/OrvaneSrv --headless --www /usr/share/orvanesrv/www" ] ||
    fail "unit ExecStart=$(sed -n 's/^ExecStart=//p' "$unit")"
grep -qx 'Type=notify' "$unit" || fail "the unit is not of Type=notify"
grep -qx 'Restart=on-failure' "$unit" || fail "the unit does not restart on failure"

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
env HOME='$work/home' XDG_CONFIG_HOME='$work/home/config' orvanectl users >'$work/users' 2>&1
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
[ "$(cat "$work/users")" = "$(printf 'User   Groups\nadmin  Administrator,Everyone')" ] ||
    fail "orvanectl users answered: $(cat "$work/users")"
# The completion completes orvanectl's commands and options (bash-completion's helper stood in
# for, as the package only recommends what a shell setup provides).
completion=/usr/share/bash-completion/completions/orvanectl
complete_words() { # words...
    bash -c '_init_completion() { words=("${COMP_WORDS[@]}"); cword=$COMP_CWORD; cur=${words[cword]}; }
        source "$0"; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _orvanectl
        echo "${COMPREPLY[*]}"' "$completion" "$@" 2>&1
}
[ "$(complete_words orvanectl ser)" = servers ] || fail "completion of orvanectl ser: $(complete_words orvanectl ser)"
[ "$(complete_words orvanectl user add bob --g)" = --groups ] ||
    fail "completion of orvanectl user add bob --g: $(complete_words orvanectl user add bob --g)"
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

# --- Purge: nothing the packages installed stays.
dpkg -L $kPackages | grep -v -e '^/\.$' -e '^$' | sort -u >"$work/listed"
[ "$(cat "$work/contents" "$work/lab-contents" | sed 's:/$::' | sort -u)" = "$(cat "$work/listed")" ] ||
    fail "dpkg lists other paths than the packages hold"
installed=0
if ! DEBIAN_FRONTEND=noninteractive apt-get purge -y -q $kPackages >>"$work/apt.log" 2>&1; then
    cat "$work/apt.log"
    fail "apt-get purge"
fi
for package in $kPackages; do
    [ -z "$(package_state "$package")" ] || fail "dpkg still knows $package: $(package_state "$package")"
done
while IFS= read -r path; do
    if [ -e "${path%/}" ] && ! grep -qxF "$path" "$work/before"; then
        fail "left behind: $path"
    fi
done < <(cat "$work/contents" "$work/lab-contents")

finish_checks "packages built, checked, installed, run and purged cleanly"

#!/usr/bin/env bash
# The demo of scripts/start.sh: refused without root; as root, started without a display with
# --check, which builds the lab of five arrays, starts the program on a virtual display,
# checks it from the lab with the very commands the guide prints, saves a screenshot and stops.
# Afterwards nothing of it may be left: no namespace, no scratch folder, no display lock.
# usage: demo-test.sh SOURCE_DIR BIN_DIR SCREENSHOT_DIR
set -uo pipefail

readonly kScreen=1280x800

if [ "$#" -ne 3 ]; then
    echo "usage: $0 SOURCE_DIR BIN_DIR SCREENSHOT_DIR" >&2
    exit 2
fi
source_dir=$1
bin_dir=$2
shots=$3
source "$(dirname "$0")/../support/gate.sh"
# The demo's lab: named namespaces joined by veth links; its refusal is shown as nobody.
gate_require netns ipnetns veth nobody Xvfb ip curl python3 setpriv

source "$(dirname "$0")/checks.sh"

# Without root it says so and starts nothing. nobody runs a copy in a folder of its reach: the
# checkout may lie where only its owner may enter (a clone in root's home folder).
as_nobody=$(mktemp -d /tmp/orvane-demo-nobody.XXXXXX)
chmod 0755 "$as_nobody"
mkdir -m 0755 "$as_nobody/scripts"
install -m 0644 "$source_dir/scripts/start.sh" "$as_nobody/scripts/start.sh"
out=$(cd "$as_nobody" && setpriv --reuid=65534 --regid=65534 --clear-groups \
    bash "$as_nobody/scripts/start.sh" --demo --bin "$bin_dir" 2>&1)
status=$?
rm -rf "$as_nobody"
[ "$status" -eq 1 ] || fail "without root: status $status"
[[ "$out" == *"needs root"* ]] || fail "without root it said: $out"

controls_before=$(ls -d /tmp/orvane-demo.* 2>/dev/null)
rm -f "$shots/demo.png"
out=$(env -u DISPLAY -u WAYLAND_DISPLAY timeout 240 \
    "$source_dir/scripts/start.sh" --demo --check --bin "$bin_dir" --screenshots "$shots" 2>&1)
status=$?
echo "$out"
[ "$status" -eq 0 ] || fail "the demo with --check ended with $status"

[[ "$out" == *"no display"*"virtual display (Xvfb)"* ]] || fail "no word of the virtual display"
grep -qE "^CHECK page: [0-9]+ lines$" <<<"$out" || fail "the page"
grep -qxF 'CHECK query: <StorageServers AdminGroup="Yes"></StorageServers>' <<<"$out" ||
    fail "/Query as admin"
grep -qxF "CHECK wrong password: 401" <<<"$out" || fail "a wrong password"
grep -qxF "CHECK program exit status: 0" <<<"$out" || fail "the program's stop"

# The five kinds of array, as the lab announces them.
arrays=$(sed -n 's/^CHECK array: //p' <<<"$out")
[ "$(grep -c . <<<"$arrays")" -eq 5 ] || fail "not five arrays"
kind() { # description, then a pattern the array's line matches
    grep -qE "$2" <<<"$arrays" || fail "no $1 array"
}
kind "supported SAN" '\(vendor=Tarvik Networks\),\(type=SAN\),\(model=Arvo\)'
kind "unsupported SAN" '\(vendor=Quillmoor Storage\),\(type=SAN\)'
kind "NAS" '\(type=NAS\)'
line_of() { # the announcement of the array at this address
    grep -F "://$1	" <<<"$arrays"
}
[[ "$(line_of 10.77.1.4)" == *"(type=SAN)"* && "$(line_of 10.77.1.4)" != *"(model="* ]] ||
    fail "no SAN without a model at 10.77.1.4"
[[ "$(line_of 10.77.1.5)" == *"(type=SAN)"* && "$(line_of 10.77.1.5)" != *"(mac="* ]] ||
    fail "no SAN without a MAC address at 10.77.1.5"

# The screenshot is a PNG image of the whole virtual screen.
[ "$(png_size "$shots/demo.png")" = "$kScreen" ] ||
    fail "demo.png is $(png_size "$shots/demo.png")"

# Nothing is left: the lab's namespaces and folder, the display's lock and socket, the
# script's own folder.
lab=$(grep -oE 'in the lab orvlab-[0-9]+-[0-9a-f]+' <<<"$out" | head -n 1 | sed 's/in the lab //')
display=$(grep -oE 'virtual display :[0-9]+' <<<"$out" | head -n 1 | sed 's/.*://')
if [ -z "$lab" ] || [ -z "$display" ]; then
    fail "the guide names no lab or no display"
else
    [ -z "$(ip netns list | grep -F "$lab")" ] || fail "namespaces left: $(ip netns list | grep -F "$lab")"
    ! ls -d /tmp/"$lab".* >/dev/null 2>&1 || fail "lab folder left: $(ls -d /tmp/"$lab".*)"
    [ ! -e "/tmp/.X$display-lock" ] || fail "/tmp/.X$display-lock left"
    [ ! -e "/tmp/.X11-unix/X$display" ] || fail "/tmp/.X11-unix/X$display left"
fi
[ "$(ls -d /tmp/orvane-demo.* 2>/dev/null)" = "$controls_before" ] || fail "a control folder is left"

finish_checks "the demo started, answered from its lab and left nothing behind"

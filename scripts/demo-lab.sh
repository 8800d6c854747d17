#!/usr/bin/env bash
# The inside of the demo: scripts/start.sh --demo runs it through the namespace lab, in the
# lab's manager namespace, beside the five simulated arrays. It starts OrvaneSrv on the
# operator's display, or on a virtual one (Xvfb) when there is none or the display cannot be
# opened from the lab, with a throw-away store in the lab's scratch folder; it says what to
# try; and it stops the program and the virtual display when the window closes or a stop
# signal comes, so that the lab can remove everything. With DEMO_CHECK=1 it checks the running
# demo from the lab instead of waiting, and stops.
#
# From start.sh: DEMO_BIN (the programs), DEMO_WWW (the folder served), DEMO_SCRIPTS (this
# folder), DEMO_CONTROL (where start.sh leaves the arrays' descriptions, one line each, in
# "arrays", and this script its process id in "inner.pid"), DEMO_PASSWORD
# (the arrays' administrator password), DEMO_SCREENSHOTS (where screenshots go), DEMO_OWNER
# (who gets them), DEMO_CHECK. From the lab: LAB_DIR, LAB_MGR_ADDR.
set -uo pipefail

readonly kPort=51001
readonly kStartTries=300 # of 0.1 s: the program's start-up, the store included
readonly kStopTries=100  # of 0.1 s, before the program is killed
readonly kScreen=1280x800x24
readonly kDirectoryUser=admin
readonly kDirectoryPassword=9983

lab=$(basename "$LAB_DIR" | sed 's/\.[^.]*$//')
service="http://$LAB_MGR_ADDR:$kPort"
program_err="$LAB_DIR/program.err"
program_pid=
program_status=0
xvfb_pid=
virtual=0
echo $$ >"$DEMO_CONTROL/inner.pid"
# The program's store, log and runtime files, all thrown away with the lab.
export XDG_CONFIG_HOME="$LAB_DIR/config" XDG_STATE_HOME="$LAB_DIR/state"
export XDG_RUNTIME_DIR="$LAB_DIR/runtime"
mkdir -m 700 "$XDG_CONFIG_HOME" "$XDG_STATE_HOME" "$XDG_RUNTIME_DIR"

say() {
    echo "demo: $*" >&2
}

# What the operator is told to type, and what --check runs as it stands.
query_command="ip netns exec $lab-a0 curl -s -u $kDirectoryUser:$kDirectoryPassword --data-binary '' $service/Query"
page_command="ip netns exec $lab-a0 curl -s $service/"

stop_program() {
    [ -n "$program_pid" ] || return 0
    kill -TERM "$program_pid" 2>/dev/null
    for ((i = 0; i < kStopTries; i++)); do
        kill -0 "$program_pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -KILL "$program_pid" 2>/dev/null
    wait "$program_pid" 2>/dev/null
    program_status=$?
    program_pid=
}

# A virtual display killed outright would leave its lock and socket files in /tmp.
stop_xvfb() {
    [ -n "$xvfb_pid" ] || return 0
    kill -TERM "$xvfb_pid" 2>/dev/null
    wait "$xvfb_pid" 2>/dev/null
    xvfb_pid=
}

finish() {
    trap - EXIT INT TERM HUP
    stop_program
    stop_xvfb
}
trap finish EXIT
trap 'say "stopping OrvaneSrv and removing the lab"; finish; exit 130' INT
trap 'say "stopping OrvaneSrv and removing the lab"; finish; exit 143' TERM HUP

start_xvfb() {
    if ! command -v Xvfb >/dev/null; then
        say "no display, and Xvfb is not installed (apt-get install xvfb)"
        return 1
    fi
    : >"$LAB_DIR/display"
    # Its own number, its screen kept in $LAB_DIR/Xvfb_screen0 for screenshots, no TCP.
    Xvfb -displayfd 3 -nolisten tcp -screen 0 "$kScreen" -fbdir "$LAB_DIR" \
        3>"$LAB_DIR/display" 2>"$LAB_DIR/xvfb.log" &
    xvfb_pid=$!
    for ((i = 0; i < kStartTries; i++)); do
        if [ -s "$LAB_DIR/display" ]; then
            export DISPLAY=":$(tr -d '\n' <"$LAB_DIR/display")"
            unset WAYLAND_DISPLAY
            virtual=1
            return 0
        fi
        kill -0 "$xvfb_pid" 2>/dev/null || break
        sleep 0.1
    done
    cat "$LAB_DIR/xvfb.log" >&2
    say "the virtual display did not start"
    return 1
}

# Starts the program in the served folder, its store and log in the lab's scratch folder. Its
# standard error (the service's log lines among them) goes to a file, so that the guide stays
# readable; it is shown when the program ends during start-up.
start_program() {
    : >"$program_err"
    (cd "$DEMO_WWW" && exec "$DEMO_BIN/OrvaneSrv") 2>"$program_err" &
    program_pid=$!
}

# Answers 0 once the credential service serves the page, 1 when the program ended first.
wait_for_service() {
    for ((i = 0; i < kStartTries; i++)); do
        kill -0 "$program_pid" 2>/dev/null || return 1
        [ "$(curl -s -o /dev/null -w '%{http_code}' "$service/")" = 200 ] && return 0
        sleep 0.1
    done
    say "the credential service did not answer within $((kStartTries / 10)) seconds"
    return 1
}

start_demo() {
    if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
        say "no display (neither DISPLAY nor WAYLAND_DISPLAY is set): the window goes to a virtual display (Xvfb)"
        start_xvfb || return 1
    fi
    start_program
    wait_for_service && return 0
    kill -0 "$program_pid" 2>/dev/null && return 1
    wait "$program_pid" 2>/dev/null
    program_pid=
    if [ "$virtual" -eq 1 ] || ! grep -qi 'display' "$program_err"; then
        cat "$program_err" >&2
        say "OrvaneSrv ended during start-up"
        return 1
    fi
    # Typically root without the display owner's X authority, or a display reached over TCP,
    # which the lab's network cannot reach.
    say "the display ${DISPLAY:-$WAYLAND_DISPLAY} cannot be opened from the lab" \
        "($(grep -i -m 1 'display' "$program_err")): the window goes to a virtual display (Xvfb) instead"
    start_xvfb || return 1
    start_program
    wait_for_service
}

screenshot() { # file
    if ! python3 "$DEMO_SCRIPTS/xwd-to-png.py" "$LAB_DIR/Xvfb_screen0" "$1"; then
        return 1
    fi
    [ -z "$DEMO_OWNER" ] || chown "$DEMO_OWNER" "$1" 2>/dev/null
    say "screenshot: $1"
}

print_guide() {
    local where
    if [ "$virtual" -eq 1 ]; then
        where="on the virtual display $DISPLAY (Xvfb); press Enter here to save a screenshot to $DEMO_SCREENSHOTS/"
    else
        where="on your display ${DISPLAY:-$WAYLAND_DISPLAY}"
    fi
    cat <<EOF

================ OrvaneSrv demo ================
The program runs in the lab $lab (network namespaces only; nothing reaches your network),
with a throw-away store in $XDG_CONFIG_HOME.
Its window is $where.
Its log: tail -f $program_err

Five simulated arrays (administrator of each: user admin, password $DEMO_PASSWORD):
$(sed 's/^/  /' "$DEMO_CONTROL/arrays")
The directory: user $kDirectoryUser, password $kDirectoryPassword.

Try:
  1. The arrays appear on the System tab within seconds (Refresh searches again). Select
     tarvik-arvo, press Login and enter admin / $DEMO_PASSWORD: its Auth column says Yes.
  2. Ask the credential service from an array's namespace ("/Query" as $kDirectoryUser):
       $query_command
  3. The self-service page is at $service/ inside the lab; sign in there as $kDirectoryUser. From a shell:
       $page_command
  4. An array pushes a new administrator password from its own address:
       ip netns exec $lab-a0 $DEMO_BIN/orvane-array-sim --address 10.77.1.1 --mac 02:4f:52:00:00:00 --push-password n3w --manager $LAB_MGR_ADDR

Close the window, or press Ctrl-C here, to end the demo: the lab and the store are removed.
================================================
EOF
}

# Each check prints one line "CHECK <what>: <seen>", or "CHECK <what>: FAILED: <seen>" and
# counts; the guide's own commands are run as they were printed.
checks_failed=0
check() { # what, seen, then a test that passes
    local what=$1 seen=$2
    shift 2
    if "$@"; then
        echo "CHECK $what: $seen"
    else
        echo "CHECK $what: FAILED: $seen"
        checks_failed=1
    fi
}

run_checks() {
    local answer
    answer=$(bash -c "$page_command")
    check page "$(grep -c . <<<"$answer") lines" grep -q '<html' <<<"$answer"
    answer=$(bash -c "$query_command")
    check query "$answer" [ "${answer#<StorageServers AdminGroup=\"Yes\">}" != "$answer" ]
    answer=$(ip netns exec "$lab-a0" curl -s -o /dev/null -w '%{http_code}' \
        -u "$kDirectoryUser:wrong" --data-binary '' "$service/Query")
    check "wrong password" "$answer" [ "$answer" = 401 ]
    answer=$("$DEMO_BIN/orvane-slpfind" discover service:raid.004417 | sort)
    sed 's/^/CHECK array: /' <<<"$answer"
    check arrays "$(grep -c . <<<"$answer")" [ "$(grep -c . <<<"$answer")" -eq 5 ]
    if [ "$virtual" -eq 1 ]; then
        mkdir -p "$DEMO_SCREENSHOTS"
        check screenshot "$DEMO_SCREENSHOTS/demo.png" screenshot "$DEMO_SCREENSHOTS/demo.png"
    fi
    check program running kill -0 "$program_pid"
    return "$checks_failed"
}

if ! start_demo; then
    exit 1
fi
print_guide
if [ "${DEMO_CHECK:-0}" = 1 ]; then
    run_checks
    status=$?
    stop_program
    echo "CHECK program exit status: $program_status"
    [ "$program_status" -eq 0 ] || status=1
    exit "$status"
fi

# Until the window closes: with a virtual display, Enter saves a screenshot.
while kill -0 "$program_pid" 2>/dev/null; do
    if [ "$virtual" -eq 1 ] && [ -t 0 ]; then
        if read -r -t 1 _; then
            mkdir -p "$DEMO_SCREENSHOTS"
            screenshot "$DEMO_SCREENSHOTS/demo-$(date +%H%M%S).png"
        fi
    else
        wait "$program_pid"
        program_status=$?
        program_pid=
    fi
done
stop_program
say "OrvaneSrv ended (status $program_status); removing the lab"
exit "$program_status"

# What a gated test needs of this machine, tried rather than assumed: sourced by the shell tests
# and run by the C++ tests (TestGate.h), so that both decide alike.
#
#   gate_why NEED...      prints why the first NEED that cannot be had here cannot be had, or
#                         nothing when all can
#   gate_require NEED...  returns when all can be had; otherwise ends the test as skipped (77)
#   gate_skip REASON...   ends the test as skipped (77), or as failed (1) when
#                         ORVANE_FAIL_ON_SKIP=1, as in CI, where nothing may be left unrun
#
# NEEDs: netns (a network namespace of our own), veth (a veth pair made in one), ipnetns (a
# named namespace, as the lab makes them, added and deleted at once), mountns (a
# mount namespace with a memory file system of its own), nobody (switching to the user nobody),
# dpkg (installing packages), python:MODULE (importable by /usr/bin/python3), any other word: a
# program on PATH. Every namespace tried is a scratch one that ends with its process.

GATE_SKIPPED=77

gate_try_netns() {
    unshare -n true 2>&1
}

gate_try_veth() {
    unshare -n sh -c 'ip link add orvgate0 type veth peer name orvgate1' 2>&1
}

gate_try_ipnetns() {
    local name="orvgate-$$-$RANDOM"
    ip netns add "$name" 2>&1 && ip netns del "$name" 2>&1
}

gate_try_mountns() {
    local dir out status
    dir=$(mktemp -d) || return 1
    out=$(unshare -m sh -c "mount --make-rprivate / && mount -t tmpfs -o size=64k tmpfs '$dir'" \
        2>&1)
    status=$?
    rmdir "$dir"
    echo "$out"
    return "$status"
}

gate_try_nobody() {
    setpriv --reuid=nobody --regid="$(id -g nobody 2>/dev/null)" --clear-groups true 2>&1
}

gate_try_dpkg() {
    [ -w /var/lib/dpkg ] || echo "/var/lib/dpkg is not writable"
    [ -w /var/lib/dpkg ]
}

gate_try_python() {
    [ -x /usr/bin/python3 ] && /usr/bin/python3 -c "import $1" 2>/dev/null
}

gate_try_program() {
    command -v "$1" >/dev/null
}

# What a failed try of each need means, before its own words.
gate_meaning() {
    case $1 in
    netns) echo "cannot make a network namespace here" ;;
    veth) echo "cannot make a veth pair in a network namespace here" ;;
    ipnetns) echo "cannot add a named network namespace here" ;;
    mountns) echo "cannot mount a memory file system in a mount namespace here" ;;
    nobody) echo "cannot run as the user nobody here" ;;
    dpkg) echo "cannot install packages here" ;;
    python:*) echo "the python3 module ${1#python:} is missing" ;;
    *) echo "$1 is missing" ;;
    esac
}

gate_why() {
    local need out
    for need in "$@"; do
        case $need in
        netns | veth | ipnetns | mountns | nobody)
            if ! command -v unshare >/dev/null || ! command -v ip >/dev/null ||
                ! command -v setpriv >/dev/null; then
                echo "unshare, ip and setpriv are needed (util-linux, iproute2)"
                return 0
            fi
            out=$("gate_try_$need") ;;
        dpkg) out=$(gate_try_dpkg) ;;
        python:*) out=$(gate_try_python "${need#python:}") ;;
        *) out=$(gate_try_program "$need") ;;
        esac || {
            echo "$(gate_meaning "$need")${out:+: $out}"
            return 0
        }
    done
    return 0
}

gate_skip() {
    if [ "${ORVANE_FAIL_ON_SKIP:-}" = 1 ]; then
        echo "FAILED: cannot run here, and ORVANE_FAIL_ON_SKIP=1 lets nothing skip: $*"
        exit 1
    fi
    echo "SKIPPED: $*"
    exit "$GATE_SKIPPED"
}

gate_require() {
    local why
    why=$(gate_why "$@")
    [ -z "$why" ] || gate_skip "$why"
}

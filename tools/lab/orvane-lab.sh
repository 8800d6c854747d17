#!/usr/bin/env bash
# A private test LAN made of network namespaces: one manager namespace and array namespaces
# joined by a bridge that lives in a hub namespace of its own, so nothing touches the
# machine's real interfaces. It starts the array simulators, runs one command in the manager
# namespace and always tears everything down again, also when the command fails or the
# script is interrupted. Names carry the process id and a random part, so runs never collide.
#
# usage: orvane-lab.sh [--arrays N] [--per-ns K] [--extra FILE] [--bin DIR] -- COMMAND [ARGS...]
#   --arrays N   number of simulated arrays (default 1; 0 makes a silent lab)
#   --per-ns K   arrays per array namespace, served by one simulator (default 1)
#   --extra FILE  line i holds extra simulator options for array i (e.g. --slp-mode garbage,
#                --type ''); options given here replace the generated ones
#   --bin DIR    where orvane-array-sim is (default: build/bin beside this script's repo)
# The command sees LAB_MGR_ADDR (the manager's address), LAB_ARRAYS (a file with one line of
# simulator options per array, addresses included) and LAB_DIR (a scratch folder).
# Needs root. Exit status: the command's, or 3 when the lab could not be built.
set -uo pipefail

arrays=1
per_ns=1
extra_file=
bin_dir="$(cd "$(dirname "$0")/../.." && pwd)/build/bin"
while [ $# -gt 0 ]; do
    case $1 in
        --arrays) arrays=$2; shift 2 ;;
        --per-ns) per_ns=$2; shift 2 ;;
        --extra) extra_file=$2; shift 2 ;;
        --bin) bin_dir=$2; shift 2 ;;
        --) shift; break ;;
        *) echo "orvane-lab: unknown option $1" >&2; exit 3 ;;
    esac
done
if [ $# -eq 0 ]; then
    echo "orvane-lab: no command given" >&2
    exit 3
fi
if [ "$(id -u)" -ne 0 ]; then
    echo "orvane-lab: needs root to create network namespaces" >&2
    exit 3
fi
sim="$bin_dir/orvane-array-sim"
if [ ! -x "$sim" ]; then
    echo "orvane-lab: $sim not found" >&2
    exit 3
fi

prefix="orvlab-$$-$(od -An -N3 -tx1 /dev/urandom | tr -d ' \n')"
hub="$prefix-hub"
mgr="$prefix-mgr"
lab_dir=$(mktemp -d "/tmp/$prefix.XXXX")
namespaces=()
sim_pids=()

cleanup() {
    trap - EXIT INT TERM
    for pid in "${sim_pids[@]}"; do
        kill -TERM "$pid" 2>/dev/null
    done
    for pid in "${sim_pids[@]}"; do
        wait "$pid" 2>/dev/null
    done
    for ns in "${namespaces[@]}" "$hub"; do
        # Whatever still runs in one of our namespaces was started by this run.
        for pid in $(ip netns pids "$ns" 2>/dev/null); do
            kill -KILL "$pid" 2>/dev/null
        done
        ip netns del "$ns" 2>/dev/null
    done
    rm -rf "$lab_dir"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

address_of() { # array index -> address; the manager is 10.77.0.1
    local i=$1
    echo "10.77.$((1 + i / 200)).$((1 + i % 200))"
}

fail() {
    echo "orvane-lab: $*" >&2
    exit 3
}

array_ns_count=$(((arrays + per_ns - 1) / per_ns))
namespaces+=("$mgr")
for ((n = 0; n < array_ns_count; n++)); do
    namespaces+=("$prefix-a$n")
done

{
    echo "netns add $hub"
    for ns in "${namespaces[@]}"; do echo "netns add $ns"; done
} | ip -b - || fail "cannot create namespaces"

{
    echo "link add br0 type bridge mcast_snooping 0"
    echo "link set br0 up"
    echo "link set lo up"
    echo "link add m0 type veth peer name eth0 netns $mgr"
    echo "link set m0 master br0 up"
    for ((n = 0; n < array_ns_count; n++)); do
        echo "link add a$n type veth peer name eth0 netns $prefix-a$n"
        echo "link set a$n master br0 up"
    done
} | ip -n "$hub" -b - || fail "cannot build the bridge"

setup_node() { # namespace, addresses...
    local ns=$1
    shift
    {
        echo "link set lo up"
        echo "link set eth0 up"
        for a in "$@"; do echo "addr add $a/16 dev eth0"; done
        echo "route add 224.0.0.0/4 dev eth0"
    } | ip -n "$ns" -b - || fail "cannot set up $ns"
}

setup_node "$mgr" 10.77.0.1

# One line of simulator options per array: generated identity, then that array's line of the --extra file.
products=("Z210-R2" "Z240-E" "Y220" "YE240-X" "W210")
models=("Arvo" "Belen" "Corra" "Dasso" "Evask")
: >"$lab_dir/arrays"
for ((i = 0; i < arrays; i++)); do
    extra=
    if [ -n "$extra_file" ]; then
        extra=$(sed -n "$((i + 1))p" "$extra_file")
    fi
    printf -- "--address %s --mac 02:4f:52:%02x:%02x:%02x --hostname array-%d --vendor 'Tarvik Networks' --type SAN --model %s --product %s --version 1.%d.%d --admin-user admin --admin-password pass-%d %s\n" \
        "$(address_of "$i")" $((i >> 16 & 255)) $((i >> 8 & 255)) $((i & 255)) "$i" \
        "${models[i % 5]}" "${products[i % 5]}" $((i / 10)) $((i % 10)) "$i" "$extra" \
        >>"$lab_dir/arrays"
done

for ((n = 0; n < array_ns_count; n++)); do
    ns="$prefix-a$n"
    first=$((n * per_ns))
    last=$((first + per_ns < arrays ? first + per_ns : arrays))
    addrs=()
    for ((i = first; i < last; i++)); do addrs+=("$(address_of "$i")"); done
    setup_node "$ns" "${addrs[@]}"
    sed -n "$((first + 1)),${last}p" "$lab_dir/arrays" >"$lab_dir/arrays.$n"
    ip netns exec "$ns" "$sim" --arrays "$lab_dir/arrays.$n" --ready-file "$lab_dir/ready.$n" \
        >"$lab_dir/sim.$n.log" 2>&1 &
    sim_pids+=($!)
done

# Wait until every simulator has bound its sockets.
for ((tries = 0; tries < 200; tries++)); do
    ready=$(find "$lab_dir" -maxdepth 1 -name 'ready.*' | wc -l)
    [ "$ready" -ge "$array_ns_count" ] && break
    for pid in "${sim_pids[@]}"; do
        if ! kill -0 "$pid" 2>/dev/null; then
            cat "$lab_dir"/sim.*.log >&2
            fail "a simulator did not start"
        fi
    done
    sleep 0.05
done
[ "${ready:-0}" -ge "$array_ns_count" ] || fail "simulators not ready in time"

export LAB_MGR_ADDR=10.77.0.1 LAB_ARRAYS="$lab_dir/arrays" LAB_DIR="$lab_dir"
ip netns exec "$mgr" "$@"
status=$?
exit "$status"

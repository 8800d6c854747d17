#!/usr/bin/env bash
# A private test LAN made of network namespaces: one manager namespace and array namespaces
# joined by a bridge that lives in a hub namespace of its own, so nothing touches the
# machine's real interfaces. It starts the array simulators, runs one command in the manager
# namespace and always tears everything down again, also when the command fails or the
# script is interrupted. Names carry the process id and a random part, so runs never collide.
#
# usage: orvane-lab.sh [--arrays N] [--per-ns K] [--da] [--client] [--clients N] [--extra FILE]
#                      [--bin DIR]
#                      [--sim-options OPTS] [--da-options OPTS] -- COMMAND [ARGS...]
#   --arrays N   number of simulated arrays (default 1; 0 makes a silent lab)
#   --per-ns K   arrays per array namespace, served by one simulator (default 1); fleets of
#                thousands use a few namespaces of many addresses each
#   --da         also start a directory agent (the simulator's test double) in a namespace
#                of its own at 10.77.0.2, and have every array register with it
#   --client     also make a client namespace of its own at 10.77.0.3, a computer of the LAN
#                that is neither the manager nor an array (for requests from elsewhere)
#   --clients N  N such client namespaces (at most 8), at 10.77.0.3, 10.77.0.4, ...
#   --sim-options OPTS  extra process options for every array simulator (e.g. --lifetime 5)
#   --da-options OPTS   extra options for the directory agent (e.g. --trace)
#   --extra FILE  line i holds extra simulator options for array i (e.g. --slp-mode garbage,
#                --type ''); options given here replace the generated ones
#   --bin DIR    where orvane-array-sim is (default: build/bin beside this script's repo)
# The command sees LAB_MGR_ADDR (the manager's address), LAB_ARRAYS (a file with one line of
# simulator options per array, addresses included), LAB_DIR (a scratch folder), LAB_SIM (the
# simulator) and, with --da, LAB_DA_ADDR, LAB_DA_NS and LAB_DA_PID (to stop or restart the
# directory agent: ip netns exec "$LAB_DA_NS" "$LAB_SIM" --directory-agent --address ...),
# with --client, LAB_CLIENT_NS and LAB_CLIENT_ADDR (ip netns exec "$LAB_CLIENT_NS" curl ...);
# with --clients N, also LAB_CLIENT2_NS and LAB_CLIENT2_ADDR up to LAB_CLIENTN_NS and ..._ADDR.
# Needs root. Exit status: the command's, or 3 when the lab could not be built.
set -uo pipefail

arrays=1
per_ns=1
with_da=0
clients=0
kMaxClients=8
sim_options=
da_options=
extra_file=
bin_dir="$(cd "$(dirname "$0")/../.." && pwd)/build/bin"
while [ $# -gt 0 ]; do
    case $1 in
        --arrays) arrays=$2; shift 2 ;;
        --per-ns) per_ns=$2; shift 2 ;;
        --da) with_da=1; shift ;;
        --client) [ "$clients" -gt 0 ] || clients=1; shift ;;
        --clients) clients=$2; shift 2 ;;
        --sim-options) sim_options=$2; shift 2 ;;
        --da-options) da_options=$2; shift 2 ;;
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
if ! [[ "$clients" =~ ^[0-9]+$ ]] || [ "$clients" -gt "$kMaxClients" ]; then
    echo "orvane-lab: --clients takes 0 to $kMaxClients" >&2
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
da_pid=

cleanup() {
    trap - EXIT INT TERM
    # The arrays go first, so that they can deregister with a directory agent still there.
    for pid in "${sim_pids[@]}"; do
        kill -TERM "$pid" 2>/dev/null
    done
    for pid in "${sim_pids[@]}"; do
        wait "$pid" 2>/dev/null
    done
    if [ -n "$da_pid" ]; then
        kill -TERM "$da_pid" 2>/dev/null
        wait "$da_pid" 2>/dev/null
    fi
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

# Array i is at 10.77.(1 + i / 200).(1 + i % 200); the manager is 10.77.0.1, the directory
# agent 10.77.0.2, client c (from 0) 10.77.0.(3 + c).
da_addr=10.77.0.2
client_addr() { echo "10.77.0.$((3 + $1))"; }

fail() {
    echo "orvane-lab: $*" >&2
    exit 3
}

array_ns_count=$(((arrays + per_ns - 1) / per_ns))
namespaces+=("$mgr")
da_ns=
if [ "$with_da" -eq 1 ]; then
    da_ns="$prefix-da"
    namespaces+=("$da_ns")
fi
client_nss=()
for ((c = 0; c < clients; c++)); do
    # The first keeps the name it always had.
    client_nss+=("$prefix-client$([ "$c" -gt 0 ] && echo $((c + 1)))")
    namespaces+=("${client_nss[c]}")
done
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
    if [ -n "$da_ns" ]; then
        echo "link add d0 type veth peer name eth0 netns $da_ns"
        echo "link set d0 master br0 up"
    fi
    for ((c = 0; c < clients; c++)); do
        echo "link add c$c type veth peer name eth0 netns ${client_nss[c]}"
        echo "link set c$c master br0 up"
    done
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
for ((c = 0; c < clients; c++)); do
    setup_node "${client_nss[c]}" "$(client_addr "$c")"
done

# A simulator of a thousand arrays holds three sockets for each.
wanted_files=$((per_ns * 4 + 1024))
if [ "$(ulimit -n)" != unlimited ] && [ "$(ulimit -n)" -lt "$wanted_files" ]; then
    ulimit -Hn "$wanted_files" 2>/dev/null
    ulimit -n "$wanted_files" || fail "cannot raise the open-file limit to $wanted_files"
fi

if [ -n "$da_ns" ]; then
    setup_node "$da_ns" "$da_addr"
    # shellcheck disable=SC2086 # the options are words
    ip netns exec "$da_ns" "$sim" --directory-agent --address "$da_addr" \
        --ready-file "$lab_dir/da.ready" $da_options >"$lab_dir/da.log" 2>&1 &
    da_pid=$!
    for ((tries = 0; tries < 200; tries++)); do
        [ -e "$lab_dir/da.ready" ] && break
        if ! kill -0 "$da_pid" 2>/dev/null; then
            cat "$lab_dir/da.log" >&2
            fail "the directory agent did not start"
        fi
        sleep 0.05
    done
    [ -e "$lab_dir/da.ready" ] || fail "directory agent not ready in time"
    sim_options="$sim_options --da $da_addr"
fi

# One line of simulator options per array: generated identity, then that array's line of the --extra file.
products=("Z210-R2" "Z240-E" "Y220" "YE240-X" "W210")
models=("Arvo" "Belen" "Corra" "Dasso" "Evask")
extras=()
if [ -n "$extra_file" ]; then
    mapfile -t extras <"$extra_file"
fi
addresses=()
for ((i = 0; i < arrays; i++)); do
    addresses+=("10.77.$((1 + i / 200)).$((1 + i % 200))")
    printf -- "--address %s --mac 02:4f:52:%02x:%02x:%02x --hostname array-%d --vendor 'Tarvik Networks' --type SAN --model %s --product %s --version 1.%d.%d --admin-user admin --admin-password pass-%d %s\n" \
        "${addresses[i]}" $((i >> 16 & 255)) $((i >> 8 & 255)) $((i & 255)) "$i" \
        "${models[i % 5]}" "${products[i % 5]}" $((i / 10)) $((i % 10)) "$i" "${extras[i]:-}"
done >"$lab_dir/arrays"

for ((n = 0; n < array_ns_count; n++)); do
    ns="$prefix-a$n"
    first=$((n * per_ns))
    last=$((first + per_ns < arrays ? first + per_ns : arrays))
    setup_node "$ns" "${addresses[@]:first:last-first}"
    sed -n "$((first + 1)),${last}p" "$lab_dir/arrays" >"$lab_dir/arrays.$n"
    # shellcheck disable=SC2086 # the options are words
    ip netns exec "$ns" "$sim" --arrays "$lab_dir/arrays.$n" --ready-file "$lab_dir/ready.$n" \
        $sim_options >"$lab_dir/sim.$n.log" 2>&1 &
    sim_pids+=($!)
done

# Wait until every simulator has bound its sockets.
for ((tries = 0; tries < 600; tries++)); do
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

export LAB_MGR_ADDR=10.77.0.1 LAB_ARRAYS="$lab_dir/arrays" LAB_DIR="$lab_dir" LAB_SIM="$sim"
if [ -n "$da_ns" ]; then
    export LAB_DA_ADDR="$da_addr" LAB_DA_NS="$da_ns" LAB_DA_PID="$da_pid"
fi
for ((c = 0; c < clients; c++)); do
    suffix=$([ "$c" -gt 0 ] && echo $((c + 1)))
    export "LAB_CLIENT${suffix}_NS=${client_nss[c]}" "LAB_CLIENT${suffix}_ADDR=$(client_addr "$c")"
done
ip netns exec "$mgr" "$@"
status=$?
exit "$status"

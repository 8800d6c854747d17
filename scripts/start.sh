#!/usr/bin/env bash
# Installs what is needed, builds OrvaneSrv and starts it in www/, the folder it serves.
#
# scripts/start.sh --demo [--check] [--bin DIR] [--screenshots DIR]   (as root)
# tries the whole system without an array: a private lab of network namespaces with five
# simulated arrays of different kinds, OrvaneSrv in the lab's manager namespace on the current
# display (on a virtual one, Xvfb, when there is none) with a throw-away store, and a guide to
# what to try. Everything is removed when the program ends or the script is interrupted.
#   --check            check the running demo from the lab (page, "/Query", the arrays, a
#                      screenshot), then stop; the exit status says whether all passed
#   --bin DIR          use the programs in DIR; nothing is installed or built
#   --screenshots DIR  where screenshots go (default build/screenshots)
set -euo pipefail
invoked_in=$PWD
cd "$(dirname "$0")/.."

if [ "${1:-}" != --demo ]; then
    scripts/install-deps.sh
    cmake --preset default >/dev/null
    cmake --build build --target OrvaneSrv
    # GET serves the program's working directory: only www/, never the source tree or build/.
    cd www
    exec ../build/bin/OrvaneSrv "$@"
fi
shift
if [ "$(id -u)" -ne 0 ]; then
    echo "start.sh: the demo needs root: it builds a private network of Linux network" \
         "namespaces. Run: sudo scripts/start.sh --demo" >&2
    exit 1
fi

readonly kArrayPassword=orvane-demo
check=0
bin_dir=
screenshots=$PWD/build/screenshots
while [ $# -gt 0 ]; do
    case $1 in
        --check) check=1; shift ;;
        --bin | --screenshots)
            if [ $# -lt 2 ]; then
                echo "start.sh: $1 needs a folder" >&2
                exit 2
            fi
            if [ "$1" = --bin ]; then
                bin_dir=$(cd "$invoked_in" && realpath -e -- "$2")
            else
                screenshots=$(cd "$invoked_in" && realpath -m -- "$2")
            fi
            shift 2
            ;;
        *) echo "start.sh: unknown demo option $1" >&2; exit 2 ;;
    esac
done

# Whoever owns the source tree builds it and gets the screenshots, so that sudo leaves
# nothing behind that its owner cannot change.
owner=$(stat -c %U .)
as_owner=()
if [ "$owner" != root ]; then
    as_owner=(runuser -u "$owner" --)
fi
if [ -z "$bin_dir" ]; then
    scripts/install-deps.sh
    "${as_owner[@]}" cmake --preset default >/dev/null
    "${as_owner[@]}" cmake --build build --target OrvaneSrv orvane-array-sim orvane-slpfind
    bin_dir=$PWD/build/bin
fi
[ -d "$screenshots" ] || "${as_owner[@]}" mkdir -p "$screenshots" 2>/dev/null || mkdir -p "$screenshots"

# The five arrays: what the lab's simulator announces for each (replacing the lab's generated
# identity), and how the guide describes it.
arrays=(
    "--hostname tarvik-arvo --type SAN --vendor 'Tarvik Networks' --model Arvo --product Z210-R2"
    "SAN, Tarvik Networks Arvo Z210-R2: a supported product"
    "--hostname quillmoor-san --type SAN --vendor 'Quillmoor Storage' --model Tolva --product QS-4400"
    "SAN, Quillmoor Storage Tolva QS-4400: not supported, so Login stays off"
    "--hostname quillmoor-nas --type NAS --vendor 'Quillmoor Storage' --model Hollis --product QS-N12"
    "NAS, Quillmoor Storage Hollis QS-N12"
    "--hostname tarvik-nomodel --type SAN --vendor 'Tarvik Networks' --omit model --product YE240-X"
    "SAN, Tarvik Networks YE240-X without \"model\": supported by its product"
    "--hostname tarvik-nomac --type SAN --vendor 'Tarvik Networks' --model Evask --product W210 --omit mac"
    "SAN, Tarvik Networks Evask W210 without \"mac\""
)
control=$(mktemp -d /tmp/orvane-demo.XXXXXX)
trap 'rm -rf "$control"' EXIT
lab_pid=
for ((i = 0; i < ${#arrays[@]}; i += 2)); do
    echo "${arrays[i]} --admin-user admin --admin-password $kArrayPassword" >>"$control/extra"
    hostname=$(sed -E 's/^--hostname ([^ ]+).*/\1/' <<<"${arrays[i]}")
    printf '10.77.1.%-3d %-15s %s\n' $((i / 2 + 1)) "$hostname" "${arrays[i + 1]}" >>"$control/arrays"
done

# A stop signal asks the inside to stop the program; the lab then ends normally and removes
# itself. Before the inside runs, the lab itself is stopped.
stop_demo() { # the exit status for the signal
    signal_status=$1
    if [ -s "$control/inner.pid" ]; then
        kill -TERM "$(cat "$control/inner.pid")" 2>/dev/null
    elif [ -n "$lab_pid" ]; then
        kill -TERM "$lab_pid" 2>/dev/null
    fi
}
signal_status=
trap 'stop_demo 130' INT
trap 'stop_demo 143' TERM
trap 'stop_demo 129' HUP

# In a session of its own, so that the terminal's signals reach only this script, which
# passes them on in order; the terminal stays its standard input for the screenshot key.
exec 3<&0
# The host's SLP settings (directory agents, interfaces) have no meaning inside the lab.
: >"$control/slp.conf"
OpenSLPConfig="$control/slp.conf" DEMO_BIN="$bin_dir" DEMO_WWW="$PWD/www" \
    DEMO_SCRIPTS="$PWD/scripts" DEMO_CONTROL="$control" DEMO_PASSWORD="$kArrayPassword" \
    DEMO_SCREENSHOTS="$screenshots" DEMO_OWNER="$owner" DEMO_CHECK="$check" \
    setsid -w tools/lab/orvane-lab.sh --bin "$bin_dir" --arrays 5 --extra "$control/extra" \
    -- bash scripts/demo-lab.sh <&3 &
lab_pid=$!
status=0
while :; do
    wait "$lab_pid" && status=0 || status=$?
    # A status above 128 with the lab still there is a signal that interrupted the wait.
    kill -0 "$lab_pid" 2>/dev/null || break
done
exit "${signal_status:-$status}"

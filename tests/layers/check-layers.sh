#!/usr/bin/env bash
# Checks the direction of dependencies between the source folders, lowest layer first:
#   platform <- storage <- core <- service <- control <- console <- app
# A folder may include and link only its own layer and the layers to its left, and only
# console/ and platform/ui/ may include Qt; and only core/ and storage/ touch the tables and their
# guard by hand. Prints every offending line; fails if there is one.
set -uo pipefail
root=${1:-$(cd "$(dirname "$0")/../.." && pwd)}
cd "$root" || exit 2

layers=(platform storage core service control console app)
rank_of() {
    local i
    for i in "${!layers[@]}"; do
        [ "${layers[$i]}" = "$1" ] && { echo "$i"; return; }
    done
    echo -1
}

# Which layer a library target belongs to (orvane_<name>), -1 for anything else.
lib_rank() {
    case $1 in
        orvane_text | orvane_io | orvane_sync | orvane_registry | orvane_slp | orvane_http | orvane_ui | orvane_uicore | orvane_tls | orvane_crypto | orvane_ldap)
            rank_of platform ;;
        orvane_storage) rank_of storage ;;
        orvane_core) rank_of core ;;
        orvane_service) rank_of service ;;
        orvane_control | orvane_control_protocol) rank_of control ;;
        orvane_console) rank_of console ;;
        *) echo -1 ;;
    esac
}

bad=0
complain() {
    echo "$1"
    bad=1
}

for layer in "${layers[@]}"; do
    [ -d "$layer" ] || continue
    own=$(rank_of "$layer")
    while IFS= read -r hit; do
        file=${hit%%:*}
        target=$(sed -E 's/.*#\s*include\s*"([^/"]+)\/.*/\1/' <<<"${hit#*:*:}")
        r=$(rank_of "$target")
        if [ "$r" -gt "$own" ] || [[ "$target" =~ ^(tools|tests|bench)$ ]]; then
            complain "$hit: $layer/ may not include $target/"
        fi
    done < <(grep -rnE '#\s*include\s*"[a-z]+/' --include='*.h' --include='*.cpp' --include='*.c' "$layer")

    if [ "$layer" != console ]; then
        while IFS= read -r hit; do
            case $hit in platform/ui/*) continue ;; esac
            complain "$hit: Qt is used only in console/ and platform/ui/"
        done < <(grep -rnE '#\s*include\s*[<"](Qt[A-Za-z]*/|Q[A-Z][A-Za-z]*>)' \
                     --include='*.h' --include='*.cpp' "$layer")
    fi

    while IFS= read -r cmake; do
        for lib in $(grep -oE 'orvane_[a-z_]+' "$cmake" | sort -u); do
            r=$(lib_rank "$lib")
            if [ "$r" -gt "$own" ]; then
                complain "$cmake: $layer/ may not link $lib"
            fi
        done
    done < <(find "$layer" -name CMakeLists.txt)
done

# The tools sit beside the program: they may use the platform layer only, and no Qt; orvanectl
# also speaks the control protocol (with the login file it hands over and the command line's
# checks), reads the audit trail, makes seal key files and names export files as the program
# does, and the picture generator, a front end of its own, runs the console
# in the tests' lab.
if [ -d tools ]; then
    while IFS= read -r hit; do
        case $hit in
            tools/orvanectl/*'"control/ControlProtocol.h"'* | tools/orvanectl/*'"core/audit/'*) continue ;;
            tools/orvanectl/*'"core/seal/SealKeyFile.h"'*) continue ;;
            tools/orvanectl/*'"control/LoginFile.h"'* | tools/orvanectl/*'"control/CCtlArguments.h"'*) continue ;;
            tools/orvanectl/*'"core/CConfigFile.h"'*) continue ;;
            tools/screenshots/*) continue ;;
        esac
        complain "$hit: tools/ may include only platform/ and tools/"
    done < <(grep -rnE '#\s*include\s*"(storage|core|service|control|console|app)/' \
                 --include='*.h' --include='*.cpp' tools)
fi

# The tables and their guard belong to core/ and storage/: every other folder reads through the
# core's functions (Read, the snapshots) and changes through it, so that every change moves the
# generation the service's answers are cached under, and no reader holds the guard by hand.
# Tests of core/ and storage/ (and of the guard itself) may reach inside.
guard_outside=(service console app tools bench tests)
guard_allowed='^(tests/(core|storage|platform)/|tests/support/CCoreTestAccess\.h:)'
while IFS= read -r hit; do
    [[ "$hit" =~ $guard_allowed ]] && continue
    complain "$hit: only core/ and storage/ take the tables' guard"
done < <(grep -rnE '\b(LockShared|LockExclusive|CTableGuard|m_bTablesAlive)\b' \
             --include='*.h' --include='*.cpp' "${guard_outside[@]}" 2>/dev/null)
while IFS= read -r hit; do
    [[ "$hit" =~ $guard_allowed ]] && continue
    complain "$hit: only core/ and storage/ name the tables; read them through the core"
done < <(grep -rnE '\bm_(mapServers|mapUsers|mapGroups|registry)\b' \
             --include='*.h' --include='*.cpp' "${guard_outside[@]}" 2>/dev/null)

[ "$bad" -eq 0 ] && echo "layers: every include and link points left"
exit "$bad"

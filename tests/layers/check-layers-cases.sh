#!/usr/bin/env bash
# Runs check-layers.sh over small made-up trees, one file each, and checks that it refuses the
# tables and their guard outside core/ and storage/ and lets them be inside. Each case: the file,
# its one line, and whether the check must pass (0) or fail (1).
set -uo pipefail
check="$(cd "$(dirname "$0")" && pwd)/check-layers.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cases=(
    "service/A.cpp|auto lock = guard.LockShared();|1"
    "console/A.cpp|auto lock = core.Guard()->LockExclusive();|1"
    "bench/A.cpp|core.m_mapServers.Add(mac, std::move(record));|1"
    "tests/service/A.cpp|EXPECT_TRUE(core.m_mapUsers.empty());|1"
    "tools/A.cpp|if (guard.m_bTablesAlive) {}|1"
    "service/A.cpp|core.Read([](const CTablesView& tables) { return tables.users.size(); });|0"
    "service/A.cpp|auto lock = m_mapServersLock.LockSharedish();|0"
    "core/A.cpp|auto lock = m_pGuard->LockShared();|0"
    "tests/storage/A.cpp|CTableGuard guard;|0"
)
failed=0
for c in "${cases[@]}"; do
    IFS='|' read -r file line want <<<"$c"
    tree="$work/tree"
    rm -rf "$tree" && mkdir -p "$tree/$(dirname "$file")"
    printf '%s\n' "$line" >"$tree/$file"
    bash "$check" "$tree" >/dev/null
    got=$?
    if [ "$got" -ne "$want" ]; then
        echo "check-layers answered $got, not $want, for $file: $line"
        failed=1
    fi
done
[ "$failed" -eq 0 ] && echo "check-layers: every case answered as it should"
exit "$failed"

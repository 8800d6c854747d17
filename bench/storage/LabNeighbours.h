// A shell snippet for the benchmarks that run in the namespace lab: run in the manager namespace,
// it gives the manager every array's link address as a permanent neighbour entry. The kernel's
// neighbour table is shared by all namespaces and holds 1,024 entries by default, so with a
// thousand arrays learned by ARP entries are evicted and packets dropped, and the figures would
// be the lab's, not the program's.
#pragma once

inline constexpr const char* kPermanentNeighboursScript =
    "LAB=$(basename \"$LAB_DIR\" | sed 's/\\.[^.]*$//')\n"
    "for ns in $(ip netns list | awk '{print $1}' | grep \"^$LAB-a\"); do\n"
    "    mac=$(ip -n \"$ns\" -br link show eth0 | awk '{print $3}')\n"
    "    for a in $(ip -n \"$ns\" -4 -br addr show eth0 | "
    "awk '{for (i = 3; i <= NF; i++) print $i}'); do\n"
    "        echo \"neigh replace ${a%/*} lladdr $mac dev eth0 nud permanent\"\n"
    "    done\n"
    "done | ip -b - || exit 1\n";

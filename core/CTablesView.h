// What a reader of the tables sees while it holds the shared guard: the storage server, user and
// group tables, the generation they are at, and whether they are still alive. Once shutdown has
// freed them the view shows empty tables, so a reader that looks no further finds nothing.
//
// The references are good only inside the function the view was handed to: neither the view
// nor any record reached through it may be kept once that function returns.
#pragma once

#include "core/CDirectoryUndo.h"
#include "storage/CServerTable.h"

#include <cstdint>

struct CTablesView {
    const CServerTable& servers;
    const CUserTable& users;
    const CGroupTable& groups;
    // Moves with every exclusive hold: the same number under the shared guard means the same
    // tables, so what a reader derived from them at that generation may be reused.
    uint64_t generation;
    bool bAlive;
};

// What discovery sees that the audit trail keeps: an array announced from another address than
// the one it is bound to, an array leaving the System list and one coming back. Both front ends
// hand their discovery the same hooks.
#pragma once

#include "storage/CServerDiscovery.h"

class COrvaneSrvCore;

// Sets hooks' audit callbacks to write through core's trail (whichever is set at the time).
void AddDiscoveryAudit(CServerDiscovery::CHooks& hooks, const COrvaneSrvCore& core);

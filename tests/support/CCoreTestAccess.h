// What tests must arrange inside a core that its public functions do not reach: the registry
// store (to provoke its failures and read its last error). Everything else goes through the
// core's own functions.
#pragma once

#include "core/COrvaneSrvCore.h"

class CCoreTestAccess {
public:
    static CRegistryStore& Registry(COrvaneSrvCore& core) { return core.m_registry; }
};

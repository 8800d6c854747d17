// What start-up answers its front end: the running core, or, when the directory store cannot be
// used, no core and the text that tells the operator why (shown on standard error by the
// headless runner, in a message box by the console).
#pragma once

#include "core/COrvaneSrvCore.h"

#include <memory>
#include <string>

struct CStartUpResult {
    std::unique_ptr<COrvaneSrvCore> pCore; // null when start-up was refused
    std::u16string strError;               // why, naming the store's path; empty on success

    explicit operator bool() const { return pCore != nullptr; }
};

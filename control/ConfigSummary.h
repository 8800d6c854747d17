// The sentence that tells the operator what a finished export or import did, for the window's
// box and the control channel's reply alike.
#pragma once

#include "core/CConfigResult.h"

#include <filesystem>
#include <string>

std::u16string ConfigSummary(bool bExport, const std::filesystem::path& file,
                             const CConfigCounts& counts);

// The sentence after an export or import; see ConfigSummary.h.
#include "control/ConfigSummary.h"

#include "platform/text/FormatText.h"
#include "platform/text/TextConv.h"
#include "resources/ResourceIds.h"
#include "resources/StringTable.h"

namespace {

std::u16string Count(std::size_t n, int one, int many) {
    return FormatText(LoadString(n == 1 ? one : many), {Utf8ToUtf16(std::to_string(n))});
}

} // namespace

std::u16string ConfigSummary(bool bExport, const std::filesystem::path& file,
                             const CConfigCounts& counts) {
    const std::u16string name = Utf8ToUtf16(file.string());
    const auto users = [](std::size_t n) { return Count(n, IDS_COUNT_USER, IDS_COUNT_USERS); };
    const auto groups = [](std::size_t n) { return Count(n, IDS_COUNT_GROUP, IDS_COUNT_GROUPS); };
    if (bExport) {
        return FormatText(LoadString(IDS_EXPORTED),
                          {users(counts.nUsers), groups(counts.nGroups), name});
    }
    return FormatText(LoadString(IDS_IMPORTED),
                      {name, users(counts.nUsers), groups(counts.nGroups),
                       users(counts.nUsersReplaced), groups(counts.nGroupsReplaced)});
}

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

std::u16string Users(std::size_t n) {
    return Count(n, IDS_COUNT_USER, IDS_COUNT_USERS);
}

std::u16string Groups(std::size_t n) {
    return Count(n, IDS_COUNT_GROUP, IDS_COUNT_GROUPS);
}

} // namespace

std::u16string ConfigSummary(bool bExport, const std::filesystem::path& file,
                             const CConfigCounts& counts) {
    const std::u16string name = Utf8ToUtf16(file.string());
    if (bExport) {
        return FormatText(LoadString(IDS_EXPORTED),
                          {Users(counts.nUsers), Groups(counts.nGroups), name});
    }
    return FormatText(LoadString(IDS_IMPORTED),
                      {name, Users(counts.nUsers), Groups(counts.nGroups),
                       Users(counts.nUsersReplaced), Groups(counts.nGroupsReplaced)});
}

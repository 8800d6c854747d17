#include "console/ConfigSummary.h"

#include "resources/ResourceIds.h"
#include "resources/StringTable.h"

#include <QString>

namespace {

QString Text(int id) {
    return QString::fromStdU16String(std::u16string(LoadString(id)));
}

QString Count(std::size_t n, int one, int many) {
    return Text(n == 1 ? one : many).arg(n);
}

QString Users(std::size_t n) {
    return Count(n, IDS_COUNT_USER, IDS_COUNT_USERS);
}

QString Groups(std::size_t n) {
    return Count(n, IDS_COUNT_GROUP, IDS_COUNT_GROUPS);
}

} // namespace

std::u16string ConfigSummary(bool bExport, const std::filesystem::path& file,
                             const CConfigCounts& counts) {
    const QString name = QString::fromStdString(file.string());
    const QString text =
        bExport ? Text(IDS_EXPORTED).arg(Users(counts.nUsers), Groups(counts.nGroups), name)
                : Text(IDS_IMPORTED)
                      .arg(name, Users(counts.nUsers), Groups(counts.nGroups),
                           Users(counts.nUsersReplaced), Groups(counts.nGroupsReplaced));
    return text.toStdU16String();
}

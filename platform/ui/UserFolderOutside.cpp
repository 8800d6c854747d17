// The start folder of the operator's file dialogs.
#include "platform/ui/UserFolderOutside.h"

#include <QDir>
#include <QStandardPaths>
#include <array>
#include <system_error>

namespace {

std::filesystem::path RealPath(const std::filesystem::path& path) {
    std::error_code ec;
    std::filesystem::path real = std::filesystem::canonical(path, ec);
    return ec ? std::filesystem::path() : real;
}

// Whether folder is root itself or lies below it (both real paths).
bool IsWithin(const std::filesystem::path& folder, const std::filesystem::path& root) {
    auto f = folder.begin();
    for (auto r = root.begin(); r != root.end(); ++r, ++f) {
        if (r->empty()) {
            continue; // a trailing separator
        }
        if (f == folder.end() || *f != *r) {
            return false;
        }
    }
    return true;
}

} // namespace

std::filesystem::path UserFolderOutside(const std::filesystem::path& published) {
    const std::filesystem::path served = published.empty() ? published : RealPath(published);
    const std::array candidates = {
        RealPath(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation).toStdString()),
        RealPath(QDir::homePath().toStdString()),
    };
    for (const std::filesystem::path& folder : candidates) {
        if (!folder.empty() && std::filesystem::is_directory(folder) &&
            (served.empty() || !IsWithin(folder, served))) {
            return folder;
        }
    }
    // Everything lies inside what is published (it is the root, or home holds it all): at
    // least not the published folder itself, whose files anyone may fetch.
    for (const std::filesystem::path& folder : candidates) {
        if (!folder.empty() && std::filesystem::is_directory(folder) && folder != served) {
            return folder;
        }
    }
    return std::filesystem::path("/");
}

// The sealed file on disk: read whole, replaced whole. A write goes to a private temporary file
// beside it that is synced and renamed over it, so that a crash or a full disk leaves the
// previous file or the new one, never a torn one.
#pragma once

#include "core/seal/CSealedFile.h"
#include "core/seal/IFileOps.h"

#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

class CSealedFileStore {
public:
    // A sealed file is a few kilobytes; anything this large is not one.
    static constexpr std::size_t kMaxFileBytes = std::size_t{64} << 20;

    explicit CSealedFileStore(std::filesystem::path path,
                              std::shared_ptr<IFileOps> ops = RealFileOps());

    struct CLoadResult {
        ESealError eError = ESealError::None;
        std::string bytes;
        std::string strReason; // errno text, or why the file is not taken
    };
    // NotFound when absent; Unreadable with the reason; NotSealedFile for a file over the cap.
    CLoadResult Load() const;
    // Empty on success, else the reason (errno text); on failure the previous file is as it was,
    // unless only the folder's sync after the rename failed (the new file is then in place).
    std::string Write(std::string_view bytes);
    // Removes the file (an absent one is fine) and syncs the folder; empty or the reason.
    std::string Remove();
    const std::filesystem::path& Path() const { return m_path; }

private:
    std::string SyncFolder() const;
    std::string WriteTemporary(const std::filesystem::path& temporary, std::string_view bytes);

    std::filesystem::path m_path;
    std::shared_ptr<IFileOps> m_ops;
};

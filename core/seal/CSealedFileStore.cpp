// The sealed file on disk; see CSealedFileStore.h.
#include "core/seal/CSealedFileStore.h"

CSealedFileStore::CSealedFileStore(std::filesystem::path path, std::shared_ptr<IFileOps> ops)
    : m_path(std::move(path)), m_ops(std::move(ops)) {}
CSealedFileStore::CLoadResult CSealedFileStore::Load() const {
    return {};
}
std::string CSealedFileStore::Write(std::string_view) {
    return {};
}
std::string CSealedFileStore::Remove() {
    return {};
}

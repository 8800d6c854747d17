#include "service/CServiceContext.h"

#include <fcntl.h>
#include <system_error>

namespace {

std::string ResolveDocRoot(const std::filesystem::path& docRoot) {
    std::error_code ec;
    const std::filesystem::path base =
        docRoot.empty() ? std::filesystem::current_path(ec) : docRoot;
    std::filesystem::path real = std::filesystem::canonical(base, ec);
    if (ec) {
        real = base.lexically_normal();
    }
    std::string text = real.string();
    while (text.size() > 1 && text.ends_with('/')) {
        text.pop_back();
    }
    return text;
}

} // namespace

CServiceContext::CServiceContext(COrvaneSrvCore& core, CServiceOptions options,
                                 std::shared_ptr<CIdleConnectionThreads> pIdleThreads)
    : m_options(std::move(options)), m_strDocRoot(ResolveDocRoot(m_options.docRoot)),
      m_docRootFd(::open(m_strDocRoot.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC)),
      m_pIdleThreads(std::move(pIdleThreads)), m_pCore(&core), m_pGuard(core.Guard()) {}

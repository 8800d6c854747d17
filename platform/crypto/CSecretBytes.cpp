// The locked, wiped buffer for secrets; see CSecretBytes.h.
#include "platform/crypto/CSecretBytes.h"

#include <algorithm>
#include <climits>
#include <new>
#include <openssl/crypto.h>
#include <openssl/rand.h>
#include <stdexcept>
#include <sys/mman.h>
#include <unistd.h>
#include <utility>

namespace {

std::size_t PageRounded(std::size_t n) {
    const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    return (n + page - 1) / page * page;
}

} // namespace

CSecretBytes::CSecretBytes(std::size_t n) {
    if (n == 0) {
        return;
    }
    // Whole pages of their own, so that locking them and keeping them out of core files touches
    // nothing else; an anonymous mapping starts zeroed.
    const std::size_t mapped = PageRounded(n);
    void* p = ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) {
        throw std::bad_alloc();
    }
    m_pData = static_cast<std::uint8_t*>(p);
    m_nSize = n;
    m_nMapped = mapped;
    m_bLocked = ::mlock(p, mapped) == 0;
    ::madvise(p, mapped, MADV_DONTDUMP);
}

CSecretBytes::~CSecretBytes() {
    Release();
}

CSecretBytes::CSecretBytes(CSecretBytes&& other) noexcept
    : m_pData(std::exchange(other.m_pData, nullptr)), m_nSize(std::exchange(other.m_nSize, 0)),
      m_nMapped(std::exchange(other.m_nMapped, 0)),
      m_bLocked(std::exchange(other.m_bLocked, false)) {}

CSecretBytes& CSecretBytes::operator=(CSecretBytes&& other) noexcept {
    if (this != &other) {
        Release();
        m_pData = std::exchange(other.m_pData, nullptr);
        m_nSize = std::exchange(other.m_nSize, 0);
        m_nMapped = std::exchange(other.m_nMapped, 0);
        m_bLocked = std::exchange(other.m_bLocked, false);
    }
    return *this;
}

void CSecretBytes::Release() noexcept {
    if (m_pData == nullptr) {
        return;
    }
    OPENSSL_cleanse(m_pData, m_nMapped);
    if (m_bLocked) {
        ::munlock(m_pData, m_nMapped);
    }
    ::munmap(m_pData, m_nMapped);
    m_pData = nullptr;
    m_nSize = m_nMapped = 0;
    m_bLocked = false;
}

CSecretBytes CSecretBytes::Random(std::size_t n) {
    CSecretBytes bytes(n);
    for (std::size_t done = 0; done < n;) {
        const std::size_t chunk = std::min<std::size_t>(n - done, INT_MAX);
        if (RAND_bytes(bytes.m_pData + done, static_cast<int>(chunk)) != 1) {
            throw std::runtime_error("the random generator failed");
        }
        done += chunk;
    }
    return bytes;
}

CSecretBytes CSecretBytes::CopyOf(std::span<const std::uint8_t> bytes) {
    CSecretBytes copy(bytes.size());
    std::copy(bytes.begin(), bytes.end(), copy.m_pData);
    return copy;
}

void CSecretBytes::Resize(std::size_t n) {
    if (n == m_nSize) {
        return;
    }
    CSecretBytes resized(n);
    std::copy_n(m_pData, std::min(n, m_nSize), resized.m_pData);
    *this = std::move(resized);
}

bool CSecretBytes::operator==(const CSecretBytes& other) const {
    return m_nSize == other.m_nSize &&
           (m_nSize == 0 || CRYPTO_memcmp(m_pData, other.m_pData, m_nSize) == 0);
}

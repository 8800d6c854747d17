// The allocation watch and the replaced global allocation functions it hears from. Every form
// that a sanitizer would otherwise pair with its own allocator is replaced, so that memory taken
// here is always given back here.
#include "tests/support/CAllocationWatch.h"

#include <cstdlib>
#include <new>

namespace {

thread_local CAllocationWatch* t_pWatch = nullptr;

void* Allocate(std::size_t nBytes) {
    CAllocationWatch::Note(nBytes);
    // malloc(0) may answer null; operator new must not.
    void* p = std::malloc(nBytes == 0 ? 1 : nBytes);
    if (p == nullptr) {
        throw std::bad_alloc();
    }
    return p;
}

void* AllocateNoThrow(std::size_t nBytes) noexcept {
    try {
        return Allocate(nBytes);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

} // namespace

CAllocationWatch::CAllocationWatch() : m_pOuter(t_pWatch) {
    t_pWatch = this;
}

CAllocationWatch::~CAllocationWatch() {
    t_pWatch = m_pOuter;
}

void CAllocationWatch::Note(std::size_t nBytes) {
    if (CAllocationWatch* watch = t_pWatch) {
        ++watch->m_nCount;
        if (nBytes > watch->m_nLargest) {
            watch->m_nLargest = nBytes;
        }
    }
}

void* operator new(std::size_t nBytes) {
    return Allocate(nBytes);
}
void* operator new[](std::size_t nBytes) {
    return Allocate(nBytes);
}
void* operator new(std::size_t nBytes, const std::nothrow_t&) noexcept {
    return AllocateNoThrow(nBytes);
}
void* operator new[](std::size_t nBytes, const std::nothrow_t&) noexcept {
    return AllocateNoThrow(nBytes);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}

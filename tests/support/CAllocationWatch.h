// Watches the allocations of the calling thread while it lives: how many operator new made and
// the largest one, so that a test can show that hostile input is refused before memory is taken
// for it. The binary that uses it links CAllocationWatch.cpp, which replaces the global
// operator new and delete (plain malloc and free beneath) for the whole program.
#pragma once

#include <cstddef>

class CAllocationWatch {
public:
    CAllocationWatch();
    ~CAllocationWatch();
    CAllocationWatch(const CAllocationWatch&) = delete;
    CAllocationWatch& operator=(const CAllocationWatch&) = delete;

    std::size_t Count() const { return m_nCount; }
    std::size_t Largest() const { return m_nLargest; }

    // Called by the replaced operator new for every allocation of any thread.
    static void Note(std::size_t nBytes);

private:
    CAllocationWatch* m_pOuter;
    std::size_t m_nCount = 0;
    std::size_t m_nLargest = 0;
};

// Holds one object in static storage and never destroys it. The SLP library's process-wide
// state lives in such holders: a discovery thread that the program does not wait for may still
// be inside the library while the process exits, and it must not find that state destroyed
// under it by the static destructors.
#pragma once

#include <cstddef>
#include <memory>
#include <new>
#include <utility>

template <typename T>
class CImmortal {
public:
    template <typename... Args>
    explicit CImmortal(Args&&... args) {
        std::construct_at(reinterpret_cast<T*>(m_storage), std::forward<Args>(args)...);
    }
    // Deliberately leaves the object alone: it lives as long as the process.
    ~CImmortal() = default;
    CImmortal(const CImmortal&) = delete;
    CImmortal& operator=(const CImmortal&) = delete;

    T& Get() { return *std::launder(reinterpret_cast<T*>(m_storage)); }

private:
    alignas(T) std::byte m_storage[sizeof(T)];
};

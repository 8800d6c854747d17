// Owns one file descriptor and closes it when it goes.
#pragma once

#include <unistd.h>
#include <utility>

class CUniqueFd {
public:
    CUniqueFd() = default;
    explicit CUniqueFd(int fd) : m_fd(fd) {}
    ~CUniqueFd() { Reset(); }
    CUniqueFd(CUniqueFd&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    CUniqueFd& operator=(CUniqueFd&& other) noexcept {
        if (this != &other) {
            Reset();
            m_fd = std::exchange(other.m_fd, -1);
        }
        return *this;
    }

    int Get() const { return m_fd; }
    explicit operator bool() const { return m_fd >= 0; }
    // Gives the descriptor up without closing it.
    int Release() { return std::exchange(m_fd, -1); }
    void Reset(int fd = -1) {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
        m_fd = fd;
    }
    // Closes now and answers close()'s result (0, or -1 with errno set).
    int Close() {
        const int rc = m_fd >= 0 ? ::close(m_fd) : 0;
        m_fd = -1;
        return rc;
    }

private:
    int m_fd = -1;
};

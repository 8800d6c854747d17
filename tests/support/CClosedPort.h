// A loopback TCP port that is certainly closed for as long as the object lives: a socket bound to
// it that never listens. Connecting to it is refused at once, and no other program can take the
// port meanwhile, as one could a port that a test has just freed.
#pragma once

#include <arpa/inet.h>
#include <cstdint>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

class CClosedPort {
public:
    CClosedPort() : m_nFd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (m_nFd >= 0 && ::bind(m_nFd, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
            ::getsockname(m_nFd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
            m_nPort = ntohs(address.sin_port);
        }
    }
    ~CClosedPort() {
        if (m_nFd >= 0) {
            ::close(m_nFd);
        }
    }
    CClosedPort(const CClosedPort&) = delete;
    CClosedPort& operator=(const CClosedPort&) = delete;

    // The port on 127.0.0.1; 0 when none could be bound.
    uint16_t Port() const { return m_nPort; }

private:
    int m_nFd;
    uint16_t m_nPort = 0;
};

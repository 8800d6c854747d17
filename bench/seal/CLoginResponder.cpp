// The login responder's listener and its threads.
#include "bench/seal/CLoginResponder.h"

#include "tools/array-sim/CSimHttpResponder.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

// Room for every login the pool may open at once, and the bursts between its batches.
constexpr int kBacklog = 1024;
// A client that stops sending mid-request does not hold a thread longer than this.
constexpr int kReceiveTimeoutSeconds = 5;
constexpr std::size_t kReadChunk = 4096;

bool SendAll(int fd, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

CLoginResponder::CLoginResponder(CArrayConfig array, int nThreads)
    : m_array(std::move(array)), m_listen(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    const int one = 1;
    ::setsockopt(m_listen.Get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    socklen_t length = sizeof address;
    if (!m_listen ||
        ::bind(m_listen.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(m_listen.Get(), kBacklog) != 0 ||
        ::getsockname(m_listen.Get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return;
    }
    m_nPort = ntohs(address.sin_port);
    for (int i = 0; i < nThreads; ++i) {
        m_listThreads.emplace_back(&CLoginResponder::AcceptLoop, this);
    }
}

CLoginResponder::~CLoginResponder() {
    m_bStop = true;
    // Wakes every thread blocked in accept.
    ::shutdown(m_listen.Get(), SHUT_RDWR);
    for (std::thread& thread : m_listThreads) {
        thread.join();
    }
}

void CLoginResponder::AcceptLoop() {
    while (!m_bStop) {
        CUniqueFd connection(::accept4(m_listen.Get(), nullptr, nullptr, SOCK_CLOEXEC));
        if (connection) {
            Answer(connection.Get());
        }
    }
}

void CLoginResponder::Answer(int fd) {
    const timeval timeout{kReceiveTimeoutSeconds, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    std::string received;
    char chunk[kReadChunk];
    while (received.size() < CSimHttpResponder::kMaxRequest) {
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0) {
            return;
        }
        received.append(chunk, static_cast<std::size_t>(n));
        const CSimHttpResponder::Result result = CSimHttpResponder::Handle(m_array, received);
        if (result.state == CSimHttpResponder::State::Ignore) {
            return;
        }
        if (result.state == CSimHttpResponder::State::Respond) {
            SendAll(fd, result.response);
            ++m_nAnswered;
            return;
        }
    }
}

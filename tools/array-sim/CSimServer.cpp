#include "tools/array-sim/CSimServer.h"

#include "platform/slp/CSlpMessageCodec.h"
#include "tools/array-sim/CSimHttpResponder.h"
#include "tools/array-sim/CSimSlpAgent.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// One datagram of any size SLP allows, and its sender; false when nothing could be read.
bool ReceiveDatagram(int fd, std::vector<std::uint8_t>& buffer, sockaddr_in& from) {
    buffer.resize(65535);
    socklen_t length = sizeof from;
    const ssize_t got = ::recvfrom(fd, buffer.data(), buffer.size(), 0,
                                   reinterpret_cast<sockaddr*>(&from), &length);
    if (got <= 0) {
        return false;
    }
    buffer.resize(static_cast<std::size_t>(got));
    return true;
}

constexpr const char* kSlpGroup = "239.255.255.253";
constexpr std::size_t kMaxDatagramReply = 1400 - 28;
constexpr std::size_t kMaxSlpStream = 1 << 20;

sockaddr_in Address(const std::string& host, std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    ::inet_pton(AF_INET, host.c_str(), &address.sin_addr);
    return address;
}

std::string SystemError(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

} // namespace

CSimServer::CSimServer(std::vector<CArrayConfig> arrays, std::uint16_t slpPort,
                       std::uint16_t httpPort)
    : m_arrArrays(std::move(arrays)), m_nSlpPort(slpPort), m_nHttpPort(httpPort) {}

CSimServer::~CSimServer() = default;

std::string CSimServer::Bind(Kind kind, std::size_t array, int type, std::uint16_t port) {
    CUniqueFd owned(::socket(AF_INET, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!owned) {
        return SystemError("socket");
    }
    const int fd = owned.Get();
    int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    std::string host = kind == Kind::Multicast ? "0.0.0.0" : m_arrArrays[array].m_strAddress;
    sockaddr_in local = Address(host, port);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        return SystemError("cannot bind " + host + ":" + std::to_string(port));
    }
    if (type == SOCK_STREAM && ::listen(fd, 128) != 0) {
        return SystemError("listen");
    }
    m_listEndpoints.push_back(Endpoint{kind, std::move(owned), array, {}, {}});
    if (kind == Kind::SlpUdp) {
        m_arrUdpFd[array] = fd;
    }
    return {};
}

std::string CSimServer::Start() {
    m_arrUdpFd.assign(m_arrArrays.size(), -1);
    if (std::string error = Bind(Kind::Multicast, 0, SOCK_DGRAM, m_nSlpPort); !error.empty()) {
        return error;
    }
    int multicastFd = m_listEndpoints.back().fd.Get();
    int on = 1;
    ::setsockopt(multicastFd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    for (std::size_t i = 0; i < m_arrArrays.size(); ++i) {
        ip_mreq join{};
        ::inet_pton(AF_INET, kSlpGroup, &join.imr_multiaddr);
        ::inet_pton(AF_INET, m_arrArrays[i].m_strAddress.c_str(), &join.imr_interface);
        // Several arrays on one interface share one membership; the repeats fail harmlessly.
        if (::setsockopt(multicastFd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &join, sizeof join) != 0 &&
            errno != EADDRINUSE) {
            return SystemError("cannot join " + std::string(kSlpGroup) + " on " +
                               m_arrArrays[i].m_strAddress);
        }
        for (auto [kind, type, port] : {std::tuple{Kind::SlpUdp, SOCK_DGRAM, m_nSlpPort},
                                        std::tuple{Kind::SlpListen, SOCK_STREAM, m_nSlpPort},
                                        std::tuple{Kind::HttpListen, SOCK_STREAM, m_nHttpPort}}) {
            if (std::string error = Bind(kind, i, type, port); !error.empty()) {
                return error;
            }
        }
    }
    return {};
}

void CSimServer::Run(const std::atomic<bool>& stop) {
    std::vector<pollfd> entries;
    while (!stop) {
        entries.clear();
        for (const Endpoint& endpoint : m_listEndpoints) {
            short events = endpoint.out.empty() ? POLLIN : static_cast<short>(POLLIN | POLLOUT);
            entries.push_back(pollfd{endpoint.fd.Get(), events, 0});
        }
        int ready = ::poll(entries.data(), entries.size(), 200);
        if (ready <= 0) {
            continue;
        }
        // Walk backwards so that closing an endpoint does not shift the ones still to visit.
        for (std::size_t i = entries.size(); i-- > 0;) {
            if (entries[i].revents & POLLOUT) {
                OnWritable(i);
            }
            if (i < m_listEndpoints.size() && m_listEndpoints[i].fd.Get() == entries[i].fd &&
                (entries[i].revents & (POLLIN | POLLHUP | POLLERR))) {
                OnReadable(i);
            }
        }
    }
}

void CSimServer::OnReadable(std::size_t index) {
    Endpoint& endpoint = m_listEndpoints[index];
    switch (endpoint.kind) {
    case Kind::Multicast:
        OnMulticast(endpoint);
        break;
    case Kind::SlpUdp:
        OnSlpUdp(endpoint);
        break;
    case Kind::SlpListen:
    case Kind::HttpListen:
        OnAccept(endpoint);
        break;
    case Kind::SlpStream:
    case Kind::HttpStream: {
        char buffer[16384];
        ssize_t got = ::recv(endpoint.fd.Get(), buffer, sizeof buffer, 0);
        if (got <= 0) {
            if (got == 0 || (errno != EAGAIN && errno != EINTR)) {
                Close(index);
            }
            return;
        }
        if (!endpoint.closeAfterWrite && !endpoint.ignoring) {
            endpoint.in.append(buffer, static_cast<std::size_t>(got));
            OnStream(endpoint);
        }
        if (endpoint.closeAfterWrite && endpoint.out.empty()) {
            Close(index);
        }
        break;
    }
    }
}

void CSimServer::OnWritable(std::size_t index) {
    Endpoint& endpoint = m_listEndpoints[index];
    ssize_t sent =
        ::send(endpoint.fd.Get(), endpoint.out.data(), endpoint.out.size(), MSG_NOSIGNAL);
    if (sent < 0) {
        if (errno != EAGAIN && errno != EINTR) {
            Close(index);
        }
        return;
    }
    endpoint.out.erase(0, static_cast<std::size_t>(sent));
    if (endpoint.out.empty() && endpoint.closeAfterWrite) {
        Close(index);
    }
}

void CSimServer::Reply(std::size_t array, const std::vector<std::uint8_t>& request,
                       const sockaddr_in& from, bool multicast) {
    const CArrayConfig& config = m_arrArrays[array];
    std::vector<CSimSlpAgent::Message> replies;
    if (config.m_slpMode == SimSlpMode::Garbage) {
        replies = CSimSlpAgent::Garbage(request);
    } else if (config.m_slpMode == SimSlpMode::Normal) {
        replies = CSimSlpAgent::Answer(config, request, multicast, kMaxDatagramReply);
    }
    for (const CSimSlpAgent::Message& reply : replies) {
        ::sendto(m_arrUdpFd[array], reply.data(), reply.size(), 0,
                 reinterpret_cast<const sockaddr*>(&from), sizeof from);
    }
}

void CSimServer::OnMulticast(Endpoint& endpoint) {
    std::vector<std::uint8_t> buffer;
    sockaddr_in from{};
    if (!ReceiveDatagram(endpoint.fd.Get(), buffer, from)) {
        return;
    }
    for (std::size_t i = 0; i < m_arrArrays.size(); ++i) {
        Reply(i, buffer, from, true);
    }
}

void CSimServer::OnSlpUdp(Endpoint& endpoint) {
    std::vector<std::uint8_t> buffer;
    sockaddr_in from{};
    if (!ReceiveDatagram(endpoint.fd.Get(), buffer, from)) {
        return;
    }
    Reply(endpoint.array, buffer, from, false);
}

void CSimServer::OnAccept(Endpoint& endpoint) {
    int fd = ::accept4(endpoint.fd.Get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
        return;
    }
    Kind kind = endpoint.kind == Kind::SlpListen ? Kind::SlpStream : Kind::HttpStream;
    std::size_t array = endpoint.array;
    m_listEndpoints.push_back(Endpoint{kind, CUniqueFd(fd), array, {}, {}});
}

void CSimServer::OnStream(Endpoint& endpoint) {
    const CArrayConfig& config = m_arrArrays[endpoint.array];
    if (endpoint.kind == Kind::HttpStream) {
        CSimHttpResponder::Result result = CSimHttpResponder::Handle(config, endpoint.in);
        if (result.state == CSimHttpResponder::State::Respond) {
            endpoint.out = std::move(result.response);
            endpoint.closeAfterWrite = true;
        } else if (result.state == CSimHttpResponder::State::Ignore) {
            endpoint.ignoring = true;
        }
        return;
    }
    auto bytes =
        std::span(reinterpret_cast<const std::uint8_t*>(endpoint.in.data()), endpoint.in.size());
    std::optional<std::uint32_t> length = CSlpMessageCodec::PeekLength(bytes);
    if (!length) {
        return;
    }
    if (*length > kMaxSlpStream || *length < kSlpFixedHeaderSize) {
        endpoint.closeAfterWrite = true;
        return;
    }
    if (bytes.size() < *length) {
        return;
    }
    endpoint.closeAfterWrite = true;
    if (config.m_slpMode != SimSlpMode::Normal) {
        return;
    }
    for (const CSimSlpAgent::Message& reply :
         CSimSlpAgent::Answer(config, bytes.first(*length), false, 0)) {
        endpoint.out.append(reinterpret_cast<const char*>(reply.data()), reply.size());
    }
}

void CSimServer::Close(std::size_t index) {
    m_listEndpoints.erase(m_listEndpoints.begin() + static_cast<long>(index));
}

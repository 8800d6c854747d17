#include "tools/array-sim/CSimServer.h"

#include "platform/slp/CSlpMessageCodec.h"
#include "platform/text/TextEscape.h"
#include "tools/array-sim/CSimHttpResponder.h"
#include "tools/array-sim/CSimSlpAgent.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <iostream>
#include <optional>
#include <poll.h>
#include <random>
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
constexpr int kReceiveBufferBytes = 8 * 1024 * 1024;
constexpr int kPollMs = 200;
constexpr std::size_t kBurst = 256;

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

CSimServer::CSimServer(std::vector<CArrayConfig> arrays, CSettings settings)
    : m_arrArrays(std::move(arrays)), m_settings(std::move(settings)) {}

CSimServer::~CSimServer() = default;

std::string CSimServer::Bind(Kind kind, std::size_t array, int type, std::uint16_t port) {
    CUniqueFd owned(::socket(AF_INET, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!owned) {
        return SystemError("socket");
    }
    const int fd = owned.Get();
    int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (type == SOCK_DGRAM) {
        // Bursts of thousands of requests or registrations must not be dropped here.
        int size = kReceiveBufferBytes;
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size);
    }
    std::string host = kind == Kind::Multicast || kind == Kind::Registrar
                           ? "0.0.0.0"
                           : m_arrArrays[array].m_strAddress;
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
    std::string error = m_settings.m_bDirectoryAgent ? StartDirectoryAgent() : StartArrays();
    if (error.empty() && !m_settings.m_bDirectoryAgent) {
        error = StartRegistrar();
    }
    return error;
}

std::string CSimServer::StartArrays() {
    if (std::string error = Bind(Kind::Multicast, 0, SOCK_DGRAM, m_settings.m_nSlpPort);
        !error.empty()) {
        return error;
    }
    m_nMulticastFd = m_listEndpoints.back().fd.Get();
    int on = 1;
    ::setsockopt(m_nMulticastFd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    for (std::size_t i = 0; i < m_arrArrays.size(); ++i) {
        ip_mreq join{};
        ::inet_pton(AF_INET, kSlpGroup, &join.imr_multiaddr);
        ::inet_pton(AF_INET, m_arrArrays[i].m_strAddress.c_str(), &join.imr_interface);
        // Several arrays on one interface share one membership; the repeats fail harmlessly.
        if (::setsockopt(m_nMulticastFd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &join, sizeof join) != 0 &&
            errno != EADDRINUSE) {
            return SystemError("cannot join " + std::string(kSlpGroup) + " on " +
                               m_arrArrays[i].m_strAddress);
        }
        for (auto [kind, type, port] :
             {std::tuple{Kind::SlpUdp, SOCK_DGRAM, m_settings.m_nSlpPort},
              std::tuple{Kind::SlpListen, SOCK_STREAM, m_settings.m_nSlpPort},
              std::tuple{Kind::HttpListen, SOCK_STREAM, m_settings.m_nHttpPort}}) {
            if (std::string error = Bind(kind, i, type, port); !error.empty()) {
                return error;
            }
        }
    }
    return {};
}

std::string CSimServer::StartDirectoryAgent() {
    const CArrayConfig& self = m_arrArrays.front();
    if (std::string error = Bind(Kind::Multicast, 0, SOCK_DGRAM, m_settings.m_nSlpPort);
        !error.empty()) {
        return error;
    }
    m_nMulticastFd = m_listEndpoints.back().fd.Get();
    ip_mreq join{};
    ::inet_pton(AF_INET, kSlpGroup, &join.imr_multiaddr);
    ::inet_pton(AF_INET, self.m_strAddress.c_str(), &join.imr_interface);
    if (::setsockopt(m_nMulticastFd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &join, sizeof join) != 0) {
        return SystemError("cannot join " + std::string(kSlpGroup) + " on " + self.m_strAddress);
    }
    for (auto [kind, type] :
         {std::pair{Kind::SlpUdp, SOCK_DGRAM}, std::pair{Kind::SlpListen, SOCK_STREAM}}) {
        if (std::string error = Bind(kind, 0, type, m_settings.m_nSlpPort); !error.empty()) {
            return error;
        }
    }
    const auto boot = static_cast<std::uint32_t>(std::time(nullptr));
    m_pDirectoryAgent =
        std::make_unique<CSimDirectoryAgent>(self.m_strAddress, self.m_strScope, boot);
    if (!m_settings.m_strForgedAdvert.empty()) {
        m_pDirectoryAgent->Forge(m_settings.m_strForgedAdvert);
    }
    // A directory agent that starts says so, so that agents register with it at once.
    SendMulticast(m_pDirectoryAgent->Advert(false));
    m_nextExpiry = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    return {};
}

std::string CSimServer::StartRegistrar() {
    if (std::string error = Bind(Kind::Registrar, 0, SOCK_DGRAM, 0); !error.empty()) {
        return error;
    }
    m_nRegistrarFd = m_listEndpoints.back().fd.Get();
    m_pRegistrar =
        std::make_unique<CSimRegistrar>(m_arrArrays, m_settings.m_nSlpPort, m_settings.m_nLifetime);
    const auto wallNow = static_cast<std::uint32_t>(std::time(nullptr));
    for (const std::string& agent : m_settings.m_listDirectoryAgents) {
        m_pRegistrar->AddAgent(Address(agent, m_settings.m_nSlpPort), wallNow);
    }
    std::random_device random;
    std::uniform_int_distribution<long> jitter(0, kStartWait.count());
    m_nextDiscovery = std::chrono::steady_clock::now() + std::chrono::milliseconds(jitter(random));
    return {};
}

void CSimServer::SendMulticast(const std::vector<std::uint8_t>& message) {
    const int fd = m_nRegistrarFd >= 0 ? m_nRegistrarFd : m_nMulticastFd;
    in_addr interface {};
    ::inet_pton(AF_INET, m_arrArrays.front().m_strAddress.c_str(), &interface);
    ::setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &interface, sizeof interface);
    sockaddr_in group = Address(kSlpGroup, m_settings.m_nSlpPort);
    ::sendto(fd, message.data(), message.size(), 0, reinterpret_cast<const sockaddr*>(&group),
             sizeof group);
}

void CSimServer::Tick(std::chrono::steady_clock::time_point now) {
    if (m_pDirectoryAgent && now >= m_nextExpiry) {
        m_pDirectoryAgent->Expire(now);
        m_nextExpiry = now + std::chrono::seconds(1);
    }
    if (!m_pRegistrar) {
        return;
    }
    if (now >= m_nextDiscovery) {
        SendMulticast(m_pRegistrar->DiscoveryRequest());
        m_nextDiscovery = now + kDiscoveryInterval;
    }
    for (const CSimRegistrar::Outgoing& message : m_pRegistrar->Due(now)) {
        ::sendto(m_nRegistrarFd, message.bytes.data(), message.bytes.size(), 0,
                 reinterpret_cast<const sockaddr*>(&message.to), sizeof message.to);
    }
}

void CSimServer::Run(const std::atomic<bool>& stop) {
    Serve(stop, std::chrono::steady_clock::time_point::max());
    if (m_pDirectoryAgent) {
        SendMulticast(m_pDirectoryAgent->Advert(true)); // going down
    }
    if (m_pRegistrar) {
        m_pRegistrar->BeginLeaving();
        const std::atomic<bool> never{false};
        Serve(never, std::chrono::steady_clock::now() + kLeaveWait);
    }
}

void CSimServer::Serve(const std::atomic<bool>& stop, std::chrono::steady_clock::time_point until) {
    std::vector<pollfd> entries;
    while (!stop) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= until ||
            (m_pRegistrar && until != std::chrono::steady_clock::time_point::max() &&
             m_pRegistrar->Leaving() == 0)) {
            return;
        }
        Tick(now);
        entries.clear();
        for (const Endpoint& endpoint : m_listEndpoints) {
            const bool bWrite = !endpoint.out.empty() && endpoint.writeAfter <= now;
            short events = bWrite ? static_cast<short>(POLLIN | POLLOUT) : POLLIN;
            entries.push_back(pollfd{endpoint.fd.Get(), events, 0});
        }
        int ready = ::poll(entries.data(), entries.size(), WaitMs(now));
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

int CSimServer::WaitMs(std::chrono::steady_clock::time_point now) const {
    auto wait = std::chrono::milliseconds(kPollMs);
    for (const Endpoint& endpoint : m_listEndpoints) {
        if (!endpoint.out.empty() && endpoint.writeAfter > now) {
            wait = std::min(
                wait, std::chrono::ceil<std::chrono::milliseconds>(endpoint.writeAfter - now));
        }
    }
    return static_cast<int>(wait.count());
}

void CSimServer::OnReadable(std::size_t index) {
    Endpoint& endpoint = m_listEndpoints[index];
    switch (endpoint.kind) {
    case Kind::Multicast:
        OnMulticast(endpoint);
        break;
    case Kind::Registrar:
        OnRegistrar(endpoint);
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
    if (m_pDirectoryAgent) {
        replies = m_pDirectoryAgent->Answer(request, multicast, kMaxDatagramReply,
                                            std::chrono::steady_clock::now());
    } else if (config.m_slpMode == SimSlpMode::Garbage) {
        replies = CSimSlpAgent::Garbage(request);
    } else if (config.m_slpMode != SimSlpMode::Silent) {
        replies = CSimSlpAgent::Answer(config, request, multicast, kMaxDatagramReply);
    }
    for (const CSimSlpAgent::Message& reply : replies) {
        ::sendto(m_arrUdpFd[array], reply.data(), reply.size(), 0,
                 reinterpret_cast<const sockaddr*>(&from), sizeof from);
    }
}

bool CSimServer::ForRegistrar(const std::vector<std::uint8_t>& message, const sockaddr_in& from) {
    std::optional<SlpHeader> header = CSlpMessageCodec::DecodeHeader(message);
    if (!header || !m_pRegistrar) {
        return false;
    }
    if (header->function == SlpFunction::DAAdvert) {
        if (auto advert = CSlpMessageCodec::DecodeDAAdvert(message, *header)) {
            m_pRegistrar->OnAdvert(*advert, from, static_cast<std::uint32_t>(std::time(nullptr)));
        }
        return true;
    }
    if (header->function == SlpFunction::SrvAck) {
        if (auto ack = CSlpMessageCodec::DecodeSrvAck(message, *header)) {
            m_pRegistrar->OnAck(*header, *ack, std::chrono::steady_clock::now());
        }
        return true;
    }
    return false;
}

void CSimServer::Trace(std::string_view how, std::span<const std::uint8_t> request) const {
    if (!m_settings.m_bTrace) {
        return;
    }
    std::optional<SlpHeader> header = CSlpMessageCodec::DecodeHeader(request);
    if (!header) {
        std::cout << how << " unreadable" << std::endl;
        return;
    }
    std::string what;
    if (auto srvRqst = CSlpMessageCodec::DecodeSrvRqst(request, *header);
        srvRqst && header->function == SlpFunction::SrvRqst) {
        what = "SrvRqst " + srvRqst->serviceType;
    } else if (auto attrRqst = CSlpMessageCodec::DecodeAttrRqst(request, *header);
               attrRqst && header->function == SlpFunction::AttrRqst) {
        what = "AttrRqst " + attrRqst->url;
    } else {
        what = "function " + std::to_string(static_cast<int>(header->function));
    }
    std::cout << how << " " << EscapeForTerminal(what) << std::endl;
}

void CSimServer::OnRegistrar(Endpoint& endpoint) {
    // Acknowledgements come in bursts: take what is there, so that the next registrations
    // leave at once.
    std::vector<std::uint8_t> buffer;
    sockaddr_in from{};
    for (std::size_t i = 0; i < kBurst && ReceiveDatagram(endpoint.fd.Get(), buffer, from); ++i) {
        ForRegistrar(buffer, from);
    }
}

void CSimServer::OnMulticast(Endpoint& endpoint) {
    std::vector<std::uint8_t> buffer;
    sockaddr_in from{};
    if (!ReceiveDatagram(endpoint.fd.Get(), buffer, from)) {
        return;
    }
    // Unsolicited adverts of directory agents (passive discovery) come this way.
    if (ForRegistrar(buffer, from)) {
        return;
    }
    Trace("multicast", buffer);
    const std::size_t answering = m_pDirectoryAgent ? 1 : m_arrArrays.size();
    for (std::size_t i = 0; i < answering; ++i) {
        Reply(i, buffer, from, true);
    }
}

void CSimServer::OnSlpUdp(Endpoint& endpoint) {
    std::vector<std::uint8_t> buffer;
    sockaddr_in from{};
    if (!ReceiveDatagram(endpoint.fd.Get(), buffer, from)) {
        return;
    }
    Trace("unicast", buffer);
    Reply(endpoint.array, buffer, from, false);
}

void CSimServer::OnAccept(Endpoint& endpoint) {
    int fd = ::accept4(endpoint.fd.Get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
        return;
    }
    Kind kind = endpoint.kind == Kind::SlpListen ? Kind::SlpStream : Kind::HttpStream;
    std::size_t array = endpoint.array;
    if (kind == Kind::HttpStream && m_settings.m_bTrace) {
        // The tests count who reached an array's login port at all.
        std::cout << "http connection " << m_arrArrays[array].m_strAddress << std::endl;
    }
    m_listEndpoints.push_back(Endpoint{kind, CUniqueFd(fd), array, {}, {}});
}

void CSimServer::OnStream(Endpoint& endpoint) {
    const CArrayConfig& config = m_arrArrays[endpoint.array];
    if (endpoint.kind == Kind::HttpStream) {
        CSimHttpResponder::Result result = CSimHttpResponder::Handle(config, endpoint.in);
        if (result.state == CSimHttpResponder::State::Respond) {
            endpoint.out = std::move(result.response);
            endpoint.closeAfterWrite = true;
            endpoint.writeAfter = std::chrono::steady_clock::now() + config.m_httpDelay;
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
    Trace("tcp", bytes.first(*length));
    std::vector<CSimSlpAgent::Message> replies;
    if (m_pDirectoryAgent) {
        replies = m_pDirectoryAgent->Answer(bytes.first(*length), false, 0,
                                            std::chrono::steady_clock::now());
    } else if (config.m_slpMode != SimSlpMode::Silent && config.m_slpMode != SimSlpMode::Garbage) {
        replies = CSimSlpAgent::Answer(config, bytes.first(*length), false, 0);
    }
    for (const CSimSlpAgent::Message& reply : replies) {
        endpoint.out.append(reinterpret_cast<const char*>(reply.data()), reply.size());
    }
}

void CSimServer::Close(std::size_t index) {
    m_listEndpoints.erase(m_listEndpoints.begin() + static_cast<long>(index));
}

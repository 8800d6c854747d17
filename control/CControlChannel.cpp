// The control socket: accepting, the uid check, one thread per connection, and the hand-over of
// each request to the window thread; see CControlChannel.h.
#include "control/CControlChannel.h"

#include "platform/io/PollWait.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <optional>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// How long a connected peer has to send its request, and a reply's write may block.
constexpr std::chrono::seconds kRequestWait{10};
constexpr int kSendTimeoutSeconds = 10;
constexpr int kListenBacklog = 16;
constexpr std::size_t kReadChunk = 4096;
// How often a connection waiting for its answer looks whether its peer hung up, and sends the
// request's progress.
constexpr std::chrono::milliseconds kHangUpCheck{100};

CControlReply Stopping() {
    return {kFailedStatus, {}, "OrvaneSrv is stopping\n"};
}

// A peer that closed its end: on a stream socket the hang-up is told once both directions are
// shut, so a peer that only ended its writing still waits.
bool PeerHungUp(int fd) {
    pollfd one{fd, 0, 0};
    return ::poll(&one, 1, 0) > 0 && (one.revents & (POLLHUP | POLLERR)) != 0;
}

} // namespace

struct CControlChannel::CPending {
    std::mutex mutex;
    std::condition_variable cv;
    std::optional<CControlReply> reply;

    void Set(CControlReply answer) {
        {
            const std::lock_guard lock(mutex);
            if (reply) {
                return;
            }
            reply = std::move(answer);
        }
        cv.notify_all();
    }
    // The reply; nothing when none came within wait.
    std::optional<CControlReply> WaitFor(std::chrono::milliseconds wait) {
        std::unique_lock lock(mutex);
        cv.wait_for(lock, wait, [this] { return reply.has_value(); });
        return reply;
    }
};

CControlChannel::CControlChannel(std::shared_ptr<IWindowThread> window, CHandler handler)
    : m_pWindow(std::move(window)), m_handler(std::move(handler)) {}

CControlChannel::~CControlChannel() {
    m_bStop = true;
    if (m_wakeFd) {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(m_wakeFd.Get(), &one, sizeof one);
    }
    if (m_acceptor.joinable()) {
        m_acceptor.join();
    }
    {
        const std::lock_guard lock(m_mutex);
        for (const auto& weak : m_pending) {
            if (const auto pending = weak.lock()) {
                pending->Set(Stopping());
            }
        }
    }
    Reap(true);
    if (m_listenFd) {
        std::error_code ec;
        std::filesystem::remove(m_path, ec);
    }
}

std::unique_ptr<CControlChannel>
CControlChannel::OpenBeside(std::shared_ptr<IWindowThread> window, CHandler handler,
                            const std::filesystem::path& storeFile) {
    auto channel = std::make_unique<CControlChannel>(std::move(window), std::move(handler));
    const std::filesystem::path socket = SocketPath(storeFile);
    if (const std::string why = channel->Listen(socket); !why.empty()) {
        std::fprintf(stderr,
                     "OrvaneSrv: no control socket at %s (%s); orvanectl cannot reach this copy\n",
                     socket.c_str(), why.c_str());
    }
    return channel;
}

std::filesystem::path CControlChannel::SocketPath(const std::filesystem::path& storeFile) {
    return storeFile.parent_path() / ControlProtocol::kSocketName;
}

std::string CControlChannel::Listen(const std::filesystem::path& path) {
    const std::optional<sockaddr_un> address = ControlProtocol::SocketAddress(path);
    if (!address) {
        return "the path is too long for a local socket";
    }
    const std::string text = path.string();
    CUniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    CUniqueFd wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!fd || !wake) {
        return std::strerror(errno);
    }
    ::unlink(text.c_str());
    if (::bind(fd.Get(), reinterpret_cast<const sockaddr*>(&*address), sizeof *address) != 0 ||
        ::chmod(text.c_str(), S_IRUSR | S_IWUSR) != 0 || ::listen(fd.Get(), kListenBacklog) != 0) {
        const std::string reason = std::strerror(errno);
        ::unlink(text.c_str());
        return reason;
    }
    m_path = path;
    m_listenFd = std::move(fd);
    m_wakeFd = std::move(wake);
    m_acceptor = std::thread([this] { AcceptLoop(); });
    return {};
}

void CControlChannel::AcceptLoop() {
    while (!m_bStop) {
        std::array<pollfd, 2> fds{{{m_listenFd.Get(), POLLIN, 0}, {m_wakeFd.Get(), POLLIN, 0}}};
        if (::poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR) {
            std::fprintf(stderr, "OrvaneSrv: the control socket fails: %s\n", std::strerror(errno));
            return;
        }
        if (m_bStop || (fds[0].revents & POLLIN) == 0) {
            continue;
        }
        CUniqueFd connection(::accept4(m_listenFd.Get(), nullptr, nullptr, SOCK_CLOEXEC));
        if (!connection) {
            continue;
        }
        ucred peer{};
        socklen_t length = sizeof peer;
        if (::getsockopt(connection.Get(), SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 ||
            peer.uid != ::geteuid()) {
            std::fprintf(stderr, "OrvaneSrv: control connection from uid %u (process %d) refused\n",
                         static_cast<unsigned>(peer.uid), static_cast<int>(peer.pid));
            continue;
        }
        const timeval sendTimeout{kSendTimeoutSeconds, 0};
        ::setsockopt(connection.Get(), SOL_SOCKET, SO_SNDTIMEO, &sendTimeout, sizeof sendTimeout);
        Reap(false);
        const std::lock_guard lock(m_mutex);
        if (m_connections.size() >= kMaxConnections) {
            ControlProtocol::SendAll(connection.Get(),
                                     ControlProtocol::EncodeReply(
                                         {kFailedStatus, {}, "OrvaneSrv is busy; try again\n"}));
            continue;
        }
        auto done = std::make_shared<std::atomic<bool>>(false);
        m_connections.push_back(
            {std::thread([this, done, fd = std::make_shared<CUniqueFd>(std::move(connection))] {
                 Serve(std::move(*fd));
                 *done = true;
             }),
             done});
    }
}

void CControlChannel::Reap(bool bAll) {
    std::list<CConnection> finished;
    {
        const std::lock_guard lock(m_mutex);
        const auto ended = std::stable_partition(
            m_connections.begin(), m_connections.end(),
            [bAll](const CConnection& connection) { return !bAll && !*connection.pDone; });
        finished.splice(finished.end(), m_connections, ended, m_connections.end());
        std::erase_if(m_pending, [](const auto& weak) { return weak.expired(); });
    }
    for (CConnection& connection : finished) {
        connection.thread.join();
    }
}

void CControlChannel::Serve(CUniqueFd connection) {
    std::optional<std::vector<std::string>> args = ReadRequest(connection.Get());
    if (!args) {
        return;
    }
    ControlProtocol::SendAll(connection.Get(), ControlProtocol::EncodeReply(
                                                   Dispatch(std::move(*args), connection.Get())));
}

std::optional<std::vector<std::string>> CControlChannel::ReadRequest(int fd) const {
    const auto deadline = PollClock::now() + kRequestWait;
    std::string bytes;
    while (!m_bStop) {
        std::array<pollfd, 2> fds{{{fd, POLLIN, 0}, {m_wakeFd.Get(), POLLIN, 0}}};
        const int ready = ::poll(fds.data(), fds.size(), MillisecondsUntil(deadline));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0 || (fds[1].revents & POLLIN) != 0) {
            return std::nullopt;
        }
        std::array<char, kReadChunk> chunk{};
        const ssize_t got = ::recv(fd, chunk.data(), chunk.size(), 0);
        if (got <= 0) {
            return std::nullopt;
        }
        bytes.append(chunk.data(), static_cast<std::size_t>(got));
        bool bad = false;
        auto args = ControlProtocol::DecodeRequest(bytes, bad);
        if (args || bad) {
            return args;
        }
    }
    return std::nullopt;
}

CControlReply CControlChannel::Dispatch(std::vector<std::string> args, int fd) {
    auto pending = std::make_shared<CPending>();
    {
        const std::lock_guard lock(m_mutex);
        if (m_bStop) {
            return Stopping();
        }
        m_pending.push_back(pending);
    }
    // Travels with the request to the window thread: whoever drops it unanswered (a closed window
    // thread queue, a pass that never ends because the program stops) answers that it stops.
    auto slot = std::shared_ptr<void>(nullptr, [pending](void*) { pending->Set(Stopping()); });
    // The progress option is the channel's, not the command's: it comes before the command, where
    // no argument of the command can be taken for it.
    const bool bWantsProgress = !args.empty() && args.front() == ControlProtocol::kProgressOption;
    if (bWantsProgress) {
        args.erase(args.begin());
    }
    auto peer = std::make_shared<CControlDone::CPeer>(m_pWindow, bWantsProgress);
    m_pWindow->Post([handler = m_handler, args = std::move(args), slot, pending, peer]() mutable {
        handler(args, CControlDone(
                          [slot, pending](CControlReply reply) { pending->Set(std::move(reply)); },
                          peer));
    });
    // Dropped here, the slot lives on only with the request.
    slot.reset();
    for (;;) {
        if (std::optional<CControlReply> reply = pending->WaitFor(kHangUpCheck)) {
            return std::move(*reply);
        }
        if (PeerHungUp(fd)) {
            peer->HangUp();
        } else if (const auto progress = peer->TakeProgress()) {
            ControlProtocol::SendAll(fd, ControlProtocol::EncodeProgress(*progress));
        }
    }
}

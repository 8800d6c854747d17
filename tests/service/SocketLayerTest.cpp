// The blocking socket layer over a socket pair and real loopback sockets: line splitting and
// buffering, the bounded waits, the error texts, and binding.
#include "platform/io/CUniqueFd.h"
#include "service/listener/CBlockingSocketException.h"
#include "service/listener/CHttpBlockingSocket.h"
#include "tests/support/WaitUntil.h"

#include <arpa/inet.h>
#include <atomic>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <latch>
#include <string>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

// Longer than any test runs: only the event under test ends such a wait.
constexpr int kLongWaitMs = 600000;

class SocketPair : public ::testing::Test {
protected:
    void SetUp() override {
        int fds[2];
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
        m_socket.m_hSock = fds[0];
        m_socket.m_nWaitMs = 200;
        m_peer = fds[1];
    }
    void TearDown() override {
        m_socket.Close();
        if (m_peer >= 0) {
            ::close(m_peer);
        }
    }
    void PeerSend(std::string_view bytes) const {
        ASSERT_EQ(::send(m_peer, bytes.data(), bytes.size(), 0),
                  static_cast<ssize_t>(bytes.size()));
    }
    // Bytes sent by the peer that the socket has not taken yet.
    int QueuedForReader() const {
        int n = -1;
        ::ioctl(m_socket.m_hSock, FIONREAD, &n);
        return n;
    }
    void ClosePeer() {
        ::close(m_peer);
        m_peer = -1;
    }
    std::string ErrorOf(auto&& f) {
        try {
            f();
        } catch (const CBlockingSocketException& e) {
            return e.what();
        }
        return "no exception";
    }

    // An unlinked file that holds the bytes.
    static CUniqueFd FileOf(std::string_view bytes) {
        CUniqueFd fd(::open("/tmp", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
        EXPECT_EQ(::write(fd.Get(), bytes.data(), bytes.size()),
                  static_cast<ssize_t>(bytes.size()));
        return fd;
    }

    CHttpBlockingSocket m_socket;
    CHttpBlockingSocket::LineBuffer m_line{};
    int m_peer = -1;
};

TEST_F(SocketPair, LinesOfOneSegmentAndTheBodyBehindThemComeOutOneByOne) {
    PeerSend("POST /Query HTTP/1.0\r\n\r\nbody\n");
    EXPECT_EQ(m_socket.ReadHeaderLine(m_line), "POST /Query HTTP/1.0\r\n");
    EXPECT_EQ(m_socket.ReadHeaderLine(m_line), "\r\n");
    EXPECT_EQ(m_socket.ReadHeaderLine(m_line), "body\n");
    EXPECT_EQ(m_line[5], '\0');
    EXPECT_EQ(m_socket.BufferedBytes(), 0u);
}

TEST_F(SocketPair, ALimitedLineEndsAtItsLineFeedOrAfterItsLength) {
    PeerSend("abcdef\nxy");
    EXPECT_EQ(m_socket.ReadHeaderLine(m_line, 3), "abc");
    EXPECT_EQ(m_line[3], '\0');
    EXPECT_EQ(m_socket.ReadHeaderLine(m_line, 10), "def\n");
    EXPECT_EQ(m_socket.ReadHeaderLine(m_line, 0), "");
    // The first piece is all in the buffer: the length is reached in a later one.
    ASSERT_EQ(m_socket.BufferedBytes(), 2u);
    PeerSend("z!");
    EXPECT_EQ(m_socket.ReadHeaderLine(m_line, 3), "xyz");
    EXPECT_EQ(m_socket.BufferedBytes(), 1u);
    // Fewer bytes than announced, then silence: the wait ends it as for any line.
    m_socket.m_nWaitMs = 1;
    EXPECT_EQ(ErrorOf([&] { m_socket.ReadHeaderLine(m_line, 5); }), "Receive timeout error");
}

TEST_F(SocketPair, ALineArrivingInPiecesIsJoined) {
    std::thread writer([this] {
        PeerSend("GE");
        // The rest follows once the reader has taken the first piece.
        EXPECT_TRUE(WaitUntil([this] { return QueuedForReader() == 0; }));
        PeerSend("T / HTTP/1.0\nrest");
    });
    EXPECT_EQ(m_socket.ReadHeaderLine(m_line), "GET / HTTP/1.0\n");
    writer.join();
    EXPECT_EQ(m_socket.BufferedBytes(), 4u);
}

TEST_F(SocketPair, TheLineBufferHolds999BytesAndALineFeedAndAFullOneEndsTheConnection) {
    const std::string line = std::string(999, 'a') + "\n";
    PeerSend(line);
    EXPECT_EQ(m_socket.ReadHeaderLine(m_line), line);
    PeerSend(std::string(1000, 'a'));
    EXPECT_EQ(ErrorOf([&] { m_socket.ReadHeaderLine(m_line); }), "Receive timeout error");
    PeerSend("more");
    EXPECT_EQ(ErrorOf([&] { m_socket.ReadHeaderLine(m_line); }), "ReadHeaderLine error");
}

TEST_F(SocketPair, APeerThatClosesBeforeTheLineFeedGetsNoPartialLine) {
    PeerSend("GET / HTT");
    ClosePeer();
    EXPECT_EQ(ErrorOf([&] { m_socket.ReadHeaderLine(m_line); }), "ReadHeaderLine error");
    EXPECT_EQ(m_socket.BufferedBytes(), 9u);
}

TEST_F(SocketPair, AReceiveWaitsForThePeerAndASilentOneEndsInATimeout) {
    m_socket.m_nWaitMs = kLongWaitMs;
    pid_t readerId = 0;
    std::latch started(1);
    std::string line;
    std::string error;
    std::thread reader([&] {
        readerId = ThisThreadId();
        started.count_down();
        error = ErrorOf([&] { line = m_socket.ReadHeaderLine(m_line); });
    });
    started.wait();
    // The line is sent only once the reader is asleep in its wait.
    EXPECT_TRUE(WaitUntilBlockedIn(readerId, kPollCalls));
    PeerSend("late\n");
    reader.join();
    EXPECT_EQ(error, "no exception");
    EXPECT_EQ(line, "late\n");
    m_socket.m_nWaitMs = 1;
    EXPECT_EQ(ErrorOf([&] { m_socket.ReadHeaderLine(m_line); }), "Receive timeout error");
}

TEST_F(SocketPair, TheRequestDeadlineEndsATricklingPeer) {
    // Each byte comes long before the wait would end; the trickle lasts at least a second,
    // twenty times the deadline, overfills the line buffer when the deadline is ignored, and gives
    // up when the reader does.
    m_socket.m_nWaitMs = kLongWaitMs;
    m_socket.SetDeadline(std::chrono::steady_clock::now() + std::chrono::milliseconds(50));
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (std::size_t i = 0; i <= CHttpBlockingSocket::kLineBufSize && !done; ++i) {
            PeerSend("x");
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    EXPECT_EQ(ErrorOf([&] { m_socket.ReadHeaderLine(m_line); }), "Request timeout error");
    done = true;
    writer.join();
}

TEST_F(SocketPair, SendOfNothingAnswersZeroAndASecondCloseLeavesTheNumberAlone) {
    EXPECT_EQ(m_socket.Send("", 0), 0u);
    const int number = m_socket.m_hSock;
    m_socket.Close();
    EXPECT_FALSE(m_socket.HasSocket());
    // The freed number goes to another descriptor; closing again must not close that one.
    const int reused = ::fcntl(m_peer, F_DUPFD_CLOEXEC, number);
    ASSERT_EQ(reused, number);
    EXPECT_NO_THROW(m_socket.Close());
    EXPECT_NE(::fcntl(reused, F_GETFD), -1);
    ::close(reused);
}

TEST_F(SocketPair, ASendThatMovesTooLittleWithinTheWindowEndsBytesAndFilesAlike) {
    // The readiness wait alone would wait far longer than the window.
    m_socket.m_nWaitMs = 5000;
    m_socket.m_nProgressWindowMs = 200;
    m_socket.m_nMinProgressBytes = 1024;
    const int small = 4096;
    ::setsockopt(m_socket.m_hSock, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    const std::string big(1 << 20, 'x');
    const CUniqueFd file = FileOf(big);
    const std::function<void()> sends[] = {
        [&] { m_socket.Send(big.data(), big.size()); },
        [&] { m_socket.SendFile(file.Get(), 0, big.size()); },
    };
    for (const auto& send : sends) {
        EXPECT_EQ(ErrorOf(send), "Send progress error");
    }
}

TEST_F(SocketPair, AFileGoesOutFromItsOffsetAndAShorterOneEndsEarly) {
    const CUniqueFd file = FileOf("0123456789");
    EXPECT_EQ(m_socket.SendFile(file.Get(), 2, 5), 5u);
    EXPECT_EQ(m_socket.SendFile(file.Get(), 8, 100), 2u);
    // The socket blocks again as before: a receive still waits for the peer.
    EXPECT_EQ(::fcntl(m_socket.m_hSock, F_GETFL) & O_NONBLOCK, 0);
    char received[16] = {};
    ASSERT_EQ(::recv(m_peer, received, sizeof received, 0), 7);
    EXPECT_STREQ(received, "2345689");
}

TEST_F(SocketPair, AReaderThatKeepsUpOutlastsManyWindows) {
    // The reader takes a little at a time, pausing about 2 ms between reads: each window of
    // 300 ms sees far more than its minimum, and the whole transfer takes at least 450 pauses,
    // three windows.
    constexpr std::size_t kPiece = 2048;
    constexpr std::size_t kPieces = 450;
    m_socket.m_nProgressWindowMs = 300;
    m_socket.m_nMinProgressBytes = 1024;
    const int small = 4096;
    ::setsockopt(m_socket.m_hSock, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    const std::string data(kPieces * kPiece, 'x');
    std::size_t received = 0;
    std::thread reader([&] {
        char buffer[kPiece];
        while (received < data.size()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            const ssize_t r = ::recv(m_peer, buffer, sizeof buffer, 0);
            if (r <= 0) {
                return;
            }
            received += static_cast<std::size_t>(r);
        }
    });
    EXPECT_EQ(ErrorOf([&] { m_socket.Send(data.data(), data.size()); }), "no exception");
    // A send that gave up must not leave the reader waiting for bytes that never come.
    ::shutdown(m_socket.m_hSock, SHUT_WR);
    reader.join();
    EXPECT_EQ(received, data.size());
}

TEST_F(SocketPair, SendToAClosedPeerFailsWithTheErrno) {
    ClosePeer();
    const std::string text = ErrorOf([&] { m_socket.Send("abc", 3); });
    EXPECT_EQ(text, "Send error #" + std::to_string(EPIPE));
}

TEST(SocketErrorText, Formats) {
    EXPECT_STREQ(CBlockingSocketException("Send timeout", 0).what(), "Send timeout error");
    EXPECT_STREQ(CBlockingSocketException("Receive", 10054).what(), "Receive error #10054");
}

// Makes the socket listen on a free loopback port; answers its address.
sockaddr_in ListenOnLoopback(CBlockingSocket& socket) {
    socket.Create();
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socket.Bind(address);
    socket.Listen();
    address.sin_port = htons(socket.LocalPort());
    return address;
}

TEST(ListeningSocket, APortThatIsListenedOnCannotBeBoundAgain) {
    CBlockingSocket first;
    const sockaddr_in address = ListenOnLoopback(first);
    CBlockingSocket second;
    second.Create();
    try {
        second.Bind(address);
        FAIL() << "bound twice";
    } catch (const CBlockingSocketException& e) {
        EXPECT_EQ(std::string(e.what()), "Bind error #" + std::to_string(EADDRINUSE));
    }
    second.Close();
    first.Close();
}

TEST(ListeningSocket, AShutdownEndsABlockedAcceptWithFalse) {
    CBlockingSocket listener;
    ListenOnLoopback(listener);
    std::atomic<int> result{-1};
    pid_t acceptorId = 0;
    std::latch started(1);
    std::thread acceptor([&] {
        acceptorId = ThisThreadId();
        started.count_down();
        CBlockingSocket connection;
        sockaddr_in peer{};
        result = listener.Accept(connection, peer) ? 1 : 0;
        EXPECT_FALSE(connection.HasSocket());
    });
    started.wait();
    EXPECT_TRUE(WaitUntilBlockedIn(acceptorId, kAcceptCalls));
    listener.Shutdown();
    acceptor.join();
    EXPECT_EQ(result, 0);
    listener.Close();
}

} // namespace

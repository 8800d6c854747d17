// What the directory client decides before it reaches any server, and how it reports one that is
// not there.
#include "platform/ldap/CLdapDirectory.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A loopback port that refuses connections (bound, not listening) or takes them and never answers,
// for the test's life.
class CRefusingPort {
public:
    // listening: connections complete in the kernel's queue and then hear nothing.
    explicit CRefusingPort(bool listening = false) : m_fd(::socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof(address);
        ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), size);
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &size);
        m_port = ntohs(address.sin_port);
        if (listening) {
            ::listen(m_fd, 8);
        }
    }
    ~CRefusingPort() { ::close(m_fd); }
    CRefusingPort(const CRefusingPort&) = delete;
    CRefusingPort& operator=(const CRefusingPort&) = delete;
    std::string Uri(std::string_view scheme) const {
        return std::string(scheme) + "127.0.0.1:" + std::to_string(m_port);
    }

private:
    int m_fd;
    int m_port = 0;
};

std::span<const std::uint8_t> Bytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

TEST(LdapClient, EmptyPasswordOrNameIsRefusedWithoutReachingAServer) {
    // The server list is unreachable: an answer other than Unavailable was decided locally.
    const CRefusingPort port;
    CLdapDirectory directory({{port.Uri("ldaps://")}, false, {}, std::chrono::seconds(1)}, {});
    EXPECT_EQ(directory.SignIn("alice", {}).result.outcome, ELdapOutcome::InvalidCredentials);
    EXPECT_EQ(directory.SignIn("", Bytes("pw")).result.outcome, ELdapOutcome::NoSuchUser);
    EXPECT_EQ(directory.SignIn("alice", Bytes("pw")).result.outcome, ELdapOutcome::Unavailable);

    CLdapConnection connection({{port.Uri("ldap://")}, true, {}, std::chrono::seconds(1)});
    EXPECT_EQ(connection.Bind("uid=alice", {}).outcome, ELdapOutcome::InvalidCredentials);
}

TEST(LdapClient, EveryServerOfTheListIsTriedAndAFailedConnectionFreesItsPlace) {
    const CRefusingPort first;
    const CRefusingPort second;
    CLdapPool pool(
        {{first.Uri("ldap://"), second.Uri("ldaps://")}, true, {}, std::chrono::seconds(1)}, 1);
    for (int i = 0; i < 3; ++i) {
        const CLdapPool::CLease lease = pool.Borrow();
        EXPECT_FALSE(lease);
        EXPECT_EQ(lease.Result().outcome, ELdapOutcome::Unavailable) << lease.Result().message;
        EXPECT_NE(lease.Result().message.find(second.Uri("ldaps://")), std::string::npos)
            << lease.Result().message;
    }
    EXPECT_EQ(pool.OpenCount(), 0U);
}

TEST(LdapClient, AServerThatTakesTheConnectionAndNeverAnswersEndsInATimeout) {
    // Without a deadline of its own, an ldaps:// handshake here would wait (and spin) for ever.
    const CRefusingPort silent(true);
    for (const std::string_view scheme : {"ldap://", "ldaps://"}) {
        CLdapConnection connection({{silent.Uri(scheme)}, true, {}, std::chrono::seconds(1)});
        const SLdapResult result = connection.Open();
        EXPECT_EQ(result.outcome, ELdapOutcome::Timeout) << scheme << " " << result.message;
    }
}

} // namespace

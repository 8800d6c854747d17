// The user agent's protocol behaviour against scripted agents on the loopback interface of a
// private network namespace that each test makes for itself (so it needs root and skips
// without it): retransmissions carry the previous responders, replies with foreign XIDs or
// broken bodies are ignored, a retransmission that brings nobody new ends the search, the
// callbacks' return values are obeyed, and attribute queries go by unicast to the agent that
// answered for the URL.
#include "platform/slp/CSlpMessageCodec.h"
#include "platform/slp/CSlpResponderCache.h"
#include "platform/slp/slp.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <mutex>
#include <poll.h>
#include <sched.h>
#include <stdlib.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

struct SeenRequest {
    SlpFunction function;
    std::string prList;
    bool multicast;
};

// Agents 127.0.0.2 and .3 answer every multicast request that does not list them; .4 joins
// late, from the second transmission on. Agent .2 first sends a reply with a foreign XID and
// a truncated one.
class CScriptedAgents {
public:
    CScriptedAgents() {
        m_nGroupFd = Socket("0.0.0.0");
        ip_mreq join{};
        ::inet_pton(AF_INET, "239.255.255.253", &join.imr_multiaddr);
        ::inet_pton(AF_INET, "127.0.0.1", &join.imr_interface);
        ::setsockopt(m_nGroupFd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &join, sizeof join);
        for (const char* address : {"127.0.0.2", "127.0.0.3", "127.0.0.4"}) {
            m_arrAgents.push_back({address, Socket(address)});
        }
        m_thread = std::thread([this] { Serve(); });
    }
    ~CScriptedAgents() {
        m_bStop = true;
        m_thread.join();
        ::close(m_nGroupFd);
        for (const Agent& agent : m_arrAgents) {
            ::close(agent.fd);
        }
    }
    std::vector<SeenRequest> Requests() {
        std::lock_guard lock(m_mutex);
        return m_listRequests;
    }

private:
    struct Agent {
        std::string address;
        int fd;
    };

    static int Socket(const char* address) {
        int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        int on = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(427);
        ::inet_pton(AF_INET, address, &local.sin_addr);
        EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local), 0) << address;
        return fd;
    }

    void Send(const Agent& agent, const std::vector<std::uint8_t>& bytes, const sockaddr_in& to) {
        ::sendto(agent.fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                 sizeof to);
    }

    void OnRequest(int fd, const Agent* unicastAgent) {
        std::vector<std::uint8_t> bytes(65535);
        sockaddr_in from{};
        socklen_t length = sizeof from;
        ssize_t got = ::recvfrom(fd, bytes.data(), bytes.size(), 0,
                                 reinterpret_cast<sockaddr*>(&from), &length);
        if (got <= 0) {
            return;
        }
        bytes.resize(static_cast<std::size_t>(got));
        auto header = CSlpMessageCodec::DecodeHeader(bytes);
        ASSERT_TRUE(header);
        SlpHeader reply;
        reply.xid = header->xid;
        if (header->function == SlpFunction::AttrRqst) {
            auto request = CSlpMessageCodec::DecodeAttrRqst(bytes, *header);
            ASSERT_TRUE(request);
            Record({SlpFunction::AttrRqst, request->prList, unicastAgent == nullptr});
            if (unicastAgent != nullptr) {
                Send(*unicastAgent,
                     CSlpMessageCodec::Encode(
                         reply, SlpAttrRply{0, "(mac=" + unicastAgent->address + ")"}),
                     from);
            }
            return;
        }
        auto request = CSlpMessageCodec::DecodeSrvRqst(bytes, *header);
        ASSERT_TRUE(request);
        std::size_t count = Record({SlpFunction::SrvRqst, request->prList, true});
        for (const Agent& agent : m_arrAgents) {
            bool listed = request->prList.find(agent.address) != std::string::npos;
            bool late = agent.address == "127.0.0.4" && count < 2;
            if (listed || late) {
                continue;
            }
            if (agent.address == "127.0.0.2") {
                SlpHeader foreign = reply;
                foreign.xid = static_cast<std::uint16_t>(reply.xid + 1);
                Send(agent,
                     CSlpMessageCodec::Encode(foreign,
                                              SlpSrvRply{0, {{1, "service:raid.004417://bogus"}}}),
                     from);
                auto cut = CSlpMessageCodec::Encode(
                    reply, SlpSrvRply{0, {{1, "service:raid.004417://cut"}}});
                cut.resize(cut.size() - 4);
                cut[4] = static_cast<std::uint8_t>(cut.size());
                Send(agent, cut, from);
            }
            Send(agent,
                 CSlpMessageCodec::Encode(
                     reply, SlpSrvRply{0, {{60, "service:raid.004417://" + agent.address}}}),
                 from);
        }
    }

    std::size_t Record(SeenRequest request) {
        std::lock_guard lock(m_mutex);
        m_listRequests.push_back(std::move(request));
        std::size_t count = 0;
        for (const SeenRequest& seen : m_listRequests) {
            count += seen.function == SlpFunction::SrvRqst ? 1 : 0;
        }
        return count;
    }

    void Serve() {
        while (!m_bStop) {
            std::vector<pollfd> entries{{m_nGroupFd, POLLIN, 0}};
            for (const Agent& agent : m_arrAgents) {
                entries.push_back({agent.fd, POLLIN, 0});
            }
            if (::poll(entries.data(), entries.size(), 20) <= 0) {
                continue;
            }
            if (entries[0].revents & POLLIN) {
                OnRequest(m_nGroupFd, nullptr);
            }
            for (std::size_t i = 0; i < m_arrAgents.size(); ++i) {
                if (entries[i + 1].revents & POLLIN) {
                    OnRequest(m_arrAgents[i].fd, &m_arrAgents[i]);
                }
            }
        }
    }

    int m_nGroupFd = -1;
    std::vector<Agent> m_arrAgents;
    std::mutex m_mutex;
    std::vector<SeenRequest> m_listRequests;
    std::atomic<bool> m_bStop{false};
    std::thread m_thread;
};

struct Found {
    std::vector<std::string> urls;
    int lastCalls = 0;
    bool stopAfterFirst = false;
    SLPError nested = SLP_OK;
    bool tryNested = false;
};

SLPBoolean Collect(SLPHandle handle, const char* url, unsigned short, SLPError error,
                   void* cookie) {
    auto* found = static_cast<Found*>(cookie);
    if (error == SLP_LAST_CALL) {
        ++found->lastCalls;
        return SLP_FALSE;
    }
    found->urls.push_back(url);
    if (found->tryNested) {
        found->nested = SLPFindSrvs(handle, "service:x", "", "", Collect, cookie);
        found->tryNested = false;
    }
    return found->stopAfterFirst ? SLP_FALSE : SLP_TRUE;
}

class SlpConvergence : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0) {
            GTEST_SKIP() << "needs root to make a private network namespace";
        }
        ASSERT_EQ(::unshare(CLONE_NEWNET), 0);
        ASSERT_EQ(std::system("ip link set lo up && ip link set lo multicast on && "
                              "ip route add 224.0.0.0/4 dev lo"),
                  0);
        m_config = std::filesystem::temp_directory_path() /
                   ("slpconv-" + std::to_string(::getpid()) + ".conf");
        std::ofstream(m_config) << "net.slp.multicastTimeouts = 150,150,150,150,150\n"
                                   "net.slp.multicastMaximumWait = 3000\n";
        ::setenv("OpenSLPConfig", m_config.c_str(), 1);
        m_agents = std::make_unique<CScriptedAgents>();
        ASSERT_EQ(SLPOpen("en", SLP_FALSE, &m_handle), SLP_OK);
    }
    void TearDown() override {
        if (m_handle != nullptr) {
            SLPClose(m_handle);
        }
        m_agents.reset();
        if (!m_config.empty()) {
            std::filesystem::remove(m_config);
        }
    }

    std::filesystem::path m_config;
    std::unique_ptr<CScriptedAgents> m_agents;
    SLPHandle m_handle = nullptr;
};

} // namespace

TEST_F(SlpConvergence, RetransmitsWithThePreviousRespondersUntilNobodyNewAnswers) {
    Found found;
    ASSERT_EQ(SLPFindSrvs(m_handle, "service:raid.004417", "default", "", Collect, &found), SLP_OK);
    std::sort(found.urls.begin(), found.urls.end());
    EXPECT_EQ(found.urls, (std::vector<std::string>{"service:raid.004417://127.0.0.2",
                                                    "service:raid.004417://127.0.0.3",
                                                    "service:raid.004417://127.0.0.4"}));
    EXPECT_EQ(found.lastCalls, 1);
    std::vector<SeenRequest> requests = m_agents->Requests();
    // First: empty list. Second: .2 and .3, after which .4 answers. Third: all three, nobody
    // new, so it ends there.
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].prList, "");
    EXPECT_NE(requests[1].prList.find("127.0.0.2"), std::string::npos);
    EXPECT_NE(requests[1].prList.find("127.0.0.3"), std::string::npos);
    EXPECT_EQ(requests[1].prList.find("127.0.0.4"), std::string::npos);
    EXPECT_NE(requests[2].prList.find("127.0.0.4"), std::string::npos);
}

TEST_F(SlpConvergence, CallbackFalseEndsTheSearchAtOnce) {
    Found found;
    found.stopAfterFirst = true;
    auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(SLPFindSrvs(m_handle, "service:raid.004417", "default", "", Collect, &found), SLP_OK);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(140));
    EXPECT_EQ(found.urls.size(), 1u);
    EXPECT_EQ(found.lastCalls, 0);
}

TEST_F(SlpConvergence, AHandleRunsOneOperationAtATime) {
    Found found;
    found.stopAfterFirst = true;
    found.tryNested = true;
    ASSERT_EQ(SLPFindSrvs(m_handle, "service:raid.004417", "default", "", Collect, &found), SLP_OK);
    EXPECT_EQ(found.nested, SLP_HANDLE_IN_USE);
}

TEST_F(SlpConvergence, AttributesAreAskedOfTheAgentThatAnswered) {
    Found found;
    ASSERT_EQ(SLPFindSrvs(m_handle, "service:raid.004417", "default", "", Collect, &found), SLP_OK);
    SLPHandle second = nullptr;
    ASSERT_EQ(SLPOpen(nullptr, SLP_FALSE, &second), SLP_OK);
    std::string attrs;
    auto keep = [](SLPHandle, const char* list, SLPError error, void* cookie) {
        if (error == SLP_OK) {
            *static_cast<std::string*>(cookie) = list;
        }
        return SLP_FALSE;
    };
    ASSERT_EQ(SLPFindAttrs(second, "service:raid.004417://127.0.0.3", "default", "", keep, &attrs),
              SLP_OK);
    SLPClose(second);
    EXPECT_EQ(attrs, "(mac=127.0.0.3)");
    for (const SeenRequest& request : m_agents->Requests()) {
        if (request.function == SlpFunction::AttrRqst) {
            EXPECT_FALSE(request.multicast) << "the attribute query went by multicast";
        }
    }
}

// The user agent's protocol behaviour against scripted agents on the loopback interface of a
// private network namespace that each test makes for itself (skipped with the reason where
// none can be made): retransmissions carry the previous responders, replies with foreign XIDs or
// broken bodies are ignored, a retransmission that brings nobody new ends the search, the
// callbacks' return values are obeyed, attribute queries go by unicast to the agent that
// answered for the URL, else by multicast, or only to the host the URL names when so set, replies
// cut short and directory agents' errors are reported as errors, and an agent that stalls cannot
// stretch a search past its deadline.
#include "platform/slp/CSlpMessageCodec.h"
#include "platform/slp/CSlpResponderCache.h"
#include "platform/slp/slp.h"
#include "tests/support/TestGate.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
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

constexpr const char* kServiceType = "service:raid.004417";

int BoundSocket(int type, const char* address) {
    int fd = ::socket(AF_INET, type, 0);
    int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(427);
    ::inet_pton(AF_INET, address, &local.sin_addr);
    EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local), 0) << address;
    return fd;
}

int GroupSocket() {
    int fd = BoundSocket(SOCK_DGRAM, "0.0.0.0");
    ip_mreq join{};
    ::inet_pton(AF_INET, "239.255.255.253", &join.imr_multiaddr);
    ::inet_pton(AF_INET, "127.0.0.1", &join.imr_interface);
    ::setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &join, sizeof join);
    return fd;
}

// One datagram and its sender; empty when nothing could be read.
std::vector<std::uint8_t> ReceiveFrom(int fd, sockaddr_in& from) {
    std::vector<std::uint8_t> bytes(65535);
    socklen_t length = sizeof from;
    ssize_t got =
        ::recvfrom(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&from), &length);
    bytes.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return bytes;
}

// Agents 127.0.0.2 and .3 answer every multicast request for kServiceType that does not list
// them; .4 joins late, from the second transmission on. Agent .2 first sends a reply with a
// foreign XID and a truncated one.
class CScriptedAgents {
public:
    CScriptedAgents() {
        m_nGroupFd = GroupSocket();
        for (const char* address : {"127.0.0.2", "127.0.0.3", "127.0.0.4"}) {
            m_arrAgents.push_back({address, BoundSocket(SOCK_DGRAM, address)});
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

    void Send(const Agent& agent, const std::vector<std::uint8_t>& bytes, const sockaddr_in& to) {
        ::sendto(agent.fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                 sizeof to);
    }

    void OnRequest(int fd, const Agent* unicastAgent) {
        sockaddr_in from{};
        std::vector<std::uint8_t> bytes = ReceiveFrom(fd, from);
        if (bytes.empty()) {
            return;
        }
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
        if (request->serviceType != kServiceType) {
            return;
        }
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

// One agent at its own address that answers as the test scripts it, to unicast and multicast
// requests alike. Its SLP port over TCP either refuses connections or accepts the first one
// and never answers it. It can also flood: keep sending its last replies for a while.
class CRogueAgent {
public:
    using Replies = std::vector<std::vector<std::uint8_t>>;
    using Script = std::function<Replies(const SlpHeader& request, bool multicast)>;
    enum class Tcp { Refuse, StallFirst };

    CRogueAgent(const char* address, Tcp tcp, Script script,
                std::chrono::milliseconds flood = std::chrono::milliseconds(0))
        : m_script(std::move(script)), m_flood(flood), m_nGroupFd(GroupSocket()),
          m_nFd(BoundSocket(SOCK_DGRAM, address)) {
        if (tcp == Tcp::StallFirst) {
            m_nListenFd = BoundSocket(SOCK_STREAM, address);
            ::listen(m_nListenFd, 4);
        }
        m_thread = std::thread([this] { Serve(); });
    }
    ~CRogueAgent() {
        m_bStop = true;
        m_thread.join();
        for (int fd : {m_nGroupFd, m_nFd, m_nListenFd, m_nStalledFd}) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
    }
    int Connections() const { return m_nConnections; }

private:
    void OnRequest(int fd) {
        std::vector<std::uint8_t> bytes = ReceiveFrom(fd, m_to);
        if (auto header = CSlpMessageCodec::DecodeHeader(bytes)) {
            m_replies = m_script(*header, fd == m_nGroupFd);
            m_floodEnd = std::chrono::steady_clock::now() + m_flood;
            Send();
        }
    }
    void Send() {
        for (const auto& reply : m_replies) {
            ::sendto(m_nFd, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&m_to),
                     sizeof m_to);
        }
    }
    void OnConnection() {
        int fd = ::accept(m_nListenFd, nullptr, nullptr);
        ++m_nConnections;
        // Later connections are refused: only the first is held.
        ::close(m_nListenFd);
        m_nListenFd = -1;
        m_nStalledFd = fd;
    }
    void Serve() {
        while (!m_bStop) {
            std::vector<pollfd> entries{{m_nGroupFd, POLLIN, 0}, {m_nFd, POLLIN, 0}};
            if (m_nListenFd >= 0) {
                entries.push_back({m_nListenFd, POLLIN, 0});
            }
            bool flooding = std::chrono::steady_clock::now() < m_floodEnd;
            ::poll(entries.data(), entries.size(), flooding ? 1 : 20);
            for (std::size_t i = 0; i < 2; ++i) {
                if (entries[i].revents & POLLIN) {
                    OnRequest(entries[i].fd);
                }
            }
            if (entries.size() > 2 && (entries[2].revents & POLLIN)) {
                OnConnection();
            }
            if (flooding) {
                Send();
            }
        }
    }

    Script m_script;
    std::chrono::milliseconds m_flood;
    int m_nGroupFd;
    int m_nFd;
    int m_nListenFd = -1;
    int m_nStalledFd = -1;
    std::atomic<int> m_nConnections{0};
    std::chrono::steady_clock::time_point m_floodEnd;
    sockaddr_in m_to{};
    Replies m_replies;
    std::atomic<bool> m_bStop{false};
    std::thread m_thread;
};

// A reply with the overflow flag set, as an agent sends when the whole does not fit.
template <typename Body>
std::vector<std::uint8_t> Overflowed(const SlpHeader& request, const Body& body) {
    SlpHeader header;
    header.xid = request.xid;
    header.flags = kSlpFlagOverflow;
    return CSlpMessageCodec::Encode(header, body);
}

struct Found {
    std::vector<std::string> urls;
    int lastCalls = 0;
    SLPError last = SLP_OK;
    bool stopAfterFirst = false;
    SLPError nested = SLP_OK;
    bool tryNested = false;
};

SLPBoolean Collect(SLPHandle handle, const char* url, unsigned short, SLPError error,
                   void* cookie) {
    auto* found = static_cast<Found*>(cookie);
    if (error != SLP_OK) {
        found->lastCalls += error == SLP_LAST_CALL ? 1 : 0;
        found->last = error;
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
        ORVANE_GATE("netns", "ip");
        ASSERT_EQ(::unshare(CLONE_NEWNET), 0);
        ASSERT_EQ(std::system("ip link set lo up && ip link set lo multicast on && "
                              "ip route add 224.0.0.0/4 dev lo"),
                  0);
        m_config = std::filesystem::temp_directory_path() /
                   ("slpconv-" + std::to_string(::getpid()) + ".conf");
        ::setenv("OpenSLPConfig", m_config.c_str(), 1);
        m_agents = std::make_unique<CScriptedAgents>();
        Reopen("");
    }
    // A new handle with these settings after the short multicast schedule of every test. The
    // scripted agents are no directory agents: looking for those is left out, so that each
    // test sees only its own requests.
    void Reopen(const std::string& settings) {
        std::ofstream(m_config) << "net.slp.multicastTimeouts = 150,150,150,150,150\n"
                                   "net.slp.multicastMaximumWait = 3000\n"
                                   "net.slp.activeDADetection = false\n"
                                << settings;
        if (m_handle != nullptr) {
            SLPClose(m_handle);
            m_handle = nullptr;
        }
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
    // Long waits between transmissions: a search that went on would send again, and one that
    // waited out its slot would take twenty seconds, ten times the bound below.
    Reopen("net.slp.multicastTimeouts = 20000,20000\nnet.slp.multicastMaximumWait = 40000\n");
    constexpr auto kFarBelowOneSlot = std::chrono::seconds(2);
    Found found;
    found.stopAfterFirst = true;
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(SLPFindSrvs(m_handle, "service:raid.004417", "default", "", Collect, &found), SLP_OK);
    EXPECT_LT(std::chrono::steady_clock::now() - start, kFarBelowOneSlot);
    EXPECT_EQ(found.urls.size(), 1u);
    EXPECT_EQ(found.lastCalls, 0);
    EXPECT_EQ(m_agents->Requests().size(), 1u) << "the search was sent again";
}

TEST_F(SlpConvergence, ACallbackThatTakesLongerThanTheWindowMissesNoReply) {
    // The first URL's callback asks its host alone for attributes that never come: 600 ms, twice
    // the window.
    Reopen("net.slp.multicastTimeouts = 150,150\nnet.slp.multicastMaximumWait = 300\n"
           "net.slp.unicastTimeouts = 200,200,200\nnet.slp.unicastMaximumWait = 600\n"
           "orvane.slp.attributesFromUrlHost = true\n");
    struct Slow {
        std::vector<std::string> urls;
        SLPHandle second = nullptr;
    } slow;
    ASSERT_EQ(SLPOpen(nullptr, SLP_FALSE, &slow.second), SLP_OK);
    auto collect = [](SLPHandle, const char* url, unsigned short, SLPError error, void* cookie) {
        auto& state = *static_cast<Slow*>(cookie);
        if (error == SLP_OK) {
            state.urls.push_back(url);
            if (state.urls.size() == 1) {
                auto none = [](SLPHandle, const char*, SLPError, void*) { return SLP_TRUE; };
                SLPFindAttrs(state.second, "service:raid.004417://10.9.9.9", "default", "", none,
                             nullptr);
            }
        }
        return SLP_TRUE;
    };
    EXPECT_EQ(SLPFindSrvs(m_handle, kServiceType, "default", "", collect, &slow), SLP_OK);
    SLPClose(slow.second);
    // .2 and .3 answer the first request, .4 only the retransmission.
    std::sort(slow.urls.begin(), slow.urls.end());
    EXPECT_EQ(slow.urls, (std::vector<std::string>{"service:raid.004417://127.0.0.2",
                                                   "service:raid.004417://127.0.0.3",
                                                   "service:raid.004417://127.0.0.4"}));
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

TEST_F(SlpConvergence, AttributesOfAUrlOfAnotherHostComeByMulticastUnlessThatHostAloneIsAsked) {
    // The host named is out of reach; a proxy at .5 answers for its URL, by multicast only.
    const std::string url = std::string(kServiceType) + "://10.9.9.9";
    std::atomic<int> proxyAsked{0};
    CRogueAgent proxy("127.0.0.5", CRogueAgent::Tcp::Refuse,
                      [&proxyAsked](const SlpHeader& request, bool) -> CRogueAgent::Replies {
                          if (request.function != SlpFunction::AttrRqst) {
                              return {};
                          }
                          ++proxyAsked;
                          SlpHeader header;
                          header.xid = request.xid;
                          return {CSlpMessageCodec::Encode(header, SlpAttrRply{0, "(mac=proxy)"})};
                      });
    const struct {
        const char* setting;
        const char* attrs; // empty: none may come, and nobody but the host is asked
    } cases[] = {// The host alone first: a multicast of the other case could still reach the agents
                 // after it ended, and be counted here.
                 {"orvane.slp.attributesFromUrlHost = true\n", ""},
                 {"", "(mac=proxy)"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.setting);
        Reopen(std::string("net.slp.unicastTimeouts = 100,100,100\n"
                           "net.slp.unicastMaximumWait = 250\n") +
               c.setting);
        const std::size_t seenBefore = m_agents->Requests().size();
        proxyAsked = 0;
        struct {
            std::string attrs;
            SLPError last = SLP_OK;
        } got;
        auto keep = [](SLPHandle, const char* list, SLPError error, void* cookie) {
            auto& state = *static_cast<decltype(got)*>(cookie);
            if (error == SLP_OK) {
                state.attrs = list;
                return SLP_FALSE;
            }
            state.last = error;
            return SLP_TRUE;
        };
        const SLPError result = SLPFindAttrs(m_handle, url.c_str(), "default", "", keep, &got);
        EXPECT_EQ(got.attrs, c.attrs);
        if (*c.attrs != '\0') {
            EXPECT_EQ(result, SLP_OK);
            continue;
        }
        EXPECT_TRUE(result == SLP_NETWORK_TIMED_OUT || result == SLP_NETWORK_ERROR) << result;
        EXPECT_EQ(got.last, result);
        EXPECT_EQ(proxyAsked, 0);
        const std::vector<SeenRequest> seen = m_agents->Requests();
        for (std::size_t i = seenBefore; i < seen.size(); ++i) {
            EXPECT_NE(seen[i].function, SlpFunction::AttrRqst)
                << (seen[i].multicast ? "multicast" : "unicast") << " to an agent";
        }
    }
}

TEST_F(SlpConvergence, AttributeReplyCutShortIsAnErrorWhenTheTcpFetchFails) {
    const std::string url = std::string(kServiceType) + "://127.0.0.5";
    CRogueAgent rogue("127.0.0.5", CRogueAgent::Tcp::Refuse,
                      [](const SlpHeader& request, bool) -> CRogueAgent::Replies {
                          if (request.function != SlpFunction::AttrRqst) {
                              return {};
                          }
                          return {Overflowed(request, SlpAttrRply{0, "(hostname=a1),(vendor=T"})};
                      });
    sockaddr_in agent{};
    agent.sin_family = AF_INET;
    agent.sin_port = htons(427);
    ::inet_pton(AF_INET, "127.0.0.5", &agent.sin_addr);
    g_slpResponderCache.Remember(url, agent); // asked by unicast first, then by multicast
    std::vector<std::pair<SLPError, std::string>> calls;
    auto record = [](SLPHandle, const char* list, SLPError error, void* cookie) {
        static_cast<decltype(calls)*>(cookie)->emplace_back(error, list != nullptr ? list : "");
        return SLP_TRUE;
    };
    EXPECT_EQ(SLPFindAttrs(m_handle, url.c_str(), "default", "", record, &calls),
              SLP_NETWORK_ERROR);
    for (const auto& [error, list] : calls) {
        EXPECT_NE(error, SLP_OK) << "the cut-short list went out as whole: " << list;
    }
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back().first, SLP_NETWORK_ERROR);
}

TEST_F(SlpConvergence, AnAgentThatStallsOverTcpCannotStretchTheSearch) {
    // One TCP fetch may take 20 s, the whole multicast search 1 s: the search wins.
    Reopen("net.slp.multicastMaximumWait = 1000\nnet.slp.unicastMaximumWait = 20000\n");
    const std::string rogueUrl = std::string(kServiceType) + "://127.0.0.5";
    CRogueAgent rogue(
        "127.0.0.5", CRogueAgent::Tcp::StallFirst,
        [&rogueUrl](const SlpHeader& request, bool) -> CRogueAgent::Replies {
            return {Overflowed(request, SlpSrvRply{0, {{60, rogueUrl}}})};
        },
        std::chrono::seconds(20));
    Found found;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(SLPFindSrvs(m_handle, kServiceType, "default", "", Collect, &found),
              SLP_NETWORK_ERROR);
    // Generous: it ends at about 1 s; a stalled fetch or the flood would hold it 20 s.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_EQ(rogue.Connections(), 1);
    EXPECT_EQ(found.last, SLP_NETWORK_ERROR) << "a cut-short reply makes the search incomplete";
    // What arrived whole is delivered, the cut-short reply's URL included.
    for (const char* agent : {"127.0.0.2", "127.0.0.3", "127.0.0.5"}) {
        EXPECT_NE(std::find(found.urls.begin(), found.urls.end(),
                            std::string(kServiceType) + "://" + agent),
                  found.urls.end())
            << agent;
    }
}

TEST_F(SlpConvergence, DirectoryAgentErrorsFallBackToMulticastAndAreReportedIfItFindsNothing) {
    CRogueAgent da("127.0.0.6", CRogueAgent::Tcp::Refuse,
                   [](const SlpHeader& request, bool multicast) -> CRogueAgent::Replies {
                       SlpHeader header;
                       header.xid = request.xid;
                       if (multicast) {
                           return {};
                       }
                       if (request.function == SlpFunction::AttrRqst) {
                           return {CSlpMessageCodec::Encode(header, SlpAttrRply{4, ""})};
                       }
                       return {CSlpMessageCodec::Encode(header, SlpSrvRply{10, {}})};
                   });
    Reopen("net.slp.DAAddresses = 127.0.0.6\n");
    Found found;
    EXPECT_EQ(SLPFindSrvs(m_handle, kServiceType, "default", "", Collect, &found), SLP_OK);
    EXPECT_EQ(found.urls.size(), 3u);
    EXPECT_EQ(found.last, SLP_LAST_CALL);

    Found none;
    EXPECT_EQ(SLPFindSrvs(m_handle, "service:printer", "default", "", Collect, &none),
              SLP_INTERNAL_SYSTEM_ERROR);
    EXPECT_TRUE(none.urls.empty());
    EXPECT_EQ(none.last, SLP_INTERNAL_SYSTEM_ERROR);

    SLPError last = SLP_OK;
    auto keep = [](SLPHandle, const char*, SLPError error, void* cookie) {
        *static_cast<SLPError*>(cookie) = error;
        return SLP_TRUE;
    };
    EXPECT_EQ(SLPFindAttrs(m_handle, "service:raid.004417://127.0.0.9", "default", "", keep, &last),
              SLP_SCOPE_NOT_SUPPORTED);
    EXPECT_EQ(last, SLP_SCOPE_NOT_SUPPORTED);
}

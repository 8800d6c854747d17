// Remembered authorizations across a restart of the core: what is sealed, what comes back only
// after its array answers a login with the remembered credentials, what is dropped, and files
// that do not open, which are kept untouched until the operator forgets them.
#include "core/seal/CAuthorizationSeal.h"

#include "core/COrvaneSrvCore.h"
#include "core/seal/CRealFileOps.h"
#include "platform/text/TextConv.h"
#include "tests/core/CoreTestSupport.h"
#include "tests/platform/http/CLoopbackHttpPeer.h"
#include "tests/support/TestFiles.h"
#include "tests/support/WaitUntil.h"

#include <condition_variable>
#include <future>
#include <gtest/gtest.h>
#include <mutex>

namespace {

using namespace std::chrono_literals;

constexpr const char* kPassphrase = "correct horse battery";

// The system's file calls, but an fsync waits while the test holds it: a write of the sealed
// file that stays under way as long as the test likes.
class CHeldFsync : public CRealFileOps {
public:
    int Fsync(int fd) override {
        std::unique_lock lock(m_mutex);
        ++m_nWaiting;
        m_changed.wait(lock, [this] { return !m_bHeld; });
        --m_nWaiting;
        return CRealFileOps::Fsync(fd);
    }
    void Hold() {
        std::lock_guard lock(m_mutex);
        m_bHeld = true;
    }
    void Release() {
        std::lock_guard lock(m_mutex);
        m_bHeld = false;
        m_changed.notify_all();
    }
    bool Waiting() {
        std::lock_guard lock(m_mutex);
        return m_nWaiting > 0;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_bHeld = false;
    int m_nWaiting = 0;
};

class AuthorizationSeal : public ::testing::Test {
protected:
    // A core as the program starts it, with its seal started over the test's file.
    std::unique_ptr<COrvaneSrvCore> Start(const CSecretBytes* key, uint16_t port = 1,
                                          std::shared_ptr<IFileOps> ops = RealFileOps()) {
        auto core = StartCore(m_dir / "registry.db");
        core->Seal().SetLoginOptions({.nPort = port, .connectTimeout = 5s, .requestTimeout = 5s});
        core->Seal().SetFileOps(std::move(ops));
        core->Seal().Start(m_file, key ? CSecretBytes::CopyOf(key->Bytes()) : CSecretBytes());
        return core;
    }
    // An array as discovery lists it, authorized with these credentials or not.
    static void Put(COrvaneSrvCore& core, const std::u16string& mac, const std::string& ip,
                    const std::u16string& password = {}) {
        core.ChangeServers([&](CServerTable& table) {
            auto record = std::make_unique<CServerData>();
            record->SetMAC(Utf16ToUtf8(mac));
            record->SetIPAddr(ip);
            if (!password.empty()) {
                record->m_bAuthorized = 1;
                record->SetAuthorizedIP(ip);
                record->SetLoginCredentials(u"admin", password);
            }
            table.Remove(mac);
            table.Add(mac, std::move(record));
        });
    }
    std::vector<CSealedAuthorization> Opened(const CSecretBytes& key) const {
        const CSealOpened opened = OpenSealedFile(ReadFileText(m_file), key.Bytes());
        EXPECT_EQ(opened.eError, ESealError::None);
        return opened.records;
    }

    CTempDir m_dir;
    std::filesystem::path m_file = m_dir / "authorizations.sealed";
    CSecretBytes m_key = CSecretBytes::Random(kAeadKeyBytes);
};

TEST_F(AuthorizationSeal, ARestartHandsOutOnlyWhatItsArrayConfirmsAgain) {
    CLoopbackHttpPeer accepts({CLoopbackHttpPeer::Reply(200, "<ok/>")}, "127.0.0.1");
    CLoopbackHttpPeer refuses({CLoopbackHttpPeer::Reply(401, "")}, "127.0.0.2", accepts.Port());
    ASSERT_NE(refuses.Port(), 0);
    {
        auto core = Start(&m_key);
        Put(*core, u"m1", "127.0.0.1", u"first-secret");
        Put(*core, u"m2", "127.0.0.2", u"second-secret");
        core->FreeTables(); // the last write, as at shutdown
    }
    const std::string sealed = ReadFileText(m_file);
    for (const std::string secret : {"first-secret", "second-secret"}) {
        std::string wide; // as UTF-16LE
        for (const char c : secret) {
            wide += {c, '\0'};
        }
        EXPECT_EQ(sealed.find(secret), std::string::npos);
        EXPECT_EQ(sealed.find(wide), std::string::npos);
    }
    ASSERT_EQ(Opened(m_key).size(), 2u);

    auto core = Start(&m_key, accepts.Port());
    CSealStatus status = core->Seal().Status();
    EXPECT_EQ(status.eState, ESealState::Open);
    EXPECT_EQ(status.nRemembered, 2u);
    EXPECT_EQ(status.nWaiting, 2u);
    EXPECT_TRUE(core->Seal().IsVerifying());
    // Nothing is handed out before the array is sighted and answers.
    Put(*core, u"m1", "127.0.0.9");
    core->Seal().RunOnce();
    EXPECT_EQ(core->ServerRecord(u"m1")->m_bAuthorized, 0);
    EXPECT_EQ(core->Seal().Status().nWaiting, 2u) << "another address is no sighting";
    Put(*core, u"m1", "127.0.0.1");
    Put(*core, u"m2", "127.0.0.2");
    ASSERT_TRUE(WaitUntil([&] {
        status = core->Seal().Status();
        return status.nVerified == 1 && status.Dropped() == 1;
    }));
    const auto m1 = core->ServerRecord(u"m1");
    EXPECT_EQ(m1->m_bAuthorized, 1);
    EXPECT_EQ(m1->m_strLoginPasswd, u"first-secret");
    EXPECT_EQ(core->ServerRecord(u"m2")->m_bAuthorized, 0);
    EXPECT_EQ(status.dropped.at("the array refused the remembered password"), 1u);
    EXPECT_FALSE(core->Seal().IsVerifying());
    core->FreeTables();
    const auto records = Opened(m_key);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].strMAC, u"m1");
}

// With thousands of records a write takes long; the logins that verify remembered
// authorizations go on meanwhile instead of waiting for it.
TEST_F(AuthorizationSeal, ARememberedAuthorizationIsVerifiedWhileTheFileIsBeingWritten) {
    CLoopbackHttpPeer accepts({CLoopbackHttpPeer::Reply(200, "<ok/>")}, "127.0.0.1");
    {
        auto core = Start(&m_key);
        Put(*core, u"m1", "127.0.0.1", u"pw");
    }
    const auto ops = std::make_shared<CHeldFsync>();
    auto core = Start(&m_key, accepts.Port(), ops);
    ops->Hold();
    Put(*core, u"m2", "127.0.0.2", u"pw2"); // a change for the worker to write
    ASSERT_TRUE(WaitUntil([&] { return ops->Waiting(); }));
    Put(*core, u"m1", "127.0.0.1");
    auto round = std::async(std::launch::async, [&] { core->Seal().RunOnce(); });
    const bool bVerified = WaitUntil([&] { return core->ServerRecord(u"m1")->m_bAuthorized != 0; });
    ops->Release();
    round.get();
    EXPECT_TRUE(bVerified) << "the login waited for the write";
    EXPECT_EQ(core->Seal().Status().nVerified, 1u);
    core->FreeTables();
    EXPECT_EQ(Opened(m_key).size(), 2u);
}

TEST_F(AuthorizationSeal, APassphraseOpensTheFileAndAWrongOneChangesNothing) {
    {
        auto core = Start(nullptr);
        EXPECT_EQ(core->Seal().Status().eState, ESealState::Off);
        Put(*core, u"m1", "127.0.0.1", u"pw");
        const CSealAnswer on = core->Seal().SealWith(kPassphrase);
        EXPECT_TRUE(on.bDone) << on.strText;
        EXPECT_EQ(core->Seal().Status().eMode, ESealMode::Passphrase);
    }
    const std::string sealed = ReadFileText(m_file);
    auto core = Start(nullptr);
    EXPECT_EQ(core->Seal().Status().eState, ESealState::Waiting);
    EXPECT_TRUE(core->Seal().Status().bAsksPassphrase);
    EXPECT_TRUE(core->Seal().IsVerifying()) << "\"/Query\" says arrays are on their way";
    Put(*core, u"m2", "127.0.0.2", u"pw2");
    const CSealAnswer wrong = core->Seal().Unseal("not the passphrase");
    EXPECT_FALSE(wrong.bDone);
    EXPECT_TRUE(core->Seal().IsVerifying());
    core->Seal().RunOnce();
    EXPECT_EQ(ReadFileText(m_file), sealed) << "a waiting file is never overwritten";
    const CSealAnswer right = core->Seal().Unseal(kPassphrase);
    EXPECT_TRUE(right.bDone) << right.strText;
    EXPECT_EQ(core->Seal().Status().nRemembered, 1u);
    // Guessing is slowed down as "/Query" slows it: the right passphrase is refused unchecked.
    core.reset();
    core = Start(nullptr);
    for (int i = 0; i < CAuthorizationSeal::kMaxUnsealFailures; ++i) {
        EXPECT_FALSE(core->Seal().Unseal("guess").bDone);
    }
    EXPECT_FALSE(core->Seal().Unseal(kPassphrase).bDone);
    EXPECT_EQ(core->Seal().Status().eState, ESealState::Waiting);
    EXPECT_TRUE(core->Seal().TurnOff().bDone);
    EXPECT_FALSE(core->Seal().IsVerifying()) << "a forgotten file brings nothing";
}

TEST_F(AuthorizationSeal, AFileThatDoesNotOpenIsKeptUntilTheOperatorForgetsIt) {
    {
        auto core = Start(&m_key);
        Put(*core, u"m1", "127.0.0.1", u"pw");
    }
    std::string bytes = ReadFileText(m_file);
    struct CCase {
        const char* label;
        std::string file;
        bool bOtherKey;
    };
    std::string flipped = bytes;
    flipped[flipped.size() - 1] ^= 1;
    const CCase cases[] = {{"tampered", flipped, false},
                           {"truncated", bytes.substr(0, bytes.size() / 2), false},
                           {"another key", bytes, true},
                           {"not a sealed file", "hello", false}};
    for (const CCase& c : cases) {
        ASSERT_TRUE(WriteFileText(m_file, c.file));
        const CSecretBytes other = CSecretBytes::Random(kAeadKeyBytes);
        auto core = Start(c.bOtherKey ? &other : &m_key);
        EXPECT_EQ(core->Seal().Status().eState, ESealState::Refused) << c.label;
        EXPECT_FALSE(core->Seal().Status().strProblem.empty()) << c.label;
        Put(*core, u"m2", "127.0.0.2", u"pw2");
        core->FreeTables();
        EXPECT_EQ(ReadFileText(m_file), c.file) << c.label;
    }
    auto core = Start(&m_key);
    EXPECT_FALSE(core->Seal().SealWith(kPassphrase).bDone);
    EXPECT_TRUE(core->Seal().TurnOff().bDone);
    EXPECT_FALSE(std::filesystem::exists(m_file));
    EXPECT_EQ(core->Seal().Status().eState, ESealState::Off);
}

TEST_F(AuthorizationSeal, AFailedWriteIsReportedAndTriedAgainAtTheNextChange) {
    auto core = Start(&m_key);
    Put(*core, u"m1", "127.0.0.1", u"pw");
    // A folder in the file's place: the rename over it fails.
    std::filesystem::create_directories(m_file / "in-the-way");
    core->Seal().RunOnce();
    ASSERT_TRUE(WaitUntil([&] { return !core->Seal().Status().strWriteError.empty(); }));
    std::filesystem::remove_all(m_file);
    Put(*core, u"m2", "127.0.0.2", u"pw2");
    ASSERT_TRUE(WaitUntil([&] { return core->Seal().Status().strWriteError.empty(); }));
    EXPECT_EQ(Opened(m_key).size(), 2u);
}

} // namespace

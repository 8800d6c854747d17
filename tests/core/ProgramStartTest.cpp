// The OrvaneSrv program started over a store it cannot use: it says why and ends with status 2
// without serving anything. Run in a private network namespace made for the test, in case it
// started its service after all.
#include "tests/support/CProgramNamespaceTest.h"

#include <gtest/gtest.h>

namespace {

class ProgramStart : public CProgramNamespaceTest {
protected:
    ProgramStart() : CProgramNamespaceTest({"md5sum"}) {}
};

TEST_F(ProgramStart, AGarbageStoreEndsTheProgramWithAReasonAndStatus2) {
    std::string garbage;
    for (int i = 0; i < 2000; ++i) {
        garbage += static_cast<char>((i * 7919) % 251);
    }
    m_config.Write("OrvaneSrv/registry.db", garbage);
    const std::string db = (m_config / "OrvaneSrv/registry.db").string();
    const std::string out = InNamespace(R"sh(
db="$XDG_CONFIG_HOME/OrvaneSrv/registry.db"
before=$(md5sum < "$db")
timeout 10 "$program" 2>&1
echo "exit $?"
[ "$before" = "$(md5sum < "$db")" ] && echo unchanged
curl -s -o /dev/null http://127.0.0.1:51001/ || echo "nothing served"
)sh");
    EXPECT_NE(out.find("OrvaneSrv cannot use the directory store " + db), std::string::npos) << out;
    EXPECT_NE(out.find("file is not a database"), std::string::npos) << out;
    EXPECT_NE(out.find("\nexit 2\nunchanged\nnothing served\n"), std::string::npos) << out;
}

TEST_F(ProgramStart, ASealKeyThatIsNotSafeEndsTheStartWithItsReason) {
    // Each case: a key file refused, given by option or as the service manager's credential.
    const std::string out = InNamespace(R"sh(
keys=$(mktemp -d)
head -c 32 /dev/urandom > "$keys/open"; chmod 0644 "$keys/open"
printf short > "$keys/short"; chmod 0600 "$keys/short"
mkdir "$keys/creds"; printf short > "$keys/creds/orvanesrv-seal-key"; chmod 0600 "$keys/creds/orvanesrv-seal-key"
timeout 10 "$program" --headless --seal-key "$keys/open" 2>&1; echo "exit $?"
timeout 10 "$program" --headless --seal-key "$keys/short" 2>&1; echo "exit $?"
CREDENTIALS_DIRECTORY="$keys/creds" timeout 10 "$program" --headless 2>&1; echo "exit $?"
curl -s -o /dev/null http://127.0.0.1:51001/ || echo "nothing served"
rm -rf "$keys"
)sh");
    EXPECT_NE(out.find("0600"), std::string::npos) << out;
    std::size_t refused = 0;
    for (std::size_t at = out.find("exit 2\n"); at != std::string::npos;
         at = out.find("exit 2\n", at + 1)) {
        ++refused;
    }
    EXPECT_EQ(refused, 3u) << out;
    EXPECT_NE(out.find("orvanesrv-seal-key"), std::string::npos) << out;
    EXPECT_NE(out.find("nothing served"), std::string::npos) << out;
}

} // namespace

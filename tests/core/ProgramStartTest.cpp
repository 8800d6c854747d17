// The OrvaneSrv program started over a store it cannot use: it says why and ends with status 2
// without serving anything. Run in a private network namespace made for the test, in case it
// started its service after all.
#include "tests/support/CTempDir.h"
#include "tests/support/RunShell.h"

#include <gtest/gtest.h>
#include <unistd.h>

TEST(ProgramStart, AGarbageStoreEndsTheProgramWithAReasonAndStatus2) {
    if (::geteuid() != 0 || RunShell("command -v unshare md5sum | wc -l") != "2\n") {
        GTEST_SKIP() << "needs root, unshare and md5sum";
    }
    CTempDir config;
    CTempDir www;
    std::string garbage;
    for (int i = 0; i < 2000; ++i) {
        garbage += static_cast<char>((i * 7919) % 251);
    }
    config.Write("OrvaneSrv/registry.db", garbage);
    const std::string db = (config / "OrvaneSrv/registry.db").string();
    const std::string out =
        RunShell("cd '" + www.Path().string() + "' && before=$(md5sum < '" + db +
                 "') && XDG_CONFIG_HOME='" + config.Path().string() +
                 "' timeout 10 unshare -n '" ORVANE_BIN_DIR
                 "/OrvaneSrv' 2>&1; echo \"exit $?\"; [ \"$before\" = \"$(md5sum "
                 "< '" +
                 db + "')\" ] && echo unchanged");
    EXPECT_NE(out.find("OrvaneSrv cannot use the directory store " + db), std::string::npos) << out;
    EXPECT_NE(out.find("file is not a database"), std::string::npos) << out;
    EXPECT_NE(out.find("\nexit 2\nunchanged\n"), std::string::npos) << out;
}

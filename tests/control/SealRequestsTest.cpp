// The seal's lines in "status" and the requests' refusals as orvanectl shows them.
#include "control/SealRequests.h"

#include "core/COrvaneSrvCore.h"
#include "tests/core/CoreTestSupport.h"

#include <gtest/gtest.h>

namespace {

TEST(SealRequests, StatusNamesTheStateAndEveryReasonForADrop) {
    CSealStatus status;
    status.eMode = ESealMode::KeyFile;
    status.eState = ESealState::Open;
    status.nRemembered = 5;
    status.nWaiting = 1;
    status.nVerified = 2;
    status.dropped = {{"the array did not answer", 1}, {"the array refused it", 1}};
    status.strWriteError = "No space left on device";
    std::map<std::string, std::pair<std::string, std::string>> fields;
    for (const CSealStatusField& field : SealStatusFields(status)) {
        fields[field.key] = {field.value, field.json};
    }
    EXPECT_EQ(fields["remembering"].first, "key file");
    EXPECT_EQ(fields["remembering"].second, "\"key file\"");
    EXPECT_EQ(fields["sealedFile"].first,
              "open, sealed with a key file; the last write failed: No space left on device");
    EXPECT_EQ(fields["rememberedWaiting"].second, "1");
    EXPECT_EQ(fields["rememberedDropped"].first,
              "2 (1 the array did not answer; 1 the array refused it)");
    EXPECT_EQ(fields["rememberedDroppedBy"].second,
              R"({"the array did not answer": 1, "the array refused it": 1})");
    // A file that waits or is refused says why.
    status.eState = ESealState::Refused;
    status.strProblem = "changed";
    EXPECT_EQ(SealStateText(status), "refused: changed");
}

TEST(SealRequests, MalformedRequestsAndRequestsWithNothingSealedAreRefused) {
    CTempDir dir;
    auto core = StartCore(dir / "registry.db");
    core->Seal().Start(dir / "authorizations.sealed", {});
    const std::vector<std::vector<std::string>> requests = {
        {"seal"}, {"seal", "--on"}, {"unseal", "--passphrase"}, {"seal", "--passphrase", "a", "b"}};
    for (const auto& args : requests) {
        EXPECT_EQ(RunSealRequest(*core, args).nStatus, 2) << ::testing::PrintToString(args);
    }
    const CControlReply unseal = RunSealRequest(*core, {"unseal", "--passphrase", "x"});
    EXPECT_EQ(unseal.nStatus, 1);
    EXPECT_EQ(unseal.strErr, "nothing is sealed\n");
}

} // namespace

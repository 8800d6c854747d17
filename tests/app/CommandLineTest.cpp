// The program's command line: its own options, what it hands to the toolkit, and what it refuses.
#include "app/CCommandLine.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using EAction = CCommandLine::EAction;

struct CCase {
    std::vector<std::string> args; // after the program name
    EAction action;
    bool bHeadless;
    std::string www;
    std::vector<std::string> toolkit; // after the program name
};

std::vector<std::string> ToolkitArgs(CCommandLine& line) {
    std::vector<std::string> args;
    auto& raw = line.ToolkitArgs();
    EXPECT_EQ(raw.back(), nullptr);
    for (std::size_t i = 1; i + 1 < raw.size(); ++i) {
        args.emplace_back(raw[i]);
    }
    return args;
}

TEST(CommandLine, ParsesItsOwnOptionsAndPassesTheToolkitsOn) {
    const std::vector<CCase> cases = {
        {{}, EAction::Run, false, "", {}},
        {{"--headless", "--www", "/srv/w"}, EAction::Run, true, "/srv/w", {}},
        {{"--www=/srv/w"}, EAction::Run, false, "/srv/w", {}},
        {{"--https-only-query", "--headless"}, EAction::Run, true, "", {}},
        {{"--seal-key", "/etc/k", "--headless"}, EAction::Run, true, "", {}},
        {{"--seal-key=k"}, EAction::Run, false, "", {}},
        {{"--help"}, EAction::Help, false, "", {}},
        {{"-h", "--version"}, EAction::Help, false, "", {}},
        {{"--version", "--headless"}, EAction::Version, true, "", {}},
        {{"-platform", "offscreen", "--headless", "-reverse"},
         EAction::Run,
         true,
         "",
         {"-platform", "offscreen", "-reverse"}},
        {{"--style=fusion", "--platform", "xcb"},
         EAction::Run,
         false,
         "",
         {"--style=fusion", "--platform", "xcb"}},
        // Refused: unknown options, stray words, missing values, a value on a flag.
        {{"--frobnicate"}, EAction::BadUsage, false, "", {}},
        {{"--help", "--frobnicate"}, EAction::BadUsage, false, "", {}},
        {{"serve"}, EAction::BadUsage, false, "", {}},
        {{"--www"}, EAction::BadUsage, false, "", {}},
        {{"--www="}, EAction::BadUsage, false, "", {}},
        {{"--seal-key"}, EAction::BadUsage, false, "", {}},
        {{"--seal-key="}, EAction::BadUsage, false, "", {}},
        {{"-platform"}, EAction::BadUsage, false, "", {}},
        {{"-reverse=1"}, EAction::BadUsage, false, "", {}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> storage{"OrvaneSrv"};
        storage.insert(storage.end(), c.args.begin(), c.args.end());
        std::vector<char*> argv;
        for (auto& s : storage) {
            argv.push_back(s.data());
        }
        CCommandLine line(argv);
        const std::string label = ::testing::PrintToString(c.args);
        EXPECT_EQ(line.Action(), c.action) << label;
        EXPECT_EQ(line.Action() == EAction::BadUsage, !line.Error().empty()) << label;
        if (c.action == EAction::BadUsage) {
            continue;
        }
        EXPECT_EQ(line.Headless(), c.bHeadless) << label;
        EXPECT_EQ(line.WwwDir(), c.www) << label;
        EXPECT_EQ(line.HttpsOnlyQuery(), std::ranges::count(c.args, "--https-only-query") == 1)
            << label;
        EXPECT_EQ(ToolkitArgs(line), c.toolkit) << label;
        // A relative key file is made absolute before the program changes into its folder.
        EXPECT_EQ(line.SealKeyFile().empty(),
                  std::ranges::count_if(
                      c.args, [](const auto& a) { return a.starts_with("--seal-key"); }) == 0)
            << label;
        EXPECT_TRUE(line.SealKeyFile().empty() || line.SealKeyFile().is_absolute()) << label;
        EXPECT_EQ(line.ToolkitArgs().front(), argv.front()) << label;
    }
}

} // namespace

// The memo of mapped groups answers what the rules answer for the tables of the generation asked
// about, however the lists of DNs are split and however many there are.
#include "core/ldap/CMappedGroupsMemo.h"

#include "core/CDirectoryRules.h"
#include "tests/core/CoreTestSupport.h"

#include <gtest/gtest.h>

namespace {

using Dns = std::vector<std::string>;

TEST(LdapMappedGroupsMemo, AnswersAsTheRulesDoForTheGenerationAsked) {
    CGroupTable groups;
    groups[u"ops"] = Group(u"ops", {}, {}, {u"cn=a", u"cn=b"});
    CMappedGroupsMemo memo;
    const Names ops = {u"Everyone", u"ops"};
    // Each step: the DNs, the generation, what the tables give then.
    const struct {
        Dns dns;
        uint64_t generation;
        Names expected;
    } steps[] = {
        {{"cn=a"}, 1, ops},
        {{"cn=acn=b"}, 1, {}}, // the bytes of two DNs in one: not the same list
        {{"cn=a", "cn=b"}, 1, ops},
        {{"cn=c"}, 1, {}},
        {{"cn=a"}, 2, {}}, // the group lost cn=a before generation 2
        {{"cn=c"}, 2, ops},
    };
    for (const auto& step : steps) {
        if (step.generation == 2) {
            groups[u"ops"] = Group(u"ops", {}, {}, {u"cn=c"});
        }
        EXPECT_EQ(memo.Mapped(groups, step.generation, step.dns), step.expected)
            << step.dns.front() << " at " << step.generation;
    }
    // More lists than it keeps in one generation: still the rules' answer for each.
    for (std::size_t i = 0; i <= CMappedGroupsMemo::kMaxSets; ++i) {
        const Dns dns = {"cn=c", "cn=x" + std::to_string(i)};
        ASSERT_EQ(memo.Mapped(groups, 2, dns), CDirectoryRules::MappedGroups(groups, dns)) << i;
    }
    EXPECT_EQ(memo.Mapped(groups, 2, Dns{"cn=c", "cn=x0"}), ops);
}

} // namespace

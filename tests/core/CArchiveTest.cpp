#include "core/CArchiveReader.h"
#include "core/CArchiveWriter.h"
#include "core/CConfigFile.h"
#include "core/CGroupData.h"
#include "core/CUserData.h"
#include "tests/core/CoreTestSupport.h"
#include "tests/support/CAllocationWatch.h"
#include "tests/support/Hex.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace {

const std::vector<uint8_t> kEveryoneBody =
    FromHex("FF FE FF 08 45 00 76 00 65 00 72 00 79 00 6F 00 6E 00 65 00"
            "01 00 FF FE FF 05 61 00 64 00 6D 00 69 00 6E 00 00 00");

std::unique_ptr<CGroupData> Everyone() {
    auto g = std::make_unique<CGroupData>(u"Everyone");
    g->m_listUsers.push_back(u"admin");
    return g;
}

std::vector<uint8_t> TextBytes(std::u16string_view text) {
    CArchiveWriter ar;
    ar.WriteText(text);
    return ar.TakeBytes();
}

template <typename Record>
EArchiveError ReadError(const std::vector<uint8_t>& bytes) {
    CArchiveReader ar(bytes);
    Record record;
    EXPECT_FALSE(record.Deserialize(ar));
    return ar.Error();
}

EArchiveError ReadUserError(const std::vector<uint8_t>& bytes) {
    return ReadError<CUserData>(bytes);
}

EArchiveError ReadGroupError(const std::vector<uint8_t>& bytes) {
    return ReadError<CGroupData>(bytes);
}

// A list of one directory group, "cn=a", as it follows the access list.
const std::vector<uint8_t> kDirectoryGroupsList =
    FromHex("01 00 FF FE FF 04 63 00 6E 00 3D 00 61 00");

} // namespace

TEST(Archive, TextsUseTheShortestLengthForm) {
    EXPECT_EQ(TextBytes(u""), FromHex("FF FE FF 00"));
    EXPECT_EQ(TextBytes(u"admin"), FromHex("FF FE FF 05 61 00 64 00 6D 00 69 00 6E 00"));
    const auto t254 = TextBytes(std::u16string(254, u'a'));
    EXPECT_EQ(std::vector<uint8_t>(t254.begin(), t254.begin() + 4), FromHex("FF FE FF FE"));
    EXPECT_EQ(t254.size(), 4u + 508);
    const auto t255 = TextBytes(std::u16string(255, u'a'));
    EXPECT_EQ(std::vector<uint8_t>(t255.begin(), t255.begin() + 6), FromHex("FF FE FF FF FF 00"));
    const auto t65534 = TextBytes(std::u16string(0xFFFE, u'a'));
    EXPECT_EQ(std::vector<uint8_t>(t65534.begin(), t65534.begin() + 10),
              FromHex("FF FE FF FF FF FF FE FF 00 00"));
}

TEST(Archive, CountsSwitchToTheLongFormAt65535) {
    CArchiveWriter ar;
    ar.WriteCount(0);
    ar.WriteCount(0xFFFE);
    ar.WriteCount(0xFFFF);
    EXPECT_EQ(ar.Bytes(), FromHex("00 00 FE FF FF FF FF FF 00 00"));
    CArchiveReader rd(ar.Bytes());
    uint32_t a = 1, b = 0, c = 0;
    ASSERT_TRUE(rd.ReadCount(a) && rd.ReadCount(b) && rd.ReadCount(c));
    EXPECT_EQ(a, 0u);
    EXPECT_EQ(b, 0xFFFEu);
    EXPECT_EQ(c, 0xFFFFu);
}

TEST(Archive, EveryoneBodyIsTheDocumented38Bytes) {
    CArchiveWriter ar;
    Everyone()->Serialize(ar);
    EXPECT_EQ(ar.Bytes(), kEveryoneBody);
    CArchiveReader rd(kEveryoneBody);
    CGroupData g;
    ASSERT_TRUE(g.Deserialize(rd));
    EXPECT_TRUE(rd.AtEnd());
    EXPECT_EQ(g.m_strName, u"Everyone");
    EXPECT_EQ(g.m_listUsers, std::vector<std::u16string>{u"admin"});
    EXPECT_TRUE(g.m_listAccess.empty());
}

TEST(Archive, UserBodyWithEmptyPassword) {
    CUserData u(u"bob", u"");
    u.m_listGroups = {u"Everyone"};
    CArchiveWriter ar;
    u.Serialize(ar);
    EXPECT_EQ(ar.Bytes(), FromHex("FF FE FF 03 62 00 6F 00 62 00 FF FE FF 00 01 00"
                                  "FF FE FF 08 45 00 76 00 65 00 72 00 79 00 6F 00 6E 00 65 00"));
}

TEST(Archive, ReaderAcceptsEightBitAndAllLengthForms) {
    // 8-bit "ab", 8-bit with WORD length "é" in UTF-8, UTF-16 with WORD length, UTF-16 with the
    // DWORD form, 8-bit with the QWORD form.
    const auto bytes = FromHex("02 61 62"
                               "FF 02 00 C3 A9"
                               "FF FE FF FF 01 00 7A 00"
                               "FF FE FF FF FF FF 01 00 00 00 79 00"
                               "FF FF FF FF FF FF FF 01 00 00 00 00 00 00 00 78");
    CArchiveReader rd(bytes);
    std::u16string a, b, c, d, e;
    ASSERT_TRUE(rd.ReadText(a) && rd.ReadText(b) && rd.ReadText(c) && rd.ReadText(d) &&
                rd.ReadText(e));
    EXPECT_EQ(a, u"ab");
    EXPECT_EQ(b, u"\u00e9");
    EXPECT_EQ(c, u"z");
    EXPECT_EQ(d, u"y");
    EXPECT_EQ(e, u"x");
    EXPECT_TRUE(rd.AtEnd());
}

TEST(Archive, EveryCutOfABodyIsEndOfData) {
    // A body with directory groups ends in a whole schema 0 body, where a cut reads as one.
    const auto mapped = Concat({kEveryoneBody, kDirectoryGroupsList});
    for (const auto& body : {kEveryoneBody, mapped}) {
        for (std::size_t n = 0; n < body.size(); ++n) {
            if (n == kEveryoneBody.size()) {
                continue;
            }
            CArchiveReader rd(std::span(body.data(), n));
            CGroupData g;
            EXPECT_FALSE(g.Deserialize(rd)) << n;
            EXPECT_EQ(rd.Error(), EArchiveError::EndOfFile) << n;
        }
    }
}

TEST(Archive, DirectoryGroupsFollowTheAccessListAtSchemaOneAndOnlyWhereThereAreAny) {
    // A body alone: the record's own schema, told on reading by whether bytes follow.
    auto mapped = Everyone();
    mapped->m_listDirectoryGroups = {u"cn=a"};
    const auto body = CArchiveWriter::Body(*mapped);
    EXPECT_EQ(ToHex(body), ToHex(Concat({kEveryoneBody, kDirectoryGroupsList})));
    EXPECT_EQ(Decode<CGroupData>(body).m_listDirectoryGroups, Names{u"cn=a"});
    EXPECT_TRUE(Decode<CGroupData>(kEveryoneBody).m_listDirectoryGroups.empty());

    // A file: one description for the class, at the highest schema any of its groups needs, so a
    // group without directory groups then holds an empty list (a file without any: above).
    CGroupTable groups;
    groups[u"Everyone"] = Everyone();
    groups[u"a"] = std::move(mapped);
    groups.at(u"a")->m_strName = u"a";
    const auto file = CConfigFile::Serialize(groups, {});
    const auto description = FromHex("FF FF 01 00 0A 00 43 47 72 6F 75 70 44 61 74 61");
    EXPECT_NE(std::search(file.begin(), file.end(), description.begin(), description.end()),
              file.end());
    CGroupTable read;
    CUserTable users;
    ASSERT_EQ(CConfigFile::Parse(file, read, users), EArchiveError::None);
    EXPECT_EQ(read.at(u"a")->m_listDirectoryGroups, Names{u"cn=a"});
    EXPECT_TRUE(read.at(u"Everyone")->m_listDirectoryGroups.empty());
}

TEST(Archive, HostileLengthsAreRefusedBeforeAnythingIsAllocatedForThem) {
    // No allocation for a body of at most 20 bytes comes near this; honouring any of the
    // lengths below would ask for gigabytes.
    constexpr std::size_t kSmallAllocation = 4096;
    const struct {
        const char* hex;
        EArchiveError error;
        bool bGroup = false;
    } cases[] = {
        // A length of 2^31 - 2 code units in a 12-byte value, of 2^31 in a 20-byte value.
        {"FF FE FF FF FF FF FE FF FF 7F 00 00", EArchiveError::EndOfFile},
        {"FF FE FF FF FF FF 00 00 00 80 41 00 42 00 43 00 44 00 45 00", EArchiveError::EndOfFile},
        // A QWORD length past 2^31 - 1.
        {"FF FE FF FF FF FF FF FF FF FF 00 00 00 80 00 00 00 00", EArchiveError::Generic},
        // A list count far larger than the data.
        {"FF FE FF 00 FF FE FF 00 FF FF FF FF FF 7F 00", EArchiveError::EndOfFile},
        // A group: name, no members, no access, then directory groups counted in billions, or
        // one DN whose length runs past the data.
        {"FF FE FF 00 00 00 00 00 FF FF FF FF FF 7F", EArchiveError::EndOfFile, true},
        {"FF FE FF 00 00 00 00 00 01 00 FF FE FF FF FF FF FE FF FF 7F", EArchiveError::EndOfFile,
         true},
    };
    for (const auto& c : cases) {
        const std::vector<uint8_t> bytes = FromHex(c.hex);
        CAllocationWatch watch;
        EXPECT_EQ(c.bGroup ? ReadGroupError(bytes) : ReadUserError(bytes), c.error) << c.hex;
        EXPECT_LT(watch.Largest(), kSmallAllocation) << c.hex;
    }
}

TEST(Archive, GroupTableOfOneGroupIsByteExact) {
    CGroupTable groups;
    groups[u"Everyone"] = Everyone();
    const auto bytes = CConfigFile::Serialize(groups, {});
    const auto expected = Concat({FromHex("01 00"),
                                  FromHex("FF FE FF 08 45 00 76 00 65 00 72 00 79 00 6F 00 6E 00 "
                                          "65 00"),
                                  FromHex("FF FF 00 00 0A 00 43 47 72 6F 75 70 44 61 74 61"),
                                  kEveryoneBody, FromHex("00 00")});
    EXPECT_EQ(ToHex(bytes), ToHex(expected));
}

TEST(Archive, ClassIndexRunsOnAcrossTables) {
    CGroupData g1(u"a"), g2(u"b");
    CUserData u1(u"x", u""), u2(u"y", u"");
    CArchiveWriter ar;
    ar.WriteObject(g1); // class 1, object 2
    ar.WriteObject(g2); // class reference 01 80, object 3
    ar.WriteObject(u1); // class 4, object 5
    ar.WriteObject(u2); // class reference 04 80
    const auto groupBody = [](char c) {
        return Concat(
            {FromHex("FF FE FF 01"), {static_cast<uint8_t>(c), 0}, FromHex("00 00 00 00")});
    };
    const auto userBody = [](char c) {
        return Concat(
            {FromHex("FF FE FF 01"), {static_cast<uint8_t>(c), 0}, FromHex("FF FE FF 00 00 00")});
    };
    const auto expected = Concat({FromHex("FF FF 00 00 0A 00 43 47 72 6F 75 70 44 61 74 61"),
                                  groupBody('a'), FromHex("01 80"), groupBody('b'),
                                  FromHex("FF FF 00 00 09 00 43 55 73 65 72 44 61 74 61"),
                                  userBody('x'), FromHex("04 80"), userBody('y')});
    EXPECT_EQ(ToHex(ar.Bytes()), ToHex(expected));
}

TEST(Archive, UserClassTakesIndexOneAfterAnEmptyGroupTable) {
    CUserTable users;
    users[u"x"] = std::make_unique<CUserData>(u"x", u"");
    users[u"y"] = std::make_unique<CUserData>(u"y", u"");
    const auto file = CConfigFile::Serialize({}, users);
    // 00 00, count 02 00, key, class description, body, key, then the second user's tag.
    const std::size_t secondTag = 2 + 2 + 6 + 15 + 12 + 6;
    ASSERT_GT(file.size(), secondTag + 1);
    EXPECT_EQ(file[secondTag], 0x01);
    EXPECT_EQ(file[secondTag + 1], 0x80);
    CGroupTable readGroups;
    CUserTable readUsers;
    EXPECT_EQ(CConfigFile::Parse(file, readGroups, readUsers), EArchiveError::None);
    EXPECT_EQ(readUsers.size(), 2u);
}

TEST(Archive, LongTagFormForLargeIndexes) {
    // Past 0x7FFE objects, the user class takes an index that needs 7F FF and a DWORD.
    CGroupTable groups;
    for (int i = 0; i < 0x8000; ++i) {
        auto name = u"g" + std::u16string(1, static_cast<char16_t>(0x100 + i));
        groups[name] = std::make_unique<CGroupData>(name);
    }
    CUserTable users;
    for (const auto* name : {u"x", u"y", u"z"}) {
        users[name] = std::make_unique<CUserData>(name, u"");
    }
    const auto file = CConfigFile::Serialize(groups, users);
    const auto longTag = FromHex("FF 7F 02 80 00 80"); // class index 0x8002
    std::size_t hits = 0;
    for (std::size_t i = 0; i + longTag.size() <= file.size(); ++i) {
        hits += std::equal(longTag.begin(), longTag.end(), file.begin() + i) ? 1 : 0;
    }
    EXPECT_EQ(hits, 2u);
    CGroupTable g;
    CUserTable u;
    ASSERT_EQ(CConfigFile::Parse(file, g, u), EArchiveError::None);
    EXPECT_EQ(g.size(), groups.size());
    EXPECT_EQ(u.size(), users.size());
}

TEST(Archive, ClassDescriptionsAreValidated) {
    const auto key = FromHex("01 00 FF FE FF 01 61 00");
    auto parse = [&](const std::vector<uint8_t>& tail) {
        CGroupTable g;
        CUserTable u;
        return CConfigFile::Parse(Concat({key, tail}), g, u);
    };
    // Unknown class, a schema newer than the class's newest, a name of 64 bytes, a description
    // cut short.
    EXPECT_EQ(parse(FromHex("FF FF 00 00 07 00 43 4F 62 6A 65 63 74")), EArchiveError::BadClass);
    EXPECT_EQ(parse(FromHex("FF FF 02 00 0A 00 43 47 72 6F 75 70 44 61 74 61")),
              EArchiveError::BadSchema);
    EXPECT_EQ(parse(FromHex("FF FF 01 00 09 00 43 55 73 65 72 44 61 74 61")),
              EArchiveError::BadSchema);
    EXPECT_EQ(parse(Concat({FromHex("FF FF 00 00 40 00"), std::vector<uint8_t>(64, 'C')})),
              EArchiveError::BadClass);
    EXPECT_EQ(parse(FromHex("FF FF 00")), EArchiveError::BadClass);
    EXPECT_EQ(parse(FromHex("FF FF 00 00 0A 00 43 47")), EArchiveError::BadClass);
    // A class reference to nothing described, the absent object, a reference to an object.
    EXPECT_EQ(parse(FromHex("01 80")), EArchiveError::BadIndex);
    EXPECT_EQ(parse(FromHex("00 00")), EArchiveError::BadIndex);
    EXPECT_EQ(parse(FromHex("05 00")), EArchiveError::BadIndex);
    EXPECT_EQ(parse(FromHex("FF 7F 01 00 00 80")), EArchiveError::BadIndex);
    // A user record in the group table.
    EXPECT_EQ(parse(FromHex("FF FF 00 00 09 00 43 55 73 65 72 44 61 74 61"
                            "FF FE FF 00 FF FE FF 00 00 00")),
              EArchiveError::BadClass);
}

TEST(Archive, TableReferenceToEarlierObjectIsBadIndex) {
    CGroupTable groups;
    groups[u"Everyone"] = Everyone();
    auto bytes = CConfigFile::Serialize(groups, {});
    bytes.pop_back();
    bytes.pop_back();
    // A user table whose one entry refers back to the group object (index 2).
    const auto tail = Concat({FromHex("01 00 FF FE FF 01 61 00 02 00")});
    bytes.insert(bytes.end(), tail.begin(), tail.end());
    CGroupTable g;
    CUserTable u;
    EXPECT_EQ(CConfigFile::Parse(bytes, g, u), EArchiveError::BadIndex);
}

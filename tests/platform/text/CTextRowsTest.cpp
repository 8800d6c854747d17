// The rows behind report lists: lookups through a column index stay right across edits, appends
// and batch deletes.
#include "platform/text/CTextRows.h"

#include <gtest/gtest.h>

namespace {

constexpr std::size_t kKey = 1;

CTextRows Sample() {
    CTextRows rows(3);
    rows.IndexColumn(kKey);
    rows.AppendRow({u"a", u"k1"});
    rows.AppendRow({u"b", u"k2", u"x", u"ignored"});
    rows.AppendRow({u"c", u"k1"});
    return rows;
}

TEST(TextRows, IndexedLookupsFollowEditsAppendsAndDeletes) {
    CTextRows rows = Sample();
    EXPECT_EQ(rows.Cell(0, 2), u"");
    EXPECT_EQ(rows.FindRow(kKey, u"k1"), 0u); // the first of two
    EXPECT_EQ(rows.FindRow(kKey, u"K1"), CTextRows::npos);

    rows.SetCell(0, kKey, u"k3");
    EXPECT_EQ(rows.FindRow(kKey, u"k1"), 2u);
    EXPECT_EQ(rows.FindRow(kKey, u"k3"), 0u);

    const std::size_t doomed[] = {2, 0, 0, 9};
    rows.DeleteRows(doomed);
    ASSERT_EQ(rows.RowCount(), 1u);
    EXPECT_EQ(rows.Cell(0, 0), u"b");
    EXPECT_EQ(rows.FindRow(kKey, u"k2"), 0u);
    EXPECT_EQ(rows.FindRow(kKey, u"k1"), CTextRows::npos);

    EXPECT_EQ(rows.AppendRow({u"d", u"k2"}), 1u);
    rows.SetCell(0, kKey, u"k9");
    EXPECT_EQ(rows.FindRow(kKey, u"k2"), 1u);
}

TEST(TextRows, ABatchDeleteMovesTheIndexOnToTheNextRowOfTheSameKey) {
    CTextRows rows(2);
    rows.IndexColumn(kKey);
    for (const char16_t* key : {u"k1", u"k2", u"k1", u"k3", u"k1", u"k1"}) {
        rows.AppendRow({u"", key});
    }
    const std::size_t scattered[] = {0, 2, 3};
    rows.DeleteRows(scattered);
    ASSERT_EQ(rows.RowCount(), 3u);
    EXPECT_EQ(rows.FindRow(kKey, u"k2"), 0u);
    EXPECT_EQ(rows.FindRow(kKey, u"k1"), 1u);
    EXPECT_EQ(rows.FindRow(kKey, u"k3"), CTextRows::npos);
    rows.SetCell(1, kKey, u"k5");
    EXPECT_EQ(rows.FindRow(kKey, u"k1"), 2u);
    EXPECT_EQ(rows.FindRow(kKey, u"k5"), 1u);
}

TEST(TextRows, UnindexedColumnsAndLateIndexesAgree) {
    CTextRows rows = Sample();
    EXPECT_EQ(rows.FindRow(0, u"c"), 2u);
    rows.IndexColumn(0);
    EXPECT_EQ(rows.FindRow(0, u"c"), 2u);
    rows.DeleteRows(std::vector<std::size_t>{0});
    EXPECT_EQ(rows.FindRow(0, u"c"), 1u);
    rows.Clear();
    EXPECT_EQ(rows.FindRow(0, u"c"), CTextRows::npos);
}

} // namespace

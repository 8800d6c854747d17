// The report-mode list and the sorted list boxes on a real view: what a caller sees after its
// calls and after the operator's clicks.
#include "platform/ui/CListCtrl.h"

#include "platform/ui/CCheckListBox.h"
#include "platform/ui/CListBox.h"

#include <QHeaderView>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

namespace {

std::u16string Mac(std::size_t i) {
    return u"00:00:00:00:" + QString::number(i).toStdU16String();
}

class ListCtrl : public ::testing::Test {
protected:
    void SetUp() override {
        m_list.resize(400, 300);
        m_list.InsertColumn(QStringLiteral("IP address"), EColumnAlign::Center, 100);
        m_list.InsertColumn(QStringLiteral("MAC address"), EColumnAlign::Left, 120);
        m_list.SetFullRowSelect(true);
        m_list.IndexColumn(1);
        m_list.show();
    }
    void Fill(std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) {
            m_list.AppendItem({QString::number(i).toStdU16String(), Mac(i)});
        }
    }
    QPoint RowCentre(std::size_t row) {
        return m_list.visualRect(m_list.model()->index(static_cast<int>(row), 0)).center();
    }
    CListCtrl m_list;
};

TEST_F(ListCtrl, ColumnsKeepHeadingAlignmentAndWidthAndRefuseLateAdditions) {
    EXPECT_EQ(m_list.columnWidth(0), 100);
    EXPECT_EQ(m_list.columnWidth(1), 120);
    QAbstractItemModel* model = m_list.model();
    EXPECT_EQ(model->headerData(0, Qt::Horizontal).toString(), "IP address");
    EXPECT_TRUE(model->headerData(0, Qt::Horizontal, Qt::TextAlignmentRole)
                    .value<Qt::Alignment>()
                    .testFlag(Qt::AlignHCenter));
    Fill(1);
    EXPECT_TRUE(model->data(model->index(0, 1), Qt::TextAlignmentRole)
                    .value<Qt::Alignment>()
                    .testFlag(Qt::AlignLeft));
    // A column after the first row would leave the rows short of a cell.
    EXPECT_FALSE(m_list.InsertColumn(QStringLiteral("Late"), EColumnAlign::Left, 10));
    EXPECT_EQ(model->columnCount(), 2);
}

TEST_F(ListCtrl, CellsAndSearchFollowChangesAndOutOfRangeCallsDoNothing) {
    Fill(3);
    m_list.SetItemText(1, 1, u"aa:bb");
    EXPECT_EQ(m_list.FindItem(1, u"aa:bb"), 1u);
    EXPECT_EQ(m_list.FindItem(1, Mac(1)), CListCtrl::npos);
    EXPECT_EQ(m_list.FindItem(0, u"2"), 2u); // unindexed columns are searched too
    EXPECT_EQ(m_list.FindItem(7, u"2"), CListCtrl::npos);
    m_list.SetItemText(9, 0, u"x");
    m_list.SetItemText(0, 9, u"x");
    EXPECT_EQ(m_list.GetItemText(9, 0), u"");
    EXPECT_EQ(m_list.GetItemCount(), 3u);
    const std::size_t first[] = {0};
    m_list.DeleteItems(first);
    EXPECT_EQ(m_list.FindItem(1, u"aa:bb"), 0u);
    m_list.DeleteAllItems();
    EXPECT_EQ(m_list.GetItemCount(), 0u);
    EXPECT_EQ(m_list.FindItem(1, u"aa:bb"), CListCtrl::npos);
}

TEST_F(ListCtrl, BatchDeletesKeepTheSelectionOfTheRowsThatStay) {
    Fill(10);
    for (std::size_t row : {1u, 4u, 8u}) {
        m_list.SetSelected(row, true);
    }
    m_list.SetFocusRow(8);
    const std::size_t few[] = {0, 4, 5};
    m_list.DeleteItems(few);
    EXPECT_EQ(m_list.GetSelectedRows(), (std::vector<std::size_t>{0, 5}));
    EXPECT_EQ(m_list.GetItemText(5, 0), u"8");
    EXPECT_EQ(m_list.GetFocusRow(), 5u);
}

TEST_F(ListCtrl, TenThousandRowsStayUsableThroughScatteredDeletes) {
    constexpr std::size_t kRows = 10000;
    Fill(kRows);
    EXPECT_EQ(m_list.FindItem(1, Mac(kRows - 1)), kRows - 1);
    m_list.SetSelected(9999, true);
    m_list.SetSelected(9998, true);
    m_list.SetFocusRow(9999);
    // Every even row: thousands of separate runs, the whole-model path.
    std::vector<std::size_t> even;
    for (std::size_t i = 0; i < kRows; i += 2) {
        even.push_back(i);
    }
    m_list.DeleteItems(even);
    ASSERT_EQ(m_list.GetItemCount(), kRows / 2);
    EXPECT_EQ(m_list.GetItemText(0, 0), u"1");
    EXPECT_EQ(m_list.FindItem(1, Mac(9999)), kRows / 2 - 1);
    EXPECT_EQ(m_list.FindItem(1, Mac(9998)), CListCtrl::npos);
    EXPECT_EQ(m_list.GetSelectedRows(), std::vector<std::size_t>{kRows / 2 - 1});
    EXPECT_EQ(m_list.GetFocusRow(), kRows / 2 - 1);
    m_list.scrollToBottom();
    EXPECT_FALSE(m_list.grab().isNull());

    // Everything selected (a login to all), then a sweep of separate rows along both paths: the
    // rows that stay are selected with at most one range per run between deleted rows, not one
    // range each, which would make every later selection change walk thousands of ranges
    // pairwise.
    for (const std::size_t step : {kRows / 2 / 16, std::size_t{7}}) {
        m_list.selectAll();
        std::vector<std::size_t> scattered;
        for (std::size_t i = 0; i < m_list.GetItemCount(); i += step) {
            scattered.push_back(i);
        }
        const std::size_t left = m_list.GetItemCount() - scattered.size();
        m_list.DeleteItems(scattered);
        EXPECT_EQ(m_list.GetSelectedRows().size(), left) << step;
        EXPECT_LE(static_cast<std::size_t>(m_list.selectionModel()->selection().size()),
                  scattered.size() + 1)
            << step;
    }
}

TEST_F(ListCtrl, AStreamOfChangesIsPaintedTogetherAndALoneChangeAtOnce) {
    // A lone change: painted in the next event loop pass.
    QTest::qWait(2 * static_cast<int>(CListCtrl::kRepaintPeriod.count()));
    Fill(1);
    EXPECT_TRUE(m_list.updatesEnabled());
    // Rows streaming in: held back, then painted together; the list never stays frozen.
    Fill(50);
    EXPECT_TRUE(m_list.IsPaintHeldBack());
    EXPECT_FALSE(m_list.updatesEnabled());
    EXPECT_TRUE(QTest::qWaitFor([&] { return m_list.updatesEnabled(); }));
    EXPECT_FALSE(m_list.IsPaintHeldBack());
    EXPECT_EQ(m_list.GetItemCount(), 51u);
    // Before a picture is taken.
    Fill(2);
    ASSERT_TRUE(m_list.IsPaintHeldBack());
    m_list.PaintNow();
    EXPECT_TRUE(m_list.updatesEnabled());
}

TEST_F(ListCtrl, MouseClicksSelectWholeRowsAndAClickOnEmptySpaceClears) {
    Fill(3);
    QTest::mouseClick(m_list.viewport(), Qt::LeftButton, {}, RowCentre(0));
    QTest::mouseClick(m_list.viewport(), Qt::LeftButton, Qt::ControlModifier, RowCentre(2));
    EXPECT_EQ(m_list.GetSelectedRows(), (std::vector<std::size_t>{0, 2}));
    EXPECT_TRUE(m_list.selectionModel()->isRowSelected(2, QModelIndex()));
    QTest::mouseClick(m_list.viewport(), Qt::LeftButton, {}, QPoint(10, 280));
    EXPECT_TRUE(m_list.GetSelectedRows().empty());
}

TEST_F(ListCtrl, CheckBoxesAndSingleSelection) {
    m_list.SetCheckBoxes(true);
    m_list.SetSingleSelection(true);
    Fill(3);
    m_list.SetCheck(1, true);
    EXPECT_TRUE(m_list.GetCheck(1));
    EXPECT_FALSE(m_list.GetCheck(0));
    EXPECT_FALSE(m_list.GetCheck(7));
    const std::size_t first[] = {0};
    m_list.DeleteItems(first);
    EXPECT_TRUE(m_list.GetCheck(0)); // the check moved up with its row
    QTest::mouseClick(m_list.viewport(), Qt::LeftButton, {}, RowCentre(0));
    QTest::mouseClick(m_list.viewport(), Qt::LeftButton, Qt::ControlModifier, RowCentre(1));
    EXPECT_EQ(m_list.GetSelectedRows(), std::vector<std::size_t>{1});
}

TEST(ListBox, SortsWithoutRegardToCaseAndReportsOnlyTheOperatorsChanges) {
    CListBox box(false);
    box.resize(200, 200);
    box.show();
    for (const char16_t* name : {u"everyone", u"Administrator", u"beta", u"Alpha", u"alpha"}) {
        box.AddString(name);
    }
    std::vector<std::u16string> order;
    for (std::size_t i = 0; i < box.GetCount(); ++i) {
        order.push_back(box.GetText(i));
    }
    EXPECT_EQ(order, (std::vector<std::u16string>{u"Administrator", u"Alpha", u"alpha", u"beta",
                                                  u"everyone"}));
    EXPECT_EQ(box.FindStringExact(u"alpha"), 2u);
    EXPECT_EQ(box.FindStringExact(u"ALPHA"), CListBox::npos);

    QSignalSpy changes(&box, &CListBox::SelChange);
    box.SetCurSel(3);
    EXPECT_EQ(box.GetCurSel(), 3u);
    EXPECT_EQ(changes.count(), 0);
    QTest::mouseClick(box.viewport(), Qt::LeftButton, {},
                      box.visualRect(box.model()->index(1, 0)).center());
    EXPECT_EQ(box.GetCurSel(), 1u);
    EXPECT_EQ(changes.count(), 1);
    box.SetCurSel(CListBox::npos);
    EXPECT_EQ(box.GetCurSel(), CListBox::npos);
}

TEST(ListBox, MultipleSelectionTogglesOneEntryPerClick) {
    CListBox box(true);
    box.resize(200, 200);
    box.show();
    for (const char16_t* name : {u"c", u"a", u"b"}) {
        box.AddString(name);
    }
    auto click = [&box](int row) {
        QTest::mouseClick(box.viewport(), Qt::LeftButton, {},
                          box.visualRect(box.model()->index(row, 0)).center());
    };
    click(0);
    click(2);
    EXPECT_EQ(box.GetSelItems(), (std::vector<std::size_t>{0, 2}));
    click(0);
    EXPECT_EQ(box.GetSelItems(), std::vector<std::size_t>{2});
}

TEST(CheckListBox, AClickTogglesTheCheckAndNothingIsEverSelected) {
    CCheckListBox box;
    box.resize(200, 200);
    box.show();
    box.AddString(u"Users");
    box.AddString(u"administrator");
    EXPECT_EQ(box.GetText(0), u"administrator");
    const QPoint second = box.visualRect(box.model()->index(1, 0)).center();
    QTest::mouseClick(box.viewport(), Qt::LeftButton, {}, second);
    EXPECT_TRUE(box.GetCheck(1));
    EXPECT_FALSE(box.GetCheck(0));
    QTest::mouseClick(box.viewport(), Qt::LeftButton, {}, second);
    EXPECT_FALSE(box.GetCheck(1));
    EXPECT_TRUE(box.selectionModel()->selectedIndexes().isEmpty());
    // A check set by the program is what the view draws, and the next click takes it away.
    box.SetCheck(0, true);
    const QModelIndex first = box.model()->index(0, 0);
    EXPECT_EQ(first.data(Qt::CheckStateRole).value<Qt::CheckState>(), Qt::Checked);
    EXPECT_EQ(box.GetCheckedTexts(), std::vector<std::u16string>{u"administrator"});
    QTest::mouseClick(box.viewport(), Qt::LeftButton, {}, box.visualRect(first).center());
    EXPECT_EQ(first.data(Qt::CheckStateRole).value<Qt::CheckState>(), Qt::Unchecked);
    EXPECT_TRUE(box.GetCheckedTexts().empty());
}

} // namespace

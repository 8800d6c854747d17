// The owner-drawn tab control: pages switched by mouse and keyboard alike, and the captions'
// colours as they are painted (selected blue, white under the pointer, the hover cleared by the
// timer once the pointer has left).
#include "console/CXTabCtrl.h"

#include <QImage>
#include <QSignalSpy>
#include <QTest>
#include <cstdlib>
#include <gtest/gtest.h>

namespace {

// The pointer is wherever the test puts it.
class CTestTabCtrl : public CXTabCtrl {
public:
    using CXTabCtrl::CXTabCtrl;
    QPoint m_pointer{-1000, -1000};

protected:
    QPoint PointerPos() const override { return m_pointer; }
};

class TabCtrl : public ::testing::Test {
protected:
    void SetUp() override {
        m_window.resize(500, 300);
        m_tabs.setGeometry(10, 10, 480, 280);
        m_pages[0].resize(400, 200);
        m_pages[1].resize(400, 200);
        m_tabs.InsertPage(QStringLiteral("System"), 0, &m_pages[0]);
        m_tabs.InsertPage(QStringLiteral("Account"), 1, &m_pages[1]);
        m_tabs.SetMinTabWidth(100);
        m_tabs.SetSelectedColor(QColor(0, 0, 255));
        m_tabs.SetHoverColor(QColor(255, 255, 255));
        m_window.show();
    }
    // Puts the pointer at p (control coordinates) and moves the mouse there.
    void PointAt(const QPoint& p) {
        m_tabs.m_pointer = m_tabs.mapToGlobal(p);
        QTest::mouseMove(&m_tabs, p);
    }
    // How many pixels of the caption area of tab i, painted now, are of the colour (within the
    // blending that antialiased text brings).
    int Pixels(int i, const QColor& color) {
        const QImage image = m_tabs.grab().toImage();
        const QRect r = m_tabs.tabRect(i).adjusted(4, 4, -4, -2);
        int n = 0;
        for (int y = r.top(); y <= r.bottom(); ++y) {
            for (int x = r.left(); x <= r.right(); ++x) {
                const QColor p = image.pixelColor(x, y);
                n += std::abs(p.red() - color.red()) + std::abs(p.green() - color.green()) +
                                 std::abs(p.blue() - color.blue()) <=
                             kTolerance
                         ? 1
                         : 0;
            }
        }
        return n;
    }
    // Far below the distance between the colours compared and the button face (0xEF grey).
    static constexpr int kTolerance = 24;
    QWidget m_window;
    CTestTabCtrl m_tabs{&m_window};
    QWidget m_pages[2] = {QWidget(&m_tabs), QWidget(&m_tabs)};
};

const QColor kBlue(0, 0, 255);
const QColor kWhite(255, 255, 255);

TEST_F(TabCtrl, PagesSitAtTheOriginAndSwitchByMouseAndKeyboardAlike) {
    EXPECT_EQ(m_pages[0].pos(), QPoint(2, 23));
    EXPECT_EQ(m_pages[1].pos(), QPoint(2, 23));
    EXPECT_TRUE(m_pages[0].isVisible());
    EXPECT_FALSE(m_pages[1].isVisible());
    EXPECT_EQ(m_tabs.tabRect(1).width(), 100); // the minimum width, wider than the caption

    QTest::mouseClick(&m_tabs, Qt::LeftButton, {}, m_tabs.tabRect(1).center());
    EXPECT_EQ(m_tabs.currentIndex(), 1);
    EXPECT_FALSE(m_pages[0].isVisible());
    EXPECT_TRUE(m_pages[1].isVisible());

    m_tabs.setFocus();
    QTest::keyClick(&m_tabs, Qt::Key_Left);
    EXPECT_EQ(m_tabs.currentIndex(), 0);
    EXPECT_TRUE(m_pages[0].isVisible());
    EXPECT_FALSE(m_pages[1].isVisible());
    QTest::keyClick(&m_tabs, Qt::Key_Right);
    EXPECT_TRUE(m_pages[1].isVisible());
    EXPECT_FALSE(m_pages[0].isVisible());
}

TEST_F(TabCtrl, TheSelectedCaptionIsBlueAndTheOneUnderThePointerWhite) {
    EXPECT_GT(Pixels(0, kBlue), 0);
    EXPECT_EQ(Pixels(1, kWhite), 0);
    EXPECT_EQ(Pixels(1, kBlue), 0);

    // Into the second tab: the first move starts tracking, the redraw makes it the hover tab.
    PointAt(m_tabs.tabRect(1).center());
    EXPECT_GT(Pixels(1, kWhite), 0);
    EXPECT_EQ(m_tabs.HoverTab(), 1);
    EXPECT_TRUE(m_tabs.IsHoverTracking());

    // Straight into the selected tab: the first one returns to its colour at once, and the
    // selected tab under the pointer stays blue.
    PointAt(m_tabs.tabRect(0).center());
    EXPECT_NE(m_tabs.HoverTab(), 1);
    EXPECT_EQ(Pixels(1, kWhite), 0);
    EXPECT_GT(Pixels(0, kBlue), 0);
    EXPECT_EQ(Pixels(0, kWhite), 0);
}

TEST_F(TabCtrl, TheTimerClearsTheHighlightOnceThePointerHasLeftTheControl) {
    PointAt(m_tabs.tabRect(1).center());
    ASSERT_GT(Pixels(1, kWhite), 0);
    // A tick with the pointer still inside changes nothing.
    m_tabs.OnTimer(CXTabCtrl::kHoverTimerId);
    EXPECT_EQ(m_tabs.HoverTab(), 1);
    EXPECT_TRUE(m_tabs.IsHoverTracking());
    // Gone without a further mouse move: the next tick notices.
    m_tabs.m_pointer = QPoint(-500, -500);
    m_tabs.OnTimer(CXTabCtrl::kHoverTimerId);
    EXPECT_EQ(m_tabs.HoverTab(), -1);
    EXPECT_FALSE(m_tabs.IsHoverTracking());
    EXPECT_EQ(Pixels(1, kWhite), 0);
}

TEST_F(TabCtrl, WithoutTheColoursSwitchedOnEveryCaptionUsesTheButtonText) {
    CTestTabCtrl plain(&m_window);
    plain.InsertPage(QStringLiteral("One"), 0, nullptr);
    plain.InsertPage(QStringLiteral("Two"), 1, nullptr);
    const QColor text = plain.palette().color(QPalette::ButtonText);
    EXPECT_EQ(plain.CaptionColor(0), text);
    EXPECT_EQ(plain.CaptionColor(1), text);
    EXPECT_FALSE(plain.hasMouseTracking());
    EXPECT_EQ(plain.Page(0), nullptr);
    EXPECT_EQ(m_tabs.Page(1), &m_pages[1]);
}

} // namespace

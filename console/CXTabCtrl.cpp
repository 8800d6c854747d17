#include "console/CXTabCtrl.h"

#include "platform/ui/CAnchoredLayout.h"
#include "platform/ui/NewChild.h"

#include <QCursor>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionTab>
#include <QTimerEvent>

namespace {

constexpr int kEdgeHeight = 2;        // the band at a tab's top that keeps the tab's own edge
constexpr int kCaptionPadding = 8;    // beside the caption, when it is wider than the minimum
constexpr int kOutlineDarkness = 140; // the pane's outline against the button face, percent

} // namespace

CXTabCtrl::CXTabCtrl(QWidget* parent) : QTabBar(parent) {
    setDrawBase(false);
    setExpanding(false);
    setUsesScrollButtons(false);
    setElideMode(Qt::ElideNone);
    setFocusPolicy(Qt::TabFocus);
    connect(this, &QTabBar::currentChanged, this, [this](int index) { OnSelChange(index); });
}

int CXTabCtrl::InsertPage(const QString& caption, int /*image*/, QWidget* page) {
    const int index = addTab(caption);
    setTabData(index, QVariant::fromValue(static_cast<QObject*>(page)));
    if (page != nullptr) {
        page->move(m_pageOrigin);
        page->setVisible(index == 0);
        if (m_pPageLayout == nullptr) {
            m_pPageLayout = NewChild<CAnchoredLayout>(*this);
        }
        // The page takes the room the control gains when the window grows.
        m_pPageLayout->Anchor(page, EAnchor::Grow);
    }
    return index;
}

void CXTabCtrl::SelectNext(int nStep) {
    if (count() > 0) {
        setCurrentIndex(((currentIndex() + nStep) % count() + count()) % count());
    }
}

QWidget* CXTabCtrl::Page(int index) const {
    return qobject_cast<QWidget*>(tabData(index).value<QObject*>());
}

void CXTabCtrl::SetMinTabWidth(int nWidth) {
    m_nMinTabWidth = nWidth;
    // Makes the bar lay its tabs out again with the new hint.
    setIconSize(iconSize());
    update();
}

void CXTabCtrl::SetSelectedColor(const QColor& color) {
    m_clrSelText = color;
    m_useSelText = true;
    update();
}

void CXTabCtrl::SetHoverColor(const QColor& color) {
    m_clrHoverText = color;
    m_useHoverText = true;
    setMouseTracking(true);
    update();
}

int CXTabCtrl::TabHeight() const {
    return m_pageOrigin.y() - kEdgeHeight;
}

QSize CXTabCtrl::tabSizeHint(int index) const {
    const int text = fontMetrics().horizontalAdvance(tabText(index)) + 2 * kCaptionPadding;
    return QSize(std::max(m_nMinTabWidth, text), TabHeight());
}

QSize CXTabCtrl::minimumTabSizeHint(int index) const {
    return tabSizeHint(index);
}

void CXTabCtrl::OnSelChange(int nNewSel) {
    if (QWidget* previous = Page(m_prevSel); previous != nullptr && m_prevSel != nNewSel) {
        previous->hide();
    }
    if (QWidget* next = Page(nNewSel)) {
        next->show();
    }
    m_prevSel = nNewSel;
}

QPoint CXTabCtrl::PointerPos() const {
    return QCursor::pos();
}

QColor CXTabCtrl::CaptionColor(int i) const {
    const QColor buttonText = palette().color(QPalette::ButtonText);
    if (i == currentIndex()) {
        return m_useSelText ? m_clrSelText : buttonText;
    }
    if (m_useHoverText && i == m_hoverTab) {
        return m_clrHoverText;
    }
    return buttonText;
}

void CXTabCtrl::DrawItem(QPainter& painter, int i) {
    if (i < 0 || i >= count()) {
        return;
    }
    const QString caption = tabText(i).left(kMaxCaption);
    const QRect rect = tabRect(i);
    painter.save();
    if (rect.contains(mapFromGlobal(PointerPos()))) {
        m_hoverTab = i;
    }
    painter.setBackgroundMode(Qt::TransparentMode);
    // Inside the tab's own edges, which the style has drawn.
    painter.fillRect(rect.adjusted(kEdgeHeight, kEdgeHeight, -kEdgeHeight, 0),
                     palette().color(QPalette::Button));
    painter.setPen(CaptionColor(i));
    painter.drawText(rect, Qt::AlignCenter | Qt::TextSingleLine, caption);
    painter.restore();
}

void CXTabCtrl::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    // The pane in the button face, like the tabs, so that the selected tab opens into it.
    const QRect pane(0, TabHeight() - 1, width(), height() - TabHeight() + 1);
    const QColor face = palette().color(QPalette::Button);
    const QColor outline = face.darker(kOutlineDarkness);
    painter.fillRect(pane, face);
    painter.setPen(outline);
    painter.drawRect(pane.adjusted(0, 0, -1, -1));
    // The selected tab last, so that its shape lies over its neighbours' edges.
    const int selected = currentIndex();
    for (int pass = 0; pass < 2; ++pass) {
        for (int i = 0; i < count(); ++i) {
            if ((i == selected) != (pass == 1)) {
                continue;
            }
            QStyleOptionTab option;
            initStyleOption(&option, i);
            option.text.clear();
            // Styles may draw a selected tab reaching into the pane; tabs stay in their row.
            painter.save();
            painter.setClipRect(tabRect(i));
            style()->drawControl(QStyle::CE_TabBarTabShape, &option, &painter, this);
            painter.restore();
            DrawItem(painter, i);
        }
    }
    if (selected >= 0) {
        const QRect tab = tabRect(selected);
        painter.fillRect(QRect(tab.left() + 1, pane.top(), tab.width() - 2, 1), face);
    }
}

void CXTabCtrl::OnMouseMove(const QPoint& point) {
    m_timers.SetTimer(kHoverTimerId, kHoverTimerMs);
    if (m_hoverTab != -1 && !tabRect(m_hoverTab).contains(point)) {
        const QRect left = tabRect(m_hoverTab);
        m_hoverTab = -1;
        update(left);
        return;
    }
    if (!m_hoverTracking) {
        m_hoverTracking = true;
        const int under = tabAt(point);
        if (under != -1) {
            // Its redraw makes it the hover tab.
            update(tabRect(under));
        }
    }
}

void CXTabCtrl::mouseMoveEvent(QMouseEvent* event) {
    if (m_useHoverText) {
        const int before = m_hoverTab;
        OnMouseMove(event->position().toPoint());
        if (before != -1 && m_hoverTab == -1) {
            return; // the handling ends with the invalidated tab
        }
    }
    QTabBar::mouseMoveEvent(event);
}

void CXTabCtrl::OnTimer(int /*nIDEvent*/) {
    QRect screenRect;
    if (m_hoverTab != -1) {
        const QRect rect = tabRect(m_hoverTab);
        screenRect = QRect(mapToGlobal(rect.topLeft()), rect.size());
    }
    if (!screenRect.contains(PointerPos())) {
        m_timers.KillTimer(kHoverTimerId);
        m_hoverTracking = false;
        const QRect left = m_hoverTab != -1 ? tabRect(m_hoverTab) : QRect();
        m_hoverTab = -1;
        update(left);
    }
}

void CXTabCtrl::timerEvent(QTimerEvent* event) {
    if (const auto id = m_timers.Identify(event->timerId())) {
        OnTimer(*id);
        return;
    }
    QTabBar::timerEvent(event);
}

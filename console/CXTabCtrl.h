// The main window's tab control. Each tab carries a page window, placed at the page origin inside
// the control and shown only while its tab is selected (by mouse or keyboard alike). The control
// draws the captions itself: the selected tab's in a colour of its own, the one under the mouse
// pointer in a highlight colour, the others in the button-text colour. A 10 ms timer notices
// when the pointer has left the highlighted tab even if no further mouse move comes.
#pragma once

#include "platform/ui/CTimerTable.h"

#include <QColor>
#include <QPoint>
#include <QTabBar>

class CAnchoredLayout;

class CXTabCtrl : public QTabBar {
    Q_OBJECT
public:
    static constexpr int kHoverTimerId = 1;
    static constexpr int kHoverTimerMs = 10;
    static constexpr int kMaxCaption = 62; // characters of a caption that are drawn

    explicit CXTabCtrl(QWidget* parent = nullptr);

    // Appends a tab whose item data is page; the page moves to the page origin and is shown
    // only if it is the first tab. No image list is attached, so no image is drawn.
    int InsertPage(const QString& caption, int image, QWidget* page);
    QWidget* Page(int index) const;
    // The tab nStep places on (negative: back), round the ends.
    void SelectNext(int nStep);
    void SetMinTabWidth(int nWidth);
    void SetSelectedColor(const QColor& color);
    void SetHoverColor(const QColor& color);

    int HoverTab() const { return m_hoverTab; }
    bool IsHoverTracking() const { return m_hoverTracking; }
    QPoint PageOrigin() const { return m_pageOrigin; }
    // The caption colour tab i gets when drawn now.
    QColor CaptionColor(int i) const;

    // The hover timer's tick (any timer of the control).
    void OnTimer(int nIDEvent);

protected:
    // Where the mouse pointer is, in screen coordinates.
    virtual QPoint PointerPos() const;

    QSize tabSizeHint(int index) const override;
    QSize minimumTabSizeHint(int index) const override;
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    void OnSelChange(int nNewSel);
    void OnMouseMove(const QPoint& point);
    void DrawItem(QPainter& painter, int i);
    int TabHeight() const;

    int m_prevSel = 0;
    QPoint m_pageOrigin{2, 23};
    QColor m_clrSelText{0, 0, 0};
    bool m_useSelText = false;
    QColor m_clrHoverText{0, 0, 0};
    bool m_useHoverText = false;
    int m_hoverTab = -1;
    bool m_hoverTracking = false;
    int m_nMinTabWidth = 0;
    CTimerTable m_timers{*this};
    CAnchoredLayout* m_pPageLayout = nullptr; // a child of the control, with the first page
};

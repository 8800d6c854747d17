// Controls that follow their window's edges as it is resized: each keeps its place and size as
// built, plus what the window has grown by, along the edges it is anchored to (a list grows with
// the window, buttons in the lower right corner move with it). The window's size when the layout
// is made is its minimum.
#pragma once

#include <QObject>
#include <QRect>
#include <QSize>
#include <vector>

class QWidget;

enum class EAnchor : unsigned {
    None = 0,
    MoveX = 1,      // keeps its distance to the right edge
    MoveY = 2,      // keeps its distance to the bottom edge
    GrowWidth = 4,  // takes the width the window gains
    GrowHeight = 8, // takes the height the window gains
    MoveXY = MoveX | MoveY,
    Grow = GrowWidth | GrowHeight,
};

constexpr EAnchor operator|(EAnchor a, EAnchor b) {
    return static_cast<EAnchor>(static_cast<unsigned>(a) | static_cast<unsigned>(b));
}
constexpr bool HasAnchor(EAnchor set, EAnchor one) {
    return (static_cast<unsigned>(set) & static_cast<unsigned>(one)) != 0;
}

class CAnchoredLayout : public QObject {
    Q_OBJECT
public:
    // host: the window; its present size becomes its minimum and the base of every anchor, and
    // it may grow from there.
    explicit CAnchoredLayout(QWidget& host);

    // w: a child of the window, at its place as built.
    void Anchor(QWidget* w, EAnchor anchors);
    // Places every anchored control for the window's present size.
    void Apply();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct CItem {
        QWidget* pWidget;
        QRect base;
        EAnchor anchors;
    };

    QWidget& m_host;
    QSize m_base;
    std::vector<CItem> m_items;
};

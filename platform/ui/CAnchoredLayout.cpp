#include "platform/ui/CAnchoredLayout.h"

#include <QEvent>
#include <QWidget>

CAnchoredLayout::CAnchoredLayout(QWidget& host)
    : QObject(&host), m_host(host), m_base(host.size()) {
    host.setMinimumSize(m_base);
    host.setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    host.installEventFilter(this);
}

void CAnchoredLayout::Anchor(QWidget* w, EAnchor anchors) {
    if (w == nullptr) {
        return;
    }
    if (HasAnchor(anchors, EAnchor::Grow)) {
        // Built at a fixed size (a page from its template): it may grow now.
        w->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    }
    m_items.push_back({w, w->geometry(), anchors});
    Apply();
}

void CAnchoredLayout::Apply() {
    // Never below the base: a window shown before its minimum took hold keeps its controls whole.
    const int dx = std::max(0, m_host.width() - m_base.width());
    const int dy = std::max(0, m_host.height() - m_base.height());
    for (const CItem& item : m_items) {
        QRect r = item.base;
        r.translate(HasAnchor(item.anchors, EAnchor::MoveX) ? dx : 0,
                    HasAnchor(item.anchors, EAnchor::MoveY) ? dy : 0);
        r.setWidth(r.width() + (HasAnchor(item.anchors, EAnchor::GrowWidth) ? dx : 0));
        r.setHeight(r.height() + (HasAnchor(item.anchors, EAnchor::GrowHeight) ? dy : 0));
        item.pWidget->setGeometry(r);
    }
}

bool CAnchoredLayout::eventFilter(QObject* watched, QEvent* event) {
    if (watched == &m_host && event->type() == QEvent::Resize) {
        Apply();
    }
    return QObject::eventFilter(watched, event);
}

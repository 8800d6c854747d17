#include "console/CColumnStretch.h"

#include "platform/ui/CListCtrl.h"

#include <QEvent>
#include <QHeaderView>
#include <algorithm>

CColumnStretch::CColumnStretch(CListCtrl& list, int col)
    : QObject(&list), m_list(list), m_pViewport(list.viewport()), m_nCol(col),
      m_nMinWidth(list.columnWidth(col)) {
    m_pViewport->installEventFilter(this);
    // Hiding or showing a column resizes its section too.
    connect(list.horizontalHeader(), &QHeaderView::sectionResized, this, [this](int section) {
        if (section != m_nCol) {
            Fit();
        }
    });
    Fit();
}

void CColumnStretch::Fit() {
    const QHeaderView& header = *m_list.horizontalHeader();
    int others = 0;
    for (int col = 0; col < header.count(); ++col) {
        if (col != m_nCol && !header.isSectionHidden(col)) {
            others += header.sectionSize(col);
        }
    }
    const int width = std::max(m_nMinWidth, m_list.viewport()->width() - others);
    if (header.sectionSize(m_nCol) != width) {
        m_list.setColumnWidth(m_nCol, width);
    }
}

bool CColumnStretch::eventFilter(QObject* watched, QEvent* event) {
    // The viewport's own pointer: while the list is torn down its events still come, and the
    // list is no scroll area any more.
    if (event->type() == QEvent::Resize && watched == m_pViewport) {
        Fit();
    }
    return QObject::eventFilter(watched, event);
}

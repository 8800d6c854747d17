// One column of a report list that takes the room the other columns leave, never narrower than it
// was made: the list fills its window at any width, and scrolls sideways only when the other
// columns need more room than there is. The operator may still widen or narrow the other columns,
// and the stretching one follows; it is fitted again whenever the list's width changes.
#pragma once

#include <QObject>

class CListCtrl;
class QWidget;

class CColumnStretch : public QObject {
    Q_OBJECT
public:
    // The list owns it (NewChild).
    CColumnStretch(CListCtrl& list, int col);

    void Fit();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    CListCtrl& m_list;
    QWidget* m_pViewport; // the list's, owned by it
    int m_nCol;
    int m_nMinWidth;
};

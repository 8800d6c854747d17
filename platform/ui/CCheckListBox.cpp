#include "platform/ui/CCheckListBox.h"

#include <QKeyEvent>
#include <QMouseEvent>

CCheckListBox::CCheckListBox(QWidget* parent) : QListView(parent), m_model(true, this) {
    setModel(&m_model);
    setSelectionMode(QAbstractItemView::NoSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setUniformItemSizes(true);
}

std::vector<std::u16string> CCheckListBox::GetCheckedTexts() const {
    std::vector<std::u16string> texts;
    for (std::size_t i = 0; i < m_model.Count(); ++i) {
        if (m_model.Checked(i)) {
            texts.push_back(m_model.Text(i));
        }
    }
    return texts;
}

void CCheckListBox::Toggle(const QModelIndex& index) {
    if (index.isValid()) {
        const auto row = static_cast<std::size_t>(index.row());
        m_model.SetChecked(row, !m_model.Checked(row));
    }
}

void CCheckListBox::mouseReleaseEvent(QMouseEvent* event) {
    // The whole entry is the click target, not only its box; the view's own handling of the box
    // is left out so that one click toggles once.
    if (event->button() == Qt::LeftButton) {
        Toggle(indexAt(event->position().toPoint()));
        event->accept();
        return;
    }
    QListView::mouseReleaseEvent(event);
}

void CCheckListBox::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Space) {
        Toggle(currentIndex());
        event->accept();
        return;
    }
    QListView::keyPressEvent(event);
}

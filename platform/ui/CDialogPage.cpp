#include "platform/ui/CDialogPage.h"

#include <QTimerEvent>

CDialogPage::CDialogPage(const CDialogTemplate& dialogTemplate) : m_template(dialogTemplate) {}

void CDialogPage::Create(QWidget& parent) {
    if (m_bCreated) {
        return;
    }
    m_bCreated = true;
    setParent(&parent);
    m_controls.Build(m_template, *this, {}, [this](int id) { OnCommand(id); });
    OnInitDialog();
}

void CDialogPage::DestroyWindow() {
    if (m_bDestroyed) {
        return;
    }
    m_bDestroyed = true;
    hide();
    OnDestroy();
}

void CDialogPage::timerEvent(QTimerEvent* event) {
    if (const auto id = m_timers.Identify(event->timerId())) {
        OnTimer(*id);
        return;
    }
    QWidget::timerEvent(event);
}

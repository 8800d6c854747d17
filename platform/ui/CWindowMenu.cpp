#include "platform/ui/CWindowMenu.h"

#include "platform/ui/NewChild.h"

#include <QAction>
#include <QKeySequence>
#include <QShortcut>
#include <QWidget>

CWindowMenu::CWindowMenu(QWidget& window, std::function<void(int)> onCommand)
    : m_window(window), m_onCommand(std::move(onCommand)), m_menu(&window) {
    QAction* restore = AppendItem(QStringLiteral("&Restore"), SC_RESTORE);
    QAction* minimize = AppendItem(QStringLiteral("Mi&nimize"), SC_MINIMIZE);
    m_menu.addSeparator();
    AppendItem(QStringLiteral("&Close\tAlt+F4"), SC_CLOSE);
    QObject::connect(&m_menu, &QMenu::aboutToShow, &m_menu, [this, restore, minimize] {
        restore->setEnabled(m_window.isMinimized());
        minimize->setEnabled(!m_window.isMinimized());
    });
    auto* altSpace = NewChild<QShortcut>(QKeySequence(Qt::ALT | Qt::Key_Space), &window);
    QObject::connect(altSpace, &QShortcut::activated, &m_menu,
                     [this] { Popup(m_window.mapToGlobal(QPoint(0, 0))); });
}

void CWindowMenu::AppendSeparator() {
    m_menu.addSeparator();
}

QAction* CWindowMenu::AppendItem(const QString& text, int nCommand) {
    QAction* action = m_menu.addAction(text);
    QObject::connect(action, &QAction::triggered, &m_menu, [this, nCommand] {
        if (m_onCommand) {
            m_onCommand(nCommand);
        } else {
            DefaultCommand(nCommand);
        }
    });
    return action;
}

void CWindowMenu::Popup(const QPoint& globalPos) {
    m_menu.popup(globalPos);
}

void CWindowMenu::DefaultCommand(int nCommand) {
    switch (nCommand & 0xFFF0) {
    case SC_MINIMIZE:
        m_window.showMinimized();
        break;
    case SC_RESTORE:
        m_window.showNormal();
        break;
    case SC_CLOSE:
        m_window.close();
        break;
    default:
        break;
    }
}

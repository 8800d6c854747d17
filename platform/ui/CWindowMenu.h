// The window menu of a top-level window. X11 and Wayland give a program no access to the window
// manager's own menu, so the window carries its own: it opens on the right mouse button over the
// window and on Alt+Space, holds Restore, Minimize and Close, and then what the program appends.
// Choosing an item runs the window's handler with the item's command identifier.
#pragma once

#include <QMenu>
#include <QPoint>
#include <functional>

class QWidget;

class CWindowMenu {
public:
    static constexpr int SC_MINIMIZE = 0xF020;
    static constexpr int SC_CLOSE = 0xF060;
    static constexpr int SC_RESTORE = 0xF120;

    // window: the window the menu belongs to and acts on; onCommand: the window's handler.
    CWindowMenu(QWidget& window, std::function<void(int)> onCommand);

    void AppendSeparator();
    // Answers the item, which the menu owns.
    QAction* AppendItem(const QString& text, int nCommand);

    // Opens the menu at a point on the screen; the chosen item's command goes to the handler.
    void Popup(const QPoint& globalPos);
    // What the platform does for the standard commands.
    void DefaultCommand(int nCommand);
    QMenu& Menu() { return m_menu; }

private:
    QWidget& m_window;
    std::function<void(int)> m_onCommand;
    QMenu m_menu;
};

#include "platform/ui/CDialog.h"

#include <QGuiApplication>
#include <QScreen>

namespace {

Qt::WindowFlags FlagsOf(EDialogStyle styles) {
    Qt::WindowFlags flags = HasStyle(styles, EDialogStyle::AppWindow) ? Qt::Window : Qt::Dialog;
    flags |= Qt::CustomizeWindowHint;
    if (HasStyle(styles, EDialogStyle::Caption)) {
        flags |= Qt::WindowTitleHint;
    }
    if (HasStyle(styles, EDialogStyle::SysMenu)) {
        flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    }
    if (HasStyle(styles, EDialogStyle::MinimizeBox)) {
        flags |= Qt::WindowMinimizeButtonHint;
    }
    return flags;
}

} // namespace

CDialog::CDialog(const CDialogTemplate& dialogTemplate, QWidget* parent)
    : QDialog(parent, FlagsOf(dialogTemplate.styles)), m_template(dialogTemplate) {
    setWindowTitle(QString::fromStdU16String(std::u16string(dialogTemplate.caption)));
    setSizeGripEnabled(false);
}

void CDialog::Create() {
    if (m_bCreated) {
        return;
    }
    m_bCreated = true;
    m_controls.Build(
        m_template, *this,
        [this](const CControlTemplate& control, QWidget& parent) {
            return CreateControl(control, parent);
        },
        [this](int id) { Dispatch(id); });
    OnInitDialog();
}

void CDialog::Dispatch(int id) {
    if (id == IDOK) {
        OnOK();
    } else if (id == IDCANCEL) {
        OnCancel();
    } else {
        OnCommand(id);
    }
}

void CDialog::CentreOnScreen() {
    if (!HasStyle(m_template.styles, EDialogStyle::Centered) || parentWidget() != nullptr) {
        return; // a dialog with an owner is centred on it by Qt
    }
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(0, 0), size());
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
}

int CDialog::DoModal() {
    Create();
    CentreOnScreen();
    const int result = exec();
    DestroyWindow();
    return result == IDOK ? IDOK : IDCANCEL;
}

void CDialog::EndDialog(int nResult) {
    done(nResult);
}

void CDialog::DestroyWindow() {
    if (m_bDestroyed) {
        return;
    }
    m_bDestroyed = true;
    hide();
    OnDestroy();
}

void CDialog::accept() {
    OnOK();
}

void CDialog::reject() {
    OnCancel();
}

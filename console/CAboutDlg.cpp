#include "console/CAboutDlg.h"

#include "platform/ui/IconFromSvg.h"
#include "platform/ui/NewChild.h"
#include "resources/DialogTemplates.h"
#include "resources/ProgramIcon.h"
#include "resources/ResourceIds.h"

#include <QLabel>

CAboutDlg::CAboutDlg(QWidget* parent) : CDialog(*FindDialogTemplate(IDD_ABOUTBOX), parent) {}

QWidget* CAboutDlg::CreateControl(const CControlTemplate& control, QWidget& parent) {
    if (control.kind != EControlKind::Icon) {
        return nullptr;
    }
    auto* icon = NewChild<QLabel>(&parent);
    icon->setPixmap(PixmapFromSvg(IconSvg(IDR_MAINFRAME), kIconPixels));
    icon->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return icon;
}

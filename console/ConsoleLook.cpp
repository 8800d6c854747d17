#include "console/ConsoleLook.h"

#include "platform/ui/CDialogUnits.h"
#include "platform/ui/IconFromSvg.h"
#include "resources/DialogTemplates.h"
#include "resources/ProgramIcon.h"
#include "resources/ResourceIds.h"

#include <QApplication>
#include <QStyleFactory>

void ApplyConsoleLook(QApplication& application) {
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication::setFont(CDialogUnits::FontOf(*FindDialogTemplate(IDD_ORVANESRV_DIALOG)));
    application.setApplicationName(QStringLiteral("OrvaneSrv"));
    QApplication::setWindowIcon(IconFromSvg(IconSvg(IDR_MAINFRAME)));
}

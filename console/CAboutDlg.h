// The About box: the program icon, the version line and a line saying what the program is.
#pragma once

#include "platform/ui/CDialog.h"

class CAboutDlg : public CDialog {
    Q_OBJECT
public:
    static constexpr int kIconPixels = 32;

    explicit CAboutDlg(QWidget* parent = nullptr);

protected:
    QWidget* CreateControl(const CControlTemplate& control, QWidget& parent) override;
};

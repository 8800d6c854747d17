// The Login Dialog: the administrator user name (starting as "admin") and password (hidden) to
// try on the selected storage servers. Nothing is remembered from one opening to the next and
// nothing is checked: empty texts are sent as they are.
#pragma once

#include "platform/ui/CDialog.h"

#include <string>

class CLoginDlg : public CDialog {
    Q_OBJECT
public:
    explicit CLoginDlg(QWidget* parent = nullptr);

    std::u16string m_strAdminUser = u"admin";
    std::u16string m_strAdminPassword;

protected:
    bool OnInitDialog() override;
    void OnOK() override;
};

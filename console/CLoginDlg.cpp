#include "console/CLoginDlg.h"

#include "resources/DialogTemplates.h"
#include "resources/ResourceIds.h"

CLoginDlg::CLoginDlg(QWidget* parent) : CDialog(*FindDialogTemplate(IDD_LOGIN), parent) {}

bool CLoginDlg::OnInitDialog() {
    SetDlgItemText(IDC_ADMIN_USER, m_strAdminUser);
    SetDlgItemText(IDC_ADMIN_PASSWORD, m_strAdminPassword);
    return true;
}

void CLoginDlg::OnOK() {
    m_strAdminUser = GetDlgItemText(IDC_ADMIN_USER);
    m_strAdminPassword = GetDlgItemText(IDC_ADMIN_PASSWORD);
    CDialog::OnOK();
}

#include "console/CTabAccount.h"

#include "resources/DialogTemplates.h"
#include "resources/ResourceIds.h"

CTabAccount::CTabAccount(COrvaneSrvCore& core)
    : CDialogPage(*FindDialogTemplate(IDD_TAB_ACCOUNT)), m_core(core) {}

bool CTabAccount::OnInitDialog() {
    // After the directory load, so that only what the store lacked is created.
    m_core.CreateBuiltInAccounts();
    return true;
}

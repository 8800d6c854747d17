// The window's side of the control commands; see CWindowControlTarget.h.
#include "console/CWindowControlTarget.h"

#include "platform/ui/CListBox.h"

void CWindowControlTarget::OnDirectoryChanged() {
    CTabAccount* page = m_dialog.TabAccount();
    if (page == nullptr) {
        return;
    }
    CListBox& groups = page->Groups();
    const std::size_t selected = groups.GetCurSel();
    const std::u16string name =
        selected == CListBox::npos ? std::u16string() : groups.GetText(selected);
    page->ReloadGroups();
    if (const std::size_t row = groups.FindStringExact(name);
        !name.empty() && row != CListBox::npos && row != groups.GetCurSel()) {
        groups.SetCurSel(row);
        page->OnSelchangeGroupList();
    }
}

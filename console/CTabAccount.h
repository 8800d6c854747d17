// The Account tab: the groups of the directory, the selected group's members and the storage
// servers it may reach, and the commands that create, edit and delete users and groups and edit
// a group's access. The page keeps no directory data: every change goes to the core as a
// directory message, and after every command (whether its dialog ended with OK or Cancel) the
// Users list and the server list are rebuilt from the tables as they then are. A change that
// could not be saved is reported in a box, and the lists show the directory as it stayed.
#pragma once

#include "core/COrvaneSrvCore.h"
#include "platform/ui/CDialogPage.h"
#include "platform/ui/IMessageBoxes.h"

#include <filesystem>
#include <optional>
#include <string>

class CListBox;
class CListCtrl;

class CTabAccount : public CDialogPage {
    Q_OBJECT
public:
    enum class EColumn : std::size_t { IPAddr, MAC, Auth, Count };

    CTabAccount(COrvaneSrvCore& core, IMessageBoxes& boxes);
    // Where the access dialog keeps its size between runs; none keeps nothing.
    void SetAccessSizeFile(std::filesystem::path file) { m_accessSizeFile = std::move(file); }

    CListBox& Groups() const { return *m_lbGroups; }
    CListBox& Users() const { return *m_lbUsers; }
    CListCtrl& Access() const { return *m_lvAccess; }

    // Shows the selected group's members and storage servers again; with no group selected the
    // lists keep what they show. Also run after a discovery pass.
    void OnSelchangeGroupList();
    // Lists every group afresh and selects the first (after an import, and at initialisation).
    void ReloadGroups();

    // The user dialog for the user of that name, as Properties opens it for the selected one.
    void OpenUserProperties(const std::u16string& name) { EditUser(name); }

protected:
    bool OnInitDialog() override;
    void OnCommand(int id) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The buttons.
    void OnAddGroup() { EditGroup(false); }
    void OnGroupProperties() { EditGroup(true); }
    void OnDeleteGroup();
    void OnAddUser() { EditUser(std::nullopt); }
    void OnUserProperties();
    void OnDeleteUser();
    void OnGroupAccess();
    // A group's or a user's dialog: creates one, or (bProperties, a name) edits it.
    void EditGroup(bool bProperties);
    void EditUser(const std::optional<std::u16string>& name);
    // The selected group's name, or nothing.
    std::optional<std::u16string> SelectedGroup() const;
    // Hands a change to the core; when it could not be saved (the core has undone it) the
    // operator is told why and false comes back.
    bool Apply(CDirectoryMessage msg);
    // The group list as the directory holds it, with the named group selected where it exists.
    void ShowGroupsAgain(const std::u16string& selected);
    bool ConfirmDelete();

    COrvaneSrvCore& m_core;
    IMessageBoxes& m_boxes;
    CListBox* m_lbGroups = nullptr;  // control 1013, owned by the page
    CListBox* m_lbUsers = nullptr;   // control 1009
    CListCtrl* m_lvAccess = nullptr; // control 1021
    std::filesystem::path m_accessSizeFile;
};

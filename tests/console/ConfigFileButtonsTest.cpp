// Export and Import from the main window's buttons, through the file dialogs as an operator
// fills them in: the round trip with the replace question, a file whose group names a member
// that its user table lacks, and files that cannot be opened or are damaged.
#include "core/CConfigFile.h"
#include "platform/text/TextConv.h"
#include "resources/ResourceIds.h"
#include "resources/StringTable.h"
#include "tests/console/AccountTestSupport.h"
#include "tests/support/CScopedEnv.h"
#include "tests/support/TestFiles.h"

#include <QFileDialog>

namespace {

class ConfigButtons : public AccountTab {
protected:
    void SetUp() override {
        AccountTab::SetUp();
        Send(CDirectoryMessage::AddUser(true, User(u"bob", u"b0b", {u"Everyone"})));
        Send(CDirectoryMessage::AddGroup(true, Group(u"Ops", {u"bob"}, {u"00:1B:4D:00:00:01"})));
    }
    void ClickWithFile(int button, const std::filesystem::path& file) {
        ::ClickWithFile(m_window->GetDlgItem(button), file);
    }

    CTempDir m_files;
};

TEST_F(ConfigButtons, ExportThenImportRestoresEveryStoredValueByteForByte) {
    WhenModal<QFileDialog>([](QFileDialog& dialog) {
        EXPECT_EQ(dialog.acceptMode(), QFileDialog::AcceptSave);
        EXPECT_EQ(dialog.nameFilters(),
                  (QStringList{"Orvane-Srv Files, (*.ovx)", "All Files (*)"}));
        dialog.reject();
    });
    QTest::mouseClick(m_window->GetDlgItem(IDC_EXPORT), Qt::LeftButton);

    ClickWithFile(IDC_EXPORT, m_files / "directory"); // the extension is added
    const std::filesystem::path file = m_files / "directory.ovx";
    ASSERT_TRUE(std::filesystem::exists(file));
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr); // the wait cursor is gone again
    ASSERT_EQ(m_boxes.size(), 1u);
    EXPECT_EQ(m_boxes[0].text, u"Exported 2 users and 3 groups to " + file.u16string());
    const CStoredValues users = Stored(kUserKey);
    const CStoredValues groups = Stored(kGroupKey);

    Send(CDirectoryMessage::ModifyUser(true, User(u"bob", u"new", {})));
    Send(CDirectoryMessage::SetGroupAccess(true, Group(u"Ops")));
    SelectGroup(u"Ops");
    Send(CDirectoryMessage::DeleteUser(true, u"bob"));
    m_boxes.clear();
    ClickWithFile(IDC_IMPORT, file);
    ASSERT_EQ(m_boxes.size(), 1u);
    EXPECT_EQ(m_boxes[0].text, u"Imported from " + file.u16string() +
                                   u": 1 user and 0 groups added, 1 user and 3 groups replaced");
    EXPECT_EQ(Stored(kUserKey), users);
    EXPECT_EQ(Stored(kGroupKey), groups);
    EXPECT_EQ(Texts(Tab().Groups()), (Names{u"Administrator", u"Everyone", u"Ops"}));
    EXPECT_EQ(Tab().Groups().GetCurSel(), 0u);
    EXPECT_EQ(Texts(Tab().Users()), Names{u"admin"});

    // Replacing the file is asked about; No brings the dialog back, where Cancel ends it.
    m_onBox = [](const CMessageBoxRequest&) {
        WhenModal<QFileDialog>([](QFileDialog& dialog) { dialog.reject(); });
        return EMessageAnswer::No;
    };
    const std::vector<uint8_t> exported = ReadFileBytes(file);
    Send(CDirectoryMessage::DeleteUser(true, u"bob"));
    m_boxes.clear();
    ClickWithFile(IDC_EXPORT, file);
    ASSERT_EQ(m_boxes.size(), 1u);
    EXPECT_EQ(m_boxes[0].text, u"directory.ovx already exists.\nDo you want to replace it?");
    EXPECT_EQ(ReadFileBytes(file), exported);
}

TEST_F(ConfigButtons, BothFileDialogsOpenInTheDocumentsFolderNotInTheServedOne) {
    CTempDir home;
    home.Write("Documents/.keep", "");
    CScopedEnv env;
    env.Set("HOME", home.Path().c_str());
    env.Set("XDG_CONFIG_HOME", nullptr);
    const QString documents =
        QString::fromStdString(std::filesystem::canonical(home / "Documents").string());
    for (const int button : {IDC_EXPORT, IDC_IMPORT}) {
        QString opened;
        WhenModal<QFileDialog>([&opened](QFileDialog& dialog) {
            opened = dialog.directory().absolutePath();
            dialog.reject();
        });
        QTest::mouseClick(m_window->GetDlgItem(button), Qt::LeftButton);
        EXPECT_EQ(opened, documents) << button;
    }
}

TEST_F(ConfigButtons, AMemberTheFileHasNoUserForIsImportedAsItStands) {
    CGroupTable groups;
    groups[u"Ghosts"] = Group(u"Ghosts", {u"nobody", u"admin"});
    const std::filesystem::path file = m_files / "ghosts.ovx";
    WriteFileBytes(file, CConfigFile::Serialize(groups, CUserTable{}));
    const CStoredValues users = Stored(kUserKey);

    ClickWithFile(IDC_IMPORT, file);
    ASSERT_EQ(m_boxes.size(), 1u);
    EXPECT_EQ(m_boxes[0].text, u"Imported from " + file.u16string() +
                                   u": 0 users and 1 group added, 0 users and 0 groups replaced");
    EXPECT_EQ(Decode<CGroupData>(Stored(kGroupKey).at(u"Ghosts")).m_listUsers,
              (Names{u"nobody", u"admin"}));
    // Nothing linked: admin's own list stays, and every user is written again unchanged.
    EXPECT_EQ(GroupsOf(u"admin"), (Names{u"Administrator", u"Everyone"}));
    EXPECT_EQ(Stored(kUserKey), users);
    SelectGroup(u"Ghosts");
    EXPECT_EQ(Texts(Tab().Users()), (Names{u"admin", u"nobody"}));
}

TEST_F(ConfigButtons, AFileThatCannotBeOpenedOrIsDamagedChangesNothing) {
    const std::filesystem::path good = m_files / "good.ovx";
    ClickWithFile(IDC_EXPORT, good);
    std::vector<uint8_t> bytes = ReadFileBytes(good);
    const std::filesystem::path cut = m_files / "cut.ovx";
    WriteFileBytes(cut, std::span(bytes).first(bytes.size() - 3));
    const std::string_view className = "CGroupData";
    const auto at = std::search(bytes.begin(), bytes.end(), className.begin(), className.end());
    ASSERT_NE(at, bytes.end());
    *at = 'X';
    const std::filesystem::path alien = m_files / "alien.ovx";
    WriteFileBytes(alien, bytes);

    Send(CDirectoryMessage::ModifyUser(true, User(u"bob", u"changed", {u"Everyone"})));
    SelectGroup(u"Ops");
    const CStoredValues users = Stored(kUserKey);
    const CStoredValues groups = Stored(kGroupKey);
    const std::tuple<std::filesystem::path, std::u16string, EMessageIcon> cases[] = {
        {m_files / "absent.ovx", u"Failed to open Configuration File.", EMessageIcon::None},
        {cut, u"Attempted to access " + cut.u16string() + u" past its end.", EMessageIcon::Error},
        {alien, alien.u16string() + u" contained an unexpected object.", EMessageIcon::Error},
    };
    for (const auto& [file, text, icon] : cases) {
        m_boxes.clear();
        ClickWithFile(IDC_IMPORT, file);
        ASSERT_EQ(m_boxes.size(), 1u);
        EXPECT_EQ(m_boxes[0].text, text);
        EXPECT_EQ(m_boxes[0].icon, icon);
        EXPECT_EQ(Core().UserRecord(u"bob")->m_strPassword, u"changed");
        EXPECT_EQ(Stored(kUserKey), users);
        EXPECT_EQ(Stored(kGroupKey), groups);
        EXPECT_EQ(Tab().Groups().GetText(Tab().Groups().GetCurSel()), u"Ops");
    }

    // A good file while another process keeps the store locked: nothing is imported.
    m_boxes.clear();
    WithStoreLocked([&] { ClickWithFile(IDC_IMPORT, good); });
    ASSERT_EQ(m_boxes.size(), 1u);
    EXPECT_TRUE(m_boxes[0].text.starts_with(u"Failed to save the directory: "))
        << Utf16ToUtf8(m_boxes[0].text);
    EXPECT_EQ(m_boxes[0].icon, EMessageIcon::Error);
    EXPECT_EQ(Core().UserRecord(u"bob")->m_strPassword, u"changed");
    EXPECT_EQ(Stored(kUserKey), users);
}

} // namespace

// The file dialogs' texts live in the string table; they must name the extension that
// orvanectl adds and the credential service refuses to hand out.
TEST(ConfigFileTexts, TheDialogsNameTheOneExtension) {
    const std::u16string pattern = u"*" + Utf8ToUtf16(CConfigFile::kExtension);
    EXPECT_EQ(LoadString(IDS_DEFAULT_EXT), pattern);
    EXPECT_NE(LoadString(IDS_FILE_FILTER).find(u"(" + pattern + u")|" + pattern + u"|"),
              std::u16string_view::npos);
}

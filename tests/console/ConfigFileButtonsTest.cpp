// Export and Import from the main window's buttons, through the file dialogs as an operator
// fills them in: the round trip, the replace question, a file whose group names a member that
// its user table lacks, and files that cannot be opened or are damaged.
#include "core/CConfigFile.h"
#include "resources/ResourceIds.h"
#include "tests/console/AccountTestSupport.h"

#include <QFileDialog>
#include <fstream>

namespace {

class ConfigButtons : public AccountTab {
protected:
    void SetUp() override {
        AccountTab::SetUp();
        Send(CDirectoryMessage::AddUser(true, User(u"bob", u"b0b", {u"Everyone"})));
        Send(CDirectoryMessage::AddGroup(true, Group(u"Ops", {u"admin", u"bob"})));
        Send(CDirectoryMessage::SetGroupAccess(true, Group(u"Ops", {}, {u"00:1B:4D:00:00:01"})));
    }

    // Clicks Import or Export, goes to the file's folder in the file dialog that opens and
    // types the file's name there.
    void ClickWithFile(int button, const std::filesystem::path& typed) {
        WhenModal<QFileDialog>([typed](QFileDialog& dialog) {
            dialog.setDirectory(QString::fromStdString(typed.parent_path().string()));
            auto* edit = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            ASSERT_NE(edit, nullptr);
            QTest::keyClicks(edit, QString::fromStdString(typed.filename().string()));
            QTest::keyClick(edit, Qt::Key_Return);
        });
        QTest::mouseClick(m_window->GetDlgItem(button), Qt::LeftButton);
    }
    CStoredValues Stored(std::u16string_view key) {
        return ReadValues(m_window.RegistryFile(), key);
    }
    static void WriteFile(const std::filesystem::path& path, std::span<const uint8_t> bytes) {
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
    }

    CTempDir m_files;
};

TEST_F(ConfigButtons, ExportThenImportRestoresEveryStoredValueByteForByte) {
    QStringList filters;
    WhenModal<QFileDialog>([&filters](QFileDialog& dialog) {
        filters = dialog.nameFilters();
        EXPECT_EQ(dialog.acceptMode(), QFileDialog::AcceptSave);
        dialog.reject();
    });
    QTest::mouseClick(m_window->GetDlgItem(IDC_EXPORT), Qt::LeftButton);
    EXPECT_EQ(filters, (QStringList{"Orvane-Srv Files, (*.ovx)", "All Files (*)"}));

    ClickWithFile(IDC_EXPORT, m_files / "directory"); // the extension is added
    const std::filesystem::path file = m_files / "directory.ovx";
    ASSERT_TRUE(std::filesystem::exists(file));
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr); // the wait cursor is gone again
    const CStoredValues users = Stored(kUserKey);
    const CStoredValues groups = Stored(kGroupKey);

    // Changed after the export; the import brings the exported records back.
    Send(CDirectoryMessage::ModifyUser(true, User(u"bob", u"new", {})));
    Send(CDirectoryMessage::SetGroupAccess(true, Group(u"Ops")));
    SelectGroup(u"Ops");
    ClickWithFile(IDC_IMPORT, file);
    EXPECT_TRUE(Boxes().empty());
    EXPECT_EQ(Stored(kUserKey), users);
    EXPECT_EQ(Stored(kGroupKey), groups);
    EXPECT_EQ(Password(u"bob"), u"b0b");
    // The Groups list afresh, the first group selected and shown.
    EXPECT_EQ(Texts(Tab().Groups()), (Names{u"Administrator", u"Everyone", u"Ops"}));
    EXPECT_EQ(Tab().Groups().GetCurSel(), 0u);
    EXPECT_EQ(Texts(Tab().Users()), Names{u"admin"});

    // Replacing the file is asked about; No brings the dialog back, where Cancel ends it.
    m_onBox = [](const CMessageBoxRequest&) {
        WhenModal<QFileDialog>([](QFileDialog& dialog) { dialog.reject(); });
        return EMessageAnswer::No;
    };
    Send(CDirectoryMessage::DeleteUser(true, u"bob"));
    ClickWithFile(IDC_EXPORT, file);
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0].text, u"directory.ovx already exists.\nDo you want to replace it?");
    EXPECT_EQ(Boxes()[0].buttons, EMessageButtons::YesNo);
    CGroupTable fileGroups;
    CUserTable fileUsers;
    std::ifstream in(file, std::ios::binary);
    const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
    ASSERT_EQ(CConfigFile::Parse(bytes, fileGroups, fileUsers), EArchiveError::None);
    EXPECT_TRUE(fileUsers.contains(u"bob"));
}

TEST_F(ConfigButtons, AMemberTheFileHasNoUserForIsImportedAsItStands) {
    CGroupTable groups;
    groups[u"Ghosts"] = Group(u"Ghosts", {u"nobody", u"admin"});
    const std::filesystem::path file = m_files / "ghosts.ovx";
    WriteFile(file, CConfigFile::Serialize(groups, CUserTable{}));
    const CStoredValues users = Stored(kUserKey);

    ClickWithFile(IDC_IMPORT, file);
    EXPECT_TRUE(Boxes().empty());
    EXPECT_EQ(MembersOf(u"Ghosts"), (Names{u"nobody", u"admin"}));
    EXPECT_FALSE(Core().m_mapUsers.contains(u"nobody"));
    // No linking: admin's own list is as it was, and every user is written again unchanged.
    EXPECT_EQ(GroupsOf(u"admin"), (Names{u"Administrator", u"Everyone", u"Ops"}));
    EXPECT_EQ(Stored(kUserKey), users);
    EXPECT_EQ(Decode<CGroupData>(Stored(kGroupKey).at(u"Ghosts")).m_listUsers,
              (Names{u"nobody", u"admin"}));
    SelectGroup(u"Ghosts");
    EXPECT_EQ(Texts(Tab().Users()), (Names{u"admin", u"nobody"}));
}

TEST_F(ConfigButtons, AFileThatCannotBeOpenedOrIsDamagedChangesNothing) {
    const std::filesystem::path good = m_files / "good.ovx";
    ClickWithFile(IDC_EXPORT, good);
    std::vector<uint8_t> bytes;
    {
        std::ifstream in(good, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), {});
    }
    ASSERT_GT(bytes.size(), 8u);
    const std::filesystem::path cut = m_files / "cut.ovx";
    WriteFile(cut, std::span(bytes).first(bytes.size() - 3));
    std::vector<uint8_t> wrongClass = bytes;
    const auto name = std::search(wrongClass.begin(), wrongClass.end(), "CGroupData",
                                  std::next("CGroupData", 10));
    ASSERT_NE(name, wrongClass.end());
    *name = 'X';
    const std::filesystem::path alien = m_files / "alien.ovx";
    WriteFile(alien, wrongClass);

    Send(CDirectoryMessage::ModifyUser(true, User(u"bob", u"changed", {u"Everyone"})));
    SelectGroup(u"Ops");
    const CStoredValues users = Stored(kUserKey);
    const CStoredValues groups = Stored(kGroupKey);
    struct CCase {
        std::filesystem::path file;
        std::u16string text;
        EMessageIcon icon;
    };
    const CCase cases[] = {
        {m_files / "absent.ovx", u"Failed to open Configuration File.", EMessageIcon::None},
        {cut, u"Attempted to access " + cut.u16string() + u" past its end.", EMessageIcon::Error},
        {alien, alien.u16string() + u" contained an unexpected object.", EMessageIcon::Error},
    };
    for (const CCase& c : cases) {
        const std::size_t before = Boxes().size();
        ClickWithFile(IDC_IMPORT, c.file);
        ASSERT_EQ(Boxes().size(), before + 1);
        EXPECT_EQ(Boxes().back().text, c.text);
        EXPECT_EQ(Boxes().back().icon, c.icon);
        EXPECT_EQ(Password(u"bob"), u"changed");
        EXPECT_EQ(Stored(kUserKey), users);
        EXPECT_EQ(Stored(kGroupKey), groups);
        EXPECT_EQ(Tab().Groups().GetText(Tab().Groups().GetCurSel()), u"Ops");
    }
}

} // namespace

// Renders the console's windows to PNG files, as an operator would see them: the main window with
// the System tab and with the Account tab (a dozen users and groups), the window menu open, the
// Login Dialog, the user, group and group access dialogs, the About box and the program icon;
// then a fleet: the access dialog over 200 arrays (with and without a filter) and the System
// list of a thousand arrays in a wide window with its optional columns, and the one box of a
// Login press over 200 arrays. Runs on Qt's offscreen platform; the folder is its argument. The
// README's pictures of the console (docs/screenshots/) are this run's files of those names: the
// target docs_screenshots renews them.
//
// Where the lab's namespaces can be made it builds a small lab of varied simulated arrays
// (tools/lab/orvane-lab.sh, the arrays of tests/console/screenshot-arrays) and runs itself
// inside it: the System tab is then filled by a real discovery pass, checked row by row against
// those arrays, and one array shows "Yes" after a real login; a lab that cannot be built, or a
// list that differs, fails the run. Where no lab can be made, the list holds a few made-up rows,
// nothing touches a network (no discovery, no credential service) and the run ends as skipped
// (77), or as failed under ORVANE_FAIL_ON_SKIP=1.
#include "console/CAboutDlg.h"
#include "console/CAddGroupDlg.h"
#include "console/CAddUserDlg.h"
#include "console/CGroupAccessDlg.h"
#include "console/CLoginDlg.h"
#include "console/COrvaneSrvDlg.h"
#include "console/ConsoleLook.h"
#include "control/CLoginPress.h"
#include "platform/text/TextConv.h"
#include "platform/ui/CListBox.h"
#include "platform/ui/CListCtrl.h"
#include "platform/ui/IconFromSvg.h"
#include "resources/ProgramIcon.h"
#include "resources/ResourceIds.h"
#include "service/CCredentialService.h"
#include "tests/console/ConsoleTestSupport.h"
#include "tests/support/CTempDir.h"
#include "tests/support/TestGate.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int kIconPreview = 128;
// The exit status of a run that could not show the lab.
constexpr int kSkipped = 77;
// The screenshot lab's array with the administrator password "secret" (the first line of
// tests/console/screenshot-arrays); its IP address is the lab's first.
constexpr const char16_t* kLoginIp = u"10.77.1.1";
constexpr auto kPassLimit = std::chrono::seconds(30);
constexpr const char* kLabSchedule = "net.slp.multicastTimeouts = 150,150,150,150\n"
                                     "net.slp.multicastMaximumWait = 1000\n";
constexpr int kCaptionPadding = 10;
// The made-up fleet's arrays per subnet, and the wide window of its System list.
constexpr std::size_t kPerSubnet = 250;
constexpr QSize kWideWindow(1500, 640);

struct CFakeServer {
    const char16_t* ip;
    const char16_t* name;
    const char16_t* product;
    const char16_t* version;
    const char16_t* mac;
    const char16_t* auth;
};

constexpr std::array kServers = {
    CFakeServer{u"192.168.10.21", u"array-rack1-a", u"Z220-S16", u"3.2.7", u"00:1B:4D:20:11:A1",
                u"Yes"},
    CFakeServer{u"192.168.10.22", u"array-rack1-b", u"Z220-S16", u"3.2.7", u"00:1B:4D:20:11:A2",
                u"Yes"},
    CFakeServer{u"192.168.10.35", u"backup-vault", u"VX2216I-D2", u"2.10.1", u"00:1B:4D:31:07:5C",
                u"No"},
    CFakeServer{u"192.168.10.40", u"lab-san-03", u"BrindleSAS618HS", u"1.4.0", u"00:1B:4D:44:9E:02",
                u"Logging"},
    CFakeServer{u"192.168.10.117", u"media-nas", u"NX400", u"5.0.2", u"00:1B:4D:52:C0:3F", u"No"},
};

// The System tab's rows that discovery must find in the screenshot lab, as
// "ip|system name|product|version|mac|auth", after the login to the first: the arrays of
// tests/console/screenshot-arrays at the lab's addresses, in the order of that file.
const std::array<const char*, 6> kLabRows = {
    "10.77.1.1|array-rack1-a|Z220-S16|3.2.7|00:1B:4D:20:11:A1|Yes",
    "10.77.1.2|array-rack1-b|Z220-S16|3.2.7|00:1B:4D:20:11:A2|No",
    "10.77.1.3|backup-vault|VX2216I-D2|2.10.1|00:1B:4D:31:07:5C|No",
    "10.77.1.4|lab-san-03|BrindleSAS618HS|1.4.0|00:1B:4D:44:9E:02|No",
    "10.77.1.5|media-nas|NX400|5.0.2|00:1B:4D:52:C0:3F|No",
    "10.77.1.6|edge-cache-07|Y240-LX|4.0.11|00:1B:4D:60:2A:17|No",
};

// The list holds back the paints of a stream of changes; a picture taken meanwhile is blank.
void PaintLists(QWidget& window) {
    for (CListCtrl* list : window.findChildren<CListCtrl*>()) {
        list->PaintNow();
    }
    QApplication::processEvents();
}

bool Save(const QPixmap& pixmap, const QString& dir, const char* name) {
    const QString file = dir + QLatin1Char('/') + QLatin1String(name);
    const bool ok = pixmap.save(file, "PNG");
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", file.toUtf8().constData());
    return ok;
}

struct CFakeAccount {
    const char16_t* user;
    std::vector<std::u16string> groups;
};

const std::array kGroups = {
    u"Backup Operators", u"Finance", u"Helpdesk",    u"Lab",         u"Media",
    u"Storage Admins",   u"Audit",   u"Night Shift", u"Contractors", u"Research"};

const std::array kAccounts = {
    CFakeAccount{u"alice.meyer", {u"Storage Admins", u"Administrator"}},
    CFakeAccount{u"bjorn.holt", {u"Storage Admins", u"Night Shift"}},
    CFakeAccount{u"carla.ruiz", {u"Finance", u"Audit"}},
    CFakeAccount{u"dmitri.volkov", {u"Storage Admins", u"Lab", u"Research"}},
    CFakeAccount{u"elena.park", {u"Helpdesk"}},
    CFakeAccount{u"farid.haddad", {u"Media", u"Backup Operators"}},
    CFakeAccount{u"grace.liu", {u"Storage Admins", u"Backup Operators"}},
    CFakeAccount{u"hugo.martin", {u"Contractors"}},
    CFakeAccount{u"ines.costa", {u"Research", u"Lab"}},
    CFakeAccount{u"jonas.berg", {u"Night Shift", u"Helpdesk"}},
    CFakeAccount{u"kemal.aydin", {u"Audit"}},
};

// The servers of the pictures that discovery in the lab did not find; under the exclusive guard.
void AddFakeServers(CServerTable& servers);

// The directory and the storage server table of the Account tab's pictures.
void FillDirectory(COrvaneSrvCore& core) {
    for (const char16_t* group : kGroups) {
        core.SendMessage(CDirectoryMessage::AddGroup(true, std::make_unique<CGroupData>(group)));
    }
    for (const CFakeAccount& account : kAccounts) {
        auto user = std::make_unique<CUserData>(account.user, u"pass1234");
        user->m_listGroups = account.groups;
        user->m_listGroups.emplace_back(u"Everyone");
        core.SendMessage(CDirectoryMessage::AddUser(true, std::move(user)));
    }
    auto access = std::make_unique<CGroupData>(u"Storage Admins");
    access->m_listAccess = {kServers[0].mac, kServers[2].mac, kServers[4].mac,
                            u"00:1B:4D:7F:00:10"};
    core.SendMessage(CDirectoryMessage::SetGroupAccess(true, std::move(access)));

    core.ChangeServers([&](CServerTable& servers) { AddFakeServers(servers); });
}

void AddFakeServers(CServerTable& servers) {
    const char* vendors[] = {"Tarvik Networks", "Tarvik Networks", "Halvard", "KOVA", "Tarvik"};
    const char* models[] = {"Arvo", "Arvo", "Evask", "Lunn", ""};
    const char* types[] = {"SAN", "SAN", "SAN", "SAN", "NAS"};
    for (std::size_t i = 0; i < kServers.size(); ++i) {
        const CFakeServer& s = kServers[i];
        if (servers.Find(s.mac) != nullptr) {
            continue; // found by discovery in the lab
        }
        auto server = std::make_unique<CServerData>();
        server->SetIPAddr(Utf16ToUtf8(s.ip));
        server->SetSystemName(Utf16ToUtf8(s.name));
        server->SetProduct(Utf16ToUtf8(s.product));
        server->SetVersion(Utf16ToUtf8(s.version));
        server->SetMAC(Utf16ToUtf8(s.mac));
        server->SetVendor(vendors[i]);
        server->SetModel(models[i]);
        server->SetType(types[i]);
        server->m_bAuthorized = std::u16string_view(s.auth) == u"Yes" ? 1 : 0;
        servers.Add(s.mac, std::move(server));
    }
}

// The window's picture under a plain title bar with its caption, which the offscreen platform
// does not draw: the caption is what tells the two modes of a dialog apart.
QPixmap WithCaption(QWidget& window) {
    const QPixmap body = window.grab();
    const int bar = window.fontMetrics().height() + kCaptionPadding;
    QPixmap framed(body.width(), body.height() + bar);
    framed.fill(QColor(0xD8, 0xD8, 0xD8));
    QPainter painter(&framed);
    painter.setFont(window.font());
    painter.setPen(Qt::black);
    painter.drawText(QRect(kCaptionPadding, 0, body.width() - 2 * kCaptionPadding, bar),
                     Qt::AlignVCenter | Qt::AlignLeft, window.windowTitle());
    painter.drawPixmap(0, bar, body);
    painter.end();
    return framed;
}

// The modal dialog built and shown without its loop, painted, and closed again.
bool SaveDialog(CDialog& dialog, const QString& dir, const char* name) {
    dialog.Create();
    dialog.show();
    PaintLists(dialog);
    const bool ok = Save(WithCaption(dialog), dir, name);
    dialog.hide();
    return ok;
}

// A made-up array of a fleet: its address, name and MAC address by number.
std::u16string FleetIp(std::size_t i) {
    return Utf8ToUtf16("10.80." + std::to_string(i % 4) + "." +
                       std::to_string(1 + i / 4 % kPerSubnet));
}
std::u16string FleetName(std::size_t i) {
    return Utf8ToUtf16("rack" + std::to_string(i % 4) + "-array" +
                       std::to_string(1 + i / 4 % kPerSubnet));
}
std::u16string FleetMac(std::size_t i) {
    char mac[sizeof "00:1B:4D:80:00:00"];
    std::snprintf(mac, sizeof mac, "00:1B:4D:80:%02zX:%02zX", (i >> 8) & 0xFF, i & 0xFF);
    return Utf8ToUtf16(mac);
}

// The access dialog of a group over 200 supported arrays of the table, every seventh ticked:
// as it opens, and narrowed by a filter.
bool SaveAccessFleetPictures(COrvaneSrvCore& core, QWidget& owner, const QString& dir) {
    constexpr std::size_t kArrays = 200;
    constexpr std::size_t kTickEvery = 7;
    auto group = std::make_unique<CGroupData>(u"Lab");
    core.ChangeServers([&](CServerTable& servers) {
        for (std::size_t i = 0; i < kArrays; ++i) {
            auto server = std::make_unique<CServerData>();
            server->SetIPAddr(Utf16ToUtf8(FleetIp(i)));
            server->SetSystemName(Utf16ToUtf8(FleetName(i)));
            server->SetProduct("Z220-S16");
            server->SetVersion("3.2.7");
            server->SetMAC(Utf16ToUtf8(FleetMac(i)));
            server->SetVendor("Tarvik Networks");
            server->SetModel("Arvo");
            server->SetType("SAN");
            servers.Add(FleetMac(i), std::move(server));
            if (i % kTickEvery == 0) {
                group->m_listAccess.push_back(FleetMac(i));
            }
        }
    });
    core.SendMessage(CDirectoryMessage::SetGroupAccess(true, std::move(group)));
    CGroupAccessDlg access(core, &owner);
    access.m_strGroupName = u"Lab";
    bool ok = SaveDialog(access, dir, "group-access-fleet.png");
    CGroupAccessDlg filtered(core, &owner);
    filtered.m_strGroupName = u"Lab";
    filtered.Create();
    qobject_cast<QLineEdit*>(filtered.GetDlgItem(IDC_ACCESS_FILTER))
        ->setText(QStringLiteral("rack2-array1"));
    return ok & SaveDialog(filtered, dir, "group-access-filter.png");
}

// The group dialog of a group that two of the site directory's groups map to.
bool SaveDirectoryGroupsPicture(COrvaneSrvCore& core, IMessageBoxes& boxes, QWidget& owner,
                                const QString& dir) {
    auto group = std::make_unique<CGroupData>(u"Night Shift");
    group->m_listUsers = core.GroupRecord(u"Night Shift")->m_listUsers;
    group->m_listDirectoryGroups = {
        u"cn=storage-admins,ou=groups,dc=example,dc=com",
        u"CN=SAN Night Operators,OU=Security Groups,DC=corp,DC=example"};
    core.SendMessage(CDirectoryMessage::ModifyGroup(true, std::move(group)));
    CAddGroupDlg dialog(core, boxes, &owner);
    dialog.m_bProperties = true;
    dialog.m_strGroupName = u"Night Shift";
    return SaveDialog(dialog, dir, "group-directory-groups.png");
}

bool SaveAccountPictures(COrvaneSrvDlg& dialog, const QString& dir) {
    FillDirectory(dialog.Core());
    CTabAccount& tab = *dialog.TabAccount();
    tab.ReloadGroups();
    tab.Groups().SetCurSel(tab.Groups().FindStringExact(u"Storage Admins"));
    tab.OnSelchangeGroupList();
    tab.Users().SetSel(1, true);
    dialog.TabCtrl().setCurrentIndex(1);
    PaintLists(dialog);
    bool ok = Save(dialog.grab(), dir, "main-account.png");

    CQtMessageBoxes& boxes = *dialog.MessageBoxes();
    CAddUserDlg user(dialog.Core(), boxes, &dialog);
    user.m_bProperties = true;
    user.m_strUserName = u"dmitri.volkov";
    ok &= SaveDialog(user, dir, "user-properties.png");
    CAddUserDlg newUser(dialog.Core(), boxes, &dialog);
    ok &= SaveDialog(newUser, dir, "user-create.png");
    CAddGroupDlg group(dialog.Core(), boxes, &dialog);
    group.m_bProperties = true;
    group.m_strGroupName = u"Storage Admins";
    ok &= SaveDialog(group, dir, "group-properties.png");
    ok &= SaveDirectoryGroupsPicture(dialog.Core(), boxes, dialog, dir);
    CGroupAccessDlg access(dialog.Core(), &dialog);
    access.m_strGroupName = u"Storage Admins";
    ok &= SaveDialog(access, dir, "group-access.png");
    return ok & SaveAccessFleetPictures(dialog.Core(), dialog, dir);
}

void FillSystemTab(CTabSystem& tab) {
    for (const CFakeServer& s : kServers) {
        const std::size_t row = tab.AppendRow(s.ip);
        tab.SetCellText(row, EServerColumn::SystemName, s.name);
        tab.SetCellText(row, EServerColumn::Product, s.product);
        tab.SetCellText(row, EServerColumn::Version, s.version);
        tab.SetCellText(row, EServerColumn::MAC, s.mac);
        tab.SetCellText(row, EServerColumn::Auth, s.auth);
    }
    tab.SelectAndFocus(0);
    tab.List().SetSelected(2, true);
}

bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done() && std::chrono::steady_clock::now() < deadline) {
        QApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(5);
    }
    return done();
}

// Inside the lab: true when the System tab lists exactly the lab's arrays; says what differs.
bool ShowsTheLab(const CTabSystem& tab) {
    std::vector<std::string> shown;
    for (std::size_t row = 0; row < tab.RowCount(); ++row) {
        std::string text;
        for (std::size_t col = 0; col < kServerColumnCount; ++col) {
            text += (col != 0 ? "|" : "") +
                    Utf16ToUtf8(tab.CellText(row, static_cast<EServerColumn>(col)));
        }
        shown.push_back(text);
    }
    std::vector<std::string> expected(kLabRows.begin(), kLabRows.end());
    std::sort(shown.begin(), shown.end());
    std::sort(expected.begin(), expected.end());
    if (shown == expected) {
        return true;
    }
    std::fprintf(stderr, "console_screenshots: the System tab shows %zu rows:\n", shown.size());
    for (const std::string& text : shown) {
        std::fprintf(stderr, "  %s\n", text.c_str());
    }
    std::fprintf(stderr, "but the lab has these %zu arrays:\n", expected.size());
    for (const std::string& text : expected) {
        std::fprintf(stderr, "  %s\n", text.c_str());
    }
    return false;
}

// Inside the lab: waits for the first pass (Refresh comes back at its end), logs in to one array
// through the Login Dialog, and leaves that row selected.
bool FillSystemTabFromTheLab(CTabSystem& tab) {
    tab.OnRefresh();
    if (!RunUntil([&tab] { return tab.IsRefreshEnabled(); }, kPassLimit)) {
        std::fprintf(stderr, "console_screenshots: no end of the discovery pass\n");
        return false;
    }
    const std::size_t row = tab.FindRow(EServerColumn::IPAddr, kLoginIp);
    if (row == IServerListView::npos) {
        std::fprintf(stderr, "console_screenshots: discovery found no array at 10.77.1.1\n");
        return false;
    }
    tab.List().clearSelection();
    tab.List().SetSelected(row, true);
    tab.List().SetFocusRow(row);
    WhenModal<CLoginDlg>([](CLoginDlg& login) {
        if (auto* password = qobject_cast<QLineEdit*>(login.GetDlgItem(IDC_ADMIN_PASSWORD))) {
            password->setText(QStringLiteral("secret"));
        }
        qobject_cast<QPushButton*>(login.GetDlgItem(CDialog::IDOK))->click();
    });
    tab.OnLogin();
    if (!RunUntil([&] { return tab.CellText(row, EServerColumn::Auth) == u"Yes"; }, kPassLimit)) {
        std::fprintf(stderr, "console_screenshots: the login to 10.77.1.1 did not succeed\n");
        return false;
    }
    return ShowsTheLab(tab);
}

// Outside a lab: runs this program in a lab of its own and answers its exit status (the lab's
// own 3 when it could not be built).
int RunInLab(const QString& dir) {
    const std::filesystem::path labScript =
        std::filesystem::path(ORVANE_SOURCE_DIR) / "tools/lab/orvane-lab.sh";
    const std::filesystem::path arrays =
        std::filesystem::path(ORVANE_SOURCE_DIR) / "tests/console/screenshot-arrays";
    CTempDir scratch;
    std::ofstream(scratch / "slp.conf") << kLabSchedule;
    const std::string command =
        "OpenSLPConfig='" + (scratch / "slp.conf").string() + "' '" + labScript.string() +
        "' --bin '" + ORVANE_BIN_DIR + "' --arrays 6 --extra '" + arrays.string() + "' -- '" +
        std::filesystem::canonical("/proc/self/exe").string() + "' '" + dir.toStdString() + "'";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

// The window with its menu open beside it, as one picture.
QPixmap WithMenu(COrvaneSrvDlg& dialog) {
    const QPoint at(40, 30);
    dialog.WindowMenu().Popup(dialog.mapToGlobal(at));
    QApplication::processEvents();
    QMenu& menu = dialog.WindowMenu().Menu();
    const QPixmap window = dialog.grab();
    const QPixmap popup = menu.grab();
    QPixmap both(window.size());
    both.fill(Qt::white);
    QPainter painter(&both);
    painter.drawPixmap(0, 0, window);
    painter.drawPixmap(at, popup);
    painter.end();
    menu.hide();
    return both;
}

// A fleet: made-up arrays after the listed ones, in an order the IP heading puts right, seen by
// discovery within the last minutes.
void AddFleet(CTabSystem& tab, std::size_t count) {
    const auto now = std::chrono::system_clock::now();
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t row = tab.AppendRow(FleetIp(i));
        tab.SetCellText(row, EServerColumn::SystemName, FleetName(i));
        tab.SetCellText(row, EServerColumn::Product, u"Z220-S16");
        tab.SetCellText(row, EServerColumn::Version, u"3.2.7");
        tab.SetCellText(row, EServerColumn::MAC, FleetMac(i));
        tab.SetCellText(row, EServerColumn::Auth, i % 7 == 0 ? u"Yes" : u"No");
        tab.ShowDetails(row, {u"Tarvik Networks", u"Arvo", i % 9 == 0 ? u"NAS" : u"SAN",
                              now - std::chrono::seconds(i % 50)});
    }
}

// The server menu open on the focused row, beside the window, as one picture.
QPixmap WithServerMenu(COrvaneSrvDlg& dialog) {
    CTabSystem& tab = *dialog.TabSystem();
    CListCtrl& list = tab.List();
    const QPoint at = list.visualRect(list.currentIndex()).center();
    QPixmap both;
    QTimer::singleShot(0, [&] {
        if (QWidget* menu = QApplication::activePopupWidget()) {
            const QPixmap window = dialog.grab();
            const QPoint where = list.viewport()->mapTo(&dialog, at);
            both = QPixmap(window.size());
            both.fill(Qt::white);
            QPainter painter(&both);
            painter.drawPixmap(0, 0, window);
            painter.drawPixmap(where, menu->grab());
            painter.end();
            menu->close();
        }
    });
    tab.OnContextMenuList(list.viewport()->mapToGlobal(at));
    return both;
}

// The window grown, with a thousand more arrays sorted by address, then narrowed by the filter,
// then with the server menu open.
bool SaveFleetPictures(COrvaneSrvDlg& dialog, const QString& dir) {
    constexpr std::size_t kFleet = 1000;
    dialog.TabCtrl().setCurrentIndex(0);
    CTabSystem& tab = *dialog.TabSystem();
    AddFleet(tab, kFleet);
    // Two arrays that another host announces too (one of them silent at its own address), and
    // one whose name would drive a terminal.
    tab.ShowAddressState(tab.FindRow(EServerColumn::IPAddr, u"10.80.0.2"), EAddressState::Conflict,
                         u"10.80.9.9");
    tab.ShowAddressState(tab.FindRow(EServerColumn::IPAddr, u"10.80.0.4"), EAddressState::Moved,
                         u"10.80.9.8");
    tab.SetCellText(tab.FindRow(EServerColumn::IPAddr, u"10.80.0.6"), EServerColumn::SystemName,
                    u"evil\r10.80.0.9\x1b]0;x");
    dialog.resize(dialog.minimumSize() + QSize(260, 240));
    tab.List().sortByColumn(static_cast<int>(EServerColumn::IPAddr), Qt::AscendingOrder);
    tab.List().clearSelection();
    tab.SelectAndFocus(tab.FindRow(EServerColumn::IPAddr, u"10.80.0.3"));
    dialog.StatusText();
    PaintLists(dialog);
    bool ok = Save(dialog.grab(), dir, "main-fleet.png");
    ok &= Save(WithServerMenu(dialog), dir, "main-server-menu.png");
    qobject_cast<QLineEdit*>(tab.GetDlgItem(IDC_SERVER_FILTER))
        ->setText(QStringLiteral("rack2-array1"));
    tab.List().scrollToTop();
    dialog.StatusText();
    PaintLists(dialog);
    ok &= Save(dialog.grab(), dir, "main-filter.png");
    dialog.TabCtrl().setCurrentIndex(1);
    ok &= Save(dialog.grab(), dir, "main-account-grown.png");

    // Wide, with the optional columns shown: the system name takes the room the others leave.
    qobject_cast<QLineEdit*>(tab.GetDlgItem(IDC_SERVER_FILTER))->clear();
    dialog.TabCtrl().setCurrentIndex(0);
    for (const auto col : {CTabSystem::EDetailColumn::Vendor, CTabSystem::EDetailColumn::Type,
                           CTabSystem::EDetailColumn::LastSeen}) {
        tab.List().setColumnHidden(static_cast<int>(col), false);
    }
    dialog.resize(kWideWindow);
    tab.List().scrollToTop();
    dialog.StatusText();
    PaintLists(dialog);
    ok &= Save(dialog.grab(), dir, "main-system-wide.png");
    return ok;
}

// The one box of a press over 200 arrays: some refused, silent, answering 404, skipped.
bool SavePressSummary(QWidget& owner, const QString& dir) {
    constexpr std::size_t kPressed = 200;
    std::vector<CLoginOutcome> notable;
    std::vector<CLoginSkipped> skipped;
    for (std::size_t i = 0; i < kPressed; ++i) {
        CLoginOutcome outcome{FleetMac(i), FleetIp(i), u"admin"};
        outcome.requestTimeout = std::chrono::seconds(30);
        if (i % 40 == 3) {
            skipped.push_back({FleetMac(i), FleetIp(i), ELoginSkip::NoLogin});
            continue;
        }
        if (i % 38 == 5) {
            outcome.eResult = ELoginResult::Refused;
            outcome.nCode = 401;
        } else if (i == 77) {
            outcome.eResult = ELoginResult::TransportError;
            outcome.nCode = 28;
        } else if (i == 120) {
            outcome.eResult = ELoginResult::NotSupported;
            outcome.nCode = 404;
        } else {
            continue;
        }
        outcome.strMessage = u"failed";
        notable.push_back(outcome);
    }
    skipped.push_back({{}, u"10.80.9.1", ELoginSkip::NoMac});
    const std::optional<CPressBox> box =
        PressBox(std::move(notable), std::move(skipped), kPressed - 6);
    if (!box) {
        return false;
    }
    const auto shown =
        CQtMessageBoxes::MakeBox({box->strText, box->strCaption, box->eIcon}, &owner);
    shown->show();
    const bool ok = Save(WithCaption(*shown), dir, "login-press-summary.png");
    shown->hide();
    return ok;
}

// The box that ends a start whose settings file is refused, as main() words it.
bool SaveSettingsRefused(QWidget& owner, const QString& dir) {
    const auto shown = CQtMessageBoxes::MakeBox(
        {u"The settings file /home/operator/.config/OrvaneSrv/orvanesrv.conf is refused:\n\n"
         u"line 7: unknown key 'tmeout' in [ldap]",
         std::u16string(IMessageBoxes::kProgramName), EMessageIcon::Error},
        &owner);
    shown->show();
    const bool ok = Save(WithCaption(*shown), dir, "settings-refused.png");
    shown->hide();
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    ApplyConsoleLook(application);
    const QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("screenshots");
    QDir().mkpath(dir);
    const bool bInLab = std::getenv("LAB_DIR") != nullptr;
    std::string noLab;
    if (!bInLab) {
        noLab = GateUnavailable({"netns", "ipnetns", "veth"});
        if (noLab.empty()) {
            const int status = RunInLab(QDir(dir).absolutePath());
            if (status != 0) {
                std::fprintf(stderr, "console_screenshots: the run in the lab ended with %d\n",
                             status);
            }
            return status;
        }
        if (GateFailsOnSkip()) {
            std::fprintf(stderr, "console_screenshots: no lab (%s), and ORVANE_FAIL_ON_SKIP=1\n",
                         noLab.c_str());
            return 1;
        }
        std::fprintf(stderr,
                     "console_screenshots: no lab (%s); the System tab shows made-up rows\n",
                     noLab.c_str());
    }

    CTempDir store;
    bool ok = true;
    {
        // The service listens on a free port of the lab's (or the test's own) namespace.
        CCredentialService service;
        COrvaneSrvApp app({[&service](COrvaneSrvCore& core) {
                               CServiceOptions options;
                               options.nPort = 0;
                               service.StartCredentialServer(core, options);
                           },
                           [&service](COrvaneSrvCore&) { service.StopCredentialServer(); }});
        COrvaneSrvDlg dialog(app, std::make_unique<CRegistryHive>(store / "registry.db"));
        if (!bInLab) {
            dialog.SetSystemTabHooks({}); // the list is filled below, not from a network
        }
        dialog.MessageBoxes()->SetAnswerer([](const CMessageBoxRequest& box) {
            std::fprintf(stderr, "console_screenshots: box \"%s\"\n",
                         QString::fromStdU16String(box.text).toUtf8().constData());
            return std::optional(CQtMessageBoxes::DefaultAnswer(box.buttons));
        });
        dialog.Create();
        dialog.show();
        if (bInLab) {
            ok &= FillSystemTabFromTheLab(*dialog.TabSystem());
        } else {
            FillSystemTab(*dialog.TabSystem());
        }
        dialog.StatusText();
        PaintLists(dialog);
        // A fresh store: "admin" still has its default password, and the window says so.
        ok &= Save(dialog.grab(), dir, "main-default-password.png");
        auto admin = std::make_unique<CUserData>(u"admin", u"changed-at-install");
        admin->m_listGroups = {u"Administrator", u"Everyone"};
        dialog.Core().SendMessage(CDirectoryMessage::ModifyUser(true, std::move(admin)));
        ok &= Save(dialog.grab(), dir, "main-system.png");
        ok &= Save(WithMenu(dialog), dir, "main-window-menu.png");
        ok &= SaveAccountPictures(dialog, dir);

        CLoginDlg login(&dialog);
        ok &= SaveDialog(login, dir, "login-dialog.png");
        // A made-up certificate: the picture shows where users find the fingerprint.
        std::string fingerprint = "3F";
        for (int i = 1; i < 32; ++i) {
            fingerprint += ":" + std::to_string(10 + (i * 37) % 90);
        }
        CAboutDlg about(
            {CTlsPortState::EState::Serving, CServiceOptions::kDefaultTlsPort, fingerprint, ""},
            &dialog);
        ok &= SaveDialog(about, dir, "about-box.png");
        QInputDialog unseal(&dialog);
        COrvaneSrvDlg::ConfigureUnsealPrompt(unseal);
        unseal.setTextValue(QStringLiteral("passphrase"));
        unseal.show();
        ok &= Save(WithCaption(unseal), dir, "unseal-prompt.png");
        unseal.hide();
        ok &= SaveFleetPictures(dialog, dir);
        ok &= SavePressSummary(dialog, dir);
        ok &= SaveSettingsRefused(dialog, dir);
        dialog.DestroyWindow();
    }
    ok &= Save(PixmapFromSvg(IconSvg(IDR_MAINFRAME), kIconPreview), dir, "program-icon.png");
    if (!ok) {
        return 1;
    }
    // Pictures of made-up rows are written, but the lab's part did not run.
    return noLab.empty() ? 0 : kSkipped;
}

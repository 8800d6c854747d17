// Every dialog template of the console built into a window: each control where its template puts
// it, the window fixed at the template's size, the default button set.
#include "platform/ui/CDialog.h"
#include "platform/ui/CDialogPage.h"
#include "resources/DialogTemplates.h"
#include "resources/ResourceIds.h"
#include "resources/StringTable.h"

#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <vector>

namespace {

void ExpectBuiltAsTemplate(const CDialogControls& controls, const QWidget& window) {
    const CDialogTemplate& t = *controls.Template();
    const CDialogUnits& units = controls.Units();
    EXPECT_EQ(window.size(), QSize(units.X(t.cx), units.Y(t.cy))) << t.nId;
    EXPECT_EQ(window.minimumSize(), window.maximumSize()) << t.nId << " must be fixed-size";
    ASSERT_EQ(controls.Entries().size(), t.controls.size());
    for (const CDialogControls::CEntry& entry : controls.Entries()) {
        const CDluRect& r = entry.pTemplate->rect;
        EXPECT_EQ(entry.pWidget->geometry(), units.ToPixels(r))
            << "dialog " << t.nId << " control " << entry.pTemplate->nId;
        EXPECT_EQ(entry.pWidget->isEnabled(),
                  !HasStyle(entry.pTemplate->styles, EControlStyle::Disabled));
    }
}

TEST(DialogTemplates, EveryDialogIsHeldWithDistinctControlIdentifiers) {
    std::set<int> ids;
    for (const CDialogTemplate& t : AllDialogTemplates()) {
        ids.insert(t.nId);
        std::set<int> controls;
        for (const CControlTemplate& c : t.controls) {
            if (c.nId != CControlTemplate::kStaticId) {
                EXPECT_TRUE(controls.insert(c.nId).second) << t.nId << ": " << c.nId;
            }
            // Every control lies inside its dialog.
            EXPECT_LE(c.rect.x + c.rect.cx, t.cx) << t.nId << ": " << c.nId;
            EXPECT_LE(c.rect.y + c.rect.cy, t.cy) << t.nId << ": " << c.nId;
        }
        EXPECT_EQ(t.fontFamily, u"DejaVu Sans");
        EXPECT_EQ(t.nPointSize, 8);
    }
    EXPECT_EQ(ids, (std::set<int>{100, 102, 129, 130, 131, 133, 134, 135}));
    EXPECT_EQ(FindDialogTemplate(999), nullptr);
}

// The pixels of the pinned font (DejaVu Sans 8 pt), measured once: each window's size, and every
// control of two dialogs in the order of their templates.
const std::map<int, QSize> kWindowPixels = {
    {100, {403, 164}}, {102, {770, 374}}, {129, {739, 284}}, {130, {739, 284}},
    {131, {385, 127}}, {133, {464, 284}}, {134, {578, 323}}, {135, {775, 406}},
};
const std::map<int, std::vector<QRect>> kControlPixels = {
    {IDD_LOGIN,
     {{12, 11, 105, 26},
      {144, 11, 166, 23},
      {12, 47, 105, 26},
      {144, 42, 166, 23},
      {81, 93, 88, 23},
      {208, 93, 88, 23}}},
    {IDD_ADD_GROUP,
     {{12, 11, 95, 23},
      {126, 11, 210, 23},
      {12, 59, 95, 23},
      {126, 55, 439, 114},
      {12, 185, 109, 33},
      {126, 182, 439, 72},
      {126, 258, 439, 16},
      {187, 289, 88, 23},
      {303, 289, 88, 23}}},
};

void ExpectPixels(const CDialogControls& controls, const QWidget& window) {
    const int id = controls.Template()->nId;
    EXPECT_EQ(window.size(), kWindowPixels.at(id)) << id;
    if (const auto it = kControlPixels.find(id); it != kControlPixels.end()) {
        std::vector<QRect> built;
        for (const CDialogControls::CEntry& entry : controls.Entries()) {
            built.push_back(entry.pWidget->geometry());
        }
        EXPECT_EQ(built, it->second) << id;
    }
}

TEST(DialogTemplates, EveryTemplateBuildsToItsGeometry) {
    for (const CDialogTemplate& t : AllDialogTemplates()) {
        if (HasStyle(t.styles, EDialogStyle::Child)) {
            QWidget parent;
            CDialogPage page(t);
            page.Create(parent);
            ExpectBuiltAsTemplate(page.Controls(), page);
            ExpectPixels(page.Controls(), page);
        } else {
            CDialog dialog(t);
            dialog.Create();
            ExpectBuiltAsTemplate(dialog.Controls(), dialog);
            ExpectPixels(dialog.Controls(), dialog);
            EXPECT_EQ(dialog.windowTitle().toStdU16String(), t.caption);
            // The main window has no default button: Enter must not offer to end the service.
            QPushButton* def = dialog.Controls().DefaultButton();
            EXPECT_EQ(def, t.nId == IDD_ORVANESRV_DIALOG ? nullptr : dialog.GetDlgItem(IDOK))
                << t.nId;
        }
    }
}

// Every button of every window has an Alt letter, and no two controls of a window share one; the
// main window is checked with each of its pages in front.
TEST(DialogTemplates, EveryButtonHasAnAltLetterOfItsOwn) {
    for (const CDialogTemplate& t : AllDialogTemplates()) {
        for (const CDialogTemplate& page : AllDialogTemplates()) {
            const bool bMain = t.nId == IDD_ORVANESRV_DIALOG;
            if (HasStyle(t.styles, EDialogStyle::Child) ||
                (bMain != HasStyle(page.styles, EDialogStyle::Child)) || (!bMain && &page != &t)) {
                continue;
            }
            CDialog dialog(t);
            dialog.Create();
            CDialogPage front(page);
            if (bMain) {
                front.Create(dialog);
            }
            std::set<QKeySequence> keys;
            for (const QWidget* w : dialog.findChildren<QWidget*>()) {
                const auto* button = qobject_cast<const QPushButton*>(w);
                const auto* label = qobject_cast<const QLabel*>(w);
                const QString text = button ? button->text() : label ? label->text() : QString();
                const QKeySequence key = QKeySequence::mnemonic(text);
                EXPECT_TRUE(key.isEmpty() ? !button : keys.insert(key).second)
                    << page.nId << ": " << text.toStdString();
            }
        }
    }
}

TEST(DialogTemplates, StylesReachTheControls) {
    CDialog access(*FindDialogTemplate(IDD_GROUP_ACCESS));
    access.Create();
    auto* name = qobject_cast<QLineEdit*>(access.GetDlgItem(IDC_ACCESS_GROUP_NAME));
    ASSERT_NE(name, nullptr);
    EXPECT_FALSE(name->isEnabled());
    CDialog user(*FindDialogTemplate(IDD_ADD_USER));
    user.Create();
    EXPECT_EQ(qobject_cast<QLineEdit*>(user.GetDlgItem(IDC_USER_PASSWORD))->echoMode(),
              QLineEdit::Password);
    EXPECT_EQ(qobject_cast<QLineEdit*>(user.GetDlgItem(IDC_USER_NAME))->echoMode(),
              QLineEdit::Normal);
}

TEST(StringTable, HoldsTheNumberedTexts) {
    EXPECT_EQ(LoadString(IDS_ABOUTBOX), u"&About Orvane-Srv...");
    EXPECT_EQ(LoadString(IDS_FILE_FILTER),
              u"Orvane-Srv Files, (*.ovx)|*.ovx|All Files (*.*)|*.*||");
    EXPECT_EQ(LoadString(IDS_SOCKETS_INIT_FAILED), u"Windows sockets initialization failed.");
    EXPECT_EQ(LoadString(IDS_DEFAULT_EXT), u"*.ovx");
    EXPECT_EQ(LoadString(105), u"");
}

} // namespace

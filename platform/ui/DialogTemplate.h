// Dialog templates as data: a dialog's caption, size, frame and font, and its controls with
// identifiers, kinds, texts, places and styles, all in dialog units (a quarter of the dialog
// font's average character width across, an eighth of its character height down). resources/
// holds the templates of the console; platform/ui's builder turns one into a window.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

enum class EControlKind {
    Label,         // static text
    Icon,          // static picture showing the program icon
    GroupBox,      // frame with a heading
    Edit,          // one-line edit
    PushButton,    // push button
    DefPushButton, // the dialog's default push button
    ListView,      // report-mode list
    ListBox,       // sorted list box
    CheckListBox,  // sorted list box with a check box per entry
    TabControl,    // owner-drawn tab control (made by the dialog itself)
};

// Styles of a control, combined with |.
enum class EControlStyle : uint32_t {
    None = 0,
    Disabled = 1u << 0,    // greyed, takes no input and no focus
    Password = 1u << 1,    // edit: characters hidden
    AutoHScroll = 1u << 2, // edit: scrolls horizontally
    Border = 1u << 3,      // list: sunken border
    SingleSel = 1u << 4,   // list view: one row at a time
    MultiToggle = 1u << 5, // list box: several entries, each click toggles one
    NoSort = 1u << 6,      // list view: rows stay where they were put
    ShowSelAlways = 1u << 7,
    TabStop = 1u << 8,
};

constexpr EControlStyle operator|(EControlStyle a, EControlStyle b) {
    return static_cast<EControlStyle>(static_cast<uint32_t>(a) | static_cast<uint32_t>(b));
}
constexpr bool HasStyle(EControlStyle styles, EControlStyle one) {
    return (static_cast<uint32_t>(styles) & static_cast<uint32_t>(one)) != 0;
}

// Styles of a dialog window, combined with |.
enum class EDialogStyle : uint32_t {
    None = 0,
    Child = 1u << 0,       // a page inside another window: no frame, no caption
    Caption = 1u << 1,     // title bar
    SysMenu = 1u << 2,     // window menu and close box
    MinimizeBox = 1u << 3, // minimize button
    ModalFrame = 1u << 4,
    Centered = 1u << 5,  // centred on the screen when shown
    AppWindow = 1u << 6, // own taskbar button
};

constexpr EDialogStyle operator|(EDialogStyle a, EDialogStyle b) {
    return static_cast<EDialogStyle>(static_cast<uint32_t>(a) | static_cast<uint32_t>(b));
}
constexpr bool HasStyle(EDialogStyle styles, EDialogStyle one) {
    return (static_cast<uint32_t>(styles) & static_cast<uint32_t>(one)) != 0;
}

// A rectangle in dialog units: left, top, width, height.
struct CDluRect {
    int x = 0;
    int y = 0;
    int cx = 0;
    int cy = 0;
};

struct CControlTemplate {
    static constexpr int kStaticId = -1; // labels and frames that nothing refers to

    int nId = kStaticId;
    EControlKind kind = EControlKind::Label;
    std::u16string_view text;
    CDluRect rect;
    EControlStyle styles = EControlStyle::None;
};

struct CDialogTemplate {
    int nId = 0;
    std::u16string_view caption;
    int cx = 0; // client area, dialog units
    int cy = 0;
    EDialogStyle styles = EDialogStyle::None;
    std::u16string_view fontFamily;
    int nPointSize = 0;
    std::span<const CControlTemplate> controls; // in tab order
};

// The checks every way of naming a new user or group shares (the dialogs and the control
// channel). A name of blanks only is no name; a new name may not differ from an existing one in
// letter case only, since operators and users type names both ways. Records already stored or
// imported keep the names they have.
#pragma once

class QWidget;

#include <optional>
#include <string>
#include <string_view>

enum class ERecordKind { User, Group };
enum class ENameCheck { Ok, Blank, Taken, CaseTwin };

struct CNameCheck {
    ENameCheck eResult = ENameCheck::Ok;
    std::u16string strTwin; // the existing name, for CaseTwin
};

// Whether nothing but white space is left of name.
bool IsBlankName(std::u16string_view name);

// Whether a and b are the same name but for letter case (and not the same text).
bool DifferInCaseOnly(std::u16string_view a, std::u16string_view b);

// The key of table that name equals but for letter case, if any. The caller holds the guard.
template <typename Table>
std::optional<std::u16string> CaseTwinIn(const Table& table, std::u16string_view name) {
    for (const auto& entry : table) {
        if (DifferInCaseOnly(entry.first, name)) {
            return entry.first;
        }
    }
    return std::nullopt;
}

// How a name typed for a record fares against the table it goes to. Only new records are
// checked: an existing one keeps the name it has. The caller holds the guard.
template <typename Table>
CNameCheck CheckName(const Table& table, std::u16string_view name, bool bNew) {
    if (!bNew) {
        return {};
    }
    if (IsBlankName(name)) {
        return {ENameCheck::Blank, {}};
    }
    if (table.contains(std::u16string(name))) {
        return {ENameCheck::Taken, {}};
    }
    if (std::optional<std::u16string> twin = CaseTwinIn(table, name)) {
        return {ENameCheck::CaseTwin, std::move(*twin)};
    }
    return {};
}

// The operator's message for a failed check; empty for Ok.
std::u16string NameCheckText(ERecordKind kind, const CNameCheck& check);

// After a warning: the caret back in the field at fault, its text selected to type over.
void FocusFieldAtFault(QWidget* field);

// Name checks on Qt's Unicode tables: white space of every script, and full case folding.
#include "console/AccountNames.h"

#include "resources/ResourceIds.h"
#include "resources/StringTable.h"

#include <QLineEdit>
#include <QString>

namespace {

QString ToQt(std::u16string_view text) {
    return QString(reinterpret_cast<const QChar*>(text.data()),
                   static_cast<qsizetype>(text.size()));
}

} // namespace

bool IsBlankName(std::u16string_view name) {
    return ToQt(name).trimmed().isEmpty();
}

bool DifferInCaseOnly(std::u16string_view a, std::u16string_view b) {
    return a != b && ToQt(a).compare(ToQt(b), Qt::CaseInsensitive) == 0;
}

std::u16string NameCheckText(ERecordKind kind, const CNameCheck& check) {
    const bool bUser = kind == ERecordKind::User;
    switch (check.eResult) {
    case ENameCheck::Blank:
        return std::u16string(LoadString(bUser ? IDS_USER_NAME_EMPTY : IDS_GROUP_NAME_EMPTY));
    case ENameCheck::Taken:
        return std::u16string(LoadString(bUser ? IDS_USER_EXISTS : IDS_GROUP_EXISTS));
    case ENameCheck::CaseTwin:
        return QString::fromStdU16String(
                   std::u16string(LoadString(bUser ? IDS_USER_NAME_CASE : IDS_GROUP_NAME_CASE)))
            .arg(ToQt(check.strTwin))
            .toStdU16String();
    case ENameCheck::Ok:
        break;
    }
    return {};
}

void FocusFieldAtFault(QWidget* field) {
    field->setFocus(Qt::OtherFocusReason);
    if (auto* edit = qobject_cast<QLineEdit*>(field)) {
        edit->selectAll();
    }
}

// The refusals' texts come from the string table, with the name they concern where they have one.
#include "control/RefusalText.h"

#include "core/COrvaneSrvCore.h"
#include "platform/text/FormatText.h"
#include "platform/text/TextConv.h"
#include "platform/text/TextEscape.h"
#include "resources/ResourceIds.h"
#include "resources/StringTable.h"

namespace {

std::u16string WithName(int id, const std::u16string& name) {
    return FormatText(LoadString(id), {name});
}

} // namespace

std::u16string DnFaultText(EDnFault fault, std::u16string_view dn) {
    switch (fault) {
    case EDnFault::Empty:
        return std::u16string(LoadString(IDS_DN_EMPTY));
    case EDnFault::TooLong:
        return FormatText(LoadString(IDS_DN_TOO_LONG),
                          {Utf8ToUtf16(std::to_string(CDirectoryRules::kMaxDnLength))});
    case EDnFault::ControlCharacter:
        return WithName(IDS_DN_CONTROL, ShowControls(dn));
    case EDnFault::NotAttributeValue:
        return WithName(IDS_DN_NOT_ATTRIBUTE_VALUE, ShowControls(dn));
    case EDnFault::None:
        break;
    }
    return {};
}

std::u16string RefusalText(const CRefusal& refusal) {
    const bool bUser = refusal.eRecord == ERecordKind::User;
    switch (refusal.eKind) {
    case ERefusal::BlankName:
        return std::u16string(LoadString(bUser ? IDS_USER_NAME_EMPTY : IDS_GROUP_NAME_EMPTY));
    case ERefusal::NameTaken:
        return std::u16string(LoadString(bUser ? IDS_USER_EXISTS : IDS_GROUP_EXISTS));
    case ERefusal::CaseTwin:
        return WithName(bUser ? IDS_USER_NAME_CASE : IDS_GROUP_NAME_CASE, refusal.strName);
    case ERefusal::ColonInName:
        return std::u16string(LoadString(IDS_USER_NAME_COLON));
    case ERefusal::EmptyPassword:
        return std::u16string(LoadString(IDS_PASSWORD_EMPTY));
    case ERefusal::OutsideEveryone:
        return WithName(IDS_OUTSIDE_EVERYONE, refusal.strName);
    case ERefusal::BuiltIn:
        return WithName(bUser ? IDS_BUILT_IN_USER : IDS_BUILT_IN_GROUP, refusal.strName);
    case ERefusal::DirectoryGroup:
        return DnFaultText(refusal.eDnFault, refusal.strName);
    case ERefusal::None:
        break;
    }
    return {};
}

std::u16string UnmadeChangeText(const COrvaneSrvCore& core) {
    return core.LastRefusal() ? RefusalText(core.LastRefusal()) : core.LastSaveError();
}

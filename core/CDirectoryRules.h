// The directory's rules, in one place for every way of changing it (the account dialogs,
// orvanectl, and COrvaneSrvCore::SendMessage behind both): what a new name may be, that every
// user has a password and is in "Everyone", that the built-in accounts stay, and which arrays a
// login goes to. Each check answers a typed refusal; the senders turn it into their own words.
// Records already stored or imported keep what they have: only changes are checked.
#pragma once

#include "core/CDirectoryMessage.h"
#include "core/CDirectoryUndo.h"
#include "storage/CServerData.h"

#include <array>
#include <span>
#include <string>
#include <string_view>
#include <vector>

enum class ERecordKind { User, Group };

enum class ERefusal {
    None,
    BlankName,       // nothing but white space
    NameTaken,       // a record of that very name exists
    CaseTwin,        // one exists that differs in letter case only
    ColonInName,     // a user name that HTTP Basic credentials cannot carry
    EmptyPassword,   //
    OutsideEveryone, // a user whose groups leave out "Everyone"
    BuiltIn,         // the delete of a built-in account
};

struct CRefusal {
    ERefusal eKind = ERefusal::None;
    ERecordKind eRecord = ERecordKind::User;
    std::u16string strName; // the existing twin (CaseTwin), the built-in account (BuiltIn)

    explicit operator bool() const { return eKind != ERefusal::None; }
    bool operator==(const CRefusal&) const = default;
};

class CDirectoryRules {
public:
    // The accounts every directory has; see COrvaneSrvCore::CreateBuiltInAccounts.
    static constexpr std::u16string_view kAdminUser = u"admin";
    static constexpr std::u16string_view kAdministratorGroup = u"Administrator";
    static constexpr std::u16string_view kEveryoneGroup = u"Everyone";
    static constexpr std::array<std::u16string_view, 2> kBuiltInGroups = {kAdministratorGroup,
                                                                          kEveryoneGroup};

    // A name typed for a new record, against the table it goes to (the caller holds the guard).
    static CRefusal CheckNewName(const CUserTable& users, std::u16string_view name);
    static CRefusal CheckNewName(const CGroupTable& groups, std::u16string_view name);
    // A user record as a change would store it; bNew: no record has its name yet.
    static CRefusal CheckUser(const CUserTable& users, const CUserData& user, bool bNew);
    static CRefusal CheckDelete(ERecordKind kind, std::u16string_view name);
    // The message against the tables it would change (the caller holds the guard). A message
    // not marked as typed input is held to the delete rule only.
    static CRefusal CheckMessage(const CDirectoryMessage& msg, const CUserTable& users,
                                 const CGroupTable& groups);

    // groups with "Everyone" last, and only there.
    static void JoinEveryone(std::vector<std::u16string>& groups);

    // Whether a login is sent to the array of mac whose record is record (null: none): a record
    // with a MAC address, of a supported product. Only such rows say "Logging" while it runs.
    static bool TakesLogin(std::u16string_view mac, const CServerData* record);
};

// The directory's rules, in one place for every way of changing it (the account dialogs,
// orvanectl, and COrvaneSrvCore::SendMessage behind both): what a new name may be, that every
// user has a password and is in "Everyone", that the built-in accounts stay, and which arrays a
// login goes to. Each check answers a typed refusal; the senders turn it into their own words.
// Records already stored or imported keep what they have: only changes are checked. It also
// says which groups a user of the site's directory is given, by the directory groups the user is
// in.
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
    DirectoryGroup,  // a directory group that is no plausible DN (strName, eDnFault)
};

// Why a text is no plausible DN of a directory group.
enum class EDnFault {
    None,
    Empty,
    TooLong,           // more than CDirectoryRules::kMaxDnLength UTF-16 units
    ControlCharacter,  // C0, DEL, C1, or the line and paragraph separators
    NotAttributeValue, // a part between unescaped ',' or '+' that is not attribute=value
};

struct CRefusal {
    ERefusal eKind = ERefusal::None;
    ERecordKind eRecord = ERecordKind::User;
    std::u16string strName; // the existing twin (CaseTwin), the built-in account (BuiltIn), the
                            // DN (DirectoryGroup)
    EDnFault eDnFault = EDnFault::None;

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
    // A group's directory groups as typed: the first that is no plausible DN.
    static CRefusal CheckDirectoryGroups(std::span<const std::u16string> dns);
    // The message against the tables it would change (the caller holds the guard). A message
    // not marked as typed input is held to the delete rule only.
    static CRefusal CheckMessage(const CDirectoryMessage& msg, const CUserTable& users,
                                 const CGroupTable& groups);

    // groups with "Everyone" last, and only there.
    static void JoinEveryone(std::vector<std::u16string>& groups);

    // A DN as the operator types it for a group's directory groups. Plausible: not empty, at
    // most kMaxDnLength UTF-16 units, no control character, and every part between unescaped
    // ',' and '+' is attribute=value with a non-empty value and an attribute that is a name
    // (a letter, then letters, digits and '-') or a dotted number; blanks around the separators
    // are allowed. Values are not checked beyond that: the directory is the judge of them.
    static constexpr std::size_t kMaxDnLength = 1024;
    static EDnFault CheckDirectoryGroupDn(std::u16string_view dn);
    // What two DNs share when they name the same directory group as far as this program tells:
    // ASCII letters in lower case, and the blanks around unescaped ',', '=' and '+' and at either
    // end left out. Escaped characters stay as they are (an escaped blank is part of its value),
    // and other letters keep their case: a directory that differs from that is not second-
    // guessed, so at worst a mapping does not match and gives nothing.
    static std::string DirectoryGroupKey(std::string_view dn);
    // The names of the groups that map any of the directory groups a user is in (DNs as the
    // directory hands them out, UTF-8), with "Everyone" when any does, each once, sorted; empty
    // when none does.
    static std::vector<std::u16string> MappedGroups(const CGroupTable& groups,
                                                    std::span<const std::string> directoryGroupDns);

    // Whether a login is sent to the array of mac whose record is record (null: none): a record
    // with a MAC address, of a supported product. Only such rows say "Logging" while it runs.
    static bool TakesLogin(std::u16string_view mac, const CServerData* record);
};

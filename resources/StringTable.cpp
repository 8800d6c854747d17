// The console's fixed texts, used exactly as they stand.
#include "resources/StringTable.h"

#include "resources/ResourceIds.h"

#include <algorithm>
#include <array>
#include <utility>

namespace {

constexpr std::array kStrings = std::to_array<std::pair<int, std::u16string_view>>({
    {IDS_ABOUTBOX, u"&About Orvane-Srv..."},
    {IDS_FILE_FILTER, u"Orvane-Srv Files, (*.ovx)|*.ovx|All Files (*.*)|*.*||"},
    {IDS_SOCKETS_INIT_FAILED, u"Windows sockets initialization failed."},
    {IDS_DEFAULT_EXT, u"*.ovx"},
    {IDS_TAB_SYSTEM, u"System"},
    {IDS_TAB_ACCOUNT, u"Account"},
    {IDS_SETTIMER_FAILED, u"SetTimer failed"},
    {IDS_YES, u"Yes"},
    {IDS_NO, u"No"},
    {IDS_LOGGING, u"Logging"},
    {IDS_NONE, u"--"},
    {IDS_SURE_TO_DELETE, u"Sure to delete?"},
    {IDS_USER_PROPERTIES, u"User Properties"},
    {IDS_GROUP_PROPERTIES, u"Group Properties"},
    {IDS_USER_NAME_EMPTY, u"The user name is empty!"},
    {IDS_USER_EXISTS, u"This user is already exist!"},
    {IDS_PASSWORD_MISMATCH, u"Password is not match"},
    {IDS_GROUP_NAME_EMPTY, u"The group name is empty!"},
    {IDS_GROUP_EXISTS, u"This group is already exist!"},
    {IDS_COL_IP_ADDRESS, u"IP address"},
    {IDS_COL_SYSTEM_NAME, u"System name"},
    {IDS_COL_PRODUCT, u"Product"},
    {IDS_COL_FIRMWARE, u"Firmware ver."},
    {IDS_COL_MAC_ADDRESS, u"MAC address"},
    {IDS_COL_AUTH, u"Auth"},
    {IDS_RUNNING_HEADLESS,
     u"OrvaneSrv is already running for this user without a window (process %1).\n\n"
     u"Manage it from a terminal with orvanectl, or stop it with "
     u"\"systemctl --user stop orvanesrv\" (or end process %1) and start OrvaneSrv again."},
    {IDS_LOGIN_TIP_SELECT, u"Select one or more supported arrays to log in"},
    {IDS_LOGIN_TIP_UNSUPPORTED, u"The array at %1 (%2) does not support a login"},
    {IDS_LOGIN_TIP_READY, u"Log in to the selected arrays"},
    {IDS_MENU_LOGIN, u"&Login..."},
    {IDS_MENU_COPY_IP, u"Copy &IP address"},
    {IDS_MENU_COPY_MAC, u"Copy &MAC address"},
    {IDS_FILTER_HINT, u"Any column: address, name, product, firmware, MAC"},
    {IDS_STATUS_NOT_LISTENING, u"Credential service not listening"},
    {IDS_STATUS_ARRAYS, u"%1 arrays listed (%3 shown), %2 authorized"},
    {IDS_STATUS_LAST_SEARCH, u"Last search ended at %1"},
    {IDS_STATUS_NO_SEARCH, u"No search has ended yet"},
    {IDS_LOGIN_ASK_NEW,
     u"No one has logged in to these arrays before, and no group gives access to them. Any host "
     u"on the network can announce itself as an array. Send the administrator password to them "
     u"too?\n%1"},
    {IDS_LOGIN_ASK_MOVED,
     u"The array %1 no longer answers at %2, and %3 announces its MAC address now.\n\n"
     u"Log in at %3 and keep the array there? Answer Yes only if you know that the array moved."},
    {IDS_TIP_CONFLICT, u"Another address announces this array's MAC address too: %2. Logins and "
                       u"the credential service keep to %1."},
    {IDS_TIP_MOVED, u"moved? %1 has stopped answering, and %2 announces this array's MAC "
                    u"address. Log in to it on its own to move it."},
    {IDS_PASSWORD_EMPTY, u"The password is empty. Every user needs a password."},
    {IDS_USER_NAME_CASE, u"A user named %1 exists already. User names may not differ in letter "
                         u"case only."},
    {IDS_GROUP_NAME_CASE, u"A group named %1 exists already. Group names may not differ in "
                          u"letter case only."},
    {IDS_COUNT_USER, u"%1 user"},
    {IDS_COUNT_USERS, u"%1 users"},
    {IDS_COUNT_GROUP, u"%1 group"},
    {IDS_COUNT_GROUPS, u"%1 groups"},
    {IDS_EXPORTED, u"Exported %1 and %2 to %3"},
    {IDS_IMPORTED, u"Imported from %1: %2 and %3 added, %4 and %5 replaced"},
    {IDS_CONFIRM_EXIT, u"Stop the credential service and exit?"},
    {IDS_EXIT_REMEMBERED, u"%1 authorizations will be remembered and verified again at the next "
                          u"start."},
    {IDS_EXIT_LOST, u"%1 authorizations will be lost: remembering is off (orvanectl seal turns it "
                    u"on)."},
    {IDS_STATUS_REMEMBERED, u"%1 remembered: %2 waiting, %3 verified, %4 dropped"},
    {IDS_UNSEAL_PROMPT, u"The arrays' authorizations were remembered and sealed. Enter the "
                        u"passphrase to verify them again, or Cancel to start without them (they "
                        u"stay sealed):"},
    {IDS_DEFAULT_PASSWORD_WARNING, u"\"admin\" has the default password"},
    {IDS_CHANGE_DEFAULT_PASSWORD, u"Change pass&word..."},
    {IDS_USER_NAME_COLON, u"A user name may not contain \":\": the credential service could not "
                          u"tell it from the password."},
    {IDS_BUILT_IN_USER, u"\"%1\" is a built-in account: it can be edited but not deleted."},
    {IDS_BUILT_IN_GROUP, u"\"%1\" is a built-in group: it can be edited but not deleted."},
    {IDS_OUTSIDE_EVERYONE, u"Every user is in \"%1\"."},
    {IDS_LOGIN_TIP_NO_MAC, u"The array at %1 announces no MAC address: a login could not be kept"},
    {IDS_LOGIN_TIP_SOME, u"Log in to %1 of the %2 selected arrays; the others do not take a login "
                         u"and are skipped"},
    {IDS_AUTH_TIP_LAST, u"Last login %1: %2"},
    {IDS_AUTH_TIP_VERIFIED_LOGIN, u"Verified %1 by a login"},
    {IDS_AUTH_TIP_VERIFIED_REMEMBERED, u"Verified %1 by re-checking its remembered authorization"},
    {IDS_AUTH_TIP_KEPT, u"Last login %1: %2 (the verified credentials stay)"},
    {IDS_STATUS_PORTS, u"Credential service on ports %1 and %2 (HTTPS)"},
    {IDS_STATUS_PORT_NO_TLS, u"Credential service on port %1, HTTPS not served: %2"},
    {IDS_STATUS_PORT_TLS_OFF, u"Credential service on port %1, no HTTPS port"},
    {IDS_STATUS_SEARCHING, u"Searching\u2026"},
    {IDS_COL_VENDOR, u"Vendor"},
    {IDS_COL_TYPE, u"Type"},
    {IDS_COL_LAST_SEEN, u"Last seen"},
    {IDS_COL_MODEL, u"Model"},
    {IDS_ACCESS_TICKED, u"%1 of %2 arrays ticked"},
    {IDS_ACCESS_TICKED_ONE, u"%1 of 1 array ticked"},
    {IDS_FILTER_HINT_SYSTEM,
     u"Any column: address, name, product, firmware, MAC, vendor, model, type"},
    {IDS_DN_EMPTY, u"A directory group's DN is empty."},
    {IDS_DN_TOO_LONG, u"A directory group's DN may have at most %1 characters."},
    {IDS_DN_CONTROL, u"The DN \"%1\" contains a control character."},
    {IDS_DN_NOT_ATTRIBUTE_VALUE,
     u"\"%1\" is not a DN: each part between commas is attribute=value, such as "
     u"cn=storage-admins,ou=groups,dc=example,dc=com."},
    {IDS_DIRECTORY_GROUPS_LINE, u"Directory groups, line %1: %2"},
    {IDS_DIRECTORY_GROUPS_HINT,
     u"Users of the site's directory in these groups get this group's arrays."},
});

} // namespace

std::u16string_view LoadString(int id) {
    const auto it = std::ranges::find(kStrings, id, [](const auto& entry) { return entry.first; });
    return it == kStrings.end() ? std::u16string_view() : it->second;
}

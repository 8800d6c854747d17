// The records of the audit trail other than directory changes and logins (DirectoryAudit.h,
// LoginAudit.h): the program's start and stop, an address announcing an array's MAC, an array
// leaving the System list or coming back to it, the
// configuration file's export and import, and the credential service's refusals and pushed
// passwords. Every record's event name and fields are written here, so that what the trail
// holds can be read in one folder; a caller only supplies the values.
#pragma once

#include "core/audit/AuditEventKinds.h"
#include "core/audit/CAuditRecord.h"
#include "storage/CArrayPresence.h"

#include <filesystem>
#include <string>
#include <string_view>

CAuditRecord StartRecord(std::string_view store, long pid);
CAuditRecord StopRecord(long pid);

// Discovery heard announcedAt announce mac, which stays bound to bound.
CAuditRecord AddressConflictRecord(std::u16string_view mac, std::u16string_view bound,
                                   std::string_view announcedAt);

// An array that left the System list or came back (mac, ip, system), or a count of more of
// them beyond what one discovery pass names (count).
CAuditRecord ArrayPresenceRecord(const CArrayPresence& news);

// An export or import by source; resultText is empty when it was done.
CAuditRecord ConfigFileRecord(std::string_view event, std::string_view source,
                              const std::filesystem::path& file, std::string_view failure);

// The service's refusals of credentials.
CAuditRecord ThrottledRecord(std::string_view user, bool bAddressBlocked);
CAuditRecord CredentialsRefusedRecord(std::string_view user);
// The same for a name that the site's directory was asked about, with why.
CAuditRecord DirectoryRefusedRecord(std::string_view user, std::string_view reason);
// A directory user signed in: its DN and the OrvaneSrv groups it was given (comma-separated).
CAuditRecord DirectorySignInRecord(std::string_view user, std::string_view dn,
                                   std::string_view groups);

// An array's push of its new administrator password: accepted (from address) or refused (for
// reason).
CAuditRecord PushAcceptedRecord(std::string_view mac, std::string_view address);
CAuditRecord PushRefusedRecord(std::string_view mac, std::string_view reason);

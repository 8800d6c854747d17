// The control commands; see CControlCommands.h.
#include "control/CControlCommands.h"

#include "control/ConfigFileRequest.h"
#include "control/ConfigSummary.h"
#include "control/LdapRequests.h"
#include "control/LoginFile.h"
#include "control/RefusalText.h"
#include "control/SealRequests.h"
#include "core/CConfigFile.h"
#include "core/settings/CProgramSettings.h"
#include "platform/text/Ipv4Literal.h"
#include "platform/text/MacText.h"
#include "platform/text/TextConv.h"
#include "platform/text/TextEscape.h"
#include "platform/text/TextUtil.h"
#include "resources/ResourceIds.h"
#include "resources/StringTable.h"
#include "service/listener/CTlsPortState.h"

#include <algorithm>
#include <array>
#include <unistd.h>
#include <unordered_map>
#include <unordered_set>

namespace {

CControlReply Failed(std::string text, int status = kFailedStatus) {
    return {status, {}, std::move(text) + "\n"};
}

// A request whose options or words are off: the parser's reason, or else the usage.
CControlReply BadUsage(const std::string& error, std::string usage) {
    return Failed(error.empty() ? std::move(usage) : error, kBadUsageStatus);
}

std::string JsonBool(bool value) {
    return value ? "true" : "false";
}

std::string JsonList(const std::vector<std::u16string>& items) {
    return "[" +
           Joined(items, ",", [](const auto& item) { return StatusJson(Utf16ToUtf8(item)); }) + "]";
}

// Objects of the given keys, one per row, in one JSON array.
std::string JsonRows(const std::vector<std::string>& keys, const std::vector<CTextRow>& rows) {
    std::string out = "[";
    for (std::size_t r = 0; r < rows.size(); ++r) {
        out += r == 0 ? "\n  {" : ",\n  {";
        for (std::size_t i = 0; i < keys.size(); ++i) {
            out += (i == 0 ? "" : ", ") + StatusJson(keys[i]) + ": " + rows[r][i];
        }
        out += "}";
    }
    return out + (rows.empty() ? "]\n" : "\n]\n");
}

// A listing's rows: JSON objects of the given keys, or under the header as text or CSV.
CControlReply Listing(CControlCommands::EFormat format, const std::vector<std::string>& keys,
                      CTextRow header, std::vector<CTextRow> rows) {
    if (format == CControlCommands::EFormat::Json) {
        return {0, JsonRows(keys, rows), {}};
    }
    rows.insert(rows.begin(), std::move(header));
    return {0, format == CControlCommands::EFormat::Csv ? CsvTable(rows) : TextTable(rows), {}};
}

std::vector<std::u16string> SplitNames(std::string_view list) {
    std::vector<std::u16string> names;
    for (const std::string_view name : SplitList(list)) {
        const std::u16string text = Utf8ToUtf16(Trim(name));
        if (!text.empty() && std::find(names.begin(), names.end(), text) == names.end()) {
            names.push_back(text);
        }
    }
    return names;
}

constexpr std::string_view kLdapGroups = "--ldap-groups";
constexpr std::string_view kNoLdapGroups = "--no-ldap-groups";

// The DNs as typed, in their order, each directory group once (the first spelling kept).
std::vector<std::u16string> DirectoryGroupList(const std::vector<std::string>& typed) {
    std::vector<std::u16string> dns;
    std::unordered_set<std::string> keys;
    for (const std::string& dn : typed) {
        if (keys.insert(CDirectoryRules::DirectoryGroupKey(dn)).second) {
            dns.push_back(Utf8ToUtf16(dn));
        }
    }
    return dns;
}

// Whether the trail summarises records because its files are full and none is old enough to go.
std::string AuditFullText(const CAuditTrail* trail) {
    const auto full = trail ? trail->Full() : std::nullopt;
    if (!full) {
        return "no";
    }
    return "since " + StatusTime(full->since) +
           ", records summarised per event, user and address each minute until the oldest file "
           "may go at " +
           StatusTime(full->until);
}

// The options after a command's name: "--key value" pairs and flags, by name.
struct COptions {
    std::vector<std::string> words;                      // not options
    std::vector<std::pair<std::string, std::string>> kv; // --key value
    std::vector<std::string> flags;                      // --flag
    std::string error;

    bool Has(std::string_view flag) const { return std::ranges::find(flags, flag) != flags.end(); }

    // Every value of an option that may be given more than once, in the order given.
    std::vector<std::string> FindAll(std::string_view key) const {
        std::vector<std::string> values;
        for (const auto& [k, v] : kv) {
            if (k == key) {
                values.push_back(v);
            }
        }
        return values;
    }

    const std::string* Find(std::string_view key) const {
        const auto found = std::ranges::find(kv, key, &std::pair<std::string, std::string>::first);
        return found == kv.end() ? nullptr : &found->second;
    }
};

// After "--" every argument is a word, whatever it starts with.
COptions ParseOptions(const std::vector<std::string>& args, std::size_t first,
                      std::initializer_list<std::string_view> valued,
                      std::initializer_list<std::string_view> flags = {}) {
    COptions options;
    bool bWordsOnly = false;
    for (std::size_t i = first; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (bWordsOnly || !arg.starts_with("--")) {
            options.words.push_back(arg);
        } else if (arg == "--") {
            bWordsOnly = true;
        } else if (std::find(flags.begin(), flags.end(), arg) != flags.end()) {
            options.flags.push_back(arg);
        } else if (std::find(valued.begin(), valued.end(), arg) == valued.end()) {
            options.error = "unknown option " + arg;
        } else if (i + 1 == args.size()) {
            options.error = arg + " needs a value";
        } else {
            options.kv.emplace_back(arg, args[++i]);
        }
    }
    return options;
}

// A change the directory refused, or could not save, is told as the failure it is; one that was
// made is shown in the window at once.
CControlReply Changed(IControlTarget& target, long result) {
    if (result != 0) {
        return Failed(Utf16ToUtf8(UnmadeChangeText(target.Core())));
    }
    target.OnDirectoryChanged();
    return {};
}

// The conflict column: empty, "also at A" or "moved? to A".
std::string ConflictCell(const CLoginCandidate& array) {
    const std::string other = Utf16ToUtf8(array.strLatestClaim);
    switch (array.eState) {
    case EAddressState::Conflict:
        return "also at " + other;
    case EAddressState::Moved:
        return "moved? to " + other;
    case EAddressState::Bound:
        break;
    }
    return {};
}

std::string ConflictReason(const CLoginCandidate& array) {
    const std::string other = EscapeForTerminal(Utf16ToUtf8(array.strLatestClaim));
    return array.eState == EAddressState::Moved
               ? "moved?: only " + other +
                     " announces it now: check it, then log in to it by its MAC with --address " +
                     other
               : "address conflict: " + other +
                     " announces it too: check it, then log in to it by its MAC";
}

// What one login was asked to reach, and the arrays it left out, by reason.
struct CLoginRequestArgs {
    bool bAll = false;
    std::vector<std::string> macs;
    std::u16string address; // --address: where the one array named now lives
    // --list (a login file's): the arrays' own credentials by MAC.
    std::map<std::u16string, CLoginCredentials> own;
};
struct CLoginCounts {
    std::size_t nNew = 0;
    std::size_t nConflict = 0;
    std::size_t nUnsupported = 0;
    std::vector<CTextRow> leftOut; // the table's rows of the arrays left out
};

// The typed MACs as the System tab's rows spell them, where a row has one of them.
std::vector<std::u16string> RowMacs(const IServerListView& list,
                                    const std::vector<std::u16string>& typed) {
    std::unordered_map<std::string, std::u16string> byKey;
    for (std::size_t row = 0; row < list.RowCount(); ++row) {
        const std::u16string mac = list.CellText(row, EServerColumn::MAC);
        byKey.emplace(MacKey(Utf16ToUtf8(mac)), mac);
    }
    std::vector<std::u16string> macs;
    for (const std::u16string& mac : typed) {
        const auto found = byKey.find(MacKey(Utf16ToUtf8(mac)));
        macs.push_back(found != byKey.end() ? found->second : mac);
    }
    return macs;
}

// The reply's last line: how many logins succeeded and failed, how many arrays were not sent
// one, and why.
std::string SummaryLine(std::string_view answers, std::size_t nSent, const CLoginCounts& counts) {
    constexpr std::string_view kYes = "  Yes\n";
    std::size_t nYes = 0;
    for (std::size_t at = answers.find(kYes); at != std::string_view::npos;
         at = answers.find(kYes, at + 1)) {
        ++nYes;
    }
    const std::size_t nSkipped = counts.nNew + counts.nConflict + counts.nUnsupported;
    std::string line = std::to_string(nYes) + " logged in, " + std::to_string(nSent - nYes) +
                       " failed, " + std::to_string(nSkipped) + " skipped";
    if (nSkipped > 0) {
        line += " (" + std::to_string(counts.nNew) + " new, " + std::to_string(counts.nConflict) +
                " in address conflict, " + std::to_string(counts.nUnsupported) + " not supported)";
    }
    return line + "\n";
}

// Why a login that names its arrays (--all, MACs, one MAC with --address) cannot run; empty
// when it can.
std::string NamedUsageError(const COptions& options, bool bAll) {
    const std::string* address = options.Find("--address");
    if (!options.error.empty()) {
        return options.error;
    }
    if (address != nullptr && (bAll || options.words.size() != 1 || !IsIpv4Literal(*address))) {
        return "--address takes one IPv4 address, for one array named by its MAC";
    }
    if (options.Find("--user") == nullptr || options.Find("--password") == nullptr ||
        bAll == !options.words.empty()) {
        return "usage: login (--all | MAC... | MAC --address IP) --user NAME";
    }
    return {};
}

// The same for a login file's list: its arrays alone, and the command's credentials when an
// array of it has none of its own.
std::string ListUsageError(const COptions& options, bool bAll,
                           const std::optional<std::vector<CLoginFileEntry>>& entries) {
    if (!options.error.empty()) {
        return options.error;
    }
    if (!entries) {
        return "--list does not hold a login file's arrays";
    }
    if (bAll || !options.words.empty() || options.Find("--address") != nullptr) {
        return "usage: login --list LIST [--user NAME]: the list names every array";
    }
    const bool bShared = std::ranges::any_of(
        *entries, [](const CLoginFileEntry& entry) { return !entry.HasOwnCredentials(); });
    if (bShared && (options.Find("--user") == nullptr || options.Find("--password") == nullptr)) {
        return "an array listed with its MAC alone needs --user and a password";
    }
    return {};
}

// The https field's JSON object.
std::string HttpsJson(const CTlsPortState& state) {
    const std::string_view names[] = {"off", "serving", "not served"};
    return "{\"port\": " + std::to_string(state.nPort) +
           ", \"fingerprint\": " + StatusJson(state.strFingerprint) +
           ", \"state\": " + StatusJson(names[static_cast<std::size_t>(state.eState)]) +
           ", \"reason\": " + StatusJson(state.strReason) + "}";
}

constexpr std::string_view kDefaultPasswordText =
    "still the default: change it with orvanectl user set admin --ask-password";

constexpr std::string_view kNewArray =
    "new array: log in to it by its MAC, or give a group access to it first";

// Which arrays a login reaches. "--all" reaches the known arrays at their own address only: an
// announcement alone never earns a host the fleet's password. Arrays named by MAC may be new or
// in conflict (the login then goes to the array's own address); one that seems to have moved is
// reached at its new address only when --address names it.
void ChooseLoginTargets(IControlTarget& target, const CLoginRequestArgs& request,
                        std::vector<CLoginTarget>& targets, CControlReply& refused,
                        CLoginCounts& counts) {
    COrvaneSrvCore& core = target.Core();
    IServerListView& list = target.Servers();
    const auto skip = [&](const CLoginCandidate& array, std::string_view why) {
        counts.leftOut.push_back({EscapeForTerminal(Utf16ToUtf8(array.strIP)),
                                  EscapeForTerminal(Utf16ToUtf8(array.strMAC)), std::string(why)});
    };
    const auto ownCredentials = [&](const std::u16string& mac) {
        const auto found = request.own.find(mac);
        return found == request.own.end() ? std::nullopt
                                          : std::optional<CLoginCredentials>(found->second);
    };
    const auto consider = [&](const std::u16string& mac,
                              const std::optional<CLoginCandidate>& array, bool bNamed) {
        if (!array) {
            return;
        }
        if (!array->bSupported) {
            // As the Login button, which such an array leaves disabled.
            skip(*array, "not a supported product");
            refused.nStatus = bNamed ? kFailedStatus : refused.nStatus;
            ++counts.nUnsupported;
        } else if (!bNamed && array->eState != EAddressState::Bound) {
            skip(*array, ConflictReason(*array));
            ++counts.nConflict;
        } else if (!bNamed && !array->bKnown) {
            skip(*array, kNewArray);
            ++counts.nNew;
        } else if (bNamed && request.address.empty() && array->eState == EAddressState::Moved) {
            skip(*array, ConflictReason(*array));
            refused.nStatus = kFailedStatus;
            ++counts.nConflict;
        } else {
            const std::u16string at = request.address.empty() ? array->strIP : request.address;
            targets.push_back({mac, at, array->bKnown, at != array->strIP, ownCredentials(mac)});
        }
    };
    std::vector<std::u16string> macs;
    if (request.bAll) {
        for (std::size_t row = 0; row < list.RowCount(); ++row) {
            macs.push_back(list.CellText(row, EServerColumn::MAC));
        }
    } else {
        for (const std::string& mac : request.macs) {
            macs.push_back(Utf8ToUtf16(mac));
        }
        macs = RowMacs(list, macs);
    }
    const auto arrays = core.LoginCandidates(macs);
    for (std::size_t i = 0; i < macs.size(); ++i) {
        if (request.bAll) {
            consider(macs[i], arrays[i], false);
        } else if (list.FindRow(EServerColumn::MAC, macs[i]) == IServerListView::npos ||
                   !arrays[i]) {
            refused.strErr +=
                "no array with the MAC address " + EscapeForTerminal(request.macs[i]) + "\n";
            refused.nStatus = kFailedStatus;
        } else {
            consider(macs[i], arrays[i], true);
        }
    }
}

} // namespace

CControlCommands::CControlCommands(IControlTarget& target, CInfo info)
    : m_target(target), m_info(std::move(info)) {}

void CControlCommands::Run(const std::vector<std::string>& args,
                           const CControlChannel::CDone& done) {
    const std::string command = args.empty() ? std::string() : args[0];
    const std::vector<std::string> rest(args.begin() + (args.empty() ? 0 : 1), args.end());
    // A listing takes at most one of the formats it knows.
    const auto formats = [&rest](std::initializer_list<std::string_view> known) {
        return rest.empty() ||
               (rest.size() == 1 && std::find(known.begin(), known.end(), rest[0]) != known.end());
    };
    const EFormat format = rest.empty()          ? EFormat::Text
                           : rest[0] == "--json" ? EFormat::Json
                                                 : EFormat::Csv;
    if (command == "refresh" && rest.empty()) {
        Refresh(done);
    } else if (command == "login") {
        // Right after a start the first pass may still be finding the arrays: the login waits
        // for the pass under way, so that "--all" means every array there is.
        CServerDiscovery* discovery = m_target.Discovery();
        if (discovery != nullptr && discovery->IsDiscovering()) {
            discovery->WhenPassEnds([this, args, done] { Login(args, done); });
        } else {
            Login(args, done);
        }
    } else if (command == "ldap") {
        RunLdapRequest(m_target.Core(), m_target.Window(), args, done,
                       CProgramSettings::DefaultPath());
    } else if (command == "seal" || command == "unseal") {
        done(RunSealRequest(m_target.Core(), args));
    } else if (command == "status" && formats({"--json"})) {
        done(Status(format));
    } else if (command == "servers" && formats({"--json", "--csv"})) {
        done(ServerRows(format));
    } else if (command == "users" && formats({"--json", "--csv"})) {
        done(Users(format));
    } else if (command == "groups" && formats({"--json"})) {
        done(Groups(format));
    } else if (command == "group" && args.size() > 1 && args[1] == "show") {
        done(GroupShow(args));
    } else if (command == "user" || command == "group" || command == "export" ||
               command == "import") {
        // The audit trail tells these changes from the console's.
        const COrvaneSrvCore::CChangeSourceScope source(m_target.Core(), "orvanectl");
        done(command == "user" ? User(args) : command == "group" ? Group(args) : ConfigFile(args));
    } else {
        done(Failed("unknown command or arguments: " + command, kBadUsageStatus));
    }
}

CControlReply CControlCommands::Status(EFormat format) {
    COrvaneSrvCore& core = m_target.Core();
    std::size_t found = 0;
    std::size_t authorized = 0;
    std::size_t users = 0;
    std::size_t groups = 0;
    core.Read([&](const CTablesView& tables) {
        tables.servers.ForEach([&](const std::u16string&, const CServerData& server) {
            // An authorized array that missed a pass keeps its credentials but is not served.
            const bool bOnline = server.m_bOnline != 0;
            found += bOnline ? 1 : 0;
            authorized += bOnline && server.m_bAuthorized != 0 ? 1 : 0;
        });
        users = tables.users.size();
        groups = tables.groups.size();
    });
    const std::shared_ptr<CAuditTrail>& trail = core.AuditTrail();
    const CServerDiscovery* discovery = m_target.Discovery();
    const auto lastPass = discovery ? discovery->LastPassEnd() : std::nullopt;
    std::string pass = lastPass ? StatusTime(*lastPass) : "none yet";
    if (discovery && discovery->IsDiscovering()) {
        pass += " (a pass is running)";
    }
    const auto text = [](std::string label, std::string key, std::string value) {
        std::string json = StatusJson(value);
        return CSealStatusField{std::move(label), std::move(value), std::move(key),
                                std::move(json)};
    };
    const auto number = [](std::string label, std::string key, auto value) {
        return CSealStatusField{std::move(label), std::to_string(value), std::move(key),
                                std::to_string(value)};
    };
    const CTlsPortState https = CTlsPortState::Published();
    const bool bDefaultPassword = core.HasDefaultAdminPassword();
    std::vector<CSealStatusField> fields = {
        text("version", "version", m_info.version),
        number("process", "process", ::getpid()),
        text("store", "store", m_info.storePath),
        text("served folder", "servedFolder", m_info.wwwDir),
        number("port", "port", m_info.nPort),
        {"https", https.Summary(), "https", HttpsJson(https)},
        number("arrays found", "arraysFound", found),
        number("arrays authorized", "arraysAuthorized", authorized),
        number("arrays in conflict", "arraysInConflict", core.AddressConflicts()),
        number("users", "users", users),
        number("groups", "groups", groups),
        text("last pass", "lastPass", pass),
        text("audit trail", "auditTrail", trail ? trail->File().string() : "none"),
        number("audit records unwritten", "auditUnwritten", trail ? trail->FailedRecords() : 0),
        text("audit trail full", "auditFull", AuditFullText(trail.get())),
        {"admin password",
         bDefaultPassword ? std::string(kDefaultPasswordText) : "changed from the default",
         "adminDefaultPassword", JsonBool(bDefaultPassword)},
    };
    std::ranges::move(SealStatusFields(core.Seal().Status()), std::back_inserter(fields));
    fields.push_back(LdapStatusField(core.LdapUsers().get()));
    if (format != EFormat::Json) {
        std::vector<CTextRow> rows;
        // A field without a label is JSON's alone.
        for (const CSealStatusField& field : fields) {
            if (!field.label.empty()) {
                rows.push_back({field.label + ":", field.value});
            }
        }
        return {0, TextTable(rows), {}};
    }
    const auto member = [](const CSealStatusField& field) {
        return StatusJson(field.key) + ": " + field.json;
    };
    return {0, "{\n  " + Joined(fields, ",\n  ", member) + "\n}\n", {}};
}

CControlReply CControlCommands::ServerRows(EFormat format) {
    const bool bJson = format == EFormat::Json;
    const IServerListView& list = m_target.Servers();
    const COrvaneSrvCore& core = m_target.Core();
    std::vector<CTextRow> rows;
    for (std::size_t row = 0; row < list.RowCount(); ++row) {
        CTextRow cells;
        for (std::size_t col = 0; col < kServerColumnCount; ++col) {
            cells.push_back(Utf16ToUtf8(list.CellText(row, static_cast<EServerColumn>(col))));
        }
        const auto array = core.LoginCandidate(list.CellText(row, EServerColumn::MAC));
        cells.push_back(array ? ConflictCell(*array) : std::string());
        // What the network sent never drives the operator's terminal.
        for (std::string& cell : cells) {
            cell = bJson ? StatusJson(cell) : EscapeForTerminal(cell);
        }
        if (bJson) {
            const std::size_t auth = static_cast<std::size_t>(EServerColumn::Auth);
            cells[auth] = JsonBool(list.CellText(row, EServerColumn::Auth) == LoadString(IDS_YES));
        }
        rows.push_back(std::move(cells));
    }
    CTextRow header;
    for (const int id : {IDS_COL_IP_ADDRESS, IDS_COL_SYSTEM_NAME, IDS_COL_PRODUCT, IDS_COL_FIRMWARE,
                         IDS_COL_MAC_ADDRESS, IDS_COL_AUTH}) {
        header.push_back(Utf16ToUtf8(LoadString(id)));
    }
    header.emplace_back("Conflict");
    return Listing(format, {"ip", "systemName", "product", "firmware", "mac", "auth", "conflict"},
                   std::move(header), std::move(rows));
}

CControlReply CControlCommands::Users(EFormat format) {
    const bool bJson = format == EFormat::Json;
    COrvaneSrvCore& core = m_target.Core();
    std::vector<std::pair<std::u16string, std::vector<std::u16string>>> users;
    core.Read([&](const CTablesView& tables) {
        for (const auto& [name, user] : tables.users) {
            users.emplace_back(name, user->m_listGroups);
        }
    });
    std::sort(users.begin(), users.end());
    std::vector<CTextRow> rows;
    for (auto& [name, groups] : users) {
        std::sort(groups.begin(), groups.end());
        rows.push_back(bJson
                           ? CTextRow{StatusJson(Utf16ToUtf8(name)), JsonList(groups)}
                           : CTextRow{Utf16ToUtf8(name), Joined(groups, ",", [](const auto& group) {
                                          return Utf16ToUtf8(group);
                                      })});
    }
    return Listing(format, {"name", "groups"}, {"User", "Groups"}, std::move(rows));
}

CControlReply CControlCommands::Groups(EFormat format) {
    std::map<std::u16string, CGroupData> groups; // by name
    m_target.Core().Read([&](const CTablesView& tables) {
        for (const auto& [name, group] : tables.groups) {
            groups.emplace(name, *group);
        }
    });
    std::vector<CTextRow> rows;
    for (auto& [name, group] : groups) {
        std::vector<std::u16string>& members = group.m_listUsers;
        const std::vector<std::u16string>& access = group.m_listAccess;
        const std::vector<std::u16string>& dns = group.m_listDirectoryGroups;
        std::sort(members.begin(), members.end());
        // Hundreds of arrays make no line to read: the table counts them, group show lists them.
        rows.push_back(format == EFormat::Json
                           ? CTextRow{StatusJson(Utf16ToUtf8(name)), JsonList(members),
                                      JsonList(access), JsonList(dns)}
                           : CTextRow{Utf16ToUtf8(name), std::to_string(members.size()),
                                      std::to_string(access.size()), std::to_string(dns.size())});
    }
    return Listing(format, {"name", "members", "access", "ldapGroups"},
                   {"Group", "Members", "Arrays", "Directory groups"}, std::move(rows));
}

CControlReply CControlCommands::GroupShow(const std::vector<std::string>& args) {
    const COptions options = ParseOptions(args, 2, {}, {"--json"});
    if (!options.error.empty() || options.words.size() != 1) {
        return BadUsage(options.error, "usage: group show NAME [--json]");
    }
    const std::u16string name = Utf8ToUtf16(options.words[0]);
    std::optional<CGroupData> group = m_target.Core().GroupRecord(name);
    if (!group) {
        return Failed("no group " + options.words[0]);
    }
    std::sort(group->m_listUsers.begin(), group->m_listUsers.end());
    if (options.Has("--json")) {
        return {0,
                "{\"name\": " + StatusJson(options.words[0]) +
                    ", \"members\": " + JsonList(group->m_listUsers) +
                    ", \"access\": " + JsonList(group->m_listAccess) +
                    ", \"ldapGroups\": " + JsonList(group->m_listDirectoryGroups) + "}\n",
                {}};
    }
    std::vector<CTextRow> rows = {{"group:", options.words[0]}};
    const auto list = [&rows](std::string label, const std::vector<std::u16string>& items,
                              bool bEscape) {
        rows.push_back({std::move(label), std::to_string(items.size())});
        for (const std::u16string& item : items) {
            rows.push_back(
                {"", bEscape ? EscapeForTerminal(Utf16ToUtf8(item)) : Utf16ToUtf8(item)});
        }
    };
    list("members:", group->m_listUsers, false);
    list("arrays:", group->m_listAccess, false);
    list("directory groups:", group->m_listDirectoryGroups, true);
    return {0, TextTable(rows), {}};
}

CControlReply CControlCommands::User(const std::vector<std::string>& args) {
    const std::string verb = args.size() > 1 ? args[1] : std::string();
    const COptions options = ParseOptions(args, 2, {"--groups", "--password"});
    if (!options.error.empty() || options.words.size() != 1 ||
        (verb != "add" && verb != "set" && verb != "del") ||
        (verb == "del" && !options.kv.empty())) {
        return BadUsage(options.error, "usage: user add|set NAME [--groups G,...] | user del NAME");
    }
    COrvaneSrvCore& core = m_target.Core();
    const std::u16string name = Utf8ToUtf16(options.words[0]);
    if (name.empty()) {
        return Failed(Utf16ToUtf8(LoadString(IDS_USER_NAME_EMPTY)));
    }
    const std::string* groupList = options.Find("--groups");
    const std::string* password = options.Find("--password");
    std::vector<std::u16string> groups =
        groupList ? SplitNames(*groupList) : std::vector<std::u16string>{};
    std::optional<CUserData> existing;
    CRefusal refusal;
    const std::u16string* missingGroup = core.Read([&](const CTablesView& tables) {
        if (verb == "add") {
            refusal = CDirectoryRules::CheckNewName(tables.users, name);
        }
        if (const auto it = tables.users.find(name); it != tables.users.end()) {
            existing = *it->second;
        }
        const auto missing = std::find_if(groups.begin(), groups.end(), [&](const auto& group) {
            return !tables.groups.contains(group);
        });
        return missing == groups.end() ? nullptr : &*missing;
    });
    if (missingGroup != nullptr) {
        return Failed("no group " + Utf16ToUtf8(*missingGroup));
    }
    if (refusal) {
        return Failed(Utf16ToUtf8(RefusalText(refusal)));
    }
    if (verb != "add" && !existing) {
        return Failed("no user " + Utf16ToUtf8(name));
    }
    if (verb == "del") {
        return Changed(m_target,
                       core.SendMessage(CDirectoryMessage::DeleteUser(true, name).AsTypedInput()));
    }
    if (verb == "add" && password == nullptr) {
        return Failed("a new user needs a password", kBadUsageStatus);
    }
    if (password != nullptr && password->empty()) {
        return Failed(Utf16ToUtf8(LoadString(IDS_PASSWORD_EMPTY)));
    }
    auto user = std::make_unique<CUserData>(name, password ? Utf8ToUtf16(*password)
                                                           : existing->m_strPassword);
    if (groupList == nullptr && existing) {
        groups = existing->m_listGroups;
    }
    // As the dialog: every user is in "Everyone", whatever was chosen.
    CDirectoryRules::JoinEveryone(groups);
    user->m_listGroups = std::move(groups);
    auto msg = verb == "add" ? CDirectoryMessage::AddUser(true, std::move(user))
                             : CDirectoryMessage::ModifyUser(true, std::move(user));
    return Changed(m_target, core.SendMessage(std::move(msg).AsTypedInput()));
}

CControlReply CControlCommands::Group(const std::vector<std::string>& args) {
    const std::string verb = args.size() > 1 ? args[1] : std::string();
    const COptions options =
        ParseOptions(args, 2, {"--members", "--access", kLdapGroups}, {kNoLdapGroups});
    const std::vector<std::string> typedDns = options.FindAll(kLdapGroups);
    const bool bClearDns = options.Has(kNoLdapGroups);
    if (!options.error.empty() || options.words.size() != 1 ||
        (verb != "add" && verb != "set" && verb != "del") ||
        (verb == "del" && (!options.kv.empty() || !options.flags.empty())) ||
        (bClearDns && (verb != "set" || !typedDns.empty()))) {
        return BadUsage(options.error,
                        "usage: group add|set NAME [--members U,...] [--access MAC,...] "
                        "[--ldap-groups DN...] | group set NAME --no-ldap-groups | group del NAME");
    }
    COrvaneSrvCore& core = m_target.Core();
    const std::u16string name = Utf8ToUtf16(options.words[0]);
    if (name.empty()) {
        return Failed(Utf16ToUtf8(LoadString(IDS_GROUP_NAME_EMPTY)));
    }
    const std::string* memberList = options.Find("--members");
    const std::string* accessList = options.Find("--access");
    const bool bDnsGiven = !typedDns.empty() || bClearDns;
    std::vector<std::u16string> dns = DirectoryGroupList(typedDns);
    std::vector<std::u16string> members;
    bool bExists = false;
    CRefusal refusal;
    const std::u16string* missingUser =
        core.Read([&](const CTablesView& tables) -> const std::u16string* {
            const auto it = tables.groups.find(name);
            bExists = it != tables.groups.end();
            if (verb == "add") {
                refusal = CDirectoryRules::CheckNewName(tables.groups, name);
            }
            if (bExists && !bDnsGiven) {
                dns = it->second->m_listDirectoryGroups;
            }
            if (memberList != nullptr) {
                members = SplitNames(*memberList);
                const auto missing =
                    std::find_if(members.begin(), members.end(),
                                 [&](const auto& m) { return !tables.users.contains(m); });
                return missing == members.end() ? nullptr : &*missing;
            }
            if (bExists) {
                members = it->second->m_listUsers;
            }
            return nullptr;
        });
    if (missingUser != nullptr) {
        return Failed("no user " + Utf16ToUtf8(*missingUser));
    }
    if (refusal) {
        return Failed(Utf16ToUtf8(RefusalText(refusal)));
    }
    if (verb != "add" && !bExists) {
        return Failed("no group " + Utf16ToUtf8(name));
    }
    if (name == CDirectoryRules::kEveryoneGroup && memberList != nullptr) {
        return Failed("\"" + Utf16ToUtf8(CDirectoryRules::kEveryoneGroup) +
                      "\" holds every user: it stays, and its members follow the users");
    }
    if (verb == "del") {
        return Changed(m_target,
                       core.SendMessage(CDirectoryMessage::DeleteGroup(true, name).AsTypedInput()));
    }
    long result = 0;
    if (verb == "add" || memberList != nullptr || bDnsGiven) {
        auto group = std::make_unique<CGroupData>(name);
        group->m_listUsers = std::move(members);
        group->m_listDirectoryGroups = std::move(dns);
        // The access list stays as it is: the core keeps the old record's.
        auto msg = verb == "add" ? CDirectoryMessage::AddGroup(true, std::move(group))
                                 : CDirectoryMessage::ModifyGroup(true, std::move(group));
        result = core.SendMessage(std::move(msg).AsTypedInput());
    }
    if (accessList != nullptr && result == 0) {
        auto carrier = std::make_unique<CGroupData>(name);
        carrier->m_listAccess = RowMacs(m_target.Servers(), SplitNames(*accessList));
        result = core.SendMessage(
            CDirectoryMessage::SetGroupAccess(true, std::move(carrier)).AsTypedInput());
    }
    return Changed(m_target, result);
}

CControlReply CControlCommands::ConfigFile(const std::vector<std::string>& args) {
    const bool bExport = args[0] == "export";
    const COptions options = ParseOptions(args, 1, {}, {bExport ? "--force" : "--dry-run"});
    if (!options.error.empty() || options.words.size() != 1) {
        return BadUsage(options.error, "usage: " + args[0] + " FILE");
    }
    std::filesystem::path file(options.words[0]);
    if (!file.is_absolute()) {
        return Failed("the file must be named by an absolute path", kBadUsageStatus);
    }
    // As the save dialog: a name typed without an extension gets the file type's.
    if (bExport && !file.has_extension()) {
        file += CConfigFile::kExtension;
    }
    COrvaneSrvCore& core = m_target.Core();
    if (!bExport && options.Has("--dry-run")) {
        return DryRunImport(core, file);
    }
    // Without --force the name is claimed first: a file made since orvanectl looked stays.
    if (bExport && !options.Has("--force")) {
        if (const std::string why = ClaimExportFile(file); !why.empty()) {
            return Failed(why);
        }
    }
    const CConfigResult result =
        bExport ? CConfigFile::Export(file, core) : CConfigFile::Import(file, core);
    if (result.status != EConfigStatus::Ok) {
        if (bExport && !options.Has("--force")) {
            std::filesystem::remove(file);
        }
        // The window's words name no file and no cause: an import says which and why.
        CGroupTable groups;
        CUserTable users;
        const auto why = bExport ? std::nullopt : ReadExportFile(file, groups, users);
        return Failed(why ? *why : Utf16ToUtf8(result.strMessage));
    }
    if (!bExport) {
        m_target.OnDirectoryChanged();
    }
    return {0, Utf16ToUtf8(ConfigSummary(bExport, file, result.counts)) + "\n", {}};
}

void CControlCommands::Refresh(const CControlChannel::CDone& done) {
    CServerDiscovery* discovery = m_target.Discovery();
    if (discovery == nullptr) {
        done(Failed("discovery does not run in this copy"));
        return;
    }
    discovery->OnRefresh();
    discovery->WhenPassEnds([this, done] {
        done({0,
              "pass ended: " + std::to_string(m_target.Servers().RowCount()) + " arrays listed\n",
              {}});
    });
}

void CControlCommands::Login(const std::vector<std::string>& args,
                             const CControlChannel::CDone& done) {
    std::vector<std::string> rest(args);
    const bool bAll = std::erase(rest, std::string("--all")) != 0;
    const COptions options = ParseOptions(rest, 1, {"--user", "--password", "--address", "--list"});
    const std::string* user = options.Find("--user");
    const std::string* password = options.Find("--password");
    const std::string* list = options.Find("--list");
    const auto entries = list != nullptr ? LoginFile::Decode(*list) : std::nullopt;
    const std::string why =
        list != nullptr ? ListUsageError(options, bAll, entries) : NamedUsageError(options, bAll);
    if (!why.empty()) {
        done(Failed(why, kBadUsageStatus));
        return;
    }
    const std::string* address = options.Find("--address");
    CLoginRequestArgs request{bAll, options.words, Utf8ToUtf16(address ? *address : ""), {}};
    if (entries) {
        for (const CLoginFileEntry& entry : *entries) {
            request.macs.push_back(entry.mac);
            if (entry.HasOwnCredentials()) {
                const std::u16string mac = RowMacs(m_target.Servers(), {Utf8ToUtf16(entry.mac)})[0];
                request.own[mac] = {Utf8ToUtf16(entry.user), Utf8ToUtf16(entry.password)};
            }
        }
    }
    std::vector<CLoginTarget> targets;
    CControlReply refused;
    CLoginCounts counts;
    ChooseLoginTargets(m_target, request, targets, refused, counts);
    if (targets.empty()) {
        const bool bAllUnknown = bAll && counts.nNew + counts.nConflict > 0;
        refused.strErr +=
            bAllUnknown ? "no known array to log in to\n" : "no supported array to log in to\n";
        refused.nStatus = kFailedStatus;
    }
    const std::size_t nTargets = targets.size();
    auto finish = [done, refused, counts, nTargets](CControlReply reply) {
        reply.strOut = refused.strOut + reply.strOut + SummaryLine(reply.strOut, nTargets, counts);
        reply.strErr = refused.strErr + reply.strErr;
        reply.nStatus = reply.nStatus != 0 ? reply.nStatus : refused.nStatus;
        done(std::move(reply));
    };
    const uint64_t id = ++m_nLastLogin;
    std::shared_ptr<IWindowThread> window = m_target.Window();
    // Let go later: the login answers from inside its own rows.
    auto onFinished = [this, id, window] { window->Post([this, id] { m_logins.erase(id); }); };
    auto& login = m_logins[id] =
        std::make_unique<CControlLogin>(m_target.Core(), m_target.Servers(), window,
                                        done.WithAnswer(finish), onFinished, m_loginOptions);
    // A list whose every array has its own credentials needs none of the command's.
    login->Start(std::move(targets), Utf8ToUtf16(user != nullptr ? *user : std::string()),
                 Utf8ToUtf16(password != nullptr ? *password : std::string()),
                 std::move(counts.leftOut));
    // Nobody reads the answer any more: the arrays not yet tried go with the login.
    done.WhenGone([this, id] { m_logins.erase(id); });
}

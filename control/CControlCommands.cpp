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
#include <cstdio>
#include <ctime>
#include <unistd.h>
#include <unordered_map>
#include <unordered_set>

namespace {

constexpr int kFailed = 1;
constexpr int kBadUsage = 2;

using CRow = CTextRow;

CControlReply Failed(std::string text, int status = kFailed) {
    return {status, {}, std::move(text) + "\n"};
}

CControlReply FailedWith(int stringId) {
    return Failed(Utf16ToUtf8(LoadString(stringId)));
}

std::string JsonString(std::string_view text) {
    constexpr unsigned kFirstPrintable = 0x20;
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < kFirstPrintable) {
            constexpr std::size_t kEscapeSize = 7;
            char escape[kEscapeSize];
            std::snprintf(escape, sizeof escape, "\\u%04x", byte);
            out += escape;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string JsonBool(bool value) {
    return value ? "true" : "false";
}

std::string JsonList(const std::vector<std::u16string>& items) {
    std::string out = "[";
    for (std::size_t i = 0; i < items.size(); ++i) {
        out += (i == 0 ? "" : ",") + JsonString(Utf16ToUtf8(items[i]));
    }
    return out + "]";
}

// Objects of the given keys, one per row, in one JSON array.
std::string JsonRows(const std::vector<std::string>& keys, const std::vector<CRow>& rows) {
    std::string out = "[";
    for (std::size_t r = 0; r < rows.size(); ++r) {
        out += r == 0 ? "\n  {" : ",\n  {";
        for (std::size_t i = 0; i < keys.size(); ++i) {
            out += (i == 0 ? "" : ", ") + JsonString(keys[i]) + ": " + rows[r][i];
        }
        out += "}";
    }
    return out + (rows.empty() ? "]\n" : "\n]\n");
}

std::string Joined(std::vector<std::u16string> names) {
    std::sort(names.begin(), names.end());
    std::string out;
    for (const std::u16string& name : names) {
        out += (out.empty() ? "" : ",") + Utf16ToUtf8(name);
    }
    return out;
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

std::string TimeText(std::chrono::system_clock::time_point when) {
    const std::time_t t = std::chrono::system_clock::to_time_t(when);
    std::tm utc{};
    ::gmtime_r(&t, &utc);
    constexpr std::size_t kTimeSize = 32;
    char text[kTimeSize];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &utc);
    return text;
}

// Whether the trail summarises records because its files are full and none is old enough to go.
std::string AuditFullText(const CAuditTrail* trail) {
    const auto full = trail ? trail->Full() : std::nullopt;
    if (!full) {
        return "no";
    }
    return "since " + TimeText(full->since) +
           ", records summarised per event, user and address each minute until the oldest file "
           "may go at " +
           TimeText(full->until);
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
        for (const auto& [k, v] : kv) {
            if (k == key) {
                return &v;
            }
        }
        return nullptr;
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

// The reply's last line: how many logins succeeded and failed, how many arrays were not sent
// one, and why.
std::string SummaryLine(std::string_view answers, std::size_t nSent,
                        const CControlCommands::CLoginCounts& counts) {
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

// The https field's place in status, and its JSON object.
constexpr std::size_t kHttpsField = 5;

std::string HttpsJson(const CTlsPortState& state) {
    const std::string_view names[] = {"off", "serving", "not served"};
    return "{\"port\": " + std::to_string(state.nPort) +
           ", \"fingerprint\": " + JsonString(state.strFingerprint) +
           ", \"state\": " + JsonString(names[static_cast<std::size_t>(state.eState)]) +
           ", \"reason\": " + JsonString(state.strReason) + "}";
}

constexpr std::string_view kDefaultPasswordText =
    "still the default: change it with orvanectl user set admin --ask-password";

constexpr std::string_view kNewArray =
    "new array: log in to it by its MAC, or give a group access to it first";

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
    const bool bJson = format == EFormat::Json;
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
    } else if (IsLdapRequest(args)) {
        RunLdapRequest(m_target.Core(), m_target.Window(), args, done,
                       CProgramSettings::DefaultPath());
    } else if (IsSealRequest(args)) {
        done(RunSealRequest(m_target.Core(), args));
    } else if (command == "status" && formats({"--json"})) {
        done(Status(bJson));
    } else if (command == "servers" && formats({"--json", "--csv"})) {
        done(ServerRows(format));
    } else if (command == "users" && formats({"--json", "--csv"})) {
        done(Users(format));
    } else if (command == "groups" && formats({"--json"})) {
        done(Groups(bJson));
    } else if (command == "group" && args.size() > 1 && args[1] == "show") {
        done(GroupShow(args));
    } else if (command == "user" || command == "group" || command == "export" ||
               command == "import") {
        // The audit trail tells these changes from the console's.
        const COrvaneSrvCore::CChangeSourceScope source(m_target.Core(), "orvanectl");
        done(command == "user" ? User(args) : command == "group" ? Group(args) : ConfigFile(args));
    } else {
        done(Failed("unknown command or arguments: " + command, kBadUsage));
    }
}

CControlReply CControlCommands::Status(bool bJson) {
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
    std::string pass = lastPass ? TimeText(*lastPass) : "none yet";
    if (discovery && discovery->IsDiscovering()) {
        pass += " (a pass is running)";
    }
    std::vector<std::pair<std::string, std::string>> fields = {
        {"version", m_info.version},
        {"process", std::to_string(::getpid())},
        {"store", m_info.storePath},
        {"served folder", m_info.wwwDir},
        {"port", std::to_string(m_info.nPort)},
        {"https", CTlsPortState::Published().Summary()},
        {"arrays found", std::to_string(found)},
        {"arrays authorized", std::to_string(authorized)},
        {"arrays in conflict", std::to_string(core.AddressConflicts())},
        {"users", std::to_string(users)},
        {"groups", std::to_string(groups)},
        {"last pass", pass},
        {"audit trail", trail ? trail->File().string() : "none"},
        {"audit records unwritten", std::to_string(trail ? trail->FailedRecords() : 0)},
        {"audit trail full", AuditFullText(trail.get())},
        {"admin password", core.HasDefaultAdminPassword() ? std::string(kDefaultPasswordText)
                                                          : "changed from the default"},
    };
    std::vector<std::string> keys = {"version",
                                     "process",
                                     "store",
                                     "servedFolder",
                                     "port",
                                     "https",
                                     "arraysFound",
                                     "arraysAuthorized",
                                     "arraysInConflict",
                                     "users",
                                     "groups",
                                     "lastPass",
                                     "auditTrail",
                                     "auditUnwritten",
                                     "auditFull",
                                     "adminDefaultPassword"};
    constexpr std::array kNumbers = {1, 4, 6, 7, 8, 9, 10, 13};
    std::vector<std::string> json;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const bool bNumber = std::find(kNumbers.begin(), kNumbers.end(), i) != kNumbers.end();
        json.push_back(bNumber ? fields[i].second : JsonString(fields[i].second));
    }
    json[kHttpsField] = HttpsJson(CTlsPortState::Published());
    json.back() = JsonBool(core.HasDefaultAdminPassword());
    std::vector<CSealStatusField> more = SealStatusFields(core.Seal().Status());
    more.push_back(LdapStatusField(core.LdapUsers().get()));
    for (const CSealStatusField& field : more) {
        if (!field.label.empty()) {
            fields.emplace_back(field.label, field.value);
        }
        keys.push_back(field.key);
        json.push_back(field.json);
    }
    if (!bJson) {
        std::vector<CRow> rows;
        for (const auto& [name, value] : fields) {
            rows.push_back({name + ":", value});
        }
        return {0, TextTable(rows), {}};
    }
    std::string out = "{";
    for (std::size_t i = 0; i < keys.size(); ++i) {
        out += (i == 0 ? "\n  " : ",\n  ") + JsonString(keys[i]) + ": " + json[i];
    }
    return {0, out + "\n}\n", {}};
}

CControlReply CControlCommands::ServerRows(EFormat format) {
    const bool bJson = format == EFormat::Json;
    const IServerListView& list = m_target.Servers();
    const COrvaneSrvCore& core = m_target.Core();
    std::vector<CRow> rows;
    for (std::size_t row = 0; row < list.RowCount(); ++row) {
        CRow cells;
        for (std::size_t col = 0; col < kServerColumnCount; ++col) {
            cells.push_back(Utf16ToUtf8(list.CellText(row, static_cast<EServerColumn>(col))));
        }
        const auto array = core.LoginCandidate(list.CellText(row, EServerColumn::MAC));
        cells.push_back(array ? ConflictCell(*array) : std::string());
        // What the network sent never drives the operator's terminal.
        for (std::string& cell : cells) {
            cell = bJson ? JsonString(cell) : EscapeForTerminal(cell);
        }
        if (bJson) {
            const std::size_t auth = static_cast<std::size_t>(EServerColumn::Auth);
            cells[auth] = JsonBool(list.CellText(row, EServerColumn::Auth) == LoadString(IDS_YES));
        }
        rows.push_back(std::move(cells));
    }
    if (bJson) {
        return {
            0,
            JsonRows({"ip", "systemName", "product", "firmware", "mac", "auth", "conflict"}, rows),
            {}};
    }
    rows.insert(rows.begin(), CRow{Utf16ToUtf8(LoadString(IDS_COL_IP_ADDRESS)),
                                   Utf16ToUtf8(LoadString(IDS_COL_SYSTEM_NAME)),
                                   Utf16ToUtf8(LoadString(IDS_COL_PRODUCT)),
                                   Utf16ToUtf8(LoadString(IDS_COL_FIRMWARE)),
                                   Utf16ToUtf8(LoadString(IDS_COL_MAC_ADDRESS)),
                                   Utf16ToUtf8(LoadString(IDS_COL_AUTH)), "Conflict"});
    return {0, format == EFormat::Csv ? CsvTable(rows) : TextTable(rows), {}};
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
    std::vector<CRow> rows;
    for (auto& [name, groups] : users) {
        std::sort(groups.begin(), groups.end());
        rows.push_back(bJson ? CRow{JsonString(Utf16ToUtf8(name)), JsonList(groups)}
                             : CRow{Utf16ToUtf8(name), Joined(groups)});
    }
    if (bJson) {
        return {0, JsonRows({"name", "groups"}, rows), {}};
    }
    rows.insert(rows.begin(), CRow{"User", "Groups"});
    return {0, format == EFormat::Csv ? CsvTable(rows) : TextTable(rows), {}};
}

CControlReply CControlCommands::Groups(bool bJson) {
    COrvaneSrvCore& core = m_target.Core();
    struct CGroupRow {
        std::u16string name;
        std::vector<std::u16string> members;
        std::vector<std::u16string> access;
        std::vector<std::u16string> dns;
        bool operator<(const CGroupRow& other) const { return name < other.name; }
    };
    std::vector<CGroupRow> groups;
    core.Read([&](const CTablesView& tables) {
        for (const auto& [name, group] : tables.groups) {
            groups.push_back(
                {name, group->m_listUsers, group->m_listAccess, group->m_listDirectoryGroups});
        }
    });
    std::sort(groups.begin(), groups.end());
    std::vector<CRow> rows;
    for (CGroupRow& group : groups) {
        std::sort(group.members.begin(), group.members.end());
        // Hundreds of arrays make no line to read: the table counts them, group show lists them.
        rows.push_back(bJson ? CRow{JsonString(Utf16ToUtf8(group.name)), JsonList(group.members),
                                    JsonList(group.access), JsonList(group.dns)}
                             : CRow{Utf16ToUtf8(group.name), std::to_string(group.members.size()),
                                    std::to_string(group.access.size()),
                                    std::to_string(group.dns.size())});
    }
    if (bJson) {
        return {0, JsonRows({"name", "members", "access", "ldapGroups"}, rows), {}};
    }
    rows.insert(rows.begin(), CRow{"Group", "Members", "Arrays", "Directory groups"});
    return {0, TextTable(rows), {}};
}

CControlReply CControlCommands::GroupShow(const std::vector<std::string>& args) {
    const COptions options = ParseOptions(args, 2, {}, {"--json"});
    if (!options.error.empty() || options.words.size() != 1) {
        return Failed(options.error.empty() ? "usage: group show NAME [--json]" : options.error,
                      kBadUsage);
    }
    const std::u16string name = Utf8ToUtf16(options.words[0]);
    std::optional<CGroupData> group = m_target.Core().GroupRecord(name);
    if (!group) {
        return Failed("no group " + options.words[0]);
    }
    std::sort(group->m_listUsers.begin(), group->m_listUsers.end());
    if (options.Has("--json")) {
        return {0,
                "{\"name\": " + JsonString(options.words[0]) +
                    ", \"members\": " + JsonList(group->m_listUsers) +
                    ", \"access\": " + JsonList(group->m_listAccess) +
                    ", \"ldapGroups\": " + JsonList(group->m_listDirectoryGroups) + "}\n",
                {}};
    }
    std::vector<CRow> rows = {{"group:", options.words[0]}};
    rows.push_back({"members:", std::to_string(group->m_listUsers.size())});
    for (const std::u16string& member : group->m_listUsers) {
        rows.push_back({"", Utf16ToUtf8(member)});
    }
    rows.push_back({"arrays:", std::to_string(group->m_listAccess.size())});
    for (const std::u16string& mac : group->m_listAccess) {
        rows.push_back({"", Utf16ToUtf8(mac)});
    }
    rows.push_back({"directory groups:", std::to_string(group->m_listDirectoryGroups.size())});
    for (const std::u16string& dn : group->m_listDirectoryGroups) {
        rows.push_back({"", EscapeForTerminal(Utf16ToUtf8(dn))});
    }
    return {0, TextTable(rows), {}};
}

CControlReply CControlCommands::User(const std::vector<std::string>& args) {
    const std::string verb = args.size() > 1 ? args[1] : std::string();
    const COptions options = ParseOptions(args, 2, {"--groups", "--password"});
    if (!options.error.empty() || options.words.size() != 1 ||
        (verb != "add" && verb != "set" && verb != "del") ||
        (verb == "del" && !options.kv.empty())) {
        return Failed(options.error.empty() ? "usage: user add|set NAME [--groups G,...] | "
                                              "user del NAME"
                                            : options.error,
                      kBadUsage);
    }
    COrvaneSrvCore& core = m_target.Core();
    const std::u16string name = Utf8ToUtf16(options.words[0]);
    if (name.empty()) {
        return FailedWith(IDS_USER_NAME_EMPTY);
    }
    const std::string* groupList = options.Find("--groups");
    const std::string* password = options.Find("--password");
    std::vector<std::u16string> groups =
        groupList ? SplitNames(*groupList) : std::vector<std::u16string>{};
    struct CExisting {
        std::u16string password;
        std::vector<std::u16string> groups;
    };
    std::optional<CExisting> existing;
    CRefusal refusal;
    const std::u16string* missingGroup = core.Read([&](const CTablesView& tables) {
        if (verb == "add") {
            refusal = CDirectoryRules::CheckNewName(tables.users, name);
        }
        if (const auto it = tables.users.find(name); it != tables.users.end()) {
            existing = CExisting{it->second->m_strPassword, it->second->m_listGroups};
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
        return Failed("a new user needs a password", kBadUsage);
    }
    if (password != nullptr && password->empty()) {
        return FailedWith(IDS_PASSWORD_EMPTY);
    }
    auto user =
        std::make_unique<CUserData>(name, password ? Utf8ToUtf16(*password) : existing->password);
    if (groupList == nullptr && existing) {
        groups = existing->groups;
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
        return Failed(options.error.empty()
                          ? "usage: group add|set NAME [--members U,...] [--access MAC,...] "
                            "[--ldap-groups DN...] | group set NAME --no-ldap-groups | "
                            "group del NAME"
                          : options.error,
                      kBadUsage);
    }
    COrvaneSrvCore& core = m_target.Core();
    const std::u16string name = Utf8ToUtf16(options.words[0]);
    if (name.empty()) {
        return FailedWith(IDS_GROUP_NAME_EMPTY);
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
        carrier->m_listAccess = RowMacs(SplitNames(*accessList));
        result = core.SendMessage(
            CDirectoryMessage::SetGroupAccess(true, std::move(carrier)).AsTypedInput());
    }
    return Changed(m_target, result);
}

CControlReply CControlCommands::ConfigFile(const std::vector<std::string>& args) {
    const bool bExport = args[0] == "export";
    const COptions options = ParseOptions(args, 1, {}, {bExport ? "--force" : "--dry-run"});
    if (!options.error.empty() || options.words.size() != 1) {
        return Failed(options.error.empty() ? "usage: " + args[0] + " FILE" : options.error,
                      kBadUsage);
    }
    std::filesystem::path file(options.words[0]);
    if (!file.is_absolute()) {
        return Failed("the file must be named by an absolute path", kBadUsage);
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

std::vector<std::u16string>
CControlCommands::RowMacs(const std::vector<std::u16string>& typed) const {
    const IServerListView& list = m_target.Servers();
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

// Which arrays a login reaches. "--all" reaches the known arrays at their own address only: an
// announcement alone never earns a host the fleet's password. Arrays named by MAC may be new or
// in conflict (the login then goes to the array's own address); one that seems to have moved is
// reached at its new address only when --address names it.
void CControlCommands::ChooseLoginTargets(const CLoginRequestArgs& request,
                                          std::vector<CLoginTarget>& targets,
                                          CControlReply& refused, CLoginCounts& counts) {
    COrvaneSrvCore& core = m_target.Core();
    IServerListView& list = m_target.Servers();
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
            refused.nStatus = bNamed ? kFailed : refused.nStatus;
            ++counts.nUnsupported;
        } else if (!bNamed && array->eState != EAddressState::Bound) {
            skip(*array, ConflictReason(*array));
            ++counts.nConflict;
        } else if (!bNamed && !array->bKnown) {
            skip(*array, kNewArray);
            ++counts.nNew;
        } else if (bNamed && request.address.empty() && array->eState == EAddressState::Moved) {
            skip(*array, ConflictReason(*array));
            refused.nStatus = kFailed;
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
        macs = RowMacs(macs);
    }
    const auto arrays = core.LoginCandidates(macs);
    for (std::size_t i = 0; i < macs.size(); ++i) {
        if (request.bAll) {
            consider(macs[i], arrays[i], false);
        } else if (list.FindRow(EServerColumn::MAC, macs[i]) == IServerListView::npos ||
                   !arrays[i]) {
            refused.strErr +=
                "no array with the MAC address " + EscapeForTerminal(request.macs[i]) + "\n";
            refused.nStatus = kFailed;
        } else {
            consider(macs[i], arrays[i], true);
        }
    }
}

void CControlCommands::Login(const std::vector<std::string>& args,
                             const CControlChannel::CDone& done) {
    std::vector<std::string> rest(args);
    const bool bAll = std::erase(rest, std::string("--all")) != 0;
    const COptions options = ParseOptions(rest, 1, {"--user", "--password", "--address", "--list"});
    const std::string* user = options.Find("--user");
    const std::string* password = options.Find("--password");
    const std::string* address = options.Find("--address");
    const std::string* list = options.Find("--list");
    const auto entries = list != nullptr ? LoginFile::Decode(*list) : std::nullopt;
    const std::string why =
        list != nullptr ? ListUsageError(options, bAll, entries) : NamedUsageError(options, bAll);
    if (!why.empty()) {
        done(Failed(why, kBadUsage));
        return;
    }
    CLoginRequestArgs request;
    request.bAll = bAll;
    request.macs = options.words;
    request.address = address != nullptr ? Utf8ToUtf16(*address) : std::u16string();
    if (entries) {
        for (const CLoginFileEntry& entry : *entries) {
            request.macs.push_back(entry.mac);
            if (entry.HasOwnCredentials()) {
                const std::u16string mac = RowMacs({Utf8ToUtf16(entry.mac)})[0];
                request.own[mac] = {Utf8ToUtf16(entry.user), Utf8ToUtf16(entry.password)};
            }
        }
    }
    std::vector<CLoginTarget> targets;
    CControlReply refused;
    CLoginCounts counts;
    ChooseLoginTargets(request, targets, refused, counts);
    if (targets.empty() && bAll && counts.nNew + counts.nConflict > 0) {
        refused.strErr += "no known array to log in to\n";
        refused.nStatus = kFailed;
    } else if (targets.empty()) {
        refused.strErr += "no supported array to log in to\n";
        refused.nStatus = kFailed;
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
    login->AddLeftOut(std::move(counts.leftOut));
    // A list whose every array has its own credentials needs none of the command's.
    login->Start(std::move(targets), Utf8ToUtf16(user != nullptr ? *user : std::string()),
                 Utf8ToUtf16(password != nullptr ? *password : std::string()));
    // Nobody reads the answer any more: the arrays not yet tried go with the login.
    done.WhenGone([this, id] { m_logins.erase(id); });
}

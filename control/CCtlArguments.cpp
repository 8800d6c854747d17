// orvanectl's command line; see CCtlArguments.h.
#include "control/CCtlArguments.h"

#include "control/RefusalText.h"
#include "control/TextTable.h"
#include "core/CDirectoryRules.h"
#include "core/audit/AuditEventKinds.h"
#include "core/audit/CAuditQuery.h"
#include "platform/text/MacText.h"
#include "platform/text/TextConv.h"
#include "platform/text/TextUtil.h"
#include "resources/ResourceIds.h"
#include "resources/StringTable.h"

#include <algorithm>
#include <array>
#include <initializer_list>
#include <limits>
#include <optional>

namespace {

constexpr std::size_t kAnyNumber = std::numeric_limits<std::size_t>::max();

// One command (or a command's verb): what it takes, and its usage for -h.
struct CCommandForm {
    std::string_view name; // the command, and its verb after a space if it takes one
    std::string_view synopsis;
    std::string_view about;
    std::initializer_list<std::string_view> flags = {};
    std::initializer_list<std::string_view> valued = {};
    // The words it takes (a name, a file), exactly; kAnyNumber: any number, or none.
    std::size_t nWords = 0;
    // Options that take every following argument up to the next option (at least one).
    std::initializer_list<std::string_view> listed = {};

    std::string_view Command() const { return name.substr(0, name.find(' ')); }
    std::string_view Verb() const {
        return name.substr(std::min(name.size(), Command().size() + 1));
    }
};

constexpr std::string_view kLdapGroups = "--ldap-groups";
constexpr std::string_view kNoLdapGroups = "--no-ldap-groups";

// NOLINTBEGIN(cert-err58-cpp): constant tables of views.
const std::array kForms = {
    CCommandForm{
        "status",
        "status [--json]",
        "the running copy: version, process, store, folder, ports, arrays, users, groups, last\n"
        "pass, and whether \"admin\" still has its default password",
        {"--json"}},
    CCommandForm{
        "servers", "servers [--json | --csv]", "the arrays on the System tab", {"--json", "--csv"}},
    CCommandForm{"refresh", "refresh", "start a discovery pass and wait for its end"},
    CCommandForm{
        "users", "users [--json | --csv]", "the users and their groups", {"--json", "--csv"}},
    CCommandForm{"groups",
                 "groups [--json]",
                 "the groups with the number of their members and arrays (--json: the lists)",
                 {"--json"}},
    CCommandForm{"user add",
                 "user add NAME [--groups G,...] [--password-stdin]",
                 "add a user; the password is asked for twice",
                 {"--password-stdin"},
                 {"--groups"},
                 1},
    CCommandForm{"user set",
                 "user set NAME [--groups G,...] [--ask-password | --password-stdin]",
                 "change a user's groups or password",
                 {"--ask-password", "--password-stdin"},
                 {"--groups"},
                 1},
    CCommandForm{"user del", "user del NAME", "delete a user", {}, {}, 1},
    CCommandForm{"group add",
                 "group add NAME [--members U,...] [--access MAC,...] [--ldap-groups DN...]",
                 "add a group; users of the site's directory in the directory groups named by\n"
                 "--ldap-groups (DNs, every word up to the next option) get its arrays",
                 {},
                 {"--members", "--access"},
                 1,
                 {kLdapGroups}},
    CCommandForm{"group set",
                 "group set NAME [--members U,...] [--access MAC,...] [--ldap-groups DN...]\n"
                 "  orvanectl group set NAME --no-ldap-groups",
                 "replace a group's members, the arrays it may reach, or the directory groups\n"
                 "whose users get them (--ldap-groups: DNs, every word up to the next option;\n"
                 "--no-ldap-groups: none)",
                 {kNoLdapGroups},
                 {"--members", "--access"},
                 1,
                 {kLdapGroups}},
    CCommandForm{"group del", "group del NAME", "delete a group", {}, {}, 1},
    CCommandForm{"group show",
                 "group show NAME [--json]",
                 "a group's members, arrays and directory groups in full",
                 {"--json"},
                 {},
                 1},
    CCommandForm{
        "ldap test",
        "ldap test NAME [--password-stdin]",
        "sign NAME in through the site's LDAP directory as the credential service would,\n"
        "and print each step: connect, TLS, search, bind, groups and the OrvaneSrv groups\n"
        "they give; the password is asked for",
        {"--password-stdin"},
        {},
        1},
    CCommandForm{
        "login",
        "login (--all | MAC... | MAC --address IP) --user NAME [--password-stdin]\n"
        "  orvanectl login --from FILE [--user NAME] [--password-stdin]",
        "check administrator credentials on the arrays; --all reaches only known arrays (logged\n"
        "in to before, or in a group's access list) at their own address; --address moves an\n"
        "array whose address changed; FILE (- for standard input) has a line per array:\n"
        "MAC,user,password (a field in double quotes may hold commas, a quote written twice),\n"
        "or a MAC alone for --user and the password asked; '#' starts a comment line",
        {"--all", "--password-stdin"},
        {"--user", "--address", "--from"},
        kAnyNumber},
    CCommandForm{
        "export",
        "export FILE [--force]",
        "write the directory to a configuration file; an existing file is replaced only with\n"
        "--force",
        {"--force"},
        {},
        1},
    CCommandForm{
        "import",
        "import FILE [--dry-run]",
        "merge a configuration file into the directory; --dry-run tells what would be added and\n"
        "replaced and changes nothing",
        {"--dry-run"},
        {},
        1},
    CCommandForm{
        "seal",
        "seal [--passphrase-stdin] | seal --off",
        "remember the arrays' authorizations across restarts, sealed under a passphrase (asked\n"
        "twice); --off forgets them and removes the sealed file",
        {"--passphrase-stdin", "--off"}},
    CCommandForm{"unseal",
                 "unseal [--passphrase-stdin]",
                 "open the sealed file after a start",
                 {"--passphrase-stdin"}},
    CCommandForm{
        "seal-key new", "seal-key new FILE", "write a new key file for --seal-key", {}, {}, 1},
    CCommandForm{
        "audit",
        "audit [--since TIME] [--user NAME] [--mac MAC] [--event KIND] [--json]",
        "the audit trail's records, newest last; TIME is a UTC date or time (2026-12-09T21:00)\n"
        "or an age (30m, 12h, 7d)",
        {"--json"},
        {"--since", "--user", "--mac", "--event"}},
};
// NOLINTEND(cert-err58-cpp)

constexpr std::string_view kFooter =
    "\n"
    "Every command takes -h or --help. A word that starts with '-' is taken as a name or a file\n"
    "only after \"--\". A password is asked for without echo on the terminal, or read as one line\n"
    "from standard input with --password-stdin. Exit status: 0 done, 1 refused or failed,\n"
    "2 bad usage, 3 OrvaneSrv is not running for this user.\n";

std::string Indented(std::string_view text, std::string_view indent) {
    std::string out(indent);
    for (const char c : text) {
        out += c;
        if (c == '\n') {
            out += indent;
        }
    }
    return out + "\n";
}

std::string FormUsage(const CCommandForm& form) {
    return "usage: orvanectl " + std::string(form.synopsis) + "\n\n" + Indented(form.about, "");
}

// The usage of a command with verbs: each verb's.
std::string CommandUsage(std::string_view command) {
    std::string out;
    for (const CCommandForm& form : kForms) {
        if (form.Command() == command) {
            out += (out.empty() ? "usage: orvanectl " : "       orvanectl ") +
                   std::string(form.synopsis) + "\n";
        }
    }
    return out;
}

bool IsHelp(std::string_view arg) {
    return arg == "-h" || arg == "--help";
}

bool Takes(std::initializer_list<std::string_view> list, std::string_view arg) {
    return std::find(list.begin(), list.end(), arg) != list.end();
}

CCtlArguments::CResult Bad(std::string why) {
    return {CCtlArguments::EOutcome::BadUsage, std::move(why), {}};
}

// What can be judged of a value where it is typed; empty when it is fine.
std::string CheckValue(const CCommandForm& form, std::string_view option, std::string_view value) {
    if (option == "--access") {
        for (const std::string_view item : SplitList(value)) {
            const std::string_view mac = Trim(item);
            if (!mac.empty() && !IsMacAddress(mac)) {
                return "--access: \"" + std::string(mac) +
                       "\" is not a MAC address (six pairs of hex digits joined by ':' or '-')";
            }
        }
    }
    if (option == "--event" && form.Command() == "audit" && !IsAuditEventKind(value)) {
        std::vector<std::string_view> sorted(kAuditEventKinds.begin(), kAuditEventKinds.end());
        std::ranges::sort(sorted);
        return "audit: no event kind \"" + std::string(value) + "\"; the trail writes " +
               Joined(sorted, ", ");
    }
    return {};
}

// The values of a listed option from argv[i + 1] on, up to the next option, each checked
// and passed on as "option value" (the channel's options take one value each); i is left at
// the last one taken. Answers why they cannot be used, or nothing.
std::string TakeListed(const std::vector<std::string>& argv, std::size_t& i,
                       std::string_view option, std::vector<std::string>& args) {
    std::size_t taken = 0;
    while (i + 1 < argv.size() && !argv[i + 1].starts_with('-')) {
        const std::string& dn = argv[++i];
        const EDnFault fault = CDirectoryRules::CheckDirectoryGroupDn(Utf8ToUtf16(dn));
        if (fault == EDnFault::Empty) {
            return std::string(option) + ": " + Utf16ToUtf8(LoadString(IDS_DN_EMPTY)) + " " +
                   std::string(kNoLdapGroups) + " clears the list.";
        }
        if (fault != EDnFault::None) {
            return std::string(option) + ": " + Utf16ToUtf8(DnFaultText(fault, Utf8ToUtf16(dn)));
        }
        args.emplace_back(option);
        args.push_back(dn);
        ++taken;
    }
    return taken == 0 ? std::string(option) + " needs a value" : std::string();
}

const CCommandForm* FindForm(std::string_view command, std::string_view verb) {
    const auto* form = std::ranges::find_if(kForms, [&](const CCommandForm& candidate) {
        return candidate.Command() == command &&
               (candidate.Verb().empty() || candidate.Verb() == verb);
    });
    return form == kForms.end() ? nullptr : form;
}

// The words and options after the command (and verb) against what form takes.
CCtlArguments::CResult CheckRest(const CCommandForm& form, const std::vector<std::string>& argv,
                                 std::size_t first) {
    CCtlArguments::CResult result;
    result.args.assign(argv.begin(), argv.begin() + static_cast<std::ptrdiff_t>(first));
    std::vector<std::string> words;
    bool bWordsOnly = false;
    for (std::size_t i = first; i < argv.size(); ++i) {
        const std::string& arg = argv[i];
        if (bWordsOnly || !arg.starts_with('-')) {
            words.push_back(arg);
        } else if (arg == "--") {
            bWordsOnly = true;
        } else if (Takes(form.flags, arg)) {
            result.args.push_back(arg);
        } else if (Takes(form.listed, arg)) {
            std::string why = TakeListed(argv, i, arg, result.args);
            if (!why.empty()) {
                return Bad(std::move(why));
            }
        } else if (arg == "--password") {
            return Bad("a password is never given on the command line: it is asked for, or read "
                       "with --password-stdin");
        } else if (!Takes(form.valued, arg)) {
            return Bad(std::string(form.Command()) + ": unknown option " + arg);
        } else if (i + 1 == argv.size()) {
            return Bad(arg + " needs a value");
        } else {
            const std::string& value = argv[++i];
            // "-" is standard input for a login file; any other value may not look like an
            // option, so that a forgotten value never swallows the next option.
            if (value.starts_with('-') && !(arg == "--from" && value == "-")) {
                return Bad(arg + " needs a value, not " + value);
            }
            if (std::string why = CheckValue(form, arg, value); !why.empty()) {
                return Bad(why);
            }
            result.args.push_back(arg);
            result.args.push_back(value);
        }
    }
    if (form.nWords != kAnyNumber && words.size() != form.nWords) {
        return Bad(words.size() > form.nWords
                       ? std::string(form.Command()) + ": unexpected argument " + words.back()
                       : "usage: orvanectl " + std::string(form.synopsis));
    }
    const auto has = [&result](std::string_view option) {
        return std::ranges::find(result.args, option) != result.args.end();
    };
    if (has("--json") && has("--csv")) {
        return Bad("--json and --csv: choose one");
    }
    if (has(kLdapGroups) && has(kNoLdapGroups)) {
        return Bad("--ldap-groups and --no-ldap-groups: choose one");
    }
    // A user name that the directory would refuse whatever it holds, in the directory's words.
    if (form.name == "user add" &&
        CDirectoryRules::CheckNewName(CUserTable{}, Utf8ToUtf16(words[0])).eKind ==
            ERefusal::ColonInName) {
        return Bad(Utf16ToUtf8(LoadString(IDS_USER_NAME_COLON)));
    }
    if (std::ranges::any_of(words, [](const std::string& word) { return word.starts_with('-'); })) {
        result.args.emplace_back("--");
    }
    result.args.insert(result.args.end(), words.begin(), words.end());
    return result;
}

} // namespace

std::string_view CCtlArguments::Usage() {
    static const std::string usage = [] {
        std::string out = "usage: orvanectl COMMAND [ARGS]\n       orvanectl --version\n\n";
        for (const CCommandForm& form : kForms) {
            out += "  " + std::string(form.synopsis) + "\n" + Indented(form.about, "      ");
        }
        return out + std::string(kFooter);
    }();
    return usage;
}

CCtlArguments::CResult CCtlArguments::Check(const std::vector<std::string>& argv,
                                            std::string_view version) {
    if (argv.empty()) {
        return Bad("no command");
    }
    const std::string& command = argv[0];
    if (IsHelp(command) || command == "help") {
        return {EOutcome::Help, std::string(Usage()), {}};
    }
    if (command == "--version") {
        return {EOutcome::Version, "orvanectl " + std::string(version) + "\n", {}};
    }
    const std::string verb = argv.size() > 1 ? argv[1] : std::string();
    const CCommandForm* form = FindForm(command, verb);
    // Help anywhere before "--" is help, whatever else the line holds: nothing is done or asked.
    const auto end = std::find(argv.begin(), argv.end(), "--");
    const bool bHelp = std::any_of(argv.begin(), end, IsHelp);
    if (bHelp && form != nullptr) {
        return {EOutcome::Help, FormUsage(*form), {}};
    }
    if (form == nullptr) {
        const std::string usage = CommandUsage(command);
        if (usage.empty()) {
            return Bad("unknown command " + command);
        }
        return bHelp ? CResult{EOutcome::Help, usage, {}} : Bad(usage);
    }
    return CheckRest(*form, argv, form->Verb().empty() ? 1 : 2);
}

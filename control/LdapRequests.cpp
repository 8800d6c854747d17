// The directory's control requests; see LdapRequests.h.
#include "control/LdapRequests.h"

#include "control/TextTable.h"
#include "core/CDirectoryRules.h"
#include "core/audit/CAuditRecord.h"
#include "platform/text/TextConv.h"

#include <cstring>
#include <ctime>
#include <thread>

namespace {

constexpr int kFailed = 1;
constexpr int kBadUsage = 2;
constexpr std::string_view kPasswordOption = "--password";

std::string Json(std::string_view text) {
    std::string out;
    CAuditRecord::AppendJsonString(out, text);
    return out;
}

// The name and the password of "ldap test NAME --password TEXT"; false when either is missing.
bool ReadTestArgs(const std::vector<std::string>& args, std::string& name, std::string& password) {
    bool bPassword = false;
    for (std::size_t i = 2; i < args.size(); ++i) {
        if (args[i] == kPasswordOption && i + 1 < args.size()) {
            password = args[++i];
            bPassword = true;
        } else if (args[i] != "--" && name.empty()) {
            name = args[i];
        } else if (args[i] != "--") {
            return false;
        }
    }
    return bPassword && !name.empty();
}

// The steps as aligned lines; what a step found goes on a line each under it.
std::string StepLines(const std::vector<SLdapStep>& steps) {
    std::vector<CTextRow> rows;
    for (const SLdapStep& step : steps) {
        rows.push_back({step.name + ":", step.ok ? "ok" : "failed", step.detail});
        for (const std::string& line : step.found) {
            rows.push_back({"", "", line});
        }
    }
    return TextTable(rows);
}

// The last step, on the window thread where the tables are read: which OrvaneSrv groups the
// directory groups give, and whether the service would take the user at all.
SLdapStep MappedStep(COrvaneSrvCore& core, const std::string& name,
                     const std::vector<std::string>& groups, std::string& note) {
    std::vector<std::u16string> mapped;
    bool bLocal = false;
    core.Read([&](const CTablesView& tables) {
        mapped = CDirectoryRules::MappedGroups(tables.groups, groups);
        bLocal = tables.users.contains(Utf8ToUtf16(name));
    });
    if (bLocal) {
        note = name + " is a local user: the credential service checks that name locally and "
                      "never asks the directory\n";
    }
    if (mapped.empty()) {
        return {"mapped", false,
                "no OrvaneSrv group names any of these directory groups: the "
                "credential service refuses this user"};
    }
    std::string text;
    for (const std::u16string& group : mapped) {
        text += (text.empty() ? "" : ", ") + Utf16ToUtf8(group);
    }
    return {"mapped", true, text};
}

// The directory groups that the groups step found.
std::vector<std::string> GroupsOf(const std::vector<SLdapStep>& steps) {
    if (steps.empty() || steps.back().name != "groups" || !steps.back().ok) {
        return {};
    }
    return steps.back().found;
}

std::string SinceText(const std::optional<std::chrono::system_clock::time_point>& since) {
    if (!since) {
        return {};
    }
    const std::time_t t = std::chrono::system_clock::to_time_t(*since);
    std::tm utc{};
    ::gmtime_r(&t, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &utc);
    return text;
}

} // namespace

bool IsLdapRequest(const std::vector<std::string>& args) {
    return !args.empty() && args[0] == "ldap";
}

void RunLdapRequest(COrvaneSrvCore& core, const std::shared_ptr<IWindowThread>& window,
                    const std::vector<std::string>& args, const CControlDone& done,
                    const std::filesystem::path& settingsFile) {
    std::string name;
    std::string password;
    if (args.size() < 2 || args[1] != "test" || !ReadTestArgs(args, name, password)) {
        done({kBadUsage, {}, "orvanectl: usage: orvanectl ldap test NAME [--password-stdin]\n"});
        return;
    }
    std::shared_ptr<CLdapUsers> users = core.LdapUsers();
    if (!users) {
        done({kFailed,
              {},
              "no LDAP directory is configured: an [ldap] section in " + settingsFile.string() +
                  " names one (see OrvaneSrv(1)), read at start\n"});
        return;
    }
    // The directory may take its timeout at each step: the window thread does not wait for it.
    std::thread([users = std::move(users), window, name, password = std::move(password), done,
                 &core]() mutable {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(password.data());
        std::vector<SLdapStep> steps = users->Trace(name, {bytes, password.size()});
        ::explicit_bzero(password.data(), password.size());
        window->Post([&core, steps = std::move(steps), name, done]() mutable {
            std::string note;
            const bool bSignedIn = !steps.empty() && steps.back().ok;
            if (bSignedIn) {
                steps.push_back(MappedStep(core, name, GroupsOf(steps), note));
            }
            const bool bOk = !steps.empty() && steps.back().ok;
            done({bOk ? 0 : kFailed, StepLines(steps), note});
        });
    }).detach();
}

CSealStatusField LdapStatusField(const CLdapUsers* users) {
    if (users == nullptr) {
        return {"ldap", "none configured", "ldap", "null"};
    }
    const SLdapStatus s = users->Status();
    std::string uris;
    std::string urisJson;
    for (const std::string& uri : s.uris) {
        uris += (uris.empty() ? "" : " ") + uri;
        urisJson += (urisJson.empty() ? "" : ", ") + Json(uri);
    }
    const std::string since = SinceText(s.since);
    std::string text = uris + (s.bAnswering ? ": answering" : ": not answering");
    if (!since.empty()) {
        text += " since " + since;
    }
    if (!s.bAnswering) {
        text += " (" + s.reason + ")";
    }
    text += "; " + std::to_string(s.nSignIns) + " sign-ins, " + std::to_string(s.nCacheHits) +
            " from the cache, " + std::to_string(s.nRefused) + " refused, " +
            std::to_string(s.nUnavailable) + " while it did not answer";
    const std::string json =
        "{\"uris\": [" + urisJson + "], \"answering\": " + (s.bAnswering ? "true" : "false") +
        ", \"since\": " + (since.empty() ? "null" : Json(since)) +
        ", \"reason\": " + Json(s.reason) + ", \"signIns\": " + std::to_string(s.nSignIns) +
        ", \"cacheHits\": " + std::to_string(s.nCacheHits) +
        ", \"refused\": " + std::to_string(s.nRefused) +
        ", \"unavailable\": " + std::to_string(s.nUnavailable) +
        ", \"cached\": " + std::to_string(s.nCached) +
        ", \"connections\": " + std::to_string(s.nOpenConnections) + "}";
    return {"ldap", text, "ldap", json};
}

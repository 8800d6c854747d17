// The directory's control requests; see LdapRequests.h.
#include "control/LdapRequests.h"

#include "control/TextTable.h"
#include "core/CDirectoryRules.h"
#include "platform/text/TextConv.h"

#include <cstring>
#include <thread>

namespace {

constexpr std::string_view kPasswordOption = "--password";

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
    return {"mapped", true,
            Joined(mapped, ", ", [](const std::u16string& group) { return Utf16ToUtf8(group); })};
}

// The directory groups that the groups step found.
std::vector<std::string> GroupsOf(const std::vector<SLdapStep>& steps) {
    if (steps.empty() || steps.back().name != "groups" || !steps.back().ok) {
        return {};
    }
    return steps.back().found;
}

} // namespace

void RunLdapRequest(COrvaneSrvCore& core, const std::shared_ptr<IWindowThread>& window,
                    const std::vector<std::string>& args, const CControlDone& done,
                    const std::filesystem::path& settingsFile) {
    std::string name;
    std::string password;
    if (args.size() < 2 || args[1] != "test" || !ReadTestArgs(args, name, password)) {
        done({kBadUsageStatus,
              {},
              "orvanectl: usage: orvanectl ldap test NAME [--password-stdin]\n"});
        return;
    }
    std::shared_ptr<CLdapUsers> users = core.LdapUsers();
    if (!users) {
        done({kFailedStatus,
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
            // Every step passed: the user signed in.
            if (!steps.empty() && steps.back().ok) {
                steps.push_back(MappedStep(core, name, GroupsOf(steps), note));
            }
            const bool bOk = !steps.empty() && steps.back().ok;
            done({bOk ? 0 : kFailedStatus, StepLines(steps), note});
        });
    }).detach();
}

CSealStatusField LdapStatusField(const CLdapUsers* users) {
    if (users == nullptr) {
        return {"ldap", "none configured", "ldap", "null"};
    }
    const SLdapStatus s = users->Status();
    const std::string uris = Joined(s.uris, " ");
    const std::string urisJson = Joined(s.uris, ", ", StatusJson);
    const std::string since = s.since ? StatusTime(*s.since) : std::string();
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
        ", \"since\": " + (since.empty() ? "null" : StatusJson(since)) +
        ", \"reason\": " + StatusJson(s.reason) + ", \"signIns\": " + std::to_string(s.nSignIns) +
        ", \"cacheHits\": " + std::to_string(s.nCacheHits) +
        ", \"refused\": " + std::to_string(s.nRefused) +
        ", \"unavailable\": " + std::to_string(s.nUnavailable) +
        ", \"cached\": " + std::to_string(s.nCached) +
        ", \"connections\": " + std::to_string(s.nOpenConnections) + "}";
    return {"ldap", text, "ldap", json};
}

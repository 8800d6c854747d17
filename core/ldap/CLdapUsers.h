// The users of the site's LDAP directory, as the credential service signs them in: the
// directory client under the settings file's [ldap] section, with the short-lived cache of
// sign-ins in front of it and the directory's state (answering or not, and since when) beside
// it. A directory that is down, slow or answers garbage costs its own users the timeout and
// nobody else anything; the change of state is told once, as the outcome of the sign-in that
// saw it, so that the caller logs one line per outage rather than one per request. During an
// outage one sign-in at a time asks the directory; the others are refused without waiting.
#pragma once

#include "core/ldap/CLdapSignInCache.h"
#include "core/settings/CLdapSettings.h"
#include "platform/ldap/CLdapDirectory.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

enum class ELdapSignIn {
    Ok,
    Refused,     // no such user, a wrong or empty password
    Unavailable, // the directory did not answer usefully: down, slow, TLS or protocol fault
};

struct SLdapUser {
    ELdapSignIn result = ELdapSignIn::Refused;
    std::string dn;
    std::vector<std::string> groups; // DNs
    bool bCached = false;            // found in the cache, the directory not asked
    std::string reason;              // why not, in words, for the log
    // A line for the log when this sign-in saw the directory go down or come back.
    std::string news;
};

struct SLdapStatus {
    bool bAnswering = true; // until a sign-in found it otherwise
    std::string reason;     // why not, while it does not answer
    std::optional<std::chrono::system_clock::time_point> since; // of the current state
    std::uint64_t nSignIns = 0; // accepted by the directory (not counting the cache)
    std::uint64_t nCacheHits = 0;
    std::uint64_t nRefused = 0;
    std::uint64_t nUnavailable = 0;
    std::size_t nCached = 0;
    std::size_t nOpenConnections = 0;
    std::vector<std::string> uris;
};

class CLdapUsers {
public:
    using Clock = CLdapSignInCache::Clock;

    explicit CLdapUsers(const CLdapSettings& settings);

    // Any thread; blocks for the directory's answer, at most about the timeout.
    SLdapUser SignIn(std::string_view name, std::span<const std::uint8_t> password);
    // The sign-in that the cache holds for this name and password, if any, without asking the
    // directory (as SignIn would answer it). It takes the password for microseconds only, so
    // the caller may keep it in plain memory that it wipes at once.
    std::optional<SLdapUser> Cached(std::string_view name, std::span<const std::uint8_t> password);
    // The same steps on a connection of their own, for an operator checking the settings.
    std::vector<SLdapStep> Trace(std::string_view name, std::span<const std::uint8_t> password);
    SLdapStatus Status() const;

private:
    static bool IsOutage(ELdapOutcome outcome);
    std::string NoteState(const SLdapResult& result);
    bool IsDown() const;

    const std::vector<std::string> m_uris;
    CLdapDirectory m_directory;
    CLdapSignInCache m_cache;
    mutable std::mutex m_mutex; // over the state below
    bool m_bAnswering = true;
    std::string m_reason;
    std::optional<std::chrono::system_clock::time_point> m_since;
    std::atomic<bool> m_bProbing{false}; // a sign-in asks a directory that did not answer
    std::atomic<std::uint64_t> m_nSignIns{0}, m_nCacheHits{0}, m_nRefused{0}, m_nUnavailable{0};
};

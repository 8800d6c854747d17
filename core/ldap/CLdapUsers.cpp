// Directory users' sign-in; see CLdapUsers.h.
#include "core/ldap/CLdapUsers.h"

CLdapUsers::CLdapUsers(const CLdapSettings& settings)
    : m_uris(settings.uris), m_directory(settings.ConnectionOptions(), settings.DirectoryOptions()),
      m_cache(settings.cacheTime) {}

bool CLdapUsers::IsOutage(ELdapOutcome outcome) {
    switch (outcome) {
    case ELdapOutcome::Ok:
    case ELdapOutcome::InvalidCredentials:
    case ELdapOutcome::NoSuchUser:
        return false;
    case ELdapOutcome::Unavailable:
    case ELdapOutcome::Timeout:
    case ELdapOutcome::ProtocolError:
    case ELdapOutcome::TlsError:
    case ELdapOutcome::Busy:
        break;
    }
    return true;
}

std::optional<SLdapUser> CLdapUsers::Cached(std::string_view name,
                                            std::span<const std::uint8_t> password) {
    // Nothing empty is ever filed: SignIn refuses it.
    if (password.empty() || name.empty()) {
        return std::nullopt;
    }
    auto held = m_cache.Find(name, password, Clock::now());
    if (!held) {
        return std::nullopt;
    }
    ++m_nCacheHits;
    return SLdapUser{ELdapSignIn::Ok, std::move(held->dn), std::move(held->groups), true, {}, {}};
}

SLdapUser CLdapUsers::SignIn(std::string_view name, std::span<const std::uint8_t> password) {
    SLdapUser user;
    if (password.empty() || name.empty()) {
        user.reason = password.empty() ? "an empty password is refused" : "no user name";
        ++m_nRefused;
        return user;
    }
    if (auto cached = Cached(name, password)) {
        return std::move(*cached);
    }
    // While the directory does not answer, one sign-in at a time finds out whether it is back;
    // the others are refused at once instead of each waiting out the timeout, so that threads,
    // connections and the throttle's count of checks in flight do not pile up behind it.
    const bool bProbe = IsDown();
    if (bProbe && m_bProbing.exchange(true)) {
        ++m_nUnavailable;
        user.result = ELdapSignIn::Unavailable;
        user.reason = "the directory does not answer";
        return user;
    }
    // Before the directory is asked: the entry's time runs from no later than its answer.
    const Clock::time_point now = Clock::now();
    SLdapSignIn signIn = m_directory.SignIn(name, password);
    // A pool too busy for this sign-in is congestion here (a flood of sign-ins): the directory's
    // state stays as it was, so that a flood cannot switch its users to being refused at once.
    if (signIn.result.outcome != ELdapOutcome::Busy) {
        user.news = NoteState(signIn.result);
    }
    if (bProbe) {
        m_bProbing = false;
    }
    if (signIn.result.Ok()) {
        ++m_nSignIns;
        user.result = ELdapSignIn::Ok;
        user.dn = signIn.dn;
        user.groups = signIn.groups;
        m_cache.Store(name, password, {std::move(signIn.dn), std::move(signIn.groups)}, now);
        return user;
    }
    const bool bOutage = IsOutage(signIn.result.outcome);
    ++(bOutage ? m_nUnavailable : m_nRefused);
    user.result = bOutage ? ELdapSignIn::Unavailable : ELdapSignIn::Refused;
    user.reason = std::string(LdapOutcomeName(signIn.result.outcome)) +
                  (signIn.result.message.empty() ? "" : ": " + signIn.result.message);
    return user;
}

bool CLdapUsers::IsDown() const {
    const std::lock_guard lock(m_mutex);
    return !m_bAnswering;
}

std::string CLdapUsers::NoteState(const SLdapResult& result) {
    const bool bAnswering = !IsOutage(result.outcome);
    const auto now = std::chrono::system_clock::now();
    const std::lock_guard lock(m_mutex);
    if (bAnswering == m_bAnswering) {
        if (!bAnswering) {
            m_reason = result.message;
        }
        return {};
    }
    std::string news;
    if (bAnswering) {
        const auto down = m_since ? std::chrono::duration_cast<std::chrono::seconds>(now - *m_since)
                                  : std::chrono::seconds(0);
        news = "OrvaneSrv: the LDAP directory answers again, after " +
               std::to_string(down.count()) + " s without";
        m_reason.clear();
    } else {
        m_reason = std::string(LdapOutcomeName(result.outcome)) +
                   (result.message.empty() ? "" : ": " + result.message);
        news = "OrvaneSrv: the LDAP directory does not answer (" + m_reason +
               "); its users are refused until it does, local users are not affected";
    }
    m_bAnswering = bAnswering;
    m_since = now;
    return news;
}

std::vector<SLdapStep> CLdapUsers::Trace(std::string_view name,
                                         std::span<const std::uint8_t> password) {
    return m_directory.Trace(name, password);
}

SLdapStatus CLdapUsers::Status() const {
    SLdapStatus status;
    {
        const std::lock_guard lock(m_mutex);
        status.bAnswering = m_bAnswering;
        status.reason = m_reason;
        status.since = m_since;
    }
    status.nSignIns = m_nSignIns.load();
    status.nCacheHits = m_nCacheHits.load();
    status.nRefused = m_nRefused.load();
    status.nUnavailable = m_nUnavailable.load();
    status.nCached = m_cache.Size();
    status.nOpenConnections = m_directory.OpenConnections();
    status.uris = m_uris;
    return status;
}

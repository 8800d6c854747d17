// One LDAP connection over libldap; see CLdapConnection.h.
#include "platform/ldap/CLdapConnection.h"

#include <condition_variable>
#include <fcntl.h>
#include <ldap.h>
#include <memory>
#include <mutex>
#include <stop_token>
#include <sys/socket.h>
#include <sys/time.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr std::string_view kClearScheme = "ldap://";
constexpr int kNoSizeLimit = 0;

LDAP* Handle(void* p) {
    return static_cast<LDAP*>(p);
}

timeval ToTimeval(std::chrono::milliseconds ms) {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(ms);
    return {static_cast<time_t>(seconds.count()),
            static_cast<suseconds_t>((ms - seconds).count() * 1000)};
}

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// The library folds TLS failures into its connection errors; its diagnostic text tells them apart.
bool LooksLikeTls(std::string_view message) {
    for (const std::string_view word : {"TLS", "SSL", "certificate", "handshake"}) {
        if (message.find(word) != std::string_view::npos) {
            return true;
        }
    }
    return false;
}

ELdapOutcome Classify(int code, std::string_view message, bool tlsAsked, bool reached) {
    switch (code) {
    case LDAP_SUCCESS:
        return ELdapOutcome::Ok;
    case LDAP_INVALID_CREDENTIALS:
        return ELdapOutcome::InvalidCredentials;
    case LDAP_TIMEOUT:
    case LDAP_TIMELIMIT_EXCEEDED:
        return ELdapOutcome::Timeout;
    case LDAP_CONNECT_ERROR:
        // After StartTLS's request went through, a connect error is the handshake's.
        return tlsAsked ? ELdapOutcome::TlsError : ELdapOutcome::Unavailable;
    case LDAP_SERVER_DOWN:
        // ldaps:// reports a refused handshake as a server that is down, after its port answered.
        return tlsAsked && (reached || LooksLikeTls(message)) ? ELdapOutcome::TlsError
                                                              : ELdapOutcome::Unavailable;
    case LDAP_UNAVAILABLE:
    case LDAP_BUSY:
        return ELdapOutcome::Unavailable;
    default:
        return ELdapOutcome::ProtocolError;
    }
}

struct SMessageFree {
    void operator()(LDAPMessage* m) const { ldap_msgfree(m); }
};
struct SMemFree {
    void operator()(char* p) const { ldap_memfree(p); }
};
struct SValuesFree {
    void operator()(berval** v) const { ldap_value_free_len(v); }
};

// libldap sets up its process-wide defaults on first use without a lock of its own: two threads
// opening their first connections at once would race on them. Reading a global option once,
// before any connection, sets them up.
void InitialiseLibraryOnce() {
    static std::once_flag once;
    std::call_once(once, [] {
        int version = 0;
        ldap_get_option(nullptr, LDAP_OPT_PROTOCOL_VERSION, &version);
    });
}

} // namespace

// Watches the opening of a connection: whether the server's port answered, and a duplicate of the
// socket so that the deadline can end a TLS handshake that libldap would wait on without end.
struct CLdapConnection::SConnectWatch {
    ldap_conncb callbacks{};
    std::mutex mutex;
    bool reached = false;
    bool armed = false;
    bool expired = false;
    // A duplicate keeps the socket itself alive, so shutting it down can never hit another one
    // that took a closed descriptor's number.
    int duplicate = -1;

    SConnectWatch() {
        callbacks.lc_add = [](LDAP*, Sockbuf* sb, LDAPURLDesc*, sockaddr*, ldap_conncb* self) {
            static_cast<SConnectWatch*>(self->lc_arg)->Reached(sb);
            return 0;
        };
        callbacks.lc_del = [](LDAP*, Sockbuf*, ldap_conncb*) {};
        callbacks.lc_arg = this;
    }
    ~SConnectWatch() { Disarm(); }
    SConnectWatch(const SConnectWatch&) = delete;
    SConnectWatch& operator=(const SConnectWatch&) = delete;

    void Reached(Sockbuf* sb) {
        const std::lock_guard lock(mutex);
        reached = true;
        ber_socket_t fd = -1;
        if (armed && duplicate < 0 && ber_sockbuf_ctrl(sb, LBER_SB_OPT_GET_FD, &fd) == 1) {
            duplicate = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
        }
    }
    void Arm() {
        const std::lock_guard lock(mutex);
        reached = false;
        expired = false;
        armed = true;
    }
    void Disarm() {
        const std::lock_guard lock(mutex);
        armed = false;
        if (duplicate >= 0) {
            ::close(duplicate);
            duplicate = -1;
        }
    }
    void Expire() {
        const std::lock_guard lock(mutex);
        expired = true;
        if (duplicate >= 0) {
            ::shutdown(duplicate, SHUT_RDWR);
        }
    }
    bool WasReached() {
        const std::lock_guard lock(mutex);
        return reached;
    }
    bool Expired() {
        const std::lock_guard lock(mutex);
        return expired;
    }
};

const char* LdapOutcomeName(ELdapOutcome outcome) {
    switch (outcome) {
    case ELdapOutcome::Ok:
        return "ok";
    case ELdapOutcome::InvalidCredentials:
        return "invalid credentials";
    case ELdapOutcome::NoSuchUser:
        return "no such user";
    case ELdapOutcome::Unavailable:
        return "unavailable";
    case ELdapOutcome::Timeout:
        return "timeout";
    case ELdapOutcome::ProtocolError:
        return "protocol error";
    case ELdapOutcome::TlsError:
        return "TLS error";
    case ELdapOutcome::Busy:
        return "busy";
    }
    return "unknown";
}

const std::vector<std::string>* SLdapEntry::Values(std::string_view attribute) const {
    for (const auto& [name, values] : attributes) {
        if (name == attribute) {
            return &values;
        }
    }
    return nullptr;
}

CLdapConnection::CLdapConnection(SLdapOptions options)
    : m_options(std::move(options)), m_pWatch(std::make_unique<SConnectWatch>()) {}

CLdapConnection::~CLdapConnection() {
    Close();
}

void CLdapConnection::Close() {
    if (m_pLdap != nullptr) {
        ldap_unbind_ext_s(Handle(m_pLdap), nullptr, nullptr);
        m_pLdap = nullptr;
    }
    m_uri.clear();
}

SLdapResult CLdapConnection::Fail(int code, std::string_view what) {
    std::string message = std::string(what) + ": " + ldap_err2string(code);
    const bool tlsAsked = !StartsWith(m_uri, kClearScheme) || m_options.startTls;
    std::string diagnostic;
    if (m_pLdap != nullptr) {
        char* text = nullptr;
        ldap_get_option(Handle(m_pLdap), LDAP_OPT_DIAGNOSTIC_MESSAGE, &text);
        const std::unique_ptr<char, SMemFree> owned(text);
        if (text != nullptr && *text != '\0') {
            diagnostic = text;
            message += " (" + diagnostic + ")";
        }
    }
    // Only while opening: a later "server down" is the connection lost, whatever TLS did before.
    const bool reachedWhileOpening = m_bOpening && m_pWatch->WasReached();
    return {Classify(code, diagnostic, tlsAsked, reachedWhileOpening), message};
}

SLdapResult CLdapConnection::Open() {
    Close();
    SLdapResult worst{ELdapOutcome::Unavailable, "no LDAP server is configured"};
    for (const auto& uri : m_options.uris) {
        SLdapResult result = OpenUri(uri);
        if (result.Ok()) {
            return result;
        }
        Close();
        // A server that answered with a TLS or protocol fault says more than one that was down.
        if (worst.outcome == ELdapOutcome::Unavailable ||
            result.outcome != ELdapOutcome::Unavailable) {
            worst = std::move(result);
        }
    }
    return worst;
}

SLdapResult CLdapConnection::OpenUri(const std::string& uri) {
    m_bOpening = true;
    m_pWatch->Arm();
    SLdapResult result;
    {
        // libldap bounds the TCP connect and each request, but not an ldaps:// handshake with a
        // server that accepts and then says nothing: the deadline ends the socket under it.
        const std::jthread deadline([this](const std::stop_token& stop) {
            std::mutex mutex;
            std::unique_lock lock(mutex);
            std::condition_variable_any wake;
            if (!wake.wait_for(lock, stop, m_options.timeout,
                               [&] { return stop.stop_requested(); })) {
                m_pWatch->Expire();
            }
        });
        result = Connect(uri);
    }
    m_pWatch->Disarm();
    m_bOpening = false;
    if (!result.Ok() && m_pWatch->Expired()) {
        result = {ELdapOutcome::Timeout,
                  uri + ": no answer within the timeout (" + result.message + ")"};
    }
    return result;
}

SLdapResult CLdapConnection::Connect(const std::string& uri) {
    InitialiseLibraryOnce();
    LDAP* ld = nullptr;
    m_uri = uri;
    if (const int rc = ldap_initialize(&ld, uri.c_str()); rc != LDAP_SUCCESS) {
        return {ELdapOutcome::ProtocolError, uri + ": " + ldap_err2string(rc)};
    }
    m_pLdap = ld;
    const int version = LDAP_VERSION3;
    const int demand = LDAP_OPT_X_TLS_DEMAND;
    const int tlsMin = LDAP_OPT_X_TLS_PROTOCOL_TLS1_2;
    const int newContextIsServer = 0;
    const timeval timeout = ToTimeval(m_options.timeout);
    ldap_set_option(ld, LDAP_OPT_PROTOCOL_VERSION, &version);
    ldap_set_option(ld, LDAP_OPT_CONNECT_CB, &m_pWatch->callbacks);
    ldap_set_option(ld, LDAP_OPT_REFERRALS, LDAP_OPT_OFF);
    ldap_set_option(ld, LDAP_OPT_NETWORK_TIMEOUT, &timeout);
    ldap_set_option(ld, LDAP_OPT_TIMEOUT, &timeout);
    ldap_set_option(ld, LDAP_OPT_X_TLS_REQUIRE_CERT, &demand);
    ldap_set_option(ld, LDAP_OPT_X_TLS_PROTOCOL_MIN, &tlsMin);
    if (!m_options.caFile.empty()) {
        ldap_set_option(ld, LDAP_OPT_X_TLS_CACERTFILE, m_options.caFile.c_str());
    }
    // The options above apply to a TLS context made after them.
    if (const int rc = ldap_set_option(ld, LDAP_OPT_X_TLS_NEWCTX, &newContextIsServer);
        rc != LDAP_SUCCESS) {
        return Fail(rc, uri + ": TLS set-up");
    }
    if (StartsWith(uri, kClearScheme) && m_options.startTls) {
        if (const int rc = ldap_start_tls_s(ld, nullptr, nullptr); rc != LDAP_SUCCESS) {
            return Fail(rc, uri + ": StartTLS");
        }
        return {};
    }
    if (const int rc = ldap_connect(ld); rc != LDAP_SUCCESS) {
        return Fail(rc, uri + ": connect");
    }
    return {};
}

SLdapResult CLdapConnection::Bind(std::string_view dn, std::span<const std::uint8_t> password) {
    if (password.empty()) {
        return {ELdapOutcome::InvalidCredentials, "an empty password is refused"};
    }
    return SimpleBind(dn, password);
}

SLdapResult CLdapConnection::BindAnonymously() {
    return SimpleBind({}, {});
}

SLdapResult CLdapConnection::SimpleBind(std::string_view dn,
                                        std::span<const std::uint8_t> password) {
    if (m_pLdap == nullptr) {
        return {ELdapOutcome::Unavailable, "the connection is not open"};
    }
    const std::string dnText(dn);
    berval credentials{};
    credentials.bv_len = password.size();
    // libldap only reads the credentials.
    credentials.bv_val =
        const_cast<char*>(reinterpret_cast<const char*>(password.data())); // NOLINT
    const int rc = ldap_sasl_bind_s(Handle(m_pLdap), dnText.c_str(), LDAP_SASL_SIMPLE, &credentials,
                                    nullptr, nullptr, nullptr);
    return rc == LDAP_SUCCESS ? SLdapResult{} : Fail(rc, "bind");
}

SLdapResult CLdapConnection::Search(std::string_view base, std::string_view filter,
                                    const std::vector<std::string>& attributes, int sizeLimit,
                                    std::vector<SLdapEntry>& entries) {
    entries.clear();
    if (m_pLdap == nullptr) {
        return {ELdapOutcome::Unavailable, "the connection is not open"};
    }
    const std::string baseText(base);
    const std::string filterText(filter);
    std::vector<char*> names;
    for (const auto& a : attributes) {
        names.push_back(const_cast<char*>(a.c_str())); // NOLINT: libldap only reads them
    }
    names.push_back(nullptr);
    timeval timeout = ToTimeval(m_options.timeout);
    LDAPMessage* raw = nullptr;
    const int rc = ldap_search_ext_s(Handle(m_pLdap), baseText.c_str(), LDAP_SCOPE_SUBTREE,
                                     filterText.c_str(), names.data(), 0, nullptr, nullptr,
                                     &timeout, sizeLimit > 0 ? sizeLimit : kNoSizeLimit, &raw);
    const std::unique_ptr<LDAPMessage, SMessageFree> result(raw);
    if (rc != LDAP_SUCCESS) {
        return Fail(rc, "search");
    }
    for (LDAPMessage* e = ldap_first_entry(Handle(m_pLdap), raw); e != nullptr;
         e = ldap_next_entry(Handle(m_pLdap), e)) {
        SLdapEntry entry;
        const std::unique_ptr<char, SMemFree> dn(ldap_get_dn(Handle(m_pLdap), e));
        entry.dn = dn ? dn.get() : "";
        for (const auto& a : attributes) {
            std::vector<std::string> values;
            const std::unique_ptr<berval*, SValuesFree> found(
                ldap_get_values_len(Handle(m_pLdap), e, a.c_str()));
            for (berval** v = found.get(); v != nullptr && *v != nullptr; ++v) {
                values.emplace_back((*v)->bv_val, (*v)->bv_len);
            }
            entry.attributes.emplace_back(a, std::move(values));
        }
        entries.push_back(std::move(entry));
    }
    return {};
}

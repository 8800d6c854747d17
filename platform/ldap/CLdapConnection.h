// One connection to a site's LDAP directory: the first server of the list that answers, always
// LDAP v3, TLS with the certificate checked (ldaps:// or StartTLS), every call bounded by the
// timeout. Owns its libldap handle; a connection whose call failed for any reason but the
// directory's own answer should be dropped, not reused.
#pragma once

#include "platform/ldap/LdapResult.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

struct SLdapOptions {
    // ldap:// or ldaps:// URIs, tried in order.
    std::vector<std::string> uris;
    // StartTLS on ldap:// URIs; without it an ldap:// connection is clear text (labs only).
    bool startTls = true;
    // The CA certificates that a server's certificate must chain to; empty: the system's.
    std::string caFile;
    std::chrono::milliseconds timeout{std::chrono::seconds(5)};
};

struct SLdapEntry {
    std::string dn;
    // Values of the attributes asked for, in the server's order; an absent attribute is empty.
    std::vector<std::pair<std::string, std::vector<std::string>>> attributes;

    const std::vector<std::string>* Values(std::string_view attribute) const;
};

class CLdapConnection {
public:
    explicit CLdapConnection(SLdapOptions options);
    ~CLdapConnection();
    CLdapConnection(const CLdapConnection&) = delete;
    CLdapConnection& operator=(const CLdapConnection&) = delete;

    // Connects to the first URI that answers (and completes TLS); a connection already open is
    // closed first.
    SLdapResult Open();
    bool IsOpen() const { return m_pLdap != nullptr; }
    void Close();

    // A simple bind. An empty password is refused here, before the server could take it as an
    // unauthenticated bind and answer success.
    SLdapResult Bind(std::string_view dn, std::span<const std::uint8_t> password);
    // Drops any identity bound before, as for an anonymous search.
    SLdapResult BindAnonymously();

    // A subtree search below base; at most sizeLimit entries are taken (more is an error).
    SLdapResult Search(std::string_view base, std::string_view filter,
                       const std::vector<std::string>& attributes, int sizeLimit,
                       std::vector<SLdapEntry>& entries);

    // The URI the connection was opened to.
    const std::string& Uri() const { return m_uri; }

private:
    SLdapResult OpenUri(const std::string& uri);
    SLdapResult Connect(const std::string& uri);
    SLdapResult SimpleBind(std::string_view dn, std::span<const std::uint8_t> password);
    SLdapResult Fail(int code, std::string_view what);

    // Tells whether the server's TCP port answered, so that a failed TLS handshake on ldaps://
    // is told from a server that is down.
    struct SConnectWatch;

    SLdapOptions m_options;
    // Held as an opaque pointer so that no caller sees libldap's header.
    void* m_pLdap = nullptr;
    std::string m_uri;
    std::unique_ptr<SConnectWatch> m_pWatch;
    bool m_bOpening = false;
};

#include "service/ServerListDocument.h"

#include "platform/text/TextConv.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>
#include <vector>

namespace {

template <std::size_t N>
std::string_view FieldText(const char (&field)[N]) {
    return {field, ::strnlen(field, N)};
}

void AppendAttribute(std::string& out, std::string_view name, std::string_view value) {
    out += name;
    out += "=\"";
    AppendXmlEscaped(out, value);
    out += '"';
}

void AppendServerElement(std::string& out, const CServerData& s) {
    out += "<StorageServer ";
    AppendAttribute(out, "Product", FieldText(s.m_szProduct));
    out += ' ';
    AppendAttribute(out, "Type", FieldText(s.m_szType));
    out += ' ';
    AppendAttribute(out, "SystemName", FieldText(s.m_szSystemName));
    out += ' ';
    AppendAttribute(out, "MAC", FieldText(s.m_szMAC));
    out += ' ';
    AppendAttribute(out, "IPAddr", FieldText(s.m_szIPAddr));
    out += ' ';
    AppendAttribute(out, "LoginUserName", Utf16ToUtf8(s.m_strLoginUserName));
    out += ' ';
    AppendAttribute(out, "LoginPasswd", Utf16ToUtf8(s.m_strLoginPasswd));
    out += "/>";
}

} // namespace

void AppendXmlEscaped(std::string& out, std::string_view text) {
    for (const char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&apos;";
            break;
        default:
            out += c;
        }
    }
}

void BuildServerListDocument(const COrvaneSrvCore& core, std::string_view userName,
                             std::string& doc) {
    bool bAdmin = false;
    // The MAC texts that any of the user's groups may reach.
    std::unordered_set<std::u16string> reachable;
    const auto user = core.m_mapUsers.find(Utf8ToUtf16(userName));
    if (user != core.m_mapUsers.end() && user->second) {
        for (const std::u16string& groupName : user->second->m_listGroups) {
            bAdmin = bAdmin || groupName == u"Administrator";
            const auto group = core.m_mapGroups.find(groupName);
            if (group != core.m_mapGroups.end() && group->second) {
                reachable.insert(group->second->m_listAccess.begin(),
                                 group->second->m_listAccess.end());
            }
        }
    }
    doc += bAdmin ? "<StorageServers AdminGroup=\"Yes\">" : "<StorageServers AdminGroup=\"No\">";
    if (!reachable.empty()) {
        // Each record is visited once, so a server reached through several groups is listed
        // once.
        core.m_mapServers.ForEach([&](const std::u16string&, const CServerData& s) {
            if (s.m_bAuthorized != 0 && s.m_bOnline != 0 &&
                reachable.contains(Utf8ToUtf16(FieldText(s.m_szMAC)))) {
                AppendServerElement(doc, s);
            }
        });
    }
    doc += "</StorageServers>";
}

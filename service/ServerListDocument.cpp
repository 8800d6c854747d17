#include "service/ServerListDocument.h"

#include "platform/text/TextConv.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <unordered_set>
#include <vector>

namespace {

constexpr unsigned char kFirstPrintable = 0x20;
constexpr unsigned char kFirstNonAscii = 0x80;
// The lead byte of U+FFFE and U+FFFF, which are no XML characters either.
constexpr unsigned char kNonCharacterLead = 0xEF;
constexpr std::string_view kReplacement = "\xEF\xBF\xBD"; // U+FFFD

// Bytes that do not stand in an attribute value as they are: the markup characters, the C0
// controls and the lead byte that may start a non-character.
constexpr std::array<bool, 256> kNeedsEntity = [] {
    std::array<bool, 256> table{};
    for (const unsigned char c : {'&', '<', '>', '"', '\''}) {
        table[c] = true;
    }
    for (unsigned c = 0; c < kFirstPrintable; ++c) {
        table[c] = true;
    }
    table[kNonCharacterLead] = true;
    return table;
}();

bool IsNonCharacterAt(std::string_view text, std::size_t i) {
    return text.substr(i, 3) == "\xEF\xBF\xBE" || text.substr(i, 3) == "\xEF\xBF\xBF";
}

// The entity of a character that must not stand in an attribute value as it is, else null.
// Tab, CR and LF are character references: a value keeps them (a parser would turn them into
// spaces); any other C0 control is no XML character at all.
const char* EntityOf(char16_t c) {
    switch (c) {
    case '\t':
        return "&#9;";
    case '\r':
        return "&#13;";
    case '\n':
        return "&#10;";
    case '&':
        return "&amp;";
    case '<':
        return "&lt;";
    case '>':
        return "&gt;";
    case '"':
        return "&quot;";
    case '\'':
        return "&apos;";
    default:
        return nullptr;
    }
}

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

void AppendAttribute(std::string& out, std::string_view name, const std::u16string& value) {
    if (value.size() <= 256 &&
        std::all_of(value.begin(), value.end(), [](char16_t c) { return c < 0x80; })) {
        std::array<char, 256> ascii;
        std::copy(value.begin(), value.end(), ascii.begin());
        AppendAttribute(out, name, std::string_view(ascii.data(), value.size()));
    } else {
        AppendAttribute(out, name, Utf16ToUtf8(value));
    }
}

void AppendServerElement(std::string& out, const CServerData& s) {
    AppendAttribute(out, "<StorageServer Product", FieldText(s.m_szProduct));
    AppendAttribute(out, " Type", FieldText(s.m_szType));
    AppendAttribute(out, " SystemName", FieldText(s.m_szSystemName));
    AppendAttribute(out, " MAC", FieldText(s.m_szMAC));
    AppendAttribute(out, " IPAddr", FieldText(s.m_szIPAddr));
    AppendAttribute(out, " LoginUserName", s.m_strLoginUserName);
    AppendAttribute(out, " LoginPasswd", s.m_strLoginPasswd);
    out += "/>";
}

// The servers that the user's groups reach, each once, in the order the access lists name
// them. A record is filed under exactly the MAC text its m_szMAC field holds, so looking an
// access entry up by key finds the same records as comparing every record's field would. The
// set keeps a user who reaches thousands of servers from costing a search per server.
class CSelection {
public:
    void Add(const CServerTable& servers, const std::vector<std::u16string>& access) {
        for (const std::u16string& mac : access) {
            const CServerData* s = servers.Find(mac);
            if (s != nullptr && s->m_bAuthorized != 0 && s->m_bOnline != 0 &&
                m_seen.insert(s).second) {
                m_servers.push_back(s);
            }
        }
    }
    const std::vector<const CServerData*>& Servers() const { return m_servers; }

private:
    std::vector<const CServerData*> m_servers;
    std::unordered_set<const CServerData*> m_seen;
};

// AppendXmlEscaped for text that is well-formed UTF-8.
void AppendWellFormedEscaped(std::string& out, std::string_view text) {
    std::size_t run = 0; // start of the characters not yet appended
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (!kNeedsEntity[c] || (c == kNonCharacterLead && !IsNonCharacterAt(text, i))) {
            continue;
        }
        out.append(text.data() + run, i - run);
        if (const char* entity = EntityOf(c)) {
            out += entity;
        } else {
            out += kReplacement;
            i += c == kNonCharacterLead ? 2 : 0;
        }
        run = i + 1;
    }
    out.append(text.data() + run, text.size() - run);
}

} // namespace

void AppendXmlEscaped(std::string& out, std::string_view text) {
    if (std::none_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) >= kFirstNonAscii; })) {
        AppendWellFormedEscaped(out, text);
        return;
    }
    // Malformed UTF-8 becomes U+FFFD, once per malformed sequence, as the program's text
    // conversion makes it everywhere.
    AppendWellFormedEscaped(out, Utf16ToUtf8(Utf8ToUtf16(text)));
}

void BuildServerListDocument(const COrvaneSrvCore& core, std::string_view userName,
                             std::string& doc, CServedServers* pServed) {
    bool bAdmin = false;
    CSelection selection;
    const auto user = core.m_mapUsers.find(Utf8ToUtf16(userName));
    if (user != core.m_mapUsers.end() && user->second) {
        for (const std::u16string& groupName : user->second->m_listGroups) {
            bAdmin = bAdmin || groupName == u"Administrator";
            const auto group = core.m_mapGroups.find(groupName);
            if (group != core.m_mapGroups.end() && group->second) {
                selection.Add(core.m_mapServers, group->second->m_listAccess);
            }
        }
    }
    // Room for the elements, which usually fit in 256 bytes each.
    doc.reserve(doc.size() + 64 + 256 * selection.Servers().size());
    doc += bAdmin ? "<StorageServers AdminGroup=\"Yes\">" : "<StorageServers AdminGroup=\"No\">";
    for (const CServerData* s : selection.Servers()) {
        AppendServerElement(doc, *s);
    }
    doc += "</StorageServers>";
    if (pServed != nullptr) {
        pServed->bAdmin = bAdmin;
        for (const CServerData* s : selection.Servers()) {
            const char* separator = pServed->macs.empty() ? "" : ",";
            pServed->macs.append(separator).append(FieldText(s->m_szMAC));
            pServed->ips.append(separator).append(FieldText(s->m_szIPAddr));
        }
    }
}

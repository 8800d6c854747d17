#include "service/ServerListDocument.h"

#include "platform/text/TextConv.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <unordered_set>
#include <vector>

namespace {

constexpr std::array<bool, 256> kNeedsEntity = [] {
    std::array<bool, 256> table{};
    for (const unsigned char c : {'&', '<', '>', '"', '\''}) {
        table[c] = true;
    }
    return table;
}();

// The entity of a character that must not stand in an attribute value as it is, else null.
const char* EntityOf(char16_t c) {
    switch (c) {
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

bool IsAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// The MAC texts that the user's groups may reach. ASCII texts (all real MAC addresses) are
// matched against the record's 8-bit field without converting it; the rest the slow way.
class CReachable {
public:
    void Add(const std::vector<std::u16string>& access) {
        for (const std::u16string& mac : access) {
            if (std::all_of(mac.begin(), mac.end(), [](char16_t c) { return c < 0x80; })) {
                m_ascii.emplace_back(mac.begin(), mac.end());
            } else {
                m_other.push_back(&mac);
            }
        }
    }
    void Seal() {
        m_asciiSet.reserve(m_ascii.size());
        m_asciiSet.insert(m_ascii.begin(), m_ascii.end());
    }
    bool Empty() const { return m_ascii.empty() && m_other.empty(); }
    std::size_t Count() const { return m_asciiSet.size() + m_other.size(); }
    bool Contains(std::string_view mac) const {
        if (IsAscii(mac)) {
            return m_asciiSet.contains(mac);
        }
        const std::u16string wide = Utf8ToUtf16(mac);
        return std::any_of(m_other.begin(), m_other.end(),
                           [&](const std::u16string* entry) { return *entry == wide; });
    }

private:
    std::vector<std::string> m_ascii;
    std::unordered_set<std::string_view> m_asciiSet; // views of m_ascii
    std::vector<const std::u16string*> m_other;
};

} // namespace

void AppendXmlEscaped(std::string& out, std::string_view text) {
    std::size_t run = 0; // start of the characters not yet appended
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (kNeedsEntity[static_cast<unsigned char>(text[i])]) {
            out.append(text.data() + run, i - run);
            out += EntityOf(text[i]);
            run = i + 1;
        }
    }
    out.append(text.data() + run, text.size() - run);
}

void BuildServerListDocument(const COrvaneSrvCore& core, std::string_view userName,
                             std::string& doc) {
    bool bAdmin = false;
    CReachable reachable;
    const auto user = core.m_mapUsers.find(Utf8ToUtf16(userName));
    if (user != core.m_mapUsers.end() && user->second) {
        for (const std::u16string& groupName : user->second->m_listGroups) {
            bAdmin = bAdmin || groupName == u"Administrator";
            const auto group = core.m_mapGroups.find(groupName);
            if (group != core.m_mapGroups.end() && group->second) {
                reachable.Add(group->second->m_listAccess);
            }
        }
    }
    reachable.Seal();
    // Room for the elements of the reachable servers, which usually fit in 256 bytes each.
    doc.reserve(doc.size() + 64 + 256 * std::min(reachable.Count(), core.m_mapServers.Size()));
    doc += bAdmin ? "<StorageServers AdminGroup=\"Yes\">" : "<StorageServers AdminGroup=\"No\">";
    if (!reachable.Empty()) {
        // Each record is visited once, so a server reached through several groups is listed
        // once.
        core.m_mapServers.ForEach([&](const std::u16string&, const CServerData& s) {
            if (s.m_bAuthorized != 0 && s.m_bOnline != 0 &&
                reachable.Contains(FieldText(s.m_szMAC))) {
                AppendServerElement(doc, s);
            }
        });
    }
    doc += "</StorageServers>";
}

// The <StorageServer .../> element that stands for one record in the list a user fetches: the
// record's identity and administrator credentials as XML attributes. Attribute values come from
// SLP announcements anyone on the network can make and from typed passwords, so they are
// XML-escaped. Records keep their element rendered (CServerData::RenderElement) so that a list
// is assembled from them rather than rendered again for every request.
#pragma once

#include <string>
#include <string_view>

class CServerData;

// Appends text to out with & < > " ' replaced by their entities, tab, CR and LF by character
// references, and what is no XML character (another C0 control, malformed UTF-8, U+FFFE, U+FFFF)
// by U+FFFD.
void AppendXmlEscaped(std::string& out, std::string_view text);

// Appends the record's element to out, rendered from its fields as they are now.
void AppendServerElement(std::string& out, const CServerData& record);

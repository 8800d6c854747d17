// The StorageServers document that answers "/Query": every storage server that the user's
// groups may reach, present and logged in to, with its identity and administrator credentials,
// and whether the user belongs to the group "Administrator".
//
// The document is assembled from the elements the records keep rendered, into one buffer sized
// once; it is complete whatever its size.
#pragma once

#include "core/CTablesView.h"
#include "service/answers/CAccessResolution.h"
#include "storage/ServerElement.h"

#include <span>
#include <string>
#include <string_view>
#include <vector>

// What a document handed out, for the audit trail: whether the user is an Administrator, and
// the MAC and IP address of every server whose credentials it carried.
struct CServedServers {
    bool bAdmin = false;
    std::string macs; // comma-separated, in the document's order
    std::string ips;
};

// Appends the document for the user name (8-bit text as the credentials carried it) to doc,
// and says what it holds in pServed when given. The groups' access lists are resolved through
// pResolution when given (kept from one document to the next), otherwise looked up for this one.
// Called inside a read of the tables (COrvaneSrvCore::Read), with the view it was handed.
void BuildServerListDocument(const CTablesView& tables, std::string_view userName, std::string& doc,
                             CServedServers* pServed = nullptr,
                             CAccessResolution* pResolution = nullptr);
// The same for members of the named groups (a directory user's, which no user record lists).
void BuildServerListDocumentFor(const CTablesView& tables,
                                std::span<const std::u16string> groupNames, std::string& doc,
                                CServedServers* pServed = nullptr,
                                CAccessResolution* pResolution = nullptr);

// The System tab's server list as discovery and the login results change it: rows of six text
// columns in the order the operator sees them. A row is found by its MAC address column, or,
// for a login to an array without a record, by its IP address column. The console implements it on
// its list control; the headless front end on a plain list (CServerRowList). Used on the window
// thread only.
#pragma once

#include "storage/CServerData.h"

#include <chrono>
#include <cstddef>
#include <span>
#include <string>
#include <string_view>

enum class EServerColumn : std::size_t {
    IPAddr = 0,     // "IP address"
    SystemName = 1, // "System name"
    Product = 2,    // "Product"
    Version = 3,    // "Firmware ver."
    MAC = 4,        // "MAC address"
    Auth = 5,       // "Auth": "Yes", "No" or "Logging"
};
inline constexpr std::size_t kServerColumnCount = 6;

// What a list may show of a record beyond the six columns.
struct CServerRowDetails {
    std::u16string vendor;
    std::u16string model;
    std::u16string type;
    std::chrono::system_clock::time_point lastSeen{}; // CServerData::m_lastSeen
};

class IServerListView {
public:
    static constexpr std::size_t npos = static_cast<std::size_t>(-1);

    virtual ~IServerListView() = default;

    virtual std::size_t RowCount() const = 0;
    virtual std::u16string CellText(std::size_t row, EServerColumn col) const = 0;
    virtual void SetCellText(std::size_t row, EServerColumn col, std::u16string_view text) = 0;
    // Appends a row holding ip in the IP address column, the others empty; answers its index.
    virtual std::size_t AppendRow(std::u16string_view ip) = 0;
    // Deletes the rows given (ascending) in one pass; the rows after them move up.
    virtual void DeleteRows(std::span<const std::size_t> rows) = 0;
    // The first row whose column equals text exactly (case-sensitive), or npos. Must not walk
    // the rows for the MAC and IP address columns: lists hold up to 10,000 servers.
    virtual std::size_t FindRow(EServerColumn col, std::u16string_view text) const = 0;
    // Selects the row and gives it the focus (the first row of an empty list).
    virtual void SelectAndFocus(std::size_t row) = 0;
    // Whether other addresses announce the row's MAC (claims: them, comma-separated); a list
    // that cannot show it leaves it to the records.
    virtual void ShowAddressState(std::size_t /*row*/, EAddressState /*state*/,
                                  std::u16string_view /*claims*/) {}
    // The record's details at each sighting; a list that shows none ignores them.
    virtual void ShowDetails(std::size_t /*row*/, const CServerRowDetails& /*details*/) {}
};

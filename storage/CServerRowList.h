// The System tab's server list without a window: the six columns as plain rows, with the MAC and
// IP address columns indexed, and the selected row. The headless front end keeps its servers
// here, and the tests of discovery and login look at them.
#pragma once

#include "platform/text/CTextRows.h"
#include "storage/IServerListView.h"

class CServerRowList : public IServerListView {
public:
    CServerRowList();

    std::size_t RowCount() const override;
    std::u16string CellText(std::size_t row, EServerColumn col) const override;
    void SetCellText(std::size_t row, EServerColumn col, std::u16string_view text) override;
    std::size_t AppendRow(std::u16string_view ip) override;
    void DeleteRows(std::span<const std::size_t> rows) override;
    std::size_t FindRow(EServerColumn col, std::u16string_view text) const override;
    void SelectAndFocus(std::size_t row) override;

    // The selected (and focused) row, or npos; it moves with the rows and goes with its own.
    std::size_t SelectedRow() const { return m_nSelected; }

private:
    CTextRows m_rows;
    std::size_t m_nSelected = npos;
};

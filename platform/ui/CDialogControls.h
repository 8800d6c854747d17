// The controls of a window built from a dialog template: each one made at its place (dialog units
// turned into pixels with the template's font), in tab order, findable by identifier. Push buttons
// report their clicks by identifier. Kinds that the builder does not make itself (the tab control,
// the icon) come from the window's own factory.
#pragma once

#include "platform/ui/CDialogUnits.h"
#include "platform/ui/DialogTemplate.h"

#include <QWidget>
#include <functional>
#include <span>
#include <string>
#include <vector>

class QPushButton;

class CDialogControls {
public:
    using CFactory = std::function<QWidget*(const CControlTemplate&, QWidget& parent)>;
    struct CEntry {
        const CControlTemplate* pTemplate;
        QWidget* pWidget;
    };

    // Sets host's font and size (fixed) from the template and builds every control into it.
    // factory may answer nullptr for a kind the builder makes itself.
    void Build(const CDialogTemplate& dialog, QWidget& host, const CFactory& factory,
               const std::function<void(int)>& onCommand);

    const CDialogTemplate* Template() const { return m_pTemplate; }
    const CDialogUnits& Units() const { return m_units; }
    std::span<const CEntry> Entries() const { return m_entries; }
    QWidget* Item(int id) const;
    template <typename T>
    T* ItemAs(int id) const {
        return qobject_cast<T*>(Item(id));
    }
    QPushButton* DefaultButton() const;

    std::u16string GetText(int id) const;
    void SetText(int id, std::u16string_view text);
    void Enable(int id, bool bEnable);
    bool IsEnabled(int id) const;

private:
    QWidget* Make(const CControlTemplate& control, QWidget& host, const CFactory& factory);

    const CDialogTemplate* m_pTemplate = nullptr;
    CDialogUnits m_units{QFont()};
    std::vector<CEntry> m_entries;
};

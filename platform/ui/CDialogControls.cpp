#include "platform/ui/CDialogControls.h"

#include "platform/ui/CCheckListBox.h"
#include "platform/ui/CListBox.h"
#include "platform/ui/CListCtrl.h"
#include "platform/ui/NewChild.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>

namespace {

QString ToQt(std::u16string_view text) {
    return QString::fromStdU16String(std::u16string(text));
}

// The property that holds a control's text: a frame's heading, else the text of a label, an edit
// or a button.
const char* TextProperty(const QWidget& widget) {
    return qobject_cast<const QGroupBox*>(&widget) != nullptr ? "title" : "text";
}

QWidget* MakeStandard(const CControlTemplate& c, QWidget& host) {
    using K = EControlKind;
    switch (c.kind) {
    case K::Label: {
        auto* label = NewChild<QLabel>(ToQt(c.text), &host);
        // Static text starts at its top left corner and wraps at word breaks.
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        label->setWordWrap(true);
        return label;
    }
    case K::Icon:
        return NewChild<QLabel>(&host);
    case K::GroupBox:
        return NewChild<QGroupBox>(ToQt(c.text), &host);
    case K::Edit: {
        auto* edit = NewChild<QLineEdit>(&host);
        if (HasStyle(c.styles, EControlStyle::Password)) {
            edit->setEchoMode(QLineEdit::Password);
        }
        return edit;
    }
    case K::PushButton:
    case K::DefPushButton: {
        auto* button = NewChild<QPushButton>(ToQt(c.text), &host);
        button->setAutoDefault(true);
        button->setDefault(c.kind == K::DefPushButton);
        return button;
    }
    case K::ListView: {
        auto* list = NewChild<CListCtrl>(&host);
        list->SetSingleSelection(HasStyle(c.styles, EControlStyle::SingleSel));
        return list;
    }
    case K::ListBox:
        return NewChild<CListBox>(HasStyle(c.styles, EControlStyle::MultiToggle), &host);
    case K::CheckListBox:
        return NewChild<CCheckListBox>(&host);
    case K::TabControl:
    default:
        return NewChild<QWidget>(&host);
    }
}

} // namespace

QWidget* CDialogControls::Make(const CControlTemplate& control, QWidget& host,
                               const CFactory& factory) {
    QWidget* widget = factory ? factory(control, host) : nullptr;
    if (widget == nullptr) {
        widget = MakeStandard(control, host);
    }
    widget->setGeometry(m_units.ToPixels(control.rect));
    if (HasStyle(control.styles, EControlStyle::Disabled)) {
        widget->setEnabled(false);
    }
    if (control.nId != CControlTemplate::kStaticId) {
        widget->setObjectName(QStringLiteral("ctl%1").arg(control.nId));
    }
    return widget;
}

void CDialogControls::Build(const CDialogTemplate& dialog, QWidget& host, const CFactory& factory,
                            const std::function<void(int)>& onCommand) {
    m_pTemplate = &dialog;
    const QFont font = CDialogUnits::FontOf(dialog);
    host.setFont(font);
    m_units = CDialogUnits(font);
    host.setFixedSize(m_units.X(dialog.cx), m_units.Y(dialog.cy));
    QWidget* previous = nullptr;
    for (const CControlTemplate& control : dialog.controls) {
        QWidget* widget = Make(control, host, factory);
        m_entries.push_back({&control, widget});
        if (auto* button = qobject_cast<QPushButton*>(widget); button && onCommand) {
            const int id = control.nId;
            QObject::connect(button, &QPushButton::clicked, &host,
                             [onCommand, id] { onCommand(id); });
        }
        if (HasStyle(control.styles, EControlStyle::TabStop)) {
            if (previous != nullptr) {
                QWidget::setTabOrder(previous, widget);
            }
            previous = widget;
        }
    }
}

QWidget* CDialogControls::Item(int id) const {
    const auto it =
        std::ranges::find(m_entries, id, [](const CEntry& e) { return e.pTemplate->nId; });
    return id == CControlTemplate::kStaticId || it == m_entries.end() ? nullptr : it->pWidget;
}

QPushButton* CDialogControls::DefaultButton() const {
    const auto it = std::ranges::find_if(m_entries, [](const CEntry& e) {
        const auto* button = qobject_cast<const QPushButton*>(e.pWidget);
        return button != nullptr && button->isDefault();
    });
    return it == m_entries.end() ? nullptr : qobject_cast<QPushButton*>(it->pWidget);
}

std::u16string CDialogControls::GetText(int id) const {
    const QWidget* widget = Item(id);
    return widget == nullptr ? std::u16string()
                             : widget->property(TextProperty(*widget)).toString().toStdU16String();
}

void CDialogControls::SetText(int id, std::u16string_view text) {
    // Only a property the control has: setting any other would add one of that name to it.
    if (QWidget* widget = Item(id);
        widget != nullptr && widget->metaObject()->indexOfProperty(TextProperty(*widget)) >= 0) {
        widget->setProperty(TextProperty(*widget), ToQt(text));
    }
}

void CDialogControls::Enable(int id, bool bEnable) {
    if (QWidget* widget = Item(id)) {
        widget->setEnabled(bEnable);
    }
}

bool CDialogControls::IsEnabled(int id) const {
    QWidget* widget = Item(id);
    return widget != nullptr && widget->isEnabled();
}

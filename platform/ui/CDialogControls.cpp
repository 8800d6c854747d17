#include "platform/ui/CDialogControls.h"

#include "platform/ui/CCheckListBox.h"
#include "platform/ui/CListBox.h"
#include "platform/ui/CListCtrl.h"
#include "platform/ui/NewChild.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {

QString ToQt(std::u16string_view text) {
    return QString::fromStdU16String(std::u16string(text));
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
    if (id == CControlTemplate::kStaticId) {
        return nullptr;
    }
    for (const CEntry& entry : m_entries) {
        if (entry.pTemplate->nId == id) {
            return entry.pWidget;
        }
    }
    return nullptr;
}

QPushButton* CDialogControls::DefaultButton() const {
    for (const CEntry& entry : m_entries) {
        if (auto* button = qobject_cast<QPushButton*>(entry.pWidget);
            button && button->isDefault()) {
            return button;
        }
    }
    return nullptr;
}

std::u16string CDialogControls::GetText(int id) const {
    QWidget* widget = Item(id);
    if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
        return edit->text().toStdU16String();
    }
    if (auto* label = qobject_cast<QLabel*>(widget)) {
        return label->text().toStdU16String();
    }
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        return button->text().toStdU16String();
    }
    if (auto* group = qobject_cast<QGroupBox*>(widget)) {
        return group->title().toStdU16String();
    }
    return {};
}

void CDialogControls::SetText(int id, std::u16string_view text) {
    QWidget* widget = Item(id);
    if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
        edit->setText(ToQt(text));
    } else if (auto* label = qobject_cast<QLabel*>(widget)) {
        label->setText(ToQt(text));
    } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        button->setText(ToQt(text));
    } else if (auto* group = qobject_cast<QGroupBox*>(widget)) {
        group->setTitle(ToQt(text));
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

#include "platform/ui/CFileDialogs.h"

#include "platform/ui/FileDialogFilter.h"

CFileDialogs::CFileDialogs(std::u16string_view filterList, std::u16string_view defaultExt,
                           IMessageBoxes& boxes)
    : m_run([](QFileDialog& dialog) { return dialog.exec(); }), m_suffix(DefaultSuffix(defaultExt)),
      m_boxes(boxes) {
    for (const CFileFilter& filter : ParseFilterList(filterList)) {
        m_filters.push_back(QString::fromStdU16String(QtNameFilter(filter)));
    }
}

void CFileDialogs::Configure(QFileDialog& dialog, QFileDialog::AcceptMode mode) const {
    // Qt's own dialog behaves the same on every desktop, and our replace question comes after
    // the extension has been added.
    dialog.setOptions(QFileDialog::DontUseNativeDialog | QFileDialog::DontConfirmOverwrite);
    dialog.setAcceptMode(mode);
    // Open does not insist that the file exists: a missing file is reported when it is opened.
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters(m_filters);
    if (!m_startFolder.empty()) {
        dialog.setDirectory(QString::fromStdString(m_startFolder.string()));
    }
}

std::u16string CFileDialogs::Complete(const QString& selected) const {
    return CompleteFileName(selected.toStdU16String(), m_suffix);
}

bool CFileDialogs::MayWrite(const std::u16string& path) const {
    std::error_code ec;
    if (!std::filesystem::exists(std::filesystem::path(path), ec)) {
        return true;
    }
    const std::u16string name = std::filesystem::path(path).filename().u16string();
    return m_boxes.Show(name + u" already exists.\nDo you want to replace it?", u"",
                        EMessageIcon::Warning, EMessageButtons::YesNo) == EMessageAnswer::Yes;
}

std::optional<std::u16string> CFileDialogs::Run(QWidget* owner, QFileDialog::AcceptMode mode) {
    for (;;) {
        QFileDialog dialog(owner);
        Configure(dialog, mode);
        if (m_run(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
            return std::nullopt;
        }
        std::u16string path = Complete(dialog.selectedFiles().front());
        if (mode == QFileDialog::AcceptOpen || MayWrite(path)) {
            return path;
        }
        // Not to be replaced: choose again, as the dialog would have let the operator do.
    }
}

std::optional<std::u16string> CFileDialogs::GetOpenFileName(QWidget* owner) {
    return Run(owner, QFileDialog::AcceptOpen);
}

std::optional<std::u16string> CFileDialogs::GetSaveFileName(QWidget* owner) {
    return Run(owner, QFileDialog::AcceptSave);
}

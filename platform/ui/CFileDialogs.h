// The open and save file dialogs: filters from a filter list ("Description|patterns|...||"), a
// default extension added to a name typed without one, and on save a question before an existing
// file is replaced (asked after the extension was added, so that it is about the file that would
// really be written). They open in the start folder when one is set (otherwise where Qt chooses,
// the working directory).
#pragma once

#include "platform/ui/IMessageBoxes.h"

#include <QFileDialog>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class CFileDialogs {
public:
    // boxes asks the replace question.
    CFileDialogs(std::u16string_view filterList, std::u16string_view defaultExt,
                 IMessageBoxes& boxes);

    // The chosen path, or nothing when the operator cancelled.
    std::optional<std::u16string> GetOpenFileName(QWidget* owner);
    std::optional<std::u16string> GetSaveFileName(QWidget* owner);

    void SetStartFolder(std::filesystem::path folder) { m_startFolder = std::move(folder); }

    // Sets a dialog up as these dialogs use it; tests drive it through here.
    void Configure(QFileDialog& dialog, QFileDialog::AcceptMode mode) const;
    // What a dialog's accepted selection becomes: the name completed with the extension.
    std::u16string Complete(const QString& selected) const;
    // Save: true when the path may be written (absent, or the operator agreed to replace it).
    bool MayWrite(const std::u16string& path) const;

    // How a dialog is run; tests replace it to answer without a human.
    std::function<int(QFileDialog&)> m_run;

private:
    std::optional<std::u16string> Run(QWidget* owner, QFileDialog::AcceptMode mode);

    QStringList m_filters;
    std::u16string m_suffix;
    IMessageBoxes& m_boxes;
    std::filesystem::path m_startFolder;
};

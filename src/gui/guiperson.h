// SPDX-License-Identifier: MIT
#pragma once

#include "core/person.h"

#include <functional>

namespace quillbox {

/// The person in front of a screen: Qt message boxes, input boxes and dialogs.
/// At a debug level of 1 and above every message box is also written to standard error.
class GuiPerson : public Person {
public:
    void message(const QString& text) override;
    /// The details behind the box's "Show Details..." button.
    void detailedMessage(const QString& text, const QString& details) override;
    void information(const QString& text) override;
    WarningAnswer warning(const QString& title, const QString& text) override;
    bool question(const QString& text) override;
    QString inputBox(const QString& prompt) override;
    QString password(const QString& prompt) override;
    std::optional<QString> pickMailFolder() override;
    QString chooseDirectory(const QString& title, const QString& start) override;
    /// A file that is not there, or that no program of the desktop opens, is told in a message box.
    void openDocument(const QString& target) override;
    std::unique_ptr<Progress> progress(const QString& caption, qint64 maximum) override;

    void setDebugLevel(int level) { m_debugLevel = level; }
    /// The mail folder chooser behind pickMailFolder(); installFolderPicker() (ui/folderpicker.h) sets the dialog.
    void setFolderPicker(std::function<std::optional<QString>()> picker) { m_picker = std::move(picker); }

private:
    int m_debugLevel = 0;
    std::function<std::optional<QString>()> m_picker;
};

} // namespace quillbox

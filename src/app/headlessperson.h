// SPDX-License-Identifier: MIT
#pragma once

#include "core/person.h"

#include <cstdio>

namespace quillbox {

/// Writes `text` to `out` as UTF-8 at once.
void writeText(std::FILE* out, const QString& text);

/// Writes one line of the program to `out` at once: "Quillbox: TEXT" and a line break. The headless
/// person's boxes, the start-up state and the debug lines of a run take this form.
void writeProgramLine(std::FILE* out, const QString& text);

/// The person of a run without a display: every message box becomes one line
/// "Quillbox: TEXT" on standard error and counts as acknowledged at once;
/// prompts are answered as if cancelled.
class HeadlessPerson : public Person {
public:
    explicit HeadlessPerson(std::FILE* out = stderr)
        : m_out(out)
    {
    }

    void message(const QString& text) override;
    /// The message's line, then the details on a line of their own.
    void detailedMessage(const QString& text, const QString& details) override;
    /// The line of message(), not counted.
    void information(const QString& text) override;
    WarningAnswer warning(const QString& title, const QString& text) override;
    QString inputBox(const QString& prompt) override;
    std::optional<QString> pickMailFolder() override;
    QString chooseDirectory(const QString& title, const QString& start) override;
    void openDocument(const QString& target) override;
    std::unique_ptr<Progress> progress(const QString& caption, qint64 maximum) override;

    /// How many message and warning boxes were shown; an unattended run ends with status 1 when this is not 0.
    int messagesShown() const { return m_messages; }

private:
    void writeLine(const QString& text);

    std::FILE* m_out;
    int m_messages = 0;
};

} // namespace quillbox

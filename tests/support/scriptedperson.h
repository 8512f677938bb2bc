// SPDX-License-Identifier: MIT
#pragma once

#include "core/person.h"

#include <QStringList>
#include <deque>
#include <functional>
#include <vector>

namespace quillbox::test {

/// A person that answers every prompt from a script and records everything it was told, in order.
/// A prompt with no scripted answer left is answered as if cancelled.
class ScriptedPerson : public Person {
public:
    struct ProgressRecord {
        QString caption;
        qint64 maximum = 0;
        QStringList statuses;
        std::vector<qint64> values;
        bool closed = false;
    };

    explicit ScriptedPerson(QStringList inputs = {})
        : m_inputs(inputs.begin(), inputs.end())
    {
    }

    void message(const QString& text) override { detailedMessage(text, {}); }
    void detailedMessage(const QString& text, const QString& details) override
    {
        m_messages << text;
        m_details << details;
    }
    void information(const QString& text) override { m_informations << text; }
    WarningAnswer warning(const QString& title, const QString& text) override;
    bool question(const QString& text) override;
    QString inputBox(const QString& prompt) override;
    std::optional<QString> pickMailFolder() override;
    QString chooseDirectory(const QString& title, const QString& start) override;
    void openDocument(const QString& target) override { m_opened << target; }
    std::unique_ptr<Progress> progress(const QString& caption, qint64 maximum) override;

    // Script.
    void addWarningAnswer(WarningAnswer answer) { m_warningAnswers.push_back(answer); }
    void addQuestionAnswer(bool yes) { m_questionAnswers.push_back(yes); }
    void addPickedFolder(std::optional<QString> folder) { m_pickedFolders.push_back(std::move(folder)); }
    void addDirectory(const QString& dir) { m_directories.push_back(dir); }
    /// Called with each value a progress window is set to, as a person acting while a run goes would.
    void onProgressValue(std::function<void(qint64)> act) { m_onProgressValue = std::move(act); }
    /// The person cancels a progress window once it has been set to `value` (0: never).
    void cancelAtValue(qint64 value) { m_cancelAt = value; }

    // Record.
    const QStringList& messages() const { return m_messages; }
    /// The messages that only informed (not in messages()).
    const QStringList& informations() const { return m_informations; }
    /// The details of each message, empty where it had none: details()[i] belongs to messages()[i].
    const QStringList& details() const { return m_details; }
    const QStringList& warnings() const { return m_warnings; } // "title|text"
    const QStringList& prompts() const { return m_prompts; }
    const QStringList& opened() const { return m_opened; }
    const std::vector<ProgressRecord>& progressWindows() const { return m_progress; }
    void clear()
    {
        m_messages.clear();
        m_informations.clear();
        m_details.clear();
        m_warnings.clear();
        m_prompts.clear();
        m_opened.clear();
        m_progress.clear();
    }

private:
    std::deque<QString> m_inputs;
    std::deque<WarningAnswer> m_warningAnswers;
    std::deque<bool> m_questionAnswers;
    std::deque<std::optional<QString>> m_pickedFolders;
    std::deque<QString> m_directories;
    QStringList m_messages, m_informations, m_details, m_warnings, m_prompts, m_opened;
    std::vector<ProgressRecord> m_progress;
    std::function<void(qint64)> m_onProgressValue;
    qint64 m_cancelAt = 0;
};

} // namespace quillbox::test

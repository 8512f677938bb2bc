// SPDX-License-Identifier: MIT
#include "support/scriptedperson.h"

namespace quillbox::test {

namespace {
class RecordingProgress : public Progress {
public:
    RecordingProgress(std::vector<ScriptedPerson::ProgressRecord>& all, size_t index,
        const std::function<void(qint64)>& onValue, const qint64& cancelAt)
        : m_all(all)
        , m_index(index)
        , m_onValue(onValue)
        , m_cancelAt(cancelAt)
    {
    }
    ~RecordingProgress() override { m_all[m_index].closed = true; }
    void setStatus(const QString& text) override { m_all[m_index].statuses << text; }
    void setValue(qint64 value) override
    {
        m_all[m_index].values.push_back(value);
        if (m_onValue)
            m_onValue(value);
    }
    bool cancelled() const override
    {
        return m_cancelAt > 0 && !m_all[m_index].values.empty() && m_all[m_index].values.back() >= m_cancelAt;
    }

private:
    std::vector<ScriptedPerson::ProgressRecord>& m_all;
    size_t m_index;
    const std::function<void(qint64)>& m_onValue;
    const qint64& m_cancelAt; ///< the person's, which may change while the window is open
};
} // namespace

// The next scripted answer, or `none` when the script has run out.
template <class T> T next(std::deque<T>& answers, T none)
{
    if (answers.empty())
        return none;
    T answer = std::move(answers.front());
    answers.pop_front();
    return answer;
}

WarningAnswer ScriptedPerson::warning(const QString& title, const QString& text)
{
    m_warnings << title + u'|' + text;
    return next(m_warningAnswers, WarningAnswer::Ignore);
}

bool ScriptedPerson::question(const QString& text)
{
    m_prompts << text;
    return next(m_questionAnswers, false);
}

QString ScriptedPerson::inputBox(const QString& prompt)
{
    m_prompts << prompt;
    return next(m_inputs, QString());
}

std::optional<QString> ScriptedPerson::pickMailFolder()
{
    m_prompts << QStringLiteral("<pick mail folder>");
    if (m_pickedFolders.empty())
        return std::nullopt;
    // Copied through the QString alone: GCC 12 warns (wrongly) about copying the optional.
    const bool cancelled = !m_pickedFolders.front().has_value();
    const QString folder = m_pickedFolders.front().value_or(QString());
    m_pickedFolders.pop_front();
    if (cancelled)
        return std::nullopt;
    return folder;
}

QString ScriptedPerson::chooseDirectory(const QString& title, const QString& start)
{
    m_prompts << (start.isEmpty() ? title : title + QLatin1String(" at ") + start);
    return next(m_directories, QString());
}

std::unique_ptr<Progress> ScriptedPerson::progress(const QString& caption, qint64 maximum)
{
    m_progress.push_back({ caption, maximum, {}, {}, false });
    return std::make_unique<RecordingProgress>(m_progress, m_progress.size() - 1, m_onProgressValue, m_cancelAt);
}

} // namespace quillbox::test

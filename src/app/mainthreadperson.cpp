// SPDX-License-Identifier: MIT
#include "app/mainthreadperson.h"

#include <mutex>

namespace quillbox {

namespace {

/// The progress window of another thread: setStatus() and setValue() leave the latest texts for the
/// window's thread, which takes them up when it comes to them; the window itself lives and dies there.
class HandedOverProgress : public Progress {
public:
    HandedOverProgress(std::unique_ptr<Progress> window, QObject& context, const std::atomic<bool>& stop)
        : m_shared(std::make_shared<Shared>())
        , m_context(context)
        , m_stop(stop)
    {
        m_shared->window = std::move(window);
    }
    ~HandedOverProgress() override
    {
        MainThreadPerson::onThreadOf(m_context, [shared = m_shared] { shared->window.reset(); });
    }

    void setStatus(const QString& text) override
    {
        const std::lock_guard lock(m_shared->mutex);
        m_shared->status = text;
        post();
    }
    void setValue(qint64 value) override
    {
        const std::lock_guard lock(m_shared->mutex);
        m_shared->value = value;
        post();
    }
    bool cancelled() const override { return m_stop || m_shared->cancelled; }

private:
    struct Shared {
        std::mutex mutex;
        std::optional<QString> status;
        std::optional<qint64> value;
        bool posted = false;
        std::atomic<bool> cancelled = false;
        std::unique_ptr<Progress> window; ///< used on the context's thread only

        void apply()
        {
            std::optional<QString> newStatus;
            std::optional<qint64> newValue;
            {
                const std::lock_guard lock(mutex);
                newStatus.swap(status);
                newValue.swap(value);
                posted = false;
            }
            if (!window)
                return;
            if (newStatus)
                window->setStatus(*newStatus);
            if (newValue)
                window->setValue(*newValue);
            cancelled = window->cancelled();
        }
    };

    // With the lock held: one hand-over at a time is waiting.
    void post()
    {
        if (m_shared->posted)
            return;
        m_shared->posted = true;
        QMetaObject::invokeMethod(
            &m_context, [shared = m_shared] { shared->apply(); }, Qt::QueuedConnection);
    }

    std::shared_ptr<Shared> m_shared;
    QObject& m_context;
    const std::atomic<bool>& m_stop;
};

} // namespace

MainThreadPerson::MainThreadPerson(Person& person, QObject& context, const std::atomic<bool>& stop)
    : m_person(person)
    , m_context(context)
    , m_stop(stop)
{
}

void MainThreadPerson::message(const QString& text)
{
    onThreadOf(m_context, [&] { m_person.message(text); });
}

void MainThreadPerson::information(const QString& text)
{
    onThreadOf(m_context, [&] { m_person.information(text); });
}

void MainThreadPerson::detailedMessage(const QString& text, const QString& details)
{
    onThreadOf(m_context, [&] { m_person.detailedMessage(text, details); });
}

WarningAnswer MainThreadPerson::warning(const QString& title, const QString& text)
{
    return onThreadOf(m_context, [&] { return m_person.warning(title, text); });
}

bool MainThreadPerson::question(const QString& text)
{
    return onThreadOf(m_context, [&] { return m_person.question(text); });
}

QString MainThreadPerson::inputBox(const QString& prompt)
{
    return onThreadOf(m_context, [&] { return m_person.inputBox(prompt); });
}

QString MainThreadPerson::password(const QString& prompt)
{
    return onThreadOf(m_context, [&] { return m_person.password(prompt); });
}

std::optional<QString> MainThreadPerson::pickMailFolder()
{
    return onThreadOf(m_context, [&] { return m_person.pickMailFolder(); });
}

QString MainThreadPerson::chooseDirectory(const QString& title, const QString& start)
{
    return onThreadOf(m_context, [&] { return m_person.chooseDirectory(title, start); });
}

void MainThreadPerson::openDocument(const QString& target)
{
    onThreadOf(m_context, [&] { m_person.openDocument(target); });
}

std::unique_ptr<Progress> MainThreadPerson::progress(const QString& caption, qint64 maximum)
{
    std::unique_ptr<Progress> window = onThreadOf(m_context, [&] { return m_person.progress(caption, maximum); });
    return std::make_unique<HandedOverProgress>(std::move(window), m_context, m_stop);
}

} // namespace quillbox

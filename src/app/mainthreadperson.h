// SPDX-License-Identifier: MIT
#pragma once
// A person for a command that runs on a thread of its own: every question and message is carried over to
// the thread of a context object (the window's) and answered there, while the command's thread waits;
// progress is handed over without waiting, the latest status and value at a time.

#include "core/person.h"

#include <QObject>
#include <QThread>
#include <atomic>

namespace quillbox {

class MainThreadPerson : public Person {
public:
    /// Passes every call on to `person` on the thread of `context`. The progress windows it makes also
    /// count as cancelled once `stop` is set.
    MainThreadPerson(Person& person, QObject& context, const std::atomic<bool>& stop);

    void message(const QString& text) override;
    void detailedMessage(const QString& text, const QString& details) override;
    void information(const QString& text) override;
    WarningAnswer warning(const QString& title, const QString& text) override;
    bool question(const QString& text) override;
    QString inputBox(const QString& prompt) override;
    QString password(const QString& prompt) override;
    std::optional<QString> pickMailFolder() override;
    QString chooseDirectory(const QString& title, const QString& start) override;
    void openDocument(const QString& target) override;
    std::unique_ptr<Progress> progress(const QString& caption, qint64 maximum) override;

    /// Runs `call` on the context's thread and waits for its result; at once when that is this thread.
    template <class Call> static auto onThreadOf(QObject& context, Call call)
    {
        using Answer = decltype(call());
        if (QThread::currentThread() == context.thread())
            return call();
        if constexpr (std::is_void_v<Answer>) {
            QMetaObject::invokeMethod(&context, std::move(call), Qt::BlockingQueuedConnection);
        } else {
            Answer answer {};
            QMetaObject::invokeMethod(
                &context, [&answer, &call] { answer = call(); }, Qt::BlockingQueuedConnection);
            return answer;
        }
    }

private:
    Person& m_person;
    QObject& m_context;
    const std::atomic<bool>& m_stop;
};

} // namespace quillbox

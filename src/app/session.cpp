// SPDX-License-Identifier: MIT
#include "app/session.h"

#include "app/headlessperson.h"
#include "config/accesshook.h"
#include "core/person.h"
#include "mail/imap/account.h"
#include "mail/search.h"
#include "output/listtotext.h"

namespace quillbox {

/// Passes everything on to the person and counts the boxes that tell something: an unattended run ends
/// with status 1 when there was any.
class Session::CountingPerson : public Person {
public:
    explicit CountingPerson(Person& person)
        : m_person(person)
    {
    }
    int shown() const { return m_shown; }

    void message(const QString& text) override
    {
        ++m_shown;
        m_person.message(text);
    }
    void detailedMessage(const QString& text, const QString& details) override
    {
        ++m_shown;
        m_person.detailedMessage(text, details);
    }
    void information(const QString& text) override { m_person.information(text); }
    WarningAnswer warning(const QString& title, const QString& text) override
    {
        ++m_shown;
        return m_person.warning(title, text);
    }
    QString inputBox(const QString& prompt) override { return m_person.inputBox(prompt); }
    std::optional<QString> pickMailFolder() override { return m_person.pickMailFolder(); }
    QString chooseDirectory(const QString& title) override { return m_person.chooseDirectory(title); }
    void openDocument(const QString& target) override { m_person.openDocument(target); }
    std::unique_ptr<Progress> progress(const QString& caption, qint64 maximum) override
    {
        return m_person.progress(caption, maximum);
    }

private:
    Person& m_person;
    int m_shown = 0;
};

namespace {

/// Tells the session's listeners that a command runs, for its lifetime.
class Busy {
public:
    explicit Busy(Session& session)
        : m_session(session)
    {
        Q_EMIT m_session.busyChanged(true);
    }
    ~Busy() { Q_EMIT m_session.busyChanged(false); }
    Busy(const Busy&) = delete;
    Busy& operator=(const Busy&) = delete;

private:
    Session& m_session;
};

} // namespace

Session::Session(Person& person)
    : m_person(std::make_unique<CountingPerson>(person))
    , m_access(readAccessSettings())
    , m_options(*m_person)
{
    m_options.loadSettings();
    // An account with no password command asks the person in front of the session (an unattended run
    // answers nothing, and the store says which line to set).
    mail::imap::setPasswordPrompt([this](const QString& prompt) { return m_person->inputBox(prompt); });
}

Session::~Session()
{
    mail::imap::setPasswordPrompt({});
}

Person& Session::person()
{
    return *m_person;
}

int Session::messagesShown() const
{
    return m_person->shown();
}

void Session::search(const QString& mailFolder)
{
    const Busy busy(*this);
    runAccess(true);
    m_notMail = searchMailFolder(*m_person, m_options.settings(), mailFolder, m_list, &mail::Namespace::fromProfile,
        [this](mail::Walk::Skip kind, const Error& why) { writeSkip(kind, why); });
    runAccess(false);
    if (m_debugLevel >= 1 && m_notMail > 0)
        writeProgramLine(stderr, notMailText());
    if (m_debugLevel >= 2)
        writeResultRows();
}

QString Session::notMailText() const
{
    return m_notMail > 0 ? QStringLiteral("%1 items that are not e-mail were not listed").arg(m_notMail) : QString();
}

void Session::save(const QString& mailFolder, const QString& dir)
{
    const Busy busy(*this);
    runAccess(true);
    m_lastSave = saveRun(*m_person, m_options.settings(), mailFolder, m_list, dir);
    runAccess(false);
}

void Session::exportList()
{
    const Busy busy(*this);
    // A failure has been told to the person; there is nothing more to do here.
    static_cast<void>(exportListToText(*m_person, m_options.settings(), m_list, listFilePath()));
}

void Session::runAccess(bool allow) const
{
    const Status started = allow ? runAllowAccess(m_access) : runDisallowAccess(m_access);
    if (!started && m_debugLevel >= 1)
        writeProgramLine(stderr, QLatin1String("cannot start the access program: ") + started.error().describe());
}

void Session::writeSkip(mail::Walk::Skip kind, const Error& why) const
{
    if (m_debugLevel >= 1)
        writeProgramLine(stderr,
            (kind == mail::Walk::Skip::Message ? QLatin1String("skipped message: ") : QLatin1String("skipped folder: "))
                + why.describe());
}

void Session::writeResultRows() const
{
    for (int i = 0; i < m_list.count(); ++i) {
        QString line = m_list.row(i).texts().join(u'\t');
        line.replace(QLatin1String("\r\n"), QLatin1String(" "));
        line.replace(u'\n', u' ');
        line.replace(u'\r', u' ');
        writeProgramLine(stderr, line);
    }
}

} // namespace quillbox

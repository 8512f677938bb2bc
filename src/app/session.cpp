// SPDX-License-Identifier: MIT
#include "app/session.h"

#include "app/headlessperson.h"
#include "app/listing.h"
#include "app/mainthreadperson.h"
#include "config/accesshook.h"
#include "core/person.h"
#include "mail/imap/account.h"
#include "mail/search.h"
#include "output/formats.h"
#include "output/listtotext.h"
#include "output/outputnames.h"

#include <QCoreApplication>
#include <algorithm>
#include <thread>

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
    bool question(const QString& text) override { return m_person.question(text); }
    QString inputBox(const QString& prompt) override { return m_person.inputBox(prompt); }
    QString password(const QString& prompt) override { return m_person.password(prompt); }
    std::optional<QString> pickMailFolder() override { return m_person.pickMailFolder(); }
    QString chooseDirectory(const QString& title, const QString& start) override
    {
        return m_person.chooseDirectory(title, start);
    }
    void openDocument(const QString& target) override { m_person.openDocument(target); }
    std::unique_ptr<Progress> progress(const QString& caption, qint64 maximum) override
    {
        return m_person.progress(caption, maximum);
    }

private:
    Person& m_person;
    int m_shown = 0;
};

/// Tells the session's listeners that a command runs, for its lifetime. One command runs at a time: a
/// command started while another runs (from a message box it shows, or while a search or save run goes on
/// its own thread) does nothing, so that the list stays as it is while a command reads it.
class Session::Busy {
public:
    explicit Busy(Session& session)
        : m_session(session)
        , m_first(!session.m_busy)
    {
        if (!m_first)
            return;
        m_session.m_busy = true;
        Q_EMIT m_session.busyChanged(true);
    }
    ~Busy()
    {
        if (!m_first)
            return;
        m_session.m_busy = false;
        Q_EMIT m_session.busyChanged(false);
    }
    Busy(const Busy&) = delete;
    Busy& operator=(const Busy&) = delete;

    /// Whether the command may run: no other one runs.
    explicit operator bool() const { return m_first; }

private:
    Session& m_session;
    const bool m_first;
};

Session::Session(Person& person)
    : m_person(std::make_unique<CountingPerson>(person))
    , m_access(readAccessSettings())
    , m_options(*m_person)
{
    m_options.loadSettings();
    // An account with no password command asks the person in front of the session (an unattended run
    // answers nothing, and the store says which line to set).
    mail::imap::setPasswordPrompt([this](const QString& prompt) { return m_person->password(prompt); },
        [this](const QString& question) { return m_person->question(question); });
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
    if (!busy)
        return;
    runAccess(true);
    const auto onSkip = [this](mail::Walk::Skip kind, const Error& why) { writeSkip(kind, why); };
    const NamespaceFactory openNamespace = [this] { return namespaceTold(); };
    if (!m_inBackground) {
        m_lastSearch = searchMailFolder(*m_person, m_options.settings(), mailFolder, m_list, openNamespace, onSkip);
        m_listFolder = mailFolder;
    } else {
        // Found into a list of its own, which takes the place of the shown one when the search has read its folder:
        // a mistyped path leaves the last results where they are.
        ResultList found;
        const Settings settings = m_options.settings();
        const SearchWatch watch { [this](int folders, int rows) { tellSearchProgress(folders, rows); }, &m_stop };
        SearchOutcome outcome;
        m_searching = true;
        runOffThread([&](Person& person) {
            outcome = searchMailFolder(person, settings, mailFolder, found, openNamespace, onSkip, -1, watch);
        });
        m_searching = false;
        m_lastSearch = outcome;
        if (outcome.found) {
            m_list.clear();
            m_list.appendRows(found.takeRows());
            m_listFolder = mailFolder;
        }
    }
    runAccess(false);
    if (m_debugLevel >= 1 && m_lastSearch->notMail > 0)
        writeProgramLine(stderr, notMailText());
    if (m_debugLevel >= 2)
        writeResultRows();
}

QString Session::notMailText() const
{
    const int notMail = m_lastSearch ? m_lastSearch->notMail : 0;
    return notMail > 0
        ? QCoreApplication::translate("Session", "%1 items that are not e-mail were not listed").arg(notMail)
        : QString();
}

void Session::save(const QString& mailFolder, const QString& dir)
{
    const Busy busy(*this);
    if (!busy)
        return;
    runAccess(true);
    m_lastSave = runSave(mailFolder, m_list, dir);
    runAccess(false);
}

void Session::saveRows(const QString& mailFolder, const QString& dir, std::vector<int> rows)
{
    const Busy busy(*this);
    if (!busy)
        return;
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    std::vector<ResultRow> chosen;
    chosen.reserve(rows.size());
    for (const int row : rows) {
        if (row >= 0 && row < m_list.count())
            chosen.push_back(m_list.row(row));
    }
    ResultList list;
    list.appendRows(std::move(chosen));
    runAccess(true);
    m_lastSave = runSave(mailFolder, list, dir);
    runAccess(false);
}

SaveSummary Session::runSave(const QString& mailFolder, const ResultList& list, const QString& dir)
{
    if (!m_inBackground)
        return saveRun(*m_person, m_options.settings(), mailFolder, list, dir);
    m_saving = true;
    // The options dialog stays usable while the run goes: the run keeps the settings it started with.
    const Settings settings = m_options.settings();
    SaveSummary summary;
    runOffThread([&](Person& person) { summary = saveRun(person, settings, mailFolder, list, dir); });
    m_saving = false;
    return summary;
}

void Session::tellSearchProgress(int folders, int rows)
{
    m_foldersRead = folders;
    m_rowsFound = rows;
    // One hand-over at a time is waiting: a tree of many small folders does not flood the window's thread.
    if (m_progressPosted.exchange(true))
        return;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_progressPosted = false;
            Q_EMIT searchProgress(m_foldersRead, m_rowsFound);
        },
        Qt::QueuedConnection);
}

void Session::runOffThread(const std::function<void(Person&)>& work)
{
    m_stop = false;
    MainThreadPerson person(*m_person, *this, m_stop);
    std::atomic<bool> done = false;
    std::thread run([&] {
        work(person);
        done = true;
        QMetaObject::invokeMethod(
            this, [] {}, Qt::QueuedConnection); // wakes the wait below
    });
    // Not a nested event loop: one that a quitting application ends early would leave the work waiting
    // for its messages.
    while (!done)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    run.join();
    // What the work handed over last is shown before anything that comes after it.
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
}

void Session::openMail(int row, const QString& dir)
{
    if (row < 0 || row >= m_list.count())
        return;
    const Busy busy(*this);
    if (!busy)
        return;
    const ResultRow& chosen = m_list.row(row);
    const auto told = [this](const Error& why) {
        m_person->detailedMessage(QCoreApplication::translate("Session", "Can't open the email."), why.describe());
    };
    const mail::Namespace ns = mail::Namespace::fromProfile();
    const auto item = ns.getItemFromID(chosen.entryId);
    if (!item)
        return told(item.error());
    const Result<QByteArray> content = formats::emlContent(**item);
    if (!content)
        return told(content.error());
    const QString name
        = output::fitName(output::safeComponent(chosen.subject, QStringLiteral("email")), {}, QStringLiteral(".eml"));
    auto folder = output::Directory::open(dir, output::Disk::system());
    if (!folder)
        return told(folder.error());
    if (const Status written = folder->writeFile(name, *content, output::Disk::system()); !written)
        return told(written.error());
    m_person->openDocument(folder->filePath(name));
}

void Session::exportList()
{
    const Busy busy(*this);
    if (!busy)
        return;
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

mail::Namespace Session::namespaceTold() const
{
    mail::Namespace ns = mail::Namespace::fromProfile();
    if (m_debugLevel >= 1)
        for (const auto& [name, why] : ns.foundFailures())
            writeProgramLine(stderr, foundStoreNotOpened(name, why));
    return ns;
}

void Session::writeResultRows() const
{
    for (int i = 0; i < m_list.count(); ++i) {
        writeProgramLine(stderr, oneLine(m_list.row(i).texts().join(u'\t')));
    }
}

} // namespace quillbox

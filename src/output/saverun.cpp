// SPDX-License-Identifier: MIT
#include "output/saverun.h"

#include "output/filename.h"
#include "output/formats.h"
#include "output/msg/msgwriter.h"
#include "output/outputnames.h"
#include "output/workerthreads.h"

#include <QLocale>

#include <deque>
#include <future>

namespace quillbox {

namespace {

// Path keys of the name book: directories relative to the destination, "" for the destination itself.
QString joinKey(const QString& dir, const QString& name)
{
    return dir.isEmpty() ? name : dir + u'/' + name;
}

// The destination, made when it is missing. It is the person's own path: links on the way are followed.
Result<output::Directory> openDestination(const QString& path, output::Disk& disk)
{
    if (Status made = makeDirPath(path, disk); !made)
        return made.error();
    return output::Directory::open(path, disk);
}

QString failureMessage(const SaveSummary& summary)
{
    return QStringLiteral("%1 of %2 emails could not be written. The first: %3")
        .arg(summary.failed)
        .arg(summary.written + summary.failed)
        .arg(summary.firstFailure ? summary.firstFailure->describe() : QString());
}

QString cancelledMessage(const SaveSummary& summary)
{
    return QStringLiteral("Saving was cancelled: %1 of %2 emails were saved, %3 were not.")
        .arg(summary.written)
        .arg(summary.rows)
        .arg(summary.rows - summary.written);
}

} // namespace

class SaveSession {
public:
    SaveSession(
        Person& person, const Settings& settings, mail::Namespace ns, const QString& destination, output::Disk& disk)
        : person(person)
        , settings(settings)
        , ns(std::move(ns))
        , disk(disk)
        , destination(openDestination(destination, disk))
    {
    }

    Person& person;
    const Settings& settings;
    const mail::Namespace ns;
    output::Disk& disk;
    const QLocale locale = QLocale::system();
    const Result<output::Directory> destination;
    output::NameBook names;
    // The rows of one folder follow each other, so the directory of the last mail is usually the next one's.
    QString lastFolderKey;
    std::optional<output::Directory> lastFolder;
};

namespace {

// Where one mail's files go: an open directory and its key in the name book.
struct Target {
    const output::Directory* dir = nullptr;
    QString key;
};

// The directory of the folder part `components` below the destination, made when missing.
Result<Target> folderDirectory(SaveSession& session, const QStringList& components)
{
    if (!session.destination)
        return session.destination.error();
    if (components.isEmpty())
        return Target { &*session.destination, QString() };
    const QString key = components.join(u'/');
    if (session.lastFolder && session.lastFolderKey == key)
        return Target { &*session.lastFolder, key };
    session.lastFolder.reset();
    const output::Directory* parent = &*session.destination;
    output::Directory dir;
    QString parentKey;
    for (const QString& name : components) {
        session.names.share(parentKey, name);
        auto child = parent->subdirectory(name, session.disk);
        if (!child)
            return child.error();
        dir = std::move(*child);
        parent = &dir;
        parentKey = joinKey(parentKey, name);
    }
    session.lastFolder = std::move(dir);
    session.lastFolderKey = key;
    return Target { &*session.lastFolder, key };
}

bool isFileType(const QString& type)
{
    return type == u"msg" || type == u"txt" || type == u"rtf" || type == u"eml";
}

// The bytes of the file of a type for which isFileType() holds.
Result<QByteArray> fileContent(const QString& type, const mail::MailItem& email, const QLocale& locale)
{
    // A .msg file is built in memory and reaches the disk like every other file (temporary file, then
    // rename).
    if (type == u"msg")
        return msg::msgBytes(email);
    if (type == u"txt")
        return formats::textContent(email, locale);
    if (type == u"rtf")
        return formats::rtfContent(email, locale);
    return formats::emlContent(email);
}

// Collects what could not be written of one mail: the first reason counts, and every step still runs.
class Failures {
public:
    void add(const Error& error)
    {
        if (!m_first)
            m_first = error;
    }
    void add(const Status& status)
    {
        if (!status)
            add(status.error());
    }
    // A content that could not be built (an attachment the store cannot read) is reported at the file
    // that was not written.
    void addUnbuilt(const QString& path, const Error& error)
    {
        add(Error { Error::Code::WriteFailed, path, error.describe() });
    }
    bool any() const { return m_first.has_value(); }
    SavedEmail result() const
    {
        if (m_first)
            return SavedEmail { SavedEmail::Outcome::Failed, m_first };
        return SavedEmail {};
    }

private:
    std::optional<Error> m_first;
};

void writeContent(SaveSession& session, const output::Directory& dir, const QString& fileName,
    const Result<QByteArray>& content, Failures& failures)
{
    if (!content)
        failures.addUnbuilt(dir.filePath(fileName), content.error());
    else
        failures.add(dir.writeFile(fileName, *content, session.disk));
}

// message.txt, message.html and, when the mail has attachments, attachments/ with each under its own
// name made safe and unique, in `dir`, whose key in the name book is `key`.
void writeMailFiles(SaveSession& session, const QString& key, const output::Directory& dir, const mail::MailItem& email,
    Failures& failures)
{
    // Nothing else in the run may take these names, should a folder's directory meet this one.
    for (const char* fixed : { "message.txt", "message.html", "attachments" })
        session.names.share(key, QLatin1String(fixed));
    writeContent(session, dir, QStringLiteral("message.txt"), formats::textContent(email, session.locale), failures);
    writeContent(session, dir, QStringLiteral("message.html"), formats::htmlContent(email, session.locale), failures);

    auto attachments = email.attachments();
    if (!attachments) {
        failures.addUnbuilt(dir.filePath(QStringLiteral("attachments")), attachments.error());
        return;
    }
    if (attachments->empty())
        return;
    auto attachmentDir = dir.subdirectory(QStringLiteral("attachments"), session.disk);
    if (!attachmentDir) {
        failures.add(attachmentDir.error());
        return;
    }
    const QString attachmentKey = joinKey(key, QStringLiteral("attachments"));
    for (const auto& attachment : *attachments) {
        auto [stem, extension]
            = output::splitExtension(output::safeComponent(attachment->fileName(), QStringLiteral("attachment")));
        Result<QByteArray> content = attachment->data();
        // An Outlook item attached to a mail has no bytes of its own: it is written as the .msg file
        // Outlook would give for it.
        if (!content) {
            if (const std::unique_ptr<mail::MailItem> embedded = attachment->embeddedMessage()) {
                content = msg::msgBytes(*embedded);
                if (extension.compare(QLatin1String(".msg"), Qt::CaseInsensitive) != 0) {
                    stem += extension;
                    extension = QStringLiteral(".msg");
                }
            }
        }
        const QString fileName = session.names.claim(attachmentKey, stem, extension);
        writeContent(session, *attachmentDir, fileName, content, failures);
    }
}

// The mail's own directory named `name` in the target, built under a temporary name and named when
// whole: a mail that cannot be written whole leaves nothing.
void writeMailDirectory(
    SaveSession& session, const Target& target, const QString& name, const mail::MailItem& email, Failures& failures)
{
    const QString dirName = session.names.claim(target.key, name);
    auto pending = output::PendingDirectory::make(*target.dir, dirName, session.disk);
    if (!pending) {
        failures.add(pending.error());
        return;
    }
    writeMailFiles(session, joinKey(target.key, dirName), pending->directory(), email, failures);
    if (!failures.any())
        failures.add(pending->commit(session.disk));
}

} // namespace

namespace {

// The mail of a row, and the bytes of its file when a worker thread built them ahead of the writing.
struct FoundEmail {
    Result<std::shared_ptr<const mail::MailItem>> email;
    QString type; ///< the output type `content` is built for
    std::future<Result<QByteArray>> content; ///< not valid when nothing is built ahead
    qsizetype bytes = 0; ///< the message bytes held for it
};

// The mail of `row`, found by its EntryID: an Error when no store holds the item or the item is not a
// mail item.
Result<std::shared_ptr<const mail::MailItem>> findEmail(const SaveSession& session, const ResultRow& row)
{
    auto found = session.ns.getItemFromID(row.entryId);
    if (!found)
        return found.error();
    if ((*found)->itemClass() != mail::kClassMail)
        return Error { Error::Code::NotFound, row.entryId, QStringLiteral("the item is not a mail item") };
    return std::shared_ptr<const mail::MailItem>(std::move(*found));
}

Result<SavedEmail> saveFound(
    SaveSession& session, const QString& mailFolderText, const ResultRow& row, FoundEmail& found)
{
    const Settings& settings = session.settings;
    const QString type = outputType(settings.fnOutput).value_or(QStringLiteral("msg"));
    const Result<QString> expanded = expandFileName(settings.fnFormat, row, settings);
    if (!expanded)
        return expanded.error();
    // Never hidden, never a control character that could disguise it: the same rule as every other name.
    const QString name = output::safeComponent(makeSafeFileName(*expanded), QStringLiteral("email"));
    // The worker is done with the item before this thread uses it again.
    std::optional<Result<QByteArray>> builtAhead;
    if (found.content.valid()) {
        builtAhead = found.content.get();
        if (found.type != type) // the settings changed while the run went on
            builtAhead.reset();
    }
    if (!found.email) // gone since the search: this mail cannot be written, the others still can
        return SavedEmail { SavedEmail::Outcome::Failed, found.email.error() };
    const mail::MailItem& email = **found.email;

    QStringList components;
    if (settings.useFnFolder != 0) {
        const QString part = getFolderPart(mailFolderText, email);
        if (!part.isEmpty())
            for (const QString& folder : part.split(u'/'))
                components << output::fitName(output::safeComponent(folder, QStringLiteral("folder")));
    }
    Failures failures;
    Target target;
    if (auto dir = folderDirectory(session, components))
        target = *dir;
    else
        failures.add(dir.error()); // nothing of this mail can be written

    if (isFileType(type)) {
        if (target.dir) {
            const QString fileName = session.names.claim(target.key, name, u'.' + type);
            writeContent(session, *target.dir, fileName,
                builtAhead ? *builtAhead : fileContent(type, email, session.locale), failures);
        }
    } else if (target.dir) {
        writeMailDirectory(session, target, name, email, failures);
    }
    return failures.result();
}

// The rows after the one being written: their mails are found here, in list order, and the files of
// those that stand alone are built on the worker threads, so that writing seldom waits for building.
// A few rows per thread, and at most kBytesAhead of their messages, are held ahead.
class Lookahead {
public:
    Lookahead(SaveSession& session, const ResultList& list, WorkerThreads& workers)
        : m_session(session)
        , m_list(list)
        , m_workers(workers)
        , m_rowsAhead(workers.count() == 0 ? 0 : 2 * workers.count())
    {
    }

    // The next row's mail; rows are taken in list order, each once.
    FoundEmail take()
    {
        fill();
        FoundEmail next = std::move(m_ahead.front());
        m_ahead.pop_front();
        m_bytes -= next.bytes;
        fill(); // the rows after it are built while it is written
        return next;
    }

private:
    static constexpr qsizetype kBytesAhead = 32 * 1024 * 1024;

    void fill()
    {
        while (m_next < m_list.count() && qsizetype(m_ahead.size()) <= m_rowsAhead
            && (m_ahead.empty() || m_bytes < kBytesAhead))
            m_ahead.push_back(find(m_list.row(m_next++)));
    }

    FoundEmail find(const ResultRow& row)
    {
        FoundEmail found { findEmail(m_session, row),
            outputType(m_session.settings.fnOutput).value_or(QStringLiteral("msg")), {}, 0 };
        if (!found.email)
            return found;
        found.bytes = (*found.email)->rawMessage().size();
        m_bytes += found.bytes;
        if (m_workers.count() == 0 || !(*found.email)->standsAlone() || !isFileType(found.type))
            return found;
        if (found.type == u"eml" && found.bytes > 0)
            return found; // the .eml of a stored message is its bytes: nothing to build ahead
        auto build = std::make_shared<std::packaged_task<Result<QByteArray>()>>(
            [email = *found.email, type = found.type, locale = m_session.locale] {
                return fileContent(type, *email, locale);
            });
        found.content = build->get_future();
        m_workers.post([build] { (*build)(); });
        return found;
    }

    SaveSession& m_session;
    const ResultList& m_list;
    WorkerThreads& m_workers;
    const qsizetype m_rowsAhead;
    std::deque<FoundEmail> m_ahead;
    int m_next = 0;
    qsizetype m_bytes = 0;
};

} // namespace

Result<SavedEmail> saveEmail(SaveSession& session, const QString& mailFolderText, const ResultRow& row)
{
    FoundEmail found { findEmail(session, row), QString(), {}, 0 };
    return saveFound(session, mailFolderText, row, found);
}

SaveSummary saveRun(Person& person, const Settings& settings, const QString& mailFolderText, const ResultList& list,
    const QString& destination, const NamespaceFactory& openNamespace, output::Disk& disk, int workerThreads)
{
    SaveSummary summary;
    if (mailFolderText.isEmpty()) {
        person.message(QStringLiteral("The 'Mail Folder' box is blank"));
        return summary;
    }
    if (destination.isEmpty()) {
        person.message(QStringLiteral("The 'Save to' box is blank"));
        return summary;
    }
    if (list.count() == 0) {
        person.message(QStringLiteral("There are no emails in the list."));
        return summary;
    }
    // A clip that is no number would fail every mail alike: the run does not start.
    if (const Status clips = checkClips(settings); !clips) {
        person.message(QStringLiteral("The %1 setting is %2.").arg(clips.error().path, clips.error().detail));
        return summary;
    }
    if (!outputType(settings.fnOutput))
        person.message(QStringLiteral("The FnOutput setting \"%1\" is not an output type (MSG, TXT, RTF, EML, DIR): "
                                      "MSG is used.")
                           .arg(settings.fnOutput));
    const QString target = destination.endsWith(u'/') ? destination : destination + u'/';
    const qint64 count = list.count();
    summary.rows = count;

    SaveSession session(person, settings, openNamespace(), target, disk);
    // Declared between the session and the rows ahead: on leaving, the rows ahead go first, then the
    // threads finish their running jobs (each holds its own share of its mail), then the session closes
    // the stores.
    WorkerThreads workers(workerThreads < 0 ? WorkerThreads::spareProcessors() : workerThreads);
    Lookahead ahead(session, list, workers);
    const std::unique_ptr<Progress> progress = person.progress(QStringLiteral("Saving ..."), count);
    const QString ofCount = QLatin1String(" of ") + QString::number(count);
    for (qint64 i = 1; i <= count; ++i) {
        // Between two mails: the files of every mail before stay whole.
        if (progress->cancelled()) {
            summary.cancelled = true;
            break;
        }
        progress->setStatus(QLatin1String("Saving ") + QString::number(i) + ofCount);
        progress->setValue(i);
        ++summary.attempted;
        FoundEmail found = ahead.take();
        const Result<SavedEmail> saved = saveFound(session, mailFolderText, list.row(int(i - 1)), found);
        if (!saved) {
            summary.stoppedBy = saved.error();
            person.message(QStringLiteral("Error saving email."));
            break;
        }
        switch (saved->outcome) {
        case SavedEmail::Outcome::Written:
            ++summary.written;
            break;
        case SavedEmail::Outcome::Failed:
            if (++summary.failed == 1)
                summary.firstFailure = saved->failure;
            break;
        }
    }
    summary.finished = !summary.stoppedBy && !summary.cancelled;
    if (summary.cancelled)
        person.message(cancelledMessage(summary));
    if (summary.failed > 0)
        person.message(failureMessage(summary));
    return summary;
}

std::optional<QString> outputType(const QString& fnOutput)
{
    const QString type = fnOutput.toLower();
    if (isFileType(type) || type == u"dir")
        return type;
    return std::nullopt;
}

QString getFolderPart(const QString& mailFolderText, const mail::MailItem& email)
{
    const std::unique_ptr<mail::Folder> parent = email.parent();
    if (!parent)
        return QString();
    return stripTrailing(u'/', stripLeading(u'/', parent->fullFolderPath().mid(mailFolderText.size())));
}

QString stripLeading(QChar character, const QString& text)
{
    qsizetype start = 0;
    while (start < text.size() && text[start] == character)
        ++start;
    return text.mid(start);
}

QString stripTrailing(QChar character, const QString& text)
{
    qsizetype end = text.size();
    while (end > 0 && text[end - 1] == character)
        --end;
    return text.left(end);
}

} // namespace quillbox

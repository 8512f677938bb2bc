// SPDX-License-Identifier: MIT
#include "output/saverun.h"

#include "core/workerthreads.h"
#include "mail/mailcopy.h"
#include "output/filename.h"
#include "output/formats.h"
#include "output/manifest.h"
#include "output/msg/msgwriter.h"
#include "output/outputnames.h"
#include "output/pdfoutput.h"

#include <QLocale>

#include <QCoreApplication>
#include <atomic>
#include <deque>
#include <future>
#include <mutex>
#include <type_traits>
#include <variant>

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
    return QCoreApplication::translate("SaveRun", "%1 of %2 emails could not be written. The first: %3")
        .arg(summary.failed)
        .arg(summary.written + summary.failed)
        .arg(summary.firstFailure ? summary.firstFailure->describe() : QString());
}

QString cancelledMessage(const SaveSummary& summary)
{
    return QCoreApplication::translate("SaveRun", "Saving was cancelled: %1 of %2 emails were saved, %3 were not.")
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
    // With SkipSaved or WriteIndex: what the destination holds from earlier runs, and this run's start.
    std::optional<output::Manifest> manifest;
    bool recordedNamesShared = false; // the names of the files it records, given to `names`
    QString runTime;
    // The rows of one folder follow each other, so the directory of the last mail is usually the next one's.
    QString lastFolderKey;
    std::optional<output::Directory> lastFolder;

    // The output type that FnOutput names as the settings stand, "msg" when it names none; worked out
    // again only when FnOutput has changed since.
    const QString& currentType()
    {
        if (!typeOf || *typeOf != settings.fnOutput) {
            typeOf = settings.fnOutput;
            type = outputType(settings.fnOutput).value_or(QStringLiteral("msg"));
        }
        return type;
    }

private:
    std::optional<QString> typeOf; // the FnOutput that `type` is of
    QString type;
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

// The .msg file of a mail whose message holds more bytes than this is written as it is built, on the thread
// that writes, rather than built in memory ahead: it may be tens of times the mail's size (a storage of
// its own for each recipient).
constexpr qsizetype kMsgBuiltAheadBytes = 1 << 20;

// The bytes of the file of a type for which isFileType() holds.
Result<QByteArray> fileContent(const QString& type, const mail::MailItem& email, const QLocale& locale)
{
    // A .msg file built in memory reaches the disk like every other file (unnamed or temporary file, then
    // its name).
    if (type == u"msg")
        return msg::msgBytes(email);
    if (type == u"txt")
        return formats::textContent(email, locale);
    if (type == u"rtf")
        return formats::rtfContent(email, locale);
    return formats::emlContent(email);
}

// An attachment as a file: its name made safe and split before its extension, its bytes, and the Content-ID
// by which the mail's HTML may show it.
struct AttachmentFile {
    QString stem;
    QString extension;
    Result<QByteArray> content;
    QString contentId;
};

AttachmentFile attachmentFile(const mail::Attachment& attachment)
{
    auto [stem, extension] = output::splitExtension(
        output::safeComponent(formats::attachmentName(attachment), QStringLiteral("attachment")));
    Result<QByteArray> content = attachment.data();
    // An Outlook item attached to a mail has no bytes of its own: it is written as the .msg file
    // Outlook would give for it.
    if (!content) {
        if (const std::unique_ptr<mail::MailItem> embedded = attachment.embeddedMessage()) {
            content = msg::msgBytes(*embedded);
            if (extension.compare(QLatin1String(".msg"), Qt::CaseInsensitive) != 0) {
                stem += extension;
                extension = QStringLiteral(".msg");
            }
        }
    }
    return { stem, extension, std::move(content), attachment.contentId() };
}

// Every attachment of the mail as a file; an Error when the store cannot list them.
Result<std::vector<AttachmentFile>> attachmentFiles(const mail::MailItem& email)
{
    auto attachments = email.attachments();
    if (!attachments)
        return attachments.error();
    std::vector<AttachmentFile> files;
    for (const auto& attachment : *attachments)
        files.push_back(attachmentFile(*attachment));
    return files;
}

// What a mail's directory holds, built before it is written: any thread may build it. The HTML is left
// to the writing when an attachment has a Content-ID: its links then name the attachments' files, whose
// names are given only as they are written.
struct MailFiles {
    Result<QByteArray> text;
    std::optional<formats::DirectoryHtml> html;
    Result<std::vector<AttachmentFile>> attachments;
};

// What is built of a mail for its output type ("dir" or a type for which isFileType() holds): the bytes
// of its file, or the files of its directory. Any thread may build it from an item that stands alone.
using Built = std::variant<Result<QByteArray>, MailFiles>;

Built buildFor(const QString& type, const mail::MailItem& email, const QLocale& locale);

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

    // What is done beside writing each file: its record for the manifest, its time.
    bool recordFiles = false;
    QDateTime fileTime; ///< invalid: the files keep the time of their writing
    QList<output::ManifestFile> written;

    SavedEmail result() const
    {
        if (m_first)
            return SavedEmail { SavedEmail::Outcome::Failed, m_first };
        return SavedEmail {};
    }

private:
    std::optional<Error> m_first;
};

// What follows the writing of the file `fileName` in `dir`, whose key in the name book is `key`: its record
// (by `record`, when the run keeps one) and its time.
void afterWriting(const output::Directory& dir, const QString& key, const QString& fileName, const Status& written,
    const std::function<Result<output::ManifestFile>(const QString& path)>& record, Failures& failures)
{
    failures.add(written);
    if (!written)
        return;
    if (failures.recordFiles) {
        const Result<output::ManifestFile> file = record(joinKey(key, fileName));
        if (file)
            failures.written << *file;
        else
            failures.add(file.error());
    }
    if (failures.fileTime.isValid())
        failures.add(dir.setTime(fileName, failures.fileTime));
}

// The file `fileName` in `dir`, whose key in the name book is `key`.
void writeContent(SaveSession& session, const output::Directory& dir, const QString& key, const QString& fileName,
    const Result<QByteArray>& content, Failures& failures)
{
    if (!content) {
        failures.addUnbuilt(dir.filePath(fileName), content.error());
        return;
    }
    afterWriting(
        dir, key, fileName, dir.writeFile(fileName, *content, session.disk),
        [&](const QString& path) { return output::ManifestFile::of(path, *content); }, failures);
}

// The mail's .msg file `fileName` in `dir`, whose key in the name book is `key`, written as it is built.
void writeMsgAsBuilt(SaveSession& session, const output::Directory& dir, const QString& key, const QString& fileName,
    const mail::MailItem& email, Failures& failures)
{
    const Status written = dir.writeFile(
        fileName, [&email](output::FileOutput& out) { return msg::writeMsg(email, out); }, session.disk);
    afterWriting(
        dir, key, fileName, written,
        [&](const QString& path) { return output::ManifestFile::ofFile(dir, fileName, path); }, failures);
}

// The time a mail's files are dated with: received, else sent; invalid when the store has neither.
QDateTime mailTime(const mail::MailItem& email)
{
    const mail::ItemSummary& summary = email.summary();
    if (mail::isKnownTime(summary.receivedTime))
        return summary.receivedTime;
    return summary.sent && mail::isKnownTime(summary.sentOn) ? summary.sentOn : QDateTime();
}

// The directory `dirName` in `dir` (whose key in the name book is `key`) with every attachment of the mail
// under its own name made safe and unique; nothing when the mail has none. Returns where each attachment
// with a Content-ID was written, relative to `dir`, by its Content-ID.
QHash<QString, QString> writeAttachmentDirectory(SaveSession& session, const output::Directory& dir, const QString& key,
    const QString& dirName, const Result<std::vector<AttachmentFile>>& attachments, Failures& failures)
{
    QHash<QString, QString> linkTargets;
    if (!attachments) {
        failures.addUnbuilt(dir.filePath(dirName), attachments.error());
        return linkTargets;
    }
    if (attachments->empty())
        return linkTargets;
    auto attachmentDir = dir.subdirectory(dirName, session.disk);
    if (!attachmentDir) {
        failures.add(attachmentDir.error());
        return linkTargets;
    }
    const QString attachmentKey = joinKey(key, dirName);
    for (const AttachmentFile& file : *attachments) {
        const QString fileName = session.names.claim(attachmentKey, file.stem, file.extension);
        writeContent(session, *attachmentDir, attachmentKey, fileName, file.content, failures);
        if (!file.contentId.isEmpty())
            linkTargets.insert(file.contentId, dirName + u'/' + fileName);
    }
    if (failures.fileTime.isValid())
        failures.add(dir.setTime(dirName, failures.fileTime));
    return linkTargets;
}

MailFiles buildMailFiles(const mail::MailItem& email, const QLocale& locale)
{
    MailFiles files { formats::textContent(email, locale), std::nullopt, attachmentFiles(email) };
    const bool linked = files.attachments
        && std::any_of(files.attachments->begin(), files.attachments->end(),
            [](const AttachmentFile& file) { return !file.contentId.isEmpty(); });
    if (!linked)
        files.html = formats::directoryHtml(email, locale);
    return files;
}

// message.txt, message.html, index.html for a mail with an HTML body and, when the mail has attachments,
// attachments/ with each under its own name made safe and unique, in `dir`, whose key in the name book is `key`.
void writeMailFiles(SaveSession& session, const QString& key, const output::Directory& dir, const mail::MailItem& email,
    const MailFiles& files, Failures& failures)
{
    // Nothing else in the run may take these names, should a folder's directory meet this one.
    for (const char* fixed : { "message.txt", "message.html", "index.html", "attachments" })
        session.names.share(key, QLatin1String(fixed));
    writeContent(session, dir, key, QStringLiteral("message.txt"), files.text, failures);
    const QHash<QString, QString> linkTargets
        = writeAttachmentDirectory(session, dir, key, QStringLiteral("attachments"), files.attachments, failures);
    const formats::DirectoryHtml html
        = files.html ? *files.html : formats::directoryHtml(email, session.locale, linkTargets);
    writeContent(session, dir, key, QStringLiteral("message.html"), html.message, failures);
    if (!html.index.isEmpty())
        writeContent(session, dir, key, QStringLiteral("index.html"), html.index, failures);
}

// The mail's PDF file named `name` in the target and, when the mail has attachments, a directory of the same
// name beside it that holds them: Qt's PDF writer cannot embed files.
void writePdf(
    SaveSession& session, const Target& target, const QString& name, const mail::MailItem& email, Failures& failures)
{
    const QString fileName = session.names.claim(target.key, name, QStringLiteral(".pdf"));
    writeContent(session, *target.dir, target.key, fileName, output::pdfBuilder()(email, session.locale), failures);
    const QString dirName = fileName.chopped(4);
    if (const auto attachments = attachmentFiles(email); !attachments || !attachments->empty())
        writeAttachmentDirectory(
            session, *target.dir, target.key, session.names.claim(target.key, dirName), attachments, failures);
}

// Every attachment of the mail on its own in the target, named `name`, a blank and its own name. Whether
// the mail had any.
bool writeAttachmentsOnly(
    SaveSession& session, const Target& target, const QString& name, const mail::MailItem& email, Failures& failures)
{
    const auto attachments = attachmentFiles(email);
    if (!attachments) {
        failures.addUnbuilt(target.dir->filePath(name), attachments.error());
        return true;
    }
    for (const AttachmentFile& file : *attachments) {
        const QString fileName = session.names.claim(target.key, name + u' ' + file.stem, file.extension);
        writeContent(session, *target.dir, target.key, fileName, file.content, failures);
    }
    return !attachments->empty();
}

// The mail's own directory named `name` in the target, built under a temporary name and named when
// whole: a mail that cannot be written whole leaves nothing.
void writeMailDirectory(SaveSession& session, const Target& target, const QString& name, const mail::MailItem& email,
    const MailFiles& files, Failures& failures)
{
    const QString dirName = session.names.claim(target.key, name);
    auto pending = output::PendingDirectory::make(*target.dir, dirName, session.disk);
    if (!pending) {
        failures.add(pending.error());
        return;
    }
    writeMailFiles(session, joinKey(target.key, dirName), pending->directory(), email, files, failures);
    if (!failures.any())
        failures.add(pending->commit(session.disk));
    if (!failures.any() && failures.fileTime.isValid())
        failures.add(target.dir->setTime(dirName, failures.fileTime));
}

} // namespace

namespace {

// A mail looked up on a worker thread, and the message bytes counted for it ahead; when the store holds no
// bytes of the message, its .eml file, built there too.
struct LookedUp {
    Result<std::shared_ptr<const mail::MailItem>> email;
    std::optional<Built> built;
    qsizetype bytes = 0;
};

// The mail of a row, and the bytes of its file when a worker thread built them ahead of the writing.
struct FoundEmail {
    Result<std::shared_ptr<const mail::MailItem>> email;
    QString type; ///< the output type `built` is built for
    std::future<Built> built; ///< valid when the files were built with the lookup (.eml)
    /// Set while the mail is looked up ahead (.eml): then `email` is to be taken from it.
    std::shared_ptr<OnceJob<std::optional<LookedUp>>> lookup {};
    qsizetype bytes = 0; ///< the message bytes held for it
    bool alreadySaved = false; ///< recorded as saved as `type` (SkipSaved): not looked up, not to be written
    std::shared_ptr<OnceJob<Built>> job {}; ///< what builds `built`, on whichever thread comes to it first
};

// Whether the mail of `row` need not be written as `type`: SkipSaved is on and the manifest records it so.
bool alreadySaved(const SaveSession& session, const ResultRow& row, const QString& type)
{
    return session.settings.skipSaved != 0 && session.manifest && session.manifest->savedWhole(row.entryId, type);
}

// Appends the mail written whole to the manifest; a line that cannot be written fails the mail.
void record(SaveSession& session, const mail::MailItem& email, const QString& type, Failures& failures)
{
    output::ManifestEntry entry = output::ManifestEntry::of(email, type, session.runTime);
    entry.files = failures.written;
    failures.add(session.manifest->append(entry, *session.destination, session.disk));
}

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

// With SkipSaved, before the first mail is written: the names of the files the manifest records as in
// place are kept from every other mail. A run that writes nothing never needs them.
void shareRecordedNames(SaveSession& session)
{
    if (session.recordedNamesShared || !session.manifest)
        return;
    session.recordedNamesShared = true;
    session.manifest->forEachWholeFile([&session](const QString& path) {
        QString parent;
        for (const QString& name : path.split(u'/')) {
            session.names.share(parent, name);
            parent = joinKey(parent, name);
        }
    });
}

// The entry identifiers of the rows of `list` that the run will look up, in list order.
QStringList entryIDsToSave(const SaveSession& session, const ResultList& list)
{
    const QString type = outputType(session.settings.fnOutput).value_or(QStringLiteral("msg"));
    QStringList entryIDs;
    for (int i = 0; i < list.count(); ++i)
        if (!alreadySaved(session, list.row(i), type))
            entryIDs << list.row(i).entryId;
    return entryIDs;
}

// Saves the mail `found` of `row` as `type`, the output type as the settings stand.
Result<SavedEmail> saveFound(
    SaveSession& session, const QString& mailFolderText, const ResultRow& row, const QString& type, FoundEmail& found)
{
    shareRecordedNames(session);
    const Settings& settings = session.settings;
    const Result<QString> expanded = expandFileName(settings.fnFormat, row, settings);
    if (!expanded)
        return expanded.error();
    // Never hidden, never a control character that could disguise it: the same rule as every other name.
    const QString name = output::safeComponent(makeSafeFileName(*expanded), QStringLiteral("email"));
    // The worker is done with the item before this thread uses it again.
    std::optional<Built> builtAhead;
    if (found.built.valid())
        builtAhead = found.built.get();
    else if (found.job)
        builtAhead = found.job->take();
    if (found.type != type) // the settings changed while the run went on
        builtAhead.reset();
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
    failures.recordFiles = session.manifest.has_value();
    if (settings.setFileTimes != 0)
        failures.fileTime = mailTime(email);
    Target target;
    bool nothingToWrite = false;
    if (auto dir = folderDirectory(session, components))
        target = *dir;
    else
        failures.add(dir.error()); // nothing of this mail can be written

    if (isFileType(type)) {
        if (target.dir) {
            const QString fileName = session.names.claim(target.key, name, u'.' + type);
            if (builtAhead)
                writeContent(
                    session, *target.dir, target.key, fileName, std::get<Result<QByteArray>>(*builtAhead), failures);
            else if (type == u"msg")
                writeMsgAsBuilt(session, *target.dir, target.key, fileName, email, failures);
            else
                writeContent(
                    session, *target.dir, target.key, fileName, fileContent(type, email, session.locale), failures);
        }
    } else if (type == u"dir") {
        if (target.dir)
            writeMailDirectory(session, target, name, email,
                builtAhead ? std::get<MailFiles>(*builtAhead) : buildMailFiles(email, session.locale), failures);
    } else if (type == u"pdf" && output::pdfBuilder()) {
        if (target.dir)
            writePdf(session, target, name, email, failures);
    } else if (type == u"att") {
        if (target.dir)
            nothingToWrite = !writeAttachmentsOnly(session, target, name, email, failures);
    } else {
        session.person.message(QCoreApplication::translate("SaveRun", "Error in output format."));
        return SavedEmail { SavedEmail::Outcome::UnknownFormat, std::nullopt };
    }
    if (failures.recordFiles && !failures.any())
        record(session, email, type, failures);
    if (nothingToWrite && !failures.any())
        return SavedEmail { SavedEmail::Outcome::NoAttachments, std::nullopt };
    return failures.result();
}

// The rows after the one being written: their mails are found in list order, and their files are built on
// the worker threads, so that writing seldom waits for building. An item that stands alone (Maildir) is
// handed over as it is; of another (PST), what its files need is read here, on the saving thread, into an
// item that stands alone. The mails of .eml files, which are the message's bytes, are looked up on the
// worker threads themselves (or by the saving thread, when it comes to one that no worker has started):
// reading them is most of their cost. The store is used by one thread at a time
// (Shared::store). Rows go to the threads kBatch at a time; a few batches per thread, and at most
// kBytesAhead of their messages, are held ahead. Where the workers fall behind, the saving thread builds
// files ahead too, rather than wait for them.
class Lookahead {
public:
    Lookahead(SaveSession& session, const ResultList& list, WorkerThreads& workers)
        : m_session(session)
        , m_list(list)
        , m_workers(workers)
        , m_rowsAhead(workers.count() == 0 ? 0 : 2 * kBatch * workers.count())
    {
    }
    // The lookups that have not started find nothing; a mail found ahead goes while the store is held.
    ~Lookahead()
    {
        const std::lock_guard lock(m_shared->store);
        m_shared->stopping = true;
        m_ahead.clear();
    }
    Lookahead(const Lookahead&) = delete;
    Lookahead& operator=(const Lookahead&) = delete;

    // The next row's mail; rows are taken in list order, each once.
    FoundEmail take()
    {
        fill();
        FoundEmail next = std::move(m_ahead.front());
        m_ahead.pop_front();
        if (next.lookup)
            takeLookedUp(next, m_list.row(m_taken));
        ++m_taken;
        m_shared->bytes -= next.bytes;
        fill(); // the rows after it are built while it is written
        helpUntilBuilt(next);
        return next;
    }

    // The mail of `row`, looked up on this thread.
    Result<std::shared_ptr<const mail::MailItem>> findHere(const ResultRow& row)
    {
        const std::lock_guard lock(m_shared->store);
        return findEmail(m_session, row);
    }

    // Calls `use` with the store held when the mail of `found` shares it; the mail is let go while the
    // store is still held.
    template <class Use> std::invoke_result_t<Use> withStore(FoundEmail& found, Use&& use)
    {
        if (found.email && (*found.email)->standsAlone())
            return use();
        const std::lock_guard lock(m_shared->store);
        std::invoke_result_t<Use> result = use();
        found.email = Error {};
        return result;
    }

private:
    static constexpr qsizetype kBytesAhead = 32 * 1024 * 1024;
    static constexpr int kBatch = 8;
    using Task = std::function<void()>;

    // What the saving thread shares with the lookups on the worker threads, which may outlive it.
    struct Shared {
        std::mutex store; // held while a thread uses the store, or a mail that does not stand alone
        bool stopping = false; // under `store`: no more lookups
        std::atomic<qsizetype> bytes = 0; // the message bytes held ahead
    };

    bool full() const { return !m_ahead.empty() && m_shared->bytes >= kBytesAhead; }

    // Until the files of `next` are built, this thread builds rather than waits: those of `next` when no
    // worker has started them, else the files of the rows ahead that none has started.
    void helpUntilBuilt(const FoundEmail& next)
    {
        if (next.job)
            runUntilDone(
                *next.job, m_ahead.begin(), m_ahead.end(), [](const FoundEmail& found) { return found.job.get(); });
    }

    // Finds rows while a whole batch fits (or none is ahead) and hands those to be built to the threads.
    void fill()
    {
        if (!m_ahead.empty() && qsizetype(m_ahead.size()) + kBatch > m_rowsAhead)
            return;
        std::vector<Task> batch;
        for (int found = 0; found < kBatch && m_next < m_list.count() && !full(); ++found) {
            m_ahead.push_back(find(m_list.row(m_next++), batch));
            if (m_rowsAhead == 0)
                break;
        }
        if (!batch.empty())
            m_workers.post([batch = std::move(batch)] {
                for (const auto& task : batch)
                    task();
            });
    }

    FoundEmail find(const ResultRow& row, std::vector<Task>& batch)
    {
        const QString type = m_session.currentType();
        if (alreadySaved(m_session, row, type))
            return FoundEmail { Error {}, type, {}, {}, 0, true };
        if (type == u"eml" && m_workers.count() > 0)
            return lookUpAhead(row, type, batch);
        const std::lock_guard lock(m_shared->store);
        FoundEmail found { findEmail(m_session, row), type, {}, {}, 0 };
        if (!found.email)
            return found;
        const auto& email = *found.email;
        found.bytes = email->rawMessage().size();
        const bool built = (isFileType(found.type) && !(found.type == u"msg" && found.bytes > kMsgBuiltAheadBytes))
            || found.type == u"dir";
        if (m_workers.count() == 0 || !built) {
            m_shared->bytes += found.bytes;
            return found;
        }
        std::shared_ptr<const mail::MailItem> alone = email;
        if (!email->standsAlone()) {
            const bool attachments = found.type != u"txt" && found.type != u"rtf";
            mail::MailData data
                = mail::copyMail(*email, attachments ? mail::CopiedParts::All : mail::CopiedParts::NamesOnly);
            found.bytes = data.bytes();
            alone = std::make_shared<const mail::MemoryMailItem>(std::move(data));
        }
        m_shared->bytes += found.bytes;
        found.job = std::make_shared<OnceJob<Built>>(
            [email = std::move(alone), type = found.type, locale = m_session.locale] {
                return buildFor(type, *email, locale);
            });
        batch.push_back([job = found.job] { job->run(); });
        return found;
    }

    // The .eml of `row`, whose mail a worker thread looks up, or this one when it comes to the row first:
    // nothing when the bytes ahead are full by then (the mail is then looked up as it is taken).
    FoundEmail lookUpAhead(const ResultRow& row, const QString& type, std::vector<Task>& batch)
    {
        auto lookup = std::make_shared<OnceJob<std::optional<LookedUp>>>(
            [shared = m_shared, &session = m_session, &row]() -> std::optional<LookedUp> {
                std::unique_lock lock(shared->store);
                if (shared->stopping || shared->bytes >= kBytesAhead)
                    return std::nullopt;
                LookedUp found { findEmail(session, row), std::nullopt, 0 };
                if (!found.email)
                    return found;
                const mail::MailItem& email = **found.email;
                found.bytes = email.rawMessage().size();
                if (found.bytes == 0) { // built from the item
                    if (email.standsAlone())
                        lock.unlock();
                    Result<QByteArray> content = formats::emlContent(email);
                    found.bytes = content ? content->size() : 0;
                    found.built = std::move(content);
                }
                shared->bytes += found.bytes;
                return found;
            });
        FoundEmail found { Error {}, type, {}, lookup, 0 };
        batch.push_back([lookup] { lookup->run(); });
        return found;
    }

    // The mail of `row` as its lookup found it, or looked up now.
    void takeLookedUp(FoundEmail& next, const ResultRow& row)
    {
        next.lookup->run(); // here, when no worker has come to it yet
        std::optional<LookedUp> found = std::exchange(next.lookup, nullptr)->take();
        if (!found) {
            next.email = findHere(row);
        } else {
            next.email = std::move(found->email);
            next.bytes = found->bytes;
            if (found->built) {
                std::promise<Built> built;
                built.set_value(std::move(*found->built));
                next.built = built.get_future();
            }
        }
    }

    SaveSession& m_session;
    const ResultList& m_list;
    WorkerThreads& m_workers;
    const qsizetype m_rowsAhead;
    const std::shared_ptr<Shared> m_shared = std::make_shared<Shared>();
    std::deque<FoundEmail> m_ahead;
    int m_next = 0; // the first row not yet found
    int m_taken = 0; // the first row not yet taken
};

Built buildFor(const QString& type, const mail::MailItem& email, const QLocale& locale)
{
    if (type == u"dir")
        return buildMailFiles(email, locale);
    return fileContent(type, email, locale);
}

// With SkipSaved or WriteIndex: reads the destination's manifest and tells what it had to leave out of it;
// with SkipSaved the names of the files it records as in place are kept from every other mail. False when
// the manifest cannot be used, which has been told.
bool openManifest(SaveSession& session)
{
    const Settings& settings = session.settings;
    if ((settings.skipSaved == 0 && settings.writeIndex == 0) || !session.destination)
        return true;
    Result<output::Manifest> read = output::Manifest::read(*session.destination);
    if (!read) {
        session.person.message(
            QCoreApplication::translate("SaveRun", "The manifest %1 cannot be used: %2. Nothing was saved.")
                .arg(read.error().path, read.error().detail));
        return false;
    }
    if (read->ignoredLines() > 0)
        session.person.information(
            QCoreApplication::translate("SaveRun", "Lines left out of the manifest %1: %2. The first: %3")
                .arg(session.destination->filePath(output::Manifest::fileName()))
                .arg(read->ignoredLines())
                .arg(read->firstIgnored()));
    session.names.share(QString(), output::Manifest::indexName());
    session.recordedNamesShared = settings.skipSaved == 0;
    session.runTime = QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
    session.manifest = std::move(*read);
    return true;
}

// index.csv from the manifest, when the run keeps one and the index does not hold it already.
void writeIndex(SaveSession& session)
{
    if (!session.manifest || session.manifest->indexCurrent(*session.destination))
        return;
    const Status written
        = session.destination->writeFile(output::Manifest::indexName(), session.manifest->indexCsv(), session.disk);
    if (!written)
        session.person.message(QCoreApplication::translate("SaveRun", "The index could not be written: %1")
                                   .arg(written.error().describe()));
}

} // namespace

Result<SavedEmail> saveEmail(SaveSession& session, const QString& mailFolderText, const ResultRow& row)
{
    FoundEmail found { findEmail(session, row), QString(), {}, {}, 0 };
    return saveFound(session, mailFolderText, row, session.currentType(), found);
}

SaveSummary saveRun(Person& person, const Settings& settings, const QString& mailFolderText, const ResultList& list,
    const QString& destination, const NamespaceFactory& openNamespace, output::Disk& disk, int workerThreads)
{
    SaveSummary summary;
    if (mailFolderText.isEmpty()) {
        person.message(QCoreApplication::translate("SaveRun", "The 'Mail Folder' box is blank"));
        return summary;
    }
    if (destination.isEmpty()) {
        person.message(QCoreApplication::translate("SaveRun", "The 'Save to' box is blank"));
        return summary;
    }
    if (list.count() == 0) {
        person.message(QCoreApplication::translate("SaveRun", "There are no emails in the list."));
        return summary;
    }
    // A clip that is no number would fail every mail alike: the run does not start.
    if (const Status clips = checkClips(settings); !clips) {
        person.message(QCoreApplication::translate("SaveRun", "The %1 setting is %2.")
                           .arg(clips.error().path, clips.error().detail));
        return summary;
    }
    if (!outputType(settings.fnOutput))
        person.message(
            QStringLiteral("The FnOutput setting \"%1\" is not an output type (MSG, TXT, RTF, EML, DIR, PDF, ATT): "
                           "MSG is used.")
                .arg(settings.fnOutput));
    const QString target = destination.endsWith(u'/') ? destination : destination + u'/';
    const qint64 count = list.count();
    summary.rows = count;

    SaveSession session(person, settings, openNamespace(), target, disk);
    if (!openManifest(session))
        return summary;
    // Declared between the session and the rows ahead: on leaving, the rows ahead go first, then the
    // threads finish their running jobs (each holds its own share of its mail), then the session closes
    // the stores.
    WorkerThreads workers(workerThreads < 0 ? WorkerThreads::spareProcessors() : workerThreads);
    session.ns.expect(entryIDsToSave(session, list)); // a server's store fetches them in batches
    Lookahead ahead(session, list, workers);
    const std::unique_ptr<Progress> progress
        = person.progress(QCoreApplication::translate("SaveRun", "Saving ..."), count);
    // "Saving %1 of 12": the count is put in once.
    const QString saving
        = QCoreApplication::translate("SaveRun", "Saving %1 of %2").arg(QStringLiteral("%1"), QString::number(count));
    for (qint64 i = 1; i <= count; ++i) {
        // Between two mails: the files of every mail before stay whole.
        if (progress->cancelled()) {
            summary.cancelled = true;
            break;
        }
        progress->setStatus(saving.arg(i));
        progress->setValue(i);
        const ResultRow& row = list.row(int(i - 1));
        FoundEmail found = ahead.take();
        const QString type = session.currentType();
        if (found.alreadySaved) {
            if (found.type == type) {
                ++summary.alreadySaved;
                continue;
            }
            found.email = ahead.findHere(row); // the output type changed meanwhile
        }
        ++summary.attempted;
        const Result<SavedEmail> saved
            = ahead.withStore(found, [&] { return saveFound(session, mailFolderText, row, type, found); });
        if (!saved) {
            summary.stoppedBy = saved.error();
            person.message(QCoreApplication::translate("SaveRun", "Error saving email."));
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
        case SavedEmail::Outcome::UnknownFormat:
            break;
        case SavedEmail::Outcome::NoAttachments:
            ++summary.written;
            ++summary.withoutAttachments;
            break;
        }
    }
    summary.finished = !summary.stoppedBy && !summary.cancelled;
    if (summary.cancelled)
        person.message(cancelledMessage(summary));
    if (summary.failed > 0)
        person.message(failureMessage(summary));
    writeIndex(session);
    if (summary.withoutAttachments > 0)
        person.information(
            QCoreApplication::translate("SaveRun", "%1 of %2 emails have no attachments: nothing was written for them.")
                .arg(summary.withoutAttachments)
                .arg(summary.attempted));
    if (settings.skipSaved != 0 && session.manifest)
        person.information(QCoreApplication::translate("SaveRun", "%1 new, %2 already saved.")
                               .arg(summary.written)
                               .arg(summary.alreadySaved));
    return summary;
}

std::optional<QString> outputType(const QString& fnOutput)
{
    const QString type = fnOutput.toLower();
    if (isFileType(type) || type == u"dir" || type == u"pdf" || type == u"att")
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

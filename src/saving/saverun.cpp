// SPDX-License-Identifier: MIT
#include "saving/saverun.h"

#include "saving/filename.h"
#include "saving/formats.h"
#include "saving/msg/msgwriter.h"
#include "saving/outputnames.h"

#include <QLocale>
#include <gsf/gsf-output-memory.h>

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
    if (Status made = MakeDirPath(path, disk); !made)
        return made.error();
    return output::Directory::open(path, disk);
}

// The .msg file in memory: the writer builds its compound file there, and the bytes reach the disk the
// way every other saved file does (temporary file, then rename). libgsf's own file sink would follow a
// symbolic link at the target and write through it.
Result<QByteArray> msgContent(const mail::MailItem& email)
{
    GsfOutput* sink = gsf_output_memory_new();
    const Status status = msg::writeMsg(email, sink);
    QByteArray bytes;
    if (status)
        bytes = QByteArray(reinterpret_cast<const char*>(gsf_output_memory_get_bytes(GSF_OUTPUT_MEMORY(sink))),
            qsizetype(gsf_output_size(sink)));
    g_object_unref(sink);
    if (!status)
        return status.error();
    return bytes;
}

QString failureMessage(const SaveSummary& summary)
{
    return QStringLiteral("%1 of %2 emails could not be written. The first: %3")
        .arg(summary.failed)
        .arg(summary.written + summary.failed)
        .arg(summary.firstFailure ? summary.firstFailure->describe() : QString());
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
    if (type == u"msg")
        return msgContent(email);
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

// The per-mail directory: message.txt, message.html and, when the mail has attachments, attachments/
// with each under its own name made safe and unique.
void writeMailDirectory(
    SaveSession& session, const Target& target, const QString& name, const mail::MailItem& email, Failures& failures)
{
    const QString dirName = session.names.claim(target.key, output::safeComponent(name, QStringLiteral("email")));
    auto dir = target.dir->subdirectory(dirName, session.disk);
    if (!dir) {
        failures.add(dir.error());
        return;
    }
    const QString key = joinKey(target.key, dirName);
    // Nothing else in the run may take these names, should a folder's directory meet this one.
    for (const char* fixed : { "message.txt", "message.html", "attachments" })
        session.names.share(key, QLatin1String(fixed));
    writeContent(session, *dir, QStringLiteral("message.txt"), formats::textContent(email, session.locale), failures);
    writeContent(session, *dir, QStringLiteral("message.html"), formats::htmlContent(email, session.locale), failures);

    auto attachments = email.attachments();
    if (!attachments) {
        failures.addUnbuilt(dir->filePath(QStringLiteral("attachments")), attachments.error());
        return;
    }
    if (attachments->empty())
        return;
    auto attachmentDir = dir->subdirectory(QStringLiteral("attachments"), session.disk);
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
                content = msgContent(*embedded);
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

} // namespace

Result<SavedEmail> SaveEmail(SaveSession& session, const QString& mailFolderText, const ResultRow& row)
{
    const Settings& settings = session.settings;
    const QString type = settings.FnOutput.toLower();
    const Result<QString> expanded = ExpandFileName(settings.FnFormat, row, settings);
    if (!expanded)
        return expanded.error();
    const QString name = MakeSafeFileName(*expanded);
    if (row.cells.size() <= ColEntryID)
        return Error { Error::Code::Invalid, QString(), QStringLiteral("the row has no EntryID") };
    const QString entryID = row.cells[ColEntryID];
    auto found = session.ns.getItemFromID(entryID);
    if (!found)
        return found.error();
    const mail::MailItem& email = **found;
    if (email.summary().itemClass != mail::kClassMail)
        return Error { Error::Code::NotFound, entryID, QStringLiteral("the item is not a mail item") };

    QStringList components;
    if (settings.UseFnFolder != 0) {
        const QString part = GetFolderPart(mailFolderText, email);
        if (!part.isEmpty())
            for (const QString& folder : part.split(u'/'))
                components << output::fitName(output::safeComponent(folder, QStringLiteral("folder")));
    }
    Failures failures;
    Target target;
    if (auto dir = folderDirectory(session, components))
        target = *dir;
    else if (!components.isEmpty())
        return dir.error(); // as when a folder's directory cannot be made
    else
        failures.add(dir.error()); // the destination itself: nothing of this mail can be written

    if (isFileType(type)) {
        if (target.dir) {
            const QString fileName = session.names.claim(target.key, name, u'.' + type);
            writeContent(session, *target.dir, fileName, fileContent(type, email, session.locale), failures);
        }
    } else if (type == u"dir") {
        if (target.dir)
            writeMailDirectory(session, target, name, email, failures);
    } else {
        session.person.message(QStringLiteral("Error in output format."));
        return SavedEmail { SavedEmail::Outcome::UnknownFormat, std::nullopt };
    }
    return failures.result();
}

SaveSummary SaveRun(Person& person, const Settings& settings, const QString& mailFolderText, const ResultList& list,
    const QString& destination, const NamespaceFactory& openNamespace, output::Disk& disk)
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
    const QString target = destination.endsWith(u'/') ? destination : destination + u'/';
    const qint64 count = list.count();
    summary.rows = count;

    SaveSession session(person, settings, openNamespace(), target, disk);
    const std::unique_ptr<Progress> progress = person.progress(QStringLiteral("Saving ..."), count);
    // Each number is written after one space, the place of its sign: "Saving  3 of  12".
    const QString ofCount = QLatin1String(" of  ") + QString::number(count);
    for (qint64 i = 1; i <= count; ++i) {
        progress->setStatus(QLatin1String("Saving  ") + QString::number(i) + ofCount);
        progress->setValue(i);
        ++summary.attempted;
        const Result<SavedEmail> saved = SaveEmail(session, mailFolderText, list.row(int(i - 1)));
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
        case SavedEmail::Outcome::UnknownFormat:
            break;
        }
    }
    summary.finished = !summary.stoppedBy;
    if (summary.failed > 0)
        person.message(failureMessage(summary));
    return summary;
}

QString GetFolderPart(const QString& mailFolderText, const mail::MailItem& email)
{
    const std::unique_ptr<mail::Folder> parent = email.parent();
    if (!parent)
        return QString();
    return StripTrailing(u'/', StripLeading(u'/', parent->fullFolderPath().mid(mailFolderText.size())));
}

QString StripLeading(QChar character, const QString& text)
{
    qsizetype start = 0;
    while (start < text.size() && text[start] == character)
        ++start;
    return text.mid(start);
}

QString StripTrailing(QChar character, const QString& text)
{
    qsizetype end = text.size();
    while (end > 0 && text[end - 1] == character)
        --end;
    return text.left(end);
}

} // namespace quillbox

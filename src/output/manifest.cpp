// SPDX-License-Identifier: MIT
#include "output/manifest.h"

#include "mail/store.h"
#include "output/formats.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <algorithm>

namespace quillbox::output {

namespace {

QString isoTime(const QDateTime& time)
{
    if (!mail::isKnownTime(time))
        return QString();
    return time.toOffsetFromUtc(time.offsetFromUtc()).toString(Qt::ISODate);
}

// The Message-ID field of an Internet header block, unfolded and without its angle brackets.
QString messageIdOf(const QString& headers)
{
    static const QRegularExpression field(QStringLiteral("(?:^|\\n)Message-ID:[ \\t]*((?:[^\\r\\n]|\\r?\\n[ \\t])*)"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = field.match(headers);
    if (!match.hasMatch())
        return QString();
    QString id = match.captured(1).simplified();
    if (id.startsWith(u'<') && id.endsWith(u'>'))
        id = id.mid(1, id.size() - 2);
    return id;
}

// The keys of a line; short, because a line is written per mail.
namespace key {
const QString version = QStringLiteral("v");
const QString entryId = QStringLiteral("entryId");
const QString messageId = QStringLiteral("messageId");
const QString type = QStringLiteral("type");
const QString run = QStringLiteral("run");
const QString folder = QStringLiteral("folder");
const QString sent = QStringLiteral("sent");
const QString received = QStringLiteral("received");
const QString from = QStringLiteral("from");
const QString to = QStringLiteral("to");
const QString cc = QStringLiteral("cc");
const QString subject = QStringLiteral("subject");
const QString attachments = QStringLiteral("attachments");
const QString files = QStringLiteral("files");
const QString path = QStringLiteral("path");
const QString size = QStringLiteral("size");
const QString sha256 = QStringLiteral("sha256");
} // namespace key

// The fields of `entry` that are texts, with their keys.
QList<std::pair<const QString*, QString ManifestEntry::*>> textFields()
{
    return { { &key::entryId, &ManifestEntry::entryId }, { &key::messageId, &ManifestEntry::messageId },
        { &key::type, &ManifestEntry::type }, { &key::run, &ManifestEntry::runTime },
        { &key::folder, &ManifestEntry::folder }, { &key::sent, &ManifestEntry::sent },
        { &key::received, &ManifestEntry::received }, { &key::from, &ManifestEntry::from },
        { &key::to, &ManifestEntry::to }, { &key::cc, &ManifestEntry::cc },
        { &key::subject, &ManifestEntry::subject } };
}

QByteArray lineOf(const ManifestEntry& entry)
{
    QJsonObject object { { key::version, Manifest::kVersion } };
    for (const auto& [name, field] : textFields())
        object.insert(*name, entry.*field);
    object.insert(key::attachments, QJsonArray::fromStringList(entry.attachments));
    QJsonArray files;
    for (const ManifestFile& file : entry.files)
        files.append(QJsonObject {
            { key::path, file.path }, { key::size, file.size }, { key::sha256, QString::fromLatin1(file.sha256) } });
    object.insert(key::files, files);
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

// Whether `path` names a place below the destination: relative, and no name in it "", "." or "..".
bool staysBelow(const QString& path)
{
    const QStringList names = path.split(u'/');
    return std::none_of(names.begin(), names.end(),
        [](const QString& name) { return name.isEmpty() || name == u"." || name == u".." || name.contains(QChar(0)); });
}

// The entry a line's object holds, or why it holds none.
Result<ManifestEntry> entryOf(const QJsonObject& object)
{
    const auto invalid = [](const QString& why) { return Error { Error::Code::Invalid, QString(), why }; };
    ManifestEntry entry;
    for (const auto& [name, field] : textFields())
        entry.*field = object.value(*name).toString();
    if (entry.entryId.isEmpty() || entry.type.isEmpty())
        return invalid(QStringLiteral("no entry identifier or output type"));
    for (const QJsonValue& name : object.value(key::attachments).toArray())
        entry.attachments << name.toString();
    for (const QJsonValue& value : object.value(key::files).toArray()) {
        const QJsonObject file = value.toObject();
        ManifestFile record { file.value(key::path).toString(), qint64(file.value(key::size).toDouble(-1)),
            file.value(key::sha256).toString().toLatin1() };
        if (!staysBelow(record.path))
            return invalid(QStringLiteral("the path \"%1\" is not below the destination").arg(record.path));
        if (record.size < 0)
            return invalid(QStringLiteral("a file without its size"));
        entry.files << record;
    }
    return entry;
}

QByteArray csvField(const QString& text)
{
    static const QRegularExpression special(QStringLiteral("[\",\\r\\n]"));
    if (!text.contains(special))
        return text.toUtf8();
    QString quoted = text;
    return '"' + quoted.replace(u'"', QLatin1String("\"\"")).toUtf8() + '"';
}

QByteArray csvRow(const QStringList& fields)
{
    QByteArrayList cells;
    for (const QString& field : fields)
        cells << csvField(field);
    return cells.join(',') + "\r\n";
}

// Several values in one cell, one per line: a line break inside a value becomes a space.
QString oneCell(const QStringList& values)
{
    QStringList lines;
    for (const QString& value : values)
        lines << QString(value).replace(QRegularExpression(QStringLiteral("[\\r\\n]+")), QStringLiteral(" "));
    return lines.join(u'\n');
}

} // namespace

ManifestFile ManifestFile::of(const QString& path, QByteArrayView content)
{
    return { path, content.size(), QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex() };
}

Result<ManifestFile> ManifestFile::ofFile(const Directory& dir, const QString& name, const QString& path)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    qint64 size = 0;
    const Status read = dir.readFile(name, [&](QByteArrayView piece) {
        hash.addData(piece);
        size += piece.size();
    });
    if (!read)
        return read.error();
    return ManifestFile { path, size, hash.result().toHex() };
}

ManifestEntry ManifestEntry::of(const mail::MailItem& email, const QString& type, const QString& runTime)
{
    const mail::ItemSummary& summary = email.summary();
    ManifestEntry entry;
    entry.entryId = summary.entryID;
    entry.messageId = messageIdOf(email.transportHeaders());
    entry.type = type;
    entry.runTime = runTime;
    if (const std::unique_ptr<mail::Folder> parent = email.parent())
        entry.folder = parent->folderPath();
    entry.sent = summary.sent ? isoTime(summary.sentOn) : QString();
    entry.received = isoTime(summary.receivedTime);
    entry.from = formats::fromText(email);
    entry.to = formats::toText(email);
    entry.cc = formats::ccText(email);
    entry.subject = summary.subject;
    if (const auto attachments = email.attachments())
        for (const auto& attachment : *attachments)
            entry.attachments << attachment->fileName();
    return entry;
}

qint64 ManifestEntry::size() const
{
    qint64 total = 0;
    for (const ManifestFile& file : files)
        total += file.size;
    return total;
}

QString Manifest::fileName()
{
    return QStringLiteral(".quillbox-manifest.jsonl");
}

QString Manifest::indexName()
{
    return QStringLiteral("index.csv");
}

Result<Manifest> Manifest::read(const Directory& destination)
{
    const Result<QByteArray> bytes = destination.readFile(fileName());
    if (!bytes)
        return bytes.error();
    Manifest manifest;
    manifest.m_needsLineEnd = !bytes->isEmpty() && !bytes->endsWith('\n');
    int lineNumber = 0;
    for (const QByteArray& line : bytes->split('\n')) {
        ++lineNumber;
        if (line.trimmed().isEmpty())
            continue;
        QJsonParseError parsed;
        const QJsonDocument document = QJsonDocument::fromJson(line, &parsed);
        if (!document.isObject()) {
            manifest.ignore(lineNumber, QStringLiteral("not a JSON object"));
            continue;
        }
        const QJsonObject object = document.object();
        const int version = object.value(key::version).toInt(0);
        if (version > kVersion)
            return Error { Error::Code::Invalid, destination.filePath(fileName()),
                QStringLiteral("line %1 was written by a newer version of Quillbox").arg(lineNumber) };
        Result<ManifestEntry> entry = version == kVersion
            ? entryOf(object)
            : Error { Error::Code::Invalid, QString(), QStringLiteral("no version") };
        if (!entry) {
            manifest.ignore(lineNumber, entry.error().detail);
            continue;
        }
        const bool whole = std::all_of(entry->files.begin(), entry->files.end(), [&](const ManifestFile& file) {
            const auto found = destination.regularFile(file.path);
            return found && found->size == file.size;
        });
        manifest.hold(std::move(*entry), whole);
    }
    return manifest;
}

void Manifest::ignore(int line, const QString& why)
{
    if (m_ignored++ == 0)
        m_firstIgnored = QStringLiteral("line %1: %2").arg(line).arg(why);
}

void Manifest::hold(ManifestEntry entry, bool whole)
{
    const QString key = entry.type + u'\n' + entry.entryId;
    if (const auto found = m_index.constFind(key); found != m_index.cend()) {
        m_entries[*found] = Held { std::move(entry), whole };
        return;
    }
    m_index.insert(key, m_entries.size());
    m_entries.append(Held { std::move(entry), whole });
}

QList<ManifestEntry> Manifest::entries() const
{
    QList<ManifestEntry> out;
    out.reserve(m_entries.size());
    for (const Held& held : m_entries)
        out << held.entry;
    return out;
}

bool Manifest::savedWhole(const QString& entryId, const QString& type) const
{
    const auto found = m_index.constFind(type + u'\n' + entryId);
    return found != m_index.cend() && m_entries[*found].whole;
}

void Manifest::forEachWholeFile(const std::function<void(const QString& path)>& visit) const
{
    for (const Held& held : m_entries)
        if (held.whole)
            for (const ManifestFile& file : held.entry.files)
                visit(file.path);
}

bool Manifest::indexCurrent(const Directory& destination) const
{
    if (m_file)
        return false;
    const auto index = destination.regularFile(indexName());
    const auto manifest = destination.regularFile(fileName());
    return index && manifest && index->modifiedNs >= manifest->modifiedNs;
}

Status Manifest::append(const ManifestEntry& entry, const Directory& destination, Disk& disk)
{
    if (!m_file) {
        Result<AppendFile> opened = destination.openAppend(fileName(), disk);
        if (!opened)
            return opened.error();
        m_file = std::move(*opened);
    }
    const QByteArray line = (m_needsLineEnd ? QByteArray("\n") : QByteArray()) + lineOf(entry);
    const Status appended = m_file->append(line, disk);
    if (appended)
        m_needsLineEnd = false;
    hold(entry, appended.ok());
    return appended;
}

QByteArray Manifest::indexCsv() const
{
    QByteArray csv = csvRow({ QStringLiteral("folder"), QStringLiteral("sent"), QStringLiteral("received"),
        QStringLiteral("from"), QStringLiteral("to"), QStringLiteral("cc"), QStringLiteral("subject"),
        QStringLiteral("message_id"), QStringLiteral("size"), QStringLiteral("attachment_count"),
        QStringLiteral("attachment_names"), QStringLiteral("files"), QStringLiteral("sha256") });
    for (const Held& held : m_entries) {
        const ManifestEntry& e = held.entry;
        QStringList paths, hashes;
        for (const ManifestFile& file : e.files) {
            paths << file.path;
            hashes << QString::fromLatin1(file.sha256);
        }
        csv += csvRow(
            { e.folder, e.sent, e.received, e.from, e.to, e.cc, e.subject, e.messageId, QString::number(e.size()),
                QString::number(e.attachments.size()), oneCell(e.attachments), oneCell(paths), oneCell(hashes) });
    }
    return csv;
}

} // namespace quillbox::output

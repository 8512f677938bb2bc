// SPDX-License-Identifier: MIT
#include "output/manifest.h"

#include "core/workerthreads.h"
#include "mail/store.h"
#include "output/formats.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <algorithm>
#include <cstring>

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

// A strict reader of one manifest line that keeps what the skip needs (the version, the entry identifier,
// the output type and each file's path and size) or, for the index, all of it. It takes a line only when it is JSON
// this reader is sure of and holds those in the form this program writes them (key order, spacing, escapes and other
// keys aside); it gives up on anything else (damage, a key twice, a value of another kind, a number that is no plain
// integer, a path that leaves the destination), and QJsonDocument reads that line as ever, so that a line means the
// same whichever reader took it and a bad line is told the same.
class LineScanner {
public:
    explicit LineScanner(QByteArrayView line)
        : m_at(line.data())
        , m_end(line.data() + line.size())
    {
    }

    /// The entry of the line: with `whole` every field, else only the identifier, the type and the files'
    /// paths and sizes.
    std::optional<ManifestEntry> entry(bool whole)
    {
        static const auto fields = textFields();
        ManifestEntry entry;
        qint64 version = 0;
        bool seen[16] = {}; // v, files, attachments, then the text fields
        const bool read = object([&](QByteArrayView name) {
            if (name == "v")
                return once(seen[0]) && integer(version);
            if (name == "files")
                return once(seen[1]) && files(entry.files, whole);
            if (name == "attachments" && whole)
                return once(seen[2]) && array([&] { return string(&entry.attachments.emplace_back()); });
            for (qsizetype i = 0; i < fields.size(); ++i) {
                const auto [key, field] = fields[i];
                if (*key == QLatin1StringView(name)
                    && (whole || field == &ManifestEntry::entryId || field == &ManifestEntry::type))
                    return once(seen[3 + i]) && string(&(entry.*field));
            }
            return value(1);
        });
        skipSpace();
        if (!read || m_at != m_end || version != Manifest::kVersion || entry.entryId.isEmpty() || entry.type.isEmpty())
            return std::nullopt;
        return entry;
    }

private:
    static constexpr int kDepth = 64;

    static bool once(bool& seen) { return !std::exchange(seen, true); }

    void skipSpace()
    {
        while (m_at != m_end && (*m_at == ' ' || *m_at == '\t' || *m_at == '\n' || *m_at == '\r'))
            ++m_at;
    }

    bool take(char c)
    {
        skipSpace();
        if (m_at == m_end || *m_at != c)
            return false;
        ++m_at;
        return true;
    }

    bool word(QByteArrayView text)
    {
        if (QByteArrayView(m_at, m_end - m_at).startsWith(text)) {
            m_at += text.size();
            return true;
        }
        return false;
    }

    // Calls member(name) at each member's value; keys with escapes are left to the other reader.
    template <class Member> bool object(Member&& member)
    {
        if (!take('{'))
            return false;
        if (take('}'))
            return true;
        do {
            skipSpace();
            const char* start = m_at + 1;
            if (!string(nullptr))
                return false;
            const QByteArrayView name(start, m_at - 1 - start);
            if (name.contains('\\') || !take(':'))
                return false;
            skipSpace();
            if (!member(name))
                return false;
        } while (take(','));
        return take('}');
    }

    template <class Element> bool array(Element&& element)
    {
        if (!take('['))
            return false;
        if (take(']'))
            return true;
        do {
            skipSpace();
            if (!element())
                return false;
        } while (take(','));
        return take(']');
    }

    // Any value, read and dropped.
    bool value(int depth)
    {
        skipSpace();
        if (m_at == m_end || depth > kDepth)
            return false;
        switch (*m_at) {
        case '"':
            return string(nullptr);
        case '{':
            return object([&](QByteArrayView) { return value(depth + 1); });
        case '[':
            return array([&] { return value(depth + 1); });
        case 't':
            return word("true");
        case 'f':
            return word("false");
        case 'n':
            return word("null");
        default:
            return number();
        }
    }

    bool digits()
    {
        const char* start = m_at;
        while (m_at != m_end && *m_at >= '0' && *m_at <= '9')
            ++m_at;
        return m_at != start;
    }

    bool number()
    {
        if (m_at != m_end && *m_at == '-')
            ++m_at;
        const char* start = m_at;
        if (!digits() || (*start == '0' && m_at - start > 1))
            return false;
        if (m_at != m_end && *m_at == '.' && (++m_at, !digits()))
            return false;
        if (m_at != m_end && (*m_at == 'e' || *m_at == 'E')) {
            ++m_at;
            if (m_at != m_end && (*m_at == '+' || *m_at == '-'))
                ++m_at;
            return digits();
        }
        return true;
    }

    // A number of at most 15 digits without sign, fraction or exponent: exact as a double too.
    bool integer(qint64& out)
    {
        const char* start = m_at;
        if (!digits() || m_at - start > 15 || (*start == '0' && m_at - start > 1)
            || (m_at != m_end && (*m_at == '.' || *m_at == 'e' || *m_at == 'E')))
            return false;
        out = QByteArrayView(start, m_at - start).toLongLong();
        return true;
    }

    // The length of the UTF-8 sequence at m_at, 0 when it is not one (overlong, a surrogate, past U+10FFFF).
    qsizetype utf8Length() const
    {
        const auto byte = [&](qsizetype i) { return m_end - m_at > i ? uchar(m_at[i]) : 0; };
        const auto follows
            = [&](qsizetype i, uchar low = 0x80, uchar high = 0xBF) { return byte(i) >= low && byte(i) <= high; };
        const uchar lead = byte(0);
        if (lead >= 0xC2 && lead <= 0xDF)
            return follows(1) ? 2 : 0;
        if (lead >= 0xE0 && lead <= 0xEF) {
            const bool second = lead == 0xE0 ? follows(1, 0xA0) : lead == 0xED ? follows(1, 0x80, 0x9F) : follows(1);
            return second && follows(2) ? 3 : 0;
        }
        if (lead >= 0xF0 && lead <= 0xF4) {
            const bool second = lead == 0xF0 ? follows(1, 0x90) : lead == 0xF4 ? follows(1, 0x80, 0x8F) : follows(1);
            return second && follows(2) && follows(3) ? 4 : 0;
        }
        return 0;
    }

    // A string, its text put into `out` unless that is null. Escapes of surrogates are left to the other
    // reader.
    bool string(QString* out)
    {
        if (m_at == m_end || *m_at != '"')
            return false;
        const char* start = ++m_at;
        QByteArray unescaped; // from the first escape on
        bool escaped = false;
        while (m_at != m_end && *m_at != '"') {
            const uchar c = uchar(*m_at);
            if (c < 0x20)
                return false;
            const qsizetype length = c < 0x80 ? 1 : utf8Length();
            if (length == 0)
                return false;
            if (c != '\\') {
                if (escaped)
                    unescaped.append(m_at, length);
                m_at += length;
                continue;
            }
            if (!std::exchange(escaped, true))
                unescaped = QByteArray(start, m_at - start);
            if (++m_at == m_end)
                return false;
            const char code = *m_at++;
            static constexpr char kCodes[] = "\"\\/bfnrt";
            static constexpr char kMeanings[] = "\"\\/\b\f\n\r\t";
            if (const char* at = std::strchr(kCodes, code); at && code != 0) {
                unescaped.append(kMeanings[at - kCodes]);
                continue;
            }
            bool ok = false;
            const ushort unit = code == 'u' && m_end - m_at >= 4 ? QByteArrayView(m_at, 4).toUShort(&ok, 16) : 0;
            if (!ok || (unit >= 0xD800 && unit <= 0xDFFF))
                return false;
            m_at += 4;
            unescaped.append(QString(QChar(unit)).toUtf8());
        }
        if (m_at == m_end)
            return false;
        if (out)
            *out = escaped ? QString::fromUtf8(unescaped) : QString::fromUtf8(start, m_at - start);
        ++m_at;
        return true;
    }

    bool files(QList<ManifestFile>& files, bool whole)
    {
        return array([&] {
            ManifestFile file;
            QString sha256;
            bool seen[3] = {};
            const bool read = object([&](QByteArrayView name) {
                if (name == "path")
                    return once(seen[0]) && string(&file.path);
                if (name == "size")
                    return once(seen[1]) && integer(file.size);
                if (name == "sha256" && whole)
                    return once(seen[2]) && string(&sha256);
                return value(2);
            });
            file.sha256 = sha256.toLatin1();
            if (!read || !seen[0] || !seen[1] || !staysBelow(file.path))
                return false;
            files << file;
            return true;
        });
    }

    const char* m_at;
    const char* m_end;
};

// What one line of the manifest says.
struct ReadLine {
    enum class Kind { Entry, Ignored, Newer };
    Kind kind = Kind::Entry;
    int number = 0; ///< in its part of the file, from 1
    ManifestEntry entry;
    bool keysOnly = false; ///< read by LineScanner: only what the skip needs
    bool whole = false;
    qsizetype start = 0; ///< in the file
    qsizetype size = 0;
    QString why; ///< why it was ignored
};

// The entry a line's JSON holds, read by QJsonDocument, or why it holds none.
ReadLine readJson(QByteArrayView text)
{
    ReadLine line;
    line.kind = ReadLine::Kind::Ignored;
    const QJsonDocument document = QJsonDocument::fromJson(text.toByteArray());
    if (!document.isObject()) {
        line.why = QStringLiteral("not a JSON object");
        return line;
    }
    const QJsonObject object = document.object();
    const int version = object.value(key::version).toInt(0);
    if (version > Manifest::kVersion) {
        line.kind = ReadLine::Kind::Newer;
        return line;
    }
    Result<ManifestEntry> entry = version == Manifest::kVersion
        ? entryOf(object)
        : Error { Error::Code::Invalid, QString(), QStringLiteral("no version") };
    if (!entry) {
        line.why = entry.error().detail;
        return line;
    }
    line.kind = ReadLine::Kind::Entry;
    line.entry = std::move(*entry);
    return line;
}

// A part of the file, read: its lines but the blank ones, and how many lines it has.
struct ReadPart {
    std::vector<ReadLine> lines;
    int number = 0;
};

// The lines of `text` from `start` to `end` (a line's start and the file's end or a line's start), each
// entry with whether its files are in `destination` with their recorded sizes.
ReadPart readLines(const QByteArray& text, qsizetype start, qsizetype end, const Directory& destination)
{
    ReadPart part;
    std::vector<ReadLine>& lines = part.lines;
    int& number = part.number;
    while (start < end) {
        ++number;
        qsizetype stop = text.indexOf('\n', start);
        if (stop < 0 || stop > end)
            stop = end;
        const QByteArrayView view(text.constData() + start, stop - start);
        if (!view.trimmed().isEmpty()) {
            std::optional<ManifestEntry> keys = LineScanner(view).entry(false);
            ReadLine line;
            if (keys) {
                line.entry = std::move(*keys);
                line.keysOnly = true;
            } else {
                line = readJson(view);
            }
            line.number = number;
            line.start = start;
            line.size = view.size();
            line.whole = line.kind == ReadLine::Kind::Entry
                && std::all_of(line.entry.files.begin(), line.entry.files.end(), [&](const ManifestFile& file) {
                       const auto found = destination.regularFile(file.path);
                       return found && found->size == file.size;
                   });
            lines.push_back(std::move(line));
        }
        start = stop + 1;
    }
    return part;
}

// Where the parts of `text` that are read one by one start: at a line's start, each about `size` long.
std::vector<qsizetype> partStarts(const QByteArray& text, qsizetype size)
{
    std::vector<qsizetype> starts { 0 };
    for (qsizetype next = size; next < text.size(); next += size) {
        next = text.indexOf('\n', next);
        if (next < 0 || next + 1 >= text.size())
            break;
        starts.push_back(++next);
    }
    return starts;
}

bool isLineBreak(QChar c)
{
    return c == u'\r' || c == u'\n';
}

QByteArray csvField(const QString& text)
{
    if (std::none_of(text.begin(), text.end(), [](QChar c) { return c == u'"' || c == u',' || isLineBreak(c); }))
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
    for (const QString& value : values) {
        QString line;
        for (qsizetype i = 0; i < value.size(); ++i)
            if (!isLineBreak(value[i]))
                line += value[i];
            else if (i == 0 || !isLineBreak(value[i - 1]))
                line += u' ';
        lines << line;
    }
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
    Result<QByteArray> bytes = destination.readFile(fileName());
    if (!bytes)
        return bytes.error();
    Manifest manifest;
    manifest.m_text = std::move(*bytes);
    const QByteArray& text = manifest.m_text;
    manifest.m_needsLineEnd = !text.isEmpty() && !text.endsWith('\n');
    const std::vector<qsizetype> starts = partStarts(text, 256 * 1024);
    WorkerThreads workers(starts.size() > 1 ? WorkerThreads::spareProcessors() : 0);
    int linesBefore = 0;
    std::optional<Error> newer;
    produceInOrder<ReadPart>(
        &workers, starts.size(), 2 * std::size_t(workers.count()) + 2,
        [&](std::size_t part) {
            return readLines(
                text, starts[part], part + 1 < starts.size() ? starts[part + 1] : text.size(), destination);
        },
        [&](std::size_t, ReadPart&& part) {
            for (ReadLine& line : part.lines) {
                if (newer)
                    return;
                const int number = linesBefore + line.number;
                if (line.kind == ReadLine::Kind::Newer)
                    newer = Error { Error::Code::Invalid, destination.filePath(fileName()),
                        QStringLiteral("line %1 was written by a newer version of Quillbox").arg(number) };
                else if (line.kind == ReadLine::Kind::Ignored)
                    manifest.ignore(number, line.why);
                else
                    manifest.hold(
                        Held { std::move(line.entry), line.keysOnly ? line.start : -1, line.size, line.whole });
            }
            linesBefore += part.number;
        });
    if (newer)
        return *newer;
    return manifest;
}

void Manifest::ignore(int line, const QString& why)
{
    if (m_ignored++ == 0)
        m_firstIgnored = QStringLiteral("line %1: %2").arg(line).arg(why);
}

void Manifest::hold(Held held)
{
    QHash<QString, qsizetype>& ofType = m_index[held.entry.type];
    if (const auto found = ofType.constFind(held.entry.entryId); found != ofType.cend()) {
        m_entries[*found] = std::move(held);
        return;
    }
    ofType.insert(held.entry.entryId, m_entries.size());
    m_entries.append(std::move(held));
}

ManifestEntry Manifest::wholeEntry(const Held& held) const
{
    if (held.lineStart < 0)
        return held.entry;
    const QByteArrayView text(m_text.constData() + held.lineStart, held.lineSize);
    if (std::optional<ManifestEntry> entry = LineScanner(text).entry(true))
        return std::move(*entry);
    ReadLine line = readJson(text);
    return line.kind == ReadLine::Kind::Entry ? std::move(line.entry) : held.entry;
}

QList<ManifestEntry> Manifest::entries() const
{
    QList<ManifestEntry> out;
    out.reserve(m_entries.size());
    for (const Held& held : m_entries)
        out << wholeEntry(held);
    return out;
}

bool Manifest::savedWhole(const QString& entryId, const QString& type) const
{
    const auto ofType = m_index.constFind(type);
    if (ofType == m_index.cend())
        return false;
    const auto found = ofType->constFind(entryId);
    return found != ofType->cend() && m_entries[*found].whole;
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
    hold(Held { entry, -1, 0, appended.ok() });
    return appended;
}

QByteArray Manifest::indexCsv() const
{
    QByteArray csv = csvRow({ QStringLiteral("folder"), QStringLiteral("sent"), QStringLiteral("received"),
        QStringLiteral("from"), QStringLiteral("to"), QStringLiteral("cc"), QStringLiteral("subject"),
        QStringLiteral("message_id"), QStringLiteral("size"), QStringLiteral("attachment_count"),
        QStringLiteral("attachment_names"), QStringLiteral("files"), QStringLiteral("sha256") });
    // The rows of each part of the entries are made on the spare processors, their lines read whole there.
    constexpr qsizetype kPart = 2000;
    const std::size_t parts = std::size_t((m_entries.size() + kPart - 1) / kPart);
    WorkerThreads workers(parts > 1 ? WorkerThreads::spareProcessors() : 0);
    produceInOrder<QByteArray>(
        &workers, parts, 2 * std::size_t(workers.count()) + 2,
        [&](std::size_t part) {
            QByteArray rows;
            const qsizetype end = std::min(m_entries.size(), qsizetype(part + 1) * kPart);
            for (qsizetype i = qsizetype(part) * kPart; i < end; ++i) {
                const ManifestEntry e = wholeEntry(m_entries[i]);
                QStringList paths, hashes;
                for (const ManifestFile& file : e.files) {
                    paths << file.path;
                    hashes << QString::fromLatin1(file.sha256);
                }
                rows += csvRow({ e.folder, e.sent, e.received, e.from, e.to, e.cc, e.subject, e.messageId,
                    QString::number(e.size()), QString::number(e.attachments.size()), oneCell(e.attachments),
                    oneCell(paths), oneCell(hashes) });
            }
            return rows;
        },
        [&](std::size_t, QByteArray&& rows) { csv += rows; });
    return csv;
}

} // namespace quillbox::output

// SPDX-License-Identifier: MIT
#include "config/inifile.h"

#include "core/person.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSet>

namespace quillbox {

namespace {

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\v' || c == u'\f';
}

// Only ASCII blanks, as the profile functions trim: QString::trimmed() would also eat U+00A0 and the like.
QString trimBlanks(QStringView s)
{
    qsizetype begin = 0, end = s.size();
    while (begin < end && isBlank(s[begin]))
        ++begin;
    while (end > begin && isBlank(s[end - 1]))
        --end;
    return s.sliced(begin, end - begin).toString();
}

bool sameName(const QString& a, const QString& b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// A text as it may be written into one line: cut at its first NUL, each line break turned into a space.
QString oneLine(const QString& text)
{
    QString s = text.left(text.indexOf(QChar(u'\0')));
    s.replace(QLatin1StringView("\r\n"), QLatin1StringView(" "));
    s.replace(u'\r', u' ');
    s.replace(u'\n', u' ');
    return s;
}

// Cuts `s` to at most `max` characters without leaving half of a surrogate pair at the end.
QString cut(const QString& s, qsizetype max)
{
    if (s.size() <= max)
        return s;
    qsizetype n = max;
    if (n > 0 && s[n - 1].isHighSurrogate())
        --n;
    return s.left(n);
}

bool isBlankByte(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

// A line's text: up to its first NUL, without blanks at either end. Blanks are ASCII, so trimming the
// UTF-8 bytes gives what trimming the decoded text would.
QByteArrayView lineText(QByteArrayView raw)
{
    if (const qsizetype nul = raw.indexOf('\0'); nul >= 0)
        raw = raw.first(nul);
    while (!raw.isEmpty() && isBlankByte(raw.front()))
        raw = raw.sliced(1);
    while (!raw.isEmpty() && isBlankByte(raw.back()))
        raw.chop(1);
    return raw;
}

// What a line is. Entries are only decoded when their section is asked for (see Entry), which keeps a
// large file quick to scan.
struct Line {
    enum class Kind { Blank, Comment, Section, Entry };
    Kind kind = Kind::Blank;
    QString name; // a section's name, without surrounding blanks
};

Line parseLine(QByteArrayView raw)
{
    const QByteArrayView text = lineText(raw);
    if (text.isEmpty())
        return {};
    if (text.front() == ';')
        return { Line::Kind::Comment, {} };
    if (const qsizetype close = text.indexOf(']'); text.front() == '[' && close > 0)
        return { Line::Kind::Section, QString::fromUtf8(lineText(text.sliced(1, close - 1))) };
    return { Line::Kind::Entry, {} };
}

struct Entry {
    QString name; // without surrounding blanks
    QString value; // as stored, without surrounding blanks
    bool hasValue = false; // the line has an "="
};

Entry parseEntry(QByteArrayView raw)
{
    const QByteArrayView text = lineText(raw);
    const qsizetype eq = text.indexOf('=');
    if (eq < 0)
        return { QString::fromUtf8(text), {}, false };
    return { QString::fromUtf8(lineText(text.first(eq))), QString::fromUtf8(lineText(text.sliced(eq + 1))), true };
}

struct ReadFailure {
    int number = 0;
    QString description;
};

// The file's bytes; a missing file (or no name at all) reads as empty.
std::variant<QByteArray, ReadFailure> readBytes(const QString& path)
{
    if (path.isEmpty() || !QFileInfo::exists(path))
        return QByteArray();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return ReadFailure { file.error(), file.errorString() };
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return ReadFailure { file.error(), file.errorString() };
    return bytes;
}

std::optional<Error> writeBytes(const QString& path, const QByteArray& bytes)
{
    const auto failed = [&](const QString& why) { return Error { Error::Code::WriteFailed, path, why }; };
    if (path.isEmpty())
        return failed(QStringLiteral("no file name given"));
    // QSaveFile would say the same, but with the path inside its sentence; the caller names the path.
    const QFileInfo info(path);
    if (info.exists() && !info.isDir() && !info.isWritable())
        return failed(QStringLiteral("the file is not writable"));
    QSaveFile file(path);
    // A writable file in a folder where no temporary file can be made is still written, in place.
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly))
        return failed(file.errorString());
    if (file.write(bytes) != bytes.size() || !file.commit())
        return failed(file.errorString());
    return std::nullopt;
}

// Lays `entries` out as the profile functions do: each text ended by a NUL, the list ended by one more,
// in a buffer of `bufferSize` NULs of which `declared` may be used. A text that does not fit whole is
// left out with all after it; an empty text would end the list early and is skipped.
QString nulList(const QStringList& entries, qsizetype bufferSize, qsizetype declared)
{
    QString buffer(bufferSize, QChar(u'\0'));
    qsizetype used = 0;
    for (const QString& entry : entries) {
        if (entry.isEmpty())
            continue;
        if (used + entry.size() + 2 > declared)
            break;
        buffer.replace(used, entry.size(), entry);
        used += entry.size() + 1;
    }
    return buffer;
}

// Reads a NUL-separated list back: the texts in order and then one empty element.
QStringList splitNulList(const QString& buffer)
{
    constexpr QChar nul(u'\0');
    qsizetype count = 0;
    for (qsizetype at = buffer.indexOf(nul); at > 0;) {
        ++count;
        if (at + 1 >= buffer.size() || buffer[at + 1] == nul)
            break;
        at = buffer.indexOf(nul, at + 1);
    }

    QStringList list(count + 1);
    QStringView rest(buffer);
    for (qsizetype index = 0; index < count;) {
        const qsizetype at = rest.indexOf(nul);
        if (at < 1)
            break;
        list[index++] = rest.first(at).toString();
        rest = rest.sliced(at + 1);
        if (rest.isEmpty() || rest.front() == nul)
            break;
    }
    return list;
}

} // namespace

struct IniFile::Document {
    QByteArray bom;
    // The lines' bytes up to their LF, so a CR stays with the line it came with: lines that are not
    // changed are written back as they were, even in a file with mixed line ends.
    QList<QByteArray> raw;
    QList<Line> lines;
    bool crlf = false; // new lines end with CR LF, as the file's first line does
    bool finalEol = true; // the last line has a line end (an empty file gets them)

    static Document parse(const QByteArray& bytes)
    {
        Document doc;
        QByteArrayView rest(bytes);
        const QByteArrayView utf8Bom("\xEF\xBB\xBF");
        if (rest.startsWith(utf8Bom)) {
            doc.bom = utf8Bom.toByteArray();
            rest = rest.sliced(utf8Bom.size());
        }
        if (rest.isEmpty())
            return doc;
        const qsizetype firstBreak = rest.indexOf('\n');
        doc.crlf = firstBreak > 0 && rest[firstBreak - 1] == '\r';
        doc.finalEol = rest.endsWith('\n');
        if (doc.finalEol)
            rest.chop(1);
        for (qsizetype start = 0;;) {
            const qsizetype end = rest.indexOf('\n', start);
            const QByteArrayView line = rest.sliced(start, (end < 0 ? rest.size() : end) - start);
            doc.raw.append(line.toByteArray());
            doc.lines.append(parseLine(line));
            if (end < 0)
                break;
            start = end + 1;
        }
        return doc;
    }

    QByteArray serialise() const
    {
        QByteArray out = bom;
        for (qsizetype i = 0; i < raw.size(); ++i) {
            if (i > 0)
                out += '\n';
            out += raw[i];
        }
        if (finalEol && !raw.isEmpty())
            out += '\n';
        return out;
    }

    // Inserts a line of `text` before line `at`. A line added after a last line that had no line end
    // stays without one, and that last line gets one.
    void insertText(qsizetype at, const QString& text)
    {
        QByteArray bytes = text.toUtf8();
        if (at == raw.size() && !finalEol && !raw.isEmpty()) {
            if (crlf)
                raw.last() += '\r';
        } else if (crlf) {
            bytes += '\r';
        }
        lines.insert(at, parseLine(bytes));
        raw.insert(at, std::move(bytes));
    }

    // Replaces line `at` with `text`; the line keeps its own line end.
    void replaceText(qsizetype at, const QString& text)
    {
        QByteArray bytes = text.toUtf8();
        if (raw[at].endsWith('\r'))
            bytes += '\r';
        lines[at] = parseLine(bytes);
        raw[at] = std::move(bytes);
    }

    void remove(qsizetype at)
    {
        raw.remove(at);
        lines.remove(at);
    }

    // The header line of the first section called `name`, or -1.
    qsizetype findSection(const QString& name) const
    {
        for (qsizetype i = 0; i < lines.size(); ++i) {
            if (lines[i].kind == Line::Kind::Section && sameName(lines[i].name, name))
                return i;
        }
        return -1;
    }

    // One past the last line of the section whose header is at `header`.
    qsizetype sectionEnd(qsizetype header) const
    {
        qsizetype i = header + 1;
        while (i < lines.size() && lines[i].kind != Line::Kind::Section)
            ++i;
        return i;
    }

    // One past the section's last non-blank line: where new lines go, before the blank lines that
    // separate it from the next section.
    qsizetype sectionContentEnd(qsizetype header) const
    {
        qsizetype i = sectionEnd(header);
        while (i > header + 1 && lines[i - 1].kind == Line::Kind::Blank)
            --i;
        return i;
    }

    // The first entry called `key` in the section whose header is at `header`, or -1.
    qsizetype findEntry(qsizetype header, const QString& key) const
    {
        const qsizetype end = sectionEnd(header);
        for (qsizetype i = header + 1; i < end; ++i) {
            if (lines[i].kind == Line::Kind::Entry && sameName(parseEntry(raw[i]).name, key))
                return i;
        }
        return -1;
    }

    // Appends a new section's header; returns its line.
    qsizetype appendSection(const QString& name)
    {
        insertText(raw.size(), u'[' + name + u']');
        return raw.size() - 1;
    }
};

IniFile::IniFile(Person& person)
    : m_person(person)
{
}

std::optional<IniFile::Document> IniFile::readForCaller(const QString& operation)
{
    for (;;) {
        auto read = readBytes(m_fileName);
        if (const auto* bytes = std::get_if<QByteArray>(&read))
            return Document::parse(*bytes);
        const auto& failure = std::get<ReadFailure>(read);
        const WarningAnswer answer = m_person.warning(QStringLiteral("ViriravEZI, Sub ") + operation,
            QString::number(failure.number) + QLatin1StringView(", ") + failure.description);
        if (answer != WarningAnswer::Retry)
            return std::nullopt;
    }
}

QString IniFile::getKey(const QString& section, const QString& key, const QString& defaultValue)
{
    QString value;
    getKeyValue(section, key, value);
    return value.isEmpty() ? defaultValue : value;
}

void IniFile::getKeyValue(const QString& section, const QString& key, QString& keyValue)
{
    const auto doc = readForCaller(QStringLiteral("GetKeyValue"));
    if (!doc)
        return;
    const qsizetype header = doc->findSection(trimBlanks(section));
    if (header < 0)
        return;
    const qsizetype at = doc->findEntry(header, trimBlanks(key));
    if (at < 0)
        return;
    QString value = parseEntry(doc->raw[at]).value;
    if (value.size() >= 2 && value.startsWith(u'"') && value.endsWith(u'"'))
        value = value.sliced(1, value.size() - 2);
    value = cut(value, kValueBuffer - 1);
    if (!value.isEmpty())
        keyValue = value;
}

void IniFile::readList(const QString& operation, ListKind kind, const QString& section, QStringList& out)
{
    const auto doc = readForCaller(operation);
    if (!doc)
        return;

    const bool sections = kind == ListKind::Sections;
    const qsizetype declared = sections ? kSectionsDeclared : kListDeclared;

    // Collects only what can fit, so that a huge section is not decoded whole for a list that ends early.
    QStringList entries;
    QSet<QString> seen; // case-folded names
    qsizetype used = 1; // the NUL that ends the list
    const auto add = [&](const QString& entry, bool once) {
        if (entry.isEmpty())
            return true;
        if (once) {
            const QString folded = entry.toCaseFolded();
            if (seen.contains(folded))
                return true;
            seen.insert(folded);
        }
        if (used + entry.size() + 1 > declared)
            return false;
        used += entry.size() + 1;
        entries << entry;
        return true;
    };
    if (sections) {
        for (const Line& line : doc->lines) {
            if (line.kind == Line::Kind::Section && !add(line.name, true))
                break;
        }
    } else if (const qsizetype header = doc->findSection(trimBlanks(section)); header >= 0) {
        const qsizetype end = doc->sectionEnd(header);
        for (qsizetype i = header + 1; i < end; ++i) {
            if (doc->lines[i].kind != Line::Kind::Entry)
                continue;
            const Entry line = parseEntry(doc->raw[i]);
            const bool more = kind == ListKind::Entries
                ? add(line.hasValue ? line.name + u'=' + line.value : line.name, false)
                : !line.hasValue || add(line.name, true);
            if (!more)
                break;
        }
    }
    out = splitNulList(nulList(entries, sections ? kSectionsBuffer : kListBuffer, declared));
}

void IniFile::getSection(const QString& section, QStringList& keyList)
{
    readList(QStringLiteral("GetSection"), ListKind::Entries, section, keyList);
}

void IniFile::getAllKeys(const QString& section, QStringList& keyList)
{
    readList(QStringLiteral("GetAllKeys"), ListKind::Keys, section, keyList);
}

void IniFile::getAllSections(QStringList& sectionList)
{
    readList(QStringLiteral("GetAllSections"), ListKind::Sections, QString(), sectionList);
}

// Writing needs the whole file: a file that cannot be read is not replaced.
std::optional<IniFile::Document> IniFile::readForWrite()
{
    auto read = readBytes(m_fileName);
    if (const auto* failure = std::get_if<ReadFailure>(&read)) {
        m_lastWriteError = Error { Error::Code::Unreadable, m_fileName, failure->description };
        return std::nullopt;
    }
    return Document::parse(std::get<QByteArray>(read));
}

// Writes `after` unless it holds the same bytes as `before`; the outcome is kept for lastWriteError().
void IniFile::commit(const Document& before, const Document& after)
{
    const QByteArray bytes = after.serialise();
    m_lastWriteError = bytes == before.serialise() ? std::nullopt : writeBytes(m_fileName, bytes);
}

void IniFile::writeKeyValue(const QString& sectionName, const QString& keyName, const std::optional<QString>& keyValue)
{
    const auto before = readForWrite();
    if (!before)
        return;
    Document doc = *before;
    const QString section = trimBlanks(oneLine(sectionName));
    const QString key = trimBlanks(oneLine(keyName));
    qsizetype header = doc.findSection(section);

    if (!keyValue) {
        if (header >= 0) {
            for (qsizetype at; (at = doc.findEntry(header, key)) >= 0;)
                doc.remove(at);
        }
        commit(*before, doc);
        return;
    }

    const QString value = oneLine(*keyValue);
    if (header < 0)
        header = doc.appendSection(section);
    if (const qsizetype at = doc.findEntry(header, key); at >= 0) {
        doc.replaceText(at, parseEntry(doc.raw[at]).name + u'=' + value);
    } else {
        doc.insertText(doc.sectionContentEnd(header), key + u'=' + value);
    }
    commit(*before, doc);
}

bool IniFile::addKey(const QString& section, const QString& newKey, const std::optional<QString>& keyValue)
{
    writeKeyValue(section, newKey, keyValue);
    return m_lastWriteError.has_value();
}

bool IniFile::deleteKey(const QString& section, const QString& keyToDelete)
{
    writeKeyValue(section, keyToDelete, std::nullopt);
    return m_lastWriteError.has_value();
}

void IniFile::writeSection(const QString& sectionName, const QString& text)
{
    const auto before = readForWrite();
    if (!before)
        return;
    Document doc = *before;
    const QString section = trimBlanks(oneLine(sectionName));
    qsizetype header = doc.findSection(section);
    if (header < 0)
        header = doc.appendSection(section);

    for (qsizetype end = doc.sectionContentEnd(header); end > header + 1; --end)
        doc.remove(header + 1);
    qsizetype at = header + 1;
    for (const QStringView entry : QStringView(text).split(QChar(u'\0'))) {
        if (entry.isEmpty())
            break;
        doc.insertText(at++, oneLine(entry.toString()));
    }
    commit(*before, doc);
}

} // namespace quillbox

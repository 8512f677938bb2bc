// SPDX-License-Identifier: MIT
#include "config/registry.h"

#include "core/paths.h"

#include <QFile>
#include <QFileInfo>
#include <optional>

namespace quillbox {

namespace {

// The buffer a value's data is read into; longer data is a failed read.
constexpr qsizetype kValueBuffer = 1024;
// No line of a sound registry file comes near this; it bounds what a garbage file can make us hold.
constexpr qsizetype kMaxLine = 64 * 1024;

// Reads physical lines without their line break, each cut at about kMaxLine bytes.
class LineReader {
public:
    explicit LineReader(QFile& file)
        : m_file(file)
    {
    }

    // The next line; false at the end of the file or on a read error. `overlong` says it was cut.
    bool next(QByteArray& line, bool& overlong)
    {
        if (m_file.atEnd())
            return false;
        line = m_file.readLine(kMaxLine);
        if (line.isEmpty())
            return false;
        overlong = false;
        if (line.endsWith('\n')) {
            line.chop(1);
        } else if (!m_file.atEnd()) {
            overlong = true;
            QByteArray rest;
            do
                rest = m_file.readLine(kMaxLine);
            while (!rest.isEmpty() && !rest.endsWith('\n'));
        }
        if (line.endsWith('\r'))
            line.chop(1);
        return true;
    }

private:
    QFile& m_file;
};

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

void skipBlanks(const QByteArray& s, qsizetype& pos)
{
    while (pos < s.size() && isBlank(s[pos]))
        ++pos;
}

// Reads a quoted text starting at the opening quote at `pos`; leaves `pos` after the closing quote.
std::optional<QByteArray> readQuoted(const QByteArray& s, qsizetype& pos)
{
    if (pos >= s.size() || s[pos] != '"')
        return std::nullopt;
    QByteArray out;
    for (++pos; pos < s.size(); ++pos) {
        const char c = s[pos];
        if (c == '"') {
            ++pos;
            return out;
        }
        if (c == '\\' && pos + 1 < s.size() && (s[pos + 1] == '\\' || s[pos + 1] == '"'))
            ++pos;
        out += s[pos];
    }
    return std::nullopt;
}

bool startsWithNoCase(const QByteArray& s, const char* prefix)
{
    return s.left(qstrlen(prefix)).toLower() == prefix;
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::optional<quint32> parseHexNumber(QByteArrayView digits, qsizetype maxDigits)
{
    if (digits.isEmpty() || digits.size() > maxDigits)
        return std::nullopt;
    quint32 n = 0;
    for (const char c : digits) {
        const int d = hexDigit(c);
        if (d < 0)
            return std::nullopt;
        n = n * 16 + quint32(d);
    }
    return n;
}

// A value line's outcome for the value it names.
struct ValueLine {
    enum class Kind { Malformed, Data, TooLong, Deleted } kind = Kind::Malformed;
    QString name;
    QByteArray data;
};

// Hex bytes "41,42,00"; empty text is no bytes. Data beyond the buffer is reported as too long.
ValueLine::Kind parseHexBytes(const QByteArray& text, QByteArray& data)
{
    if (text.trimmed().isEmpty())
        return ValueLine::Kind::Data;
    for (const QByteArray& part : text.split(',')) {
        const QByteArray digits = part.trimmed();
        if (digits.size() != 2)
            return ValueLine::Kind::Malformed;
        const std::optional<quint32> byte = parseHexNumber(digits, 2);
        if (!byte)
            return ValueLine::Kind::Malformed;
        data += char(*byte);
    }
    return data.size() > kValueBuffer ? ValueLine::Kind::TooLong : ValueLine::Kind::Data;
}

// Parses NAME=DATA from `line` (trimmed); hex data continued on further lines is pulled from `reader`.
ValueLine parseValueLine(const QByteArray& line, bool overlong, LineReader& reader)
{
    ValueLine v;
    qsizetype pos = 0;
    if (line.startsWith('@')) {
        pos = 1;
    } else {
        const std::optional<QByteArray> name = readQuoted(line, pos);
        if (!name)
            return v;
        v.name = QString::fromUtf8(*name);
    }
    skipBlanks(line, pos);
    if (pos >= line.size() || line[pos] != '=')
        return v;
    ++pos;
    skipBlanks(line, pos);

    if (pos < line.size() && line[pos] == '"') {
        if (overlong) {
            v.kind = ValueLine::Kind::TooLong;
            return v;
        }
        const std::optional<QByteArray> text = readQuoted(line, pos);
        if (!text || pos != line.size())
            return v;
        v.data = *text + '\0';
        v.kind = v.data.size() > kValueBuffer ? ValueLine::Kind::TooLong : ValueLine::Kind::Data;
        return v;
    }
    const QByteArray rest = line.mid(pos);
    if (rest == "-") {
        v.kind = ValueLine::Kind::Deleted;
        return v;
    }
    if (startsWithNoCase(rest, "dword:")) {
        const std::optional<quint32> n = parseHexNumber(QByteArrayView(rest).sliced(6), 8);
        if (!n)
            return v;
        for (int i = 0; i < 4; ++i)
            v.data += char((*n >> (8 * i)) & 0xff);
        v.kind = ValueLine::Kind::Data;
        return v;
    }
    if (!startsWithNoCase(rest, "hex"))
        return v;
    qsizetype colon = 3;
    if (rest.size() > 3 && rest[3] == '(') {
        const qsizetype close = rest.indexOf(')', 4);
        if (close < 0 || !parseHexNumber(QByteArrayView(rest).sliced(4, close - 4), 8))
            return v;
        colon = close + 1;
    }
    if (colon >= rest.size() || rest[colon] != ':')
        return v;

    // Gather the hex text over continuation lines, all of them even when it is already too long,
    // so that they are not read as lines of their own.
    QByteArray hex = rest.mid(colon + 1);
    bool tooLong = overlong;
    const auto cutContinuation = [](QByteArray& text) {
        const bool continues = text.endsWith('\\');
        if (continues)
            text.chop(1);
        return continues;
    };
    bool continues = cutContinuation(hex);
    while (continues) {
        QByteArray next;
        bool nextOverlong = false;
        if (!reader.next(next, nextOverlong))
            return v; // cut off in the middle of its data
        next = next.trimmed();
        continues = cutContinuation(next);
        tooLong = tooLong || nextOverlong || hex.size() + next.size() > kMaxLine;
        if (!tooLong)
            hex += next;
    }
    if (tooLong) {
        v.kind = ValueLine::Kind::TooLong;
        return v;
    }
    v.kind = parseHexBytes(hex, v.data);
    return v;
}

bool rootNameMatches(const QString& name, RegRoot root)
{
    const auto is = [&](QLatin1String s) { return name.compare(s, Qt::CaseInsensitive) == 0; };
    switch (root) {
    case RegRoot::CurrentUser:
        return is(QLatin1String("HKEY_CURRENT_USER")) || is(QLatin1String("HKCU"));
    case RegRoot::LocalMachine:
        return is(QLatin1String("HKEY_LOCAL_MACHINE")) || is(QLatin1String("HKLM"));
    case RegRoot::None:
        break;
    }
    return false;
}

bool sameKey(const QString& a, const QString& b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// The data of `value` under `key` in the registry file of `root`, as a read into kValueBuffer bytes gives
// it: nothing when the file, key or value is missing or the data does not fit.
std::optional<QByteArray> queryValue(RegRoot root, const QString& key, const QString& value)
{
    const QString fileName = registryFile(root);
    // Only regular files: a device or pipe named by mistake would never end or would block.
    if (fileName.isEmpty() || !QFileInfo(fileName).isFile())
        return std::nullopt;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    LineReader reader(file);

    QByteArray line;
    bool overlong = false;
    if (!reader.next(line, overlong))
        return std::nullopt;
    if (line.startsWith("\xEF\xBB\xBF"))
        line.remove(0, 3);
    if (overlong || line.trimmed() != "REGEDIT4")
        return std::nullopt;

    std::optional<QByteArray> found;
    bool inKey = false;
    while (reader.next(line, overlong)) {
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith(';'))
            continue;
        if (line.startsWith('[')) {
            inKey = false;
            if (overlong || !line.endsWith(']'))
                continue;
            QString name = QString::fromUtf8(line.mid(1, line.size() - 2));
            const bool deletes = name.startsWith(u'-');
            if (deletes)
                name.remove(0, 1);
            const qsizetype slash = name.indexOf(u'\\');
            if (slash < 0 || !rootNameMatches(name.left(slash), root))
                continue;
            const QString path = name.mid(slash + 1);
            if (!deletes)
                inKey = sameKey(path, key);
            else if (sameKey(path, key) || key.startsWith(path + u'\\', Qt::CaseInsensitive))
                found.reset();
            continue;
        }
        const ValueLine v = parseValueLine(line, overlong, reader);
        if (!inKey || v.kind == ValueLine::Kind::Malformed || !sameKey(v.name, value))
            continue;
        if (v.kind == ValueLine::Kind::Data)
            found = v.data;
        else
            found.reset();
    }
    return found;
}

} // namespace

RegPath splitRegPath(const QString& path)
{
    const qsizetype first = path.indexOf(u'\\');
    const qsizetype last = path.lastIndexOf(u'\\');
    if (first < 0 || first == last)
        return {};
    const QStringView rootName = QStringView(path).left(first);
    RegPath p;
    if (rootName.compare(QLatin1String("hklm"), Qt::CaseInsensitive) == 0)
        p.root = RegRoot::LocalMachine;
    else if (rootName.compare(QLatin1String("hkcu"), Qt::CaseInsensitive) == 0)
        p.root = RegRoot::CurrentUser;
    else
        return {};
    p.key = path.mid(first + 1, last - first - 1);
    p.value = path.mid(last + 1);
    return p;
}

QString registryFile(RegRoot root)
{
    switch (root) {
    case RegRoot::CurrentUser: {
        const QString file = qEnvironmentVariable("QUILLBOX_HKCU");
        return file.isEmpty() ? configHome() + QLatin1String("/Brindlewick/user.reg") : file;
    }
    case RegRoot::LocalMachine: {
        const QString file = qEnvironmentVariable("QUILLBOX_HKLM");
        return file.isEmpty() ? QStringLiteral("/etc/Brindlewick/system.reg") : file;
    }
    case RegRoot::None:
        break;
    }
    return {};
}

QString getRegValue(const QString& path)
{
    const RegPath p = splitRegPath(path);
    if (p.key.isEmpty())
        return {};
    const std::optional<QByteArray> data = queryValue(p.root, p.key, p.value);
    if (!data || data->isEmpty())
        return {};
    // The last byte is a string's terminating zero; the registry type is not looked at.
    QByteArray text = data->chopped(1);
    const qsizetype zero = text.indexOf('\0');
    if (zero >= 0)
        text.truncate(zero);
    return QString::fromUtf8(text);
}

AccessSettings readAccessSettings()
{
    const QString programKey = QString::fromUtf16(kProgramRegKey);
    AccessSettings s;
    const QString accessProg = getRegValue(programKey + QLatin1String("AccessProg"));
    if (accessProg.isEmpty())
        return s;
    s.program = getRegValue(accessProg);
    s.allowArguments = getRegValue(programKey + QLatin1String("AllowAccess"));
    s.disallowArguments = getRegValue(programKey + QLatin1String("DisallowAccess"));
    return s;
}

QString accessCommandLine(const QString& program, const QString& arguments)
{
    QString quoted = program;
    quoted.replace(u'"', QLatin1String("\"\""));
    return u'"' + quoted + QLatin1String("\" ") + arguments;
}

} // namespace quillbox

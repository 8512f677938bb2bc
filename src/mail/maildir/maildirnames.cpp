// SPDX-License-Identifier: MIT
#include "mail/maildir/maildirnames.h"

#include <QList>

#include <algorithm>

namespace quillbox::mail::maildir {

namespace {

constexpr char kEntryMarker[] = "QBMD1";

bool isModifiedBase64(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == ',';
}

} // namespace

QString decodeModifiedUtf7(const QByteArray& name)
{
    QString text;
    QByteArray literal;
    for (qsizetype i = 0; i < name.size();) {
        if (name[i] != '&') {
            literal += name[i++];
            continue;
        }
        const qsizetype end = name.indexOf('-', i + 1);
        if (end < 0)
            return QString::fromUtf8(name);
        if (end == i + 1) {
            literal += '&';
            i = end + 1;
            continue;
        }
        QByteArray encoded = name.mid(i + 1, end - i - 1);
        for (char c : encoded)
            if (!isModifiedBase64(c))
                return QString::fromUtf8(name);
        encoded.replace(',', '/');
        while (encoded.size() % 4)
            encoded += '=';
        const auto decoded = QByteArray::fromBase64Encoding(encoded, QByteArray::AbortOnBase64DecodingErrors);
        if (!decoded || decoded.decoded.size() % 2)
            return QString::fromUtf8(name);
        text += QString::fromUtf8(literal);
        literal.clear();
        const QByteArray& units = decoded.decoded;
        for (qsizetype k = 0; k < units.size(); k += 2)
            text += QChar(char16_t((uchar(units[k]) << 8) | uchar(units[k + 1])));
        i = end + 1;
    }
    return text + QString::fromUtf8(literal);
}

QStringList folderNamesOf(const QByteArray& entry)
{
    if (!entry.startsWith('.'))
        return { decodeModifiedUtf7(entry) };
    const QByteArray rest = entry.mid(1);
    const QList<QByteArray> parts = rest.split('.');
    QStringList names;
    for (const QByteArray& part : parts) {
        if (part.isEmpty())
            return { decodeModifiedUtf7(rest) };
        names += decodeModifiedUtf7(part);
    }
    return names;
}

bool isSubFolderDir(const QByteArray& entry)
{
    return entry.size() > 4 && entry.endsWith(".sbd") && !entry.startsWith('.');
}

QStringList folderNamesOfDir(const QByteArray& dir)
{
    if (dir.isEmpty())
        return { QStringLiteral("Inbox") };
    QStringList names;
    const QList<QByteArray> parts = dir.split('/');
    for (qsizetype i = 0; i < parts.size(); ++i)
        names += folderNamesOf(i + 1 < parts.size() && isSubFolderDir(parts[i]) ? parts[i].chopped(4) : parts[i]);
    return names;
}

MessageNameView viewMessageName(QByteArrayView fileName)
{
    MessageNameView parts;
    qsizetype info = fileName.indexOf(':');
    if (info < 0)
        info = fileName.lastIndexOf(";2,"); // Maildirs kept on file systems without ':' in names use ';'
    parts.unique = info < 0 ? fileName : fileName.first(info);
    if (info >= 0 && fileName.sliced(info + 1).startsWith("2,"))
        parts.flags = fileName.sliced(info + 3);

    qint64 seconds = 0;
    qsizetype i = 0;
    while (i < fileName.size() && i < 12 && fileName[i] >= '0' && fileName[i] <= '9')
        seconds = seconds * 10 + (fileName[i++] - '0');
    if (i > 0 && i < fileName.size() && fileName[i] == '.')
        parts.deliveryTime = seconds;
    return parts;
}

MessageName splitMessageName(const QByteArray& fileName)
{
    const MessageNameView parts = viewMessageName(fileName);
    // A name without an info part is its own unique part, shared rather than copied.
    return { parts.unique.size() == fileName.size() ? fileName : parts.unique.toByteArray(), parts.flags.toByteArray(),
        parts.deliveryTime };
}

bool isSafeRelativeDir(const QByteArray& dir)
{
    if (dir.isEmpty())
        return true;
    for (const QByteArray& part : dir.split('/'))
        if (part.isEmpty() || part == "." || part == "..")
            return false;
    return true;
}

QString entryIDPrefix(const QString& store, const QByteArray& folderDir)
{
    const QByteArray payload = kEntryMarker + ('\0' + store.toUtf8()) + '\0' + folderDir + '\0';
    return QString::fromLatin1(payload.toHex().toUpper());
}

QString entryIDIn(const QString& prefix, const QByteArray& subdir, const QByteArray& fileName)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    QString id(prefix.size() + 2 * (subdir.size() + 1 + fileName.size()), Qt::Uninitialized);
    QChar* out = std::copy(prefix.cbegin(), prefix.cend(), id.data());
    const auto put = [&out](char byte) {
        *out++ = QLatin1Char(kDigits[uchar(byte) >> 4]);
        *out++ = QLatin1Char(kDigits[uchar(byte) & 15]);
    };
    std::for_each(subdir.cbegin(), subdir.cend(), put);
    put('\0');
    std::for_each(fileName.cbegin(), fileName.cend(), put);
    return id;
}

QString encodeEntryID(const EntryRef& ref)
{
    return entryIDIn(entryIDPrefix(ref.store, ref.folderDir), ref.subdir, ref.fileName);
}

std::optional<EntryRef> decodeEntryID(const QString& entryID)
{
    if (entryID.isEmpty() || entryID.size() % 2)
        return std::nullopt;
    for (QChar c : entryID)
        if (!((c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F') || (c >= u'a' && c <= u'f')))
            return std::nullopt;
    const QList<QByteArray> fields = QByteArray::fromHex(entryID.toLatin1()).split('\0');
    if (fields.size() != 5 || fields[0] != kEntryMarker)
        return std::nullopt;
    EntryRef ref { QString::fromUtf8(fields[1]), fields[2], {}, fields[3], fields[4] };
    if (!isSafeRelativeDir(ref.folderDir) || (ref.subdir != "cur" && ref.subdir != "new") || ref.fileName.isEmpty()
        || ref.fileName.startsWith('.') || ref.fileName.contains('/'))
        return std::nullopt;
    ref.unique = splitMessageName(ref.fileName).unique;
    return ref;
}

} // namespace quillbox::mail::maildir

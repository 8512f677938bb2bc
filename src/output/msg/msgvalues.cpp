// SPDX-License-Identifier: MIT
#include "output/msg/msgvalues.h"

#include "mail/store.h"
#include "output/msg/propertystream.h"

#include <QRegularExpression>
#include <QtEndian>

namespace quillbox::msg {

std::optional<quint64> toFileTime(const QDateTime& time)
{
    if (!mail::isKnownTime(time))
        return std::nullopt;
    constexpr qint64 kMsecsFrom1601To1970 = 11644473600000;
    const qint64 msecs = time.toMSecsSinceEpoch() + kMsecsFrom1601To1970;
    if (msecs < 0)
        return std::nullopt;
    return quint64(msecs) * 10000;
}

QByteArray toUtf16LE(const QString& text)
{
    QString clean = text;
    clean.remove(QChar(0));
    QByteArray out(clean.size() * 2, Qt::Uninitialized);
    qToLittleEndian<quint16>(clean.utf16(), clean.size(), out.data());
    return out;
}

QString shortFileName(const QString& longName)
{
    static const QRegularExpression separators(QStringLiteral("[/\\\\]"));
    const QString name = longName.section(separators, -1);
    if (name.isEmpty())
        return {};
    const qsizetype dot = name.lastIndexOf(u'.');
    const QString base = dot >= 0 ? name.left(dot) : name;
    const QString extension = dot >= 0 ? name.mid(dot + 1) : QString();

    // The characters a DOS name may hold besides letters and digits.
    const auto dosChars = [](const QString& part) {
        static const QString allowed = QStringLiteral("!#$%&'()-@^_`{}~");
        QString out;
        for (const QChar c : part) {
            if ((c.isLetterOrNumber() && c.unicode() < 0x80) || allowed.contains(c))
                out += c.toUpper();
        }
        return out;
    };
    QString shortBase = dosChars(base);
    const QString shortExtension = dosChars(extension).left(3);
    const bool changed = shortBase != base.toUpper() || shortBase.size() > 8 || shortExtension != extension.toUpper();
    if (shortBase.isEmpty())
        shortBase = QStringLiteral("ATTACH");
    if (changed)
        shortBase = shortBase.left(6) + QStringLiteral("~1");
    return shortExtension.isEmpty() ? shortBase : shortBase + u'.' + shortExtension;
}

QByteArray uncompressedRtfHeader(quint32 rtfSize)
{
    constexpr quint32 kUncompressed = 0x414C454D; // "MELA"
    const quint32 fields[4] = { rtfSize + 12, rtfSize, kUncompressed, 0 }; // the first counts from after itself
    QByteArray header(16, Qt::Uninitialized);
    qToLittleEndian<quint32>(fields, 4, header.data());
    return header;
}

QString withUtf8Charset(const QString& html)
{
    static const QRegularExpression metaTag(
        QStringLiteral("<meta\\b[^>]*>"), QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression charset(
        QStringLiteral("(\\bcharset\\s*=\\s*[\"']?\\s*)[^\"'\\s;/>]+"), QRegularExpression::CaseInsensitiveOption);
    QString out;
    qsizetype done = 0;
    for (auto it = metaTag.globalMatch(html); it.hasNext();) {
        const QRegularExpressionMatch tag = it.next();
        QString fixed = tag.captured();
        fixed.replace(charset, QStringLiteral("\\1utf-8"));
        out += QStringView(html).mid(done, tag.capturedStart() - done);
        out += fixed;
        done = tag.capturedEnd();
    }
    if (done == 0)
        return html;
    out += QStringView(html).mid(done);
    return out;
}

QString subjectPrefixOf(const QString& subject)
{
    static const QRegularExpression prefix(QStringLiteral("^[^\\d\\s:]{1,3}: "));
    return prefix.match(subject).captured();
}

QByteArray oneOffEntryId(const QString& name, const QString& addressType, const QString& address)
{
    // Flags 0, the one-off provider's UID, version 0, then MAPI_ONE_OFF_UNICODE | no rich text as stored.
    QByteArray out = QByteArray::fromHex("00000000812B1FA4BEA310199D6E00DD010F540200000190");
    for (const QString& text : { name, addressType, address })
        out += toUtf16LE(text) + QByteArray(2, '\0');
    return out;
}

QByteArray flatEntryList(const QList<QByteArray>& entryIds)
{
    QByteArray entries;
    for (const QByteArray& id : entryIds) {
        appendLE32(entries, quint32(id.size()));
        entries += id;
        entries.append((4 - entries.size() % 4) % 4, '\0');
    }
    QByteArray out;
    appendLE32(out, quint32(entryIds.size()));
    appendLE32(out, quint32(entries.size()));
    return out + entries;
}

quint32 crc32(const QByteArray& bytes)
{
    quint32 crc = 0xFFFFFFFFu;
    for (const char byte : bytes) {
        crc ^= quint8(byte);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

} // namespace quillbox::msg

// SPDX-License-Identifier: MIT
#include "output/msg/propertystream.h"

#include <QtEndian>

#include <cstring>

namespace quillbox::msg {

void appendLE32(QByteArray& out, quint32 value)
{
    char bytes[4];
    qToLittleEndian(value, bytes);
    out.append(bytes, 4);
}

namespace {

// Every property is readable and writable, as Outlook marks the ones it writes itself.
constexpr quint32 kReadWrite = 0x2 | 0x4;

// `prefix` followed by `value` as eight upper-case hex digits, made in one piece: a .msg file has dozens
// of such names.
template <qsizetype N> QByteArray withHex8(const char (&prefix)[N], quint32 value)
{
    constexpr qsizetype kPrefix = N - 1;
    QByteArray name(kPrefix + 8, Qt::Uninitialized);
    char* out = name.data();
    std::memcpy(out, prefix, kPrefix);
    for (int digit = 0; digit < 8; ++digit)
        out[kPrefix + 7 - digit] = "0123456789ABCDEF"[(value >> (4 * digit)) & 0xF];
    return name;
}

} // namespace

QByteArray valueStreamName(quint32 tag)
{
    return withHex8("__substg1.0_", tag);
}

QByteArray recipientStorageName(quint32 index)
{
    return withHex8("__recip_version1.0_#", index);
}

QByteArray attachmentStorageName(quint32 index)
{
    return withHex8("__attach_version1.0_#", index);
}

void PropertyStream::setCounts(quint32 recipients, quint32 attachments)
{
    m_recipients = recipients;
    m_attachments = attachments;
}

void PropertyStream::addLong(quint16 id, qint32 value)
{
    addEntry(propTag(id, PropType::Long), quint32(value), 0);
}

void PropertyStream::addBoolean(quint16 id, bool value)
{
    addEntry(propTag(id, PropType::Boolean), value ? 1 : 0, 0);
}

void PropertyStream::addTime(quint16 id, quint64 fileTime)
{
    addEntry(propTag(id, PropType::SysTime), quint32(fileTime & 0xFFFFFFFFu), quint32(fileTime >> 32));
}

void PropertyStream::addStreamed(quint32 tag, quint32 streamSize)
{
    quint32 size = streamSize;
    switch (PropType(tag & 0xFFFF)) {
    case PropType::Unicode:
        size += 2;
        break;
    case PropType::Object:
        size = 0xFFFFFFFFu;
        break;
    default:
        break;
    }
    addEntry(tag, size, 0);
}

void PropertyStream::addEntry(quint32 tag, quint32 low, quint32 high)
{
    const quint32 fields[4] = { tag, kReadWrite, low, high };
    char entry[sizeof(fields)];
    qToLittleEndian<quint32>(fields, 4, entry);
    m_entries.append(entry, sizeof(entry));
}

QByteArray PropertyStream::bytes() const
{
    QByteArray out(8, '\0');
    if (m_owner != Owner::RecipientOrAttachment) {
        appendLE32(out, m_recipients);
        appendLE32(out, m_attachments);
        appendLE32(out, m_recipients);
        appendLE32(out, m_attachments);
    }
    if (m_owner == Owner::TopMessage)
        out.append(8, '\0');
    return out + m_entries;
}

} // namespace quillbox::msg

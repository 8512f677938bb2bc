// SPDX-License-Identifier: MIT
#pragma once
// The property stream (`__properties_version1.0`) of one object of an Outlook message file: a header
// that depends on the object, then one 16-byte entry per property. Fixed-size values sit in the entry;
// strings, binaries and embedded messages only have their size there and their value in a stream or
// storage of their own. Format notes: docs/format-notes.md, section ".msg".

#include <QByteArray>
#include <QtGlobal>

namespace quillbox::msg {

/// The property types this writer uses, with their on-disk numbers.
enum class PropType : quint16 {
    Long = 0x0003,
    Boolean = 0x000B,
    SysTime = 0x0040,
    Unicode = 0x001F,
    MultipleUnicode = 0x101F,
    Binary = 0x0102,
    Object = 0x000D,
};

constexpr quint32 propTag(quint16 id, PropType type)
{
    return quint32(id) << 16 | quint32(type);
}

/// Appends `value` as 4 bytes, little-endian.
void appendLE32(QByteArray& out, quint32 value);

/// "__substg1.0_" followed by `tag` as eight upper-case hex digits: the stream (or, for an embedded
/// message, the storage) that holds a streamed property's value.
QByteArray valueStreamName(quint32 tag);

/// "__recip_version1.0_#" or "__attach_version1.0_#" followed by `index` as eight upper-case hex digits.
QByteArray recipientStorageName(quint32 index);
QByteArray attachmentStorageName(quint32 index);

class PropertyStream {
public:
    /// The object the stream belongs to; it decides the header: 32 bytes for the file's message (with
    /// the next recipient and attachment numbers and both counts), 24 for an embedded message (the
    /// same without the last reserved 8 bytes), 8 reserved bytes for a recipient or an attachment.
    enum class Owner { TopMessage, EmbeddedMessage, RecipientOrAttachment };

    explicit PropertyStream(Owner owner)
        : m_owner(owner)
    {
    }

    /// The recipient and attachment counts of a message; they are numbered from 0, so the next
    /// numbers are the counts too. Ignored for recipients and attachments.
    void setCounts(quint32 recipients, quint32 attachments);

    void addLong(quint16 id, qint32 value);
    void addBoolean(quint16 id, bool value);
    /// `fileTime`: 100-nanosecond intervals since 1 January 1601 UTC.
    void addTime(quint16 id, quint64 fileTime);
    /// A property whose value was written to its own stream of `streamSize` bytes. The entry's size is
    /// the stream's, plus 2 for a Unicode string (its terminator, which the stream leaves out); an
    /// embedded message (type Object) has the size 0xFFFFFFFF.
    void addStreamed(quint32 tag, quint32 streamSize);

    /// The header followed by the entries in the order they were added.
    QByteArray bytes() const;

private:
    void addEntry(quint32 tag, quint32 low, quint32 high);

    Owner m_owner;
    quint32 m_recipients = 0;
    quint32 m_attachments = 0;
    QByteArray m_entries;
};

} // namespace quillbox::msg

// SPDX-License-Identifier: MIT
#pragma once
// MAPI properties as an Outlook data file holds them, and what the store makes of them: texts in
// the right code page, local times, the item class, the entry identifier. Both readers of the file
// (our own node reader and libpff) hand out properties through PropertyBag, so everything above
// them is the same code. The quirks are written down in docs/format-notes.md ("PST/OST").

#include "mail/store.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringDecoder>
#include <QStringList>

#include <map>
#include <memory>
#include <optional>

namespace quillbox::mail::pst {

/// The MAPI property ids the store reads.
namespace Prop {
enum : quint16 {
    Importance = 0x0017,
    MessageClass = 0x001A,
    Priority = 0x0026,
    Subject = 0x0037,
    ClientSubmitTime = 0x0039,
    SubjectPrefix = 0x003D,
    ReceivedByName = 0x0040,
    SentRepresentingName = 0x0042,
    ReceivedRepresentingName = 0x0044,
    ReplyRecipientNames = 0x0050,
    SentRepresentingAddrType = 0x0064,
    SentRepresentingEmail = 0x0065,
    ConversationTopic = 0x0070,
    ReceivedByAddrType = 0x0075,
    ReceivedByEmail = 0x0076,
    ReceivedRepresentingAddrType = 0x0077,
    ReceivedRepresentingEmail = 0x0078,
    ConversationIndex = 0x0071,
    TransportHeaders = 0x007D,
    RecipientType = 0x0C15,
    ReplyRequested = 0x0C17,
    SenderName = 0x0C1A,
    SenderAddrType = 0x0C1E,
    SenderEmailAddress = 0x0C1F,
    DisplayCc = 0x0E03,
    DisplayTo = 0x0E04,
    DeliveryTime = 0x0E06,
    MessageFlags = 0x0E07,
    RecordKey = 0x0FF9,
    Body = 0x1000,
    Html = 0x1013,
    InternetMessageId = 0x1035,
    InternetReferences = 0x1039,
    InReplyToId = 0x1042,
    FlagStatus = 0x1090,
    DisplayName = 0x3001,
    AddrType = 0x3002,
    EmailAddress = 0x3003,
    CreationTime = 0x3007,
    IpmSubtreeEntryId = 0x35E0,
    ContentCount = 0x3602,
    AttachFilename = 0x3704,
    AttachMethod = 0x3705,
    AttachLongFilename = 0x3707,
    AttachPathname = 0x3708,
    AttachMimeTag = 0x370E,
    AttachContentId = 0x3712,
    AttachContentLocation = 0x3713,
    AttachFlags = 0x3714,
    SmtpAddress = 0x39FE,
    InternetCodepage = 0x3FDE,
    MessageCodepage = 0x3FFD,
    SenderSmtpAddress = 0x5D01,
    SentRepresentingSmtpAddress = 0x5D02,
    ReceivedBySmtpAddress = 0x5D07,
    ReceivedRepresentingSmtpAddress = 0x5D08,
    AttachmentHidden = 0x7FFE,
};
}

/// The MAPI property types the store interprets.
namespace PropType {
enum : quint16 {
    Int16 = 0x0002,
    Int32 = 0x0003,
    Error = 0x000A,
    Boolean = 0x000B,
    Int64 = 0x0014,
    String8 = 0x001E,
    Unicode = 0x001F,
    Time = 0x0040,
    Binary = 0x0102,
    MultipleString8 = 0x101E,
    MultipleUnicode = 0x101F,
};
}

/// One property as stored: its type and its bytes (numbers little-endian, Unicode strings as UTF-16LE,
/// 8-bit strings in the code page of their message).
struct PropertyValue {
    quint16 type = 0;
    QByteArray bytes;
};

/// The properties of one node of the file (a message, folder, recipient row or attachment).
class PropertyBag {
public:
    virtual ~PropertyBag() = default;
    /// The value of property `id`, or nothing when the node does not have it or it cannot be read.
    virtual std::optional<PropertyValue> value(quint16 id) const = 0;
};

/// Turns 8-bit strings into text with the Windows code page they were written in. Keeps one decoder per
/// code page; not for use from two threads at once.
class TextDecoder {
public:
    /// `bytes` in code page `codePage`; a code page with no decoder here is read as Windows-1252.
    QString decode(QByteArrayView bytes, int codePage);

private:
    QStringDecoder& decoderFor(int codePage);
    std::map<int, std::unique_ptr<QStringDecoder>> m_decoders;
};

std::optional<qint64> integerValue(const PropertyBag& bag, quint16 id);
/// A FILETIME property as local time; noDate() when it is missing, zero or Outlook's own "none".
QDateTime timeValue(const PropertyBag& bag, quint16 id);
QByteArray binaryValue(const PropertyBag& bag, quint16 id);

/// Reads the string properties of one node as text, without the NUL characters at their end. 8-bit
/// strings are read in the code page of their message (the node itself, or `codePageSource` for a
/// recipient or an attachment): its own code page, else its Internet code page, else Windows-1252; for
/// a body (`forBody`) the Internet code page comes first, as it is the one that describes the body.
class TextReader {
public:
    TextReader(const PropertyBag& bag, TextDecoder& decoder, const PropertyBag* codePageSource = nullptr,
        bool forBody = false);
    /// The text of property `id`; empty when it is missing or not a string.
    QString operator()(quint16 id) const;
    /// The texts of a multi-valued string property (a count, an offset for each value from the start, then the
    /// values), 8-bit ones in the code page as above; empty when `value` is missing or none, and only the values
    /// before the first one whose offset is out of place when it is damaged.
    QStringList strings(const std::optional<PropertyValue>& value) const;
    int codePage() const;

private:
    const PropertyBag& m_bag;
    TextDecoder& m_decoder;
    const PropertyBag& m_codePageSource;
    bool m_forBody;
    mutable std::optional<int> m_codePage; // looked up when the first 8-bit string needs it
};

/// The Outlook item class number of a message class ("IPM.Note" 43, "IPM.Appointment" 26, ...).
int itemClassOf(const QString& messageClass);
/// The subject without the prefix marker some files store in front of it (0x01 and a length character).
QString withoutSubjectMarker(const QString& subject);

/// What the search reads of a message: class, times, sent flag, sender, subject, To (no entry identifier).
ItemSummary summarize(const PropertyBag& bag, TextDecoder& decoder);

/// The entry identifier of node `nid` in the store with this record key: "00000000", the record key
/// and the node identifier little-endian, as upper-case hex.
QString entryIDOf(const QByteArray& recordKey, quint32 nid);
/// The node identifier in `entryID` when it names a node of the store with this record key.
std::optional<quint32> nodeOfEntryID(const QString& entryID, const QByteArray& recordKey);

} // namespace quillbox::mail::pst

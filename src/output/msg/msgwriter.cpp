// SPDX-License-Identifier: MIT
#include "output/msg/msgwriter.h"

#include "mail/store.h"
#include "output/msg/msgvalues.h"
#include "output/msg/propertystream.h"
#include "output/outputfile.h"
#include "output/rtftext.h"

#include <QFileInfo>

#include <limits>
#include <memory>

namespace quillbox::msg {

namespace {

// Property identifiers, named after their MAPI tags.
namespace Prop {
constexpr quint16 MessageClass = 0x001A;
constexpr quint16 Subject = 0x0037;
constexpr quint16 ClientSubmitTime = 0x0039;
constexpr quint16 SubjectPrefix = 0x003D;
constexpr quint16 SentRepresentingName = 0x0042;
constexpr quint16 SentRepresentingAddrType = 0x0064;
constexpr quint16 SentRepresentingEmail = 0x0065;
constexpr quint16 TransportMessageHeaders = 0x007D;
constexpr quint16 RecipientType = 0x0C15;
constexpr quint16 SenderName = 0x0C1A;
constexpr quint16 SenderAddrType = 0x0C1E;
constexpr quint16 SenderEmailAddress = 0x0C1F;
constexpr quint16 DisplayBcc = 0x0E02;
constexpr quint16 DisplayCc = 0x0E03;
constexpr quint16 DisplayTo = 0x0E04;
constexpr quint16 MessageDeliveryTime = 0x0E06;
constexpr quint16 MessageFlags = 0x0E07;
constexpr quint16 HasAttach = 0x0E1B;
constexpr quint16 NormalizedSubject = 0x0E1D;
constexpr quint16 RtfInSync = 0x0E1F;
constexpr quint16 AttachSize = 0x0E20;
constexpr quint16 AttachNum = 0x0E21;
constexpr quint16 Body = 0x1000;
constexpr quint16 RtfCompressed = 0x1009;
constexpr quint16 Html = 0x1013;
constexpr quint16 RowId = 0x3000;
constexpr quint16 DisplayName = 0x3001;
constexpr quint16 AddrType = 0x3002;
constexpr quint16 EmailAddress = 0x3003;
constexpr quint16 CreationTime = 0x3007;
constexpr quint16 LastModificationTime = 0x3008;
constexpr quint16 StoreSupportMask = 0x340D;
constexpr quint16 AttachData = 0x3701; // binary data, or the embedded message's storage
constexpr quint16 AttachExtension = 0x3703;
constexpr quint16 AttachFilename = 0x3704;
constexpr quint16 AttachMethod = 0x3705;
constexpr quint16 AttachLongFilename = 0x3707;
constexpr quint16 RenderingPosition = 0x370B;
constexpr quint16 AttachMimeTag = 0x370E;
constexpr quint16 SmtpAddress = 0x39FE;
constexpr quint16 InternetCpid = 0x3FDE;
} // namespace Prop

constexpr qint32 kMsgFlagRead = 0x01;
constexpr qint32 kMsgFlagUnsent = 0x08;
constexpr qint32 kMsgFlagHasAttach = 0x10;
constexpr qint32 kStoreUnicodeOk = 0x40000;
constexpr qint32 kCodePageUtf8 = 65001;
constexpr qint32 kAttachByValue = 1;
constexpr qint32 kAttachEmbeddedMessage = 5;

// Attached mails nested deeper than this are kept as their bytes: a hostile message nested
// thousands of levels deep must not exhaust the stack.
constexpr int kMaxEmbeddingDepth = 32;

// {00020D0B-0000-0000-C000-000000000046} as stored: the first three fields little-endian.
constexpr CompoundFile::ClassId kMessageClassId
    = { 0x0B, 0x0D, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46 };

const QByteArray kPropertiesStream = QByteArrayLiteral("__properties_version1.0");
const QString kSmtp = QStringLiteral("SMTP");

// "Name; Name; ..." of the recipients of one type, the address where there is no name.
QString displayList(const QList<mail::Recipient>& recipients, mail::Recipient::Type type)
{
    QStringList names;
    for (const mail::Recipient& r : recipients) {
        if (r.type == type)
            names << (r.name.isEmpty() ? r.address : r.name);
    }
    return names.join(QLatin1String("; "));
}

using Storage = CompoundFile::Storage;

class Writer {
public:
    explicit Writer(CompoundFile& file)
        : m_file(file)
    {
    }

    Status message(Storage storage, const mail::MailItem& item, PropertyStream::Owner owner, int depth);

private:
    void recipient(Storage parent, const mail::Recipient& recipient, quint32 index);
    Status attachment(Storage parent, const mail::Attachment& attachment, quint32 index, int depth);

    void string(Storage storage, PropertyStream& props, quint16 id, const QString& value);
    void binary(Storage storage, PropertyStream& props, quint16 id, const QByteArray& value);
    static void time(PropertyStream& props, quint16 id, const QDateTime& time);

    CompoundFile& m_file;
};

Status Writer::message(Storage storage, const mail::MailItem& item, PropertyStream::Owner owner, int depth)
{
    auto attachments = item.attachments();
    if (!attachments)
        return attachments.error();
    const QList<mail::Recipient> recipients = item.recipients();
    const mail::ItemSummary& summary = item.summary();

    PropertyStream props(owner);
    props.setCounts(quint32(recipients.size()), quint32(attachments->size()));

    const QString messageClass = item.messageClass();
    string(storage, props, Prop::MessageClass, messageClass.isEmpty() ? QStringLiteral("IPM.Note") : messageClass);
    // The subject is kept whole: with an empty prefix the normalized subject is the subject.
    string(storage, props, Prop::Subject, summary.subject);
    string(storage, props, Prop::SubjectPrefix, QString());
    string(storage, props, Prop::NormalizedSubject, summary.subject);

    const QString senderName = item.senderName().isEmpty() ? summary.senderEmailAddress : item.senderName();
    string(storage, props, Prop::SenderName, senderName);
    string(storage, props, Prop::SenderEmailAddress, summary.senderEmailAddress);
    string(storage, props, Prop::SenderAddrType, kSmtp);
    string(storage, props, Prop::SentRepresentingName, senderName);
    string(storage, props, Prop::SentRepresentingEmail, summary.senderEmailAddress);
    string(storage, props, Prop::SentRepresentingAddrType, kSmtp);
    string(storage, props, Prop::DisplayTo, summary.to);
    string(storage, props, Prop::DisplayCc, item.displayCc());
    string(storage, props, Prop::DisplayBcc, displayList(recipients, mail::Recipient::Type::Bcc));

    time(props, Prop::CreationTime, summary.creationTime);
    time(props, Prop::ClientSubmitTime, summary.sentOn);
    time(props, Prop::MessageDeliveryTime, summary.receivedTime);
    std::optional<quint64> latest;
    for (const QDateTime& t : { summary.creationTime, summary.sentOn, summary.receivedTime }) {
        const auto fileTime = toFileTime(t);
        if (fileTime && (!latest || *fileTime > *latest))
            latest = fileTime;
    }
    if (latest)
        props.addTime(Prop::LastModificationTime, *latest);

    // A body read out of the RTF agrees with it: marked so, readers keep showing the RTF.
    const formats::Bodies bodies = formats::bodiesOf(item);
    if (!bodies.plain.isEmpty())
        string(storage, props, Prop::Body, bodies.plain);
    if (!bodies.html.isEmpty())
        binary(storage, props, Prop::Html, withUtf8Charset(bodies.html).toUtf8());
    if (const QByteArray rtf = item.rtfBody(); !rtf.isEmpty())
        binary(storage, props, Prop::RtfCompressed, uncompressedRtfHeader(quint32(rtf.size())) + rtf);
    if (bodies.fromRtf)
        props.addBoolean(Prop::RtfInSync, true);
    if (const QString headers = item.transportHeaders(); !headers.isEmpty())
        string(storage, props, Prop::TransportMessageHeaders, headers);

    const bool hasAttachments = !attachments->empty();
    props.addLong(Prop::MessageFlags,
        kMsgFlagRead | (summary.sent ? 0 : kMsgFlagUnsent) | (hasAttachments ? kMsgFlagHasAttach : 0));
    props.addBoolean(Prop::HasAttach, hasAttachments);
    props.addLong(Prop::InternetCpid, kCodePageUtf8);
    props.addLong(Prop::StoreSupportMask, kStoreUnicodeOk);

    for (qsizetype i = 0; i < recipients.size(); ++i)
        recipient(storage, recipients[i], quint32(i));
    for (size_t i = 0; i < attachments->size(); ++i) {
        if (Status status = attachment(storage, *attachments->at(i), quint32(i), depth); !status)
            return status;
    }

    // Named properties are mapped once per file; this writer uses none, so the mapping is empty.
    if (owner == PropertyStream::Owner::TopMessage) {
        const Storage nameId = m_file.addStorage(storage, "__nameid_version1.0");
        for (quint16 id : { 0x0002, 0x0003, 0x0004 }) // the GUID, entry and string streams
            m_file.addStream(nameId, valueStreamName(propTag(id, PropType::Binary)), {});
    }
    m_file.addStream(storage, kPropertiesStream, props.bytes());
    return success();
}

void Writer::recipient(Storage parent, const mail::Recipient& recipient, quint32 index)
{
    const Storage storage = m_file.addStorage(parent, recipientStorageName(index));
    PropertyStream props(PropertyStream::Owner::RecipientOrAttachment);
    string(storage, props, Prop::DisplayName, recipient.name.isEmpty() ? recipient.address : recipient.name);
    string(storage, props, Prop::EmailAddress, recipient.address);
    string(storage, props, Prop::AddrType, kSmtp);
    string(storage, props, Prop::SmtpAddress, recipient.address);
    props.addLong(Prop::RecipientType, qint32(recipient.type));
    props.addLong(Prop::RowId, qint32(index));
    m_file.addStream(storage, kPropertiesStream, props.bytes());
}

Status Writer::attachment(Storage parent, const mail::Attachment& attachment, quint32 index, int depth)
{
    const Storage storage = m_file.addStorage(parent, attachmentStorageName(index));
    PropertyStream props(PropertyStream::Owner::RecipientOrAttachment);
    props.addLong(Prop::AttachNum, qint32(index));
    props.addLong(Prop::RenderingPosition, -1); // not placed in the body text

    const std::unique_ptr<mail::MailItem> embedded
        = depth < kMaxEmbeddingDepth ? attachment.embeddedMessage() : nullptr;
    const QString fileName = attachment.fileName();
    if (!fileName.isEmpty()) {
        string(storage, props, Prop::AttachLongFilename, fileName);
        string(storage, props, Prop::AttachFilename, shortFileName(fileName));
        const qsizetype dot = fileName.lastIndexOf(u'.');
        if (dot > fileName.lastIndexOf(u'/') && dot > fileName.lastIndexOf(u'\\'))
            string(storage, props, Prop::AttachExtension, fileName.mid(dot));
    }
    const QString displayName = !fileName.isEmpty() ? fileName : embedded ? embedded->summary().subject : QString();
    if (!displayName.isEmpty())
        string(storage, props, Prop::DisplayName, displayName);
    if (const QString mimeType = attachment.mimeType(); !mimeType.isEmpty())
        string(storage, props, Prop::AttachMimeTag, mimeType);

    if (embedded) {
        props.addLong(Prop::AttachMethod, kAttachEmbeddedMessage);
        const quint32 tag = propTag(Prop::AttachData, PropType::Object);
        const Storage inner = m_file.addStorage(storage, valueStreamName(tag));
        if (Status status = message(inner, *embedded, PropertyStream::Owner::EmbeddedMessage, depth + 1); !status)
            return status;
        props.addStreamed(tag, 0);
    } else {
        const auto data = attachment.data();
        if (!data)
            return data.error();
        // A stream's size is 32 bits in the compound file; PR_ATTACH_SIZE is a signed long.
        if (data->size() > std::numeric_limits<qint32>::max())
            return Error { Error::Code::WriteFailed, {},
                QStringLiteral("attachment \"%1\" is larger than 2 GB").arg(fileName) };
        props.addLong(Prop::AttachMethod, kAttachByValue);
        binary(storage, props, Prop::AttachData, *data);
        props.addLong(Prop::AttachSize, qint32(data->size()));
    }
    m_file.addStream(storage, kPropertiesStream, props.bytes());
    return success();
}

void Writer::string(Storage storage, PropertyStream& props, quint16 id, const QString& value)
{
    const quint32 tag = propTag(id, PropType::Unicode);
    QByteArray bytes = toUtf16LE(value);
    props.addStreamed(tag, quint32(bytes.size()));
    m_file.addStream(storage, valueStreamName(tag), std::move(bytes));
}

void Writer::binary(Storage storage, PropertyStream& props, quint16 id, const QByteArray& value)
{
    const quint32 tag = propTag(id, PropType::Binary);
    m_file.addStream(storage, valueStreamName(tag), value);
    props.addStreamed(tag, quint32(value.size()));
}

void Writer::time(PropertyStream& props, quint16 id, const QDateTime& time)
{
    if (const auto fileTime = toFileTime(time))
        props.addTime(id, *fileTime);
}

} // namespace

Result<CompoundFile> msgCompoundFile(const mail::MailItem& item)
{
    CompoundFile file(kMessageClassId);
    if (Status status = Writer(file).message(Storage::Root, item, PropertyStream::Owner::TopMessage, 0); !status)
        return status.error();
    return file;
}

Result<QByteArray> msgBytes(const mail::MailItem& item)
{
    Result<CompoundFile> file = msgCompoundFile(item);
    if (!file)
        return file.error();
    return std::move(*file).toBytes();
}

Status writeMsgFile(const mail::MailItem& item, const QString& path)
{
    const auto withPath = [&](Error error) {
        error.path = path;
        return error;
    };
    const Result<QByteArray> bytes = msgBytes(item);
    if (!bytes)
        return bytes.error().path.isEmpty() ? withPath(bytes.error()) : bytes.error();
    const QFileInfo target(path);
    const Result<output::Directory> dir = output::Directory::open(target.path(), output::Disk::system());
    if (!dir)
        return withPath(dir.error());
    if (Status written = dir->writeFile(target.fileName(), *bytes, output::Disk::system()); !written)
        return withPath(written.error());
    return success();
}

} // namespace quillbox::msg

// SPDX-License-Identifier: MIT
#include "output/msg/msgwriter.h"

#include "mail/mimetext.h"
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
constexpr quint16 Importance = 0x0017;
constexpr quint16 MessageClass = 0x001A;
constexpr quint16 Priority = 0x0026;
constexpr quint16 Subject = 0x0037;
constexpr quint16 ReceivedByName = 0x0040;
constexpr quint16 ClientSubmitTime = 0x0039;
constexpr quint16 SubjectPrefix = 0x003D;
constexpr quint16 SentRepresentingName = 0x0042;
constexpr quint16 ReceivedRepresentingName = 0x0044;
constexpr quint16 ReplyRecipientEntries = 0x004F;
constexpr quint16 ReplyRecipientNames = 0x0050;
constexpr quint16 SentRepresentingAddrType = 0x0064;
constexpr quint16 SentRepresentingEmail = 0x0065;
constexpr quint16 ConversationTopic = 0x0070;
constexpr quint16 ConversationIndex = 0x0071;
constexpr quint16 ReceivedByAddrType = 0x0075;
constexpr quint16 ReceivedByEmail = 0x0076;
constexpr quint16 ReceivedRepresentingAddrType = 0x0077;
constexpr quint16 ReceivedRepresentingEmail = 0x0078;
constexpr quint16 TransportMessageHeaders = 0x007D;
constexpr quint16 RecipientType = 0x0C15;
constexpr quint16 ReplyRequested = 0x0C17;
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
constexpr quint16 InternetMessageId = 0x1035;
constexpr quint16 InternetReferences = 0x1039;
constexpr quint16 InReplyToId = 0x1042;
constexpr quint16 FlagStatus = 0x1090;
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
constexpr quint16 AttachContentId = 0x3712;
constexpr quint16 AttachContentLocation = 0x3713;
constexpr quint16 AttachFlags = 0x3714;
constexpr quint16 SmtpAddress = 0x39FE;
constexpr quint16 InternetCpid = 0x3FDE;
constexpr quint16 SenderSmtpAddress = 0x5D01;
constexpr quint16 SentRepresentingSmtpAddress = 0x5D02;
constexpr quint16 ReceivedBySmtpAddress = 0x5D07;
constexpr quint16 ReceivedRepresentingSmtpAddress = 0x5D08;
constexpr quint16 AttachmentHidden = 0x7FFE;
constexpr quint16 Keywords = 0x8000; // the first (and only) named property of the file's map
} // namespace Prop

constexpr qint32 kMsgFlagRead = 0x01;
constexpr qint32 kMsgFlagUnsent = 0x08;
constexpr qint32 kMsgFlagHasAttach = 0x10;
constexpr qint32 kStoreUnicodeOk = 0x40000;
constexpr qint32 kCodePageUtf8 = 65001;
constexpr qint32 kAttachByValue = 1;
constexpr qint32 kAttachEmbeddedMessage = 5;
constexpr qint32 kAttachMhtmlRef = 0x4;
// The named-property map's index of PS_PUBLIC_STRINGS, which has no entry in the GUID stream.
constexpr quint16 kPublicStringsIndex = 2;

// Attached mails nested deeper than this are kept as their bytes: a hostile message nested
// thousands of levels deep must not exhaust the stack.
constexpr int kMaxEmbeddingDepth = 32;

// {00020D0B-0000-0000-C000-000000000046} as stored: the first three fields little-endian.
constexpr CompoundFile::ClassId kMessageClassId
    = { 0x0B, 0x0D, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46 };

const QByteArray kPropertiesStream = QByteArrayLiteral("__properties_version1.0");
const QString kSmtp = QStringLiteral("SMTP");
const QString kExchange = QStringLiteral("EX");

// The name a party is shown by: its display name, else its address (the Internet one first).
QString displayNameOf(const mail::Recipient& party)
{
    return !party.name.isEmpty() ? party.name : !party.address.isEmpty() ? party.address : party.exchangeAddress;
}

// The number of recipients, and "Name; Name; ..." of the Bcc ones (the address where there is no name).
struct RecipientCount {
    quint32 count = 0;
    quint32 bccCount = 0;
    QString displayBcc;
};

RecipientCount countRecipients(const mail::MailItem& item)
{
    RecipientCount counted;
    item.forEachRecipient([&counted](const mail::Recipient& r) {
        ++counted.count;
        if (r.type != mail::Recipient::Type::Bcc)
            return;
        if (counted.bccCount++ > 0)
            counted.displayBcc += QLatin1String("; ");
        counted.displayBcc += displayNameOf(r);
    });
    return counted;
}

// The whole signed MIME entity of a signed mail, as Outlook keeps it: its Content-Type and its body.
class SignedEntity final : public mail::Attachment {
public:
    explicit SignedEntity(const QByteArray& raw)
    {
        qsizetype end = raw.indexOf("\n\n");
        const qsizetype crlfEnd = raw.indexOf("\r\n\r\n");
        qsizetype bodyStart = end < 0 ? raw.size() : end + 2;
        if (crlfEnd >= 0 && (end < 0 || crlfEnd < end)) {
            end = crlfEnd;
            bodyStart = crlfEnd + 4;
        }
        const QByteArray block = raw.left(end < 0 ? raw.size() : end);
        const auto type
            = mail::headerField(std::string_view(block.constData(), std::size_t(block.size())), "Content-Type");
        m_data = "Content-Type: " + QByteArray::fromStdString(type.value_or("multipart/signed")) + "\r\n\r\n"
            + raw.mid(bodyStart);
    }
    QString fileName() const override { return QStringLiteral("smime.p7m"); }
    QString mimeType() const override { return QStringLiteral("multipart/signed"); }
    Result<QByteArray> data() const override { return m_data; }

private:
    QByteArray m_data;
};

using Storage = CompoundFileBuilder::Storage;

class Writer {
public:
    explicit Writer(CompoundFileBuilder& file)
        : m_file(file)
    {
    }

    Status message(Storage storage, const mail::MailItem& item, PropertyStream::Owner owner, int depth);

private:
    void parties(
        Storage storage, PropertyStream& props, const mail::MailItem& item, const mail::MessageDetails& details);
    void details(Storage storage, PropertyStream& props, const mail::MessageDetails& details);
    void categories(Storage storage, PropertyStream& props, const QStringList& categories);
    void recipient(Storage parent, const mail::Recipient& recipient, quint32 index);
    Status attachment(Storage parent, const mail::Attachment& attachment, quint32 index, int depth);
    void nameMap(Storage storage);

    void string(Storage storage, PropertyStream& props, quint16 id, const QString& value);
    void stringIfAny(Storage storage, PropertyStream& props, quint16 id, const QString& value);
    void binary(Storage storage, PropertyStream& props, quint16 id, const QByteArray& value);
    static void time(PropertyStream& props, quint16 id, const QDateTime& time);

    CompoundFileBuilder& m_file;
    bool m_keywordsUsed = false;
};

Status Writer::message(Storage storage, const mail::MailItem& item, PropertyStream::Owner owner, int depth)
{
    const QString messageClass = item.messageClass();
    auto attachments = item.attachments();
    if (!attachments)
        return attachments.error();
    // A signed mail has one attachment, the signed entity whole; its parts stay readable through it.
    if (messageClass == QLatin1String(mail::kSignedMessageClass) && !item.rawMessage().isEmpty()) {
        attachments->clear();
        attachments->push_back(std::make_unique<SignedEntity>(item.rawMessage()));
    }
    // The recipients are read as they come, twice, and never held: a mail may have hundreds of thousands.
    const RecipientCount recipients = countRecipients(item);
    const mail::ItemSummary& summary = item.summary();

    PropertyStream props(owner);
    props.setCounts(recipients.count, quint32(attachments->size()));

    string(storage, props, Prop::MessageClass, messageClass.isEmpty() ? QStringLiteral("IPM.Note") : messageClass);
    const mail::MessageDetails details = item.details();
    QString prefix = details.subjectPrefix.value_or(subjectPrefixOf(summary.subject));
    if (!summary.subject.startsWith(prefix))
        prefix.clear();
    string(storage, props, Prop::Subject, summary.subject);
    string(storage, props, Prop::SubjectPrefix, prefix);
    string(storage, props, Prop::NormalizedSubject, summary.subject.mid(prefix.size()));
    parties(storage, props, item, details);
    this->details(storage, props, details);
    string(storage, props, Prop::DisplayTo, summary.to);
    string(storage, props, Prop::DisplayCc, item.displayCc());
    string(storage, props, Prop::DisplayBcc, recipients.displayBcc);

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
        (details.read.value_or(true) ? kMsgFlagRead : 0) | (summary.sent ? 0 : kMsgFlagUnsent)
            | (hasAttachments ? kMsgFlagHasAttach : 0));
    props.addBoolean(Prop::HasAttach, hasAttachments);
    props.addLong(Prop::InternetCpid, kCodePageUtf8);
    props.addLong(Prop::StoreSupportMask, kStoreUnicodeOk);

    quint32 index = 0;
    item.forEachRecipient([&](const mail::Recipient& r) { recipient(storage, r, index++); });
    for (size_t i = 0; i < attachments->size(); ++i) {
        if (Status status = attachment(storage, *attachments->at(i), quint32(i), depth); !status)
            return status;
    }

    m_file.addStream(storage, kPropertiesStream, props.bytes());
    if (owner == PropertyStream::Owner::TopMessage)
        nameMap(storage);
    return success();
}

// Named properties are mapped once per file, for the message and every mail attached to it. The one this
// writer uses is the categories' "Keywords" of PS_PUBLIC_STRINGS, which then has the id 0x8000: its entry
// names it by an offset into the string stream, and the bucket stream of its name's hash lists it again.
void Writer::nameMap(Storage storage)
{
    const Storage nameId = m_file.addStorage(storage, "__nameid_version1.0");
    const auto stream = [&](quint16 id, QByteArray bytes) {
        m_file.addStream(nameId, valueStreamName(propTag(id, PropType::Binary)), std::move(bytes));
    };
    stream(0x0002, {}); // GUIDs beyond the predefined ones: none
    if (!m_keywordsUsed) {
        stream(0x0003, {});
        stream(0x0004, {});
        return;
    }
    const QByteArray name = toUtf16LE(QStringLiteral("Keywords"));
    const quint32 kind = quint32(kPublicStringsIndex) << 1 | 1; // a string name
    const quint32 indexAndKind = kind | quint32(Prop::Keywords - 0x8000) << 16;
    QByteArray entry;
    appendLE32(entry, 0); // the name's offset in the string stream
    appendLE32(entry, indexAndKind);
    stream(0x0003, entry);
    QByteArray strings;
    appendLE32(strings, quint32(name.size()));
    strings += name;
    strings.append((4 - strings.size() % 4) % 4, '\0');
    stream(0x0004, strings);
    const quint32 hash = crc32(name);
    QByteArray bucket;
    appendLE32(bucket, hash);
    appendLE32(bucket, indexAndKind);
    stream(quint16(0x1000 + (hash ^ kind) % 0x1F), bucket);
}

// The parties' properties: for whom the mail was sent (From) and who sent it, the same party unless the
// store names a sender of its own; to whom it was delivered, and for whom, where the store says. An Exchange
// user keeps the address type EX and the X.500 address, with the SMTP address beside them where the store
// has one.
void Writer::parties(
    Storage storage, PropertyStream& props, const mail::MailItem& item, const mail::MessageDetails& details)
{
    const mail::Recipient from = mail::fromOf(item, details);
    const mail::Recipient sender = details.sender.value_or(from);
    struct Tags {
        quint16 name, email, addrType, smtp;
    };
    for (const auto& [party, tags] :
        { std::pair { &sender,
              Tags { Prop::SenderName, Prop::SenderEmailAddress, Prop::SenderAddrType, Prop::SenderSmtpAddress } },
            std::pair { &from,
                Tags { Prop::SentRepresentingName, Prop::SentRepresentingEmail, Prop::SentRepresentingAddrType,
                    Prop::SentRepresentingSmtpAddress } },
            std::pair { &details.receivedBy,
                Tags { Prop::ReceivedByName, Prop::ReceivedByEmail, Prop::ReceivedByAddrType,
                    Prop::ReceivedBySmtpAddress } },
            std::pair { &details.receivedRepresenting,
                Tags { Prop::ReceivedRepresentingName, Prop::ReceivedRepresentingEmail,
                    Prop::ReceivedRepresentingAddrType, Prop::ReceivedRepresentingSmtpAddress } } }) {
        const bool exchange = !party->exchangeAddress.isEmpty();
        if (party != &sender && party != &from && displayNameOf(*party).isEmpty())
            continue; // no delivery the store tells of
        string(storage, props, tags.name, displayNameOf(*party));
        string(storage, props, tags.email, exchange ? party->exchangeAddress : party->address);
        string(storage, props, tags.addrType, exchange ? kExchange : kSmtp);
        if (exchange)
            stringIfAny(storage, props, tags.smtp, party->address);
    }
}

// Identifiers, importance, conversation, reply-to, follow-up flag and categories, each where the store has it.
void Writer::details(Storage storage, PropertyStream& props, const mail::MessageDetails& details)
{
    stringIfAny(storage, props, Prop::InternetMessageId, details.messageId);
    stringIfAny(storage, props, Prop::InReplyToId, details.inReplyTo);
    stringIfAny(storage, props, Prop::InternetReferences, details.references);
    stringIfAny(storage, props, Prop::ConversationTopic, details.conversationTopic);
    if (!details.conversationIndex.isEmpty())
        binary(storage, props, Prop::ConversationIndex, details.conversationIndex);
    if (details.importance)
        props.addLong(Prop::Importance, *details.importance);
    if (details.priority)
        props.addLong(Prop::Priority, *details.priority);
    if (details.flagStatus)
        props.addLong(Prop::FlagStatus, *details.flagStatus);
    if (details.replyRequested)
        props.addBoolean(Prop::ReplyRequested, *details.replyRequested);
    if (!details.replyTo.isEmpty()) {
        QStringList names;
        QList<QByteArray> entries;
        for (const mail::Recipient& r : details.replyTo) {
            names << displayNameOf(r);
            if (!r.address.isEmpty())
                entries << oneOffEntryId(names.last(), kSmtp, r.address);
        }
        string(storage, props, Prop::ReplyRecipientNames, names.join(QLatin1String("; ")));
        // An entry without an address would name no one: where the store gave names alone, names alone go.
        if (entries.size() == names.size())
            binary(storage, props, Prop::ReplyRecipientEntries, flatEntryList(entries));
    }
    if (!details.categories.isEmpty())
        categories(storage, props, details.categories);
}

// A multi-valued string: a stream of the values' sizes (with their terminators), and a stream per value.
void Writer::categories(Storage storage, PropertyStream& props, const QStringList& categories)
{
    m_keywordsUsed = true;
    const quint32 tag = propTag(Prop::Keywords, PropType::MultipleUnicode);
    QByteArray lengths;
    for (qsizetype i = 0; i < categories.size(); ++i) {
        QByteArray value = toUtf16LE(categories[i]) + QByteArray(2, '\0');
        appendLE32(lengths, quint32(value.size()));
        m_file.addStream(storage,
            valueStreamName(tag) + '-' + QByteArray::number(i, 16).rightJustified(8, '0').toUpper(), std::move(value));
    }
    props.addStreamed(tag, quint32(lengths.size()));
    m_file.addStream(storage, valueStreamName(tag), lengths);
}

void Writer::recipient(Storage parent, const mail::Recipient& recipient, quint32 index)
{
    const Storage storage = m_file.addStorage(parent, recipientStorageName(index));
    PropertyStream props(PropertyStream::Owner::RecipientOrAttachment);
    const bool exchange = !recipient.exchangeAddress.isEmpty();
    string(storage, props, Prop::DisplayName, displayNameOf(recipient));
    string(storage, props, Prop::EmailAddress, exchange ? recipient.exchangeAddress : recipient.address);
    string(storage, props, Prop::AddrType, exchange ? kExchange : kSmtp);
    stringIfAny(storage, props, Prop::SmtpAddress, recipient.address);
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
    // An image the HTML body shows by its Content-ID is hidden from the list of attachments.
    if (const QString contentId = attachment.contentId(); !contentId.isEmpty()) {
        string(storage, props, Prop::AttachContentId, contentId);
        if (attachment.isInline()) {
            props.addBoolean(Prop::AttachmentHidden, true);
            props.addLong(Prop::AttachFlags, kAttachMhtmlRef);
        }
    }
    stringIfAny(storage, props, Prop::AttachContentLocation, attachment.contentLocation());

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

void Writer::stringIfAny(Storage storage, PropertyStream& props, quint16 id, const QString& value)
{
    if (!value.isEmpty())
        string(storage, props, id, value);
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

Status writeMsg(const mail::MailItem& item, output::FileOutput& out)
{
    CompoundFileWriter file(kMessageClassId, out);
    if (Status status = Writer(file).message(Storage::Root, item, PropertyStream::Owner::TopMessage, 0); !status)
        return status;
    return file.finish();
}

Result<QByteArray> msgBytes(const mail::MailItem& item)
{
    // Most of a message's text is stored twice (the body as text and as HTML, in UTF-16), next to a few
    // dozen entries and their sectors.
    output::MemoryOutput out(2 * item.rawMessage().size() + 16 * 1024);
    if (Status status = writeMsg(item, out); !status)
        return status.error();
    return out.take();
}

Status writeMsgFile(const mail::MailItem& item, const QString& path)
{
    const QFileInfo target(path);
    const Result<output::Directory> dir = output::Directory::open(target.path(), output::Disk::system());
    if (!dir) {
        Error error = dir.error();
        error.path = path;
        return error;
    }
    return dir->writeFile(
        target.fileName(), [&item](output::FileOutput& out) { return writeMsg(item, out); }, output::Disk::system());
}

} // namespace quillbox::msg

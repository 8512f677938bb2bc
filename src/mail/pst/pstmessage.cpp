// SPDX-License-Identifier: MIT
#include "mail/pst/pstmessage.h"

#include "mail/mimetext.h"
#include "mail/pst/olepicture.h"

#include <limits>

namespace quillbox::mail::pst {

namespace {

constexpr qsizetype kReadChunk = 64 * 1024;

// Recipient types as MAPI stores them; the higher bits carry flags (resent, ...).
constexpr qint64 kRecipientTypeMask = 0x0F;

QString withoutTrailingNuls(QString text)
{
    qsizetype end = text.size();
    while (end > 0 && text.at(end - 1).isNull())
        --end;
    text.truncate(end);
    return text;
}

// A party of the message: its name, its Internet address and, for an Exchange user (address type EX or
// an X.500 address), the X.500 address apart.
Recipient partyOf(const TextReader& text, quint16 name, quint16 addrType, quint16 email, quint16 smtp)
{
    Recipient party;
    party.name = text(name);
    const QString address = text(email);
    party.address = text(smtp);
    if (text(addrType).compare(QLatin1String("EX"), Qt::CaseInsensitive) == 0 || isExchangeAddress(address))
        party.exchangeAddress = address;
    else if (party.address.isEmpty())
        party.address = address;
    return party;
}

class PstAttachment final : public Attachment {
public:
    PstAttachment(
        std::shared_ptr<PffItem> attachment, std::shared_ptr<PffItem> message, std::shared_ptr<TextDecoder> decoder)
        : m_attachment(std::move(attachment))
        , m_properties(m_attachment)
        , m_messageProperties(std::move(message))
        , m_decoder(std::move(decoder))
    {
        libpff_error_t* error = nullptr;
        if (libpff_attachment_get_type(m_attachment->get(), &m_type, &error) != 1)
            discardError(error);
    }

    // An OLE object (attach method 6) is saved as the picture it holds, else as the compound file it is: its
    // display name gets the picture's extension ("Picture (Device Independent Bitmap).bmp"), or ".bin" where
    // it has no extension of its own; one without a name is named for what it is.
    QString fileName() const override
    {
        const TextReader text(m_properties, *m_decoder, &m_messageProperties);
        QString name;
        for (quint16 id : { Prop::AttachLongFilename, Prop::AttachFilename, Prop::DisplayName })
            if (name = text(id); !name.isEmpty())
                break;
        if (!isOle())
            return name;
        if (const std::optional<Picture>& picture = oleToPicture()) {
            const QString suffix = u'.' + picture->extension;
            return (name.isEmpty() ? QStringLiteral("picture") : name)
                + (name.endsWith(suffix, Qt::CaseInsensitive) ? QString() : suffix);
        }
        if (name.isEmpty())
            return QStringLiteral("object.bin");
        return name.contains(u'.') ? name : name + QLatin1String(".bin");
    }

    QString mimeType() const override
    {
        if (isOle())
            if (const std::optional<Picture>& picture = oleToPicture())
                return picture->mimeType;
        return text()(Prop::AttachMimeTag);
    }
    QString contentId() const override { return text()(Prop::AttachContentId); }
    QString contentLocation() const override { return text()(Prop::AttachContentLocation); }
    bool isInline() const override
    {
        constexpr qint64 kMhtmlRef = 0x4;
        const auto hidden = integerValue(m_properties, Prop::AttachmentHidden);
        return (hidden && *hidden != 0) || (integerValue(m_properties, Prop::AttachFlags).value_or(0) & kMhtmlRef);
    }

    Result<QByteArray> data() const override;
    std::unique_ptr<MailItem> embeddedMessage() const override;

private:
    TextReader text() const { return TextReader(m_properties, *m_decoder, &m_messageProperties); }
    bool isOle() const
    {
        constexpr qint64 kAttachOle = 6;
        return integerValue(m_properties, Prop::AttachMethod) == kAttachOle;
    }
    Result<QByteArray> storedData() const;
    // The picture the OLE object holds, looked for once.
    const std::optional<Picture>& oleToPicture() const
    {
        if (!m_picture) {
            m_picture.emplace(); // none while it is looked for: a failure to read names the attachment
            if (const Result<QByteArray> stored = storedData())
                *m_picture = oleObjectPicture(*stored);
        }
        return *m_picture;
    }
    Error failure(const QString& detail) const
    {
        return Error { Error::Code::Unreadable, m_attachment->file()->path(), detail };
    }

    std::shared_ptr<PffItem> m_attachment;
    PffProperties m_properties;
    PffProperties m_messageProperties; // the code page of 8-bit names is the message's
    std::shared_ptr<TextDecoder> m_decoder;
    int m_type = LIBPFF_ATTACHMENT_TYPE_UNDEFINED;
    mutable std::optional<std::optional<Picture>> m_picture;
};

Result<QByteArray> PstAttachment::data() const
{
    if (isOle())
        if (const std::optional<Picture>& picture = oleToPicture())
            return picture->bytes;
    return storedData();
}

// Read in chunks straight into the one buffer: an attachment is never held twice.
Result<QByteArray> PstAttachment::storedData() const
{
    libpff_error_t* error = nullptr;
    if (m_type == LIBPFF_ATTACHMENT_TYPE_ITEM)
        return failure(QStringLiteral("\"%1\" is an attached Outlook item, not a file").arg(fileName()));
    if (m_type == LIBPFF_ATTACHMENT_TYPE_REFERENCE) {
        const QString target = TextReader(m_properties, *m_decoder, &m_messageProperties)(Prop::AttachPathname);
        return failure(QStringLiteral("\"%1\" is a link to a file outside the data file: %2").arg(fileName(), target));
    }
    size64_t size = 0;
    const int sized = libpff_attachment_get_data_size(m_attachment->get(), &size, &error);
    if (sized == -1)
        return failure(takeErrorText(error));
    if (sized == 0 || size == 0)
        return QByteArray();
    if (size > size64_t(std::numeric_limits<qsizetype>::max() / 2))
        return failure(QStringLiteral("the attachment is too large to read"));
    if (libpff_attachment_data_seek_offset(m_attachment->get(), 0, SEEK_SET, &error) == -1)
        return failure(takeErrorText(error));
    QByteArray bytes(qsizetype(size), Qt::Uninitialized);
    qsizetype done = 0;
    while (done < bytes.size()) {
        const qsizetype want = std::min(kReadChunk, bytes.size() - done);
        const ssize_t got = libpff_attachment_data_read_buffer(
            m_attachment->get(), reinterpret_cast<uint8_t*>(bytes.data() + done), size_t(want), &error);
        if (got < 0)
            return failure(takeErrorText(error));
        if (got == 0)
            return failure(QStringLiteral("the attachment's data ends before its stated size"));
        done += got;
    }
    return bytes;
}

class PstMessage final : public MailItem {
public:
    PstMessage(std::shared_ptr<PffItem> message, std::shared_ptr<TextDecoder> decoder, const QString& entryID,
        std::function<std::unique_ptr<Folder>()> parent)
        : m_message(std::move(message))
        , m_properties(m_message)
        , m_decoder(std::move(decoder))
        , m_parent(std::move(parent))
    {
        m_summary = summarize(m_properties, *m_decoder);
        m_summary.entryID = entryID;
    }

    const ItemSummary& summary() const override { return m_summary; }
    std::unique_ptr<Folder> parent() const override { return m_parent ? m_parent() : nullptr; }
    QString messageClass() const override { return text()(Prop::MessageClass); }
    QString senderName() const override { return text()(Prop::SenderName); }
    QString displayCc() const override { return text()(Prop::DisplayCc); }
    void forEachRecipient(const std::function<void(const Recipient&)>& visit) const override;
    QString plainBody() const override { return bodyText()(Prop::Body); }
    QString htmlBody() const override;
    QByteArray rtfBody() const override;
    QString transportHeaders() const override { return text()(Prop::TransportHeaders); }
    QByteArray rawMessage() const override { return {}; }
    Result<std::vector<std::unique_ptr<Attachment>>> attachments() const override;
    MessageDetails details() const override;

private:
    TextReader text() const { return TextReader(m_properties, *m_decoder); }
    TextReader bodyText() const { return TextReader(m_properties, *m_decoder, nullptr, true); }

    std::shared_ptr<PffItem> m_message;
    PffProperties m_properties;
    std::shared_ptr<TextDecoder> m_decoder;
    std::function<std::unique_ptr<Folder>()> m_parent;
    ItemSummary m_summary;
};

void PstMessage::forEachRecipient(const std::function<void(const Recipient&)>& visit) const
{
    libpff_item_t* table = nullptr;
    libpff_error_t* error = nullptr;
    if (libpff_message_get_recipients(m_message->get(), &table, &error) != 1) {
        discardError(error);
        return;
    }
    const auto rows = std::make_shared<PffItem>(m_message->file(), table);
    int count = 0;
    if (libpff_item_get_number_of_record_sets(rows->get(), &count, &error) != 1) {
        discardError(error);
        return;
    }
    for (int i = 0; i < count; ++i) {
        const PffProperties row(rows, i);
        const TextReader rowText(row, *m_decoder, &m_properties);
        Recipient recipient
            = partyOf(rowText, Prop::DisplayName, Prop::AddrType, Prop::EmailAddress, Prop::SmtpAddress);
        switch (integerValue(row, Prop::RecipientType).value_or(1) & kRecipientTypeMask) {
        case 2:
            recipient.type = Recipient::Type::Cc;
            break;
        case 3:
            recipient.type = Recipient::Type::Bcc;
            break;
        default:
            recipient.type = Recipient::Type::To;
            break;
        }
        if (!recipient.name.isEmpty() || !recipient.address.isEmpty() || !recipient.exchangeAddress.isEmpty())
            visit(recipient);
    }
}

MessageDetails PstMessage::details() const
{
    const TextReader text = this->text();
    MessageDetails details;
    details.messageId = text(Prop::InternetMessageId);
    details.inReplyTo = text(Prop::InReplyToId);
    details.references = text(Prop::InternetReferences);
    details.importance = integerValue(m_properties, Prop::Importance);
    details.priority = integerValue(m_properties, Prop::Priority);
    details.flagStatus = integerValue(m_properties, Prop::FlagStatus);
    details.conversationTopic = text(Prop::ConversationTopic);
    details.conversationIndex = binaryValue(m_properties, Prop::ConversationIndex);
    details.categories = text.strings(m_properties.namedValue("Keywords"));
    if (m_properties.value(Prop::SubjectPrefix))
        details.subjectPrefix = text(Prop::SubjectPrefix);
    if (const auto flags = integerValue(m_properties, Prop::MessageFlags))
        details.read = (*flags & 0x1) != 0;
    // The reply-to entries are entry identifiers; the headers, where the mail came by Internet mail, name them
    // plainly. Without them the names are all there is.
    const QString headers = transportHeaders();
    if (const auto replyTo = headerField(headers.toStdString(), "Reply-To"))
        for (const Address& address : parseAddresses(*replyTo))
            details.replyTo += Recipient { address.name, address.address };
    if (details.replyTo.isEmpty())
        for (const QString& name : text(Prop::ReplyRecipientNames).split(u';', Qt::SkipEmptyParts))
            if (!name.trimmed().isEmpty())
                details.replyTo += Recipient { name.trimmed(), QString() };
    details.receivedBy = partyOf(
        text, Prop::ReceivedByName, Prop::ReceivedByAddrType, Prop::ReceivedByEmail, Prop::ReceivedBySmtpAddress);
    details.receivedRepresenting = partyOf(text, Prop::ReceivedRepresentingName, Prop::ReceivedRepresentingAddrType,
        Prop::ReceivedRepresentingEmail, Prop::ReceivedRepresentingSmtpAddress);
    if (const auto requested = integerValue(m_properties, Prop::ReplyRequested))
        details.replyRequested = *requested != 0;
    const Recipient sender
        = partyOf(text, Prop::SenderName, Prop::SenderAddrType, Prop::SenderEmailAddress, Prop::SenderSmtpAddress);
    details.from = partyOf(text, Prop::SentRepresentingName, Prop::SentRepresentingAddrType,
        Prop::SentRepresentingEmail, Prop::SentRepresentingSmtpAddress);
    const auto same = [](const Recipient& a, const Recipient& b) {
        return a.address.compare(b.address, Qt::CaseInsensitive) == 0
            && a.exchangeAddress.compare(b.exchangeAddress, Qt::CaseInsensitive) == 0;
    };
    if (details.from.address.isEmpty() && details.from.exchangeAddress.isEmpty())
        details.from = sender;
    else if (details.from.address.isEmpty()
        && details.from.exchangeAddress.compare(sender.exchangeAddress, Qt::CaseInsensitive) == 0)
        details.from.address = sender.address;
    else if (!same(details.from, sender) && !(sender.address.isEmpty() && sender.exchangeAddress.isEmpty()))
        details.sender = sender;
    return details;
}

// PR_HTML is binary: its bytes are in the message's Internet code page.
QString PstMessage::htmlBody() const
{
    const auto html = m_properties.value(Prop::Html);
    if (!html)
        return {};
    const TextReader body = bodyText();
    if (html->type != PropType::Binary)
        return body(Prop::Html);
    return withoutTrailingNuls(m_decoder->decode(html->bytes, body.codePage()));
}

QByteArray PstMessage::rtfBody() const
{
    size_t size = 0;
    libpff_error_t* error = nullptr;
    if (libpff_message_get_rtf_body_size(m_message->get(), &size, &error) != 1 || size == 0) {
        discardError(error);
        return {};
    }
    QByteArray rtf(qsizetype(size), '\0');
    if (libpff_message_get_rtf_body(m_message->get(), reinterpret_cast<uint8_t*>(rtf.data()), size, &error) != 1) {
        discardError(error);
        return {};
    }
    while (rtf.endsWith('\0'))
        rtf.chop(1);
    return rtf;
}

Result<std::vector<std::unique_ptr<Attachment>>> PstMessage::attachments() const
{
    const QString path = m_message->file()->path();
    libpff_error_t* error = nullptr;
    int count = 0;
    if (libpff_message_get_number_of_attachments(m_message->get(), &count, &error) != 1)
        return Error { Error::Code::Unreadable, path, takeErrorText(error) };
    std::vector<std::unique_ptr<Attachment>> attachments;
    for (int i = 0; i < count; ++i) {
        libpff_item_t* attachment = nullptr;
        if (libpff_message_get_attachment(m_message->get(), i, &attachment, &error) != 1)
            return Error { Error::Code::Unreadable, path, takeErrorText(error) };
        attachments.push_back(std::make_unique<PstAttachment>(
            std::make_shared<PffItem>(m_message->file(), attachment), m_message, m_decoder));
    }
    return attachments;
}

std::unique_ptr<MailItem> PstAttachment::embeddedMessage() const
{
    if (m_type != LIBPFF_ATTACHMENT_TYPE_ITEM)
        return nullptr;
    libpff_item_t* message = nullptr;
    libpff_error_t* error = nullptr;
    if (libpff_attachment_get_item(m_attachment->get(), &message, &error) != 1) {
        discardError(error);
        return nullptr;
    }
    auto item = std::make_shared<PffItem>(m_attachment->file(), message, m_attachment);
    if (!checkReadable(*item))
        return nullptr;
    return std::make_unique<PstMessage>(std::move(item), m_decoder, QString(), nullptr);
}

} // namespace

std::unique_ptr<MailItem> makeMessage(std::shared_ptr<PffItem> message, std::shared_ptr<TextDecoder> decoder,
    const QString& entryID, std::function<std::unique_ptr<Folder>()> parent)
{
    return std::make_unique<PstMessage>(std::move(message), std::move(decoder), entryID, std::move(parent));
}

} // namespace quillbox::mail::pst

// SPDX-License-Identifier: MIT
#include <gmime/gmime.h>

#include "mailstore/maildir/maildirmessage.h"

#include "mailstore/maildir/maildirnames.h"
#include "mailstore/maildir/mimetext.h"

namespace quillbox::mail::maildir {

namespace {

QDateTime localTime(std::optional<qint64> seconds)
{
    return seconds ? QDateTime::fromSecsSinceEpoch(*seconds) : noDate();
}

std::string lower(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return text;
}

std::string trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return std::string(text);
}

// The item class a top-level Content-Type gives: reports are delivery or read reports; a calendar
// request is a text/calendar body (whose method is REQUEST or not given) or any type that carries
// method=REQUEST. Invitations whose calendar part lies deeper are listed as mail.
int classOf(const std::optional<std::string>& contentType)
{
    if (!contentType)
        return kClassMail;
    const std::string text = lower(*contentType);
    std::string_view rest(text);
    const std::string type = trimmed(rest.substr(0, rest.find(';')));
    std::optional<std::string> method;
    for (std::size_t semicolon = rest.find(';'); semicolon != std::string_view::npos; semicolon = rest.find(';')) {
        rest.remove_prefix(semicolon + 1);
        const std::string_view parameter = rest.substr(0, rest.find(';'));
        const std::size_t equals = parameter.find('=');
        if (equals == std::string_view::npos || trimmed(parameter.substr(0, equals)) != "method")
            continue;
        std::string value = trimmed(parameter.substr(equals + 1));
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        method = value;
    }
    if (type == "multipart/report")
        return kClassReport;
    if ((type == "text/calendar" && (!method || *method == "request")) || method == "request")
        return kClassMeetingRequest;
    return kClassMail;
}

QByteArray streamBytes(GMimeStream* stream)
{
    GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(stream));
    return QByteArray(reinterpret_cast<const char*>(bytes->data), qsizetype(bytes->len));
}

// The content of a leaf part with its transfer encoding (base64, quoted-printable, uuencode) undone.
QByteArray decodedContent(GMimePart* part)
{
    GMimeDataWrapper* content = g_mime_part_get_content(part);
    if (!content)
        return {};
    GMimeStream* stream = g_mime_stream_mem_new();
    g_mime_data_wrapper_write_to_stream(content, stream);
    QByteArray bytes = streamBytes(stream);
    g_object_unref(stream);
    return bytes;
}

QByteArray objectBytes(GMimeObject* object)
{
    GMimeStream* stream = g_mime_stream_mem_new();
    g_mime_object_write_to_stream(object, nullptr, stream);
    QByteArray bytes = streamBytes(stream);
    g_object_unref(stream);
    return bytes;
}

QString textOf(GMimePart* part)
{
    const char* charset = g_mime_object_get_content_type_parameter(GMIME_OBJECT(part), "charset");
    QString text = decodeBody(decodedContent(part), QByteArray(charset));
    crlfToLf(text);
    return text;
}

QString mimeTypeOf(GMimeObject* object)
{
    GMimeContentType* type = g_mime_object_get_content_type(object);
    if (!type)
        return QStringLiteral("application/octet-stream");
    char* text = g_mime_content_type_get_mime_type(type);
    const QString mimeType = QString::fromUtf8(text).toLower();
    g_free(text);
    return mimeType;
}

class MaildirAttachment : public Attachment {
public:
    MaildirAttachment(QString fileName, QString mimeType, QByteArray data, bool isMail)
        : m_fileName(std::move(fileName))
        , m_mimeType(std::move(mimeType))
        , m_data(std::move(data))
        , m_isMail(isMail)
    {
    }
    QString fileName() const override { return m_fileName; }
    QString mimeType() const override { return m_mimeType; }
    Result<QByteArray> data() const override { return m_data; }
    std::unique_ptr<MailItem> embeddedMessage() const override
    {
        return m_isMail ? makeMessage(m_data, {}, {}, nullptr) : nullptr;
    }

private:
    QString m_fileName;
    QString m_mimeType;
    QByteArray m_data;
    bool m_isMail;
};

class MaildirMessage : public MailItem {
public:
    MaildirMessage(QByteArray raw, const MessageFile& file, const QString& entryID,
        std::function<std::unique_ptr<Folder>()> parent)
        : m_raw(std::move(raw))
        , m_parent(std::move(parent))
    {
        HeaderScan scan;
        scan.scan(m_raw.constData(), std::size_t(m_raw.size()), true);
        summarize(m_raw.constData(), scan, file, m_summary);
        m_summary.entryID = entryID;
        m_headerLength = scan.blockLength();
    }
    ~MaildirMessage() override
    {
        if (m_message)
            g_object_unref(m_message);
    }

    const ItemSummary& summary() const override { return m_summary; }
    std::unique_ptr<Folder> parent() const override { return m_parent ? m_parent() : nullptr; }
    QString messageClass() const override
    {
        switch (m_summary.itemClass) {
        case kClassReport:
            return QStringLiteral("REPORT.IPM.Note.DR");
        case kClassMeetingRequest:
            return QStringLiteral("IPM.Schedule.Meeting.Request");
        default:
            return QStringLiteral("IPM.Note");
        }
    }
    QString senderName() const override { return parsed().m_senderName; }
    QString displayCc() const override { return parsed().m_displayCc; }
    QList<Recipient> recipients() const override { return parsed().m_recipients; }
    QString plainBody() const override { return parsed().m_plain; }
    QString htmlBody() const override { return parsed().m_html; }
    QByteArray rtfBody() const override { return {}; }
    QString transportHeaders() const override { return decodeBody(m_raw.left(qsizetype(m_headerLength)), {}); }
    QByteArray rawMessage() const override { return m_raw; }
    Result<std::vector<std::unique_ptr<Attachment>>> attachments() const override
    {
        std::vector<std::unique_ptr<Attachment>> list;
        for (GMimeObject* part : parsed().m_attachmentParts)
            list.push_back(attachmentOf(part));
        return list;
    }
    bool standsAlone() const override { return true; }

private:
    // The full MIME parse, done when a body, recipient or attachment is first asked for: saving the
    // message as it is needs only its bytes, and the parse costs several times more than reading them.
    // Not thread-safe, like the rest of an item.
    const MaildirMessage& parsed() const
    {
        if (m_parsed)
            return *this;
        m_parsed = true;
        GMimeStream* stream = g_mime_stream_mem_new_with_buffer(m_raw.constData(), size_t(m_raw.size()));
        GMimeParser* parser = g_mime_parser_new_with_stream(stream);
        m_message = g_mime_parser_construct_message(parser, parserOptions());
        g_object_unref(parser);
        g_object_unref(stream);
        if (m_message) {
            readAddresses();
            if (GMimeObject* body = g_mime_message_get_mime_part(m_message))
                collect(body);
        }
        if (m_plain.isEmpty() && m_html.isEmpty() && m_attachmentParts.empty())
            m_plain = textAfterHeaders(m_headerLength);
        return *this;
    }

    // A file GMime finds no body in (no headers at all, a broken MIME structure) still has its text.
    QString textAfterHeaders(std::size_t headerLength) const
    {
        qsizetype start = qsizetype(headerLength);
        if (start < m_raw.size() && m_raw[start] == '\r')
            ++start;
        if (start < m_raw.size() && m_raw[start] == '\n')
            ++start;
        QString text = decodeBody(m_raw.mid(start), {});
        crlfToLf(text);
        return text;
    }

    void readAddresses() const
    {
        const QList<Address> from = addressesOf(g_mime_message_get_from(m_message));
        if (!from.isEmpty())
            m_senderName = from.first().name.isEmpty() ? from.first().address : from.first().name;
        const std::pair<GMimeAddressType, Recipient::Type> kinds[] = {
            { GMIME_ADDRESS_TYPE_TO, Recipient::Type::To },
            { GMIME_ADDRESS_TYPE_CC, Recipient::Type::Cc },
            { GMIME_ADDRESS_TYPE_BCC, Recipient::Type::Bcc },
        };
        for (const auto& [kind, type] : kinds) {
            const QList<Address> addresses = addressesOf(g_mime_message_get_addresses(m_message, kind));
            for (const Address& address : addresses)
                m_recipients += Recipient { address.name, address.address, type };
            if (type == Recipient::Type::Cc)
                m_displayCc = displayNames(addresses);
        }
    }

    // Every inline text/plain part is body text (a list footer after the message stays with it);
    // the first inline text/html part is the HTML body; every other leaf part, and every attached
    // mail, is an attachment, so that no part of the message is lost.
    void collect(GMimeObject* object) const
    {
        if (GMIME_IS_MULTIPART(object)) {
            GMimeMultipart* multipart = GMIME_MULTIPART(object);
            for (int i = 0; i < g_mime_multipart_get_count(multipart); ++i)
                collect(g_mime_multipart_get_part(multipart, i));
            return;
        }
        if (GMIME_IS_MESSAGE_PART(object)) {
            m_attachmentParts.push_back(object);
            return;
        }
        if (!GMIME_IS_PART(object))
            return;
        GMimePart* part = GMIME_PART(object);
        const char* disposition = g_mime_object_get_disposition(object);
        const bool attached
            = (disposition && g_ascii_strcasecmp(disposition, "attachment") == 0) || g_mime_part_get_filename(part);
        GMimeContentType* type = g_mime_object_get_content_type(object);
        if (!attached && type && g_mime_content_type_is_type(type, "text", "plain")) {
            if (!m_plain.isEmpty() && !m_plain.endsWith(u'\n'))
                m_plain += u'\n';
            m_plain += textOf(part);
        } else if (!attached && type && g_mime_content_type_is_type(type, "text", "html") && !m_htmlTaken) {
            m_html = textOf(part);
            m_htmlTaken = true;
        } else {
            m_attachmentParts.push_back(object);
        }
    }

    static std::unique_ptr<Attachment> attachmentOf(GMimeObject* object)
    {
        if (GMIME_IS_MESSAGE_PART(object)) {
            GMimeMessage* mail = g_mime_message_part_get_message(GMIME_MESSAGE_PART(object));
            QString name = QString::fromUtf8(g_mime_object_get_content_disposition_parameter(object, "filename"));
            if (name.isEmpty())
                name = QString::fromUtf8(g_mime_object_get_content_type_parameter(object, "name"));
            if (name.isEmpty()) {
                const char* subject = mail ? g_mime_message_get_subject(mail) : nullptr;
                name = (subject && *subject ? QString::fromUtf8(subject) : QStringLiteral("message"))
                    + QLatin1String(".eml");
            }
            return std::make_unique<MaildirAttachment>(
                name, mimeTypeOf(object), mail ? objectBytes(GMIME_OBJECT(mail)) : QByteArray(), true);
        }
        GMimePart* part = GMIME_PART(object);
        return std::make_unique<MaildirAttachment>(
            QString::fromUtf8(g_mime_part_get_filename(part)), mimeTypeOf(object), decodedContent(part), false);
    }

    QByteArray m_raw;
    std::function<std::unique_ptr<Folder>()> m_parent;
    ItemSummary m_summary;
    std::size_t m_headerLength = 0;
    mutable bool m_parsed = false;
    mutable GMimeMessage* m_message = nullptr;
    mutable QString m_senderName;
    mutable QString m_displayCc;
    mutable QList<Recipient> m_recipients;
    mutable QString m_plain;
    mutable QString m_html;
    mutable bool m_htmlTaken = false;
    mutable std::vector<GMimeObject*> m_attachmentParts; // owned by m_message
};

} // namespace

void summarize(const char* data, const HeaderScan& scan, const MessageFile& file, ItemSummary& summary)
{
    const MessageName name = splitMessageName(file.fileName);
    const std::optional<std::string> dateText = scan.value(data, ListField::Date);
    const std::optional<qint64> date = dateText ? parseDate(*dateText) : std::nullopt;
    summary.sentOn = localTime(date);
    summary.sent = date && !name.flags.contains('D');

    std::optional<qint64> received;
    if (const auto text = scan.value(data, ListField::Received)) {
        const std::size_t semicolon = text->rfind(';');
        if (semicolon != std::string::npos)
            received = parseDate(text->substr(semicolon + 1));
    }
    const std::optional<qint64> fileTime = name.deliveryTime ? name.deliveryTime : file.modified;
    summary.receivedTime = localTime(received ? received : fileTime);
    summary.creationTime = localTime(fileTime);

    summary.senderEmailAddress.clear();
    if (const auto from = scan.value(data, ListField::From)) {
        for (const Address& address : parseAddresses(*from))
            if (!address.address.isEmpty()) {
                summary.senderEmailAddress = address.address;
                break;
            }
    }
    const auto subject = scan.value(data, ListField::Subject);
    summary.subject = subject ? decodeHeaderText(*subject) : QString();
    const auto to = scan.value(data, ListField::To);
    summary.to = to ? displayNames(parseAddresses(*to)) : QString();
    summary.itemClass = classOf(scan.value(data, ListField::ContentType));
}

std::unique_ptr<MailItem> makeMessage(
    QByteArray raw, const MessageFile& file, const QString& entryID, std::function<std::unique_ptr<Folder>()> parent)
{
    return std::make_unique<MaildirMessage>(std::move(raw), file, entryID, std::move(parent));
}

} // namespace quillbox::mail::maildir

// SPDX-License-Identifier: MIT
#include <gmime/gmime.h>

#include "core/gmime.h"
#include "mail/maildir/maildirmessage.h"

#include "mail/maildir/maildirnames.h"
#include "mail/maildir/partsplit.h"
#include "mail/mimetext.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <tuple>
#include <unistd.h>

namespace quillbox::mail::maildir {

namespace {

thread_local std::size_t t_bytesParsed = 0;

// A message as GMime parsed it and the bytes it was parsed from: the parts keep pointing into the stream
// over `raw`, so the tree and the bytes go together. A mail attached to it shares both with its parent.
// A part read on its own (PartSplit::standalone) is a multipart of that one part: `part` is it.
struct ParsedTree {
    QByteArray raw;
    GByteArray* view = nullptr; // raw's bytes, not owned, for the stream the message reads
    GMimeMessage* message = nullptr;
    GMimeObject* root = nullptr; // the multipart of a part read on its own
    GMimeObject* part = nullptr; // owned by root

    enum class Kind { Message, Part };

    ParsedTree(const ParsedTree&) = delete;
    ParsedTree& operator=(const ParsedTree&) = delete;
    explicit ParsedTree(QByteArray bytes, Kind kind = Kind::Message)
        : raw(std::move(bytes))
        , view(g_byte_array_new_take(reinterpret_cast<guint8*>(const_cast<char*>(raw.constData())), gsize(raw.size())))
    {
        GMimeStream* stream = g_mime_stream_mem_new_with_byte_array(view);
        g_mime_stream_mem_set_owner(GMIME_STREAM_MEM(stream), FALSE);
        GMimeParser* parser = g_mime_parser_new_with_stream(stream);
        if (kind == Kind::Message) {
            message = g_mime_parser_construct_message(parser, parserOptions());
        } else {
            root = g_mime_parser_construct_part(parser, parserOptions());
            part = PartSplit::soleChild(root);
        }
        g_object_unref(parser);
        g_object_unref(stream);
        t_bytesParsed += std::size_t(raw.size());
    }
    ~ParsedTree()
    {
        if (message)
            g_object_unref(message);
        if (root)
            g_object_unref(root);
        g_byte_array_free(view, FALSE);
    }
};

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

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
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

// An HTML part without a charset parameter is read in the charset of its <meta> tag.
QString textOf(const QByteArray& content, const QByteArray& charset, bool html = false)
{
    QString text = html ? decodeHtmlBody(content, charset) : decodeBody(content, charset);
    crlfToLf(text);
    return text;
}

QString textOf(GMimePart* part, bool html = false)
{
    const char* charset = g_mime_object_get_content_type_parameter(GMIME_OBJECT(part), "charset");
    return textOf(decodedContent(part), QByteArray(charset), html);
}

// What a message of one inline text part needs to be read without a MIME parse.
struct SinglePart {
    bool html = false;
    QByteArray charset;
    GMimeContentEncoding encoding = GMIME_CONTENT_ENCODING_DEFAULT;
};

// The address list of the header `field` as it stands, folded (GMime's address parser takes a line break
// in a broken address otherwise than the white space left of it once unfolded), less the white space
// around it; nullopt when the header is not there.
std::optional<std::string_view> addressField(const char* data, const HeaderScan& scan, HeaderField field)
{
    std::optional<std::string_view> value = scan.rawValue(data, field);
    if (value) {
        const std::size_t first = value->find_first_not_of(" \t\r\n");
        const std::size_t last = value->find_last_not_of(" \t\r\n");
        *value = first == std::string_view::npos ? std::string_view() : value->substr(first, last + 1 - first);
    }
    return value;
}

bool sameLetters(std::string_view text, std::string_view lowerCase)
{
    return text.size() == lowerCase.size() && g_ascii_strncasecmp(text.data(), lowerCase.data(), text.size()) == 0;
}

bool isTokenChar(char c)
{
    return c > 32 && c < 127 && !std::strchr("()<>@,;:\\\"/[]?=", c);
}

// A Content-Type of text/plain or text/html whose parameters are plain `name=token` or `name="text"`
// pairs, none of them naming a file. Anything else (comments, RFC 2231 parameters, escapes, a
// repeated charset) is left to GMime.
std::optional<SinglePart> textTypeOf(std::string_view value)
{
    auto skipSpace = [&value] {
        while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
            value.remove_prefix(1);
    };
    auto token = [&value] {
        std::size_t n = 0;
        while (n < value.size() && isTokenChar(value[n]))
            ++n;
        const std::string_view taken = value.substr(0, n);
        value.remove_prefix(n);
        return taken;
    };
    SinglePart part;
    skipSpace();
    const std::string_view type = token();
    if (value.empty() || value.front() != '/')
        return std::nullopt;
    value.remove_prefix(1);
    const std::string_view subtype = token();
    if (!sameLetters(type, "text") || !(sameLetters(subtype, "plain") || sameLetters(subtype, "html")))
        return std::nullopt;
    part.html = sameLetters(subtype, "html");
    bool charsetSeen = false;
    for (;;) {
        skipSpace();
        if (value.empty())
            return part;
        if (value.front() != ';')
            return std::nullopt;
        value.remove_prefix(1);
        skipSpace();
        if (value.empty())
            return part;
        const std::string_view name = token();
        skipSpace();
        if (name.empty() || value.empty() || value.front() != '=')
            return std::nullopt;
        value.remove_prefix(1);
        skipSpace();
        std::string_view parameter;
        if (!value.empty() && value.front() == '"') {
            const std::size_t close = value.find_first_of("\"\\", 1);
            if (close == std::string_view::npos || value[close] != '"')
                return std::nullopt;
            parameter = value.substr(1, close - 1);
            value.remove_prefix(close + 1);
        } else {
            parameter = token();
            if (parameter.empty())
                return std::nullopt;
        }
        if (sameLetters(name, "name") || name.find('*') != std::string_view::npos)
            return std::nullopt; // a named part is an attachment; RFC 2231 parameters are GMime's to read
        if (sameLetters(name, "charset")) {
            if (charsetSeen)
                return std::nullopt;
            charsetSeen = true;
            part.charset = QByteArray(parameter.data(), qsizetype(parameter.size()));
        }
    }
}

// The one text part of a message that can be read without GMime's tree: the headers form a plain block
// in which no field that shapes the body or the addresses occurs twice, the type is text/plain or
// text/html (or not given), the part is not attached, and its transfer encoding is one GMime's
// decoder undoes on its own.
std::optional<SinglePart> singlePartOf(const QByteArray& raw, const HeaderScan& scan)
{
    const char* data = raw.constData();
    if (!scan.plainBlock() || std::memchr(data, '\0', scan.blockLength()))
        return std::nullopt;
    for (HeaderField field : { HeaderField::From, HeaderField::To, HeaderField::Cc, HeaderField::Bcc,
             HeaderField::ContentType, HeaderField::ContentTransferEncoding, HeaderField::ContentDisposition })
        if (scan.repeated(field))
            return std::nullopt;
    std::optional<SinglePart> part = SinglePart {};
    if (const auto type = scan.value(data, HeaderField::ContentType))
        part = textTypeOf(*type);
    if (!part)
        return std::nullopt;
    if (const auto disposition = scan.value(data, HeaderField::ContentDisposition))
        if (!sameLetters(*disposition, "inline"))
            return std::nullopt;
    if (const auto encoding = scan.value(data, HeaderField::ContentTransferEncoding)) {
        if (sameLetters(*encoding, "base64"))
            part->encoding = GMIME_CONTENT_ENCODING_BASE64;
        else if (sameLetters(*encoding, "quoted-printable"))
            part->encoding = GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE;
        else if (!sameLetters(*encoding, "7bit") && !sameLetters(*encoding, "8bit")
            && !sameLetters(*encoding, "binary"))
            return std::nullopt;
    }
    // The addresses are read where they are asked for, one at a time; here only whether they can be read.
    for (HeaderField field : { HeaderField::From, HeaderField::To, HeaderField::Cc, HeaderField::Bcc })
        if (const auto value = addressField(data, scan, field); value && !forEachWholeAddress(*value, {}))
            return std::nullopt;
    return part;
}

// `bytes` with the transfer encoding undone by GMime's own decoder, as a parsed part's content would be.
QByteArray undoTransferEncoding(QByteArrayView bytes, GMimeContentEncoding encoding)
{
    if (encoding == GMIME_CONTENT_ENCODING_DEFAULT)
        return bytes.toByteArray();
    GMimeEncoding state;
    g_mime_encoding_init_decode(&state, encoding);
    QByteArray decoded(qsizetype(g_mime_encoding_outlen(&state, size_t(bytes.size()))), Qt::Uninitialized);
    char* out = decoded.data();
    std::size_t length = g_mime_encoding_step(&state, bytes.data(), size_t(bytes.size()), out);
    length += g_mime_encoding_flush(&state, nullptr, 0, out + length);
    decoded.truncate(qsizetype(length));
    return decoded;
}

// Where the body of a message or part in `data` starts: after the empty line that ends the header block
// (a block may end without one, at the first line that is no field).
std::size_t bodyStart(std::string_view data, const HeaderScan& scan)
{
    std::size_t start = scan.blockLength();
    if (start < data.size() && data[start] == '\r')
        ++start;
    if (start < data.size() && data[start] == '\n')
        ++start;
    return start;
}

// The value of the parameter `name` of a header value such as a Content-Type ("type/sub; name=value"),
// without its quotes, or nullopt when it has none.
std::optional<std::string> parameterOf(std::string_view value, std::string_view name)
{
    for (std::size_t semicolon = value.find(';'); semicolon != std::string_view::npos; semicolon = value.find(';')) {
        value.remove_prefix(semicolon + 1);
        const std::string_view parameter = value.substr(0, value.find(';'));
        const std::size_t equals = parameter.find('=');
        if (equals == std::string_view::npos || !sameLetters(trimmed(parameter.substr(0, equals)), name))
            continue;
        std::string text(trimmed(parameter.substr(equals + 1)));
        if (text.size() >= 2 && text.front() == '"' && text.back() == '"')
            text = text.substr(1, text.size() - 2);
        return text;
    }
    return std::nullopt;
}

// The media type of a Content-Type value ("text/plain"), as it stands: compared with sameLetters().
std::string_view mediaTypeOf(std::string_view contentType)
{
    return trimmed(contentType.substr(0, contentType.find(';')));
}

// Where the line that starts with the multipart delimiter `delimiter` ("--" + boundary) begins in `body`.
std::size_t findDelimiter(std::string_view body, std::string_view delimiter)
{
    for (std::size_t at = body.find(delimiter); at != std::string_view::npos; at = body.find(delimiter, at + 1))
        if (at == 0 || body[at - 1] == '\n')
            return at;
    return std::string_view::npos;
}

// Whether the iCalendar text of a calendar part, as it stands in the message with its transfer encoding,
// is a request: its METHOD property is REQUEST.
bool isCalendarRequest(std::string_view content, const std::optional<std::string>& transferEncoding)
{
    const GMimeContentEncoding encoding = transferEncoding
        ? g_mime_content_encoding_from_string(transferEncoding->c_str())
        : GMIME_CONTENT_ENCODING_DEFAULT;
    const bool encoded = encoding == GMIME_CONTENT_ENCODING_BASE64 || encoding == GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE
        || encoding == GMIME_CONTENT_ENCODING_UUENCODE;
    const QByteArray decoded = undoTransferEncoding(
        QByteArrayView(content.data(), qsizetype(content.size())), encoded ? encoding : GMIME_CONTENT_ENCODING_DEFAULT);
    for (const QByteArray& line : decoded.split('\n')) {
        std::string_view text(line.constData(), std::size_t(line.size()));
        if (text.ends_with('\r'))
            text.remove_suffix(1);
        const std::size_t colon = text.find(':');
        if (colon != std::string_view::npos && sameLetters(text.substr(0, std::min(colon, text.find(';'))), "method"))
            return sameLetters(trimmed(text.substr(colon + 1)), "request");
    }
    return false;
}

} // namespace

std::optional<int> itemClassOf(const char* data, std::size_t size, const HeaderScan& scan, bool complete)
{
    const std::string_view message(data, size);
    std::string unfolded;
    const auto contentType = scan.value(data, HeaderField::ContentType, unfolded);
    if (!contentType)
        return kClassMail;
    const std::string_view type = mediaTypeOf(*contentType);
    if (sameLetters(type, "multipart/report")) {
        const std::string reportType = lower(parameterOf(*contentType, "report-type").value_or(std::string()));
        return reportType == "delivery-status" || reportType == "disposition-notification" ? kClassReport : kClassMail;
    }
    const std::string_view body = message.substr(bodyStart(message, scan));
    if (sameLetters(type, "text/calendar")) {
        if (!complete)
            return std::nullopt;
        return isCalendarRequest(body, scan.value(data, HeaderField::ContentTransferEncoding)) ? kClassMeetingRequest
                                                                                               : kClassMail;
    }
    constexpr std::string_view kMultipart = "multipart/";
    if (!sameLetters(type.substr(0, kMultipart.size()), kMultipart))
        return kClassMail;
    const auto boundary = parameterOf(*contentType, "boundary");
    if (!boundary || boundary->empty())
        return kClassMail;
    // A multipart whose first part is the calendar.
    const std::string delimiter = "--" + *boundary;
    const std::size_t first = findDelimiter(body, delimiter);
    const std::size_t partStart = first == std::string_view::npos ? first : body.find('\n', first);
    if (partStart == std::string_view::npos)
        return complete ? std::optional<int>(kClassMail) : std::nullopt;
    const std::string_view part = body.substr(partStart + 1);
    HeaderScan partScan;
    partScan.scan(part.data(), part.size(), complete);
    if (partScan.needMore())
        return std::nullopt;
    const auto partType = partScan.value(part.data(), HeaderField::ContentType);
    if (!partType || !sameLetters(mediaTypeOf(*partType), "text/calendar"))
        return kClassMail;
    const std::string_view content = part.substr(bodyStart(part, partScan));
    const std::size_t end = findDelimiter(content, delimiter);
    if (end == std::string_view::npos && !complete)
        return std::nullopt;
    return isCalendarRequest(content.substr(0, end), partScan.value(part.data(), HeaderField::ContentTransferEncoding))
        ? kClassMeetingRequest
        : kClassMail;
}

namespace {

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

// An attached mail: the parent's tree, and where in it the mail stands (owned by the tree).
struct EmbeddedTree {
    std::shared_ptr<const ParsedTree> tree;
    GMimeMessage* message = nullptr;
};

// A part and the tree that owns it.
struct TreePart {
    std::shared_ptr<const ParsedTree> tree;
    GMimeObject* object = nullptr;
};

// `bytes`, or the same bytes where `raw` holds them, sharing its memory: an attached mail that is not
// transfer-encoded is written back as it was read, and each level of a mail nested in mails would
// otherwise keep a copy of everything below it while the levels below are read.
QByteArray sharedWith(const QByteArray& raw, QByteArray bytes)
{
    const qsizetype at = bytes.isEmpty() ? -1 : raw.indexOf(bytes);
    if (at < 0)
        return bytes;
    QByteArray whole = raw;
    QByteArray::DataPointer slice = whole.data_ptr(); // a reference more to raw's block
    slice.ptr += at;
    slice.size = bytes.size();
    return QByteArray(std::move(slice));
}

// The attachments' parts of one message, shared by it and its attachments: what an attachment gives is
// read from its part when asked for, so that a list of attachments holds no more than where they are.
// Not thread-safe, like the item.
class AttachmentParts {
public:
    explicit AttachmentParts(QByteArray raw)
        : raw(std::move(raw))
    {
    }
    virtual ~AttachmentParts() = default;
    virtual std::size_t count() const = 0;
    virtual TreePart part(std::size_t index) const = 0;

    const QByteArray raw; ///< the message's bytes
};

// The parts of a tree that GMime parsed whole.
class TreeParts : public AttachmentParts {
public:
    TreeParts(QByteArray raw, std::shared_ptr<const ParsedTree> tree, std::vector<GMimeObject*> parts)
        : AttachmentParts(std::move(raw))
        , m_tree(std::move(tree))
        , m_parts(std::move(parts))
    {
    }
    std::size_t count() const override { return m_parts.size(); }
    TreePart part(std::size_t index) const override { return { m_tree, m_parts[index] }; }

private:
    std::shared_ptr<const ParsedTree> m_tree;
    std::vector<GMimeObject*> m_parts; // owned by m_tree
};

// The parts of a message read part by part: each is parsed on its own when asked for, and the last one
// is kept, since its attachment is asked for one thing after another.
class SplitParts : public AttachmentParts {
public:
    SplitParts(QByteArray raw, PartSplit split, std::vector<std::size_t> parts)
        : AttachmentParts(std::move(raw))
        , m_split(std::move(split))
        , m_parts(std::move(parts))
    {
    }
    std::size_t count() const override { return m_parts.size(); }
    TreePart part(std::size_t index) const override
    {
        if (!m_last.tree || m_lastIndex != index) {
            auto tree = std::make_shared<const ParsedTree>(m_split.standalone(m_parts[index]), ParsedTree::Kind::Part);
            m_last = { tree, tree->part };
            m_lastIndex = index;
        }
        return m_last;
    }

private:
    PartSplit m_split;
    std::vector<std::size_t> m_parts; // the split's parts that are attachments
    mutable TreePart m_last;
    mutable std::size_t m_lastIndex = 0;
};

class MaildirAttachment : public Attachment {
public:
    MaildirAttachment(std::shared_ptr<const AttachmentParts> parts, std::size_t index, BodyReading reading)
        : m_parts(std::move(parts))
        , m_index(index)
        , m_reading(reading)
    {
    }
    QString fileName() const override
    {
        const TreePart part = m_parts->part(m_index);
        if (!GMIME_IS_MESSAGE_PART(part.object))
            return QString::fromUtf8(g_mime_part_get_filename(GMIME_PART(part.object)));
        QString name = QString::fromUtf8(g_mime_object_get_content_disposition_parameter(part.object, "filename"));
        if (name.isEmpty())
            name = QString::fromUtf8(g_mime_object_get_content_type_parameter(part.object, "name"));
        if (name.isEmpty()) {
            GMimeMessage* mail = g_mime_message_part_get_message(GMIME_MESSAGE_PART(part.object));
            const char* subject = mail ? g_mime_message_get_subject(mail) : nullptr;
            name = (subject && *subject ? QString::fromUtf8(subject) : QStringLiteral("message"))
                + QLatin1String(".eml");
        }
        return name;
    }
    QString mimeType() const override { return mimeTypeOf(m_parts->part(m_index).object); }
    QString contentId() const override
    {
        const TreePart part = m_parts->part(m_index);
        return GMIME_IS_MESSAGE_PART(part.object) ? QString()
                                                  : QString::fromUtf8(g_mime_object_get_content_id(part.object));
    }
    QString contentLocation() const override
    {
        const TreePart part = m_parts->part(m_index);
        return GMIME_IS_MESSAGE_PART(part.object)
            ? QString()
            : QString::fromUtf8(g_mime_object_get_header(part.object, "Content-Location"));
    }
    /// Where the part stands in the body: shown there when its disposition is inline, or it has none and
    /// has a Content-ID.
    bool isInline() const override
    {
        const TreePart part = m_parts->part(m_index);
        if (GMIME_IS_MESSAGE_PART(part.object))
            return false;
        const char* disposition = g_mime_object_get_disposition(part.object);
        return disposition ? g_ascii_strcasecmp(disposition, "inline") == 0 : !contentId().isEmpty();
    }
    Result<QByteArray> data() const override
    {
        const TreePart part = m_parts->part(m_index);
        if (!GMIME_IS_MESSAGE_PART(part.object))
            return decodedContent(GMIME_PART(part.object));
        GMimeMessage* mail = g_mime_message_part_get_message(GMIME_MESSAGE_PART(part.object));
        return mail ? sharedWith(m_parts->raw, objectBytes(GMIME_OBJECT(mail))) : QByteArray();
    }
    std::unique_ptr<MailItem> embeddedMessage() const override;

private:
    std::shared_ptr<const AttachmentParts> m_parts;
    std::size_t m_index;
    BodyReading m_reading;
};

class MaildirMessage : public MailItem {
public:
    MaildirMessage(QByteArray raw, const MessageFile& file, const QString& entryID,
        std::function<std::unique_ptr<Folder>()> parent, BodyReading reading, EmbeddedTree embedded = {})
        : m_raw(std::move(raw))
        , m_parent(std::move(parent))
        , m_reading(reading)
        , m_file(file)
        , m_entryID(entryID)
        , m_tree(std::move(embedded.tree))
        , m_message(embedded.message)
    {
        m_scan.scan(m_raw.constData(), std::size_t(m_raw.size()), true);
        m_itemClass = itemClassOf(m_raw.constData(), std::size_t(m_raw.size()), m_scan, true).value_or(kClassMail);
    }

    // The summary is worked out when first asked for: the save run needs only the class of an item
    // on the thread that writes the files, and the rest where the file is built.
    const ItemSummary& summary() const override
    {
        if (!m_summarized) {
            summarize(m_raw.constData(), std::size_t(m_raw.size()), m_scan, m_file, m_summary);
            m_summary.entryID = m_entryID;
            m_summarized = true;
        }
        return m_summary;
    }
    int itemClass() const override { return m_itemClass; }
    std::unique_ptr<Folder> parent() const override { return m_parent ? m_parent() : nullptr; }
    QString messageClass() const override
    {
        switch (m_itemClass) {
        case kClassReport:
            return QStringLiteral("REPORT.IPM.Note.DR");
        case kClassMeetingRequest:
            return QStringLiteral("IPM.Schedule.Meeting.Request");
        default: {
            // Outlook's class for a signed mail it keeps whole, so that the signature can still be checked.
            const auto type = m_scan.value(m_raw.constData(), HeaderField::ContentType);
            return type && mediaTypeOf(*type) == "multipart/signed" ? QString::fromLatin1(kSignedMessageClass)
                                                                    : QStringLiteral("IPM.Note");
        }
        }
    }
    QString senderName() const override { return parsed().m_senderName; }
    QString displayCc() const override { return parsed().m_displayCc; }
    // Read from the headers each time, as they come: a list of the recipients of a mail written to
    // hundreds of thousands of people would cost several times the mail.
    void forEachRecipient(const std::function<void(const Recipient&)>& visit) const override
    {
        parsed();
        for (const auto& [field, gmimeType, type] :
            { std::tuple { HeaderField::To, GMIME_ADDRESS_TYPE_TO, Recipient::Type::To },
                std::tuple { HeaderField::Cc, GMIME_ADDRESS_TYPE_CC, Recipient::Type::Cc },
                std::tuple { HeaderField::Bcc, GMIME_ADDRESS_TYPE_BCC, Recipient::Type::Bcc } }) {
            const auto visitAddress = [&visit, recipientType = type](const Address& address) {
                visit(Recipient { address.name, address.address, recipientType });
            };
            if (m_direct) {
                if (const auto value = addressField(m_raw.constData(), m_scan, field))
                    forEachWholeAddress(*value, visitAddress);
            } else if (m_addressHeaders) {
                forEachAddressOf(g_mime_message_get_addresses(m_addressHeaders, gmimeType), visitAddress);
            }
        }
    }
    QString plainBody() const override { return parsed().m_plain; }
    QString htmlBody() const override { return parsed().m_html; }
    QByteArray rtfBody() const override { return {}; }
    QString transportHeaders() const override { return decodeBody(m_raw.left(qsizetype(m_scan.blockLength())), {}); }
    QByteArray rawMessage() const override { return m_raw; }
    MessageDetails details() const override
    {
        return detailsOf(std::string_view(m_raw.constData(), m_scan.blockLength()), m_file);
    }
    Result<std::vector<std::unique_ptr<Attachment>>> attachments() const override
    {
        std::vector<std::unique_ptr<Attachment>> list;
        if (const auto& parts = parsed().m_parts)
            for (std::size_t i = 0; i < parts->count(); ++i)
                list.push_back(std::make_unique<MaildirAttachment>(parts, i, m_reading));
        return list;
    }
    bool standsAlone() const override { return true; }

private:
    // The bodies, recipients and attachments, read when one of them is first asked for: saving the
    // message as it is needs only its bytes. A message of one plain text part is read directly; a
    // multipart of many parts part by part; any other goes through GMime's full parse, which costs
    // several times more than reading the file. Not thread-safe, like the rest of an item.
    const MaildirMessage& parsed() const
    {
        if (m_parsed)
            return *this;
        m_parsed = true;
        const std::optional<SinglePart> single
            = m_reading == BodyReading::Direct ? singlePartOf(m_raw, m_scan) : std::nullopt;
        m_direct = single.has_value();
        if (single)
            readSinglePart(*single);
        else if (!(readsPartByPart() && parseByParts()))
            parse();
        if (m_plain.isEmpty() && m_html.isEmpty() && (!m_parts || m_parts->count() == 0))
            m_plain = textOf(m_raw.mid(bodyStart()), {});
        return *this;
    }

    // Whether the message is read part by part, when it is a multipart: always with BodyReading::Split, and
    // with Direct when it has so many lines that may be boundaries that GMime's tree would cost many times
    // its size (some KiB a part).
    bool readsPartByPart() const
    {
        if (m_tree || m_reading == BodyReading::Parser)
            return false;
        if (m_reading == BodyReading::Split)
            return true;
        constexpr int kManyParts = 256;
        int lines = 0;
        for (qsizetype at = m_raw.indexOf("\n--"); at >= 0 && lines < kManyParts; at = m_raw.indexOf("\n--", at + 3))
            ++lines;
        return lines >= kManyParts;
    }

    // An attached mail takes its part of the parent's tree as it is: parsing its bytes again would cost, at
    // each level of a mail nested in mails, everything below it.
    void parse() const
    {
        if (!m_tree) {
            // The parser reads m_raw where it is (m_raw shares its bytes), not a copy of it.
            m_tree = std::make_shared<const ParsedTree>(m_raw);
            m_message = m_tree->message;
        }
        if (!m_message)
            return;
        takeAddresses(m_message);
        std::vector<GMimeObject*> attached;
        if (GMimeObject* body = g_mime_message_get_mime_part(m_message))
            collect(body, attached);
        m_parts = std::make_shared<const TreeParts>(m_raw, m_tree, std::move(attached));
    }

    // The same as parse() gives, read part by part; false when the split declines the message.
    bool parseByParts() const
    {
        std::vector<std::size_t> attached;
        std::optional<PartSplit> split
            = PartSplit::of(m_raw, [&](const PartSplit& parts, std::size_t part, GMimeObject* headers) {
                  const Role role = roleOf(headers);
                  if (role == Role::Attachment) {
                      attached.push_back(part);
                  } else if (role != Role::None) {
                      const ParsedTree whole(parts.standalone(part), ParsedTree::Kind::Part);
                      if (whole.part && GMIME_IS_PART(whole.part))
                          takeText(GMIME_PART(whole.part), role);
                  }
              });
        if (!split) { // what the parts read so far gave goes: the whole parse reads them again
            m_plain.clear();
            m_html.clear();
            m_htmlTaken = false;
            return false;
        }
        takeAddresses(split->headers());
        m_parts = std::make_shared<const SplitParts>(m_raw, std::move(*split), std::move(attached));
        return true;
    }

    void readSinglePart(const SinglePart& part) const
    {
        const char* data = m_raw.constData();
        if (const auto from = addressField(data, m_scan, HeaderField::From))
            forEachWholeAddress(*from, [this](const Address& address) { takeSender(address); });
        if (const auto cc = addressField(data, m_scan, HeaderField::Cc))
            forEachWholeAddress(*cc, [this](const Address& address) { appendDisplayName(m_displayCc, address); });
        const qsizetype start = bodyStart();
        const QString text
            = textOf(undoTransferEncoding(QByteArrayView(m_raw).sliced(start), part.encoding), part.charset, part.html);
        if (part.html) {
            m_html = text;
            m_htmlTaken = true;
        } else {
            m_plain = text;
        }
    }

    // Where the body starts: after the empty line that ends the header block (the block of a file GMime
    // finds no body in may end without one).
    qsizetype bodyStart() const
    {
        return qsizetype(maildir::bodyStart(std::string_view(m_raw.constData(), std::size_t(m_raw.size())), m_scan));
    }

    // The sender and the display Cc of headers GMime read; the recipients are read from them when asked for.
    void takeAddresses(GMimeMessage* headers) const
    {
        m_addressHeaders = headers;
        forEachAddressOf(g_mime_message_get_from(headers), [this](const Address& from) { takeSender(from); });
        forEachAddressOf(g_mime_message_get_addresses(headers, GMIME_ADDRESS_TYPE_CC),
            [this](const Address& cc) { appendDisplayName(m_displayCc, cc); });
    }

    // The sender's name is the first From address's (its address where it has no name).
    void takeSender(const Address& from) const
    {
        if (!m_senderTaken)
            m_senderName = from.name.isEmpty() ? from.address : from.name;
        m_senderTaken = true;
    }

    // What a leaf part is to the item (its headers tell): every inline text/plain part is body text (a list
    // footer after the message stays with it); the first inline text/html part is the HTML body; every other
    // leaf part, and every attached mail, is an attachment, so that no part of the message is lost.
    enum class Role { None, Plain, Html, Attachment };
    Role roleOf(GMimeObject* object) const
    {
        if (GMIME_IS_MESSAGE_PART(object))
            return Role::Attachment;
        if (!GMIME_IS_PART(object))
            return Role::None;
        const char* disposition = g_mime_object_get_disposition(object);
        const bool attached = (disposition && g_ascii_strcasecmp(disposition, "attachment") == 0)
            || g_mime_part_get_filename(GMIME_PART(object));
        GMimeContentType* type = g_mime_object_get_content_type(object);
        if (!attached && type && g_mime_content_type_is_type(type, "text", "plain"))
            return Role::Plain;
        if (!attached && type && g_mime_content_type_is_type(type, "text", "html") && !m_htmlTaken)
            return Role::Html;
        return Role::Attachment;
    }

    void takeText(GMimePart* part, Role role) const
    {
        if (role == Role::Plain) {
            if (!m_plain.isEmpty() && !m_plain.endsWith(u'\n'))
                m_plain += u'\n';
            m_plain += textOf(part);
        } else if (role == Role::Html) {
            m_html = textOf(part, true);
            m_htmlTaken = true;
        }
    }

    void collect(GMimeObject* object, std::vector<GMimeObject*>& attached) const
    {
        if (GMIME_IS_MULTIPART(object)) {
            GMimeMultipart* multipart = GMIME_MULTIPART(object);
            for (int i = 0; i < g_mime_multipart_get_count(multipart); ++i)
                collect(g_mime_multipart_get_part(multipart, i), attached);
            return;
        }
        const Role role = roleOf(object);
        if (role == Role::Attachment)
            attached.push_back(object);
        else if (role != Role::None)
            takeText(GMIME_PART(object), role);
    }

    QByteArray m_raw;
    std::function<std::unique_ptr<Folder>()> m_parent;
    BodyReading m_reading;
    MessageFile m_file;
    QString m_entryID;
    HeaderScan m_scan;
    int m_itemClass = kClassMail;
    mutable bool m_summarized = false;
    mutable ItemSummary m_summary;
    mutable bool m_parsed = false;
    mutable std::shared_ptr<const ParsedTree> m_tree;
    mutable GMimeMessage* m_message = nullptr; // owned by m_tree
    mutable GMimeMessage* m_addressHeaders = nullptr; // the headers GMime read: owned by m_tree or m_parts
    mutable QString m_senderName;
    mutable QString m_displayCc;
    mutable bool m_senderTaken = false;
    mutable bool m_direct = false; // read without GMime's tree: the addresses are read from the headers
    mutable QString m_plain;
    mutable QString m_html;
    mutable bool m_htmlTaken = false;
    mutable std::shared_ptr<const AttachmentParts> m_parts;
};

std::unique_ptr<MailItem> MaildirAttachment::embeddedMessage() const
{
    const TreePart part = m_parts->part(m_index);
    if (!GMIME_IS_MESSAGE_PART(part.object))
        return nullptr;
    GMimeMessage* mail = g_mime_message_part_get_message(GMIME_MESSAGE_PART(part.object));
    return std::make_unique<MaildirMessage>(
        *data(), MessageFile {}, QString(), nullptr, m_reading, EmbeddedTree { part.tree, mail });
}

} // namespace

std::size_t bytesParsed()
{
    return t_bytesParsed;
}

bool readSummaryBytes(int fd, std::vector<char>& buffer, HeaderScan& scan, int& itemClass)
{
    constexpr std::size_t kCap = 1 << 20, kChunk = 16 * 1024;
    if (!readHeaderBlock(fd, buffer, scan, kCap))
        return false;
    bool atEnd = buffer.size() >= kCap;
    for (;;) {
        if (const auto found = itemClassOf(buffer.data(), buffer.size(), scan, atEnd)) {
            itemClass = *found;
            return true;
        }
        const std::size_t used = buffer.size();
        buffer.resize(used + std::min(kChunk, kCap - used));
        const ssize_t got = ::read(fd, buffer.data() + used, buffer.size() - used);
        buffer.resize(used + std::size_t(std::max<ssize_t>(got, 0)));
        if (got < 0 && errno != EINTR)
            return false;
        atEnd = got == 0 || buffer.size() >= kCap;
    }
}

void setLocalTimes(ItemSummary& summary, const SummaryTimes& times)
{
    summary.sentOn = localTime(times.sentOn);
    // The same moment is converted to local time once.
    summary.receivedTime = times.received == times.sentOn ? summary.sentOn : localTime(times.received);
    summary.creationTime = times.creation == times.received ? summary.receivedTime
        : times.creation == times.sentOn                    ? summary.sentOn
                                                            : localTime(times.creation);
}

void summarize(const char* data, std::size_t size, const HeaderScan& scan, const MessageFile& file,
    ItemSummary& summary, std::optional<int> itemClass, SummaryTimes* times)
{
    const MessageNameView name = viewMessageName(file.fileName);
    thread_local std::string unfolded; // of the field read last, where it was folded; kept: read for every message
    const std::optional<std::string_view> dateText = scan.value(data, HeaderField::Date, unfolded);
    const std::optional<qint64> date = dateText ? parseDate(*dateText) : std::nullopt;
    summary.sent = date && !name.flags.contains('D');

    std::optional<qint64> received;
    // The date after the last semicolon: only that much is unfolded.
    if (const auto text = scan.rawValue(data, HeaderField::Received)) {
        const std::size_t semicolon = text->rfind(';');
        if (semicolon != std::string_view::npos)
            received = parseDate(unfold(text->substr(semicolon + 1), unfolded));
    }
    const std::optional<qint64> fileTime = name.deliveryTime ? name.deliveryTime : file.modified;
    const SummaryTimes seconds { date, received ? received : fileTime, fileTime || !file.dateMadeIt ? fileTime : date };
    if (times)
        *times = seconds;
    else
        setLocalTimes(summary, seconds);

    const auto from = scan.value(data, HeaderField::From, unfolded);
    summary.senderEmailAddress = from ? firstAddressOf(*from) : QString();
    const auto subject = scan.value(data, HeaderField::Subject, unfolded);
    summary.subject = subject ? decodeHeaderText(*subject) : QString();
    const auto to = scan.value(data, HeaderField::To, unfolded);
    summary.to = to ? displayNamesOf(*to) : QString();
    summary.itemClass = itemClass ? *itemClass : itemClassOf(data, size, scan, true).value_or(kClassMail);
}

namespace {

// Importance from "high" / "normal" / "low", or from an X-Priority of 1 to 5 (1 and 2 high, 4 and 5 low).
std::optional<int> importanceOf(std::string_view block)
{
    if (const auto importance = headerField(block, "Importance")) {
        const std::string word = lower(*importance);
        if (word == "high")
            return 2;
        if (word == "normal")
            return 1;
        if (word == "low")
            return 0;
    }
    if (const auto priority = headerField(block, "X-Priority"); priority && !priority->empty()) {
        switch ((*priority)[0]) {
        case '1':
        case '2':
            return 2;
        case '3':
            return 1;
        case '4':
        case '5':
            return 0;
        }
    }
    return std::nullopt;
}

std::optional<int> priorityOf(std::string_view block)
{
    if (const auto priority = headerField(block, "Priority")) {
        const std::string word = lower(*priority);
        if (word == "urgent")
            return 1;
        if (word == "normal")
            return 0;
        if (word == "non-urgent")
            return -1;
    }
    return std::nullopt;
}

QString fieldText(std::string_view block, std::string_view name)
{
    const auto value = headerField(block, name);
    return value ? QString::fromUtf8(*value).simplified() : QString();
}

QList<Recipient> recipientsOf(std::string_view block, std::string_view name)
{
    QList<Recipient> recipients;
    if (const auto value = headerField(block, name))
        for (const Address& address : parseAddresses(*value))
            recipients += Recipient { address.name, address.address };
    return recipients;
}

} // namespace

MessageDetails detailsOf(std::string_view block, const MessageFile& file)
{
    MessageDetails details;
    details.messageId = fieldText(block, "Message-ID");
    details.inReplyTo = fieldText(block, "In-Reply-To");
    details.references = fieldText(block, "References");
    details.importance = importanceOf(block);
    details.priority = priorityOf(block);
    if (const auto topic = headerField(block, "Thread-Topic"))
        details.conversationTopic = decodeHeaderText(*topic);
    if (const auto index = headerField(block, "Thread-Index"))
        details.conversationIndex = QByteArray::fromBase64(QByteArray::fromStdString(*index));
    details.replyTo = recipientsOf(block, "Reply-To");
    const QList<Recipient> from = recipientsOf(block, "From");
    const QList<Recipient> sender = recipientsOf(block, "Sender");
    if (!sender.isEmpty() && !sender.first().address.isEmpty()
        && (from.isEmpty() || from.first().address.compare(sender.first().address, Qt::CaseInsensitive) != 0))
        details.sender = sender.first();
    if (const auto keywords = headerField(block, "Keywords"))
        for (const QString& keyword : decodeHeaderText(*keywords).split(u','))
            if (const QString word = keyword.trimmed(); !word.isEmpty())
                details.categories += word;
    if (!file.fileName.isEmpty()) {
        const QByteArray flags = splitMessageName(file.fileName).flags;
        details.read = !file.inNew && flags.contains('S');
        if (flags.contains('F'))
            details.flagStatus = 2;
    } else if (const auto mozilla = headerField(block, "X-Mozilla-Status")) {
        // A message of an mbox file keeps its state in its headers: Thunderbird's flags in hex (0x0001 read,
        // 0x0004 starred), or the Status line of other mail programs ("R" read).
        const unsigned long bits = std::strtoul(mozilla->c_str(), nullptr, 16);
        details.read = (bits & 0x0001) != 0;
        if ((bits & 0x0004) != 0)
            details.flagStatus = 2;
    } else if (const auto status = headerField(block, "Status")) {
        details.read = status->find('R') != std::string::npos;
    }
    return details;
}

std::unique_ptr<MailItem> makeMessage(QByteArray raw, const MessageFile& file, const QString& entryID,
    std::function<std::unique_ptr<Folder>()> parent, BodyReading reading)
{
    return std::make_unique<MaildirMessage>(std::move(raw), file, entryID, std::move(parent), reading);
}

bool readsWithoutParser(const QByteArray& raw)
{
    HeaderScan scan;
    scan.scan(raw.constData(), std::size_t(raw.size()), true);
    return singlePartOf(raw, scan).has_value();
}

} // namespace quillbox::mail::maildir

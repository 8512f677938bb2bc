// SPDX-License-Identifier: MIT
#include <gmime/gmime.h>

#include "core/gmime.h"
#include "mail/mimetext.h"

#include "mail/charsets.h"
#include "mail/maildir/headerscan.h"

#include <QRegularExpression>
#include <QStringDecoder>
#include <algorithm>
#include <array>
#include <optional>
#include <string_view>

namespace quillbox::mail {

namespace {

struct GCharDeleter {
    void operator()(char* p) const { g_free(p); }
};
using GString = std::unique_ptr<char, GCharDeleter>;

QString fromGString(char* text)
{
    return QString::fromUtf8(GString(text).get());
}

bool isPlainAscii(const std::string& text)
{
    for (char c : text)
        if (c < 0x20 || c > 0x7e)
            return false;
    return text.find("=?") == std::string::npos;
}

QString decode8bit(const QByteArray& bytes)
{
    // GMime gives a C string: the text between NUL bytes is decoded piece by piece, so that a NUL (an
    // encoded "=00" in a subject) does not cut off what follows it.
    if (bytes.contains('\0')) {
        QStringList pieces;
        for (const QByteArray& piece : bytes.split('\0'))
            pieces << decode8bit(piece);
        return pieces.join(QChar(u'\0'));
    }
    return fromGString(g_mime_utils_decode_8bit(parserOptions(), bytes.constData(), size_t(bytes.size())));
}

} // namespace

namespace {

struct EncodedWord {
    std::size_t begin = 0, end = 0; // of the whole "=?charset?e?text?=" in the header text
    QByteArray charset; // lower case, without an RFC 2231 language
    QByteArray bytes; // the text with its encoding undone, still in `charset`
};

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if ((c | 0x20) >= 'a' && (c | 0x20) <= 'f')
        return (c | 0x20) - 'a' + 10;
    return -1;
}

QByteArray decodeQ(std::string_view text)
{
    QByteArray bytes;
    bytes.reserve(qsizetype(text.size()));
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '_') {
            bytes += ' ';
        } else if (c == '=' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 && hexValue(text[i + 2]) >= 0) {
            bytes += char(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else {
            bytes += c == '_' ? ' ' : c;
        }
    }
    return bytes;
}

// The encoded word starting at `begin` ("=?"), read leniently as mail clients write them: no length
// limit, and no white space required around it.
std::optional<EncodedWord> encodedWordAt(const std::string& text, std::size_t begin)
{
    const std::size_t charsetEnd = text.find('?', begin + 2);
    if (charsetEnd == std::string::npos || charsetEnd + 2 >= text.size() || text[charsetEnd + 2] != '?')
        return std::nullopt;
    const char encoding = char(text[charsetEnd + 1] | 0x20);
    if (encoding != 'q' && encoding != 'b')
        return std::nullopt;
    const std::size_t payload = charsetEnd + 3;
    const std::size_t close = text.find("?=", payload);
    if (close == std::string::npos)
        return std::nullopt;
    std::string_view charset(text.data() + begin + 2, charsetEnd - begin - 2);
    charset = charset.substr(0, charset.find('*'));
    if (charset.empty() || charset.find_first_of(" \t") != std::string_view::npos)
        return std::nullopt;
    const std::string_view body(text.data() + payload, close - payload);
    EncodedWord word { begin, close + 2, QByteArray(charset.data(), qsizetype(charset.size())).toLower(), {} };
    word.bytes
        = encoding == 'q' ? decodeQ(body) : QByteArray::fromBase64(QByteArray(body.data(), qsizetype(body.size())));
    return word;
}

bool onlyWhiteSpace(std::string_view text)
{
    return text.find_first_not_of(" \t\r\n") == std::string_view::npos;
}

} // namespace

// Encoded words are decoded here rather than by GMime: GMime joins adjacent base64 words of one
// charset into one base64 stream, and its decoder stops at the padding of the first word, so a long
// subject folded into several words loses everything after a word that ends in "=". Joining the
// decoded bytes instead (not the encoded text) also keeps a character whole that the sender split
// between two words, as much real mail does.
QString decodeHeaderText(const std::string& raw)
{
    if (isPlainAscii(raw))
        return QString::fromLatin1(raw.data(), qsizetype(raw.size()));
    QString text;
    QByteArray pending; // decoded bytes of adjacent words in `pendingCharset`
    QByteArray pendingCharset;
    auto flush = [&] {
        if (!pending.isEmpty())
            text += decodeBody(pending, pendingCharset);
        pending.clear();
    };
    std::size_t pos = 0; // start of the text not yet taken
    bool afterWord = false;
    for (std::size_t at = raw.find("=?"); at != std::string::npos; at = raw.find("=?", at + 2)) {
        std::optional<EncodedWord> word = encodedWordAt(raw, at);
        if (!word)
            continue;
        const std::string_view between(raw.data() + pos, at - pos);
        // White space between two encoded words belongs to neither and goes.
        if (!(afterWord && onlyWhiteSpace(between))) {
            flush();
            text += decodeBody(QByteArray(between.data(), qsizetype(between.size())), {});
        }
        if (word->charset != pendingCharset)
            flush();
        pendingCharset = word->charset;
        pending += word->bytes;
        pos = word->end;
        at = word->end - 2;
        afterWord = true;
    }
    flush();
    text += decodeBody(QByteArray(raw.data() + pos, qsizetype(raw.size() - pos)), {});
    return text;
}

QList<Address> addressesOf(InternetAddressList* list)
{
    QList<Address> addresses;
    if (!list)
        return addresses;
    const int count = internet_address_list_length(list);
    for (int i = 0; i < count; ++i) {
        InternetAddress* entry = internet_address_list_get_address(list, i);
        const QString name = QString::fromUtf8(internet_address_get_name(entry));
        if (INTERNET_ADDRESS_IS_GROUP(entry)) {
            InternetAddressList* members = internet_address_group_get_members(INTERNET_ADDRESS_GROUP(entry));
            if (members && internet_address_list_length(members) > 0)
                addresses += addressesOf(members);
            else
                addresses += Address { name, {} };
        } else if (INTERNET_ADDRESS_IS_MAILBOX(entry)) {
            addresses += Address { name,
                QString::fromUtf8(internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(entry))) };
        }
    }
    return addresses;
}

namespace {

// "local@domain" with both sides dot-atoms (no dot first, last or twice in a row) and no label in
// punycode ("xn--", which GMime turns into Unicode): GMime takes such an address as it stands.
bool isDotAtomAddress(std::string_view address)
{
    const std::size_t at = address.find('@');
    if (at == std::string_view::npos || address.find('@', at + 1) != std::string_view::npos)
        return false;
    for (std::string_view side : { address.substr(0, at), address.substr(at + 1) })
        if (side.empty() || side.front() == '.' || side.back() == '.' || side.find("..") != std::string_view::npos)
            return false;
    const std::string_view domain = address.substr(at + 1);
    for (std::size_t i = 0; i + 4 <= domain.size(); ++i)
        if ((i == 0 || domain[i - 1] == '.') && g_ascii_strncasecmp(domain.data() + i, "xn--", 4) == 0)
            return false;
    return true;
}

// The first character of `text` that is one of `set`, or npos: one pass with a table, where
// find_first_of calls memchr on the set for each character of the text.
std::size_t findAnyOf(std::string_view text, std::string_view set)
{
    std::array<bool, 256> inSet {};
    for (char c : set)
        inSet[quint8(c)] = true;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (inSet[quint8(text[i])])
            return i;
    return std::string_view::npos;
}

// The name of an unquoted "=?UTF-8?Q?...?= <a@b>" that is one encoded word, as GMime decodes it: its
// bytes as UTF-8. Only the plain form is taken: the letters, digits and "!*+-/=_" that a Q word of a name
// may hold, "=" before two upper-case hex digits, and text that decodes to valid UTF-8 of printable
// characters without the address specials, without white space at either end or twice in a row; nullopt
// for anything else, which GMime reads.
std::optional<QString> oneEncodedWord(std::string_view name)
{
    constexpr std::string_view kOpen = "=?utf-8?q?";
    if (name.size() < kOpen.size() + 2 || g_ascii_strncasecmp(name.data(), kOpen.data(), kOpen.size()) != 0
        || !name.ends_with("?="))
        return std::nullopt;
    const std::string_view payload = name.substr(kOpen.size(), name.size() - kOpen.size() - 2);
    const auto upperHex = [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); };
    QByteArray bytes;
    for (std::size_t i = 0; i < payload.size(); ++i) {
        const char c = payload[i];
        if (c == '=') {
            if (i + 2 >= payload.size() || !upperHex(payload[i + 1]) || !upperHex(payload[i + 2]))
                return std::nullopt;
            bytes += char(hexValue(payload[i + 1]) * 16 + hexValue(payload[i + 2]));
            i += 2;
        } else if (g_ascii_isalnum(c) || std::string_view("!*+-/_").find(c) != std::string_view::npos) {
            bytes += c == '_' ? ' ' : c;
        } else {
            return std::nullopt;
        }
    }
    for (char c : bytes)
        if ((c >= 0 && c < 0x20) || c == 0x7f || std::string_view("\"\\()<>@,;:[]").find(c) != std::string_view::npos)
            return std::nullopt;
    if (bytes.isEmpty() || bytes.startsWith(' ') || bytes.endsWith(' ') || bytes.contains("  "))
        return std::nullopt;
    QString text = QString::fromUtf8(bytes);
    if (text.toUtf8() != bytes)
        return std::nullopt; // not valid UTF-8
    return text;
}

// The common case without GMime: plain ASCII "Name <a@b>", "\"Name\" <a@b>" or "a@b", comma-separated,
// with nothing that needs escapes, comments, groups or decoding but a name of one plain encoded word.
// Line breaks and tabs may stand where GMime drops them, around the elements and between a name and its
// address; GMime keeps them inside a name, so such a name is left to it. False when the text needs the
// real parser.
bool parseSimpleAddresses(std::string_view text, QList<Address>& out)
{
    for (char c : text)
        if ((c < 0x20 && c != '\t' && c != '\r' && c != '\n') || c > 0x7e || c == '(' || c == ')' || c == ':'
            || c == ';' || c == '\\' || c == '[' || c == ']')
            return false;
    if (text.find("  ") != std::string_view::npos)
        return false;
    auto trim = [](std::string_view part, std::string_view white) {
        const std::size_t first = part.find_first_not_of(white);
        if (first == std::string_view::npos)
            return std::string_view();
        return part.substr(first, part.find_last_not_of(white) + 1 - first);
    };
    auto latin1 = [](std::string_view part) { return QString::fromLatin1(part.data(), qsizetype(part.size())); };
    constexpr std::string_view kFolding = " \t\r\n";
    while (!text.empty()) {
        std::size_t comma = 0;
        for (bool quoted = false; comma < text.size() && (quoted || text[comma] != ','); ++comma)
            quoted ^= text[comma] == '"';
        const std::string_view element = trim(text.substr(0, comma), kFolding);
        text = comma >= text.size() ? std::string_view() : text.substr(comma + 1);
        if (element.empty())
            continue;
        const std::size_t open = element.find('<');
        if (element.find("=?", open == std::string_view::npos ? 0 : open) != std::string_view::npos)
            return false; // an encoded word in an address
        if (open == std::string_view::npos) {
            if (findAnyOf(element, " \t\r\n<>\"") != std::string_view::npos || !isDotAtomAddress(element))
                return false;
            out += Address { {}, latin1(element) };
            continue;
        }
        const std::string_view address = element.substr(open + 1);
        if (address.empty() || address.back() != '>' || findAnyOf(address, "<> \t\r\n\"") != address.size() - 1
            || !isDotAtomAddress(address.substr(0, address.size() - 1)))
            return false;
        std::string_view name = trim(element.substr(0, open), kFolding);
        const bool quoted = name.size() >= 2 && name.front() == '"' && name.back() == '"';
        if (quoted)
            name = trim(name.substr(1, name.size() - 2), " "); // GMime trims a quoted name too
        std::optional<QString> decoded;
        if (name.find("=?") != std::string_view::npos && (quoted || !(decoded = oneEncodedWord(name))))
            return false;
        // An unquoted name of anything but words and blanks (".E ps", "a (b)") is left to GMime's reading.
        if (!decoded
            && (findAnyOf(name, "<>@\"\t\r\n\\") != std::string_view::npos
                || (!quoted && findAnyOf(name, ".,;:()[]") != std::string_view::npos)))
            return false;
        out += Address { decoded ? *decoded : latin1(name), latin1(address.substr(0, address.size() - 1)) };
    }
    return true;
}

} // namespace

QList<Address> parseAddresses(const std::string& raw)
{
    return parseWholeAddresses(raw).value_or(QList<Address>());
}

std::optional<QList<Address>> parseWholeAddresses(const std::string& raw)
{
    QList<Address> simple;
    if (parseSimpleAddresses(raw, simple))
        return simple;
    // GMime gives no list both for a fault and for a list without addresses.
    InternetAddressList* list = internet_address_list_parse(parserOptions(), raw.c_str());
    if (!list) {
        if (raw.find_first_not_of(" \t\r\n") != std::string::npos)
            return std::nullopt;
        return QList<Address>();
    }
    QList<Address> addresses = addressesOf(list);
    g_object_unref(list);
    return addresses;
}

QString displayNames(const QList<Address>& addresses)
{
    QString text;
    for (const Address& address : addresses) {
        if (!text.isEmpty())
            text += QLatin1String("; ");
        text += address.name.isEmpty() ? address.address : address.name;
    }
    return text;
}

std::optional<std::string> headerField(std::string_view block, std::string_view name)
{
    std::optional<std::string> value;
    std::size_t pos = 0;
    while (pos < block.size()) {
        std::size_t end = block.find('\n', pos);
        end = end == std::string_view::npos ? block.size() : end + 1;
        std::string_view line = block.substr(pos, end - pos);
        pos = end;
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
            line.remove_suffix(1);
        const bool continued = !line.empty() && (line.front() == ' ' || line.front() == '\t');
        if (value && continued) {
            *value += line;
            continue;
        }
        if (value)
            break;
        if (line.size() > name.size() && line[name.size()] == ':'
            && g_ascii_strncasecmp(line.data(), name.data(), name.size()) == 0)
            value = std::string(line.substr(name.size() + 1));
    }
    if (value) {
        const std::size_t first = value->find_first_not_of(" \t");
        const std::size_t last = value->find_last_not_of(" \t");
        *value = first == std::string::npos ? std::string() : value->substr(first, last - first + 1);
    }
    return value;
}

std::optional<qint64> parseDate(const std::string& raw)
{
    if (auto seconds = maildir::parseRfc5322Date(raw))
        return seconds;
    parserOptions(); // GMime must be initialised
    GDateTime* date = g_mime_utils_header_decode_date(raw.c_str());
    if (!date)
        return std::nullopt;
    const qint64 seconds = g_date_time_to_unix(date);
    g_date_time_unref(date);
    return seconds;
}

QString decodeBody(const QByteArray& bytes, const QByteArray& charset)
{
    const QByteArray name = charset.trimmed().toLower();
    if (name.isEmpty()) {
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        QString text = utf8.decode(bytes);
        // As GLib's check did: a NUL byte is no text either.
        return utf8.hasError() || bytes.contains('\0') ? decode8bit(bytes) : text;
    }
    if (QStringDecoder decoder = labelDecoder(name); decoder.isValid())
        return decoder.decode(bytes);
    parserOptions();
    iconv_t converter = g_mime_iconv_open("UTF-8", g_mime_charset_iconv_name(name.constData()));
    if (converter == iconv_t(-1))
        return decode8bit(bytes);
    char* converted = g_mime_iconv_strndup(converter, bytes.constData(), size_t(bytes.size()));
    g_mime_iconv_close(converter);
    if (!converted)
        return decode8bit(bytes);
    return fromGString(converted);
}

namespace {

// How much of an HTML document is searched for its <meta> charset: the head of a mail's HTML, with its
// style sheet, fits.
constexpr qsizetype kMetaScanLimit = 64 * 1024;

// The charset an HTML document declares in a <meta> tag before its body: <meta charset=...> or the
// charset parameter of <meta http-equiv="Content-Type" content="...">.
QByteArray metaCharset(const QByteArray& html)
{
    static const QRegularExpression bodyStart(QStringLiteral("<body\\b"), QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression meta(QStringLiteral("<meta\\b[^>]*?\\bcharset\\s*=\\s*[\"']?\\s*([^\"'\\s;/>]+)"),
        QRegularExpression::CaseInsensitiveOption);
    const QString text = QString::fromLatin1(html.left(kMetaScanLimit));
    const qsizetype body = text.indexOf(bodyStart);
    const QRegularExpressionMatch match = meta.match(body < 0 ? text : text.left(body));
    return match.hasMatch() ? match.captured(1).toLatin1() : QByteArray();
}

} // namespace

QString decodeHtmlBody(const QByteArray& bytes, const QByteArray& charset)
{
    if (!charset.trimmed().isEmpty())
        return decodeBody(bytes, charset);
    const QByteArray declared = metaCharset(bytes);
    // A declaration that could be read as ASCII is not in UTF-16: the standard takes it for UTF-8.
    const QStringDecoder decoder = labelDecoder(declared);
    if (decoder.isValid() && QByteArrayView(decoder.name()).startsWith("UTF-16"))
        return decodeBody(bytes, "utf-8");
    return decodeBody(bytes, declared);
}

} // namespace quillbox::mail

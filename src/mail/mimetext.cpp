// SPDX-License-Identifier: MIT
#include <gmime/gmime.h>

#include "core/gmime.h"
#include "core/gobjectptr.h"
#include "mail/mimetext.h"

#include "mail/charsets.h"
#include "mail/maildir/headerscan.h"

#include <QRegularExpression>
#include <QStringDecoder>
#include <QVarLengthArray>
#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <string_view>
#include <utility>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

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

bool isPlainAscii(std::string_view text)
{
    for (char c : text)
        if (c < 0x20 || c > 0x7e)
            return false;
    return text.find("=?") == std::string_view::npos;
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

// Decodes the Q-encoded `text` into `out`, which has room for text.size() bytes (the decoded text is never
// longer); returns the length of the decoded text.
std::size_t decodeQ(std::string_view text, char* out)
{
    char* const start = out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '_') {
            *out++ = ' ';
        } else if (c == '=' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 && hexValue(text[i + 2]) >= 0) {
            *out++ = char(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else {
            *out++ = c;
        }
    }
    return std::size_t(out - start);
}

QByteArray decodeQ(std::string_view text)
{
    QByteArray bytes(qsizetype(text.size()), Qt::Uninitialized);
    bytes.truncate(qsizetype(decodeQ(text, bytes.data())));
    return bytes;
}

// The encoded word starting at `begin` ("=?"), read leniently as mail clients write them: no length
// limit, and no white space required around it.
std::optional<EncodedWord> encodedWordAt(std::string_view text, std::size_t begin)
{
    const std::size_t charsetEnd = text.find('?', begin + 2);
    if (charsetEnd == std::string_view::npos || charsetEnd + 2 >= text.size() || text[charsetEnd + 2] != '?')
        return std::nullopt;
    const char encoding = char(text[charsetEnd + 1] | 0x20);
    if (encoding != 'q' && encoding != 'b')
        return std::nullopt;
    const std::size_t payload = charsetEnd + 3;
    const std::size_t close = text.find("?=", payload);
    if (close == std::string_view::npos)
        return std::nullopt;
    std::string_view charset(text.data() + begin + 2, charsetEnd - begin - 2);
    charset = charset.substr(0, charset.find('*'));
    if (charset.empty() || charset.find_first_of(" \t") != std::string_view::npos)
        return std::nullopt;
    const std::string_view body(text.data() + payload, close - payload);
    EncodedWord word { begin, close + 2, QByteArray(charset.data(), qsizetype(charset.size())).toLower(), {} };
    word.bytes = encoding == 'q' ? decodeQ(body)
                                 : QByteArray::fromBase64(QByteArray::fromRawData(body.data(), qsizetype(body.size())));
    return word;
}

// Appends header text outside encoded words as decodeBody() reads text without a charset: plain ASCII as
// it stands, and an empty piece as decodeBody() gives one (it leaves no null text behind).
void appendUnlabelled(QString& text, std::string_view bytes)
{
    static const QString kEmpty = decodeBody(QByteArray(), {});
    if (bytes.empty())
        text += kEmpty;
    else if (isPlainAscii(bytes))
        text += QLatin1StringView(bytes.data(), qsizetype(bytes.size()));
    else
        text += decodeBody(QByteArray(bytes.data(), qsizetype(bytes.size())), {});
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
QString decodeHeaderText(std::string_view raw)
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
    for (std::size_t at = raw.find("=?"); at != std::string_view::npos; at = raw.find("=?", at + 2)) {
        std::optional<EncodedWord> word = encodedWordAt(raw, at);
        if (!word)
            continue;
        const std::string_view between(raw.data() + pos, at - pos);
        // White space between two encoded words belongs to neither and goes.
        if (!(afterWord && onlyWhiteSpace(between))) {
            flush();
            appendUnlabelled(text, between);
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
    appendUnlabelled(text, raw.substr(pos));
    return text;
}

void forEachAddressOf(InternetAddressList* list, const std::function<void(const Address&)>& visit)
{
    if (!list)
        return;
    const int count = internet_address_list_length(list);
    for (int i = 0; i < count; ++i) {
        InternetAddress* entry = internet_address_list_get_address(list, i);
        const QString name = QString::fromUtf8(internet_address_get_name(entry));
        if (INTERNET_ADDRESS_IS_GROUP(entry)) {
            InternetAddressList* members = internet_address_group_get_members(INTERNET_ADDRESS_GROUP(entry));
            if (members && internet_address_list_length(members) > 0)
                forEachAddressOf(members, visit);
            else
                visit(Address { name, {} });
        } else if (INTERNET_ADDRESS_IS_MAILBOX(entry)) {
            visit(Address {
                name, QString::fromUtf8(internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(entry))) });
        }
    }
}

QList<Address> addressesOf(InternetAddressList* list)
{
    QList<Address> addresses;
    forEachAddressOf(list, [&addresses](const Address& address) { addresses += address; });
    return addresses;
}

namespace {

// A set of ASCII characters, each looked up at once: the quick reading below tests every character of
// every address list against a few of them.
class CharSet {
public:
    constexpr explicit CharSet(std::string_view chars)
    {
        for (char c : chars)
            m_in[static_cast<unsigned char>(c)] = true;
    }
    bool contains(char c) const { return m_in[static_cast<unsigned char>(c)]; }
    bool foundIn(std::string_view text) const
    {
        return std::any_of(text.begin(), text.end(), [this](char c) { return contains(c); });
    }
    // `text` without the characters of the set at either end.
    std::string_view trimmed(std::string_view text) const
    {
        while (!text.empty() && contains(text.front()))
            text.remove_prefix(1);
        while (!text.empty() && contains(text.back()))
            text.remove_suffix(1);
        return text;
    }

private:
    std::array<bool, 256> m_in {};
};

// "local@domain" with both sides dot-atoms (no dot first, last or twice in a row) and no label in
// punycode ("xn--", which GMime turns into Unicode): GMime takes such an address as it stands.
bool isDotAtomAddress(std::string_view address)
{
    const std::size_t at = address.find('@');
    if (at == std::string_view::npos || address.find('@', at + 1) != std::string_view::npos)
        return false;
    // Each side is not empty, starts and ends with no dot, and no two dots stand together in either.
    if (at == 0 || at + 1 == address.size() || address.front() == '.' || address.back() == '.' || address[at - 1] == '.'
        || address[at + 1] == '.' || address.find("..") != std::string_view::npos)
        return false;
    for (std::size_t label = at + 1; label != 0; label = address.find('.', label) + 1) {
        const std::string_view start = address.substr(label, 4);
        if (start.size() == 4 && (start[0] | 0x20) == 'x' && (start[1] | 0x20) == 'n' && start[2] == '-'
            && start[3] == '-')
            return false;
    }
    return true;
}

// A name of one UTF-8 encoded word ("=?UTF-8?Q?J=C3=B6rg?="), as most mail programs write a name that is
// not ASCII, decoded as GMime decodes it; nothing for any other name with an encoded word in it. Taken
// only where GMime gives the decoded text unchanged: a word of the characters RFC 2047 allows in a name,
// whose text is valid UTF-8 without control characters, white space at either end or two spaces in a row.
std::optional<QString> decodeNameWord(std::string_view name)
{
    constexpr std::string_view kPrefixes[] = { "=?utf-8?q?", "=?utf-8?b?" };
    const auto isPrefix = [&](std::string_view prefix) {
        return name.size() > prefix.size() + 2
            && std::equal(prefix.begin(), prefix.end(), name.begin(),
                [](char lower, char c) { return (c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c) == lower; });
    };
    const bool q = isPrefix(kPrefixes[0]);
    if (!(q || isPrefix(kPrefixes[1])) || !name.ends_with("?="))
        return std::nullopt;
    const std::string_view body = name.substr(kPrefixes[0].size(), name.size() - kPrefixes[0].size() - 2);
    static constexpr CharSet kInQ("!*+-/_0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"),
        kInB("+/=0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    const CharSet& allowed = q ? kInQ : kInB;
    for (std::size_t i = 0; i < body.size(); ++i) {
        const char c = body[i];
        const bool escape
            = q && c == '=' && i + 2 < body.size() && hexValue(body[i + 1]) >= 0 && hexValue(body[i + 2]) >= 0;
        if (!escape && !allowed.contains(c))
            return std::nullopt;
        if (escape)
            i += 2;
    }
    const std::size_t padding = body.find('=');
    if (!q && (body.size() % 4 != 0 || (padding != body.npos && body.find_first_not_of('=', padding) != body.npos)))
        return std::nullopt;
    // A name is short: a Q word is decoded on the stack.
    QVarLengthArray<char, 128> qBytes(qsizetype(q ? body.size() : 0));
    const QByteArray bytes = q ? QByteArray::fromRawData(qBytes.constData(), qsizetype(decodeQ(body, qBytes.data())))
                               : QByteArray::fromBase64(QByteArray::fromRawData(body.data(), qsizetype(body.size())));
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8(bytes);
    if (utf8.hasError() || text.isEmpty() || text.front() == u' ' || text.back() == u' '
        || text.contains(QLatin1String("  ")))
        return std::nullopt;
    // ASCII has control characters below the space and DEL only, and no format characters.
    const auto refused = [](QChar c) {
        return c.unicode() < 0x80 ? c.unicode() < 0x20 || c.unicode() == 0x7f
                                  : c.category() == QChar::Other_Control || c.category() == QChar::Other_Format;
    };
    if (std::any_of(text.begin(), text.end(), refused))
        return std::nullopt;
    return text;
}

// What GMime's address parser takes for white space around the elements of a list.
constexpr CharSet kFolding(" \t\r\n");

// One element of an address list of the plain form below, as it stands in the list's text.
struct PlainAddress {
    std::string_view name; // without quotes; empty when the element has none
    std::string_view address;
    QString decodedName; // the name of one encoded word, decoded; null for any other name

    Address toAddress() const { return Address { decodedName.isNull() ? latin1(name) : decodedName, latin1(address) }; }
    static QString latin1(std::string_view text) { return QString::fromLatin1(text.data(), qsizetype(text.size())); }
};

// Whether every character of `text` may stand in a list of the plain form, with no two spaces in a row.
bool plainCharacters(std::string_view text)
{
    // Printable ASCII but ( ) [ ] : ; and the backslash, and the white space of folding.
    static constexpr CharSet kPlain(" \t\r\n!\"#$%&'*+,-./0123456789<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ^_`"
                                    "abcdefghijklmnopqrstuvwxyz{|}~");
    const char* at = text.data();
    const char* const end = at + text.size();
#ifdef __SSE2__
    // Sixteen characters at a time, each with the one after it for two spaces in a row.
    const auto plainIn = [](const char* block) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block));
        const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 1));
        const auto is = [&bytes](char c) { return _mm_cmpeq_epi8(bytes, _mm_set1_epi8(c)); };
        // Bytes above 0x7f compare as negative numbers: neither printable nor folding.
        const __m128i printable
            = _mm_and_si128(_mm_cmpgt_epi8(bytes, _mm_set1_epi8(0x1f)), _mm_cmplt_epi8(bytes, _mm_set1_epi8(0x7f)));
        const __m128i folding = _mm_or_si128(is('\t'), _mm_or_si128(is('\r'), is('\n')));
        const __m128i refused
            = _mm_or_si128(_mm_or_si128(_mm_or_si128(is('('), is(')')), _mm_or_si128(is('['), is(']'))),
                _mm_or_si128(_mm_or_si128(is(':'), is(';')), is('\\')));
        const __m128i twoSpaces = _mm_and_si128(is(' '), _mm_cmpeq_epi8(next, _mm_set1_epi8(' ')));
        const __m128i plain = _mm_andnot_si128(_mm_or_si128(refused, twoSpaces), _mm_or_si128(printable, folding));
        return _mm_movemask_epi8(plain) == 0xffff;
    };
    for (; end - at > 16; at += 16)
        if (!plainIn(at))
            return false;
#endif
    for (; at != end; ++at)
        if (!kPlain.contains(*at) || (*at == ' ' && at + 1 != end && at[1] == ' '))
            return false;
    return true;
}

// One element of a list of the plain form, trimmed and not empty; nothing when it needs the real parser.
std::optional<PlainAddress> plainElement(std::string_view element)
{
    static constexpr CharSet kSpace(" "), kInBareAddress(" \t\r\n<>\""), kInAddress("<> \t\r\n\""),
        kInName("<>@\"\t\r\n\\"), kInUnquotedName(".,;:()[]");
    const std::size_t open = element.find('<');
    if (open == std::string_view::npos) {
        if (kInBareAddress.foundIn(element) || element.find("=?") != std::string_view::npos
            || !isDotAtomAddress(element))
            return std::nullopt;
        return PlainAddress { {}, element, {} };
    }
    std::string_view address = element.substr(open + 1);
    if (address.empty() || address.back() != '>')
        return std::nullopt;
    address.remove_suffix(1);
    if (kInAddress.foundIn(address) || address.find("=?") != std::string_view::npos || !isDotAtomAddress(address))
        return std::nullopt;
    std::string_view name = kFolding.trimmed(element.substr(0, open));
    if (name.find("=?") != std::string_view::npos) {
        std::optional<QString> decoded = decodeNameWord(name);
        if (!decoded)
            return std::nullopt;
        return PlainAddress { {}, address, std::move(*decoded) };
    }
    const bool quoted = name.size() >= 2 && name.front() == '"' && name.back() == '"';
    if (quoted)
        name = kSpace.trimmed(name.substr(1, name.size() - 2)); // GMime trims a quoted name too
    // An unquoted name of anything but words and blanks (".E ps", "a (b)") is left to GMime's reading.
    if (kInName.foundIn(name) || (!quoted && kInUnquotedName.foundIn(name)))
        return std::nullopt;
    return PlainAddress { name, address, {} };
}

// Calls `take` with each element of the list `text` of the plain form; false as soon as an element (or
// `take`) refuses.
template <typename Take> bool forEachPlainElement(std::string_view text, Take take)
{
    while (!text.empty()) {
        std::size_t comma = std::min(text.find(','), text.size());
        // A comma in quotes is no separator; without a quote before the first comma, that one ends the element.
        if (std::memchr(text.data(), '"', comma)) {
            comma = 0;
            for (bool quoted = false; comma < text.size() && (quoted || text[comma] != ','); ++comma)
                quoted ^= text[comma] == '"';
        }
        const std::string_view element = kFolding.trimmed(text.substr(0, comma));
        text = comma >= text.size() ? std::string_view() : text.substr(comma + 1);
        if (element.empty())
            continue;
        std::optional<PlainAddress> address = plainElement(element);
        if (!address || !take(std::move(*address)))
            return false;
    }
    return true;
}

// The common case without GMime: plain ASCII "Name <a@b>", "\"Name\" <a@b>" or "a@b", comma-separated,
// with nothing that needs escapes, comments, groups or decoding but a name of one encoded word. Line
// breaks and tabs may stand where GMime drops them, around the elements and between a name and its
// address; GMime keeps them inside a name, so such a name is left to it. False, and nothing handed to
// `take`, when the text needs the real parser: the plain reading may find its limit at the end. The
// elements of a short list are read once and held; a long one is checked whole first and read again.
template <typename Take> bool readSimpleAddresses(std::string_view text, Take take)
{
    if (!plainCharacters(text))
        return false;
    constexpr qsizetype kHeld = 16;
    QVarLengthArray<PlainAddress, kHeld> held; // nothing built for the places not taken
    qsizetype count = 0;
    const bool plain = forEachPlainElement(text, [&](PlainAddress&& address) {
        if (count < kHeld)
            held.append(std::move(address));
        ++count;
        return true;
    });
    if (!plain)
        return false;
    if (count > kHeld) {
        forEachPlainElement(text, [&take](PlainAddress&& address) {
            take(std::as_const(address));
            return true;
        });
        return true;
    }
    for (const PlainAddress& address : std::as_const(held))
        take(address);
    return true;
}

// Calls `visit` with the addresses GMime's parser reads from `raw`; false, and nothing visited, where
// it finds a fault in a text that is not blank.
bool forEachParsedAddress(std::string_view raw, const std::function<void(const Address&)>& visit)
{
    // GMime gives no list both for a fault and for a list without addresses.
    GPtr<InternetAddressList> list(internet_address_list_parse(parserOptions(), std::string(raw).c_str()));
    if (!list)
        return raw.find_first_not_of(" \t\r\n") == std::string_view::npos;
    if (visit)
        forEachAddressOf(list.get(), visit);
    return true;
}

// The display names of a plain list joined as displayNames() joins them, gathered on the stack and made a
// string of their final length at once.
class PlainDisplayNames {
public:
    void add(const PlainAddress& address)
    {
        if (!m_chars.isEmpty())
            addLatin1("; ");
        if (!address.decodedName.isNull())
            m_chars.append(address.decodedName.constData(), address.decodedName.size());
        else
            addLatin1(address.name.empty() ? address.address : address.name);
    }
    QString text() const { return m_chars.isEmpty() ? QString() : QString(m_chars.constData(), m_chars.size()); }

private:
    void addLatin1(std::string_view text)
    {
        const qsizetype at = m_chars.size();
        // Room grows as append() makes it, twice what it was: resize() alone makes just enough, and a list of
        // many thousand names would be copied again for each of them.
        if (at + qsizetype(text.size()) > m_chars.capacity())
            m_chars.reserve(std::max(2 * m_chars.capacity(), at + qsizetype(text.size())));
        m_chars.resize(at + qsizetype(text.size()));
        std::transform(text.begin(), text.end(), m_chars.begin() + at, [](char c) { return QLatin1Char(c); });
    }

    QVarLengthArray<QChar, 256> m_chars;
};

} // namespace

QList<Address> parseAddresses(const std::string& raw)
{
    return parseWholeAddresses(raw).value_or(QList<Address>());
}

std::optional<QList<Address>> parseWholeAddresses(const std::string& raw)
{
    QList<Address> addresses;
    if (!forEachWholeAddress(raw, [&addresses](const Address& address) { addresses += address; }))
        return std::nullopt;
    return addresses;
}

bool forEachWholeAddress(std::string_view raw, const std::function<void(const Address&)>& visit)
{
    const auto take = [&visit](const PlainAddress& address) {
        if (visit)
            visit(address.toAddress());
    };
    return readSimpleAddresses(raw, take) || forEachParsedAddress(raw, visit);
}

void appendDisplayName(QString& names, const Address& address)
{
    if (!names.isEmpty())
        names += QLatin1String("; ");
    names += address.name.isEmpty() ? address.address : address.name;
}

QString displayNames(const QList<Address>& addresses)
{
    QString text;
    for (const Address& address : addresses)
        appendDisplayName(text, address);
    return text;
}

QString displayNamesOf(std::string_view raw)
{
    PlainDisplayNames names;
    if (readSimpleAddresses(raw, [&names](const PlainAddress& address) { names.add(address); }))
        return names.text();
    QString text;
    forEachParsedAddress(raw, [&text](const Address& address) { appendDisplayName(text, address); });
    return text;
}

QString firstAddressOf(std::string_view raw)
{
    QString first;
    const auto take = [&first](const PlainAddress& address) {
        if (first.isNull())
            first = PlainAddress::latin1(address.address);
    };
    if (!readSimpleAddresses(raw, take)) {
        forEachParsedAddress(raw, [&first](const Address& address) {
            if (first.isEmpty())
                first = address.address;
        });
    }
    return first;
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

std::optional<qint64> parseDate(std::string_view raw)
{
    if (auto seconds = maildir::parseRfc5322Date(raw))
        return seconds;
    parserOptions(); // GMime must be initialised
    GDateTime* date = g_mime_utils_header_decode_date(std::string(raw).c_str());
    if (!date)
        return std::nullopt;
    const qint64 seconds = g_date_time_to_unix(date);
    g_date_time_unref(date);
    return seconds;
}

QString decodeBody(const QByteArray& bytes, const QByteArray& charset)
{
    // The label of most mail, as its encoded words write it, without the look-up of the label: its decoder
    // is Qt's own UTF-8 decoder either way.
    if (charset == "utf-8")
        return QStringDecoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless).decode(bytes);
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

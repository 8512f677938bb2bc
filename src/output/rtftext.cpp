// SPDX-License-Identifier: MIT
#include "output/rtftext.h"

#include "mail/charsets.h"
#include "mail/store.h"

#include <QStringDecoder>
#include <QStringList>
#include <algorithm>
#include <limits>
#include <map>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

namespace quillbox::formats {

namespace {

constexpr int kDefaultCodePage = 1252;
// Groups nested deeper than this share the state of the deepest one, so hostile nesting costs no memory.
constexpr std::size_t kMaxGroupDepth = 512;
// \ucN beyond this is no fallback a writer makes; it would only swallow text.
constexpr int kMaxFallbackCount = 8;
constexpr int kMaxWordLength = 32;
constexpr qint64 kMaxParameter = std::numeric_limits<qint32>::max();

enum class Destination {
    Text, ///< the document's text
    Skipped, ///< a destination without text
    FontTable, ///< \fonttbl: read for the fonts' code pages only
    HtmlTag, ///< \*\htmltag: encapsulated HTML
};

struct GroupState {
    Destination destination = Destination::Text;
    bool htmlRtf = false; ///< within \htmlrtf ... \htmlrtf0
    int font = -1; ///< \fN; -1 for the document's default font
    int fallbackCount = 1; ///< \ucN
};

bool isAsciiLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// What separates the groups of an RTF header without being text of the document.
bool isBlank(char c)
{
    return c == ' ' || c == '\r' || c == '\n';
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

int hexDigit(char c)
{
    if (isDigit(c))
        return c - '0';
    if ((c | 0x20) >= 'a' && (c | 0x20) <= 'f')
        return (c | 0x20) - 'a' + 10;
    return -1;
}

// Destinations that hold no text of the document (without the \* that most of them carry anyway).
bool holdsNoText(QByteArrayView word)
{
    static constexpr std::string_view kWords[]
        = { "colortbl", "datastore", "filetbl", "fldinst", "info", "latentstyles", "listoverridetable", "listtable",
              "nonshppict", "objdata", "pict", "revtbl", "rsidtbl", "stylesheet", "themedata", "xmlnstbl" };
    const std::string_view name(word.data(), std::size_t(word.size()));
    return std::find(std::begin(kWords), std::end(kWords), name) != std::end(kWords);
}

// The code page of a font's \fcharsetN; 0 where it is the document's own (ANSI, default, symbol, ...).
int charsetCodePage(int charset)
{
    static constexpr std::pair<int, int> kCharsets[] = { { 77, 10000 }, { 128, 932 }, { 129, 949 }, { 130, 1361 },
        { 134, 936 }, { 136, 950 }, { 161, 1253 }, { 162, 1254 }, { 163, 1258 }, { 177, 1255 }, { 178, 1256 },
        { 186, 1257 }, { 204, 1251 }, { 222, 874 }, { 238, 1250 }, { 254, 437 }, { 255, 850 } };
    for (const auto& [set, codePage] : kCharsets)
        if (set == charset)
            return codePage;
    return 0;
}

// The characters of the control words that stand for one ("\n" for a line end).
std::optional<char16_t> wordCharacter(QByteArrayView word)
{
    static constexpr std::pair<std::string_view, char16_t> kWords[] = { { "par", u'\n' }, { "line", u'\n' },
        { "page", u'\n' }, { "sect", u'\n' }, { "row", u'\n' }, { "tab", u'\t' }, { "cell", u'\t' },
        { "emdash", 0x2014 }, { "endash", 0x2013 }, { "emspace", 0x2003 }, { "enspace", 0x2002 }, { "qmspace", 0x2005 },
        { "bullet", 0x2022 }, { "lquote", 0x2018 }, { "rquote", 0x2019 }, { "ldblquote", 0x201C },
        { "rdblquote", 0x201D }, { "zwj", 0x200D }, { "zwnj", 0x200C }, { "ltrmark", 0x200E }, { "rtlmark", 0x200F } };
    const std::string_view name(word.data(), std::size_t(word.size()));
    for (const auto& [known, character] : kWords)
        if (known == name)
            return character;
    return std::nullopt;
}

// Collects text that comes as bytes in a code page and as UTF-16 units; runs of bytes are decoded together,
// so that a character of a multi-byte code page written as two \'hh escapes stays whole.
class TextSink {
public:
    explicit TextSink(std::map<int, QStringDecoder>& decoders)
        : m_decoders(decoders)
    {
    }

    void byte(char byte, int codePage)
    {
        settleSurrogate();
        if (!m_bytes.isEmpty() && codePage != m_bytesCodePage)
            settleBytes();
        m_bytes += byte;
        m_bytesCodePage = codePage;
    }

    void unit(char16_t unit)
    {
        settleBytes();
        if (QChar::isLowSurrogate(unit) && m_highSurrogate) {
            m_text += QChar(m_highSurrogate);
            m_text += QChar(unit);
            m_highSurrogate = 0;
            return;
        }
        settleSurrogate();
        if (QChar::isHighSurrogate(unit))
            m_highSurrogate = unit;
        else
            m_text += QChar::isSurrogate(unit) ? QChar(QChar::ReplacementCharacter) : QChar(unit);
    }

    QString finish()
    {
        settleBytes();
        settleSurrogate();
        return m_text;
    }

private:
    void settleBytes()
    {
        if (m_bytes.isEmpty())
            return;
        auto decoder = m_decoders.find(m_bytesCodePage);
        if (decoder == m_decoders.end())
            decoder = m_decoders.emplace(m_bytesCodePage, mail::codePageDecoder(m_bytesCodePage)).first;
        m_text += decoder->second.decode(m_bytes);
        m_bytes.clear();
    }

    void settleSurrogate()
    {
        if (m_highSurrogate)
            m_text += QChar(QChar::ReplacementCharacter);
        m_highSurrogate = 0;
    }

    std::map<int, QStringDecoder>& m_decoders;
    QString m_text;
    QByteArray m_bytes;
    int m_bytesCodePage = kDefaultCodePage;
    char16_t m_highSurrogate = 0;
};

// One pass over an RTF document that collects both its text and its encapsulated HTML, and notes where its
// text begins. Iterative: the group stack lives on the heap and stops growing at kMaxGroupDepth.
class RtfReader {
public:
    explicit RtfReader(QByteArrayView rtf)
        : m_rtf(rtf)
    {
    }

    /// Reads the whole document, or only up to the start of its text.
    void read(bool toTextStart)
    {
        while (m_pos < m_rtf.size() && !(toTextStart && m_textStart >= 0)) {
            const char c = m_rtf[m_pos];
            // Blanks and line breaks between the header groups are no text yet: the text begins before them.
            const bool blank = isBlank(c) && depth() <= 1;
            if (c == '{') {
                ++m_pos;
                openGroup();
            } else if (c == '}') {
                ++m_pos;
                closeGroup();
            } else if (c == '\\') {
                controlSequence();
            } else {
                ++m_pos;
                if (c != '\r' && c != '\n' && c != '\0')
                    textByte(c);
            }
            if (!blank)
                m_contentEnd = m_pos;
        }
    }

    RtfBody body()
    {
        if (m_fromHtml && m_htmlTags > 0)
            return { m_html.finish(), true };
        return { m_text.finish(), false };
    }

    /// Where the text begins (see withLeadingText()); the end when the document has none.
    qsizetype textStart() const { return m_textStart >= 0 ? m_textStart : m_rtf.size(); }
    bool encapsulatesHtml() const { return m_fromHtml; }

private:
    GroupState& state() { return m_groups.back(); }
    std::size_t depth() const { return m_groups.size() - 1 + m_extraDepth; }

    void openGroup()
    {
        m_fallbackLeft = 0;
        if (depth() == 1)
            m_topGroupStart = m_contentEnd;
        if (m_groups.size() >= kMaxGroupDepth) {
            ++m_extraDepth;
            m_groupStart = false;
            return;
        }
        m_groups.push_back(m_groups.back());
        m_groupStart = true;
        m_starred = false;
    }

    void closeGroup()
    {
        m_fallbackLeft = 0;
        m_groupStart = false;
        if (depth() == 1)
            noteText(true);
        if (m_extraDepth > 0)
            --m_extraDepth;
        else if (m_groups.size() > 1)
            m_groups.pop_back(); // a "}" too many closes nothing
    }

    // The control word or symbol at m_pos (a backslash).
    void controlSequence()
    {
        const qsizetype next = m_pos + 1;
        if (next >= m_rtf.size()) {
            m_pos = next;
            return;
        }
        if (isAsciiLetter(m_rtf[next])) {
            const auto [word, parameter] = readControlWord(next);
            controlWord(word, parameter);
            return;
        }
        const char symbol = m_rtf[next];
        m_pos = next + 1;
        if (symbol == '\'')
            hexEscape();
        else if (symbol == '*')
            m_starred = m_groupStart;
        else
            controlSymbol(symbol);
    }

    // The letters from `start`, an optional signed number (kept within 32 bits) and the blank that may end it.
    std::pair<QByteArrayView, std::optional<qint64>> readControlWord(qsizetype start)
    {
        qsizetype p = start;
        while (p < m_rtf.size() && isAsciiLetter(m_rtf[p]))
            ++p;
        const QByteArrayView word = m_rtf.sliced(start, std::min<qsizetype>(p - start, kMaxWordLength));
        std::optional<qint64> parameter;
        const bool negative = p + 1 < m_rtf.size() && m_rtf[p] == '-' && isDigit(m_rtf[p + 1]);
        if (negative)
            ++p;
        for (; p < m_rtf.size() && isDigit(m_rtf[p]); ++p)
            parameter = std::min<qint64>(parameter.value_or(0) * 10 + (m_rtf[p] - '0'), kMaxParameter);
        if (negative)
            parameter = -*parameter;
        if (p < m_rtf.size() && m_rtf[p] == ' ')
            ++p;
        m_pos = p;
        return { word, parameter };
    }

    // \'hh: one byte in the code page in effect; an escape without its two hex digits gives nothing.
    void hexEscape()
    {
        int value = 0;
        int digits = 0;
        for (; digits < 2 && m_pos < m_rtf.size() && hexDigit(m_rtf[m_pos]) >= 0; ++digits)
            value = value * 16 + hexDigit(m_rtf[m_pos++]);
        if (digits == 2)
            textByte(char(value));
    }

    void controlWord(QByteArrayView word, std::optional<qint64> parameter)
    {
        if (word == "bin") {
            // Binary data: its bytes are no RTF.
            m_pos += std::clamp<qint64>(parameter.value_or(0), 0, m_rtf.size() - m_pos);
            return;
        }
        if (m_groupStart)
            enterDestination(word);
        if (state().destination == Destination::Skipped)
            return;
        const int value = int(parameter.value_or(1));
        if (state().destination == Destination::FontTable) {
            if (word == "f")
                m_fontBeingDefined = value;
            else if (word == "fcharset" && m_fontBeingDefined >= 0 && charsetCodePage(value) > 0)
                m_fontCodePages[m_fontBeingDefined] = charsetCodePage(value);
            else if (word == "cpg" && m_fontBeingDefined >= 0 && value > 0)
                m_fontCodePages[m_fontBeingDefined] = value;
            return;
        }
        if (takeFallback())
            return;
        if (word == "u") {
            // \uN is a signed 16-bit number; the characters after it stand in for readers without Unicode.
            const qint64 code = parameter.value_or(0) < 0 ? parameter.value_or(0) + 0x10000 : parameter.value_or(0);
            textUnit(code > 0 && code <= 0xFFFF ? char16_t(code) : char16_t(QChar::ReplacementCharacter));
            m_fallbackLeft = state().fallbackCount;
        } else if (const std::optional<char16_t> character = wordCharacter(word)) {
            textCharacter(*character);
        } else if (word == "uc") {
            state().fallbackCount = std::clamp(value, 0, kMaxFallbackCount);
        } else if (word == "f") {
            state().font = value;
        } else if (word == "plain") {
            state().font = -1;
        } else if (word == "htmlrtf") {
            state().htmlRtf = value != 0;
        } else if (word == "ansicpg" && value > 0) {
            m_codePage = value;
        } else if (word == "deff") {
            m_defaultFont = value;
        } else if (word == "fromhtml") {
            m_fromHtml = value != 0;
        } else if (word == "fromtext") {
            m_fromText = true;
        }
    }

    // The first control word of a group decides what the group holds.
    void enterDestination(QByteArrayView word)
    {
        GroupState& group = state();
        if (group.destination != Destination::Skipped) {
            if (m_starred && word == "htmltag" && m_fromHtml && group.destination != Destination::FontTable) {
                group.destination = Destination::HtmlTag;
                ++m_htmlTags;
                noteText(false);
            } else if (m_starred || holdsNoText(word)) {
                group.destination = Destination::Skipped;
            } else if (word == "fonttbl") {
                group.destination = Destination::FontTable;
            }
        }
        m_groupStart = false;
        m_starred = false;
    }

    void controlSymbol(char symbol)
    {
        m_groupStart = false;
        if (symbol == '\\' || symbol == '{' || symbol == '}')
            textByte(symbol);
        else if (symbol == '\r' || symbol == '\n')
            textCharacter(u'\n');
        else if (symbol == '~')
            textCharacter(0x00A0);
        else if (symbol == '_')
            textCharacter(0x2011);
        else
            takeFallback(); // \- (optional hyphen) and the others show nothing
    }

    // Whether the next character is one of those a \uN fallback stands in with, and is dropped.
    bool takeFallback()
    {
        if (m_fallbackLeft <= 0)
            return false;
        --m_fallbackLeft;
        return true;
    }

    int codePage(bool inTag) const
    {
        const int font = m_groups.back().font >= 0 ? m_groups.back().font : m_defaultFont;
        const auto found = m_fontCodePages.find(font);
        return inTag || found == m_fontCodePages.end() ? m_codePage : found->second;
    }

    // Where a text sink takes text in the current group: the plain text and the encapsulated HTML.
    bool toText() const
    {
        return m_groups.back().destination == Destination::Text && !(m_fromText && m_groups.back().htmlRtf);
    }
    bool toHtml() const
    {
        const GroupState& group = m_groups.back();
        return group.destination == Destination::HtmlTag || (group.destination == Destination::Text && !group.htmlRtf);
    }

    void textByte(char byte)
    {
        m_groupStart = false;
        if (takeFallback() || state().destination == Destination::Skipped
            || state().destination == Destination::FontTable)
            return;
        if (byte != ' ' || depth() > 1)
            noteText(false);
        const bool inTag = state().destination == Destination::HtmlTag;
        if (toText())
            m_text.byte(byte, codePage(false));
        if (toHtml())
            m_html.byte(byte, codePage(inTag));
    }

    void textUnit(char16_t unit)
    {
        noteText(false);
        if (toText())
            m_text.unit(unit);
        if (toHtml())
            m_html.unit(unit);
    }

    void textCharacter(char16_t character)
    {
        if (takeFallback() || (state().destination != Destination::Text && state().destination != Destination::HtmlTag))
            return;
        if (character != u'\n') {
            textUnit(character);
            return;
        }
        noteText(false);
        if (toText())
            m_text.unit(u'\n');
        if (toHtml()) {
            m_html.unit(u'\r');
            m_html.unit(u'\n');
        }
    }

    // The document's text begins here: at this token when it lies at the top level (or `closing` ends the
    // document), else at the top-level group that holds it; before the blanks in front of either.
    void noteText(bool closing)
    {
        if (m_textStart < 0)
            m_textStart = depth() <= 1 || closing ? m_contentEnd : m_topGroupStart;
    }

    QByteArrayView m_rtf;
    qsizetype m_pos = 0;
    qsizetype m_contentEnd = 0; // the end of the last token that was not a blank at the top level
    std::vector<GroupState> m_groups { GroupState() };
    std::size_t m_extraDepth = 0; // groups open beyond kMaxGroupDepth
    bool m_groupStart = false; // no token of the current group has been read yet
    bool m_starred = false; // the group started with \*
    int m_fallbackLeft = 0; // characters after a \uN still to drop

    int m_codePage = kDefaultCodePage;
    int m_defaultFont = -1;
    int m_fontBeingDefined = -1;
    std::map<int, int> m_fontCodePages;
    bool m_fromHtml = false;
    bool m_fromText = false;
    int m_htmlTags = 0;

    qsizetype m_topGroupStart = 0;
    qsizetype m_textStart = -1;

    std::map<int, QStringDecoder> m_decoders;
    TextSink m_text { m_decoders };
    TextSink m_html { m_decoders };
};

void appendUnicodeEscape(QByteArray& rtf, char16_t unit)
{
    // \uN takes a signed 16-bit number, followed by the one character a reader without Unicode shows
    // instead: "?", written as \'3f because unrtf skips the rest of the word after a plain "?".
    rtf += "\\u" + QByteArray::number(qint16(unit)) + "\\'3f";
}

bool isRtf(QByteArrayView rtf)
{
    const qsizetype start = std::find_if_not(rtf.begin(), rtf.end(), isBlank) - rtf.begin();
    return rtf.sliced(start).startsWith("{\\rtf");
}

} // namespace

RtfBody rtfBody(QByteArrayView rtf)
{
    RtfReader reader(rtf);
    reader.read(false);
    return reader.body();
}

QByteArray rtfParagraphs(const QString& text)
{
    RtfParagraphs paragraphs;
    paragraphs.write(text);
    return paragraphs.finish();
}

void RtfParagraphs::write(QStringView text)
{
    for (const QChar character : text) {
        const char16_t c = character.unicode();
        if (const char16_t high = std::exchange(m_highSurrogate, 0)) {
            const bool paired = QChar::isLowSurrogate(c);
            appendUnicodeEscape(m_rtf, paired ? high : char16_t(QChar::ReplacementCharacter));
            if (paired) {
                appendUnicodeEscape(m_rtf, c);
                continue;
            }
        }
        if (c == u'\n') {
            m_rtf += "\\par\n";
            m_lineOpen = false;
            continue;
        }
        m_lineOpen = true;
        if (c == u'\\' || c == u'{' || c == u'}') {
            m_rtf += '\\';
            m_rtf += char(c);
        } else if (c == u'\t') {
            m_rtf += "\\tab ";
        } else if (c < 0x20 || c == 0x7F) {
            continue; // control characters have no place in the text
        } else if (c < 0x80) {
            m_rtf += char(c);
        } else if (QChar::isHighSurrogate(c)) {
            m_highSurrogate = c;
        } else {
            appendUnicodeEscape(m_rtf, QChar::isSurrogate(c) ? char16_t(QChar::ReplacementCharacter) : c);
        }
    }
}

QByteArray RtfParagraphs::finish()
{
    if (std::exchange(m_highSurrogate, 0))
        appendUnicodeEscape(m_rtf, char16_t(QChar::ReplacementCharacter));
    if (std::exchange(m_lineOpen, false))
        m_rtf += "\\par\n";
    return std::exchange(m_rtf, {});
}

QByteArray withLeadingText(QByteArrayView rtf, const QString& text)
{
    if (!isRtf(rtf))
        return {};
    RtfReader reader(rtf);
    reader.read(true);
    const qsizetype at = reader.textStart();
    const QByteArray group = QByteArray(reader.encapsulatesHtml() ? "{\\htmlrtf" : "{") + "\\pard\\plain\\uc1\n"
        + rtfParagraphs(text) + "}\n";
    return rtf.first(at).toByteArray() + group + rtf.sliced(at).toByteArray();
}

Bodies bodiesOf(const mail::MailItem& item)
{
    Bodies bodies { item.plainBody(), item.htmlBody() };
    if (!bodies.plain.isEmpty() || !bodies.html.isEmpty())
        return bodies;
    const QByteArray rtf = item.rtfBody();
    if (rtf.isEmpty())
        return bodies;
    RtfBody body = rtfBody(rtf);
    bodies.fromRtf = !body.text.isEmpty();
    (body.isHtml ? bodies.html : bodies.plain) = std::move(body.text);
    return bodies;
}

} // namespace quillbox::formats

// SPDX-License-Identifier: MIT
#include <gmime/gmime.h>

#include "core/gmime.h"
#include "core/gobjectptr.h"
#include "output/formats.h"

#include "mail/mimetext.h"
#include "mail/store.h"
#include "output/msg/msgvalues.h"
#include "output/rtftext.h"

#include <QHash>
#include <QList>
#include <QMimeDatabase>
#include <QRegularExpression>
#include <QStringList>
#include <QUrl>
#include <algorithm>
#include <memory>
#include <optional>

namespace quillbox::formats {

namespace {

// ---- Header lines ------------------------------------------------------------------------------

// Text handed on a piece at a time as it is made.
using TextSink = std::function<void(QStringView)>;

// Hands text on with each run of line breaks, and the blanks (spaces and tabs) around it, made one space,
// whatever pieces the text comes in: a header value stays on its line.
class OneLine {
public:
    explicit OneLine(const TextSink& out)
        : m_out(out)
    {
    }

    void write(QStringView text)
    {
        qsizetype run = 0; // where the characters not yet handed on start
        for (qsizetype i = 0; i < text.size(); ++i) {
            const QChar c = text[i];
            const bool blank = c == u' ' || c == u'\t';
            const bool lineBreak = c == u'\r' || c == u'\n';
            if (m_state == State::Text && !blank && !lineBreak)
                continue;
            if (m_state == State::Text) {
                handOn(text.first(i).sliced(run));
                run = i + 1;
                if (blank)
                    m_blanks += c; // passed on unless a line break follows
                else
                    startBreak();
            } else if (lineBreak) {
                if (m_state == State::BlanksAfterBreak)
                    m_out(u" "); // the blanks ended one run, and this break starts the next
                startBreak();
                run = i + 1;
            } else if (blank) {
                m_state = State::BlanksAfterBreak;
                run = i + 1;
            } else {
                m_out(u" ");
                m_state = State::Text;
                run = i;
            }
        }
        if (m_state == State::Text)
            handOn(text.sliced(run));
    }

    void finish()
    {
        if (m_state != State::Text)
            m_out(u" ");
        else if (!m_blanks.isEmpty())
            m_out(m_blanks);
        m_state = State::Text;
        m_blanks.clear();
    }

private:
    enum class State { Text, Break, BlanksAfterBreak };

    void handOn(QStringView text)
    {
        if (text.isEmpty())
            return;
        if (!m_blanks.isEmpty())
            m_out(m_blanks);
        m_blanks.clear();
        m_out(text);
    }

    void startBreak()
    {
        m_blanks.clear();
        m_state = State::Break;
    }

    const TextSink& m_out;
    State m_state = State::Text;
    QString m_blanks;
};

QString oneLine(const QString& value)
{
    if (!value.contains(u'\r') && !value.contains(u'\n'))
        return value;
    QString out;
    const TextSink append = [&out](QStringView piece) { out += piece; };
    OneLine line(append);
    line.write(value);
    line.finish();
    return out;
}

QString nameAndAddress(const QString& name, const QString& address)
{
    if (name.isEmpty() || name.compare(address, Qt::CaseInsensitive) == 0)
        return address;
    if (address.isEmpty())
        return name;
    return name + QLatin1String(" <") + address + u'>';
}

// A header line: its label and value. The value of a To, Cc or Bcc line is the recipients of its type, each
// like From, joined by "; " (`value` where there are none); they are read as they are written, never held
// all at once.
struct HeaderLine {
    QString label;
    QString value;
    std::optional<mail::Recipient::Type> recipients = std::nullopt;
};

// Hands on the value of `line` as it stands, line breaks and all.
void writeValue(const mail::MailItem& item, const HeaderLine& line, const TextSink& out)
{
    if (!line.recipients) {
        out(line.value);
        return;
    }
    qsizetype count = 0;
    item.forEachRecipient([&](const mail::Recipient& recipient) {
        if (recipient.type != *line.recipients)
            return;
        if (count++ > 0)
            out(u"; ");
        out(nameAndAddress(recipient.name, recipient.address));
    });
    if (count == 0)
        out(line.value);
}

// Hands on the value of `line` on one line (oneLine()).
void writeOneLine(const mail::MailItem& item, const HeaderLine& line, const TextSink& out)
{
    OneLine filter(out);
    writeValue(item, line, [&filter](QStringView piece) { filter.write(piece); });
    filter.finish();
}

QString valueOf(const mail::MailItem& item, const HeaderLine& line)
{
    QString value;
    writeValue(item, line, [&value](QStringView piece) { value += piece; });
    return value;
}

bool isEmptyValue(const mail::MailItem& item, const HeaderLine& line)
{
    if (!line.recipients)
        return line.value.isEmpty();
    bool empty = true;
    qsizetype count = 0;
    item.forEachRecipient([&](const mail::Recipient& recipient) {
        if (recipient.type == *line.recipients && count++ == 0)
            empty = recipient.address.isEmpty() && recipient.name.isEmpty();
    });
    return count == 0 ? line.value.isEmpty() : count == 1 && empty;
}

// The attachments' names joined by "; " (an attached mail without one by its subject); empty when there are
// none or the list cannot be read.
QString attachmentNames(const mail::MailItem& item)
{
    const auto attachments = item.attachments();
    if (!attachments)
        return {};
    QStringList names;
    for (const auto& attachment : *attachments) {
        QString name = attachmentName(*attachment);
        if (name.isEmpty())
            if (const auto embedded = attachment->embeddedMessage())
                name = embedded->summary().subject;
        names += name.isEmpty() ? QStringLiteral("(unnamed)") : name;
    }
    return names.join(QLatin1String("; "));
}

QList<HeaderLine> headerLines(const mail::MailItem& item, const QLocale& locale)
{
    const mail::ItemSummary& summary = item.summary();
    const mail::MessageDetails details = item.details();
    const mail::Recipient from = mail::fromOf(item, details);
    const QString sent = summary.sent && mail::isKnownTime(summary.sentOn)
        ? locale.toString(summary.sentOn, QStringLiteral("dddd, d MMMM yyyy HH:mm:ss"))
        : QString();
    QList<HeaderLine> lines {
        { QStringLiteral("From:"),
            nameAndAddress(from.name.isEmpty() ? from.exchangeAddress : from.name, from.address) },
        { QStringLiteral("Sent:"), sent },
        { QStringLiteral("To:"), summary.to, mail::Recipient::Type::To },
    };
    for (HeaderLine line : { HeaderLine { QStringLiteral("Cc:"), item.displayCc(), mail::Recipient::Type::Cc },
             HeaderLine { QStringLiteral("Bcc:"), {}, mail::Recipient::Type::Bcc } })
        if (!isEmptyValue(item, line))
            lines += line;
    QStringList replyTo;
    for (const mail::Recipient& r : details.replyTo)
        replyTo += nameAndAddress(r.name, r.address);
    if (!replyTo.isEmpty())
        lines += HeaderLine { QStringLiteral("Reply-To:"), replyTo.join(QLatin1String("; ")) };
    lines += HeaderLine { QStringLiteral("Subject:"), summary.subject };
    if (const QString names = attachmentNames(item); !names.isEmpty())
        lines += HeaderLine { QStringLiteral("Attachments:"), names };
    return lines;
}

QString withLfLineEnds(const QString& text)
{
    QString out = text;
    mail::crlfToLf(out);
    out.replace(u'\r', u'\n');
    return out;
}

// The header lines as "Label:" TAB value LF, handed on as they are made.
void writeHeaderText(const mail::MailItem& item, const QLocale& locale, const TextSink& out)
{
    for (const HeaderLine& line : headerLines(item, locale)) {
        out(line.label);
        out(u"\t");
        writeOneLine(item, line, out);
        out(u"\n");
    }
}

QString headerText(const mail::MailItem& item, const QLocale& locale)
{
    QString text;
    writeHeaderText(item, locale, [&text](QStringView piece) { text += piece; });
    return text;
}

// The text of the .txt file, handed on as it is made.
void writeText(const mail::MailItem& item, const QLocale& locale, const TextSink& out)
{
    const Bodies bodies = bodiesOf(item);
    writeHeaderText(item, locale, out);
    out(u"\n");
    out(bodies.plain.isEmpty() ? htmlToText(bodies.html) : withLfLineEnds(bodies.plain));
}

// ---- HTML to text ------------------------------------------------------------------------------

// Named character references: HTML's Latin-1 set (U+00A0 to U+00FF, in order) and the common
// punctuation, symbols and letters of windows-1252 that mail producers write by name.
const QHash<QString, char32_t>& namedReferences()
{
    static const QHash<QString, char32_t> table = [] {
        QHash<QString, char32_t> names;
        const char* latin1 = "nbsp iexcl cent pound curren yen brvbar sect uml copy ordf laquo not shy reg macr "
                             "deg plusmn sup2 sup3 acute micro para middot cedil sup1 ordm raquo frac14 frac12 "
                             "frac34 iquest Agrave Aacute Acirc Atilde Auml Aring AElig Ccedil Egrave Eacute "
                             "Ecirc Euml Igrave Iacute Icirc Iuml ETH Ntilde Ograve Oacute Ocirc Otilde Ouml "
                             "times Oslash Ugrave Uacute Ucirc Uuml Yacute THORN szlig agrave aacute acirc "
                             "atilde auml aring aelig ccedil egrave eacute ecirc euml igrave iacute icirc iuml "
                             "eth ntilde ograve oacute ocirc otilde ouml divide oslash ugrave uacute ucirc uuml "
                             "yacute thorn yuml";
        char32_t code = 0xA0;
        for (const QString& name : QString::fromLatin1(latin1).split(u' '))
            names.insert(name, code++);
        const std::pair<const char*, char32_t> others[] = { { "quot", 0x22 }, { "amp", 0x26 }, { "apos", 0x27 },
            { "lt", 0x3C }, { "gt", 0x3E }, { "OElig", 0x152 }, { "oelig", 0x153 }, { "Scaron", 0x160 },
            { "scaron", 0x161 }, { "Yuml", 0x178 }, { "Zcaron", 0x17D }, { "zcaron", 0x17E }, { "fnof", 0x192 },
            { "circ", 0x2C6 }, { "tilde", 0x2DC }, { "ensp", 0x2002 }, { "emsp", 0x2003 }, { "thinsp", 0x2009 },
            { "zwnj", 0x200C }, { "zwj", 0x200D }, { "lrm", 0x200E }, { "rlm", 0x200F }, { "ndash", 0x2013 },
            { "mdash", 0x2014 }, { "lsquo", 0x2018 }, { "rsquo", 0x2019 }, { "sbquo", 0x201A }, { "ldquo", 0x201C },
            { "rdquo", 0x201D }, { "bdquo", 0x201E }, { "dagger", 0x2020 }, { "Dagger", 0x2021 }, { "bull", 0x2022 },
            { "hellip", 0x2026 }, { "permil", 0x2030 }, { "prime", 0x2032 }, { "Prime", 0x2033 }, { "lsaquo", 0x2039 },
            { "rsaquo", 0x203A }, { "euro", 0x20AC }, { "trade", 0x2122 }, { "larr", 0x2190 }, { "uarr", 0x2191 },
            { "rarr", 0x2192 }, { "darr", 0x2193 }, { "harr", 0x2194 }, { "minus", 0x2212 }, { "le", 0x2264 },
            { "ge", 0x2265 }, { "ne", 0x2260 }, { "infin", 0x221E } };
        for (const auto& [name, value] : others)
            names.insert(QString::fromLatin1(name), value);
        return names;
    }();
    return table;
}

// What a numeric reference to 128..159 means in HTML: the windows-1252 character of that byte.
char32_t fromWindows1252(char32_t code)
{
    static const char16_t table[32] = { 0x20AC, 0x81, 0x201A, 0x192, 0x201E, 0x2026, 0x2020, 0x2021, 0x2C6, 0x2030,
        0x160, 0x2039, 0x152, 0x8D, 0x17D, 0x8F, 0x90, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x2DC,
        0x2122, 0x161, 0x203A, 0x153, 0x9D, 0x17E, 0x178 };
    return code >= 0x80 && code <= 0x9F ? table[code - 0x80] : code;
}

struct Reference {
    char32_t code;
    qsizetype end; // index after the reference
};

// The numeric reference at `pos` ("&#" digits or "&#x" hex digits, the ";" optional), as read.
std::optional<Reference> numericReference(QStringView html, qsizetype pos)
{
    qsizetype i = pos + 2;
    const bool hex = i < html.size() && (html[i] == u'x' || html[i] == u'X');
    if (hex)
        ++i;
    const qsizetype start = i;
    char32_t value = 0;
    for (; i < html.size(); ++i) {
        const char16_t c = html[i].toLower().unicode();
        int v = -1;
        if (c >= u'0' && c <= u'9')
            v = c - u'0';
        else if (hex && c >= u'a' && c <= u'f')
            v = c - u'a' + 10;
        if (v < 0)
            break;
        value = value > 0x10FFFF ? value : value * (hex ? 16 : 10) + char32_t(v);
    }
    if (i == start)
        return std::nullopt;
    if (i < html.size() && html[i] == u';')
        ++i;
    return Reference { value, i };
}

// The character reference at `pos` (which holds '&') as text, and where it ends; nothing when the
// '&' starts no reference we know, in which case it is text itself.
std::optional<std::pair<QString, qsizetype>> characterReference(QStringView html, qsizetype pos)
{
    if (pos + 1 < html.size() && html[pos + 1] == u'#') {
        std::optional<Reference> ref = numericReference(html, pos);
        if (!ref)
            return std::nullopt;
        const char32_t code = fromWindows1252(ref->code);
        if (QChar::isHighSurrogate(code) && ref->end + 1 < html.size() && html[ref->end] == u'&'
            && html[ref->end + 1] == u'#') {
            // Some producers write a character beyond U+FFFF as the references of its two halves.
            std::optional<Reference> low = numericReference(html, ref->end);
            if (low && QChar::isLowSurrogate(low->code)) {
                const char16_t pair[2] = { char16_t(code), char16_t(low->code) };
                return std::pair { QString(reinterpret_cast<const QChar*>(pair), 2), low->end };
            }
        }
        if (code == 0 || code > 0x10FFFF || QChar::isSurrogate(code))
            return std::pair { QString(QChar::ReplacementCharacter), ref->end };
        return std::pair { QString::fromUcs4(&code, 1), ref->end };
    }
    qsizetype i = pos + 1;
    while (i < html.size() && i - pos <= 32 && html[i].isLetterOrNumber() && html[i].unicode() < 0x80)
        ++i;
    if (i == pos + 1 || i >= html.size() || html[i] != u';')
        return std::nullopt;
    const auto found = namedReferences().constFind(html.mid(pos + 1, i - pos - 1).toString());
    if (found == namedReferences().constEnd())
        return std::nullopt;
    const char32_t code = *found == 0xA0 ? char32_t(u' ') : *found;
    return std::pair { QString::fromUcs4(&code, 1), i + 1 };
}

// Collects the text: white space is held back and written as one space before the next visible
// character; line breaks asked for by block elements are held back the same way, so that nested
// blocks give one break and nothing is added at the start or the end.
class TextOut {
public:
    void whiteSpace(QChar c)
    {
        if (m_preDepth == 0) {
            m_pendingSpace = true;
            return;
        }
        flushBreaks();
        m_out += c == u'\r' ? QChar(u'\n') : c;
    }
    void visible(QStringView text)
    {
        flushBreaks();
        if (m_pendingSpace && !atLineStart())
            m_out += u' ';
        m_pendingSpace = false;
        m_out += text;
    }
    void separate() { m_pendingSpace = true; }
    void softBreak(int lines)
    {
        m_pendingBreaks = std::max(m_pendingBreaks, lines);
        m_pendingSpace = false;
    }
    void hardBreak()
    {
        flushBreaks();
        m_out += u'\n';
        m_pendingSpace = false;
    }
    /// Where the text stands now, and the text written since such a place.
    qsizetype mark() const { return m_out.size(); }
    QString since(qsizetype mark) const { return m_out.mid(mark); }
    void enterPre(bool enter) { m_preDepth = std::max(0, m_preDepth + (enter ? 1 : -1)); }
    bool inPre() const { return m_preDepth > 0; }

    QString finish()
    {
        QStringList lines = m_out.split(u'\n');
        for (QString& line : lines) {
            while (!line.isEmpty() && line.back().isSpace())
                line.chop(1);
        }
        while (!lines.isEmpty() && lines.first().isEmpty())
            lines.removeFirst();
        while (!lines.isEmpty() && lines.last().isEmpty())
            lines.removeLast();
        return lines.isEmpty() ? QString() : lines.join(u'\n') + u'\n';
    }

private:
    bool atLineStart() const { return m_out.isEmpty() || m_out.endsWith(u'\n'); }
    void flushBreaks()
    {
        if (m_out.isEmpty()) {
            m_pendingBreaks = 0;
            return;
        }
        qsizetype have = 0;
        while (have < m_out.size() && m_out[m_out.size() - 1 - have] == u'\n')
            ++have;
        for (; have < m_pendingBreaks; ++have)
            m_out += u'\n';
        m_pendingBreaks = 0;
    }

    QString m_out;
    int m_pendingBreaks = 0;
    bool m_pendingSpace = false;
    int m_preDepth = 0;
};

bool isAsciiLetter(QChar c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

bool isNameChar(QChar c)
{
    return c.unicode() < 0x80 && (c.isLetterOrNumber() || c == u'-' || c == u':');
}

// The index of the end tag "</name" at or after `from` (case-insensitive), or -1.
qsizetype findEndTag(QStringView html, qsizetype from, QStringView name)
{
    const QString needle = QLatin1String("</") + name.toString();
    for (qsizetype at = html.indexOf(needle, from, Qt::CaseInsensitive); at >= 0;
         at = html.indexOf(needle, at + 1, Qt::CaseInsensitive)) {
        const qsizetype after = at + needle.size();
        if (after >= html.size() || !isNameChar(html[after]))
            return at;
    }
    return -1;
}

// The index after the '>' that closes the tag starting at `from`; quoted attribute values may hold '>'.
qsizetype tagEnd(QStringView html, qsizetype from)
{
    QChar quote;
    for (qsizetype i = from; i < html.size(); ++i) {
        const QChar c = html[i];
        if (!quote.isNull()) {
            if (c == quote)
                quote = QChar();
        } else if (c == u'"' || c == u'\'') {
            quote = c;
        } else if (c == u'>') {
            return i + 1;
        }
    }
    return html.size();
}

void applyTag(TextOut& out, const QString& name, bool isEnd)
{
    static const QStringList paragraphs { QStringLiteral("p"), QStringLiteral("h1"), QStringLiteral("h2"),
        QStringLiteral("h3"), QStringLiteral("h4"), QStringLiteral("h5"), QStringLiteral("h6") };
    static const QStringList blocks { QStringLiteral("div"), QStringLiteral("li"), QStringLiteral("tr"),
        QStringLiteral("table"), QStringLiteral("ul"), QStringLiteral("ol"), QStringLiteral("dl"), QStringLiteral("dt"),
        QStringLiteral("dd"), QStringLiteral("blockquote"), QStringLiteral("hr"), QStringLiteral("pre"),
        QStringLiteral("center"), QStringLiteral("address"), QStringLiteral("section"), QStringLiteral("article"),
        QStringLiteral("header"), QStringLiteral("footer"), QStringLiteral("caption"), QStringLiteral("form"),
        QStringLiteral("fieldset") };
    if (name == u"br") {
        out.hardBreak();
    } else if (paragraphs.contains(name)) {
        out.softBreak(2);
    } else if (blocks.contains(name)) {
        out.softBreak(1);
        if (name == u"pre")
            out.enterPre(!isEnd);
    } else if (!isEnd && (name == u"td" || name == u"th")) {
        out.separate();
    }
}

// `text` with its character references decoded.
QString withReferencesDecoded(const QString& text)
{
    QString out;
    for (qsizetype i = 0; i < text.size();) {
        if (const auto ref = text[i] == u'&' ? characterReference(text, i) : std::nullopt) {
            out += ref->first;
            i = ref->second;
        } else {
            out += text[i++];
        }
    }
    return out;
}

// The href of the start tag `tag` (its text after the name), references decoded; empty when it has none.
QString hrefOf(QStringView tag)
{
    static const QRegularExpression href(QStringLiteral("\\bhref\\s*=\\s*(?:\"([^\"]*)\"|'([^']*)'|([^\\s>]+))"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = href.match(tag.toString());
    if (!match.hasMatch())
        return {};
    for (int group = 1; group <= 3; ++group)
        if (match.capturedStart(group) >= 0)
            return withReferencesDecoded(match.captured(group)).trimmed();
    return {};
}

// A link keeps its target after its text, "text <target>", where the target is an absolute URL (a relative
// one leads nowhere outside the mail) and the text does not already say it.
void closeLink(TextOut& out, qsizetype start, const QString& target)
{
    static const QRegularExpression absolute(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*:\\S"));
    const QString text = out.since(start).simplified();
    if (!absolute.match(target).hasMatch() || target == text
        || target.compare(QLatin1String("mailto:") + text, Qt::CaseInsensitive) == 0)
        return;
    out.separate();
    out.visible(u'<' + target + u'>');
}

} // namespace

QString htmlToText(const QString& html)
{
    static const QStringList dropped { QStringLiteral("script"), QStringLiteral("style"), QStringLiteral("head"),
        QStringLiteral("title"), QStringLiteral("template") };
    TextOut out;
    std::optional<std::pair<qsizetype, QString>> link; // where the open <a> started in the text, and its target
    qsizetype i = 0;
    while (i < html.size()) {
        const QChar c = html[i];
        if (c == u'<' && html.mid(i, 4) == u"<!--") {
            const qsizetype end = html.indexOf(QLatin1String("-->"), i + 4);
            i = end < 0 ? html.size() : end + 3;
        } else if (c == u'<' && i + 1 < html.size() && (html[i + 1] == u'!' || html[i + 1] == u'?')) {
            i = tagEnd(html, i + 2);
        } else if (c == u'<' && i + 1 < html.size()
            && (isAsciiLetter(html[i + 1])
                || (html[i + 1] == u'/' && i + 2 < html.size() && isAsciiLetter(html[i + 2])))) {
            const bool isEnd = html[i + 1] == u'/';
            qsizetype nameEnd = i + (isEnd ? 2 : 1);
            while (nameEnd < html.size() && isNameChar(html[nameEnd]))
                ++nameEnd;
            const QString name = html.mid(i + (isEnd ? 2 : 1), nameEnd - i - (isEnd ? 2 : 1)).toLower();
            i = tagEnd(html, nameEnd);
            if (name == u"a" && link)
                closeLink(out, link->first, link->second);
            if (name == u"a")
                link = isEnd
                    ? std::nullopt
                    : std::optional(std::pair { out.mark(), hrefOf(QStringView(html).sliced(nameEnd, i - nameEnd)) });
            if (!isEnd && dropped.contains(name)) {
                // Their content is never shown. A head that is not closed ends where the body starts.
                qsizetype close = findEndTag(html, i, name);
                if (close < 0 && name == u"head") {
                    static const QRegularExpression bodyTag(
                        QStringLiteral("<body\\b"), QRegularExpression::CaseInsensitiveOption);
                    close = html.indexOf(bodyTag, i);
                    i = close < 0 ? i : close;
                } else {
                    i = close < 0 ? html.size() : tagEnd(html, close);
                }
            } else {
                applyTag(out, name, isEnd);
            }
        } else if (c == u'&') {
            if (const auto ref = characterReference(html, i)) {
                out.visible(ref->first);
                i = ref->second;
            } else {
                out.visible(QStringView(html).mid(i, 1));
                ++i;
            }
        } else if (c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\f') {
            if (c == u'\r' && i + 1 < html.size() && html[i + 1] == u'\n')
                ++i; // CR LF is one line break inside <pre>
            out.whiteSpace(c);
            ++i;
        } else {
            qsizetype end = i + 1;
            while (end < html.size() && html[end] != u'<' && html[end] != u'&' && !html[end].isSpace())
                ++end;
            out.visible(QStringView(html).mid(i, end - i));
            i = end;
        }
    }
    if (link)
        closeLink(out, link->first, link->second);
    return out.finish();
}

QString fromText(const mail::MailItem& item)
{
    return oneLine(nameAndAddress(item.senderName(), item.summary().senderEmailAddress));
}

QString toText(const mail::MailItem& item)
{
    return oneLine(valueOf(item, { QStringLiteral("To:"), item.summary().to, mail::Recipient::Type::To }));
}

QString ccText(const mail::MailItem& item)
{
    return oneLine(valueOf(item, { QStringLiteral("Cc:"), item.displayCc(), mail::Recipient::Type::Cc }));
}

QByteArray textContent(const mail::MailItem& item, const QLocale& locale)
{
    // Made UTF-8 piece by piece: the text of a mail to hundreds of thousands is never held as UTF-16 whole.
    QByteArray text;
    writeText(item, locale, [&text](QStringView piece) { text += piece.toUtf8(); });
    return text;
}

// ---- RTF ---------------------------------------------------------------------------------------------

QByteArray rtfContent(const mail::MailItem& item, const QLocale& locale)
{
    const QByteArray stored = item.rtfBody();
    if (!stored.isEmpty()) {
        if (QByteArray rtf = withLeadingText(stored, headerText(item, locale) + u'\n'); !rtf.isEmpty())
            return rtf;
    }
    RtfParagraphs paragraphs("{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0 Calibri;}}\n\\uc1\\pard\\f0\\fs22 ");
    writeText(item, locale, [&paragraphs](QStringView piece) { paragraphs.write(piece); });
    QByteArray rtf = paragraphs.finish();
    rtf += "}\n";
    return rtf;
}

// ---- HTML --------------------------------------------------------------------------------------------

namespace {

// The header lines as a table, in UTF-8: made piece by piece, so that the table of a mail to hundreds of
// thousands is never held as UTF-16 whole.
QByteArray headerTable(const mail::MailItem& item, const QLocale& locale)
{
    QByteArray table = "<table style=\"border-collapse: collapse; margin-bottom: 1em\">\n";
    for (const HeaderLine& line : headerLines(item, locale)) {
        table += "<tr><th style=\"text-align: left; vertical-align: top; padding-right: 1em\">"
            + line.label.toHtmlEscaped().toUtf8() + "</th><td>";
        writeOneLine(item, line, [&table](QStringView piece) { table += piece.toString().toHtmlEscaped().toUtf8(); });
        table += "</td></tr>\n";
    }
    table += "</table>\n<hr>\n";
    return table;
}

// The index after the first match of `pattern` in `html`, or -1.
qsizetype endOf(const QString& html, const QRegularExpression& pattern)
{
    const QRegularExpressionMatch match = pattern.match(html);
    return match.hasMatch() ? match.capturedEnd() : -1;
}

// Whether a <meta> tag of `html` declares a charset.
bool declaresCharset(const QString& html)
{
    static const QRegularExpression charsetMeta(
        QStringLiteral("<meta\\b[^>]*\\bcharset\\s*=\\s*[\"']?\\s*[^\"'\\s;/>]"),
        QRegularExpression::CaseInsensitiveOption);
    return html.contains(charsetMeta);
}

// A document of our own: the title, then `table` and `body` in <body>. Made around the header table, which
// may be its largest part, rather than of a copy of it.
QByteArray htmlDocument(const QString& title, QByteArray table, const QString& body)
{
    table.prepend("<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n<title>"
        + oneLine(title).toHtmlEscaped().toUtf8() + "</title>\n</head>\n<body>\n");
    table += body.toUtf8();
    table += "</body>\n</html>\n";
    return table;
}

// The HTML body `body` with the header table `table` after its <body ...>, made around the table as above.
QByteArray htmlDocumentWithHeader(const QString& body, QByteArray table)
{
    using RE = QRegularExpression;
    static const RE headOpen(QStringLiteral("<head\\b[^>]*>"), RE::CaseInsensitiveOption);
    static const RE headClose(QStringLiteral("</head\\s*>"), RE::CaseInsensitiveOption);
    static const RE htmlOpen(QStringLiteral("<html\\b[^>]*>"), RE::CaseInsensitiveOption);
    static const RE bodyOpen(QStringLiteral("<body\\b[^>]*>"), RE::CaseInsensitiveOption);
    static const RE leading(
        QStringLiteral("^\\s*(<!doctype[^>]*>\\s*)?(<meta charset=\"utf-8\">)?"), RE::CaseInsensitiveOption);
    const QString meta = QStringLiteral("<meta charset=\"utf-8\">");

    QString html = msg::withUtf8Charset(body);
    if (!declaresCharset(html)) {
        if (const qsizetype at = endOf(html, headOpen); at >= 0)
            html.insert(at, meta);
        else if (const qsizetype at = endOf(html, htmlOpen); at >= 0)
            html.insert(at, QLatin1String("<head>") + meta + QLatin1String("</head>"));
        else
            html.insert(endOf(html, leading), meta);
    }
    qsizetype at = endOf(html, bodyOpen);
    if (at < 0)
        at = endOf(html, headClose);
    if (at < 0)
        at = endOf(html, htmlOpen);
    if (at < 0)
        at = endOf(html, leading);
    table.prepend(QStringView(html).first(at).toUtf8() + '\n');
    table += QStringView(html).sliced(at).toUtf8();
    return table;
}

} // namespace

QString withCidLinksTo(const QString& html, const QHash<QString, QString>& linkTargets)
{
    if (linkTargets.isEmpty())
        return html;
    static const QRegularExpression link(
        QStringLiteral("(\\b(?:src|href)\\s*=\\s*[\"']?)cid:([^\"'\\s>]+)"), QRegularExpression::CaseInsensitiveOption);
    QString out;
    qsizetype done = 0;
    for (auto it = link.globalMatch(html); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        const QString id = QUrl::fromPercentEncoding(match.captured(2).toUtf8());
        const auto target = linkTargets.constFind(id);
        if (target == linkTargets.cend())
            continue;
        out += html.sliced(done, match.capturedStart(2) - 4 - done);
        out += QString::fromLatin1(QUrl::toPercentEncoding(*target, "/"));
        done = match.capturedEnd(2);
    }
    return out + html.sliced(done);
}

QString attachmentName(const mail::Attachment& attachment)
{
    const QString name = attachment.fileName();
    const QString type = attachment.mimeType().trimmed().toLower();
    if (!name.isEmpty() || !type.startsWith(QLatin1String("image/")))
        return name;
    const QString suffix = QMimeDatabase().mimeTypeForName(type).preferredSuffix();
    return QStringLiteral("image.") + (suffix.isEmpty() ? type.mid(6).section(u'+', 0, 0) : suffix);
}

QByteArray htmlContent(const mail::MailItem& item, const QLocale& locale, const QHash<QString, QString>& linkTargets)
{
    QByteArray table = headerTable(item, locale);
    const Bodies bodies = bodiesOf(item);
    if (!bodies.html.isEmpty())
        return htmlDocumentWithHeader(withCidLinksTo(bodies.html, linkTargets), std::move(table));
    return htmlDocument(item.summary().subject, std::move(table),
        QLatin1String("<pre>") + withLfLineEnds(bodies.plain).toHtmlEscaped() + QLatin1String("</pre>\n"));
}

DirectoryHtml directoryHtml(
    const mail::MailItem& item, const QLocale& locale, const QHash<QString, QString>& linkTargets)
{
    const Bodies bodies = bodiesOf(item);
    if (bodies.html.isEmpty())
        return { htmlContent(item, locale, linkTargets), {} };
    const QString html = msg::withUtf8Charset(withCidLinksTo(bodies.html, linkTargets));
    QByteArray message = html.toUtf8();
    if (!declaresCharset(html))
        message.prepend("\xEF\xBB\xBF");
    QByteArray index = htmlDocument(item.summary().subject, headerTable(item, locale),
        QStringLiteral("<p><a href=\"message.html\">message.html</a></p>\n"
                       "<iframe src=\"message.html\" title=\"message\" style=\"width: 100%; height: 80vh; "
                       "border: none\"></iframe>\n"));
    return { std::move(message), std::move(index) };
}

// ---- EML ---------------------------------------------------------------------------------------------

namespace {

// An attached mail nested deeper than this is attached as its bytes, so a hostile store cannot
// exhaust the stack (the .msg writer draws the same line).
constexpr int kMaxNesting = 32;

void initGMime()
{
    parserOptions(); // sets GMime up, once for the program
}

GPtr<GMimeMessage> parseMessage(const QByteArray& bytes)
{
    GPtr<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(bytes.constData(), size_t(bytes.size())));
    GPtr<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
    return GPtr<GMimeMessage>(g_mime_parser_construct_message(parser.get(), nullptr));
}

// The header fields of `headers` that still describe the built message, LF-terminated: MIME-Version
// and Content-* go, and so do lines that are no header field (Exchange starts the block with
// "Microsoft Mail Internet Headers Version 2.0"). An empty line after the first field ends the block.
QByteArray keptHeaderFields(const QString& headers)
{
    static const QRegularExpression fieldStart(QStringLiteral("^([!-9;-~]+)[ \\t]*:"));
    QByteArray kept;
    bool inField = false;
    bool keep = false;
    bool seenField = false;
    for (const QString& line : withLfLineEnds(headers).split(u'\n')) {
        if (line.isEmpty()) {
            if (seenField)
                break;
            continue;
        }
        if (line[0] == u' ' || line[0] == u'\t') {
            if (inField && keep)
                kept += line.toUtf8() + '\n';
            continue;
        }
        const QRegularExpressionMatch match = fieldStart.match(line);
        inField = match.hasMatch();
        if (!inField)
            continue;
        seenField = true;
        const QString name = match.captured(1);
        keep = !name.startsWith(QLatin1String("Content-"), Qt::CaseInsensitive)
            && name.compare(QLatin1String("MIME-Version"), Qt::CaseInsensitive) != 0;
        if (keep)
            kept += line.toUtf8() + '\n';
    }
    return kept;
}

void setContent(GMimePart* part, const QByteArray& bytes)
{
    GPtr<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(bytes.constData(), size_t(bytes.size())));
    GPtr<GMimeDataWrapper> content(g_mime_data_wrapper_new_with_stream(stream.get(), GMIME_CONTENT_ENCODING_DEFAULT));
    g_mime_part_set_content(part, content.get());
}

GPtr<GMimeObject> textPart(const char* subtype, const QString& text)
{
    GMimePart* part = g_mime_part_new_with_type("text", subtype);
    g_mime_object_set_content_type_parameter(GMIME_OBJECT(part), "charset", "utf-8");
    // LF here; the writer turns every line end into CR LF.
    setContent(part, withLfLineEnds(text).toUtf8());
    g_mime_part_set_content_encoding(part, g_mime_part_get_best_content_encoding(part, GMIME_ENCODING_CONSTRAINT_7BIT));
    return GPtr<GMimeObject>(GMIME_OBJECT(part));
}

GPtr<GMimeObject> bodyPart(const mail::MailItem& item)
{
    const Bodies bodies = bodiesOf(item);
    if (bodies.html.isEmpty())
        return textPart("plain", bodies.plain);
    GPtr<GMimeObject> htmlPart = textPart("html", msg::withUtf8Charset(bodies.html));
    if (bodies.plain.isEmpty())
        return htmlPart;
    GMimeMultipart* alternative = g_mime_multipart_new_with_subtype("alternative");
    g_mime_multipart_add(alternative, textPart("plain", bodies.plain).get());
    g_mime_multipart_add(alternative, htmlPart.get());
    return GPtr<GMimeObject>(GMIME_OBJECT(alternative));
}

void setAttachmentName(GMimeObject* object, const QString& fileName)
{
    g_mime_object_set_disposition(object, "attachment");
    if (!fileName.isEmpty())
        g_mime_object_set_content_disposition_parameter(object, "filename", fileName.toUtf8().constData());
}

// The attachment's MIME type when it is one a base64 leaf part may carry, else application/octet-stream:
// multipart and message types describe a structure their bytes would have to be parsed as.
QByteArray leafMimeType(const QString& mimeType)
{
    static const QRegularExpression valid(QStringLiteral("^[!#$%&'*+.^_`|~0-9A-Za-z-]+/[!#$%&'*+.^_`|~0-9A-Za-z-]+$"));
    static const QRegularExpression structured(
        QStringLiteral("^(multipart/|message/(rfc822|news|global|partial|external-body)$)"),
        QRegularExpression::CaseInsensitiveOption);
    const QString type = mimeType.trimmed();
    if (!valid.match(type).hasMatch() || structured.match(type).hasMatch())
        return "application/octet-stream";
    return type.toLower().toLatin1();
}

Result<GPtr<GMimeMessage>> buildMessage(const mail::MailItem& item, int depth);

GPtr<GMimeObject> messagePart(GMimeMessage* message, const QString& fileName)
{
    GMimeMessagePart* part = g_mime_message_part_new_with_message("rfc822", message);
    setAttachmentName(GMIME_OBJECT(part), fileName);
    return GPtr<GMimeObject>(GMIME_OBJECT(part));
}

Result<GPtr<GMimeObject>> attachmentPart(const mail::Attachment& attachment, int depth)
{
    const QString fileName = attachment.fileName();
    if (depth < kMaxNesting) {
        if (const std::unique_ptr<mail::MailItem> embedded = attachment.embeddedMessage()) {
            Result<GPtr<GMimeMessage>> message = buildMessage(*embedded, depth + 1);
            if (!message)
                return message.error();
            return messagePart(message->get(), fileName);
        }
    }
    Result<QByteArray> data = attachment.data();
    if (!data)
        return data.error();
    if (depth < kMaxNesting && attachment.mimeType().trimmed().compare(u"message/rfc822", Qt::CaseInsensitive) == 0) {
        if (GPtr<GMimeMessage> message = parseMessage(*data))
            return messagePart(message.get(), fileName);
    }
    const QByteArray type = leafMimeType(attachment.mimeType());
    const qsizetype slash = type.indexOf('/');
    GMimePart* part = g_mime_part_new_with_type(type.left(slash).constData(), type.mid(slash + 1).constData());
    if (const QString id = attachment.contentId(); !id.isEmpty() && attachment.isInline()) {
        g_mime_object_set_content_id(GMIME_OBJECT(part), id.toUtf8().constData());
        g_mime_object_set_disposition(GMIME_OBJECT(part), "inline");
        if (!fileName.isEmpty())
            g_mime_part_set_filename(part, fileName.toUtf8().constData());
    } else if (fileName.isEmpty())
        setAttachmentName(GMIME_OBJECT(part), fileName);
    else
        g_mime_part_set_filename(part, fileName.toUtf8().constData()); // both filename and name
    setContent(part, *data);
    g_mime_part_set_content_encoding(part, GMIME_CONTENT_ENCODING_BASE64);
    return GPtr<GMimeObject>(GMIME_OBJECT(part));
}

bool hasAddresses(GMimeMessage* message, GMimeAddressType type)
{
    InternetAddressList* list = g_mime_message_get_addresses(message, type);
    return list && internet_address_list_length(list) > 0;
}

// A party as an address of the header `type`. One without an Internet address (an Exchange user the store
// knows only by X.500 address) is named as an empty group, never by a bogus "<>" or "</o=...>".
void addParty(GMimeMessage* message, GMimeAddressType type, const mail::Recipient& party)
{
    const QString& name = party.name;
    if (!party.address.isEmpty()) {
        g_mime_message_add_mailbox(message, type, name.toUtf8().constData(), party.address.toUtf8().constData());
        return;
    }
    if (name.isEmpty())
        return;
    InternetAddress* group = internet_address_group_new(name.toUtf8().constData());
    internet_address_list_add(g_mime_message_get_addresses(message, type), group);
    g_object_unref(group);
}

void fillMissingHeaders(GMimeMessage* message, const mail::MailItem& item)
{
    const mail::ItemSummary& summary = item.summary();
    if (!hasAddresses(message, GMIME_ADDRESS_TYPE_FROM)) {
        mail::Recipient from = mail::fromOf(item);
        if (from.name.compare(from.address, Qt::CaseInsensitive) == 0)
            from.name.clear();
        addParty(message, GMIME_ADDRESS_TYPE_FROM, from);
    }
    const std::pair<mail::Recipient::Type, GMimeAddressType> kinds[] = {
        { mail::Recipient::Type::To, GMIME_ADDRESS_TYPE_TO },
        { mail::Recipient::Type::Cc, GMIME_ADDRESS_TYPE_CC },
        { mail::Recipient::Type::Bcc, GMIME_ADDRESS_TYPE_BCC },
    };
    for (const auto& [type, gmimeType] : kinds) {
        if (hasAddresses(message, gmimeType))
            continue;
        item.forEachRecipient([&, type = type, gmimeType = gmimeType](const mail::Recipient& recipient) {
            if (recipient.type == type)
                addParty(message, gmimeType, recipient);
        });
    }
    if (!g_mime_message_get_subject(message) && !summary.subject.isEmpty())
        g_mime_message_set_subject(message, oneLine(summary.subject).toUtf8().constData(), "utf-8");
    if (!g_mime_message_get_date(message)) {
        const QDateTime when = summary.sent && mail::isKnownTime(summary.sentOn) ? summary.sentOn
            : mail::isKnownTime(summary.creationTime)                            ? summary.creationTime
                                                                                 : QDateTime();
        if (when.isValid()) {
            GTimeZone* zone = g_time_zone_new_offset(when.offsetFromUtc());
            GDateTime* utc = g_date_time_new_from_unix_utc(when.toSecsSinceEpoch());
            GDateTime* local = g_date_time_to_timezone(utc, zone);
            g_mime_message_set_date(message, local);
            g_date_time_unref(local);
            g_date_time_unref(utc);
            g_time_zone_unref(zone);
        }
    }
}

Result<GPtr<GMimeMessage>> buildMessage(const mail::MailItem& item, int depth)
{
    // An attached mail the store holds as RFC 822 goes in as it is.
    if (const QByteArray raw = item.rawMessage(); depth > 0 && !raw.isEmpty()) {
        if (GPtr<GMimeMessage> parsed = parseMessage(raw))
            return parsed;
    }
    GPtr<GMimeMessage> message;
    const QByteArray kept = keptHeaderFields(item.transportHeaders());
    if (!kept.isEmpty())
        message = parseMessage(kept + '\n');
    if (!message)
        message.reset(g_mime_message_new(TRUE));
    fillMissingHeaders(message.get(), item);

    GPtr<GMimeObject> body = bodyPart(item);
    auto attachments = item.attachments();
    if (!attachments)
        return attachments.error();
    // The images the HTML body shows by Content-ID go with it into multipart/related; the rest is attached.
    const bool hasHtml = !bodiesOf(item).html.isEmpty();
    std::vector<const mail::Attachment*> related, attached;
    for (const std::unique_ptr<mail::Attachment>& attachment : *attachments)
        (hasHtml && attachment->isInline() && !attachment->contentId().isEmpty() ? related : attached)
            .push_back(attachment.get());
    for (const auto& [parts, subtype] : { std::pair { &related, "related" }, std::pair { &attached, "mixed" } }) {
        if (parts->empty())
            continue;
        GMimeMultipart* multipart = g_mime_multipart_new_with_subtype(subtype);
        GPtr<GMimeObject> multipartObject(GMIME_OBJECT(multipart));
        g_mime_multipart_add(multipart, body.get());
        for (const mail::Attachment* attachment : *parts) {
            Result<GPtr<GMimeObject>> part = attachmentPart(*attachment, depth);
            if (!part)
                return part.error();
            g_mime_multipart_add(multipart, part->get());
        }
        body = std::move(multipartObject);
    }
    g_mime_message_set_mime_part(message.get(), body.get());
    return message;
}

} // namespace

Result<QByteArray> emlContent(const mail::MailItem& item)
{
    QByteArray raw = item.rawMessage();
    if (!raw.isEmpty())
        return raw;
    initGMime();
    Result<GPtr<GMimeMessage>> message = buildMessage(item, 0);
    if (!message)
        return message.error();

    GMimeFormatOptions* format = g_mime_format_options_new();
    g_mime_format_options_set_newline_format(format, GMIME_NEWLINE_FORMAT_DOS);
    GPtr<GMimeStream> stream(g_mime_stream_mem_new());
    g_mime_object_write_to_stream(GMIME_OBJECT(message->get()), format, stream.get());
    g_mime_format_options_free(format);
    GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(stream.get()));
    return QByteArray(reinterpret_cast<const char*>(bytes->data), qsizetype(bytes->len));
}

} // namespace quillbox::formats

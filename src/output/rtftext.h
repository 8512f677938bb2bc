// SPDX-License-Identifier: MIT
#pragma once
// RTF and text: the body a stored RTF document holds (its encapsulated HTML, or its text), for the outputs that
// carry a plain or an HTML body; and text written as RTF, into a document of our own or into a stored one.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <utility>

namespace quillbox::mail {
class MailItem;
}

namespace quillbox::formats {

/// What an RTF document holds as a mail body.
struct RtfBody {
    QString text; ///< the encapsulated HTML (CR LF line ends), or the document's text (LF line ends)
    bool isHtml = false;
};

/// The body of the RTF document `rtf`.
/// A document that encapsulates HTML ([MS-OXRTFEX]: \fromhtml1 and at least one \*\htmltag group) gives that
/// HTML: the content of its \*\htmltag groups (\'hh in the document's code page) and its text outside
/// \htmlrtf ... \htmlrtf0 (\'hh in the code page of the current font). Any other document gives its text:
/// \par, \line, \page, \sect and \row end a line, \tab and \cell give a tab, \'hh is read in the code page of
/// the current font (its \fcharset or \cpg), else the document's (\ansicpg, 1252 when it has none), \uN gives
/// the character and skips the \ucN characters after it that stand in for it, the named punctuation words give
/// their characters; destinations without text (\fonttbl, \colortbl, \stylesheet, \info, \pict, field
/// instructions, every \*\ destination) are left out. A document encapsulating plain text (\fromtext) leaves
/// out its \htmlrtf parts too.
/// Any bytes are read: text that is cut off, groups that do not close or close too often, bad escapes and groups
/// nested without end give the text that can be read, in time linear in the size.
[[nodiscard]] RtfBody rtfBody(QByteArrayView rtf);

/// The lines of `text` (split at LF; a last empty line left out) as RTF paragraphs, each ended by \par and a line
/// break: tabs as \tab, \, { and } escaped, control characters left out, every character outside ASCII as a
/// \uN escape with "?" as its fallback (\uc1 must be in effect), written \'3f; characters beyond U+FFFF as the
/// escapes of their UTF-16 halves. The result is ASCII.
[[nodiscard]] QByteArray rtfParagraphs(const QString& text);

/// rtfParagraphs() of a text that comes in pieces, split anywhere (a surrogate pair too).
class RtfParagraphs {
public:
    /// The paragraphs follow `start`, in the same buffer.
    explicit RtfParagraphs(QByteArray start = {})
        : m_rtf(std::move(start))
    {
    }
    void write(QStringView text);
    /// The start and the paragraphs of all the text written; the object is empty again.
    [[nodiscard]] QByteArray finish();

private:
    QByteArray m_rtf;
    char16_t m_highSurrogate = 0; // the first half of a pair, whose second half may come with the next piece
    bool m_lineOpen = false; // the last line has characters
};

/// The RTF document `rtf` with `text` put in front of its own text, as rtfParagraphs() in a group of its own
/// with plain formatting: after its header (\rtf1, the control words and the groups without text that follow
/// it, such as \fonttbl, \colortbl, \stylesheet and \info), before its first text or group that holds text.
/// In a document that encapsulates HTML the group is marked \htmlrtf, so that the HTML read back from it is the
/// original. Empty when `rtf` does not start with "{\rtf".
[[nodiscard]] QByteArray withLeadingText(QByteArrayView rtf, const QString& text);

/// The plain and HTML bodies of a mail for the outputs that carry them: the store's own; for a mail that has
/// neither but an RTF body, what rtfBody() gives of that (fromRtf set when it gives text).
struct Bodies {
    QString plain;
    QString html;
    bool fromRtf = false;
};
[[nodiscard]] Bodies bodiesOf(const mail::MailItem& item);

} // namespace quillbox::formats

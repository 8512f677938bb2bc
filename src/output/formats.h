// SPDX-License-Identifier: MIT
#pragma once
// The contents of the saved .txt, .rtf, .html and .eml files, built from a mail item of the store model
// (Maildir and PST alike). Each function returns the bytes of one file; writing them is the caller's.
//
// The header lines shared by .txt, .rtf and .html, in this order:
//   From:     the sender as "Name <address>" (the address alone when there is no name or the name is
//             the address, the name alone when there is no address)
//   Sent:     the sent time as "dddd, d MMMM yyyy HH:mm:ss" (for example "Wednesday, 12 August 2009
//             14:30:05"): a fixed pattern, with the day and month names of the locale passed in, in the
//             store's local time; empty for a mail that was not sent
//   To:       the To recipients, each like From, joined by "; " (the store's display-To text when the
//             item lists no To recipients)
//   Cc:       the same for Cc (the display-Cc text as fallback); the line is left out when both are empty
//   Bcc:      the Bcc recipients the store lists, each like From; left out when there are none
//   Reply-To: the Reply-To addresses, each like From; left out when there are none
//   Subject:  the subject
//   Attachments: the attachments' names joined by "; " (an unnamed image by its type, an attached mail
//             without a name by its subject); left out when there are none
// A line break inside a value becomes one space, so that every value stays on its line.
// Text files use LF line ends, whatever the store's bodies use.

#include "core/result.h"

#include <QByteArray>
#include <QHash>
#include <QLocale>
#include <QString>

namespace quillbox::mail {
class Attachment;
class MailItem;
} // namespace quillbox::mail

namespace quillbox::formats {

/// The .txt file: each header line as "Label:" TAB value LF, an empty line, then the plain body with its
/// line ends turned into LF; a mail without a plain body gets its HTML body reduced by htmlToText(). A mail
/// the store holds only as RTF has the body that RTF holds (bodiesOf() in output/rtftext.h), here and in
/// every other content. UTF-8 without a byte-order mark.
[[nodiscard]] QByteArray textContent(const mail::MailItem& item, const QLocale& locale);

/// The .rtf file: the item's stored RTF body where it has one, with the header lines and an empty line put in
/// front of its text as a group of their own (withLeadingText()), the rest byte for byte; otherwise the text of
/// textContent() as RTF (code page 1252 declared, one \par per line, tabs as \tab, every character
/// outside ASCII as a \uN escape with "?" as its fallback, written \'3f; characters beyond U+FFFF as two
/// escapes of their UTF-16 halves). The result is ASCII.
[[nodiscard]] QByteArray rtfContent(const mail::MailItem& item, const QLocale& locale);

/// The .html file (the per-mail directory's message.html): a table of the header lines (values escaped)
/// followed by the HTML body, or by the plain body escaped in <pre> when the mail has no HTML body.
/// The HTML body keeps its own markup; every charset its <meta> tags declare becomes utf-8, and a
/// <meta charset="utf-8"> is inserted into its head (made when missing) when it declares none. The table
/// goes right after <body ...>; without a body tag after the head, else at the start of the document.
/// UTF-8 without a byte-order mark.
/// `linkTargets` maps Content-IDs (without "<>") to the relative paths the attachments were saved under:
/// each "cid:" link of the HTML body to one of them points to that file instead; other cid: links stay.
[[nodiscard]] QByteArray htmlContent(
    const mail::MailItem& item, const QLocale& locale, const QHash<QString, QString>& linkTargets = {});

/// The HTML files of the per-mail directory: message.html, and index.html for a mail with an HTML body.
struct DirectoryHtml {
    QByteArray message;
    QByteArray index; ///< empty: no index.html
};

/// The per-mail directory's HTML files. A mail with an HTML body (its own, or the one its RTF encapsulates) has
/// that body in message.html as it was decoded, changed only where it must be to stay true: the "cid:" links of
/// `linkTargets` point at the saved files (withCidLinksTo()), and every charset its <meta> tags declare says utf-8
/// (UTF-8 is what is written; a body that declares none starts with a UTF-8 byte-order mark, so that a browser
/// reads it right without a word of its markup changed). Its index.html shows the header table (as htmlContent()
/// writes it) and links to message.html, showing it in a frame below. A mail with a plain body alone has
/// htmlContent() in message.html and no index.html.
[[nodiscard]] DirectoryHtml directoryHtml(
    const mail::MailItem& item, const QLocale& locale, const QHash<QString, QString>& linkTargets = {});

/// `html` with every src or href "cid:ID" whose ID `linkTargets` holds turned into its (percent-encoded) path.
[[nodiscard]] QString withCidLinksTo(const QString& html, const QHash<QString, QString>& linkTargets);

/// The file name of `attachment` as the store gives it; an unnamed image gets "image" and the extension of its
/// MIME type ("image.png"), so that what it is stays plain.
[[nodiscard]] QString attachmentName(const mail::Attachment& attachment);

/// The .eml file: the item's raw RFC 822 message byte for byte where the store holds one (Maildir).
/// Otherwise a MIME message built from the properties, with CR LF line ends:
/// - the header fields of transportHeaders() as they were, except MIME-Version and Content-*, which
///   describe the original body and not the one built here (signatures over the body no longer verify);
/// - From, To, Cc, Bcc, Subject and Date from the properties, each only where those headers lack it;
///   Date is the sent time, else the creation time; a Message-ID only as the transport headers have it;
/// - the body: text/plain and text/html (UTF-8) as multipart/alternative where both exist, inside a
///   multipart/mixed with every attachment (base64, its MIME type, its file name, RFC 2231-encoded
///   when not ASCII); an attached mail as message/rfc822, built the same way (its raw message where
///   the store has one).
/// Errors: the store's own Error when the attachment list or an attachment's data cannot be read.
[[nodiscard]] Result<QByteArray> emlContent(const mail::MailItem& item);

/// The values of the From, To and Cc header lines above (without their line breaks).
[[nodiscard]] QString fromText(const mail::MailItem& item);
[[nodiscard]] QString toText(const mail::MailItem& item);
[[nodiscard]] QString ccText(const mail::MailItem& item);

/// Readable text of an HTML document: script, style, head, title and comments are dropped; a link to an
/// absolute URL keeps it after its text ("text <https://...>") unless the text says it already; br gives a
/// line break, block elements (p, div, li, tr, h1-h6, table, lists, blockquote, pre, hr) start a new
/// line and p and h1-h6 leave an empty line around them; runs of white space collapse to one space
/// (kept as they are inside <pre>); character references are decoded (named ones of HTML's Latin-1 and
/// common punctuation set, decimal and hexadecimal ones, with the windows-1252 meaning of 128-159 and a
/// pair of surrogate references joined), &nbsp; becomes a space that does not collapse. Trailing blanks
/// of each line are removed; the result ends with one LF unless it is empty.
[[nodiscard]] QString htmlToText(const QString& html);

} // namespace quillbox::formats

// SPDX-License-Identifier: MIT
#pragma once
// A mail laid out on pages as a PDF file through Qt's own printing: QTextDocument for the layout,
// QPdfWriter for the file. This library links Qt Gui (fonts); the program installs pdfContent() as the
// save run's PDF builder (output/pdfoutput.h). It needs a QGuiApplication.

#include "core/result.h"

#include <QByteArray>
#include <QLocale>

namespace quillbox::mail {
class MailItem;
}

namespace quillbox::pdf {

/// What one mail's HTML may cost before its plain text is laid out instead: HTML is parsed and laid out
/// in one go that cannot be stopped, so what would take too long or too deep a recursion is refused
/// before it starts, and what took too long to parse is dropped before it is laid out.
struct Limits {
    qsizetype htmlBytes = 4 * 1024 * 1024; ///< the HTML document with its header table, in UTF-8
    /// Tables inside tables: Qt lays out each level about twice as slowly as the one around it (12 levels
    /// take half a second, 20 take minutes).
    int tableNesting = 12;
    int blockNesting = 64; ///< divisions, lists and quotes inside each other
    qint64 parseMillis = 5000; ///< the time the HTML may take to parse
    /// The inline images, in all: their bytes as the mail holds them, and their decoded pixels (4 bytes each).
    /// Images beyond either stay out, so that a mail of many small images that unpack large cannot fill memory.
    qsizetype imageBytes = 20 * 1024 * 1024;
    qint64 imagePixelBytes = 256 * 1024 * 1024;
};

/// The PDF of `email`: the header lines (as formats::htmlContent() shows them) and the body, its HTML
/// where it has one and the HTML stays within `limits` (with the images it shows as "cid:" taken from the
/// attachments of that Content-ID), else its text (formats::textContent()), then the
/// names of its attachments under "Attachments:". The page is Letter where the locale measures in the
/// US system, else A4; the text is real text in Noto Sans where the system has it (fonts-noto-core), else
/// in its sans-serif font, and scripts that font lacks come from the system's fallback fonts (Noto Sans CJK
/// of fonts-noto-cjk for Chinese, Japanese and Korean). Nothing is fetched: images and style sheets the HTML names
/// outside the mail stay out. Titled with the subject.
[[nodiscard]] Result<QByteArray> pdfContent(
    const mail::MailItem& email, const QLocale& locale, const Limits& limits = Limits());

/// Whether the HTML `html` stays within the nesting of `limits`: its tables, and its divisions, lists and
/// quotes, counted by their start and end tags, never lie deeper than tableNesting and blockNesting.
[[nodiscard]] bool nestingWithin(const QString& html, const Limits& limits);

} // namespace quillbox::pdf

// SPDX-License-Identifier: MIT
#include "output/pdf/pdfbuilder.h"

#include "mail/store.h"
#include "output/formats.h"
#include "output/rtftext.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QFont>
#include <QPdfWriter>
#include <QRegularExpression>
#include <QTextCursor>
#include <QTextDocument>

namespace quillbox::pdf {

namespace {

// A document that loads nothing from outside itself: an <img src="file:///..."> or a style sheet's
// address in a mail shows nothing instead of a file of this computer.
class SealedDocument : public QTextDocument {
protected:
    QVariant loadResource(int, const QUrl&) override { return QVariant(); }
};

// The body as HTML where the mail has an HTML body that stays within the limits; false when the text is to
// be laid out instead.
bool setHtmlWithin(QTextDocument& document, const mail::MailItem& email, const QLocale& locale, const Limits& limits)
{
    if (formats::bodiesOf(email).html.isEmpty())
        return false;
    const QByteArray html = formats::htmlContent(email, locale);
    if (html.size() > limits.htmlBytes)
        return false;
    const QString text = QString::fromUtf8(html);
    if (!nestingWithin(text, limits))
        return false;
    QElapsedTimer timer;
    timer.start();
    document.setHtml(text);
    return timer.elapsed() <= limits.parseMillis;
}

void appendAttachmentList(QTextDocument& document, const mail::MailItem& email)
{
    const auto attachments = email.attachments();
    if (!attachments || attachments->empty())
        return;
    QTextCursor cursor(&document);
    cursor.movePosition(QTextCursor::End);
    cursor.insertBlock();
    cursor.insertBlock();
    cursor.insertText(QStringLiteral("Attachments:"));
    for (const auto& attachment : *attachments) {
        cursor.insertBlock();
        cursor.insertText(attachment->fileName());
    }
}

} // namespace

bool nestingWithin(const QString& html, const Limits& limits)
{
    static const QRegularExpression tag(
        QStringLiteral("<(/?)(?:(table)|ul|ol|dl|div|blockquote)\\b"), QRegularExpression::CaseInsensitiveOption);
    int tables = 0;
    int blocks = 0;
    for (auto it = tag.globalMatch(html); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        int& depth = match.capturedLength(2) > 0 ? tables : blocks;
        depth = std::max(depth + (match.capturedLength(1) == 0 ? 1 : -1), 0); // stray end tags make no room
        if (tables > limits.tableNesting || blocks > limits.blockNesting)
            return false;
    }
    return true;
}

Result<QByteArray> pdfContent(const mail::MailItem& email, const QLocale& locale, const Limits& limits)
{
    SealedDocument document;
    document.setDefaultFont(QFont(QStringLiteral("Noto Sans"), 10));
    if (!setHtmlWithin(document, email, locale, limits))
        document.setPlainText(QString::fromUtf8(formats::textContent(email, locale)));
    appendAttachmentList(document, email);

    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&buffer);
        writer.setCreator(QStringLiteral("Quillbox"));
        writer.setTitle(email.summary().subject);
        writer.setPageSize(
            QPageSize(locale.measurementSystem() == QLocale::ImperialUSSystem ? QPageSize::Letter : QPageSize::A4));
        writer.setPageMargins(QMarginsF(15, 15, 15, 15), QPageLayout::Millimeter);
        document.print(&writer);
    }
    if (buffer.data().isEmpty())
        return Error { Error::Code::WriteFailed, QString(), QStringLiteral("the PDF could not be laid out") };
    return buffer.data();
}

} // namespace quillbox::pdf

// SPDX-License-Identifier: MIT
#include "output/pdf/pdfbuilder.h"

#include "mail/store.h"
#include "output/formats.h"
#include "output/rtftext.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QFont>
#include <QHash>
#include <QImage>
#include <QImageReader>
#include <QPdfWriter>
#include <QRegularExpression>
#include <QSet>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QUrl>

namespace quillbox::pdf {

namespace {

// A document that loads nothing from outside itself: an <img src="file:///..."> or a style sheet's
// address in a mail shows nothing instead of a file of this computer.
class SealedDocument : public QTextDocument {
protected:
    QVariant loadResource(int, const QUrl&) override { return QVariant(); }
};

using Attachments = std::vector<std::unique_ptr<mail::Attachment>>;

// A Content-ID as the mail or the HTML writes it, with or without its angle brackets, as the bare id.
QString bareId(QString id)
{
    id = id.trimmed();
    if (id.startsWith(u'<') && id.endsWith(u'>'))
        id = id.mid(1, id.size() - 2);
    return id;
}

// What the inline images of one mail may still take: their bytes as the mail holds them, and their pixels.
struct ImageBudget {
    qsizetype bytes;
    qint64 pixelBytes;
};

// The image `part` holds, decoded, where it fits into `budget` (which it then uses up); a null image where
// the part cannot be read or decoded or is too large.
QImage decodedWithin(const mail::Attachment& part, ImageBudget& budget)
{
    Result<QByteArray> bytes = part.data();
    if (!bytes.ok() || bytes->size() > budget.bytes)
        return QImage();
    budget.bytes -= bytes->size();
    QBuffer buffer(&*bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    const QSize size = reader.size(); // from the image's header, where its format tells it
    if (size.isValid() && qint64(size.width()) * size.height() * 4 > budget.pixelBytes)
        return QImage();
    const QImage image = reader.read();
    if (image.sizeInBytes() > budget.pixelBytes)
        return QImage();
    budget.pixelBytes -= image.sizeInBytes();
    return image;
}

// Registers the attachments the HTML `html` shows as "cid:" images with `document`, under their addresses as
// the HTML writes them, so that the document finds them without loading anything. An address that names no
// attachment, and an attachment that cannot be decoded or goes beyond the limits, leave an empty place.
void addInlineImages(QTextDocument& document, const QString& html, const Attachments& attachments, const Limits& limits)
{
    static const QRegularExpression source(
        QStringLiteral("\\bsrc\\s*=\\s*[\"']?(cid:[^\"'\\s>]+)"), QRegularExpression::CaseInsensitiveOption);
    QHash<QString, const mail::Attachment*> byId;
    for (const auto& attachment : attachments) {
        if (const QString id = bareId(attachment->contentId()); !id.isEmpty())
            byId.insert(id, attachment.get());
    }
    ImageBudget budget { limits.imageBytes, limits.imagePixelBytes };
    QSet<QString> done;
    for (auto it = source.globalMatch(html); it.hasNext() && !byId.isEmpty();) {
        const QString address = it.next().captured(1);
        if (done.contains(address))
            continue;
        done.insert(address);
        const auto part = byId.constFind(bareId(QUrl::fromPercentEncoding(address.sliced(4).toUtf8())));
        if (part == byId.cend())
            continue;
        if (const QImage image = decodedWithin(**part, budget); !image.isNull())
            document.addResource(QTextDocument::ImageResource, QUrl(address), image);
    }
}

// Takes out the images `document` holds nothing for (an address outside the mail, a part that is missing or
// could not be decoded), which Qt would draw as a broken-file icon.
void removeMissingImages(QTextDocument& document)
{
    QList<std::pair<int, int>> missing; // position and length
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            const QTextCharFormat format = fragment.charFormat();
            if (format.isImageFormat()
                && !document.resource(QTextDocument::ImageResource, QUrl(format.toImageFormat().name())).isValid())
                missing.append({ fragment.position(), fragment.length() });
        }
    }
    QTextCursor cursor(&document);
    for (auto it = missing.crbegin(); it != missing.crend(); ++it) {
        cursor.setPosition(it->first);
        cursor.setPosition(it->first + it->second, QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
    }
}

// The body as HTML where the mail has an HTML body that stays within the limits, with its inline images;
// false when the text is to be laid out instead.
bool setHtmlWithin(QTextDocument& document, const mail::MailItem& email, const Attachments& attachments,
    const QLocale& locale, const Limits& limits)
{
    if (formats::bodiesOf(email).html.isEmpty())
        return false;
    const QByteArray html = formats::htmlContent(email, locale);
    if (html.size() > limits.htmlBytes)
        return false;
    const QString text = QString::fromUtf8(html);
    if (!nestingWithin(text, limits))
        return false;
    addInlineImages(document, text, attachments, limits);
    QElapsedTimer timer;
    timer.start();
    document.setHtml(text);
    if (timer.elapsed() > limits.parseMillis)
        return false;
    removeMissingImages(document);
    return true;
}

void appendAttachmentList(QTextDocument& document, const Attachments& attachments)
{
    if (attachments.empty())
        return;
    QTextCursor cursor(&document);
    cursor.movePosition(QTextCursor::End);
    cursor.insertBlock();
    cursor.insertBlock();
    cursor.insertText(QStringLiteral("Attachments:"));
    for (const auto& attachment : attachments) {
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
    auto attachments = email.attachments();
    const Attachments none;
    const Attachments& parts = attachments ? *attachments : none;
    if (!setHtmlWithin(document, email, parts, locale, limits))
        document.setPlainText(QString::fromUtf8(formats::textContent(email, locale)));
    appendAttachmentList(document, parts);

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

// SPDX-License-Identifier: MIT
// The PDF builder, read back with pdftotext and pdfinfo (poppler-utils): the text is real text in the
// mail's scripts, the page follows the locale, and HTML that is too large or too deep gives way to the
// plain text within the limits.
#include "output/pdf/pdfbuilder.h"

#include "support/fakemail.h"
#include "support/testfiles.h"

#include <QElapsedTimer>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QUrl>

using namespace quillbox;
using test::AttachmentData;
using test::FakeMailItem;
using test::MailData;

namespace {

// The output of a poppler tool run on the PDF `bytes`.
QString poppler(const char* tool, const QByteArray& bytes, std::initializer_list<QString> extra = {})
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("mail.pdf"));
    test::writeFile(file, bytes);
    QProcess process;
    process.start(QLatin1String(tool), QStringList { file } + QStringList(extra));
    process.waitForFinished(60000);
    EXPECT_EQ(process.exitCode(), 0) << tool << ": " << process.readAllStandardError().toStdString();
    return QString::fromUtf8(process.readAllStandardOutput());
}

MailData mailData(const QString& subject, const QString& plain, const QString& html)
{
    MailData data;
    data.summary.subject = subject;
    data.summary.senderEmailAddress = QStringLiteral("olga@example.org");
    data.senderName = QStringLiteral("Olga Smirnova");
    data.plainBody = plain;
    data.htmlBody = html;
    return data;
}

QString nestedTables(int depth)
{
    return QStringLiteral("<table><tr><td>").repeated(depth) + QStringLiteral("deep")
        + QStringLiteral("</td></tr></table>").repeated(depth);
}

} // namespace

TEST(Pdf, TextInEveryScriptAndHtmlWithinTheLimitsElseThePlainText)
{
    struct Case {
        const char* why;
        MailData mail;
        QStringList shown; // lines pdftotext must give
        QString notShown;
    };
    const QString cyrillic = QString::fromUtf8("Добрый день, Робин! Отчёт во вложении.");
    const QString greek = QString::fromUtf8("Καλημέρα κόσμε");
    const QString big = QStringLiteral("<p>filler filler filler filler</p>").repeated(21 * 1024 * 1024 / 34);
    const Case cases[] = {
        { "HTML body",
            mailData(QString::fromUtf8("Отчёт за квартал"), "plain version", "<p><b>" + cyrillic + "</b></p>"),
            { QString::fromUtf8("Отчёт за квартал"), "Olga Smirnova <olga@example.org>", cyrillic }, "plain version" },
        { "plain body only", mailData("Greek", greek, QString()), { "Greek", greek }, QString() },
        { "20 MB of HTML", mailData("Big", "plain version", "<html><body>" + big + "</body></html>"),
            { "Big", "plain version" }, "filler" },
        { "10,000 nested tables", mailData("Deep", "plain version", nestedTables(10000)), { "Deep", "plain version" },
            "deep" },
        { "nested within the limit", mailData("Nested", "plain version", nestedTables(8)), { "Nested", "deep" },
            "plain version" },
        { "a file the HTML points at is not read",
            mailData("Sealed", "plain version",
                "<img src=\"file:///etc/hostname\"><p style=\"background-image: url(file:///etc/hostname)\">shown</p>"),
            { "shown" }, QString() },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        MailData data = c.mail;
        data.attachments.push_back(
            AttachmentData { QString::fromUtf8("Отчёт.xlsx"), QString(), "x", std::nullopt, nullptr });
        QElapsedTimer timer;
        timer.start();
        const Result<QByteArray> pdf
            = pdf::pdfContent(FakeMailItem(data), QLocale(QLocale::English, QLocale::UnitedKingdom));
        EXPECT_LT(timer.elapsed(), 60000);
        ASSERT_TRUE(pdf.ok());
        ASSERT_TRUE(pdf->startsWith("%PDF-"));
        const QString text = poppler("pdftotext", *pdf, { QStringLiteral("-") });
        for (const QString& line : c.shown + QStringList { "Attachments:", QString::fromUtf8("Отчёт.xlsx") })
            EXPECT_TRUE(text.contains(line)) << line.toStdString() << " in\n" << text.left(2000).toStdString();
        if (!c.notShown.isEmpty()) {
            EXPECT_FALSE(text.contains(c.notShown)) << text.left(2000).toStdString();
        }
    }
}

TEST(Pdf, InlineImagesComeFromTheAttachmentOfTheirContentId)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("logo.png"));
    QImage square(40, 40, QImage::Format_RGB32);
    square.fill(Qt::darkCyan);
    ASSERT_TRUE(square.save(file));
    const QByteArray png = test::readFile(file);
    struct Case {
        const char* why;
        QString source; // the img element's address
        QString contentId;
        QByteArray bytes;
        int images; // 40x40 images pdfimages lists
        pdf::Limits limits = {};
    };
    const Case cases[] = {
        { "matching Content-ID", "cid:logo@x", "logo@x", png, 1 },
        { "Content-ID in angle brackets", "cid:logo@x", "<logo@x>", png, 1 },
        { "percent-encoded address", "cid:logo%40x", "logo@x", png, 1 },
        { "no part of that Content-ID", "cid:logo@x", "other@x", png, 0 },
        { "the id's case differs", "cid:LOGO@x", "logo@x", png, 0 },
        { "bytes that are no image", "cid:logo@x", "logo@x", png.left(30) + QByteArray(200, 'x'), 0 },
        { "beyond the bytes for images", "cid:logo@x", "logo@x", png, 0, { .imageBytes = png.size() - 1 } },
        { "beyond the pixels for images", "cid:logo@x", "logo@x", png, 0, { .imagePixelBytes = 40 * 40 * 4 - 1 } },
        { "a file address is not read", QUrl::fromLocalFile(file).toString(), "logo@x", png, 0 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        MailData data = mailData("Logo", "plain version", "<p>before</p><img src=\"" + c.source + "\"><p>after</p>");
        data.attachments.push_back(
            AttachmentData { "logo.png", "image/png", c.bytes, std::nullopt, nullptr, c.contentId, true });
        const Result<QByteArray> pdf
            = pdf::pdfContent(FakeMailItem(data), QLocale(QLocale::English, QLocale::UnitedKingdom), c.limits);
        ASSERT_TRUE(pdf.ok());
        const QString text = poppler("pdftotext", *pdf, { QStringLiteral("-") });
        EXPECT_TRUE(text.contains("before") && text.contains("after") && text.contains("logo.png"))
            << text.toStdString();
        const QStringList rows
            = poppler("pdfimages", *pdf, { QStringLiteral("-list") }).split(u'\n', Qt::SkipEmptyParts).mid(2);
        EXPECT_EQ(rows.size(), c.images);
        EXPECT_TRUE(rows.isEmpty() || rows[0].simplified().section(u' ', 3, 4) == "40 40")
            << rows.join(u'\n').toStdString();
    }
}

TEST(Pdf, PageSizeByTheLocale)
{
    const std::pair<QLocale, const char*> cases[] = {
        { QLocale(QLocale::English, QLocale::UnitedStates), "612 x 792 pts (letter)" },
        { QLocale(QLocale::German, QLocale::Germany), "595 x 842 pts (A4)" },
        { QLocale(QLocale::English, QLocale::UnitedKingdom), "(A4)" },
    };
    for (const auto& [locale, size] : cases) {
        SCOPED_TRACE(locale.name().toStdString());
        const Result<QByteArray> pdf = pdf::pdfContent(FakeMailItem(mailData("Page", "text", QString())), locale);
        ASSERT_TRUE(pdf.ok());
        const QString info = poppler("pdfinfo", *pdf);
        EXPECT_TRUE(info.contains(QLatin1String(size))) << info.toStdString();
    }
}

TEST(Pdf, NestingIsCountedByStartAndEndTags)
{
    // Tables up to 2 deep, other blocks up to 3.
    const std::pair<const char*, bool> cases[] = {
        { "<table><table></table></table>", true },
        { "<table><TABLE><table>", false },
        { "<div><ul><BlockQuote>", true },
        { "<div><ul><BlockQuote><ol>", false },
        { "<table><div><table><div><div>", true }, // each kind counts apart
        { "<table></table><table></table><table></table>", true },
        { "</table></table><table><table>", true }, // stray end tags make no room
        { "</table></table><table><table><table>", false },
        { "<divider><tables><tablet><olive>", true },
    };
    const pdf::Limits limits { .tableNesting = 2, .blockNesting = 3 };
    for (const auto& [html, within] : cases)
        EXPECT_EQ(pdf::nestingWithin(QString::fromLatin1(html), limits), within) << html;
}

// SPDX-License-Identifier: MIT
// The saved .txt, .rtf, .html and .eml contents. The .rtf is read back with unrtf, the built .eml with
// GMime's parser, so that what a reader sees is checked rather than the bytes we happen to write.
#include <gmime/gmime.h>

#include "core/gobjectptr.h"
#include "mail/pst/olepicture.h"
#include "output/formats.h"
#include "output/msg/compoundfile.h"
#include "output/msg/msgwriter.h"
#include "support/fakemail.h"
#include "support/msgreader.h"
#include "support/qtprinters.h"
#include "support/testenv.h"
#include "support/testfiles.h"

#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtEndian>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>

// Readable failure output for the Qt values compared below.
void PrintTo(const QByteArray& bytes, std::ostream* os)
{
    *os << '"' << bytes.toStdString() << '"';
}

using namespace quillbox;
using quillbox::mail::Recipient;
using quillbox::test::AttachmentData;
using quillbox::test::berlin;
using quillbox::test::FakeMailItem;
using quillbox::test::MailData;

namespace {

const QLocale kEnglish(QLocale::English, QLocale::UnitedStates);

MailData simpleMail()
{
    MailData mail;
    mail.summary.subject = QStringLiteral("Hello");
    mail.summary.senderEmailAddress = QStringLiteral("alice@example.org");
    mail.summary.sent = true;
    mail.summary.sentOn = berlin(2009, 8, 12, 14, 30, 5);
    mail.summary.creationTime = berlin(2009, 8, 12, 14, 29, 0);
    mail.summary.to = QStringLiteral("Bob; carol@example.org");
    mail.senderName = QStringLiteral("Alice Example");
    mail.recipients = {
        { QStringLiteral("Bob"), QStringLiteral("bob@example.org"), Recipient::Type::To },
        { QString(), QStringLiteral("carol@example.org"), Recipient::Type::To },
    };
    mail.plainBody = QStringLiteral("Line 1\r\nLine 2\rLine 3\n");
    return mail;
}

QString text(const MailData& mail)
{
    return QString::fromUtf8(formats::textContent(FakeMailItem(mail), kEnglish));
}

QString headerOf(const MailData& mail)
{
    return text(mail).section(QStringLiteral("\n\n"), 0, 0);
}

// ---- .txt -------------------------------------------------------------------------------------------

TEST(TextContent, SimpleMailExactBytes)
{
    EXPECT_EQ(formats::textContent(FakeMailItem(simpleMail()), kEnglish),
        QByteArray("From:\tAlice Example <alice@example.org>\n"
                   "Sent:\tWednesday, 12 August 2009 14:30:05\n"
                   "To:\tBob <bob@example.org>; carol@example.org\n"
                   "Subject:\tHello\n"
                   "\n"
                   "Line 1\nLine 2\nLine 3\n"));
}

TEST(TextContent, HeaderLines)
{
    const QString from = QStringLiteral("From:\tAlice Example <alice@example.org>\n");
    const QString sent = QStringLiteral("Sent:\tWednesday, 12 August 2009 14:30:05\n");
    const QString to = QStringLiteral("To:\tBob <bob@example.org>; carol@example.org\n");
    const QString subject = QStringLiteral("Subject:\tHello");
    const std::tuple<const char*, std::function<void(MailData&)>, QString> cases[] = {
        { "Cc recipients give a Cc line after To",
            [](MailData& m) {
                m.recipients
                    += Recipient { QStringLiteral("Dora"), QStringLiteral("dora@example.org"), Recipient::Type::Cc };
            },
            from + sent + to + "Cc:\tDora <dora@example.org>\n" + subject },
        { "the display-Cc text stands in when no Cc recipient is listed",
            [](MailData& m) { m.displayCc = QStringLiteral("Dora"); }, from + sent + to + "Cc:\tDora\n" + subject },
        { "Bcc recipients get a line of their own; the display-To text stands in for missing To recipients",
            [](MailData& m) {
                m.recipients = { { QStringLiteral("Eve"), QStringLiteral("eve@example.org"), Recipient::Type::Bcc } };
            },
            from + sent + "To:\tBob; carol@example.org\nBcc:\tEve <eve@example.org>\n" + subject },
        { "Reply-To after the recipients, the attachments' names after the subject",
            [](MailData& m) {
                m.details.replyTo = { { QStringLiteral("Team"), QStringLiteral("team@example.org") },
                    { QString(), QStringLiteral("x@example.org") } };
                m.attachments = { { QStringLiteral("a.pdf"), {}, {}, {}, {} },
                    { QString(), QStringLiteral("image/png"), {}, {}, {} },
                    { QString(), {}, {}, {}, std::make_shared<MailData>(simpleMail()) } };
            },
            from + sent + to + "Reply-To:\tTeam <team@example.org>; x@example.org\n" + subject
                + "\nAttachments:\ta.pdf; image.png; Hello" },
        { "a sender whose name is its address is shown once; an unsent mail has an empty Sent value",
            [](MailData& m) {
                m.senderName = QStringLiteral("ALICE@example.org");
                m.summary.sent = false;
            },
            "From:\talice@example.org\nSent:\t\n" + to + subject },
        { "the store's no-date time is no sent time; a sender without address shows its name",
            [](MailData& m) {
                m.summary.sentOn = mail::noDate();
                m.summary.senderEmailAddress.clear();
            },
            "From:\tAlice Example\nSent:\t\n" + to + subject },
        { "line breaks in a value stay out of the header block",
            [](MailData& m) { m.summary.subject = QStringLiteral("Two\r\n lines\nand\rthree"); },
            from + sent + to + "Subject:\tTwo lines and three" },
        { "a line break at the end or start of a recipient's name takes the blanks beside it, the separator's too",
            [](MailData& m) {
                m.recipients = { { QStringLiteral("Ann\r\n"), {} }, { QStringLiteral(" \n Bo \t"), {} },
                    { QStringLiteral("\nCy"), {} } };
            },
            from + sent + "To:\tAnn ; Bo \t; Cy\n" + subject },
        { "one Cc recipient without name or address makes no Cc line, two make one",
            [](MailData& m) {
                m.recipients += Recipient { {}, {}, Recipient::Type::Cc };
                m.recipients += Recipient { {}, {}, Recipient::Type::Bcc };
                m.recipients += Recipient { {}, {}, Recipient::Type::Bcc };
            },
            from + sent + to + "Bcc:\t; \n" + subject },
    };
    for (const auto& [why, change, expected] : cases) {
        SCOPED_TRACE(why);
        MailData mail = simpleMail();
        change(mail);
        EXPECT_EQ(headerOf(mail), expected);
    }
}

TEST(TextContent, SentTimeUsesTheLocaleNamesInAFixedPattern)
{
    MailData mail = simpleMail();
    mail.summary.sentOn = berlin(2021, 3, 5, 9, 7, 3);
    EXPECT_TRUE(QString::fromUtf8(formats::textContent(FakeMailItem(mail), QLocale(QLocale::German, QLocale::Germany)))
                    .contains(QStringLiteral("\nSent:\tFreitag, 5 März 2021 09:07:03\n")));
    EXPECT_TRUE(text(mail).contains(QStringLiteral("\nSent:\tFriday, 5 March 2021 09:07:03\n")));
}

TEST(TextContent, HtmlOnlyMailIsReducedToText)
{
    MailData mail = simpleMail();
    mail.plainBody.clear();
    mail.htmlBody = QStringLiteral("<html><head><title>Ignored</title></head><body><p>Gr&uuml;&szlig;e,<br>Bob</p>");
    // The rules of the reduction are HtmlToText's; this checks that the .txt uses it.
    EXPECT_EQ(text(mail).section(QStringLiteral("\n\n"), 1), QString::fromUtf8("Grüße,\nBob\n"));
}

TEST(HtmlToText, Reductions)
{
    struct Case {
        const char *why, *html, *expected;
    };
    const Case cases[] = {
        { "named references of markup and Latin-1, both ends of the table",
            "&lt;a&gt; &amp; &quot;q&quot; &nbsp;&Auml;&yuml;", "<a> & \"q\"  Äÿ\n" },
        { "decimal and hexadecimal references, windows-1252 meaning of 128-159",
            "&#233;&#xE9;&#XE9;&#150;&#146;&#x20AC", "ééé–’€\n" },
        { "beyond U+FFFF, as one reference or as two halves", "&#x1F600;&#55357;&#56832;", "😀😀\n" },
        { "NUL, a lone half and numbers beyond Unicode are replaced", "a&#0;b&#xD800;c&#99999999999;",
            "a\uFFFDb\uFFFDc\uFFFD\n" },
        { "an ampersand that starts no known reference is text", "&bogus; & AT&T &#; &", "&bogus; & AT&T &#; &\n" },
        { "a < that starts no tag is text", "a < b <3 c <ü", "a < b <3 c <ü\n" },
        { "white space collapses, at line starts too", "  one \n\t two  <p>  three  </p>", "one two\n\nthree\n" },
        { "br breaks the line, empty lines by several br", "a<br>b<BR/><br />c", "a\nb\n\nc\n" },
        { "paragraphs and headings leave an empty line, once", "<h1>T</h1><p>x</p><p></p><P>y</P>", "T\n\nx\n\ny\n" },
        { "divs, list items and table rows start lines; cells are separated",
            "<div><ul><li>x</li><li>y</li></ul></div><table><tr><td>a</td><td>b</td></tr><tr><th>c</th></tr></table>",
            "x\ny\na b\nc\n" },
        { "script, style, head and title are dropped, with markup-like content",
            "<head><title>T</title><style>p{}</style></head><body>Hi<script>if (a<b) x('</p>');</script> "
            "there<STYLE>.x{}</STYLE></body>",
            "Hi there\n" },
        { "a head that is never closed ends at the body", "<html><head><meta charset=x><body>y", "y\n" },
        { "an unclosed script drops the rest", "a<script>b", "a\n" },
        { "comments, doctype and processing instructions are dropped",
            "<!DOCTYPE html><?xml version=\"1.0\"?>a<!-- <p>hidden</p> -->b<!-- open", "ab\n" },
        { "a link keeps its target", "<p>See <a href=\"https://example.org/a?b=1&amp;c=2\">the report</a>.</p>",
            "See the report <https://example.org/a?b=1&c=2>.\n" },
        { "a link that says its target, a mailto of its text, a relative and an unclosed link",
            "<a href='https://x.org/'>https://x.org/</a> <a href=mailto:a@b.org>a@b.org</a> <a href=\"#top\">up</a> "
            "<a href=\"http://y.org\">y",
            "https://x.org/ a@b.org up y <http://y.org>\n" },
        { "a quoted > does not end the tag", "<a title=\"x>y\" href='>'>link</a> <o:p>z</o:p>", "link z\n" },
        { "pre keeps its white space and line ends", "<pre>a  b\r\n  c</pre>d  e", "a  b\n  c\nd e\n" },
        { "nbsp keeps trailing blanks from piling up at line ends", "<p>&nbsp;</p><p>x&nbsp;</p>", "x\n" },
        { "nothing visible gives nothing", "<html><body> <br> </body></html>", "" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ(formats::htmlToText(QString::fromUtf8(c.html)), QString::fromUtf8(c.expected));
    }
}

// ---- .rtf -------------------------------------------------------------------------------------------

// The text unrtf reads from `rtf`. unrtf's text output shows every \u character as "?", its HTML output
// keeps them as character references (the halves of a character beyond U+FFFF as two of them), so the
// HTML is read and reduced to text.
// What the reader `program` writes of `bytes` saved as the file `fileName`, given after `arguments`.
QByteArray readerOutput(const char* program, QStringList arguments, const char* fileName, const QByteArray& bytes)
{
    const QString path = QStandardPaths::findExecutable(QLatin1String(program));
    if (path.isEmpty()) {
        ADD_FAILURE() << program << " is not installed (scripts/setup.sh installs it)";
        return {};
    }
    QTemporaryDir dir;
    arguments << dir.filePath(QLatin1String(fileName));
    test::writeFile(arguments.back(), bytes);
    QProcess process;
    process.start(path, arguments);
    if (!process.waitForFinished(30000) || process.exitCode() != 0) {
        ADD_FAILURE() << program << " failed: " << process.readAllStandardError().toStdString();
        return {};
    }
    return process.readAllStandardOutput();
}

QString unrtfText(const QByteArray& rtf)
{
    return formats::htmlToText(QString::fromUtf8(readerOutput("unrtf", { QStringLiteral("--html") }, "mail.rtf", rtf)));
}

// The text of the body of an HTML file as libxml2 reads it: in the encoding its byte-order mark or <meta> declares.
QString xmllintBodyText(const QByteArray& html)
{
    return QString::fromUtf8(readerOutput("xmllint",
        { QStringLiteral("--html"), QStringLiteral("--xpath"), QStringLiteral("string(//body)") }, "m.html", html));
}

TEST(RtfContent, ReadsBackWithUnrtf)
{
    MailData mail = simpleMail();
    mail.summary.subject = QStringLiteral("Grüße {aus} \\Köln\\ — 日本語 😀");
    mail.plainBody = QStringLiteral("Straße\tTab\r\nZeile zwei: 中文 🎉 {}\n\nEnde");
    const QByteArray rtf = formats::rtfContent(FakeMailItem(mail), kEnglish);

    EXPECT_TRUE(rtf.startsWith("{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0 Calibri;}}"));
    EXPECT_TRUE(std::all_of(rtf.begin(), rtf.end(), [](char c) { return uchar(c) < 0x80; }))
        << "every character outside ASCII is escaped";

    const QString read = unrtfText(rtf);
    EXPECT_TRUE(read.contains(QStringLiteral("Grüße {aus} \\Köln\\ — 日本語 😀"))) << read.toStdString();
    EXPECT_TRUE(read.contains(QStringLiteral("Bob <bob@example.org>; carol@example.org"))) << read.toStdString();
    EXPECT_TRUE(read.contains(QStringLiteral("Straße"))) << read.toStdString();
    EXPECT_TRUE(read.contains(QStringLiteral("\nZeile zwei: 中文 🎉 {}\n"))) << read.toStdString();
    EXPECT_TRUE(read.endsWith(QStringLiteral("\nEnde\n"))) << read.toStdString();
    // One \par per line: the empty line survives as a line break of its own.
    EXPECT_EQ(rtf.count("\\par\n"), text(mail).count(u'\n') + 1);
}

TEST(RtfContent, StoredRtfBodyGetsTheHeaderLinesInFrontOfItsText)
{
    MailData mail = simpleMail();
    const QByteArray head = "{\\rtf1\\ansi\\ansicpg1252{\\fonttbl{\\f0 Arial;}}{\\*\\generator x;}";
    const QByteArray rest("\r\nStored \\'e4 body\\par}\r\n\0tail", 30);
    mail.rtfBody = head + rest;
    const QByteArray rtf = formats::rtfContent(FakeMailItem(mail), kEnglish);
    EXPECT_TRUE(rtf.startsWith(head) && rtf.endsWith(rest)) << "the stored body stays byte for byte";
    const QString read = unrtfText(rtf);
    const qsizetype to = read.indexOf(QStringLiteral("Bob <bob@example.org>; carol@example.org"));
    EXPECT_GE(to, 0) << read.toStdString();
    EXPECT_GT(read.indexOf(QStringLiteral("Stored ä body")), to) << read.toStdString();
}

// ---- .html ------------------------------------------------------------------------------------------

// The .html content with its header table (from "<table" to "<hr>\n") replaced by "[T]".
QString htmlWithMarker(const MailData& mail)
{
    static const QRegularExpression table(
        QStringLiteral("\\n<table.*</table>\\n<hr>\\n"), QRegularExpression::DotMatchesEverythingOption);
    QString html = QString::fromUtf8(formats::htmlContent(FakeMailItem(mail), kEnglish));
    EXPECT_EQ(html.count(table), 1) << html.toStdString();
    return html.replace(table, QStringLiteral("[T]"));
}

TEST(HtmlContent, CharsetDeclarationAndHeaderPlace)
{
    struct Case {
        const char *why, *body, *expected;
    };
    const Case cases[] = {
        { "a declared ISO-8859-1 becomes utf-8, the table follows <body ...>",
            "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=iso-8859-1\"></head>"
            "<body bgcolor=\"white\"><p>Grüße</p></body></html>",
            "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\"></head>"
            "<body bgcolor=\"white\">[T]<p>Grüße</p></body></html>" },
        { "<meta charset> is rewritten too", "<HTML><HEAD><META CHARSET='windows-1252'></HEAD><BODY>x</BODY></HTML>",
            "<HTML><HEAD><META CHARSET='utf-8'></HEAD><BODY>[T]x</BODY></HTML>" },
        { "no declaration: one is put into the head", "<html><head><title>t</title></head><body>x</body></html>",
            "<html><head><meta charset=\"utf-8\"><title>t</title></head><body>[T]x</body></html>" },
        { "no head: one is made; no body tag: the table follows the head",
            "<!DOCTYPE html><html lang=\"de\"><p>x</p></html>",
            "<!DOCTYPE html><html lang=\"de\"><head><meta charset=\"utf-8\"></head>[T]<p>x</p></html>" },
        { "a fragment gets the declaration and the table in front, after a doctype", "<!doctype html>\n<p>x</p>",
            "<!doctype html>\n<meta charset=\"utf-8\">[T]<p>x</p>" },
        { "an empty charset declares nothing", "<head><meta charset=\"\"></head><body>x</body>",
            "<head><meta charset=\"utf-8\"><meta charset=\"\"></head><body>[T]x</body>" },
        { "<header> is no head", "<header>h</header><p>x</p>",
            "<meta charset=\"utf-8\">[T]<header>h</header><p>x</p>" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        MailData mail = simpleMail();
        mail.htmlBody = QString::fromUtf8(c.body);
        EXPECT_EQ(htmlWithMarker(mail), QString::fromUtf8(c.expected));
    }
}

TEST(HtmlContent, HeaderValuesAreEscaped)
{
    MailData mail = simpleMail();
    mail.summary.subject = QStringLiteral("<script>alert(\"x\")</script> & Grüße");
    mail.htmlBody = QStringLiteral("<body><p>Body</p></body>");
    const QString html = QString::fromUtf8(formats::htmlContent(FakeMailItem(mail), kEnglish));
    EXPECT_FALSE(html.contains(QStringLiteral("<script"))) << html.toStdString();
    EXPECT_TRUE(html.contains(QStringLiteral("&lt;script&gt;alert(&quot;x&quot;)&lt;/script&gt; &amp; Grüße")));
    EXPECT_TRUE(html.contains(QStringLiteral("Alice Example &lt;alice@example.org&gt;")));
    // What a reader shows: the header lines (their values are TextContent's), then the body.
    const QString shown = formats::htmlToText(html);
    EXPECT_TRUE(shown.startsWith(QStringLiteral("From: Alice Example <alice@example.org>\nSent: ")));
    EXPECT_TRUE(shown.endsWith(QStringLiteral("\nSubject: <script>alert(\"x\")</script> & Grüße\n\nBody\n")));
}

TEST(HtmlContent, PlainBodyGoesIntoPre)
{
    MailData mail = simpleMail();
    mail.summary.subject = QStringLiteral("a <b> title");
    mail.plainBody = QStringLiteral("if a < b && c > d:\r\n    print(\"ü\")\r\n");
    const QByteArray bytes = formats::htmlContent(FakeMailItem(mail), kEnglish);
    const QString html = QString::fromUtf8(bytes);
    EXPECT_TRUE(html.startsWith(QStringLiteral("<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n"
                                               "<title>a &lt;b&gt; title</title>")));
    EXPECT_TRUE(
        html.contains(QStringLiteral("<hr>\n<pre>if a &lt; b &amp;&amp; c &gt; d:\n    print(&quot;ü&quot;)\n</pre>")));
    EXPECT_FALSE(bytes.contains('\r'));
}

// The per-mail directory's message.html holds the HTML body as it was decoded; libxml2 reads it in the
// encoding the file declares and gets the text back.
TEST(DirectoryHtml, MessageIsTheHtmlAsDecodedWithATrueCharset)
{
    struct Case {
        const char *why, *body, *expected;
    };
    const Case cases[] = {
        { "a declared ISO-8859-1 becomes utf-8, nothing else changes",
            "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=iso-8859-1\"></head>"
            "<body bgcolor=\"white\"><p>Grüße € “x”</p></body></html>",
            "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\"></head>"
            "<body bgcolor=\"white\"><p>Grüße € “x”</p></body></html>" },
        { "no declaration: a byte-order mark says UTF-8, the markup stays",
            "<html><head><title>t</title></head><body><p>Grüße € “x”</p></body></html>",
            "\xEF\xBB\xBF<html><head><title>t</title></head><body><p>Grüße € “x”</p></body></html>" },
        { "a fragment, its cid: link to a saved image pointing at the file; other cid: links stay",
            "<p>Grüße € “x”<img src=\"cid:chart@x\"><img src=\"cid:gone@x\"></p>",
            "\xEF\xBB\xBF<p>Grüße € “x”<img src=\"attachments/chart%201.png\"><img src=\"cid:gone@x\"></p>" },
    };
    const QHash<QString, QString> targets { { QStringLiteral("chart@x"), QStringLiteral("attachments/chart 1.png") } };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        MailData mail = simpleMail();
        mail.htmlBody = QString::fromUtf8(c.body);
        const formats::DirectoryHtml html = formats::directoryHtml(FakeMailItem(mail), kEnglish, targets);
        EXPECT_EQ(html.message, QByteArray(c.expected));
        EXPECT_TRUE(xmllintBodyText(html.message).contains(QStringLiteral("Grüße € “x”")));
        // index.html: the header lines, then a link to the message.
        const QString index = QString::fromUtf8(html.index);
        EXPECT_TRUE(index.contains(QStringLiteral("<a href=\"message.html\">"))) << index.toStdString();
        EXPECT_TRUE(xmllintBodyText(html.index).contains(QStringLiteral("Subject:Hello"))) << index.toStdString();
    }
    // A mail without HTML keeps the one document of its own, header lines and all, and has no index.
    const MailData plain = simpleMail();
    const formats::DirectoryHtml html = formats::directoryHtml(FakeMailItem(plain), kEnglish);
    EXPECT_EQ(html.message, formats::htmlContent(FakeMailItem(plain), kEnglish));
    EXPECT_TRUE(html.index.isEmpty());
}

// ---- .eml -------------------------------------------------------------------------------------------

GPtr<GMimeMessage> parse(const QByteArray& bytes)
{
    g_mime_init();
    GPtr<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(bytes.constData(), size_t(bytes.size())));
    GPtr<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
    return GPtr<GMimeMessage>(g_mime_parser_construct_message(parser.get(), nullptr));
}

QByteArray decoded(GMimeObject* object)
{
    GMimeDataWrapper* content = g_mime_part_get_content(GMIME_PART(object));
    GPtr<GMimeStream> stream(g_mime_stream_mem_new());
    g_mime_data_wrapper_write_to_stream(content, stream.get());
    GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(stream.get()));
    return QByteArray(reinterpret_cast<const char*>(bytes->data), qsizetype(bytes->len));
}

QString decodedText(GMimeObject* object)
{
    return QString::fromUtf8(decoded(object)).replace(QLatin1String("\r\n"), QLatin1String("\n"));
}

QString mimeType(GMimeObject* object)
{
    char* type = g_mime_content_type_get_mime_type(g_mime_object_get_content_type(object));
    const QString out = QString::fromUtf8(type);
    g_free(type);
    return out;
}

QStringList addresses(GMimeMessage* message, GMimeAddressType type)
{
    QStringList out;
    InternetAddressList* list = g_mime_message_get_addresses(message, type);
    for (int i = 0; list && i < internet_address_list_length(list); ++i) {
        InternetAddress* address = internet_address_list_get_address(list, i);
        out += QString::fromUtf8(internet_address_get_name(address)) + u'|'
            + QString::fromUtf8(internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(address)));
    }
    return out;
}

// The built .eml of `mail`; empty, with a test failure, when it cannot be built.
QByteArray emlOf(const MailData& mail)
{
    const Result<QByteArray> eml = formats::emlContent(FakeMailItem(mail));
    EXPECT_TRUE(eml.ok()) << (eml.ok() ? "" : eml.error().describe().toStdString());
    return eml.ok() ? *eml : QByteArray();
}

// The message's Date in seconds since the epoch; -1 without one.
qint64 dateOf(GMimeMessage* message)
{
    GDateTime* date = g_mime_message_get_date(message);
    return date ? g_date_time_to_unix(date) : -1;
}

QByteArray allByteValues()
{
    QByteArray bytes;
    for (int round = 0; round < 3; ++round)
        for (int value = 0; value < 256; ++value)
            bytes += char(value);
    return bytes;
}

MailData richMail()
{
    MailData mail = simpleMail();
    mail.summary.subject
        = QStringLiteral("Grüße aus Köln — 日本語 😀, and a subject long enough to be folded over lines");
    mail.senderName = QStringLiteral("Jörg Müller");
    mail.recipients = {
        { QStringLiteral("Zoë Ångström"), QStringLiteral("zoe@example.org"), Recipient::Type::To },
        { QString(), QStringLiteral("carol@example.org"), Recipient::Type::To },
        { QStringLiteral("Dora, D."), QStringLiteral("dora@example.org"), Recipient::Type::Cc },
        { QStringLiteral("Eve"), QStringLiteral("eve@example.org"), Recipient::Type::Bcc },
    };
    mail.plainBody = QStringLiteral("Hallo Zoë,\r\n\r\n=3D not an escape. 日本語 😀\r\n.\r\nFrom here on\r\n");
    mail.htmlBody = QStringLiteral("<html><head><meta charset=\"iso-8859-1\"></head><body><p>Hallo Zoë, 😀</p>"
                                   "</body></html>");
    MailData inner;
    inner.summary.subject = QStringLiteral("Innen drin");
    inner.summary.senderEmailAddress = QStringLiteral("inner@example.org");
    inner.plainBody = QStringLiteral("Inner body ü\n");
    inner.attachments.push_back({ QStringLiteral("inner.txt"), QStringLiteral("text/plain"), "inner\n", {}, {} });
    mail.attachments = {
        { QStringLiteral("Übersicht 日本.bin"), QStringLiteral("application/x-test"), allByteValues(), {}, {} },
        { QStringLiteral("notes.txt"), QStringLiteral("text/plain"), QByteArray("a\nb\r\nc\r"), {}, {} },
        { QStringLiteral("odd.dat"), QStringLiteral("not a type"), QByteArray("x"), {}, {} },
        { QStringLiteral("Innen.msg"), QStringLiteral("application/vnd.ms-outlook"), {}, {},
            std::make_shared<MailData>(inner) },
    };
    return mail;
}

TEST(EmlContent, RawMessageIsWrittenByteForByte)
{
    MailData mail = simpleMail();
    mail.rawMessage
        = QByteArray("From: a@example.org\nSubject: =?iso-8859-1?q?Gr=FC=DFe?=\n\nBody \xe4\r\nmixed\n", 68);
    EXPECT_EQ(emlOf(mail), mail.rawMessage);
}

TEST(EmlContent, BuiltMessageReadsBackWithGMime)
{
    const MailData mail = richMail();
    const QByteArray eml = emlOf(mail);

    EXPECT_TRUE(std::all_of(eml.begin(), eml.end(), [](char c) { return uchar(c) < 0x80; }))
        << "headers are encoded, bodies quoted-printable or base64";
    EXPECT_EQ(eml.count("\r\n"), eml.count('\n')) << "every line ends in CR LF";
    EXPECT_EQ(eml.count("MIME-Version: 1.0\r\n"), 2) << "the message's and the attached mail's";

    const GPtr<GMimeMessage> message = parse(eml);
    ASSERT_TRUE(message);
    EXPECT_EQ(QString::fromUtf8(g_mime_message_get_subject(message.get())), mail.summary.subject);
    EXPECT_EQ(addresses(message.get(), GMIME_ADDRESS_TYPE_FROM),
        QStringList { QStringLiteral("Jörg Müller|alice@example.org") });
    EXPECT_EQ(addresses(message.get(), GMIME_ADDRESS_TYPE_TO),
        (QStringList { QStringLiteral("Zoë Ångström|zoe@example.org"), QStringLiteral("|carol@example.org") }));
    EXPECT_EQ(
        addresses(message.get(), GMIME_ADDRESS_TYPE_CC), QStringList { QStringLiteral("Dora, D.|dora@example.org") });
    EXPECT_EQ(addresses(message.get(), GMIME_ADDRESS_TYPE_BCC), QStringList { QStringLiteral("Eve|eve@example.org") });
    EXPECT_EQ(dateOf(message.get()), mail.summary.sentOn.toSecsSinceEpoch());
    EXPECT_EQ(g_date_time_get_utc_offset(g_mime_message_get_date(message.get())) / G_TIME_SPAN_SECOND, 2 * 3600);

    GMimeObject* top = g_mime_message_get_mime_part(message.get());
    ASSERT_TRUE(GMIME_IS_MULTIPART(top));
    EXPECT_EQ(mimeType(top), QStringLiteral("multipart/mixed"));
    GMimeMultipart* mixed = GMIME_MULTIPART(top);
    ASSERT_EQ(g_mime_multipart_get_count(mixed), 1 + int(mail.attachments.size()));

    GMimeObject* alternative = g_mime_multipart_get_part(mixed, 0);
    EXPECT_EQ(mimeType(alternative), QStringLiteral("multipart/alternative"));
    ASSERT_TRUE(GMIME_IS_MULTIPART(alternative));
    ASSERT_EQ(g_mime_multipart_get_count(GMIME_MULTIPART(alternative)), 2);
    GMimeObject* plain = g_mime_multipart_get_part(GMIME_MULTIPART(alternative), 0);
    GMimeObject* html = g_mime_multipart_get_part(GMIME_MULTIPART(alternative), 1);
    EXPECT_EQ(mimeType(plain), QStringLiteral("text/plain"));
    EXPECT_STREQ(g_mime_object_get_content_type_parameter(plain, "charset"), "utf-8");
    EXPECT_EQ(decodedText(plain), QString(mail.plainBody).replace(QLatin1String("\r\n"), QLatin1String("\n")));
    EXPECT_EQ(mimeType(html), QStringLiteral("text/html"));
    EXPECT_EQ(decodedText(html), QString(mail.htmlBody).replace(QStringLiteral("iso-8859-1"), QStringLiteral("utf-8")));

    // Every byte value with a non-ASCII name, a text keeping its own line ends, a type that is no MIME type.
    const char* const leafTypes[] = { "application/x-test", "text/plain", "application/octet-stream" };
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(leafTypes[i]);
        GMimeObject* part = g_mime_multipart_get_part(mixed, i + 1);
        ASSERT_TRUE(GMIME_IS_PART(part));
        EXPECT_EQ(mimeType(part), QString::fromLatin1(leafTypes[i]));
        EXPECT_EQ(g_mime_part_get_content_encoding(GMIME_PART(part)), GMIME_CONTENT_ENCODING_BASE64);
        EXPECT_EQ(QString::fromUtf8(g_mime_part_get_filename(GMIME_PART(part))), mail.attachments[size_t(i)].fileName);
        EXPECT_EQ(decoded(part), mail.attachments[size_t(i)].data);
    }

    GMimeObject* attached = g_mime_multipart_get_part(mixed, 4);
    ASSERT_TRUE(GMIME_IS_MESSAGE_PART(attached));
    EXPECT_EQ(mimeType(attached), QStringLiteral("message/rfc822"));
    EXPECT_STREQ(g_mime_object_get_content_disposition_parameter(attached, "filename"), "Innen.msg");
    GMimeMessage* inner = g_mime_message_part_get_message(GMIME_MESSAGE_PART(attached));
    ASSERT_NE(inner, nullptr);
    EXPECT_EQ(QString::fromUtf8(g_mime_message_get_subject(inner)), QStringLiteral("Innen drin"));
    GMimeObject* innerTop = g_mime_message_get_mime_part(inner);
    ASSERT_TRUE(GMIME_IS_MULTIPART(innerTop));
    ASSERT_EQ(g_mime_multipart_get_count(GMIME_MULTIPART(innerTop)), 2);
    EXPECT_EQ(decodedText(g_mime_multipart_get_part(GMIME_MULTIPART(innerTop), 0)), QStringLiteral("Inner body ü\n"));
    EXPECT_EQ(decoded(g_mime_multipart_get_part(GMIME_MULTIPART(innerTop), 1)), QByteArray("inner\n"));
}

TEST(EmlContent, TransportHeadersAreKeptExceptTheBodyDescription)
{
    MailData mail = simpleMail();
    mail.summary.subject = QStringLiteral("Property subject");
    mail.transportHeaders
        = QStringLiteral("Microsoft Mail Internet Headers Version 2.0\r\n"
                         "Received: from mx.example.org\r\n\tby mail.example.com; Wed, 12 Aug 2009 12:30:07 +0000\r\n"
                         "From: \"Original Sender\" <orig@example.com>\r\n"
                         "Subject: =?utf-8?q?Gr=C3=BC=C3=9Fe?= original\r\n"
                         "Message-ID: <abc@example.com>\r\n"
                         "MIME-Version: 1.0\r\n"
                         "Content-Type: text/plain;\r\n charset=\"iso-8859-1\"\r\n"
                         "Content-Transfer-Encoding: quoted-printable\r\n"
                         "X-Custom: kept\r\n"
                         "\r\n");
    const QByteArray eml = emlOf(mail);
    const QByteArray headers = eml.left(eml.indexOf("\r\n\r\n") + 2);

    EXPECT_TRUE(
        headers.startsWith("Received: from mx.example.org\r\n\tby mail.example.com; Wed, 12 Aug 2009 "
                           "12:30:07 +0000\r\nFrom: \"Original Sender\" <orig@example.com>\r\n"
                           "Subject: =?utf-8?q?Gr=C3=BC=C3=9Fe?= original\r\nMessage-ID: <abc@example.com>\r\n"))
        << headers.toStdString();
    EXPECT_TRUE(headers.contains("X-Custom: kept\r\n"));
    EXPECT_FALSE(headers.contains("Microsoft Mail"));
    EXPECT_FALSE(eml.contains("iso-8859-1") || eml.contains("quoted-printable"));
    for (const char* field : { "MIME-Version:", "Content-Type:", "Subject:", "From:" })
        EXPECT_EQ(headers.count(field), 1) << field;

    const GPtr<GMimeMessage> message = parse(eml);
    ASSERT_TRUE(message);
    EXPECT_EQ(QString::fromUtf8(g_mime_message_get_subject(message.get())), QStringLiteral("Grüße original"));
    EXPECT_STREQ(g_mime_message_get_message_id(message.get()), "abc@example.com");
    // What the header block lacks comes from the properties.
    EXPECT_EQ(addresses(message.get(), GMIME_ADDRESS_TYPE_TO),
        (QStringList { QStringLiteral("Bob|bob@example.org"), QStringLiteral("|carol@example.org") }));
    EXPECT_EQ(dateOf(message.get()), mail.summary.sentOn.toSecsSinceEpoch());
    GMimeObject* body = g_mime_message_get_mime_part(message.get());
    EXPECT_EQ(mimeType(body), QStringLiteral("text/plain"));
    EXPECT_EQ(decodedText(body), QStringLiteral("Line 1\nLine 2\nLine 3\n"));
}

TEST(EmlContent, UnsentMailIsDatedByItsCreationTime)
{
    MailData mail = simpleMail();
    mail.summary.sent = false;
    const GPtr<GMimeMessage> message = parse(emlOf(mail));
    ASSERT_TRUE(message);
    EXPECT_EQ(dateOf(message.get()), mail.summary.creationTime.toSecsSinceEpoch());
    EXPECT_EQ(g_mime_message_get_message_id(message.get()), nullptr) << "no identifier is made up";
}

TEST(EmlContent, UnreadableAttachmentsAreReported)
{
    const Error broken { Error::Code::Unreadable, QStringLiteral("/mail/a.pst"), QStringLiteral("bad block") };
    MailData list = simpleMail();
    list.attachmentsError = broken;
    MailData one = simpleMail();
    one.attachments.push_back({ QStringLiteral("a.bin"), QStringLiteral("application/octet-stream"), {}, broken, {} });
    MailData nested = simpleMail();
    nested.attachments.push_back({ QStringLiteral("inner"), {}, {}, {}, std::make_shared<MailData>(one) });
    for (const MailData& mail : { list, one, nested }) {
        const Result<QByteArray> eml = formats::emlContent(FakeMailItem(mail));
        ASSERT_FALSE(eml.ok());
        EXPECT_EQ(eml.error().code, Error::Code::Unreadable);
        EXPECT_EQ(eml.error().detail, QStringLiteral("bad block"));
    }
}

TEST(EmlContent, AttachedMailsNestOnlySoDeep)
{
    std::shared_ptr<MailData> innermost = std::make_shared<MailData>(simpleMail());
    for (int level = 0; level < 40; ++level) {
        auto outer = std::make_shared<MailData>(simpleMail());
        outer->attachments.push_back({ QStringLiteral("level.eml"), QStringLiteral("message/rfc822"),
            QByteArray("Subject: x\n\nx\n"), {}, innermost });
        innermost = outer;
    }
    int depth = 0;
    GPtr<GMimeMessage> top = parse(emlOf(*innermost));
    for (GMimeMessage* message = top.get(); message;) {
        GMimeObject* body = g_mime_message_get_mime_part(message);
        if (!GMIME_IS_MULTIPART(body))
            break;
        GMimeObject* attachment = g_mime_multipart_get_part(GMIME_MULTIPART(body), 1);
        message = GMIME_IS_MESSAGE_PART(attachment) ? g_mime_message_part_get_message(GMIME_MESSAGE_PART(attachment))
                                                    : nullptr;
        depth += message ? 1 : 0;
    }
    EXPECT_GE(depth, 32);
    EXPECT_LT(depth, 40);
}

// ---- Mails stored only as RTF -------------------------------------------------------------------------

// The text of the first leaf of `object` (the body part of a built message).
QString firstLeafText(GMimeObject* object)
{
    while (GMIME_IS_MULTIPART(object))
        object = g_mime_multipart_get_part(GMIME_MULTIPART(object), 0);
    return GMIME_IS_PART(object) ? decodedText(object) : QString();
}

// What a reader of each output shows of the mail's body: .txt, the directory's message.html, .rtf (unrtf),
// .eml (GMime) and .msg (msgreader: its plain or HTML body).
QStringList bodiesReadBack(const mail::MailItem& item)
{
    QTemporaryDir dir;
    const QString msgPath = dir.filePath(QStringLiteral("mail.msg"));
    EXPECT_TRUE(msg::writeMsgFile(item, msgPath).ok());
    const std::optional<QJsonObject> msg = test::readWithMsgReader(msgPath);
    const Result<QByteArray> eml = formats::emlContent(item);
    const GPtr<GMimeMessage> parsed = parse(eml.ok() ? *eml : QByteArray());
    return { QString::fromUtf8(formats::textContent(item, kEnglish)).section(QStringLiteral("\n\n"), 1),
        formats::htmlToText(QString::fromUtf8(formats::htmlContent(item, kEnglish))),
        unrtfText(formats::rtfContent(item, kEnglish)),
        parsed ? firstLeafText(g_mime_message_get_mime_part(parsed.get())) : QString(),
        msg ? (*msg)[u"body"].toString() + (*msg)[u"bodyHtml"].toString() : QString() };
}

TEST(RtfOnlyMail, EveryOutputHasTheBody)
{
    MailData mail = simpleMail();
    mail.plainBody.clear();
    mail.rtfBody = R"({\rtf1\ansi\ansicpg1252{\fonttbl{\f0 Arial;}}\pard Gr\'fc\'dfe aus K\'f6ln \u8364\'805\par})";
    for (const QString& body : bodiesReadBack(FakeMailItem(mail)))
        EXPECT_TRUE(body.contains(QStringLiteral("Grüße aus Köln €5"))) << body.toStdString();
}

// The entry identifiers of the mails of the sample OST, in every folder.
QStringList ostMails(mail::Store& store)
{
    QStringList mails;
    std::function<void(const mail::Folder&)> walk = [&](const mail::Folder& folder) {
        ASSERT_TRUE(folder.items([&](const mail::ItemSummary& s) {
            if (s.itemClass == mail::kClassMail)
                mails << s.entryID;
        }));
        auto children = folder.folders();
        ASSERT_TRUE(children.ok());
        for (const auto& child : *children)
            walk(*child);
    };
    auto top = store.topFolder();
    EXPECT_TRUE(top.ok());
    if (top)
        walk(**top);
    return mails;
}

Result<std::unique_ptr<mail::Store>> openOst()
{
    return mail::openStore(QStringLiteral("Ost"), QStringLiteral(TEST_DATA_DIR "/pst/aspose_SampleOstFile.ost"));
}

// The sample OST holds 69 of its 80 mails only as RTF: most are empty, the others have their text in every output.
TEST(RtfOnlyMail, OstSampleMailsHaveTheirBodies)
{
    auto store = openOst();
    ASSERT_TRUE(store.ok());
    const QStringList mails = ostMails(**store);
    ASSERT_EQ(mails.size(), 80);
    int withBody = 0;
    for (const QString& id : mails) {
        auto item = (*store)->item(id);
        ASSERT_TRUE(item.ok());
        withBody += QString::fromUtf8(formats::textContent(**item, kEnglish))
                        .section(QStringLiteral("\n\n"), 1)
                        .trimmed()
                        .isEmpty()
            ? 0
            : 1;
        if ((*item)->summary().subject != u"Bonusspelet")
            continue;
        for (const QString& body : bodiesReadBack(**item))
            EXPECT_TRUE(body.contains(QStringLiteral("Kundnummer; 213570739"))) << body.toStdString();
    }
    EXPECT_EQ(withBody, 22);
}

// Exchange users of the OST: the text and the built message name them by their SMTP address where the item
// has one ("first email" has none for its sender, "message 1946" has one), never by the X.500 address.
TEST(ExchangeAddresses, TextAndEmlTakeTheSmtpAddressOrTheNameAlone)
{
    auto store = openOst();
    ASSERT_TRUE(store.ok());
    const std::tuple<QString, QString, QString> cases[] = {
        { QStringLiteral("first email"), QStringLiteral("From:\tSaqib Razzaq\n"), QString() },
        { QStringLiteral("message 1946"), QStringLiteral("From:\tAdministrator <Administrator@ex2010.local>\n"),
            QStringLiteral("Administrator@ex2010.local") },
    };
    int seen = 0;
    for (const QString& id : ostMails(**store)) {
        auto item = (*store)->item(id);
        ASSERT_TRUE(item.ok());
        for (const auto& [subject, fromLine, fromAddress] : cases) {
            if ((*item)->summary().subject != subject)
                continue;
            SCOPED_TRACE(qPrintable(subject));
            ++seen;
            const QString text = QString::fromUtf8(formats::textContent(**item, kEnglish));
            EXPECT_TRUE(text.startsWith(fromLine)) << text.toStdString();
            EXPECT_TRUE(text.section(u'\n', 2, 2).contains(QStringLiteral("saqib.razzaq@ex2010.local"))) << "To";
            EXPECT_FALSE(text.contains(QStringLiteral("/O="), Qt::CaseInsensitive));
            const Result<QByteArray> eml = formats::emlContent(**item);
            ASSERT_TRUE(eml.ok());
            const GPtr<GMimeMessage> parsed = parse(*eml);
            ASSERT_TRUE(parsed);
            InternetAddressList* from = g_mime_message_get_from(parsed.get());
            ASSERT_EQ(internet_address_list_length(from), 1);
            InternetAddress* first = internet_address_list_get_address(from, 0);
            EXPECT_STREQ(internet_address_get_name(first), fromAddress.isEmpty() ? "Saqib Razzaq" : "Administrator");
            if (fromAddress.isEmpty())
                EXPECT_TRUE(INTERNET_ADDRESS_IS_GROUP(first)) << "a name with no address";
            else
                EXPECT_EQ(
                    QString::fromUtf8(internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(first))), fromAddress);
            const QByteArray headers = eml->left(eml->indexOf("\r\n\r\n"));
            EXPECT_FALSE(headers.contains("</O=") || headers.contains("</o=") || headers.contains("<>"));
        }
    }
    EXPECT_EQ(seen, 2);
}

} // namespace

namespace {

TEST(CidLinks, PointToTheSavedFilesAndOnlyThose)
{
    const QHash<QString, QString> targets { { QStringLiteral("logo@x"), QStringLiteral("attachments/logo (2).png") },
        { QStringLiteral("../../etc/passwd\"<>"), QStringLiteral("attachments/passwd") } };
    const std::pair<const char*, const char*> cases[] = {
        { R"(<img src="cid:logo@x">)", R"(<img src="attachments/logo%20%282%29.png">)" },
        { R"(<IMG SRC='cid:logo@x'><a href=cid:logo@x>)",
            R"(<IMG SRC='attachments/logo%20%282%29.png'><a href=attachments/logo%20%282%29.png>)" },
        { R"(<img src="cid:nowhere@x">)", R"(<img src="cid:nowhere@x">)" }, // names no part: stays
        { R"(<img src="cid:..%2F..%2Fetc%2Fpasswd%22%3C%3E">)", R"(<img src="attachments/passwd">)" },
        { R"(<p>cid:logo@x in text</p>)", R"(<p>cid:logo@x in text</p>)" },
    };
    for (const auto& [html, expected] : cases)
        EXPECT_EQ(formats::withCidLinksTo(QString::fromUtf8(html), targets), QString::fromUtf8(expected)) << html;
}

TEST(AttachmentName, AnUnnamedImageIsNamedByItsType)
{
    const std::tuple<const char*, const char*, const char*> cases[] = {
        { "", "image/png", "image.png" },
        { "", "IMAGE/JPEG", "image.jpg" },
        { "", "image/x-unheard-of", "image.x-unheard-of" },
        { "", "application/pdf", "" },
        { "chart.gif", "image/png", "chart.gif" },
    };
    for (const auto& [name, type, expected] : cases) {
        const test::FakeAttachment attachment({ QString::fromUtf8(name), QString::fromUtf8(type), {}, {}, {} });
        EXPECT_EQ(formats::attachmentName(attachment), QString::fromUtf8(expected)) << type;
    }
}

// A PST-like mail (no raw message) whose HTML shows an image by Content-ID: the image goes with the HTML into
// multipart/related under its Content-ID, the other attachment stays in multipart/mixed.
TEST(EmlContent, InlineImagesGoWithTheHtmlIntoMultipartRelated)
{
    MailData mail = simpleMail();
    mail.htmlBody = QStringLiteral("<p><img src=\"cid:logo@x\"></p>");
    mail.attachments
        = { { QStringLiteral("logo.png"), QStringLiteral("image/png"), "PNG", {}, {}, QStringLiteral("logo@x"), true },
              { QStringLiteral("a.pdf"), QStringLiteral("application/pdf"), "PDF", {}, {} } };
    const Result<QByteArray> eml = formats::emlContent(FakeMailItem(mail));
    ASSERT_TRUE(eml.ok());
    const GPtr<GMimeMessage> parsed = parse(*eml);
    ASSERT_TRUE(parsed);
    GMimeObject* top = g_mime_message_get_mime_part(parsed.get());
    ASSERT_TRUE(GMIME_IS_MULTIPART(top));
    EXPECT_STREQ(g_mime_content_type_get_media_subtype(g_mime_object_get_content_type(top)), "mixed");
    GMimeObject* related = g_mime_multipart_get_part(GMIME_MULTIPART(top), 0);
    ASSERT_TRUE(GMIME_IS_MULTIPART(related));
    EXPECT_STREQ(g_mime_content_type_get_media_subtype(g_mime_object_get_content_type(related)), "related");
    GMimeObject* image = g_mime_multipart_get_part(GMIME_MULTIPART(related), 1);
    EXPECT_STREQ(g_mime_object_get_content_id(image), "logo@x");
    EXPECT_STREQ(g_mime_object_get_disposition(image), "inline");
}

} // namespace

namespace {

// The OST's "RTF newsletter copy" holds its pictures as OLE objects of the static DIB class: each is saved as
// the bitmap it holds, which Qt's reader opens.
TEST(OleAttachments, OstPicturesAreSavedAsBitmaps)
{
    auto store = openOst();
    ASSERT_TRUE(store.ok());
    int ole = 0;
    for (const QString& id : ostMails(**store)) {
        auto item = (*store)->item(id);
        ASSERT_TRUE(item.ok());
        if ((*item)->summary().subject != u"RTF newsletter copy")
            continue;
        auto attachments = (*item)->attachments();
        ASSERT_TRUE(attachments.ok());
        for (const auto& attachment : *attachments) {
            if (!attachment->fileName().startsWith(QLatin1String("Picture")))
                continue;
            ++ole;
            EXPECT_EQ(attachment->fileName(), QStringLiteral("Picture (Device Independent Bitmap).bmp"));
            EXPECT_EQ(attachment->mimeType(), QStringLiteral("image/bmp"));
            const Result<QByteArray> data = attachment->data();
            ASSERT_TRUE(data.ok());
            const QImage image = QImage::fromData(*data, "BMP");
            EXPECT_FALSE(image.isNull());
            EXPECT_GT(image.width() * image.height(), 100);
        }
    }
    EXPECT_GT(ole, 0);
}

QByteArray le32(quint32 value)
{
    QByteArray bytes(4, '\0');
    qToLittleEndian(value, bytes.data());
    return bytes;
}

// A 24-bit device-independent bitmap `width` pixels wide, one row: red, then blue.
QByteArray dib(int width)
{
    const int row = (width * 3 + 3) / 4 * 4;
    QByteArray pixels(row, '\0');
    for (int x = 0; x < width; ++x)
        pixels.replace(x * 3, 3, x % 2 == 0 ? QByteArray("\x00\x00\xFF", 3) : QByteArray("\xFF\x00\x00", 3));
    return le32(40) + le32(quint32(width)) + le32(1) + QByteArray("\x01\x00\x18\x00", 4) + le32(0) + le32(quint32(row))
        + le32(2835) + le32(2835) + le32(0) + le32(0) + pixels;
}

// An OLE object's storage with the class `classNumber` (a class of OLE's own range) and the streams given.
QByteArray oleStorage(quint8 classNumber, const std::vector<std::pair<const char*, QByteArray>>& streams)
{
    msg::CompoundFile::ClassId id { 0, 0, 0, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46 };
    id[0] = classNumber;
    id[1] = 3;
    msg::CompoundFile file(id);
    for (const auto& [name, data] : streams)
        file.addStream(msg::CompoundFile::Storage::Root, QLatin1String(name), data);
    const Result<QByteArray> bytes = std::move(file).toBytes();
    EXPECT_TRUE(bytes.ok());
    return bytes ? *bytes : QByteArray();
}

// An OLEPresentationStream of the standard clipboard format `format` holding `data`, for no target device.
QByteArray presentation(quint32 format, const QByteArray& data)
{
    return le32(0xFFFFFFFF) + le32(format) + le32(4) + le32(1) + le32(0xFFFFFFFF) + le32(0) + le32(0) + le32(100)
        + le32(100) + le32(quint32(data.size())) + data;
}

TEST(OleAttachments, ThePictureAnObjectHoldsIsFound)
{
    const QByteArray wmf = QByteArray("\x01\x00\x09\x00\x00\x03\x0C\x00\x00\x00\x00\x00\x03\x00\x00\x00\x00\x00", 18)
        + QByteArray("\x03\x00\x00\x00\x00\x00", 6);
    const QByteArray emf = le32(1) + le32(88) + QByteArray(32, '\0') + le32(0x464D4520) + QByteArray(44, '\0');
    QByteArray bmp = "BM" + le32(14 + 48) + le32(0) + le32(54) + dib(2);
    const QByteArray notOle = "PK\x03\x04 a zip file";
    struct Case {
        const char* why;
        QByteArray storage;
        const char* extension; ///< nullptr: no picture
        QByteArray expected; ///< the picture's bytes; empty: a bitmap of red and blue pixels
    };
    const Case cases[] = {
        { "a static DIB in the mini stream gets a file header",
            oleStorage(0x16, { { "\x01Ole", QByteArray(20, '\0') }, { "CONTENTS", dib(2) } }), "bmp", {} },
        { "a larger one in sectors of its own", oleStorage(0x16, { { "CONTENTS", dib(1500) } }), "bmp", {} },
        { "a bitmap file stays as it is", oleStorage(0x16, { { "CONTENTS", bmp } }), "bmp", bmp },
        { "a metafile beside its \\x03PIC header",
            oleStorage(0x15, { { "\x03PIC", QByteArray(8, '\1') }, { "\x03META", wmf } }), "wmf", wmf },
        { "the cached presentation of an object that holds nothing else",
            oleStorage(0x05,
                { { "\x01"
                    "CompObj",
                      "x" },
                    { "\x02OlePres000", presentation(14, emf) } }),
            "emf", emf },
        { "the presentation of a DIB", oleStorage(0x19, { { "\x02OlePres000", presentation(8, dib(2)) } }), "bmp", {} },
        { "an embedded document's picture of itself is not taken",
            oleStorage(0x05, { { "WordDocument", "doc" }, { "\x02OlePres000", presentation(14, emf) } }), nullptr, {} },
        { "a static picture whose stream holds none",
            oleStorage(0x16, { { "CONTENTS", "not a picture at all, not at all" } }), nullptr, {} },
        { "not a compound file", notOle, nullptr, {} },
        { "a compound file cut short", oleStorage(0x16, { { "CONTENTS", dib(1500) } }).left(1200), nullptr, {} },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        const std::optional<mail::pst::Picture> picture = mail::pst::oleObjectPicture(c.storage);
        ASSERT_EQ(picture.has_value(), c.extension != nullptr);
        if (!picture)
            continue;
        EXPECT_EQ(picture->extension, QLatin1String(c.extension));
        if (!c.expected.isEmpty()) {
            EXPECT_EQ(picture->bytes, c.expected);
            continue;
        }
        const QImage image = QImage::fromData(picture->bytes, "BMP");
        ASSERT_FALSE(image.isNull());
        EXPECT_EQ(image.pixel(0, 0), qRgb(255, 0, 0));
        EXPECT_EQ(image.pixel(1, 0), qRgb(0, 0, 255));
    }
}

} // namespace

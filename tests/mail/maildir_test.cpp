// SPDX-License-Identifier: MIT
#include <gmime/gmime.h>

#include "core/gmime.h"
#include "core/workerthreads.h"
#include "mail/maildir/headerscan.h"
#include "mail/maildir/maildirmessage.h"
#include "mail/maildir/maildirnames.h"
#include "mail/maildir/maildirstore.h"
#include "mail/maildir/partsplit.h"
#include "mail/mimetext.h"
#include "mail/search.h"
#include "support/childpeak.h"
#include "support/scriptedperson.h"
#include "support/storewalk.h"
#include "support/testenv.h"
#include "support/testfiles.h"
#include "support/unprivileged.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <thread>
#include <unistd.h>

using namespace quillbox;
using namespace quillbox::mail;
using quillbox::test::berlin;
using quillbox::test::folderAt;

namespace {

/// A Maildir tree built inside a temporary directory.
class Tree {
public:
    QString root() const { return m_dir.path(); }
    QString path(const QString& relative) const { return m_dir.filePath(relative); }

    /// Creates the Maildir `relative` (cur/, new/, tmp/); "" is the root itself.
    void maildir(const QString& relative)
    {
        for (const char* sub : { "cur", "new", "tmp" })
            ASSERT_TRUE(QDir().mkpath(path(relative) + u'/' + QLatin1String(sub)));
    }
    void file(const QString& relative, const QByteArray& bytes) { test::writeFile(path(relative), bytes); }
    void link(const QString& relative, const QString& target)
    {
        QDir().mkpath(QFileInfo(path(relative)).path());
        ASSERT_EQ(::symlink(QFile::encodeName(target).constData(), QFile::encodeName(path(relative)).constData()), 0);
    }
    /// Makes the directory or file `relative` (a directory when it is not there) unreadable, to its owner too.
    void lock(const QString& relative)
    {
        if (!QFileInfo::exists(path(relative)))
            QDir().mkpath(path(relative));
        ASSERT_EQ(::chmod(QFile::encodeName(path(relative)).constData(), 0), 0);
        m_locked << relative;
    }
    /// `levels` Maildirs below `relative`, each inside the one before, with names of `length` bytes and the
    /// message `bytes` each: their paths outgrow what the kernel takes at once, so they are made one at a time.
    void deepChain(const QString& relative, int levels, int length, const QByteArray& bytes)
    {
        QDir().mkpath(path(relative));
        m_deep = true;
        int dir = ::open(QFile::encodeName(path(relative)).constData(), O_PATH | O_DIRECTORY);
        for (int i = 0; i < levels; ++i) {
            const QByteArray name = QByteArray(length, 'd') + QByteArray::number(i);
            ASSERT_EQ(::mkdirat(dir, name.constData(), 0700), 0);
            const int next = ::openat(dir, name.constData(), O_PATH | O_DIRECTORY);
            ::close(dir);
            dir = next;
            for (const char* sub : { "cur", "new", "tmp" })
                ASSERT_EQ(::mkdirat(dir, sub, 0700), 0);
            const int file = ::openat(dir, "cur/1.deep:2,S", O_WRONLY | O_CREAT | O_EXCL, 0600);
            ASSERT_EQ(::write(file, bytes.constData(), size_t(bytes.size())), bytes.size());
            ::close(file);
        }
        ::close(dir);
    }
    ~Tree()
    {
        // What the test locked, and paths too long for QDir, would keep the folder from being removed.
        for (const QString& locked : m_locked)
            ::chmod(QFile::encodeName(path(locked)).constData(), 0700);
        if (m_deep)
            QProcess::execute(QStringLiteral("rm"), { QStringLiteral("-rf"), root() });
    }
    std::unique_ptr<Store> open(const QString& name = QStringLiteral("Store")) const
    {
        auto store = openMaildirStore(name, root());
        EXPECT_TRUE(store.ok());
        return store ? std::move(*store) : nullptr;
    }

private:
    QTemporaryDir m_dir;
    QStringList m_locked;
    bool m_deep = false;
};

QByteArray message(const QByteArray& headers, const QByteArray& body = "Hello.\n")
{
    return headers + "\n" + body;
}

std::vector<ItemSummary> itemsOf(const Folder& folder)
{
    std::vector<ItemSummary> items;
    const Status status = folder.items([&](const ItemSummary& item) { items.push_back(item); });
    EXPECT_TRUE(status.ok()) << (status ? "" : qPrintable(status.error().describe()));
    return items;
}

/// A store whose root holds the one message `bytes` in cur/: the message as listed and as an item.
struct OneMessage {
    Tree tree;
    std::unique_ptr<Store> store;
    ItemSummary summary;
    std::unique_ptr<MailItem> item;
};

std::unique_ptr<OneMessage> oneMessage(const QByteArray& bytes)
{
    auto one = std::make_unique<OneMessage>();
    one->tree.maildir(QString());
    one->tree.file(QStringLiteral("cur/1.one:2,S"), bytes);
    one->store = one->tree.open();
    const auto items = itemsOf(*folderAt(*one->store, "Inbox"));
    EXPECT_EQ(items.size(), 1u);
    if (items.size() != 1)
        return nullptr;
    one->summary = items[0];
    auto item = one->store->item(items[0].entryID);
    EXPECT_TRUE(item.ok());
    if (!item)
        return nullptr;
    one->item = std::move(*item);
    return one;
}

// An item of `raw` read directly (or as `reading` says) gives what GMime's parse of the whole message gives,
// its attached mails too.
void expectReadAsTheParserReads(const QByteArray& raw, maildir::BodyReading reading = maildir::BodyReading::Direct)
{
    const auto item = maildir::makeMessage(raw, {}, {}, nullptr, reading);
    const auto reference = maildir::makeMessage(raw, {}, {}, nullptr, maildir::BodyReading::Parser);
    EXPECT_EQ(item->senderName(), reference->senderName());
    EXPECT_EQ(item->displayCc(), reference->displayCc());
    EXPECT_EQ(item->plainBody(), reference->plainBody());
    EXPECT_EQ(item->htmlBody(), reference->htmlBody());
    const QList<Recipient> recipients = item->recipients(), expected = reference->recipients();
    ASSERT_EQ(recipients.size(), expected.size());
    for (qsizetype i = 0; i < recipients.size(); ++i)
        EXPECT_EQ(std::tie(recipients[i].name, recipients[i].address, recipients[i].type),
            std::tie(expected[i].name, expected[i].address, expected[i].type));
    auto attachments = item->attachments();
    auto expectedAttachments = reference->attachments();
    ASSERT_TRUE(attachments.ok() && expectedAttachments.ok());
    ASSERT_EQ(attachments->size(), expectedAttachments->size());
    for (std::size_t i = 0; i < attachments->size(); ++i) {
        const Attachment &got = *(*attachments)[i], &want = *(*expectedAttachments)[i];
        SCOPED_TRACE(i);
        EXPECT_EQ(std::tuple(got.fileName(), got.mimeType(), got.contentId(), got.contentLocation(), got.isInline()),
            std::tuple(want.fileName(), want.mimeType(), want.contentId(), want.contentLocation(), want.isInline()));
        EXPECT_EQ(*got.data(), *want.data());
        const auto mail = got.embeddedMessage(), expectedMail = want.embeddedMessage();
        ASSERT_EQ(bool(mail), bool(expectedMail));
        if (mail) {
            EXPECT_EQ(mail->summary().subject, expectedMail->summary().subject);
            EXPECT_EQ(mail->plainBody() + mail->htmlBody(), expectedMail->plainBody() + expectedMail->htmlBody());
            EXPECT_EQ(mail->attachments()->size(), expectedMail->attachments()->size());
        }
    }
}

const QByteArray kPlain = message("Date: Tue, 1 Jul 2003 10:52:37 +0200\nFrom: Ann Example <ann@example.org>\n"
                                  "To: Bob <bob@example.org>, carol@example.org\nSubject: Plain\n");
const QByteArray kLatin1Greeting = "Gr\xFC\xDF\x65"; // "Grüße"

} // namespace

TEST(MaildirLayout, NestedMaildirPlusPlusAndUtf7BecomeOneTree)
{
    Tree tree;
    // The root's own messages are "Inbox"; "Archive" has no directory of its own, "Work" is no Maildir itself.
    const QString withMail[]
        = { "", ".Sent", ".Archive.2020", ".Entw&APw-rfe", "Work/Projects", "Work/.Sub", "Work/Projects/Deep" };
    for (const QString& dir : withMail) {
        tree.maildir(dir);
        tree.file(dir + (dir.isEmpty() ? "" : "/") + "cur/1.a:2,S", kPlain);
    }
    tree.maildir(QStringLiteral(".Archive.2021"));
    tree.file(QStringLiteral(".notmuch/xapian/flintlock"), "x"); // a hidden directory without mail
    tree.file(QStringLiteral("Empty/readme"), "x"); // a directory that holds no folder

    auto store = tree.open();
    auto top = store->topFolder();
    ASSERT_TRUE(top.ok());
    EXPECT_EQ((*top)->folderPath(), QStringLiteral("\\\\Store"));
    std::vector<test::ListedItem> items;
    QStringList paths;
    ASSERT_TRUE(test::walk(**top, items, &paths));
    EXPECT_EQ(paths,
        (QStringList { "\\\\Store", "\\\\Store\\Archive", "\\\\Store\\Archive\\2020", "\\\\Store\\Archive\\2021",
            QString::fromUtf8("\\\\Store\\Entwürfe"), "\\\\Store\\Inbox", "\\\\Store\\Sent", "\\\\Store\\Work",
            "\\\\Store\\Work\\Projects", "\\\\Store\\Work\\Projects\\Deep", "\\\\Store\\Work\\Sub" }));

    auto year = folderAt(*store, "archive\\2020"); // names match without regard to case
    ASSERT_TRUE(year);
    EXPECT_EQ(year->name(), QStringLiteral("2020"));
    EXPECT_EQ(year->fullFolderPath(), QStringLiteral("\\\\Store/Archive/2020"));

    // Each message's folder, as the item gives it, is the folder the walk listed it in.
    EXPECT_EQ(items.size(), std::size(withMail));
    for (const test::ListedItem& listed : items) {
        auto item = store->item(listed.summary.entryID);
        ASSERT_TRUE(item.ok());
        EXPECT_EQ((*item)->parent()->folderPath(), listed.folder);
        EXPECT_EQ(
            (*item)->parent()->fullFolderPath(), folderAt(*store, listed.folder.section(u'\\', 3))->fullFolderPath());
    }
    auto inboxChildren = folderAt(*store, "Inbox")->folders();
    ASSERT_TRUE(inboxChildren.ok());
    EXPECT_TRUE(inboxChildren->empty()) << "the root's sub-folders belong to the top folder, not to Inbox";
    EXPECT_TRUE(itemsOf(**top).empty()) << "the root's messages are listed once, under Inbox";
    EXPECT_TRUE(itemsOf(*folderAt(*store, "Archive")).empty());
}

// Thunderbird's Maildir accounts keep a folder's sub-folders in "Name.sbd" beside it, as its mbox trees do:
// they are the folder's, and an "Name.sbd" without its folder stands for a folder "Name" of its own.
TEST(MaildirLayout, ThunderbirdSbdDirectoriesHoldTheSubFoldersOfTheirFolder)
{
    Tree tree;
    const QString withMail[] = { "INBOX", "INBOX.sbd/Sub", "INBOX.sbd/Sub.sbd/Deep", "Orphan.sbd/Kid", "Trash" };
    for (const QString& dir : withMail) {
        tree.maildir(dir);
        tree.file(dir + "/cur/1.a:2,S", kPlain);
    }
    tree.maildir(QStringLiteral("Trash.sbd")); // a Maildir itself: not Thunderbird's, a folder as it is named
    tree.file(QStringLiteral("Trash.sbd/cur/1.b:2,S"), kPlain);

    auto store = tree.open();
    auto top = store->topFolder();
    ASSERT_TRUE(top.ok());
    std::vector<test::ListedItem> items;
    QStringList paths;
    ASSERT_TRUE(test::walk(**top, items, &paths));
    EXPECT_EQ(paths,
        (QStringList { "\\\\Store", "\\\\Store\\INBOX", "\\\\Store\\INBOX\\Sub", "\\\\Store\\INBOX\\Sub\\Deep",
            "\\\\Store\\Orphan", "\\\\Store\\Orphan\\Kid", "\\\\Store\\Trash", "\\\\Store\\Trash.sbd" }));
    EXPECT_EQ(items.size(), std::size(withMail) + 1);
    for (const test::ListedItem& listed : items) {
        auto item = store->item(listed.summary.entryID);
        ASSERT_TRUE(item.ok());
        EXPECT_EQ((*item)->parent()->folderPath(), listed.folder);
    }
}

TEST(MaildirLayout, ModifiedUtf7Names)
{
    const std::pair<QByteArray, QString> cases[] = { { "Entw&APw-rfe", QString::fromUtf8("Entwürfe") },
        { "Tom &- Jerry", QStringLiteral("Tom & Jerry") }, { "&ZeVnLIqe-", QString::fromUtf8("日本語") },
        { "&2D3eAA-", QString::fromUtf8("😀") }, // a surrogate pair
        // kept as they are: no closing dash, not base64, an odd byte count
        { "R&D", QStringLiteral("R&D") }, { "&!!-x", QStringLiteral("&!!-x") }, { "&AP-", QStringLiteral("&AP-") },
        { QString::fromUtf8("Grüße").toUtf8(), QString::fromUtf8("Grüße") } }; // raw UTF-8 names pass
    for (const auto& [encoded, decoded] : cases)
        EXPECT_EQ(maildir::decodeModifiedUtf7(encoded), decoded) << encoded.toStdString();
    EXPECT_EQ(maildir::folderNamesOf(".A..B"), QStringList { "A..B" }) << "an empty part makes one name";
}

TEST(MaildirItems, FieldsFromHeadersAndFileName)
{
    Tree tree;
    tree.maildir(QStringLiteral("Box"));
    // 1700000000 is 2023-11-14 23:13:20 Berlin time.
    tree.file(QStringLiteral("Box/cur/1700000000.M1P1.host:2,S"),
        message("Received: from b by mx; Wed, 2 Jul 2003 08:00:00 +0000\n"
                "Received: from a by b; Wed, 2 Jul 2003 07:00:00 +0000\nDate: Tue, 1 Jul 2003 10:52:37 +0200\n"
                "From: Ann Example <ann@example.org>\n"
                "To: Bob <bob@example.org>,\n carol@example.org, =?UTF-8?Q?J=C3=B6rg?= <j@example.org>\n"
                "Subject: =?ISO-8859-1?Q?Gr=FC=DFe?= aus\n =?UTF-8?B?S8O2bG4=?=\n"));
    // No Received header: the delivery time of the name; draft flag: not sent.
    tree.file(QStringLiteral("Box/cur/1700000100.M2P1.host:2,DS"),
        message("Date: Tue, 1 Jul 2003 10:52:37 +0200\nSubject: Draft\n"));
    // No time in the name and no Date: the file's modification time; SentOn missing.
    tree.file(QStringLiteral("Box/new/oddname"), message("Subject: Odd\n"));
    const timeval times[2] = { { 1600000000, 0 }, { 1600000000, 0 } }; // 2020-09-13 14:26:40 Berlin
    ASSERT_EQ(::utimes(QFile::encodeName(tree.path("Box/new/oddname")).constData(), times), 0);

    auto store = tree.open();
    const auto items = itemsOf(*folderAt(*store, "Box"));
    ASSERT_EQ(items.size(), 3u);

    const ItemSummary& full = items[0];
    EXPECT_EQ(full.itemClass, kClassMail);
    EXPECT_EQ(full.sentOn, berlin(2003, 7, 1, 10, 52, 37));
    EXPECT_EQ(full.sentOn.timeSpec(), Qt::LocalTime);
    EXPECT_TRUE(full.sent);
    EXPECT_EQ(full.receivedTime, berlin(2003, 7, 2, 10, 0)) << "the topmost Received header";
    EXPECT_EQ(full.creationTime, berlin(2023, 11, 14, 23, 13, 20));
    EXPECT_EQ(full.senderEmailAddress, QStringLiteral("ann@example.org"));
    EXPECT_EQ(full.to, QString::fromUtf8("Bob; carol@example.org; Jörg"));
    EXPECT_EQ(full.subject, QString::fromUtf8("Grüße aus Köln"));

    const ItemSummary& draft = items[1];
    EXPECT_FALSE(draft.sent);
    EXPECT_EQ(draft.sentOn, berlin(2003, 7, 1, 10, 52, 37));
    EXPECT_EQ(draft.receivedTime, QDateTime::fromSecsSinceEpoch(1700000100));

    const ItemSummary& odd = items[2];
    EXPECT_EQ(odd.sentOn, noDate());
    EXPECT_FALSE(odd.sent);
    EXPECT_EQ(odd.creationTime, berlin(2020, 9, 13, 14, 26, 40));
    EXPECT_EQ(odd.receivedTime, odd.creationTime);
    EXPECT_TRUE(odd.senderEmailAddress.isEmpty());
}

TEST(MaildirItems, ClassFromContentTypeAndCalendarMethod)
{
    // Only a delivery or read report, or a calendar REQUEST (the body or a multipart's first part), is no mail.
    const QByteArray request = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nMETHOD:REQUEST\r\nBEGIN:VEVENT\r\nEND:VEVENT\r\n"
                               "END:VCALENDAR\r\n";
    const QByteArray calendarPart = "--b\nContent-Type: text/calendar; charset=utf-8\n\n" + request;
    struct Case {
        const char* why;
        QByteArray contentType;
        QByteArray body;
        int itemClass;
        const char* messageClass;
    };
    const Case cases[] = {
        { "plain text", "text/plain; charset=utf-8", "Hello.\n", kClassMail, "IPM.Note" },
        { "no Content-Type", "", "Hello.\n", kClassMail, "IPM.Note" },
        { "delivery report", "multipart/report; report-type=delivery-status; boundary=x", "--x--\n", kClassReport,
            "REPORT.IPM.Note.DR" },
        { "read report, upper case and quoted",
            "Multipart/Report; Report-Type=\"Disposition-Notification\"; boundary=x", "--x--\n", kClassReport,
            "REPORT.IPM.Note.DR" },
        { "a report of no known type is mail", "multipart/report; boundary=x", "--x--\n", kClassMail, "IPM.Note" },
        { "calendar request", "text/calendar; method=REQUEST; charset=utf-8", request, kClassMeetingRequest,
            "IPM.Schedule.Meeting.Request" },
        { "calendar request in base64", "text/calendar\nContent-Transfer-Encoding: base64", request.toBase64() + "\n",
            kClassMeetingRequest, "IPM.Schedule.Meeting.Request" },
        { "calendar publication", "text/calendar; method=PUBLISH", QByteArray(request).replace("REQUEST", "PUBLISH"),
            kClassMail, "IPM.Note" },
        { "method=REQUEST on plain text, from anyone, is mail", "text/plain; method=REQUEST", request, kClassMail,
            "IPM.Note" },
        { "multipart whose first part is the request", "multipart/alternative; boundary=b", calendarPart + "--b--\n",
            kClassMeetingRequest, "IPM.Schedule.Meeting.Request" },
        { "the same after a preamble longer than the first read", "multipart/mixed; boundary=b",
            QByteArray(40000, 'p') + "\n" + calendarPart + "--b--\n", kClassMeetingRequest,
            "IPM.Schedule.Meeting.Request" },
        { "a request that is not the first part is mail", "multipart/alternative; boundary=b",
            "--b\nContent-Type: text/plain\n\nHello.\n" + calendarPart + "--b--\n", kClassMail, "IPM.Note" },
        { "types in upper case", "MULTIPART/Alternative; boundary=b",
            "--b\nContent-Type: TEXT/Calendar\n\n" + request + "--b--\n", kClassMeetingRequest,
            "IPM.Schedule.Meeting.Request" },
        { "method=REQUEST on a multipart of text is mail", "multipart/alternative; boundary=b; method=REQUEST",
            "--b\nContent-Type: text/plain\n\nMETHOD:REQUEST\n--b--\n", kClassMail, "IPM.Note" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        QByteArray headers = "Subject: x\n";
        if (!c.contentType.isEmpty())
            headers += "Content-Type: " + c.contentType + "\n";
        auto one = oneMessage(message(headers, c.body));
        ASSERT_TRUE(one);
        EXPECT_EQ(one->summary.itemClass, c.itemClass);
        EXPECT_EQ(one->item->itemClass(), c.itemClass) << "the item gives its class before its summary";
        EXPECT_EQ(one->item->summary().itemClass, c.itemClass);
        EXPECT_EQ(one->item->messageClass(), QLatin1String(c.messageClass));
    }
}

TEST(MaildirItems, DamagedMessagesAreListedWithWhatCanBeRead)
{
    QByteArray binary;
    for (int i = 0; i < 5000; ++i)
        binary += char((i * 7919) % 256);
    struct Case {
        const char* why;
        QByteArray bytes;
        QString subject;
        bool hasDate;
        QString body = {}; // the plain body, when it is checked
    };
    const Case cases[] = {
        { "empty file", "", {}, false },
        { "binary bytes", binary, {}, false },
        { "no headers, only text", "Just a line of text.\nAnd another.\n", {}, false,
            "Just a line of text.\nAnd another.\n" },
        { "multipart without parts", "Content-Type: multipart/mixed; boundary=x\n\nno parts\n", {}, false,
            "no parts\n" },
        { "a header block longer than the first read",
            "X-Filler: " + QByteArray(5000, 'f') + "\nSubject: late\nDate: Tue, 1 Jul 2003 10:52:37 +0200\n\nbody\n",
            "late", true },
        { "a 1 MB header line", "Subject: s\nX-Long: " + QByteArray(1 << 20, 'a') + "\n\nbody\n", "s", false },
        { "a 2 MB first line without end", QByteArray(2 << 20, 'b'), {}, false },
        { "a header that never ends", "Subject: t\n" + QByteArray(2 << 20, ' '), "t", false },
        { "broken encoded word", "Subject: =?utf-8?q?broken\nDate: Tue, 1 Jul 2003 10:52:37 +0200\n\n",
            "=?utf-8?q?broken", true },
        { "bad base64 in an encoded word", "Subject: a =?utf-8?b?!!!?= b\n\n", {}, false },
        { "unknown charset", "Subject: =?x-no-such-charset?q?abc?=\n\n", {}, false },
        { "raw 8-bit Latin-1 subject", "Subject: " + kLatin1Greeting + "\n\n", QString::fromUtf8("Grüße"), false },
        { "unreadable date", "Subject: d\nDate: the day after tomorrow\n\n", "d", false },
        { "impossible date", "Subject: d\nDate: 31 Feb 2020 10:00:00 +0000\n\n", "d", false },
        { "NUL bytes in a header", QByteArray("Subject: a\0b\n\n", 14), "ab", false },
        { "CR LF line ends", "Subject: crlf\r\nDate: Tue, 1 Jul 2003 10:52:37 +0200\r\n\r\nbody\r\n", "crlf", true },
        { "mbox From line first", "From ann@example.org Tue Jul  1 10:52:37 2003\nSubject: mbox\n\n", "mbox", false },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        auto one = oneMessage(c.bytes);
        ASSERT_TRUE(one);
        if (!c.subject.isNull()) {
            EXPECT_EQ(one->summary.subject, c.subject);
        }
        EXPECT_EQ(one->summary.sentOn != noDate(), c.hasDate);
        EXPECT_EQ(one->summary.sent, c.hasDate);
        EXPECT_EQ(one->item->rawMessage(), c.bytes);
        EXPECT_TRUE(one->item->attachments().ok());
        if (!c.body.isNull()) {
            EXPECT_EQ(one->item->plainBody(), c.body);
        }
    }
}

TEST(MaildirItems, FieldNamesInAnyCaseAndValuesUnfolded)
{
    // Names of the length of a listed one that differ from it; line breaks and NUL bytes on either side of
    // sixteen bytes into a value.
    const QByteArray report = "multipart/report; report-type=delivery-status; boundary=b";
    const QByteArray nuls("0123456789abcde\0fghijklmnopqrstu\0v\r", 35);
    struct Case {
        const char* why;
        QByteArray headers;
        QString subject, to;
        int itemClass = kClassMail;
    };
    const Case cases[] = {
        { "upper case", "SUBJECT: s\nTO: a@x.org\nCONTENT-TYPE: " + report + "\n", "s", "a@x.org", kClassReport },
        { "mixed case", "sUbJeCt: s\ntO: a@x.org\ncOnTeNt-TyPe: " + report + "\n", "s", "a@x.org", kClassReport },
        { "names that only look alike",
            "Subjekt: no\nTx: b@x.org\nCx: c@x.org\nContent-Typo: " + report
                + "\n"
                  "Subject: yes\nTo: a@x.org\n",
            "yes", "a@x.org" },
        { "NUL bytes and a bare CR in a long value", "Subject: " + nuls + "\n", "0123456789abcdefghijklmnopqrstuv",
            {} },
        { "a list folded with CR LF and a tab",
            "To: Alpha Beta <alpha@x.org>,\r\n Gamma Delta <g@x.org>,\r\n\t\"Eps, Ilon\" <e@x.org>\r\n", {},
            "Alpha Beta; Gamma Delta; Eps, Ilon" },
        { "names longer than sixteen bytes",
            "X-A-Rather-Long-Field-Name: x\nCONTENT-TRANSFER-ENCODING: 8bit\n"
            "Subject: after long names\n",
            "after long names", {} },
        { "a line that is no field past its sixteenth byte", "Subject: s\nX-Sixteen-Bytes-N\xe4me: v\nTo: a@x.org\n",
            "s", {} },
        // A value of sixteen bytes is looked at in one block, one of eighteen in two that overlap.
        { "a NUL in a value of sixteen bytes", QByteArray("Subject: 0123456789abcd\0e\n", 26), "0123456789abcde", {} },
        { "a NUL in the overlap", QByteArray("Subject: 0123456789abcdef\0g\n", 28), "0123456789abcdefg", {} },
        { "a folded subject longer than sixteen bytes", "Subject: the first sixteen\n bytes and more\n",
            "the first sixteen bytes and more", {} },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        auto one = oneMessage(message(c.headers));
        ASSERT_TRUE(one);
        EXPECT_EQ(one->summary.subject, c.subject);
        EXPECT_EQ(one->summary.to, c.to);
        EXPECT_EQ(one->summary.itemClass, c.itemClass);
    }
}

TEST(MaildirItems, EncodedWordsInHeaderText)
{
    const std::pair<std::string, QString> cases[] = {
        { "=?UTF-8?B?QQ==?= =?UTF-8?B?Qg==?=", "AB" }, // padding ends the first of two base64 words
        { "=?UTF-8?B?R3LD?=\n =?UTF-8?B?vA==?=", QString::fromUtf8("Grü") }, // a character split between words
        { "=?UTF-8?Q?Gr=C3?= =?utf-8?B?vA==?=", QString::fromUtf8("Grü") }, // ... between a Q and a B word
        { "=?ISO-8859-1?Q?Gr=FC?= =?UTF-8?Q?=C3=9Fe?=", QString::fromUtf8("Grüße") }, // charsets decoded apart
        { "=?UTF-8?Q?a?= x =?UTF-8?Q?b?=", "a x b" }, // text between words stays
        { "Re: =?UTF-8?Q?Caf=C3=A9?= (2)", QString::fromUtf8("Re: Café (2)") },
        { "a=?UTF-8?Q?b?=c", "abc" }, // a word inside a word
        { "=?UTF-8?Q?a_b?=", "a b" }, // underscore is a space in Q
        { "=?UTF-8*de?Q?Gr=C3=BC=C3=9Fe?=", QString::fromUtf8("Grüße") }, // a language after the charset
        { "=?utf-8?q?broken", "=?utf-8?q?broken" }, // a word that never closes stays as it is
        { "=?utf-8?x?abc?=", "=?utf-8?x?abc?=" }, // an unknown encoding stays as it is
        { "=?ISO-2022-JP?B?GyRCMnE1RBsoQg==?=", QString::fromUtf8("会議") }, // a multi-byte charset
        { "\tRe:\t=?UTF-8?Q?a?=", "\tRe:\ta" }, // text before a word that is not plain ASCII ...
        { "Gr\xC3\xBC\xC3\x9F =?UTF-8?Q?e?=", QString::fromUtf8("Grüß e") }, // ... in UTF-8
    };
    for (const auto& [raw, text] : cases)
        EXPECT_EQ(mail::decodeHeaderText(raw), text) << raw;
}

TEST(MaildirItems, AddressListsReadAlikeInListAndItem)
{
    // The list, an item of one text part and GMime's parse of the whole message all read them alike.
    // Longer lists than the quick reading holds at once too, one whose last address GMime has to read.
    QByteArray many;
    QString manyNames;
    for (int i = 0; i < 20; ++i) {
        many += QByteArray(i ? ", " : "") + "N" + QByteArray::number(i) + " <n" + QByteArray::number(i) + "@x.org>";
        manyNames += QLatin1String(i ? "; N" : "N") + QString::number(i);
    }
    const std::pair<QByteArray, QString> cases[] = { { many, manyNames },
        { many + ", a@xn--bcher-kva.example", manyNames + QString::fromUtf8("; a@bücher.example") },
        { "Bob <bob@x.org>, carol@x.org", "Bob; carol@x.org" }, { "\"Doe, John\" <j@x.org>", "Doe, John" },
        { "\" Doe  John \" <j@x.org>", "Doe  John" }, { "Doe\tJohn <j@x.org>", "Doe\tJohn" },
        { "=?UTF-8?Q?J=C3=B6rg?= <j@x.org>", QString::fromUtf8("Jörg") },
        { "undisclosed-recipients:;", "undisclosed-recipients" }, { "team: a@x.org, B <b@x.org>;", "a@x.org; B" },
        { "a@x.org (Ann A)", "Ann A" }, { "a@x.org,", "a@x.org" }, { "<a@x.org>", "a@x.org" },
        { "a@x.org.", "a@x.org" }, { "a@xn--bcher-kva.example", QString::fromUtf8("a@bücher.example") },
        // A name of one encoded word, and the words GMime reads otherwise than as they stand.
        { "=?utf-8?b?SsO2cmc=?= <j@x.org>, =?UTF-8?Q?a=2Cb=22?= <b@x.org>", QString::fromUtf8("Jörg; a,b\"") },
        { "=?UTF-8?Q?_J=C3=B6rg_?= <j@x.org>", QString::fromUtf8("Jörg") },
        { "=?UTF-8?Q?=EF=BB=BFJ=C3=B6rg?= <j@x.org>", QString::fromUtf8("Jörg") },
        { "=?UTF-8?Q?J=C3=B6rg?= =?UTF-8?Q?_M?= <j@x.org>", QString::fromUtf8("Jörg M") },
        { "=?UTF-8?Q?J=C3?= <j@x.org>", "J?" }, { "=?UTF-8?B?SsO=2cmc?= <j@x.org>", "J?" },
        { "=?ISO-8859-1?Q?J=F6rg?= <j@x.org>", QString::fromUtf8("Jörg") },
        { "Bob <bob@x.org>, carol@x.org, a@x.org (Ann A)", "Bob; carol@x.org; Ann A" },
        // Commas in quotes before the first separator, and after it.
        { "\"A, B\" <a@x.org>, c@x.org", "A, B; c@x.org" }, { "c@x.org, \"A, B\" <a@x.org>", "c@x.org; A, B" } };
    for (const auto& [to, display] : cases) {
        SCOPED_TRACE(to.toStdString());
        const QByteArray raw = message("From: " + to + "\nTo: " + to + "\nCc: " + to + "\n");
        auto one = oneMessage(raw);
        ASSERT_TRUE(one);
        EXPECT_EQ(one->summary.to, display);
        EXPECT_EQ(one->item->displayCc(), display);
        // The sender is the first address GMime reads, where a group without members has none.
        InternetAddressList* list = internet_address_list_parse(parserOptions(), to.constData());
        QString sender;
        for (const mail::Address& address : mail::addressesOf(list))
            if (sender.isEmpty())
                sender = address.address;
        if (list)
            g_object_unref(list);
        EXPECT_EQ(one->summary.senderEmailAddress, sender);
        expectReadAsTheParserReads(raw);
    }
}

// The quick reading of names that are one encoded word gives what GMime's address parser gives; the forms
// it leaves to GMime are here too, to show that the quick reading does not take them wrongly.
TEST(MaildirItems, EncodedNamesReadAsGMimeReadsThem)
{
    const std::string cases[] = { "=?UTF-8?Q?J=C3=BCrgen_Rossi?= <j@x.org>",
        "Ivo <i@x.org>, =?utf-8?q?Nadia_Sch=C3=A4fer?= <n@x.org>", "=?UTF-8?Q?Caf=C3=A9_=E2=82=AC!*+-/?= <c@x.org>",
        "=?UTF-8?Q?=F0=9F=98=80?= <e@x.org>", "=?UTF-8?Q?a=c3=bc?= <j@x.org>", "=?UTF-8?Q?=C3?= <j@x.org>",
        "=?UTF-8?Q?_Ann_?= <j@x.org>", "=?UTF-8?Q?Ann__Lee?= <j@x.org>", "=?UTF-8?Q?Ann=22s?= <j@x.org>",
        "=?UTF-8?Q?Lee=2C_Ann?= <j@x.org>", "=?UTF-8?Q?a=0Ab?= <j@x.org>", "=?ISO-8859-1?Q?J=FCrgen?= <j@x.org>",
        "=?UTF-8?B?SsO8cmdlbg==?= <j@x.org>", "=?UTF-8?Q?J=C3=BC?= =?UTF-8?Q?rgen?= <j@x.org>",
        "\"=?UTF-8?Q?J=C3=BC?=\" <j@x.org>", "Ann <=?UTF-8?Q?a?=@x.org>", "=?UTF-8?Q?a?=@x.org",
        "=?UTF-8?Q?"
        "?= <j@x.org>",
        "=?UTF-8?Q?a=?= <j@x.org>", "x=?UTF-8?Q?a?= <j@x.org>", "=?uTf-8?Q?J=C3=BCrgen?= <j@x.org>",
        "=?UTF-8?Q?a=7Fb?= <j@x.org>", "=?UTF-8?Q?a=C2=ADb?= <j@x.org>", "=?UTF-8?Q?a=09b?= <j@x.org>",
        "=?UTF-8?Q?" + std::string(200, 'x') + "=C3=BC?= <j@x.org>",
        // Characters the quick reading refuses on either side of its sixteenth.
        "Abcdefghijklmno  P <a@x.org>", "Abcdefghijklmnop(q) <a@x.org>", "Abcdefghijklmnopq\x7f <a@x.org>",
        "Abcdefghijklmnopqrstuvwxyz\xc3\xa4 <a@x.org>", "Abcdefghijklmn\tP <a@x.org>" };
    for (const std::string& raw : cases) {
        SCOPED_TRACE(raw);
        InternetAddressList* list = internet_address_list_parse(parserOptions(), raw.c_str());
        const QList<mail::Address> expected = mail::addressesOf(list);
        if (list)
            g_object_unref(list);
        const QList<mail::Address> read = mail::parseAddresses(raw);
        ASSERT_EQ(read.size(), expected.size());
        for (qsizetype i = 0; i < read.size(); ++i) {
            EXPECT_EQ(read[i].name, expected[i].name);
            EXPECT_EQ(read[i].address, expected[i].address);
        }
    }
}

TEST(MaildirItems, RfcDates)
{
    const std::pair<const char*, std::optional<qint64>> cases[]
        = { { "Tue, 1 Jul 2003 10:52:37 +0200", 1057049557 }, { "1 Jul 2003 10:52:37 +0200", 1057049557 },
              { "Tue, 01 Jul 2003 08:52:37 +0000 (UTC)", 1057049557 }, { "1 Jul 03 10:52:37 +0200", 1057049557 },
              { "1 Jul 2003 10:52 +0200", 1057049520 }, { "1 Jul 2003 01:52:37 PDT", 1057049557 },
              { "1 jul 2003 08:52:37 GMT", 1057049557 }, { "1 Jul 2003 08:52:37", 1057049557 }, // no zone counts as UTC
              { "29 Feb 2024 00:00:00 +0000", 1709164800 }, { "29 Feb 2023 00:00:00 +0000", std::nullopt },
              { "1 Foo 2003 10:52:37 +0200", std::nullopt }, { "1 Jul 2003 25:52:37 +0200", std::nullopt },
              { "1 Jul 2003 10:52:37 +02", std::nullopt }, { "yesterday", std::nullopt }, { "", std::nullopt },
              { "1 Jul 20031 10:52:37 +0200", std::nullopt }, { "1 Jul 2003 10:52:37 +02000", std::nullopt },
              { "1 Jul 2003 10:5:37 +0200", std::nullopt },
              { "Tue, 1 Jul 2003 (a (nested) comment) 10:52:37 +0200", 1057049557 } };
    for (const auto& [text, seconds] : cases)
        EXPECT_EQ(maildir::parseRfc5322Date(text), seconds) << text;
}

// A date of the common form is read at its places; with a second space after its day, the cursor reads it.
// Both give the same, for good dates and bad ones.
TEST(MaildirItems, CommonDatesReadAsTheCursorReadsThem)
{
    const char* const dates[] = { "Tue, 1 Jul 2003 10:52:37 +0200", "01 Jul 2003 10:52:37 -0230",
        "Sat, 29 Feb 2020 23:59:60 +0000", "1 jUL 0049 10:52:37 +0200", "1 Jul 0999 10:52:37 +0200",
        "31 Apr 2003 10:00:00 +0000", "Xyz, 1 Jul 2003 10:52:37 +0200", "1 Jul 2003 10:52:37 +0260",
        "1 Jul 2003 24:00:00 +0000", "1 Jxl 2003 10:52:37 +0200", "1 Jul 2O03 10:52:37 +0200",
        "0 Jul 2003 10:52:37 +0200",
        // Without a zone, as a separator line's date is read.
        "5 Mar 2026 10:00:00", "Thu, 05 Mar 2026 10:00:00  ", "5 Mar 2026 10:00:00 x", "5 Mar 2026 10:00:00 +020" };
    for (const std::string date : dates) {
        std::string cursorRead = date;
        cursorRead.insert(cursorRead.find(' ', cursorRead.find_first_of("0123456789")), " ");
        EXPECT_EQ(maildir::parseRfc5322Date(date), maildir::parseRfc5322Date(cursorRead))
            << date << " / " << cursorRead;
    }
}

TEST(MaildirWalk, HostileTreesCostOnlyWhatCannotBeRead)
{
    // Each row builds store/ (and outside/), searches it, and checks the mails listed and what was left out:
    // "folder P" and "message P" could not be read, "again P" was entered already; P relative to the store.
    const auto mail = [](Tree& t, const QString& folder, const QString& name = QStringLiteral("1.m:2,S")) {
        t.maildir(folder);
        t.file(folder + QLatin1String("/cur/") + name, kPlain);
    };
    struct Case {
        const char* why;
        std::function<void(Tree&)> build;
        int listed;
        QStringList skipped;
    };
    const Case cases[] = {
        { "an unreadable lost+found in the root",
            [&](Tree& t) {
                mail(t, "store", "1.a:2,S");
                mail(t, "store", "2.b:2,S");
                t.lock("store/lost+found");
            },
            2, { "folder lost+found" } },
        { "an unreadable sub-folder",
            [&](Tree& t) {
                for (const char* folder : { "store/A", "store/B", "store/C" })
                    mail(t, folder);
                t.lock("store/B");
            },
            2, { "folder B" } },
        { "an unreadable message",
            [&](Tree& t) {
                for (const char* name : { "1.a:2,S", "2.b:2,S", "3.c:2,S" })
                    mail(t, "store", name);
                t.lock("store/cur/2.b:2,S");
            },
            2, { "message cur/2.b:2,S" } },
        { "an unreadable cur/: new/ and the folders below still count",
            [&](Tree& t) {
                t.maildir("store/A");
                t.file("store/A/new/1.n", kPlain);
                mail(t, "store/A/B");
                t.lock("store/A/cur");
            },
            2, { "folder A/cur" } },
        { "a directory, a FIFO and a link to /dev/zero in cur/",
            [&](Tree& t) {
                mail(t, "store", "1.a:2,S");
                QDir().mkpath(t.path("store/cur/2.dir:2,S"));
                ASSERT_EQ(::mkfifo(QFile::encodeName(t.path("store/cur/3.fifo:2,S")).constData(), 0600), 0);
                t.link("store/cur/4.zero:2,S", "/dev/zero");
            },
            1, { "message cur/2.dir:2,S", "message cur/3.fifo:2,S", "message cur/4.zero:2,S" } },
        { "folder paths longer than the kernel takes at once", [&](Tree& t) { t.deepChain("store", 20, 250, kPlain); },
            20, {} },
        { "links back up, to the root, to nowhere, and a message link within the store",
            [&](Tree& t) {
                mail(t, "store");
                mail(t, "store/A");
                t.maildir("store/A/B");
                t.file("store/A/B/msg", kPlain);
                t.link("store/A/B/cur/4.linked:2,S", t.path("store/A/B/msg"));
                t.link("store/A/B/up", t.path("store/A"));
                t.link("store/.Loop", t.path("store"));
                t.link("store/Gone", t.path("nowhere"));
                t.link("store/A/cur/2.dangling:2,S", t.path("nowhere"));
                t.link("store/A/cur/3.self:2,S", t.path("store/A/cur/3.self:2,S"));
            },
            3, { "again .Loop", "again A/B/up" } },
        { "two links from each folder of a chain to the next",
            [&](Tree& t) {
                for (int i = 1; i <= 4; ++i) {
                    mail(t, QStringLiteral("store/L%1").arg(i));
                    if (i > 1)
                        for (const char* link : { "a", "b" })
                            t.link(
                                QStringLiteral("store/L%1/%2").arg(i - 1).arg(link), QStringLiteral("../L%1").arg(i));
                }
            },
            4, { "again L1/a", "again L1/b", "again L2/a", "again L2/b", "again L3/a", "again L3/b" } },
        { "a Maildir++ link to a folder entered already keeps the folders below it",
            [&](Tree& t) {
                mail(t, "store/.A");
                t.link("store/.B", ".A");
                mail(t, "store/.B.C");
            },
            2, { "again .B" } },
        { "a folder link out of the store",
            [&](Tree& t) {
                mail(t, "store/A");
                mail(t, "outside/M");
                t.link("store/A/out", t.path("outside/M"));
            },
            1, { "folder A/out" } },
        { "a link to the root of the file system",
            [&](Tree& t) {
                mail(t, "store/A");
                t.link("store/A/everything", "/");
            },
            1, { "folder A/everything" } },
        { "a message link out of the store",
            [&](Tree& t) {
                mail(t, "store", "1.a:2,S");
                t.file("outside/secret", kPlain);
                t.link("store/cur/2.out:2,S", t.path("outside/secret"));
            },
            1, { "message cur/2.out:2,S" } },
    };
    test::runUnprivileged({}, [&] {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.why);
            Tree tree;
            c.build(tree);
            const QString store = tree.path("store");
            test::ScriptedPerson person;
            ResultList list;
            QStringList skipped;
            searchMailFolder(
                person, Settings(), QStringLiteral("\\\\Store"), list,
                [&] {
                    return Namespace::fromStores({ { QStringLiteral("Store"), store } });
                },
                [&](Walk::Skip kind, const Error& why) {
                    const char* word = kind == Walk::Skip::Folder ? "folder "
                        : kind == Walk::Skip::Message             ? "message "
                                                                  : "again ";
                    skipped << QLatin1String(word) + why.path.mid(store.size() + 1);
                });
            skipped.sort();
            EXPECT_EQ(list.count(), c.listed);
            EXPECT_EQ(skipped, c.skipped);
            const qsizetype folders = c.skipped.filter(QRegularExpression(QStringLiteral("^folder "))).size();
            const qsizetype messages = c.skipped.filter(QRegularExpression(QStringLiteral("^message "))).size();
            const QString told = person.messages().join(u'\n');
            if (folders + messages == 0) {
                EXPECT_TRUE(told.isEmpty()) << qPrintable(told);
            } else {
                EXPECT_TRUE(
                    told.startsWith(QStringLiteral("%1 folders and %2 messages could not be read. The first: %3/")
                                        .arg(folders)
                                        .arg(messages)
                                        .arg(store)))
                    << qPrintable(told);
            }
        }
    });
}

TEST(MaildirItems, MessagesThatMoveWhileListedAreFoundOrSkipped)
{
    Tree tree;
    tree.maildir(QString());
    tree.file(QStringLiteral("cur/1.first:2,S"), message("Subject: first\n"));
    tree.file(QStringLiteral("cur/2.second:2,S"), message("Subject: second\n"));
    tree.file(QStringLiteral("cur/3.third:2,S"), message("Subject: third\n"));
    tree.file(QStringLiteral("new/4.fourth"), message("Subject: fourth\n"));
    auto store = tree.open();
    QStringList subjects;
    const Status status = folderAt(*store, "Inbox")->items([&](const ItemSummary& item) {
        if (subjects.isEmpty()) { // another client acts while the list is read
            QFile::rename(tree.path("cur/2.second:2,S"), tree.path("cur/2.second:2,RS"));
            QFile::remove(tree.path("cur/3.third:2,S"));
            QFile::rename(tree.path("new/4.fourth"), tree.path("cur/4.fourth:2,"));
        }
        subjects += item.subject;
    });
    ASSERT_TRUE(status.ok());
    subjects.sort();
    EXPECT_EQ(subjects, (QStringList { "first", "fourth", "second" }));
}

TEST(MaildirWalk, FoldersListedAheadSeeWhatChangedSince)
{
    // A walk with worker threads lists a folder's messages when it finds the folder and reads them after the
    // folders before it: what another client does in between is seen as in a folder listed when it is read.
    Tree tree;
    for (const char* folder : { "A", "B", "C", "D" }) {
        tree.maildir(QLatin1String(folder));
        tree.file(QLatin1String(folder) + QLatin1String("/new/1.n"), message("Subject: new\n"));
        tree.file(QLatin1String(folder) + QLatin1String("/cur/2.c:2,S"), message("Subject: cur\n"));
    }
    auto store = tree.open();
    auto top = store->topFolder();
    ASSERT_TRUE(top);
    WorkerThreads workers(1);
    QStringList skipped;
    Walk walk([&](Walk::Skip, const Error& why) { skipped << why.describe(); });
    walk.useWorkers(&workers);
    auto children = (*top)->folders(walk);
    ASSERT_TRUE(children);
    ASSERT_EQ(children->size(), 4u);
    std::this_thread::sleep_for(std::chrono::milliseconds(50)); // most likely listed by now; the same either way
    ASSERT_TRUE(QFile::rename(tree.path("B/new/1.n"), tree.path("B/cur/1.n:2,S")));
    ASSERT_TRUE(QFile::remove(tree.path("C/cur/2.c:2,S")));
    ASSERT_TRUE(QDir(tree.path("D")).removeRecursively());
    // A message found again after it moved comes after the others, as in a folder that changes while it is read.
    const QStringList expected[]
        = { { "cur/2.c:2,S", "new/1.n" }, { "cur/1.n:2,S", "cur/2.c:2,S" }, { "new/1.n" }, {} };
    for (std::size_t i = 0; i < children->size(); ++i) {
        const Folder& folder = *(*children)[i];
        SCOPED_TRACE(folder.name().toStdString());
        QStringList files;
        const Status status = folder.items(
            [&](const ItemSummary& item) {
                const auto ref = maildir::decodeEntryID(item.entryID);
                ASSERT_TRUE(ref);
                files << QString::fromLatin1(ref->subdir + '/' + ref->fileName);
            },
            walk);
        EXPECT_TRUE(status.ok());
        files.sort();
        EXPECT_EQ(files, expected[i]);
    }
    EXPECT_TRUE(skipped.isEmpty()) << skipped.join(u'\n').toStdString();
}

TEST(MaildirEntryID, FindsTheMessageAfterItsFlagsChange)
{
    Tree tree;
    tree.maildir(QStringLiteral(".Work"));
    tree.file(QStringLiteral(".Work/cur/1.one:2,S"), message("Subject: one\n"));
    tree.file(QStringLiteral(".Work/new/2.two"), message("Subject: two\n"));
    auto store = tree.open();
    const auto items = itemsOf(*folderAt(*store, "Work"));
    ASSERT_EQ(items.size(), 2u);
    const QString one = items[0].entryID, two = items[1].entryID;
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^[0-9A-F]+$")).match(one).hasMatch());
    EXPECT_TRUE(store->owns(one));
    const auto expectFound = [](Store& in, const QString& id, const char* subject) {
        auto found = in.item(id);
        ASSERT_TRUE(found.ok()) << qPrintable(found.error().describe());
        EXPECT_EQ((*found)->summary().subject, QLatin1String(subject));
        EXPECT_EQ((*found)->parent()->folderPath(), QStringLiteral("\\\\Store\\Work"));
    };
    expectFound(*store, one, "one");

    ASSERT_TRUE(QFile::rename(tree.path(".Work/cur/1.one:2,S"), tree.path(".Work/cur/1.one:2,RS")));
    ASSERT_TRUE(QFile::rename(tree.path(".Work/new/2.two"), tree.path(".Work/cur/2.two:2,S")));
    expectFound(*store, one, "one");
    expectFound(*store, two, "two"); // moved from new/ to cur/

    // Another run's store finds it too, and again after a rename: the folder's index is read again.
    auto again = tree.open();
    expectFound(*again, one, "one");
    ASSERT_TRUE(QFile::rename(tree.path(".Work/cur/1.one:2,RS"), tree.path(".Work/cur/1.one:2,FRS")));
    expectFound(*again, one, "one");

    ASSERT_TRUE(QFile::remove(tree.path(".Work/cur/1.one:2,FRS")));
    EXPECT_EQ(store->item(one).error().code, Error::Code::NotFound);
}

TEST(MaildirEntryID, BelongsToOneStoreOnly)
{
    Tree tree;
    tree.maildir(QString());
    tree.file(QStringLiteral("cur/1.a:2,S"), kPlain);
    auto store = tree.open(QStringLiteral("Mine"));
    auto other = tree.open(QStringLiteral("Other"));
    const auto items = itemsOf(*folderAt(*store, "Inbox"));
    ASSERT_EQ(items.size(), 1u);
    const QString hostile = maildir::encodeEntryID({ "Mine", "../elsewhere", "1.a", "cur", "1.a:2,S" });
    for (const QString& id :
        { items[0].entryID, QStringLiteral("00000000ABCDEF"), QStringLiteral("xyz"), QString(), hostile }) {
        SCOPED_TRACE(qPrintable(id));
        Store& foreign = id == items[0].entryID ? *other : *store;
        EXPECT_FALSE(foreign.owns(id));
        EXPECT_FALSE(foreign.item(id).ok());
    }
}

TEST(MaildirItem, WholeMessageForSaving)
{
    const QByteArray bytes
        = "Return-Path: <ann@example.org>\r\nDate: Tue, 1 Jul 2003 10:52:37 +0200\r\n"
          "From: Ann Example <ann@example.org>\r\nTo: Bob <bob@example.org>\r\n"
          "Cc: Carol <carol@example.org>, dave@example.org\r\nBcc: eve@example.org\r\nSubject: Report\r\n"
          "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"outer\"\r\n\r\n"
          "--outer\r\nContent-Type: multipart/alternative; boundary=\"alt\"\r\n\r\n"
          "--alt\r\nContent-Type: text/plain; charset=iso-8859-1\r\nContent-Transfer-Encoding: quoted-printable\r\n"
          "\r\nGr=FC=DFe\r\n"
          "--alt\r\nContent-Type: text/html; charset=utf-8\r\nContent-Transfer-Encoding: base64\r\n\r\n"
          "PHA+R3LDvMOfZTwvcD4=\r\n--alt--\r\n"
          "--outer\r\nContent-Type: text/plain; charset=utf-8\r\n"
          "Content-Disposition: attachment; filename*=UTF-8''%E2%82%AC%20rates.txt\r\n"
          "Content-Transfer-Encoding: base64\r\n\r\ncmF0ZXM=\r\n"
          "--outer\r\nContent-Type: image/png\r\nContent-ID: <logo>\r\n\r\nPNG\r\n"
          "--outer\r\nContent-Type: message/rfc822\r\n\r\nSubject: Inner\r\nFrom: x@example.org\r\n\r\ninner body\r\n"
          "--outer--\r\n";
    auto one = oneMessage(bytes);
    ASSERT_TRUE(one);
    const MailItem& item = *one->item;
    EXPECT_EQ(item.rawMessage(), bytes);
    EXPECT_EQ(item.senderName(), QStringLiteral("Ann Example"));
    EXPECT_EQ(item.displayCc(), QStringLiteral("Carol; dave@example.org"));
    EXPECT_EQ(item.plainBody(), QString::fromUtf8("Grüße"));
    EXPECT_EQ(item.htmlBody(), QString::fromUtf8("<p>Grüße</p>"));
    EXPECT_TRUE(item.transportHeaders().startsWith(QLatin1String("Return-Path: <ann@example.org>\r\n")));
    EXPECT_TRUE(item.transportHeaders().endsWith(QLatin1String("boundary=\"outer\"\r\n")));

    QStringList recipients;
    for (const Recipient& r : item.recipients())
        recipients << r.name + u'|' + r.address + u'|' + QString::number(int(r.type));
    EXPECT_EQ(recipients,
        (QStringList {
            "Bob|bob@example.org|1", "Carol|carol@example.org|2", "|dave@example.org|2", "|eve@example.org|3" }));

    auto attachments = item.attachments();
    ASSERT_TRUE(attachments.ok());
    QStringList seen; // an inline part without a name is kept too
    for (const auto& a : *attachments)
        seen << a->fileName() + u'|' + a->mimeType() + u'|' + QString::fromUtf8(a->data()->left(6));
    EXPECT_EQ(seen,
        (QStringList {
            QString::fromUtf8("€ rates.txt|text/plain|rates"), "|image/png|PNG", "Inner.eml|message/rfc822|Subjec" }));
    EXPECT_EQ((*attachments)[0]->embeddedMessage(), nullptr);
    const Attachment& inner = *(*attachments)[2];
    auto embedded = inner.embeddedMessage();
    ASSERT_TRUE(embedded);
    EXPECT_EQ(embedded->summary().subject, QStringLiteral("Inner"));
    EXPECT_EQ(embedded->summary().senderEmailAddress, QStringLiteral("x@example.org"));
    EXPECT_EQ(embedded->summary().creationTime, noDate());
    EXPECT_EQ(embedded->plainBody(), QStringLiteral("inner body"))
        << "the line break before a boundary is the boundary's";
    EXPECT_EQ(embedded->parent(), nullptr);
    EXPECT_TRUE(inner.data()->contains("inner body"));
}

// Each level of a mail attached in a mail attached in a mail gives the level below byte for byte, and the
// innermost its attachment, while the levels above are gone (an attached mail shares its parent's bytes).
TEST(MaildirItem, NestedMailsGiveEachLevelWhole)
{
    QByteArray level = "Subject: Level 3\nContent-Type: multipart/mixed; boundary=\"z\"\n\n--z\n"
                       "Content-Type: application/octet-stream\nContent-Disposition: attachment; filename=d.bin\n"
                       "Content-Transfer-Encoding: base64\n\nAAEC\n--z--\n";
    QByteArrayList levels { level };
    for (int i = 2; i >= 0; --i) {
        const QByteArray boundary = "b" + QByteArray::number(i);
        level = "Subject: Level " + QByteArray::number(i) + "\nContent-Type: multipart/mixed; boundary=\"" + boundary
            + "\"\n\n--" + boundary + "\nContent-Type: text/plain\n\nLevel " + QByteArray::number(i) + "\n--" + boundary
            + "\nContent-Type: message/rfc822\n\n" + level + "\n--" + boundary + "--\n";
        levels.prepend(level);
    }
    auto one = oneMessage(levels[0]);
    ASSERT_TRUE(one);
    std::unique_ptr<MailItem> item = std::move(one->item);
    for (int i = 1; i < levels.size(); ++i) {
        auto attachments = item->attachments();
        ASSERT_TRUE(attachments.ok());
        ASSERT_EQ(attachments->size(), 1u) << i;
        EXPECT_EQ(*attachments->front()->data(), levels[i]) << i;
        std::unique_ptr<MailItem> inner = attachments->front()->embeddedMessage();
        ASSERT_TRUE(inner) << i;
        item = std::move(inner); // the level above goes, its bytes stay as long as the level below needs them
        EXPECT_EQ(item->rawMessage(), levels[i]) << i;
        EXPECT_EQ(item->summary().subject, QStringLiteral("Level %1").arg(i));
    }
    auto data = item->attachments();
    ASSERT_TRUE(data.ok());
    ASSERT_EQ(data->size(), 1u);
    EXPECT_EQ(*data->front()->data(), QByteArray("\x00\x01\x02", 3));
}

// Reading every level of a mail nested in mails parses its bytes once, not once more at each level (40
// levels of a 64 KiB mail took 40 times its size before).
TEST(MaildirItem, NestedMailsAreParsedOnce)
{
    for (const int depth : { 1, 40 }) {
        QByteArray raw = "Subject: Innermost\nContent-Type: multipart/mixed; boundary=\"z\"\n\n--z\n"
                         "Content-Type: application/octet-stream\nContent-Disposition: attachment; filename=d.bin\n\n"
            + QByteArray(64 * 1024, 'x') + "\n--z--\n";
        for (int i = 0; i < depth; ++i)
            raw = "Subject: Level\nContent-Type: multipart/mixed; boundary=\"b" + QByteArray::number(i) + "\"\n\n--b"
                + QByteArray::number(i) + "\nContent-Type: message/rfc822\n\n" + raw + "\n--b" + QByteArray::number(i)
                + "--\n";
        const std::size_t before = maildir::bytesParsed();
        std::unique_ptr<MailItem> item = maildir::makeMessage(raw, {}, {}, nullptr, maildir::BodyReading::Parser);
        for (int level = 0; level < depth; ++level) {
            auto attachments = item->attachments();
            ASSERT_TRUE(attachments.ok() && attachments->size() == 1u) << depth << " " << level;
            item = attachments->front()->embeddedMessage();
            ASSERT_TRUE(item) << depth << " " << level;
        }
        EXPECT_EQ(item->summary().subject, QStringLiteral("Innermost")) << depth;
        auto data = item->attachments();
        ASSERT_TRUE(data.ok() && data->size() == 1u) << depth;
        EXPECT_EQ(data->front()->data()->size(), 64 * 1024) << depth;
        EXPECT_LE(maildir::bytesParsed() - before, std::size_t(raw.size())) << depth;
    }
}

TEST(MaildirItem, BodyCharsets)
{
    struct Case {
        const char* why;
        QByteArray contentType, body;
        QString text;
    };
    const QString greeting = QString::fromUtf8("Grüße");
    const Case cases[] = {
        { "windows-1252", "text/plain; charset=windows-1252", "\x80 5", QString::fromUtf8("€ 5") },
        { "koi8-r", "text/plain; charset=koi8-r", "\xF0\xD2\xC9\xD7\xC5\xD4", QString::fromUtf8("Привет") },
        { "unknown charset, UTF-8 bytes", "text/plain; charset=x-nonsense", greeting.toUtf8(), greeting },
        { "unknown charset, Latin-1 bytes", "text/plain; charset=x-nonsense", kLatin1Greeting, greeting },
        { "no charset, Latin-1 bytes", "text/plain", kLatin1Greeting, greeting },
        { "no Content-Type at all", "", "plain\r\ntext", QStringLiteral("plain\ntext") },
        { "declared UTF-8, one stray byte: only it is replaced", "text/plain; charset=utf-8",
            "Gr\xC3\xBC\xFF\xC3\x9F\x65", QString::fromUtf8("Grü\uFFFDße") },
        { "Shift_JIS with Microsoft's characters", "text/plain; charset=Shift_JIS", "\x87\x40\x81\x60\xEE\xE0",
            QString::fromUtf8("①～髙") },
        { "EUC-KR with characters only windows-949 has", "text/plain; charset=\"euc-kr\"", "\x8C\x63\xC7\xD1",
            QString::fromUtf8("똠한") },
        { "ISO-8859-1 read as windows-1252", "text/plain; charset=ISO-8859-1", "\x80\x93\x94\x96\x85",
            QString::fromUtf8("€“”–…") },
        { "us-ascii read as windows-1252", "text/plain; charset=us-ascii", "\x80 5 \xE9", QString::fromUtf8("€ 5 é") },
        { "gb2312 read as GBK", "text/plain; charset=gb2312", "\x81\x40", QString::fromUtf8("丂") },
        { "tis-620 read as windows-874", "text/plain; charset=tis-620", "\x80\xA1", QString::fromUtf8("€ก") },
        { "an HTML part's charset only in its <meta> tag", "text/html",
            "<head><meta http-equiv=Content-Type content=\"text/html; charset=windows-1251\"></head>\xCF\xF0\xE8",
            QString::fromUtf8(
                "<head><meta http-equiv=Content-Type content=\"text/html; charset=windows-1251\"></head>При") },
        { "the same in a part of a multipart message", "multipart/alternative; boundary=b",
            "--b\nContent-Type: text/html\n\n<meta charset='shift_jis'>\x87\x40\n--b--\n",
            QString::fromUtf8("<meta charset='shift_jis'>①") },
        { "CR LF becomes LF, a CR on its own stays", "text/plain; charset=utf-8", "\r\na\r\r\nb\rc\r\nd\r",
            QStringLiteral("\na\r\nb\rc\nd\r") },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        QByteArray headers = "Subject: body\n";
        if (!c.contentType.isEmpty())
            headers += "Content-Type: " + c.contentType + "\n";
        auto one = oneMessage(message(headers, c.body));
        ASSERT_TRUE(one);
        EXPECT_EQ(one->item->plainBody() + one->item->htmlBody(), c.text);
    }
}

TEST(MaildirItem, OnePartMessagesReadDirectlyAsTheParserReadsThem)
{
    // One plain text part is read without GMime's tree, as the full parse reads it; anything unsure goes to GMime.
    struct Case {
        const char* why;
        QByteArray headers, body;
        bool direct;
    };
    const Case cases[] = {
        { "no MIME headers at all", "Subject: a\n", "line\r\nline\r\n", true },
        { "8-bit UTF-8", "Content-Type: text/plain; charset=UTF-8\nContent-Transfer-Encoding: 8bit\n",
            QString::fromUtf8("Grüße\n").toUtf8(), true },
        { "quoted-printable Latin-1, soft line breaks",
            "Content-Type: text/plain; charset=\"iso-8859-1\"; format=flowed\n"
            "Content-Transfer-Encoding: Quoted-Printable\n",
            "Gr=FC=DFe, a long=\r\n line=3D=\r\n\r\n=E4\r\n", true },
        { "base64 in lines, HTML", "Content-Type: TEXT/HTML;\n charset=utf-8\nContent-Transfer-Encoding: base64\n",
            "PHA+R3LDvMOfZTwv\r\ncD4=\r\n", true },
        { "base64 that decodes to nothing", "Content-Transfer-Encoding: base64\n", "====\n", true },
        { "empty body", "Subject: a\n", "", true },
        { "inline disposition, trailing semicolon",
            "Content-Type: text/plain; charset=us-ascii;\nContent-Disposition: inline\n", "text", true },
        { "addresses of every kind",
            "To: \"Doe, John\" <j@x.org>, team: a@x.org, B <b@x.org>;\nCc: undisclosed-recipients:;\n"
            "Bcc: a@x.org (Ann A), <c@x.org>\nFrom: Ann \xE4 <a@x.org>\n",
            "hi", true },
        { "folded address list", "To: Bob <bob@x.org>,\r\n\tCarol\r\n <carol@x.org>\r\n", "hi", true },
        { "a list plain up to its last address, which GMime reads",
            "To: Bob <bob@x.org>, carol@x.org, =?UTF-8?Q?J=C3=B6rg?= <j@x.org>\n", "hi", true },
        { "multipart", "Content-Type: multipart/mixed; boundary=b\n",
            "--b\nContent-Type: text/plain\n\none\n--b\nContent-Type: text/html\n\n<p>two</p>\n--b--\n", false },
        { "named part", "Content-Type: text/plain; name=\"notes.txt\"\n", "notes", false },
        { "attached part", "Content-Disposition: attachment\n", "notes", false },
        { "RFC 2231 charset", "Content-Type: text/plain; charset*=utf-8''x\n", "text", false },
        { "RFC 2231 name", "Content-Type: text/plain; name*=utf-8''a.txt\n", "text", false },
        { "comment in the type", "Content-Type: text/plain (old mailer); charset=utf-8\n", "text", false },
        { "uuencoded", "Content-Transfer-Encoding: x-uuencode\n", "begin 644 a.txt\n#86)C\n`\nend\n", false },
        { "two Content-Type fields", "Content-Type: text/html\nContent-Type: text/plain\n", "<b>x</b>", false },
        { "address list with a fault", "To: Romple.org>; Tue, (02 Feb 2021\n", "hi", false },
        { "two To fields", "To: a@x.org\nTo: b@x.org\n", "hi", false },
        { "white space before the first field", " Subject: a\nFrom: a@x.org\n", "hi", false },
        { "mbox separator line", "From someone Tue Jul  1 10:52:37 2003\nSubject: a\n", "hi", false },
        { "calendar body", "Content-Type: text/calendar; method=REQUEST\n", "BEGIN:VCALENDAR\n", false },
    };
    const QByteArray from = "From: =?ISO-8859-1?Q?J=F6rg?= <j@x.org>\n";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        const QByteArray raw = (c.headers.contains("From:") ? QByteArray() : from) + c.headers + "\n" + c.body;
        EXPECT_EQ(maildir::readsWithoutParser(raw), c.direct);
        expectReadAsTheParserReads(raw);
    }
}

// The parts of a multipart are found by their offsets as GMime's parser finds them, and each part read on its
// own is what the whole parse reads: the layouts where a reading of boundaries by RFC 2046 alone and GMime's
// differ, and those a splitter gets wrong first.
TEST(MaildirItem, MultipartsReadPartByPartAsTheParserReadsThem)
{
    struct Case {
        const char* why;
        QByteArray contentType, body;
        bool split;
    };
    const QByteArray attached = "Content-Disposition: attachment; filename=";
    const Case cases[] = {
        { "preamble and epilogue", "multipart/mixed; boundary=b",
            "preamble\n--b\nContent-Type: text/plain\n\nbody\n--b\nContent-Type: application/pdf; name=a.pdf\n"
            "Content-Transfer-Encoding: base64\n\nJVBERi0=\n--b--\nepilogue\n",
            true },
        { "CR LF throughout", "multipart/mixed; boundary=b",
            "--b\r\nContent-Type: text/plain\r\n\r\none\r\n--b\r\n" + attached + "a.txt\r\n\r\ntwo\r\n--b--\r\n",
            true },
        { "no closing boundary", "multipart/mixed; boundary=b",
            "--b\nContent-Type: text/plain\n\none\n--b\n" + attached + "a.txt\n\ntwo\n", true },
        { "closing boundary without a line end", "multipart/mixed; boundary=b", "--b\n" + attached + "a\n\nx\n--b--",
            true },
        { "white space after boundaries, lines that only look like one", "multipart/mixed; boundary=b",
            "--b \t\nContent-Type: text/plain\n\none\n--bx\n-- b\n--b--x\n--b\t\r\n" + attached
                + "a\n\ndata\n--b--  \n",
            true },
        { "LF content before a CR LF boundary: GMime takes two bytes off", "multipart/mixed; boundary=b",
            "--b\n" + attached + "a\n\nabc\n--b\r\n" + attached + "c\n\nxyz\r\n--b--\n", true },
        { "a boundary line inside a header block ends it: read whole", "multipart/mixed; boundary=b",
            "--b\nContent-Type: text/plain\n--b\nX-Other: 1\n\ntext\n--b--\n", false },
        { "parts without fields, an empty part", "multipart/mixed; boundary=b", "--b\n\nbare text\n--b\n\n--b--\n",
            true },
        { "nested alternative and an inline image", "multipart/mixed; boundary=\"b\"",
            "--b\nContent-Type: multipart/alternative; boundary=\"alt\"\n\n--alt\nContent-Type: text/plain\n\nplain\n"
            "--alt\nContent-Type: text/html\n\n<p>html</p>\n--alt--\n--b\nContent-Type: image/png; name=i.png\n"
            "Content-ID: <i@x>\nContent-Disposition: inline\nContent-Location: i.png\n\nPNG\n--b--\n",
            true },
        { "an inner multipart left open ends at the outer boundary", "multipart/mixed; boundary=b",
            "--b\nContent-Type: multipart/related; boundary=in\n\n--in\nContent-Type: text/html\n\n<b>x</b>\n--b\n"
                + attached + "after\n\nafter\n--b--\n",
            true },
        { "inner boundary a prefix of the outer one", "multipart/mixed; boundary=ab",
            "--ab\nContent-Type: multipart/mixed; boundary=a\n\n--a\n" + attached + "one\n\n1\n--ab\n" + attached
                + "two\n\n2\n--ab--\n",
            true },
        { "an attached mail with its own parts", "multipart/mixed; boundary=b",
            "--b\nContent-Type: message/rfc822\n\nSubject: inner\nContent-Type: multipart/mixed; boundary=c\n\n"
            "--c\nContent-Type: text/plain\n\ninner text\n--b\n"
                + attached + "z\n\nz\n--b--\n",
            true },
        { "the outer boundary in an attached mail's header block: read whole", "multipart/mixed; boundary=b",
            "--b\nContent-Type: message/rfc822\n\nSubject: inner\n--b\n" + attached + "z\n\nz\n--b--\n", false },
        { "in a digest a part without a type is a mail", "multipart/digest; boundary=b",
            "--b\n\nSubject: digested\n\ntext\n--b\nContent-Type: text/plain\n\nnote\n--b--\n", true },
        { "an encoded attached mail is a file", "multipart/mixed; boundary=b",
            "--b\nContent-Type: message/rfc822\nContent-Transfer-Encoding: base64\n\nU3ViamVjdDogeA0KDQp5\n--b--\n",
            true },
        { "an attached mail that is empty", "multipart/mixed; boundary=b",
            "--b\nContent-Type: message/rfc822\n\n--b--\n", true },
        { "no parts, only the closing boundary", "multipart/mixed; boundary=b", "pre\n--b--\n", true },
        { "a field value cut by the end", "multipart/mixed; boundary=b",
            "--b\nContent-Type: text/plain\n\nx\n--b\nContent-Type: appli", true },
        { "a field name cut by the end: GMime keeps no part", "multipart/mixed; boundary=b",
            "--b\nContent-Type: text/plain\n\nx\n--b\nContent-Ty", true },
        { "two Content-Type fields: the last counts", "multipart/mixed; boundary=b",
            "--b\nContent-Type: text/plain\nContent-Type: application/octet-stream\n\nx\n--b--\n", true },
        { "quoted boundary with a space", "multipart/mixed; boundary=\"a b\"",
            "--a b\nContent-Type: text/plain\n\nx\n--a b\n" + attached + "y\n\ny\n--a b--\n", true },
        { "boundary of other characters: read whole", "multipart/mixed; boundary=\"a{b}\"",
            "--a{b}\nContent-Type: text/plain\n\nx\n--a{b}--\n", false },
        { "no multipart: read whole", "application/pdf; name=a.pdf", "%PDF", false },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        const QByteArray raw
            = "From: Ann <ann@example.org>\nTo: bob@example.org\nContent-Type: " + c.contentType + "\n\n" + c.body;
        EXPECT_EQ(maildir::PartSplit::of(raw, [](const auto&...) {}).has_value(), c.split);
        expectReadAsTheParserReads(raw, maildir::BodyReading::Split);
    }
}

// A mail of 40,000 small attachments took some KiB of GMime objects per part, over thirty times its size; read
// part by part it costs a few times its size, and every attachment is still there with its name and bytes.
TEST(MaildirItem, ManyPartsCostMemoryProportionalToTheMessage)
{
    auto mailOf = [](int parts) {
        QByteArray raw = "From: a@example.org\r\nContent-Type: multipart/mixed; boundary=\"b\"\r\n\r\n--b\r\n"
                         "Content-Type: text/plain\r\n\r\nSee the files.\r\n";
        for (int i = 0; i < parts; ++i)
            raw += "--b\r\nContent-Type: application/octet-stream\r\nContent-Disposition: attachment; filename=\"f"
                + QByteArray::number(i) + ".bin\"\r\nContent-Transfer-Encoding: base64\r\n\r\nAAECAwQFBgc=\r\n";
        return raw + "--b--\r\n";
    };
    auto readAll = [](const QByteArray& raw, int parts) {
        const auto item = maildir::makeMessage(raw, {}, {}, nullptr);
        auto attachments = item->attachments();
        if (item->plainBody() != QLatin1String("See the files.") || !attachments || int(attachments->size()) != parts)
            return false;
        for (int i = 0; i < parts; ++i)
            if ((*attachments)[i]->fileName() != QStringLiteral("f%1.bin").arg(i)
                || *(*attachments)[i]->data() != QByteArray("\x00\x01\x02\x03\x04\x05\x06\x07", 8))
                return false;
        return true;
    };
    const QByteArray small = mailOf(300), raw = mailOf(40'000);
    const qint64 growth = test::peakGrowthInChild([&] { readAll(small, 300); }, [&] { return readAll(raw, 40'000); });
    ASSERT_GE(growth, 0) << "every attachment read back";
    // AddressSanitizer's quarantine keeps freed memory, so the peak says nothing there.
    if (!test::kAddressSanitizer) {
        EXPECT_LT(growth, 4 * raw.size());
    }
}

TEST(MaildirStore, OpeningNeedsADirectory)
{
    Tree tree;
    tree.file(QStringLiteral("file"), "x");
    auto notADir = openMaildirStore(QStringLiteral("S"), tree.path("file"));
    ASSERT_FALSE(notADir.ok());
    EXPECT_EQ(notADir.error().code, Error::Code::NotAStore);
    auto store = openMaildirStore(QStringLiteral("S"), tree.root());
    ASSERT_TRUE(store.ok());
    QDir(tree.root()).removeRecursively();
    EXPECT_FALSE((*store)->topFolder().ok()) << "removed after opening";
}

TEST(MaildirStore, SampleMailboxReadsWholeAndDirectlyAsTheParserReadsIt)
{
    auto store
        = openMaildirStore(QStringLiteral("Sample Mailbox"), QStringLiteral(SOURCE_DIR "/samples/Sample Mailbox"));
    ASSERT_TRUE(store.ok());
    int all = 0, direct = 0;
    std::function<void(const Folder&)> visit = [&](const Folder& folder) {
        for (const ItemSummary& summary : itemsOf(folder)) {
            SCOPED_TRACE(qPrintable(folder.folderPath() + u' ' + summary.subject));
            ++all;
            auto item = (*store)->item(summary.entryID);
            ASSERT_TRUE(item.ok());
            EXPECT_EQ((*item)->summary().subject, summary.subject);
            EXPECT_FALSE(summary.subject.contains(QLatin1String("=?"))) << "an encoded word left undecoded";
            if (summary.subject.startsWith(QString::fromUtf8("Überlänge"))) {
                EXPECT_TRUE(summary.subject.endsWith(QLatin1String(", Ende")));
            }
            EXPECT_EQ((*item)->parent()->folderPath(), folder.folderPath());
            direct += maildir::readsWithoutParser((*item)->rawMessage()) ? 1 : 0;
            expectReadAsTheParserReads((*item)->rawMessage());
        }
        auto children = folder.folders();
        ASSERT_TRUE(children.ok());
        for (const auto& child : *children)
            visit(*child);
    };
    visit(**(*store)->topFolder());
    EXPECT_GT(all, 30);
    EXPECT_GT(direct, 0);
    EXPECT_LT(direct, all);
}

TEST(MaildirItem, DetailsFromHeaders)
{
    struct Case {
        const char* headers;
        std::function<void(const MessageDetails&)> check;
    };
    const Case cases[] = {
        { "Message-ID: <a@b>\nIn-Reply-To: <z@b>\nReferences: <y@b>\n <z@b>\nThread-Topic: "
          "=?utf-8?q?Gr=C3=BC=C3=9Fe?=\n"
          "Thread-Index: AdKg\nKeywords: Work, Zürich ,,\n",
            [](const MessageDetails& d) {
                EXPECT_EQ(d.messageId, QStringLiteral("<a@b>"));
                EXPECT_EQ(d.inReplyTo, QStringLiteral("<z@b>"));
                EXPECT_EQ(d.references, QStringLiteral("<y@b> <z@b>")) << "unfolded";
                EXPECT_EQ(d.conversationTopic, QStringLiteral("Grüße"));
                EXPECT_EQ(d.conversationIndex, QByteArray::fromHex("01D2A0"));
                EXPECT_EQ(d.categories, QStringList({ QStringLiteral("Work"), QStringLiteral("Zürich") }));
                EXPECT_FALSE(d.importance || d.priority || d.sender);
            } },
        { "Importance: High\nX-Priority: 5\nPriority: non-urgent\n",
            [](const MessageDetails& d) {
                EXPECT_EQ(d.importance, 2) << "Importance wins over X-Priority";
                EXPECT_EQ(d.priority, -1);
            } },
        { "X-Priority: 1 (Highest)\nPriority: urgent\n",
            [](const MessageDetails& d) {
                EXPECT_EQ(d.importance, 2);
                EXPECT_EQ(d.priority, 1);
            } },
        { "X-Priority: 5 (Lowest)\nImportance: unheard-of\n",
            [](const MessageDetails& d) { EXPECT_EQ(d.importance, 0); } },
        { "From: Boss <boss@example.org>\nSender: Assistant <assist@example.org>\n"
          "Reply-To: Team <team@example.org>, other@example.org\n",
            [](const MessageDetails& d) {
                ASSERT_TRUE(d.sender);
                EXPECT_EQ(d.sender->address, QStringLiteral("assist@example.org"));
                ASSERT_EQ(d.replyTo.size(), 2);
                EXPECT_EQ(d.replyTo[0].name, QStringLiteral("Team"));
                EXPECT_EQ(d.replyTo[1].address, QStringLiteral("other@example.org"));
            } },
        { "From: Boss <boss@example.org>\nSender: BOSS@example.org\n",
            [](const MessageDetails& d) { EXPECT_FALSE(d.sender) << "the same mailbox"; } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.headers);
        const auto one = oneMessage(message(QByteArray("Subject: s\n") + c.headers));
        ASSERT_TRUE(one);
        c.check(one->item->details());
    }
}

// Read: the S flag in cur/; a mail in new/ is unread whatever its name says. F flags it for follow-up.
TEST(MaildirItem, ReadStateAndFollowUpFlagFromTheFile)
{
    Tree tree;
    tree.maildir(QString());
    const std::tuple<QString, bool, std::optional<int>> files[] = {
        { QStringLiteral("cur/1.a:2,S"), true, std::nullopt },
        { QStringLiteral("cur/2.b:2,FR"), false, 2 },
        { QStringLiteral("cur/3.c"), false, std::nullopt },
        { QStringLiteral("new/4.d:2,S"), false, std::nullopt },
    };
    for (const auto& [name, read, flag] : files)
        tree.file(name, message("Subject: " + name.toLatin1() + "\n"));
    auto store = tree.open();
    const auto items = itemsOf(*folderAt(*store, "Inbox"));
    ASSERT_EQ(items.size(), std::size(files));
    for (const ItemSummary& summary : items) {
        auto item = store->item(summary.entryID);
        ASSERT_TRUE(item.ok());
        const MessageDetails details = (*item)->details();
        for (const auto& [name, read, flag] : files)
            if (name == summary.subject) {
                SCOPED_TRACE(qPrintable(name));
                EXPECT_EQ(details.read, read);
                EXPECT_EQ(details.flagStatus, flag);
            }
    }
}

// A part the HTML shows by Content-ID is inline: by its disposition, or with none but a Content-ID.
TEST(MaildirItem, InlinePartsKeepTheirContentId)
{
    const auto one = oneMessage(message("Subject: s\nMIME-Version: 1.0\nContent-Type: multipart/related; boundary=b\n",
        "--b\nContent-Type: text/html\n\n<img src=\"cid:a@x\">\n"
        "--b\nContent-Type: image/png\nContent-Disposition: inline; filename=a.png\nContent-ID: <a@x>\n\nPNG\n"
        "--b\nContent-Type: image/gif\nContent-ID: <b@x>\nContent-Location: b.gif\n\nGIF\n"
        "--b\nContent-Type: application/pdf\nContent-Disposition: attachment; filename=c.pdf\nContent-ID: "
        "<c@x>\n\nPDF\n"
        "--b--\n"));
    ASSERT_TRUE(one);
    auto attachments = one->item->attachments();
    ASSERT_TRUE(attachments.ok());
    const std::tuple<const char*, const char*, bool> expected[]
        = { { "a@x", "", true }, { "b@x", "b.gif", true }, { "c@x", "", false } };
    ASSERT_EQ(attachments->size(), std::size(expected));
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        const auto& [id, location, isInline] = expected[i];
        EXPECT_EQ((*attachments)[i]->contentId(), QLatin1String(id));
        EXPECT_EQ((*attachments)[i]->contentLocation(), QLatin1String(location));
        EXPECT_EQ((*attachments)[i]->isInline(), isInline) << id;
    }
}

// SPDX-License-Identifier: MIT
// The mbox store: messages split as Python's `mailbox` module and GMime's mbox parser split them, the
// Thunderbird tree, the three times, entry identifiers that survive no rewrite of the file, bad files.
#include <gmime/gmime.h>

#include "core/gmime.h"
#include "mail/mbox/mboxfile.h"
#include "mail/mbox/mboxstore.h"
#include "mail/search.h"
#include "output/saverun.h"
#include "support/qtprinters.h"
#include "support/scriptedperson.h"
#include "support/storewalk.h"
#include "support/testenv.h"
#include "support/testfiles.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace quillbox;
using quillbox::test::berlin;
using quillbox::test::writeFile;

namespace {

const QString kLocalFolders
    = QStringLiteral(SOURCE_DIR "/samples/thunderbird-home/.thunderbird/k3x9.default-release/Mail/Local Folders");

// Each message of the mbox file `path` as Python's mailbox module reads it, the empty line before the next
// separator left out (Python keeps it in a CR LF file) and the mboxrd quoting undone.
QList<QByteArray> pythonMessages(const QString& path)
{
    const char* script = R"py(
import base64, mailbox, re, sys
box = mailbox.mbox(sys.argv[1], create=False)
for key in box.iterkeys():
    data = box.get_bytes(key)
    if data.endswith(b"\r\n\r\n"):
        data = data[:-2]
    print("m:" + base64.b64encode(re.sub(rb"(?m)^>(>*From )", rb"\1", data)).decode())
)py";
    QProcess python;
    python.start(QStringLiteral("python3"), { QStringLiteral("-c"), QString::fromLatin1(script), path });
    EXPECT_TRUE(python.waitForFinished(120000));
    EXPECT_EQ(python.exitCode(), 0) << python.readAllStandardError().toStdString();
    QList<QByteArray> messages;
    for (const QByteArray& line : python.readAllStandardOutput().split('\n'))
        if (line.startsWith("m:"))
            messages << QByteArray::fromBase64(line.mid(2));
    return messages;
}

// Where GMime's mbox parser finds each message's "From " line.
QList<qint64> gmimeOffsets(const QString& path)
{
    GMimeParserOptions* options = parserOptions();
    QList<qint64> offsets;
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY);
    GMimeStream* stream = g_mime_stream_fs_new(fd);
    GMimeParser* parser = g_mime_parser_new_with_stream(stream);
    g_mime_parser_set_format(parser, GMIME_FORMAT_MBOX);
    while (!g_mime_parser_eos(parser)) {
        GMimeMessage* message = g_mime_parser_construct_message(parser, options);
        if (!message)
            break;
        offsets << g_mime_parser_get_mbox_marker_offset(parser);
        g_object_unref(message);
    }
    g_object_unref(parser);
    g_object_unref(stream);
    return offsets;
}

struct Read {
    QList<QByteArray> raw;
    QList<qint64> offsets;
    std::vector<test::ListedItem> items;
};

// Every message of the store at `location` as the store lists it and then gives it by its identifier.
Read readStore(const QString& location)
{
    Read read;
    auto store = mail::openStore(QStringLiteral("Box"), location);
    EXPECT_TRUE(store) << store.error().describe().toStdString();
    if (!store)
        return read;
    auto top = (*store)->topFolder();
    EXPECT_TRUE(top);
    EXPECT_TRUE(test::walk(**top, read.items));
    for (const auto& listed : read.items) {
        auto item = (*store)->item(listed.summary.entryID);
        EXPECT_TRUE(item) << item.error().describe().toStdString();
        read.raw << (item ? (*item)->rawMessage() : QByteArray("<gone>"));
    }
    return read;
}

// Where a scan with a window of `window` bytes finds messages, and where each one's text and bytes end,
// the file scanned whole or, with `piece`, in pieces of that size. Every span is held until the scan has
// ended: the first bytes each one gives must still be the file's then, wherever the window has moved.
QList<std::array<qint64, 3>> scannedSpans(const QString& path, std::size_t window, qint64 piece = 0)
{
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    const qint64 size = bytes.size();
    std::vector<mail::mbox::MessageSpan> spans;
    for (qint64 from = 0; from < size || from == 0; from += piece > 0 ? piece : size + 1) {
        auto scanner = piece > 0 ? mail::mbox::MessageScanner::piece(file.handle(), from, from + piece, size, window)
                                 : mail::mbox::MessageScanner(file.handle(), 0, window);
        mail::mbox::MessageSpan span;
        for (auto more = scanner.next(span); more && *more; more = scanner.next(span))
            spans.push_back(span);
    }
    QList<std::array<qint64, 3>> found;
    for (const auto& held : spans) {
        found.push_back({ held.offset, held.contentStart, held.end });
        EXPECT_EQ(QByteArray(held.head.data(), qsizetype(held.head.size())),
            bytes.mid(held.contentStart, qsizetype(held.head.size())))
            << "message at " << held.offset << ", window " << window;
    }
    return found;
}

// The messages at which a lookup by offset disagrees with the scan of the whole file: another span or other
// bytes, a message found one byte into it, or the last one found in a file said to be longer than it is;
// -1 when the checks worked out together are not those worked out one by one.
QList<qint64> lookupsThatDisagree(const QString& path)
{
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    mail::mbox::MessageScanner scanner(file.handle());
    QList<qint64> disagree;
    mail::mbox::CheckBatch batch;
    std::vector<QByteArray> checks;
    mail::mbox::MessageSpan span, looked;
    for (auto more = scanner.next(span); more && *more; more = scanner.next(span)) {
        batch.add(span);
        checks.push_back(firstBytesCheck(span));
        QByteArray message;
        const auto found = mail::mbox::readMessageAt(file.handle(), bytes.size(), span.offset, looked, message);
        if (!found || !*found || looked.offset != span.offset || looked.contentStart != span.contentStart
            || looked.end != span.end || looked.fromLine != span.fromLine
            || message != bytes.mid(span.contentStart, span.end - span.contentStart)
            || firstBytesCheck(looked) != firstBytesCheck(span))
            disagree << span.offset;
        const auto inside = mail::mbox::readMessageAt(file.handle(), bytes.size(), span.offset + 1, looked, message);
        const bool last = span.end == bytes.size() || bytes.indexOf("\nFrom ", span.end - 1) < 0;
        const auto cut = mail::mbox::readMessageAt(file.handle(), bytes.size() + 1, span.offset, looked, message);
        if (!inside || *inside || (last && (!cut || *cut)))
            disagree << span.offset + 1;
    }
    std::vector<QByteArray> together;
    for (const mail::mbox::CheckText& check : batch.take())
        together.emplace_back(check.data(), qsizetype(check.size()));
    if (together != checks)
        disagree << -1;
    return disagree;
}

QByteArray message(const QByteArray& subject, const QByteArray& body, const QByteArray& eol = "\n")
{
    QByteArray text = "From sender@example.org Thu Mar  5 10:00:00 2026\nDate: Thu, 5 Mar 2026 10:00:00 +0100\n"
                      "From: Ann <ann@example.org>\nSubject: "
        + subject + "\n\n" + body + "\n";
    text.replace("\n", eol);
    return text;
}

// Many messages of many sizes, so that separators fall on every side of the scanner's window edges.
QByteArray manyMessages()
{
    QByteArray all;
    for (int i = 0; i < 900; ++i)
        all += message("m" + QByteArray::number(i), QByteArray((i * 7919) % 20000, 'a' + char(i % 26))) + "\n";
    return all;
}

} // namespace

TEST(MboxReader, SplitsFilesAsPythonsMailboxAndGMimeDo)
{
    struct Case {
        const char* why;
        QByteArray file;
    };
    const Case cases[] = {
        { "mboxo: a quoted From line in the body, lines that only look like one",
            message("one", "Hello\n>From the desk of Ann\nFromage\nfrom lowercase\n From indented") + "\n"
                + message("two", "Bye") },
        { "mboxrd: several levels of quoting", message("rd", ">>From deep\n>>>From deeper\n>From one") },
        { "CR LF line ends",
            message("crlf 1", "Line\r\n>From quoted", "\r\n") + "\r\n" + message("crlf 2", "x", "\r\n") },
        { "no final newline", message("first", "a") + "\n" + message("last", "no newline").chopped(1) },
        { "a Content-Length that lies",
            message("short", "Content-Length: 5 is in the body\nmore body")
                    .replace("Subject: short", "Content-Length: 3\nSubject: short")
                + "\n" + message("long", "b").replace("Subject: long", "Content-Length: 99999\nSubject: long") },
        { "separators without a sender or date, and no empty line before them",
            "From \nSubject: no date\n\nbody\nFrom ???\nSubject: odd\n\nx\n" },
        { "a message with nothing in it between two separators", "From a\nFrom b\nSubject: b\n\nb\n" },
        { "NUL bytes", message("nul", QByteArray("a\0b\0\0c", 6)) },
        { "a 10 MB line", message("big", QByteArray(10 << 20, 'x')) + "\n" + message("after", "small") },
        { "separators on both sides of the window's edges", manyMessages() },
    };
    QTemporaryDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        const QString path = dir.filePath(QStringLiteral("box"));
        writeFile(path, c.file);
        const QList<QByteArray> expected = pythonMessages(path);
        const Read read = readStore(path);
        ASSERT_EQ(read.raw.size(), expected.size());
        for (qsizetype i = 0; i < expected.size(); ++i)
            EXPECT_EQ(read.raw[i], expected[i]) << "message " << i;
        QList<qint64> offsets;
        const auto whole = scannedSpans(path, 4 << 20);
        for (const auto& span : whole)
            offsets << span[0];
        EXPECT_EQ(offsets, gmimeOffsets(path));
        EXPECT_EQ(scannedSpans(path, 4096), whole);
        // Pieces that end on every side of separators, on separator lines and inside long messages.
        for (const qint64 piece : { 1, 5, 4096, 4099, 65536 })
            if (c.file.size() / piece < 20000) {
                EXPECT_EQ(scannedSpans(path, 4096, piece), whole) << "pieces of " << piece;
            }
        EXPECT_EQ(lookupsThatDisagree(path), QList<qint64>());
    }
}

TEST(MboxReader, ReadsAThunderbirdTreeWithoutItsExpungedMessages)
{
    auto store = mail::openStore(QStringLiteral("Local"), kLocalFolders);
    ASSERT_TRUE(store) << store.error().describe().toStdString();
    EXPECT_EQ((*store)->kind(), QStringLiteral("mbox"));
    auto top = (*store)->topFolder();
    ASSERT_TRUE(top);
    std::vector<test::ListedItem> items;
    QStringList folders;
    ASSERT_TRUE(test::walk(**top, items, &folders));
    EXPECT_EQ(folders,
        (QStringList { "\\\\Local", "\\\\Local\\Archives", "\\\\Local\\Archives\\2025", "\\\\Local\\Inbox",
            "\\\\Local\\Trash", "\\\\Local\\Unsent Messages" }));
    QStringList listed;
    for (const auto& item : items)
        listed << item.folder + u'|' + item.summary.subject;
    EXPECT_EQ(listed,
        (QStringList { "\\\\Local\\Archives\\2025|Year-end archive", "\\\\Local\\Inbox|Quarterly figures",
            "\\\\Local\\Inbox|Réunion du jeudi" }));

    // Found again by identifier, with its folder, its quoted line given back, and its times.
    auto item = (*store)->item(items[1].summary.entryID);
    ASSERT_TRUE(item);
    EXPECT_TRUE((*item)->rawMessage().contains("\nFrom the desk of Ann"));
    EXPECT_TRUE((*item)->rawMessage().startsWith("X-Mozilla-Status: 0001\n"));
    EXPECT_EQ((*item)->parent()->folderPath(), QStringLiteral("\\\\Local\\Inbox"));
    EXPECT_EQ((*item)->summary().receivedTime, berlin(2026, 3, 3, 9, 14, 58));
    EXPECT_EQ((*(*store)->item(items[0].summary.entryID))->parent()->folderPath(),
        QStringLiteral("\\\\Local\\Archives\\2025"));
}

// A folder reached through an item's parent lists the sub-folders its ".sbd" directory holds.
TEST(MboxReader, AnItemsParentListsTheSubFoldersOfItsSbd)
{
    QTemporaryDir dir;
    QDir().mkpath(dir.filePath(QStringLiteral("Inbox.sbd")));
    writeFile(dir.filePath(QStringLiteral("Inbox")), message("top", "1"));
    writeFile(dir.filePath(QStringLiteral("Inbox.sbd/Sub")), message("sub", "2"));
    const Read read = readStore(dir.path());
    ASSERT_EQ(read.items.size(), 2u);
    auto store = mail::openStore(QStringLiteral("Box"), dir.path());
    const auto parent = (*(*store)->item(read.items[0].summary.entryID))->parent();
    mail::Walk walk;
    auto children = parent->folders(walk);
    ASSERT_TRUE(children && children->size() == 1);
    EXPECT_EQ(children->front()->folderPath(), QStringLiteral("\\\\Box\\Inbox\\Sub"));
}

TEST(MboxReader, TimesComeFromTheHeadersAndTheSeparatorLine)
{
    struct Case {
        const char* why;
        QByteArray separator;
        QByteArray headers;
        QDateTime creation, received, sentOn;
    };
    const QDateTime none = mail::noDate();
    const Case cases[] = {
        { "asctime in UTC; a Received header", "From a@example.org Thu Mar  5 10:00:00 2026",
            "Received: by x; Thu, 5 Mar 2026 11:30:00 +0100\nDate: Thu, 5 Mar 2026 11:00:00 +0100\n",
            berlin(2026, 3, 5, 11, 0), berlin(2026, 3, 5, 11, 30), berlin(2026, 3, 5, 11, 0) },
        { "Thunderbird's separator; no Received header", "From - Fri Mar 06 08:00:00 2026",
            "Date: Thu, 5 Mar 2026 11:00:00 +0100\n", berlin(2026, 3, 6, 9, 0), berlin(2026, 3, 6, 9, 0),
            berlin(2026, 3, 5, 11, 0) },
        { "a zone on the separator, before the year", "From 1591@xxx Thu Jun 04 17:46:25 +0000 2020", "",
            berlin(2020, 6, 4, 19, 46, 25), berlin(2020, 6, 4, 19, 46, 25), none },
        { "no date on the separator: the Date header made it", "From someone", "Date: Thu, 5 Mar 2026 11:00:00 +0100\n",
            berlin(2026, 3, 5, 11, 0), none, berlin(2026, 3, 5, 11, 0) },
        { "a sender that reads like a day of the month", "From 12 Thu Mar  5 10:00:00 2026", "",
            berlin(2026, 3, 5, 11, 0), berlin(2026, 3, 5, 11, 0), none },
        { "nothing at all", "From ", "Subject: x\n", none, none, none },
    };
    QTemporaryDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        const QString path = dir.filePath(QStringLiteral("times.mbox"));
        writeFile(path, c.separator + '\n' + c.headers + "\nbody\n");
        const Read read = readStore(path);
        ASSERT_EQ(read.items.size(), 1u);
        const mail::ItemSummary& s = read.items[0].summary;
        EXPECT_EQ(read.items[0].folder, QStringLiteral("\\\\Box\\times"));
        EXPECT_EQ(s.creationTime, c.creation);
        EXPECT_EQ(s.receivedTime, c.received);
        EXPECT_EQ(s.sentOn, c.sentOn);
    }
}

// The usual separator line is read at fixed places; what it gives must be what reading it word by word
// gives, also on lines that look usual but are not.
TEST(MboxReader, SeparatorDatesReadAlikeInEveryForm)
{
    const auto utc = [](int year, int month, int day, int hour, int minute, int second) {
        return std::optional<qint64>(
            QDateTime(QDate(year, month, day), QTime(hour, minute, second), Qt::UTC).toSecsSinceEpoch());
    };
    const struct {
        const char* line;
        std::optional<qint64> seconds;
    } cases[] = {
        { "From a@example.org Thu Mar  5 10:00:00 2026", utc(2026, 3, 5, 10, 0, 0) },
        { "From a@example.org thu MAR 05 23:59:60 2026", utc(2026, 3, 6, 0, 0, 0) }, // a leap second
        { "From a@example.org\tThu Mar  5 10:00:00 2026", utc(2026, 3, 5, 10, 0, 0) },
        { "From a b Thu Mar  5 10:00:00 2026", utc(2026, 3, 5, 10, 0, 0) },
        { "From a@example.org Thu Mar  5 10:00:00 0049", utc(2049, 3, 5, 10, 0, 0) },
        { "From a@example.org Mon Mar  1 00:00:00 1965", utc(1965, 3, 1, 0, 0, 0) },
        { "From a@example.org Thu Xyz  5 10:00:00 2026", std::nullopt },
        { "From Mon:x Thu Mar  5 10:00:00 2026", std::nullopt }, // a sender read as the time of day
        { "From Thu Mar  5 10:00:00 2026", utc(2026, 3, 5, 10, 0, 0) }, // no sender
        { "From a@example.org Thu Feb 30 10:00:00 2026", std::nullopt },
        { "From a@example.org Thu Mar  5 10:0:00 2026", std::nullopt },
        { "From a@example.org Thu Mar  5 10:00:00 2026 ", utc(2026, 3, 5, 10, 0, 0) },
    };
    for (const auto& c : cases)
        EXPECT_EQ(mail::mbox::fromLineDate(c.line), c.seconds) << c.line;
}

// Entry identifiers saved in manifests hold this check: it must not change. FNV-1a of "From aSubject: x".
TEST(MboxReader, FirstBytesCheckStaysTheSame)
{
    mail::mbox::MessageSpan span;
    span.fromLine = "From a";
    span.head = "X-Mozilla-Status: 0001\r\nSubject: x\r\n";
    EXPECT_EQ(mail::mbox::firstBytesCheck(span), "3a045bab7fec1bd4");
}

// An mbox message keeps its read and starred state in its headers, which the .msg file carries on.
TEST(MboxReader, ReadAndStarredStateComeFromTheStatusHeaders)
{
    struct Case {
        const char* header;
        std::optional<bool> read;
        std::optional<int> flagStatus;
    };
    const Case cases[] = {
        { "X-Mozilla-Status: 0001\n", true, std::nullopt },
        { "X-Mozilla-Status: 0005\n", true, 2 },
        { "X-Mozilla-Status: 0000\nStatus: RO\n", false, std::nullopt }, // Thunderbird's own line wins
        { "Status: RO\n", true, std::nullopt },
        { "Status: O\n", false, std::nullopt },
        { "", std::nullopt, std::nullopt },
    };
    QTemporaryDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.header);
        const QString path = dir.filePath(QStringLiteral("state.mbox"));
        writeFile(
            path, "From a@example.org Thu Mar  5 10:00:00 2026\n" + QByteArray(c.header) + "Subject: x\n\nbody\n");
        auto store = mail::openStore(QStringLiteral("Box"), path);
        ASSERT_TRUE(store);
        std::vector<test::ListedItem> items;
        ASSERT_TRUE(test::walk(**(*store)->topFolder(), items));
        ASSERT_EQ(items.size(), 1u);
        const auto item = (*store)->item(items[0].summary.entryID);
        ASSERT_TRUE(item);
        EXPECT_EQ((*item)->details().read, c.read);
        EXPECT_EQ((*item)->details().flagStatus, c.flagStatus);
    }
}

// Thunderbird's status line as it writes it marks a message expunged; a line that only looks like it does not.
TEST(MboxReader, OnlyThunderbirdsOwnStatusLineLeavesAMessageOut)
{
    const struct {
        const char* status;
        bool listed;
    } cases[] = {
        { "X-Mozilla-Status: 0009\n", false },
        { "x-mozilla-status: 0008\n", false },
        { "X-Mozilla-Status: 0001\n", true },
        { "X-Mozilla-Status:\n 0009\n", true }, // the line's own value is empty
        { "X-Mozilla-Status:\nX-Mozilla-Status: 0009\n", true }, // the first line counts
        { "X-Mozilla-Status : 0009\n", true },
        { "X-Mozilla-Status : 0001\nX-Mozilla-Status: 0008\n", false },
        { "X-Mozilla-Status2: 0009\n", true },
    };
    QByteArray file;
    QStringList expected;
    for (int i = 0; i < int(std::size(cases)); ++i) {
        file += message(QByteArray::number(i), "x").replace("Subject: ", cases[i].status + QByteArray("Subject: "))
            + '\n';
        if (cases[i].listed)
            expected << QString::number(i);
    }
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("box"));
    writeFile(path, file);
    QStringList listed;
    for (const auto& item : readStore(path).items)
        listed << item.summary.subject;
    EXPECT_EQ(listed, expected);
}

TEST(MboxReader, AnEntryIdentifierFindsItsMessageOrNothingAfterARewrite)
{
    // The first and the last message carry a status line, which Thunderbird rewrites in place.
    const QByteArray first = message("first", "1").replace("Subject", "X-Mozilla-Status: 0000\nSubject");
    const QByteArray second = message("second", "2");
    const QByteArray third = message("third", "3").replace("Subject", "X-Mozilla-Status: 0000\nSubject");
    struct Case {
        const char* why;
        QByteArray rewritten; // the file after the listing
        QList<bool> found; // for each of the three listed messages
        bool inPlace = false; // written over the old file's bytes, not renamed over it
    };
    const Case cases[] = {
        { "unchanged", first + '\n' + second + '\n' + third, { true, true, true } },
        { "compacted: the first message removed", second + '\n' + third, { false, false, false } },
        { "Thunderbird's status changed in place (read, then deleted)",
            QByteArray(first + '\n' + second + '\n' + third)
                .replace("0000\nSubject: first", "0001\nSubject: first")
                .replace("0000\nSubject: third", "0009\nSubject: third"),
            { true, true, false } },
        { "the status changed in place, the file's size kept",
            QByteArray(first + '\n' + second + '\n' + third).replace("0000\nSubject: third", "0009\nSubject: third"),
            { true, true, false }, true },
        { "compacted in place", second + '\n' + third, { false, false, false }, true },
        { "a message appended", first + '\n' + second + '\n' + third + '\n' + message("fourth", "4"),
            { true, true, true } },
        { "cut short in the middle of the last message", first + '\n' + second + '\n' + third.left(40),
            { true, true, false } },
        { "emptied", QByteArray(), { false, false, false } },
    };
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Inbox"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        writeFile(path, first + '\n' + second + '\n' + third);
        const Read before = readStore(path);
        ASSERT_EQ(before.items.size(), 3u);
        // "mbox", the store, the file (none in a store of one file), the offset and the check, in upper-case hex.
        const QString id = before.items[1].summary.entryID;
        EXPECT_EQ(id, id.toUpper());
        EXPECT_EQ(QByteArray::fromHex(id.toLatin1()).split('\0').mid(0, 4),
            (QList<QByteArray> { "mbox", "Box", "", QByteArray::number(first.size() + 1) }));
        // A store that has read the file before it was rewritten, and one opened after.
        auto early = mail::openStore(QStringLiteral("Box"), path);
        ASSERT_TRUE(early);
        ASSERT_TRUE((*early)->item(before.items.back().summary.entryID));
        // Rewritten as Thunderbird compacts, into a new file renamed over the old; or in place.
        writeFile(c.inPlace ? path : path + QLatin1String(".new"), c.rewritten);
        ASSERT_TRUE(c.inPlace
            || ::rename(
                   QFile::encodeName(path + QLatin1String(".new")).constData(), QFile::encodeName(path).constData())
                == 0);
        auto late = mail::openStore(QStringLiteral("Box"), path);
        EXPECT_TRUE(late || c.rewritten.isEmpty());
        for (int i = 0; i < 6; ++i) {
            auto& store = i < 3 ? early : late;
            if (!store)
                continue;
            auto item = (*store)->item(before.items[std::size_t(i % 3)].summary.entryID);
            EXPECT_EQ(item.ok(), c.found[i % 3]) << "message " << i;
            if (item)
                EXPECT_EQ((*item)->summary().subject, before.items[std::size_t(i % 3)].summary.subject);
            else
                EXPECT_EQ(item.error().detail, QStringLiteral("the message is no longer in the store"));
        }
    }
}

TEST(MboxReader, AnEntryIdentifierNotMadeByTheStoreIsNotItsOwn)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Inbox"));
    writeFile(path, message("only", "1"));
    const Read read = readStore(path);
    ASSERT_EQ(read.items.size(), 1u);
    const QString id = read.items[0].summary.entryID;
    const QList<QByteArray> fields = QByteArray::fromHex(id.toLatin1()).split('\0');
    const auto with = [&fields](qsizetype i, const QByteArray& field) {
        QList<QByteArray> changed = fields;
        if (i < changed.size())
            changed[i] = field;
        else
            changed << field;
        return QString::fromLatin1(changed.join('\0').toHex().toUpper());
    };
    struct Case {
        const char* why;
        QString entryID;
        bool owned = false;
        bool found = false;
    };
    const Case cases[] = {
        { "as listed", id, true, true },
        { "the store's name in other letters", with(1, "BOX"), true, true },
        { "lower-case hex", id.toLower() },
        { "an odd length", id.chopped(1) },
        { "no hex", QString(id).replace(0, 1, u'G') },
        { "another store", with(1, "Other") },
        { "another kind of store", with(0, "maildir") },
        { "a field more", with(5, "x") },
        { "a field less", QString::fromLatin1(fields.mid(0, 4).join('\0').toHex().toUpper()) },
        { "an offset below zero", with(3, "-1") },
        { "an offset that is no number", with(3, "0x") },
        { "a file outside the store", with(2, "../Inbox") },
        { "an offset where no message starts", with(3, "1"), true },
        { "another check", with(4, "0123456789abcdef"), true },
    };
    auto store = mail::openStore(QStringLiteral("Box"), path);
    ASSERT_TRUE(store);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ((*store)->owns(c.entryID), c.owned);
        const auto item = (*store)->item(c.entryID);
        ASSERT_EQ(item.ok(), c.found);
        if (!item) {
            EXPECT_EQ(item.error().detail, QStringLiteral("the message is no longer in the store"));
        }
    }
}

TEST(MboxReader, ASaveAfterTheFileWasCompactedCountsTheRowsItNoLongerHolds)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Inbox"));
    const QByteArray kept = message("kept", "1"), deleted = message("deleted", "2");
    writeFile(path, deleted + '\n' + kept);
    test::ScriptedPerson person;
    Settings settings;
    settings.dateFormat = QStringLiteral("yymmdd HHMMSS");
    settings.fnFormat = QStringLiteral("%3");
    settings.clipAddress = settings.clipSubject = QStringLiteral("50");
    settings.fnOutput = QStringLiteral("EML");
    const auto open = [&] { return mail::Namespace::fromStores({ { QStringLiteral("Box"), path } }); };
    ResultList list;
    searchMailFolder(person, settings, QStringLiteral("\\\\Box\\Inbox"), list, open);
    ASSERT_EQ(list.count(), 2);
    writeFile(path, kept); // compacted: the deleted message is gone, the kept one moved
    const SaveSummary summary = saveRun(person, settings, QStringLiteral("\\\\Box\\Inbox"), list,
        dir.filePath(QStringLiteral("out")), open, output::Disk::system());
    EXPECT_EQ(summary.written, 0);
    EXPECT_EQ(summary.failed, 2);
    ASSERT_TRUE(summary.firstFailure);
    EXPECT_EQ(summary.firstFailure->detail, QStringLiteral("the message is no longer in the store"));
}

TEST(MboxReader, BadFilesAreRefusedOrReadAsFarAsTheyGo)
{
    QTemporaryDir dir;
    const QString tree = dir.filePath(QStringLiteral("tree"));
    writeFile(tree + QLatin1String("/Inbox"), message("in tree", "x"));
    writeFile(tree + QLatin1String("/Inbox.msf"), "// <!-- <mdb:mork:z v=\"1.4\"/> -->\n");
    writeFile(tree + QLatin1String("/notes.txt"), "Notes\nFrom is not at the start here\n");
    writeFile(tree + QLatin1String("/Stray"), ""); // empty, with no summary file: no folder
    ASSERT_EQ(::mkfifo(QFile::encodeName(tree + QLatin1String("/Pipe")).constData(), 0600), 0);
    ASSERT_EQ(::symlink(".", QFile::encodeName(tree + QLatin1String("/Loop.sbd")).constData()), 0);
    ASSERT_EQ(::symlink("/etc/passwd", QFile::encodeName(tree + QLatin1String("/Outside")).constData()), 0);
    Read read = readStore(tree);
    ASSERT_EQ(read.items.size(), 1u);
    EXPECT_EQ(read.items[0].folder, QStringLiteral("\\\\Box\\Inbox"));

    struct Refused {
        const char* why;
        QByteArray bytes;
    };
    for (const Refused& c : { Refused { "text", "Hello, world\n" }, Refused { "empty", "" },
             Refused { "a separator not at the start", "\nFrom a\n" } }) {
        SCOPED_TRACE(c.why);
        writeFile(dir.filePath(QStringLiteral("bad")), c.bytes);
        auto store = mail::openStore(QStringLiteral("Bad"), dir.filePath(QStringLiteral("bad")));
        ASSERT_FALSE(store);
        EXPECT_EQ(store.error().code, Error::Code::NotAStore);
    }

    // A file that grows while it is read: what was there when the reading began is listed.
    const QString growing = dir.filePath(QStringLiteral("growing"));
    writeFile(growing, message("one", "1") + '\n' + message("two", "2"));
    auto store = mail::openStore(QStringLiteral("G"), growing);
    ASSERT_TRUE(store);
    auto folder = test::folderAt(**store, QStringLiteral("growing"));
    ASSERT_NE(folder, nullptr);
    QStringList subjects;
    ASSERT_TRUE(folder->items([&](const mail::ItemSummary& s) {
        if (subjects.isEmpty()) {
            QFile file(growing);
            ASSERT_TRUE(file.open(QIODevice::Append));
            file.write('\n' + message("three", "3"));
        }
        subjects << s.subject;
    }));
    EXPECT_EQ(subjects, (QStringList { "one", "two" }));
}

TEST(MboxReader, UnquotingGivesBackTheLinesTheFileQuoted)
{
    const std::pair<QByteArray, QByteArray> cases[] = {
        { ">From a\n>>From b\n>From\n>Fromage\n> From c\nx>From d",
            "From a\n>From b\n>From\n>Fromage\n> From c\nx>From d" },
        { ">From end", "From end" },
        { "none", "none" },
    };
    for (auto [quoted, plain] : cases) {
        mail::mbox::unquoteFromLines(quoted);
        EXPECT_EQ(quoted, plain);
    }
}

// SPDX-License-Identifier: MIT
#include "mail/search.h"

#include "support/fakestore.h"
#include "support/qtprinters.h"
#include "support/scriptedperson.h"
#include "support/testfiles.h"
#include "support/unprivileged.h"

#include <QDirIterator>
#include <QProcess>
#include <QTemporaryDir>
#include <sys/stat.h>

#include <gtest/gtest.h>

using namespace quillbox;
using namespace quillbox::test;

namespace {

const QString kCantAccess = QStringLiteral("Can't access the specified Mail Folder.");
const QString kStartMessage = QStringLiteral("Error: folder path should start with \\\\");

QDateTime at(const char* iso)
{
    return QDateTime::fromString(QLatin1String(iso), Qt::ISODate);
}

// A sent mail whose three times are all `when`.
mail::ItemSummary mailAt(const QString& subject, const QDateTime& when, int itemClass = mail::kClassMail)
{
    mail::ItemSummary item;
    item.itemClass = itemClass;
    item.subject = subject;
    item.creationTime = item.sentOn = item.receivedTime = when;
    item.sent = true;
    item.entryID = subject.toUtf8().toHex().toUpper();
    return item;
}

FakeFolder folder(const QString& name, std::vector<mail::ItemSummary> items, std::vector<FakeFolder> below = {})
{
    FakeFolder f;
    f.name = name;
    f.items = std::move(items);
    f.folders = std::move(below);
    return f;
}

FakeFolder folderOf(const QString& name, const QStringList& subjects, std::vector<FakeFolder> below = {})
{
    std::vector<mail::ItemSummary> items;
    for (const QString& subject : subjects)
        items.push_back(mailAt(subject, at("2009-08-12T14:30:05")));
    return folder(name, std::move(items), std::move(below));
}

// `iso` in the system locale's short date form (en_US 8/12/09), with a four-digit year when asked.
QString shortDate(const char* iso, bool fourDigitYear = false)
{
    const QLocale locale = QLocale::system();
    QString format = locale.dateFormat(QLocale::ShortFormat);
    if (fourDigitYear && !format.contains(QLatin1String("yyyy")))
        format.replace(QLatin1String("yy"), QLatin1String("yyyy"));
    return locale.toString(QDate::fromString(QLatin1String(iso), Qt::ISODate), format);
}

QStringList column(const ResultList& list, Column c)
{
    QStringList cells;
    for (int r = 0; r < list.count(); ++r)
        cells << list.row(r).text(c);
    return cells;
}

struct Search {
    explicit Search(FakeFolder tree)
        : root(std::move(tree))
    {
    }

    FakeFolder root;
    Settings settings;
    ScriptedPerson person;
    ResultList list;

    void run(const QString& path)
    {
        searchMailFolder(person, settings, path, list, [this] { return fakeNamespace({ &root }); });
    }
};

// Mailbox (root1) > Inbox (in1, in2) > A (a1) > A1 (a11); Inbox > B (b1); Mailbox > Sent (s1)
FakeFolder walkTree()
{
    return folderOf(QStringLiteral("Mailbox"), { "root1" },
        { folderOf(QStringLiteral("Inbox"), { "in1", "in2" },
              { folderOf(QStringLiteral("A"), { "a1" }, { folderOf(QStringLiteral("A1"), { "a11" }) }),
                  folderOf(QStringLiteral("B"), { "b1" }) }),
            folderOf(QStringLiteral("Sent"), { "s1" }) });
}

} // namespace

TEST(searchMailFolder, WalksDepthFirstWithEachFolderBeforeItsSubFolders)
{
    Search search { walkTree() };
    int insertions = 0;
    QObject::connect(&search.list, &QAbstractItemModel::rowsInserted, [&insertions] { ++insertions; });
    search.run(QStringLiteral(R"(\\Mailbox)"));
    EXPECT_TRUE(search.person.messages().isEmpty());
    EXPECT_EQ(insertions, 6) << "a view is told once per folder with rows, not once per mail";
    EXPECT_EQ(column(search.list, ColSubject), (QStringList { "root1", "in1", "in2", "a1", "a11", "b1", "s1" }));
    EXPECT_EQ(column(search.list, ColFolder),
        (QStringList { R"(\\Mailbox)", R"(\\Mailbox\Inbox)", R"(\\Mailbox\Inbox)", R"(\\Mailbox\Inbox\A)",
            R"(\\Mailbox\Inbox\A\A1)", R"(\\Mailbox\Inbox\B)", R"(\\Mailbox\Sent)" }));

    search.run(QStringLiteral(R"(\\Mailbox\Inbox\)"));
    EXPECT_EQ(column(search.list, ColSubject), (QStringList { "in1", "in2", "a1", "a11", "b1" }))
        << "a new search replaces the rows of the last one";
}

// A watched search tells each folder read with the rows so far, and a stop ends it before the next folder with the
// rows of the folders read, in the order a whole search gives them, and nothing told to the person.
TEST(searchMailFolder, AWatchCountsFoldersAndStopsBetweenThem)
{
    const QStringList whole { "root1", "in1", "in2", "a1", "a11", "b1", "s1" };
    struct Case {
        int stopAfter; ///< folders read when the stop is set; 0: never
        int folders;
        int rows;
    };
    const Case cases[] = { { 1, 1, 1 }, { 3, 3, 4 }, { 6, 6, 7 }, { 0, 6, 7 } };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stopAfter);
        Search search { walkTree() };
        std::atomic<bool> stop = false;
        QStringList told;
        const SearchWatch watch { [&](int folders, int rows) {
                                     told << QStringLiteral("%1:%2").arg(folders).arg(rows);
                                     stop = folders == c.stopAfter;
                                 },
            &stop };
        const SearchOutcome outcome = searchMailFolder(
            search.person, search.settings, QStringLiteral(R"(\\Mailbox)"), search.list,
            [&search] { return fakeNamespace({ &search.root }); }, {}, -1, watch);
        EXPECT_EQ(column(search.list, ColSubject), whole.mid(0, c.rows));
        EXPECT_EQ(outcome.folders, c.folders);
        EXPECT_EQ(told.size(), c.folders);
        EXPECT_EQ(told.last(), QStringLiteral("%1:%2").arg(c.folders).arg(c.rows));
        EXPECT_EQ(outcome.stopped, c.stopAfter != 0 && c.stopAfter < 6);
        EXPECT_TRUE(outcome.found);
        EXPECT_TRUE(search.person.messages().isEmpty());
    }
}

TEST(searchMailFolder, PathProblemsAreReportedInOrderAndLeaveTheListEmpty)
{
    struct Case {
        const char* why;
        QString path;
        QStringList messages;
        int rows;
    };
    const Case cases[] = {
        { "no leading backslashes: both messages", R"(Mailbox\Inbox)", { kStartMessage, kCantAccess }, 0 },
        { "empty text", QString(), { kStartMessage, kCantAccess }, 0 },
        { "unknown folder", R"(\\Mailbox\Outbox)", { kCantAccess }, 0 },
        { "unknown store", R"(\\Elsewhere\Inbox)", { kCantAccess }, 0 },
        { "double separator", R"(\\Mailbox\\Inbox)", { kCantAccess }, 0 },
        { "trailing space names another folder", R"(\\Mailbox\Inbox )", { kCantAccess }, 0 },
        { "trailing backslash", R"(\\Mailbox\Inbox\)", {}, 5 },
        { "a folder without mail", R"(\\Mailbox\Empty)", {}, 0 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        FakeFolder tree = walkTree();
        tree.folders.push_back(folderOf(QStringLiteral("Empty"), {}));
        Search search { std::move(tree) };
        search.list.appendRow(ResultRow { .subject = QStringLiteral("from the last search") });
        search.run(c.path);
        EXPECT_EQ(search.person.messages(), c.messages);
        EXPECT_EQ(search.list.count(), c.rows);
    }
}

TEST(searchMailFolder, DateWindowBoundsAreInclusiveAtMidnight)
{
    const FakeFolder inbox = folder(QStringLiteral("Inbox"),
        { mailAt("day before since", at("2009-08-09T23:59:59")), mailAt("since midnight", at("2009-08-10T00:00:00")),
            mailAt("between", at("2009-08-11T12:00:00")), mailAt("before midnight", at("2009-08-12T00:00:00")),
            mailAt("on the before day", at("2009-08-12T00:00:01")) });
    struct Case {
        const char* why;
        QString since;
        QString before;
        QStringList listed;
    };
    const Case cases[] = {
        { "no window", "", "",
            { "day before since", "since midnight", "between", "before midnight", "on the before day" } },
        { "since a day: from its midnight on", "2009-08-10", "",
            { "since midnight", "between", "before midnight", "on the before day" } },
        { "before a day: up to its midnight", "", "2009-08-12",
            { "day before since", "since midnight", "between", "before midnight" } },
        { "both, in the locale's short form", shortDate("2009-08-10"), shortDate("2009-08-12", true),
            { "since midnight", "between", "before midnight" } },
        { "same day: only its midnight", "2009-08-12", "2009-08-12", { "before midnight" } },
        { "a time of day in a setting is dropped", "2009-08-10 18:00", shortDate("2009-08-12", true) + " 6:30 PM",
            { "since midnight", "between", "before midnight" } },
        { "text that is no date counts as no setting", "soon", "later",
            { "day before since", "since midnight", "between", "before midnight", "on the before day" } },
        { "since after before lists nothing", "2009-08-12", "2009-08-10", {} },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        Search search { folder(QStringLiteral("Mailbox"), {}, { inbox }) };
        search.settings.since = c.since;
        search.settings.before = c.before;
        search.run(QStringLiteral(R"(\\Mailbox)"));
        EXPECT_EQ(column(search.list, ColSubject), c.listed);
        EXPECT_TRUE(search.person.messages().isEmpty());
    }
}

TEST(searchMailFolder, WithoutSettingsTheWindowRunsFrom1900To2099)
{
    Search search { folder(QStringLiteral("Mailbox"),
        { mailAt("too early", at("1899-12-31T23:59:59")), mailAt("first", at("1900-01-01T00:00:00")),
            mailAt("last", at("2099-12-31T00:00:00")), mailAt("too late", at("2099-12-31T00:00:01")) }) };
    search.run(QStringLiteral(R"(\\Mailbox)"));
    EXPECT_EQ(column(search.list, ColSubject), (QStringList { "first", "last" }));
}

TEST(searchMailFolder, OnlyMailItemsAreListedAtEveryLevel)
{
    const QDateTime when = at("2009-08-12T14:30:05");
    Search search { folder(QStringLiteral("Mailbox"),
        { mailAt("report", when, mail::kClassReport), mailAt("mail", when),
            mailAt("meeting", when, mail::kClassMeetingRequest) },
        { folder(QStringLiteral("Calendar"),
            { mailAt("unknown class", when, 0), mailAt("deep mail", when), mailAt("note", when, 44) }) }) };
    search.run(QStringLiteral(R"(\\Mailbox)"));
    EXPECT_EQ(column(search.list, ColSubject), (QStringList { "mail", "deep mail" }));
}

TEST(searchMailFolder, FoldersThatCannotBeReadAreSkippedAndCounted)
{
    const auto unread = [](const char* first) {
        return QStringLiteral("1 folders and 0 messages could not be read. The first: ") + QLatin1String(first);
    };
    struct Case {
        const char* why;
        std::function<void(FakeFolder& inbox)> breakIt;
        QString path;
        QStringList listed;
        QStringList messages;
    };
    const Case cases[] = {
        { "an item of a sub-folder cannot be read", [](FakeFolder& inbox) { inbox.folders[0].itemsFailAfter = 1; },
            R"(\\Mailbox)", { "root1", "in1", "in2", "a1", "a11", "b1", "s1" },
            { unread(R"(\\Mailbox\Inbox\A: item cannot be read)") } },
        { "the sub-folders of a folder cannot be read", [](FakeFolder& inbox) { inbox.foldersFail = true; },
            R"(\\Mailbox)", { "root1", "in1", "in2", "s1" },
            { unread(R"(\\Mailbox\Inbox: sub-folders cannot be read)") } },
        { "the items of a folder cannot be read: its sub-folders still count",
            [](FakeFolder& inbox) { inbox.itemsFailAfter = 0; }, R"(\\Mailbox)", { "root1", "a1", "a11", "b1", "s1" },
            { unread(R"(\\Mailbox\Inbox: item cannot be read)") } },
        { "the searched folder cannot be read", [](FakeFolder& inbox) { inbox.itemsFailAfter = 0; },
            R"(\\Mailbox\Inbox)", { "a1", "a11", "b1" }, { kCantAccess } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        Search search { walkTree() };
        c.breakIt(search.root.folders[0]);
        search.run(c.path);
        EXPECT_EQ(column(search.list, ColSubject), c.listed);
        EXPECT_EQ(search.person.messages(), c.messages);
    }
}

TEST(searchMailFolder, SettingsAreReadAsTheyStandWhenNeeded)
{
    // Options changed while Inbox is read: its window stays, its rows take the new pattern, Below the new window.
    Search search { folderOf(QStringLiteral("Mailbox"), { "root" },
        { folderOf(QStringLiteral("Inbox"), { "inbox" }, { folderOf(QStringLiteral("Below"), { "below" }) }) }) };
    search.settings.dateFormat = QStringLiteral("yyyy");
    search.root.folders[0].onItems = [&settings = search.settings] {
        settings.dateFormat = QStringLiteral("yymmdd");
        settings.since = QStringLiteral("2010-01-01");
    };
    search.run(QStringLiteral(R"(\\Mailbox)"));
    EXPECT_EQ(column(search.list, ColSubject), (QStringList { "root", "inbox" }));
    EXPECT_EQ(column(search.list, ColSent), (QStringList { "2009", "090812" }));
}

// Neither the list nor the search stops at 32767 rows.
TEST(searchMailFolder, HasNoRowLimit)
{
    std::vector<mail::ItemSummary> items(40'000, mailAt("many", at("2009-08-12T14:30:05")));
    Search search { folder(QStringLiteral("Mailbox"), std::move(items)) };
    search.run(QStringLiteral(R"(\\Mailbox)"));
    EXPECT_TRUE(search.person.messages().isEmpty());
    EXPECT_EQ(search.list.count(), 40'000);
}

TEST(addResultRow, FillsTheRowAsTheStoreGivesIt)
{
    mail::ItemSummary item;
    item.sent = false; // "Sent" still shows SentOn
    item.sentOn = at("2009-08-12T14:30:05");
    item.receivedTime = mail::noDate();
    item.creationTime = at("2009-08-14T10:11:12");
    item.senderEmailAddress = QStringLiteral("alice@example.org");
    item.subject = QStringLiteral("  Re:  spaced out \t");
    item.to = QStringLiteral("Bob; carol@example.org");
    item.entryID = QStringLiteral("00000000ABCDEF");
    Settings settings;
    settings.dateFormat = QStringLiteral("yyyymmdd HHMMSS");
    std::vector<ResultRow> rows(1); // appended after what is there
    addResultRow(settings, QStringLiteral(R"(\\Mailbox\Inbox)"), item, rows);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1].texts(),
        (QStringList { "20090812 143005", "alice@example.org", "  Re:  spaced out \t", "Bob; carol@example.org", "",
            "00000000ABCDEF", R"(\\Mailbox\Inbox)", "20090814 101112" }));
    EXPECT_EQ(rows[1].sent, item.sentOn);
    EXPECT_FALSE(rows[1].received.isValid()) << "the store's no-date is no value and no text";
    EXPECT_EQ(rows[1].latestTime, item.creationTime);
}

TEST(addResultRow, WritesTheLatestTimeByItsOwnClock)
{
    mail::ItemSummary item;
    item.sent = true;
    item.sentOn = item.receivedTime = at("2009-08-12T14:30:05");
    item.creationTime = at("2009-08-12T16:00:00"); // the same day, later
    Settings settings;
    settings.dateFormat = QStringLiteral("yyyymmdd HHMMSS");
    std::vector<ResultRow> rows;
    addResultRow(settings, {}, item, rows);
    EXPECT_EQ(rows[0].latestTimeText, "20090812 160000");
}

TEST(getLatestTime, TakesTheLatestOfTheTimesThatCount)
{
    // Days of January 2009; 0 is the store's no-date.
    const auto day = [](int d) { return d ? QDateTime(QDate(2009, 1, d), QTime(0, 0)) : mail::noDate(); };
    struct Case {
        const char* why;
        int created, sentOn;
        bool sent;
        int received, latest;
    };
    const Case cases[] = {
        { "received last", 1, 2, true, 3, 3 },
        { "sent last", 1, 4, true, 3, 4 },
        { "unsent: sent time does not count", 1, 4, false, 3, 3 },
        { "created last", 5, 4, true, 3, 5 },
        { "a received time the store lacks does not count", 1, 2, true, 0, 2 },
        { "a sent time the store lacks does not count, though the mail is flagged sent", 1, 0, true, 3, 3 },
        { "no time known at all", 0, 0, true, 0, 0 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        mail::ItemSummary item;
        item.creationTime = day(c.created);
        item.sentOn = day(c.sentOn);
        item.sent = c.sent;
        item.receivedTime = day(c.received);
        EXPECT_EQ(getLatestTime(item), day(c.latest));
        // The row writes that time, not another of the three.
        Settings settings;
        settings.dateFormat = QStringLiteral("d");
        std::vector<ResultRow> rows;
        addResultRow(settings, {}, item, rows);
        EXPECT_EQ(rows[0].latestTimeText, c.latest ? QString::number(c.latest) : QString());
    }
}

TEST(readDateSetting, ReadsDatesAndDropsTheTime)
{
    const QDateTime fallback = at("1900-01-01T00:00:00");
    struct Case {
        const char* why;
        QString text;
        const char* expected; // ISO date-time, or nullptr for the default
    };
    std::vector<Case> cases = {
        { "ISO date", "2009-08-12", "2009-08-12T00:00:00" },
        { "blanks around", "  2009-08-12 ", "2009-08-12T00:00:00" },
        { "ISO date and time", "2009-08-12T14:30:00", "2009-08-12T00:00:00" },
        { "ISO date, space, time", "2009-08-12 14:30:00", "2009-08-12T00:00:00" },
        { "short form", shortDate("2009-08-12"), "2009-08-12T00:00:00" },
        { "short form, four-digit year", shortDate("2009-08-12", true), "2009-08-12T00:00:00" },
        { "short form and 24-hour time", shortDate("2009-08-12", true) + " 23:59", "2009-08-12T00:00:00" },
        { "short form and 12-hour time", shortDate("2009-08-12") + " 11:59:59 PM", "2009-08-12T00:00:00" },
        { "empty", "", nullptr },
        { "blank", "   ", nullptr },
        { "words", "yesterday", nullptr },
        { "no such day", "2009-02-30", nullptr },
        { "no such month", "2009-13-01", nullptr },
        { "a date followed by something else", shortDate("2009-08-12", true) + " and more", nullptr },
        { "a time alone", "14:30", nullptr },
    };
    if (!QLocale::system().dateFormat(QLocale::ShortFormat).contains(QLatin1String("yyyy"))) {
        cases.push_back({ "two-digit year 29 is 2029", shortDate("2029-01-02"), "2029-01-02T00:00:00" });
        cases.push_back({ "two-digit year 30 is 1930", shortDate("1930-01-02"), "1930-01-02T00:00:00" });
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        SCOPED_TRACE(c.text.toStdString());
        const QDateTime expected = c.expected ? at(c.expected) : fallback;
        EXPECT_EQ(readDateSetting(c.text, fallback).toString(Qt::ISODate), expected.toString(Qt::ISODate));
    }
}

// The bundled sample store, read by the Maildir backend.
namespace {

const QString kSampleStore = QStringLiteral(SOURCE_DIR "/samples/Sample Mailbox");

mail::Namespace sampleNamespace()
{
    return mail::Namespace::fromStores({ { QStringLiteral("Sample Mailbox"), kSampleStore } });
}

struct SampleSearch {
    Settings settings;
    ScriptedPerson person;
    ResultList list;

    void run(const QString& path) { searchMailFolder(person, settings, path, list, &sampleNamespace); }
};

} // namespace

// A real mail's row; the order of the walk is checked on the fake store.
TEST(SearchSampleStore, RowOfAMaildirMail)
{
    SampleSearch search;
    search.settings.dateFormat = QStringLiteral("yyyymmdd HHMMSS");
    search.run(QStringLiteral(R"(\\Sample Mailbox\Projects)"));
    ASSERT_TRUE(search.person.messages().isEmpty()) << search.person.messages().join(u'|').toStdString();
    EXPECT_EQ(search.list.count(), 3 + 5 + 5 + 3);
    const QString projects = QStringLiteral(R"(\\Sample Mailbox\Projects)");

    // Sent 10:00:00 +0100, delivered (topmost Received and file name) at 10:00:06.
    const int row = column(search.list, ColSubject).indexOf(QStringLiteral("Project kickoff notes"));
    ASSERT_GE(row, 0);
    const ResultRow& found = search.list.row(row);
    EXPECT_EQ(found.texts(),
        (QStringList { "20180115 100000", "dana.whitfield@example.org", "Project kickoff notes",
            "Robin Hale; Sam Okafor", "20180115 100006", found.entryId, projects, "20180115 100006" }));
}

TEST(SearchSampleStore, DateWindowOnRealTimes)
{
    struct Case {
        const char* why;
        const char* since;
        const char* before;
        const char* subject;
        bool listed;
    };
    const Case cases[] = {
        { "sent before Since, received after it", "2016-01-01", "2016-01-02", "Happy New Year!", true },
        { "delivered at 23:59:59 on the Before day", "2024-12-01", "2024-12-31", "Last one of the year", false },
        { "a draft without a date is listed by its file time", "", "", "Unfinished thoughts on the garden shed", true },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        SampleSearch search;
        search.settings.since = QLatin1String(c.since);
        search.settings.before = QLatin1String(c.before);
        search.run(QStringLiteral(R"(\\Sample Mailbox)"));
        EXPECT_EQ(column(search.list, ColSubject).contains(QLatin1String(c.subject)), c.listed);
    }
}

// --- Reading on several threads ----------------------------------------------------------------------------

namespace {

// Writes a store with quillbox-genmaildir into `dir`; false when the generator fails.
bool generateStore(const QString& dir, const QStringList& arguments)
{
    QProcess generator;
    generator.start(QStringLiteral(QUILLBOX_GENMAILDIR), QStringList { QStringLiteral("--out"), dir } + arguments);
    return generator.waitForFinished(120'000) && generator.exitStatus() == QProcess::NormalExit
        && generator.exitCode() == 0;
}

// What one search of a store gave: its rows' texts in order, each skip as it was told, the messages shown.
struct Searched {
    QStringList rows;
    QStringList skips;
    QStringList messages;
};

Searched searchWith(const QString& storeDir, int workerThreads)
{
    Searched out;
    ScriptedPerson person;
    Settings settings;
    settings.dateFormat = QStringLiteral("yyyymmdd HHMMSS");
    ResultList list;
    searchMailFolder(
        person, settings, QStringLiteral(R"(\\Gen)"), list,
        [&] {
            return mail::Namespace::fromStores({ { QStringLiteral("Gen"), storeDir } });
        },
        [&](mail::Walk::Skip kind, const Error& why) { out.skips << QString::number(int(kind)) + why.describe(); },
        workerThreads);
    for (int r = 0; r < list.count(); ++r)
        out.rows << list.row(r).texts().join(u'|');
    out.messages = person.messages();
    return out;
}

} // namespace

// Headers read and folders listed on worker threads: the same rows in the same order, the same skips told in
// the same order, the same closing message, in folders larger and smaller than the reading window, in more
// folders than are listed ahead, two of them with a cur/ that cannot be listed.
TEST(SearchGeneratedStore, WorkerThreadsChangeNoRowNorItsPlace)
{
    struct Case {
        const char* layout;
        QStringList arguments;
    };
    const Case cases[] = {
        { "nested, 700 messages a folder", { "--count", "2100", "--folders", "3", "--fanout", "2", "--depth", "1" } },
        { "maildir++, 150 folders",
            { "--count", "1500", "--folders", "150", "--layout", "maildir++", "--fanout", "6", "--depth", "3" } },
    };
    QTemporaryDir temp;
    ASSERT_TRUE(temp.isValid());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.layout);
        const QString store = temp.filePath(QString::fromLatin1(c.layout).section(u',', 0, 0));
        ASSERT_TRUE(generateStore(store, c.arguments + QStringList { "--size", "600", "--attachments", "0" }));
        // Files the walk leaves out or has lost, among the readable ones: a FIFO (no message file), a link out
        // of the store, a link to nothing.
        const QString cur = store + QStringLiteral("/cur/");
        ASSERT_TRUE(QDir(cur).exists());
        ASSERT_EQ(::mkfifo(QFile::encodeName(cur + QStringLiteral("1300000000.fifo.host:2,S")).constData(), 0600), 0);
        ASSERT_TRUE(QFile::link(temp.filePath(QStringLiteral("outside")), cur + QStringLiteral("1300000001.out.host")));
        writeFile(temp.filePath(QStringLiteral("outside")), "Subject: outside\r\n\r\n");
        ASSERT_TRUE(QFile::link(cur + QStringLiteral("none"), cur + QStringLiteral("1300000002.dangling.host")));
        QStringList subFolderCurs;
        for (QDirIterator it(store, { QStringLiteral("cur") }, QDir::Dirs | QDir::Hidden, QDirIterator::Subdirectories);
             it.hasNext();)
            if (const QString found = it.next(); found != store + QStringLiteral("/cur"))
                subFolderCurs << found;
        subFolderCurs.sort();
        ASSERT_GE(subFolderCurs.size(), 2);
        for (const QString& locked : { subFolderCurs.first(), subFolderCurs.last() })
            ASSERT_EQ(::chmod(QFile::encodeName(locked).constData(), 0), 0);

        test::runUnprivileged({ temp.path() }, [&] {
            const Searched alone = searchWith(store, 0);
            ASSERT_GT(alone.rows.size(), 500);
            EXPECT_EQ(alone.skips.size(), 4);
            for (int threads : { 1, 3 }) {
                SCOPED_TRACE(threads);
                const Searched shared = searchWith(store, threads);
                EXPECT_EQ(shared.rows, alone.rows);
                EXPECT_EQ(shared.skips, alone.skips);
                EXPECT_EQ(shared.messages, alone.messages);
            }
        });
    }
}

// An mbox file is scanned on the walking thread and its summaries made from copies of the header blocks on the
// workers: the same rows in the same order with any number of threads, over several batches, and the same
// senders, subjects, recipients and sent times as the search of the Maildir its messages came from.
TEST(SearchGeneratedStore, WorkerThreadsChangeNoRowOfAnMbox)
{
    QTemporaryDir temp;
    const QString maildir = temp.filePath(QStringLiteral("gen")), path = temp.filePath(QStringLiteral("Gen.mbox"));
    ASSERT_TRUE(generateStore(maildir, { "--count", "700", "--folders", "1", "--size", "600", "--attachments", "0" }));
    QByteArray mbox;
    QDirIterator files(maildir, QDir::Files, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        QFile file(files.next());
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        // The first separator line has no date.
        mbox += (mbox.isEmpty() ? "From someone\n" : "From sender@example.org Thu Mar  5 10:00:00 2026\n")
            + file.readAll().replace("\nFrom ", "\n>From ") + "\n";
    }
    writeFile(path, mbox);
    const auto rowsOf = [](const QString& store, int threads, qsizetype columns) {
        ScriptedPerson person;
        ResultList list;
        searchMailFolder(
            person, Settings {}, QStringLiteral(R"(\\S)"), list,
            [&] {
                return mail::Namespace::fromStores({ { QStringLiteral("S"), store } });
            },
            {}, threads);
        QStringList rows;
        for (int r = 0; r < list.count(); ++r)
            rows << list.row(r).texts().mid(0, columns).join(u'|');
        return rows;
    };
    const QStringList alone = rowsOf(path, 0, ColumnCount);
    EXPECT_GT(alone.size(), 600) << "past several batches";
    for (int threads : { 1, 3 })
        EXPECT_EQ(rowsOf(path, threads, ColumnCount), alone) << threads << " threads";
    QStringList fromMbox = rowsOf(path, 1, ColTo + 1), fromMaildir = rowsOf(maildir, 1, ColTo + 1);
    fromMbox.sort();
    fromMaildir.sort();
    EXPECT_EQ(fromMbox, fromMaildir);
}

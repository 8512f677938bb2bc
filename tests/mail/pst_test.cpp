// SPDX-License-Identifier: MIT
// The Outlook data file store over the sample files of tests/data/pst (see SOURCES.md there); expected
// trees and counts are from libpff's own `pffexport -m all`.
#include "mail/openfailure.h"
#include "mail/pst/nodedatabase.h"
#include "mail/pst/pff.h"
#include "mail/pst/properties.h"
#include "mail/pst/pststore.h"
#include "mail/search.h"
#include "support/qtprinters.h"
#include "support/scriptedperson.h"
#include "support/storewalk.h"
#include "support/testfiles.h"

#include <QRandomGenerator>
#include <QSet>
#include <QTemporaryDir>
#include <QtEndian>

#include <gtest/gtest.h>

#include <csignal>
#include <map>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

inline void PrintTo(const QDateTime& time, std::ostream* os)
{
    *os << time.toString(Qt::ISODateWithMs).toStdString();
}

using namespace quillbox;
using namespace quillbox::mail;
using quillbox::test::readFile;
using quillbox::test::writeFile;

namespace {

QString sample(const char* name)
{
    return QStringLiteral(TEST_DATA_DIR "/pst/") + QLatin1String(name);
}

const char* const kReadableSamples[] = { "aspose_Outlook.pst", "aspose_SampleOstFile.ost", "aspose_Test_chunk1.pst",
    "javalibpst_dist-list.pst", "javalibpst_passworded.pst", "pstsdk_sample1.pst", "pstsdk_sample2.pst",
    "pstsdk_submessage.pst", "pstsdk_test_ansi.pst", "pstsdk_test_unicode.pst", "tghanem_user1_test.lab.pst" };

std::unique_ptr<Store> openSample(const char* name)
{
    auto store = openPstStore(QStringLiteral("S"), sample(name));
    if (!store) {
        ADD_FAILURE() << name << ": " << store.error().describe().toStdString();
        return nullptr;
    }
    return std::move(*store);
}

using Row = test::ListedItem;
using test::folderAt;
using test::walk;

std::vector<Row> allRows(Store& store, QStringList* folders = nullptr)
{
    std::vector<Row> rows;
    auto top = store.topFolder();
    Status walked = top ? walk(**top, rows, folders) : Status(top.error());
    if (!walked)
        ADD_FAILURE() << walked.error().describe().toStdString();
    return rows;
}

// The whole item of the first message with this subject in the folder at `relative` below the top.
Result<std::unique_ptr<MailItem>> itemWithSubject(Store& store, const QString& relative, const QString& subject)
{
    QString id;
    if (auto folder = folderAt(store, relative))
        (void)folder->items([&](const ItemSummary& summary) {
            if (id.isEmpty() && summary.subject == subject)
                id = summary.entryID;
        });
    return store.item(id);
}

// What a listing shows of an item, to compare two readings of it at once.
auto listed(const ItemSummary& s)
{
    return std::tie(
        s.itemClass, s.creationTime, s.sentOn, s.receivedTime, s.sent, s.senderEmailAddress, s.subject, s.to);
}

QString iso(const QDateTime& time)
{
    return time.toString(Qt::ISODate);
}

// pffexport writes an item as a "Message" when it is IPM.Note or a report on one (REPORT.IPM.Note.*).
bool pffexportMessage(const ItemSummary& summary)
{
    return summary.itemClass == kClassMail || summary.itemClass == kClassReport;
}

} // namespace

TEST(PstStore, FolderTreeAndMessagesAsLibpffSeesThem)
{
    struct Case {
        const char* file;
        QStringList folders; // below the top, in walk order, with the messages pffexport writes for each
    };
    const Case cases[] = {
        { "aspose_SampleOstFile.ost",
            { "=0", "Deleted Items=1", "Inbox=11", "Inbox\\sub1=25", "Inbox\\sub2=29", "Outbox=0", "Sent Items=6",
                "Calendar=0", "Contacts=0", "Conversation Action Settings=0", "Drafts=0", "Journal=0", "Junk E-Mail=0",
                "Notes=0", "Tasks=0", "Sync Issues=9", "Sync Issues\\Conflicts=0", "Sync Issues\\Local Failures=0",
                "Sync Issues\\Server Failures=0", "RSS Feeds=0", "Quick Step Settings=0", "Suggested Contacts=0",
                "News Feed=0" } },
        // pffexport writes the second folder of a name as "FolderNNNNN"; libpff names both alike.
        { "aspose_Test_chunk1.pst",
            { "=0", "Deleted Items=0", "Deleted Items\\SubInbox=0", "Deleted Items\\SubInbox=0", "Inbox=0", "Outbox=0",
                "Sent Items=31", "Calendar=0", "Contacts=0", "Journal=0", "Notes=0", "Tasks=0", "Drafts=0",
                "RSS Feeds=0", "Junk E-mail=0", "Inbox=0" } },
        { "tghanem_user1_test.lab.pst",
            { "=0", "Deleted Items=0", "Deleted Items\\Contacts=0", "Inbox=0", "Outbox=0", "Sent Items=0",
                "Junk E-mail=0", "Conversation Action Settings=0", "Quick Step Settings=0", "FolderWithSingleMessage=1",
                "FolderWithSingleUnreadMessage=1", "FolderWithTwoSubFolders=0", "FolderWithTwoSubFolders\\SubFolder1=0",
                "FolderWithTwoSubFolders\\SubFolder2=0", "FolderWithMessagesWithAttachments=2",
                "FolderWithSampleMessages=2" } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        auto store = openSample(c.file);
        ASSERT_TRUE(store);
        QStringList folders;
        std::map<QString, int> messages;
        for (const Row& row : allRows(*store, &folders))
            messages[row.folder] += pffexportMessage(row.summary) ? 1 : 0;
        QStringList seen;
        for (const QString& path : folders)
            seen << path.mid(QStringLiteral("\\\\S\\").size()) + u'=' + QString::number(messages[path]);
        EXPECT_EQ(seen, c.folders);
    }
}

TEST(PstStore, ItemsInTheFilesOrderWithLocalTimes)
{
    auto store = openSample("aspose_Outlook.pst");
    ASSERT_TRUE(store);
    auto inbox = folderAt(*store, QStringLiteral("Inbox"));
    ASSERT_TRUE(inbox);
    std::vector<Row> rows;
    ASSERT_TRUE(walk(*inbox, rows));
    // pffexport gives these times in UTC; the store gives local times (Europe/Berlin, summer time).
    QStringList seen;
    for (const Row& row : rows)
        seen << row.summary.subject + u'|' + iso(row.summary.creationTime) + u'|' + iso(row.summary.sentOn) + u'|'
                + iso(row.summary.receivedTime);
    const QStringList expected {
        "Multiple attachments|2011-06-22T01:51:07|2011-06-22T01:51:07|2011-06-22T01:51:07",
        "HTML body|2011-06-22T01:49:22|2011-06-22T01:49:21|2011-06-22T01:49:22",
        "this message contains embedded MSG|2011-06-22T01:48:10|2011-06-22T01:48:10|2011-06-22T01:48:10",
        "check sent date of this message|2011-06-22T01:47:23|2011-06-22T01:47:23|2011-06-22T01:47:23",
        "message 2|2011-06-22T01:47:01|2011-06-22T01:47:01|2011-06-22T01:47:01",
        "message 1|2011-06-22T01:46:39|2011-06-22T01:46:39|2011-06-22T01:46:39",
        "Microsoft Office Outlook Test Message|2011-06-22T01:44:32|4501-01-01T00:00:00|2011-06-22T01:44:21",
        "Microsoft Outlook Test Message|2011-06-22T01:44:32|4501-01-01T00:00:00|2011-06-22T01:42:35",
    };
    EXPECT_EQ(seen, expected); // 4501-01-01: a mail never submitted has no SentOn
}

TEST(PstItemClass, FollowsTheMessageClass)
{
    // The class or a sub-class of it, in any case; anything unknown is a post (45).
    const std::pair<const char*, int> cases[] = { { "IPM.Note", kClassMail }, { "ipm.NOTE", kClassMail },
        { "IPM.Note.SMIME.MultipartSigned", kClassMail }, { "IPM.Notes", 45 }, { "REPORT.IPM.Note.NDR", kClassReport },
        { "IPM.Schedule.Meeting.Request", kClassMeetingRequest }, { "IPM.Schedule.Meeting.Canceled", 54 },
        { "IPM.Appointment", 26 }, { "IPM.Contact", 40 }, { "IPM.DistList", 69 },
        { "IPM.Microsoft.ScheduleData.FreeBusy", 45 }, { "", 45 } };
    for (const auto& [messageClass, expected] : cases)
        EXPECT_EQ(pst::itemClassOf(QLatin1String(messageClass)), expected) << messageClass;
}

// The listing is our reader's, the whole item libpff's: both must agree. libpff cannot read 12 contacts of
// aspose_Test_chunk1.pst (a property of type 0000): they are listed, and the item is libpff's Error.
TEST(PstStore, EveryEntryIDFindsItsItemAgain)
{
    int unreadable = 0;
    for (const char* file : kReadableSamples) {
        SCOPED_TRACE(file);
        auto store = openSample(file);
        ASSERT_TRUE(store);
        QSet<QString> ids;
        for (const Row& row : allRows(*store)) {
            const ItemSummary& summary = row.summary;
            SCOPED_TRACE(summary.entryID.toStdString());
            EXPECT_FALSE(ids.contains(summary.entryID));
            ids.insert(summary.entryID);
            EXPECT_TRUE(store->owns(summary.entryID));
            auto item = store->item(summary.entryID);
            if (!item) {
                EXPECT_EQ(item.error().code, Error::Code::Unreadable);
                EXPECT_TRUE(item.error().detail.contains(QStringLiteral("unsupported value type")));
                EXPECT_EQ(summary.itemClass, 40);
                EXPECT_EQ(QLatin1String(file), QLatin1String("aspose_Test_chunk1.pst"));
                ++unreadable;
                continue;
            }
            EXPECT_EQ((*item)->summary().entryID, summary.entryID);
            EXPECT_EQ(listed((*item)->summary()), listed(summary));
            auto parent = (*item)->parent();
            ASSERT_TRUE(parent);
            EXPECT_EQ(parent->folderPath(), row.folder);
        }
    }
    EXPECT_EQ(unreadable, 12);
}

TEST(PstStore, EntryIDsOfOtherStoresOrMissingItemsAreNotFound)
{
    auto store = openSample("aspose_Outlook.pst");
    auto other = openSample("pstsdk_sample1.pst");
    ASSERT_TRUE(store && other);
    const std::vector<Row> rows = allRows(*store);
    ASSERT_FALSE(rows.empty());
    const QString own = rows.front().summary.entryID;
    const auto withNode = [&](quint32 nid) {
        char bytes[4];
        qToLittleEndian(nid, bytes);
        return own.left(40) + QString::fromLatin1(QByteArray(bytes, 4).toHex().toUpper());
    };
    struct Case {
        const char* why;
        QString entryID;
        bool owned;
    };
    const Case cases[] = {
        { "another store's item", allRows(*other).front().summary.entryID, false },
        { "a message node that is not in the file", withNode(0x7FFFFFE4), true },
        { "a folder, not a message", withNode(0x8082), true },
        { "the store's own node", withNode(0x21), true },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ(store->owns(c.entryID), c.owned);
        auto item = store->item(c.entryID);
        ASSERT_FALSE(item);
        EXPECT_EQ(item.error().code, Error::Code::NotFound);
    }
}

TEST(PstStore, BodiesRecipientsAndAttachmentsOfUnicodeAndAnsiFiles)
{
    const std::pair<const char*, QString> cases[] = {
        { "pstsdk_sample1.pst", QStringLiteral("With a sample attachment. It\u2019s my daughter") },
        { "pstsdk_sample2.pst", QStringLiteral("With a sample attachment. It's my daughter") },
    };
    for (const auto& [file, plainStart] : cases) {
        SCOPED_TRACE(file);
        auto store = openSample(file);
        ASSERT_TRUE(store);
        const std::vector<Row> rows = allRows(*store);
        ASSERT_EQ(rows.size(), 1u);
        const ItemSummary& summary = rows.front().summary;
        auto item = store->item(summary.entryID);
        ASSERT_TRUE(item);
        const MailItem& mail = **item;
        EXPECT_EQ(QStringList({ summary.subject, summary.senderEmailAddress, summary.to, iso(summary.sentOn),
                      mail.messageClass(), mail.senderName() }),
            QStringList({ "Here is a sample message", "terrymah@microsoft.com", "Terry Mahaffey", "2010-03-15T18:12:05",
                "IPM.Note", "Terry Mahaffey" }));
        EXPECT_TRUE(mail.plainBody().startsWith(plainStart)) << mail.plainBody().toStdString();
        EXPECT_TRUE(mail.htmlBody().contains(QStringLiteral("<html"), Qt::CaseInsensitive));
        EXPECT_TRUE(mail.transportHeaders().startsWith(QStringLiteral("Received: ")));
        const QList<Recipient> recipients = mail.recipients();
        ASSERT_EQ(recipients.size(), 1);
        EXPECT_EQ(std::tie(recipients[0].name, recipients[0].address, recipients[0].type),
            std::tuple(
                QStringLiteral("Terry Mahaffey"), QStringLiteral("terrymah@microsoft.com"), Recipient::Type::To));
        auto attachments = mail.attachments();
        ASSERT_TRUE(attachments);
        ASSERT_EQ(attachments->size(), 1u);
        const Attachment& picture = *attachments->front();
        EXPECT_EQ(picture.fileName(), QStringLiteral("leah_thumper.jpg"));
        EXPECT_EQ(picture.embeddedMessage(), nullptr);
        auto data = picture.data();
        ASSERT_TRUE(data);
        EXPECT_EQ(data->size(), 93142);
        EXPECT_TRUE(data->startsWith("\xFF\xD8\xFF") && data->endsWith("\xFF\xD9")) << "a JPEG";
    }

    auto outlook = openSample("aspose_Outlook.pst");
    ASSERT_TRUE(outlook);
    auto item = itemWithSubject(*outlook, QStringLiteral("Inbox"), QStringLiteral("Multiple attachments"));
    ASSERT_TRUE(item);
    auto attachments = (*item)->attachments();
    ASSERT_TRUE(attachments);
    QStringList seen;
    for (const auto& attachment : *attachments) {
        auto data = attachment->data();
        ASSERT_TRUE(data);
        seen << attachment->fileName() + u' ' + attachment->mimeType() + u' ' + QString::number(data->size());
    }
    EXPECT_EQ(seen,
        QStringList(
            { "text file.txt text/plain 29", "Sunset.jpg image/jpeg 71189", "Blue hills.jpg image/jpeg 28521" }));
    EXPECT_EQ(*attachments->front()->data(), QByteArray("hello\r\n\r\nthis is a text file."));
}

TEST(PstStore, CcRecipientsAreNotReadAsTo)
{
    // The one sample mail with a Cc recipient (pffexport's Recipients.txt: To, then CC). No sample has a Bcc one.
    auto store = openSample("aspose_SampleOstFile.ost");
    ASSERT_TRUE(store);
    auto item = itemWithSubject(*store, QStringLiteral("Sent Items"), QStringLiteral("first email"));
    ASSERT_TRUE(item);
    std::vector<std::pair<QString, Recipient::Type>> seen;
    for (const Recipient& recipient : (*item)->recipients())
        seen.emplace_back(recipient.name, recipient.type);
    const std::vector<std::pair<QString, Recipient::Type>> expected { { "Saqib Razzaq", Recipient::Type::To },
        { "Administrator", Recipient::Type::Cc } };
    EXPECT_EQ(seen, expected);
    EXPECT_EQ((*item)->displayCc(), QStringLiteral("Administrator"));
}

TEST(PstStore, AttachedMailsAreItemsOfTheirOwn)
{
    struct Case {
        const char *file, *folder, *subject;
        QStringList embedded; // subject: first line of the plain body
    };
    const Case cases[] = {
        { "pstsdk_submessage.pst", "submessage", "This is a message which has an embedded message attached",
            { "This is an embedded message: This is the body of an embedded message" } },
        { "aspose_Outlook.pst", "Sent Items", "this message contains embedded MSG",
            { "message 1: This is first message", "message 2: Message 2" } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        auto store = openSample(c.file);
        ASSERT_TRUE(store);
        auto item = itemWithSubject(*store, QLatin1String(c.folder), QLatin1String(c.subject));
        ASSERT_TRUE(item);
        auto attachments = (*item)->attachments();
        ASSERT_TRUE(attachments);
        QStringList seen;
        for (const auto& attachment : *attachments) {
            auto inner = attachment->embeddedMessage();
            ASSERT_TRUE(inner);
            EXPECT_EQ(inner->summary().itemClass, kClassMail);
            EXPECT_TRUE(inner->summary().entryID.isEmpty());
            EXPECT_EQ(inner->parent(), nullptr);
            EXPECT_FALSE(inner->recipients().isEmpty());
            EXPECT_FALSE(attachment->data()) << "an attached item is read as an item, not as bytes";
            seen << inner->summary().subject + QStringLiteral(": ") + inner->plainBody().section(u'\r', 0, 0);
            if (c.embedded.size() == 1) { // The RTF body comes decompressed.
                const QByteArray rtf = inner->rtfBody();
                EXPECT_TRUE(rtf.startsWith("{\\rtf1")) << rtf.left(40).toStdString();
                EXPECT_TRUE(rtf.contains("This is the body of an embedded message"));
            }
        }
        EXPECT_EQ(seen, c.embedded);
    }
}

TEST(PstStore, AFileLibpffCannotOpenGivesLibpffsReason)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString tiny = dir.filePath(QStringLiteral("tiny.pst"));
    writeFile(tiny, QByteArray("!BDN\x01\x02", 6));
    const std::pair<QString, const char*> cases[] = {
        // libpff's innermost words
        { sample("aspose_bad_header_checksum.pst"),
            "libpff_io_handle_read_file_header: mismatch in file header checksum" },
        { tiny, "libpff_io_handle_read_file_header: unable to read file header data." },
    };
    for (const auto& [path, reason] : cases) {
        SCOPED_TRACE(reason);
        auto store = openPstStore(QStringLiteral("S"), path);
        ASSERT_FALSE(store);
        EXPECT_EQ(store.error().code, Error::Code::Unreadable);
        EXPECT_EQ(store.error().path, path);
        EXPECT_TRUE(store.error().detail.startsWith(QLatin1String(reason))) << store.error().detail.toStdString();
        EXPECT_TRUE(store.error().detail.contains(QStringLiteral("libpff_file_open: unable to open file")));
    }
    auto missing = openPstStore(QStringLiteral("S"), dir.filePath(QStringLiteral("gone.pst")));
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().code, Error::Code::Unreadable);
}

// A store that cannot be opened is named with what is wrong in plain words; libpff's (or the system's) own words
// stay in the details.
TEST(plainOpenFailure, NamesTheFileAndWhatIsWrong)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const auto file = [&dir](const char* name, const QByteArray& bytes) {
        writeFile(dir.filePath(QLatin1String(name)), bytes);
        return dir.filePath(QLatin1String(name));
    };
    const auto pstFailure = [](const QString& path) {
        auto store = openPstStore(QStringLiteral("S"), path);
        return store ? Error {} : store.error();
    };
    QByteArray otherKind = readFile(sample("pstsdk_sample1.pst"));
    otherKind.replace(8, 2, "XX"); // a content type that is neither PST, OST nor address book
    struct Case {
        Error error;
        const char* plain;
        const char* detail; ///< in the details, from the library or the system
    };
    const Case cases[] = {
        { pstFailure(sample("aspose_bad_header_checksum.pst")),
            "aspose_bad_header_checksum.pst is damaged: its header does not check out",
            "mismatch in file header checksum" },
        { pstFailure(file("notes.pst", QByteArray(600, 'x'))), "notes.pst is not an Outlook data file",
            "invalid file signature" },
        { pstFailure(file("cut.pst", QByteArray("!BDN\x01\x02", 6))),
            "cut.pst is cut short: the file ends before its data does", "unable to read file header data" },
        { pstFailure(file("other.pst", otherKind)),
            "other.pst is an Outlook data file of a kind this program cannot read", "unsupported content type" },
        { pstFailure(dir.filePath(QStringLiteral("gone.pst"))),
            "gone.pst is not there: it has been moved, renamed or deleted", "No such file" },
        // Running as root reads every file: the system's words for a file that may not be read stand in.
        { { Error::Code::Unreadable, QStringLiteral("/m/locked.pst"), QStringLiteral("Permission denied") },
            "locked.pst cannot be opened: you are not allowed to read it", "Permission denied" },
        { openStore(QStringLiteral("S"), file("notes.txt", "a note")).error(),
            "notes.txt is not a mail store: no Maildir folder, mbox file or Outlook data file", "neither a Maildir" },
        // A failure with no plain words keeps its own alone.
        { { Error::Code::NotFound, QStringLiteral("Elsewhere"), QStringLiteral("no such store in the profile") }, "",
            "no such store" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.plain);
        EXPECT_EQ(plainOpenFailure(c.error), QLatin1String(c.plain));
        EXPECT_TRUE(c.error.detail.contains(QLatin1String(c.detail))) << c.error.detail.toStdString();
    }
}

// Our node reader and libpff list every sample file alike: folders, names, messages and summaries.
TEST(PstNodeDatabase, ListsEverySampleAsLibpffDoes)
{
    for (const char* file : kReadableSamples) {
        SCOPED_TRACE(file);
        auto own = pst::NodeDatabase::open(sample(file));
        ASSERT_TRUE(own) << own.error().describe().toStdString();
        auto pffFile = pst::PffFile::open(sample(file));
        ASSERT_TRUE(pffFile);
        const pst::PffListing libpff(*pffFile);
        pst::TextDecoder decoder;
        int compared = 0;
        int libpffCannot = 0;
        std::vector<quint32> pending { pst::kRootFolderNid };
        while (!pending.empty()) {
            const quint32 folder = pending.back();
            pending.pop_back();
            auto ownFolders = (*own)->subFolders(folder);
            auto pffFolders = libpff.subFolders(folder);
            ASSERT_TRUE(ownFolders && pffFolders);
            EXPECT_EQ(*ownFolders, *pffFolders) << folder;
            auto ownMessages = (*own)->messages(folder);
            auto pffMessages = libpff.messages(folder);
            ASSERT_TRUE(ownMessages && pffMessages);
            EXPECT_EQ(*ownMessages, *pffMessages) << folder;
            std::vector<quint32> nodes = *ownMessages;
            nodes.insert(nodes.end(), ownFolders->begin(), ownFolders->end());
            for (quint32 nid : nodes) {
                SCOPED_TRACE(nid);
                auto ownProperties = (*own)->properties(nid);
                auto pffProperties = libpff.properties(nid);
                ASSERT_TRUE(ownProperties);
                if (!pffProperties) {
                    ++libpffCannot;
                    continue;
                }
                EXPECT_EQ((*own)->parentOf(nid), folder);
                const pst::TextReader ownText(**ownProperties, decoder);
                const pst::TextReader pffText(**pffProperties, decoder);
                EXPECT_EQ(
                    listed(pst::summarize(**ownProperties, decoder)), listed(pst::summarize(**pffProperties, decoder)));
                for (quint16 id :
                    { pst::Prop::DisplayName, pst::Prop::Body, pst::Prop::TransportHeaders, pst::Prop::DisplayCc })
                    EXPECT_EQ(ownText(id), pffText(id)) << "property " << id;
                ++compared;
            }
            pending.insert(pending.end(), ownFolders->rbegin(), ownFolders->rend());
        }
        EXPECT_GT(compared, 2);
        EXPECT_EQ(libpffCannot, QLatin1String(file) == QLatin1String("aspose_Test_chunk1.pst") ? 12 : 0);
    }
}

namespace {

quint32 weakCrc(const char* data, qsizetype size)
{
    quint32 crc = 0;
    for (qsizetype i = 0; i < size; ++i) {
        crc ^= quint8(data[i]);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    }
    return crc;
}

struct BlockPlace {
    quint64 bid;
    quint64 offset;
    int size;
};

// The blocks of a Unicode file, from its block index, read without our reader.
std::vector<BlockPlace> blocksOf(const QByteArray& file)
{
    std::vector<BlockPlace> blocks;
    std::vector<quint64> pages { qFromLittleEndian<quint64>(file.constData() + 240) };
    while (!pages.empty()) {
        const char* page = file.constData() + pages.back();
        pages.pop_back();
        const int count = quint8(page[488]);
        const int size = quint8(page[490]);
        const int level = quint8(page[491]);
        for (int i = 0; i < count; ++i) {
            const char* entry = page + i * size;
            if (level > 0)
                pages.push_back(qFromLittleEndian<quint64>(entry + 16));
            else
                blocks.push_back({ qFromLittleEndian<quint64>(entry), qFromLittleEndian<quint64>(entry + 8),
                    qFromLittleEndian<quint16>(entry + 16) });
        }
    }
    return blocks;
}

} // namespace

// A sample re-encoded from "compressible" to "high" (cyclic) reads alike, by our reader and by libpff.
TEST(PstNodeDatabase, ReadsTheCyclicEncodingAsLibpffDoes)
{
    QByteArray file = readFile(sample("aspose_Outlook.pst"));
    ASSERT_EQ(file.at(513), 1) << "the sample is in the compressible encoding";
    for (const BlockPlace& place : blocksOf(file)) {
        if (place.bid & 2)
            continue; // internal blocks are not encoded
        QByteArray block = file.mid(qsizetype(place.offset), place.size);
        pst::decodeBlock(block, 1, place.bid);
        pst::decodeBlock(block, 2, place.bid); // the cyclic coding is its own inverse
        file.replace(qsizetype(place.offset), place.size, block);
    }
    file[513] = 2;
    char crc[4];
    qToLittleEndian(weakCrc(file.constData() + 8, 516), crc);
    file.replace(524, 4, QByteArray(crc, 4));
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString cyclic = dir.filePath(QStringLiteral("cyclic.pst"));
    writeFile(cyclic, file);

    auto reference = openSample("aspose_Outlook.pst");
    auto store = openPstStore(QStringLiteral("S"), cyclic);
    ASSERT_TRUE(reference && store);
    const std::vector<Row> expected = allRows(*reference);
    const std::vector<Row> rows = allRows(**store);
    ASSERT_EQ(rows.size(), expected.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(expected[i].summary.subject.toStdString());
        EXPECT_EQ(rows[i].summary.subject, expected[i].summary.subject);
        EXPECT_EQ(rows[i].summary.receivedTime, expected[i].summary.receivedTime);
        auto item = (*store)->item(rows[i].summary.entryID);
        ASSERT_TRUE(item) << "libpff reads the file too";
        EXPECT_EQ((*item)->summary().subject, expected[i].summary.subject);
        EXPECT_EQ((*item)->plainBody(), (*reference->item(expected[i].summary.entryID))->plainBody());
    }
}

namespace {

class FakeProperties : public pst::PropertyBag {
public:
    FakeProperties& set(quint16 id, quint16 type, QByteArray bytes)
    {
        m_values[id] = { type, std::move(bytes) };
        return *this;
    }
    template <class T> FakeProperties& setNumber(quint16 id, quint16 type, T value)
    {
        char bytes[sizeof(T)];
        qToLittleEndian(value, bytes);
        return set(id, type, QByteArray(bytes, sizeof(T)));
    }
    FakeProperties& setLong(quint16 id, qint32 value) { return setNumber(id, pst::PropType::Int32, value); }
    FakeProperties& setTime(quint16 id, quint64 fileTime) { return setNumber(id, pst::PropType::Time, fileTime); }
    FakeProperties& setUnicode(quint16 id, const QString& text)
    {
        QByteArray bytes(text.size() * 2, '\0');
        qToLittleEndian<char16_t>(text.utf16(), text.size(), bytes.data());
        return set(id, pst::PropType::Unicode, bytes);
    }
    std::optional<pst::PropertyValue> value(quint16 id) const override
    {
        const auto it = m_values.find(id);
        return it == m_values.end() ? std::nullopt : std::optional(it->second);
    }

private:
    std::map<quint16, pst::PropertyValue> m_values;
};

} // namespace

TEST(PstTextReader, ReadsEightBitStringsInTheirCodePage)
{
    struct Case {
        const char* why;
        std::optional<qint32> messageCodePage, internetCodePage;
        bool forBody;
        QByteArray bytes;
        QString expected;
    };
    const Case cases[] = {
        { "Windows-1251", 1251, {}, false, "\xCF\xF0\xE8\xE2\xE5\xF2", QStringLiteral("Привет") },
        { "Shift_JIS", 932, {}, false, "\x82\xA0\x82\xA2", QStringLiteral("あい") },
        { "UTF-8 as code page 65001", 65001, {}, false, "\xC3\xA4", QStringLiteral("ä") },
        { "ISO-8859-2 as code page 28592", 28592, {}, false, "\xB1", QStringLiteral("ą") },
        { "no code page: Windows-1252", {}, {}, false, "\xE9t\xE9", QStringLiteral("été") },
        { "a UTF-16 code page says nothing about 8-bit strings", 1200, 28592, false, "\xB1", QStringLiteral("ą") },
        { "an unknown code page: Windows-1252", 99999, {}, false, "\xE4", QStringLiteral("ä") },
        { "the message's code page before the Internet one", 1252, 65001, false, "\xC3\xA4", QStringLiteral("Ã¤") },
        { "a body: the Internet code page first", 1252, 65001, true, "\xC3\xA4", QStringLiteral("ä") },
        { "NULs at the end are dropped", 1252, {}, false, QByteArray("ab\0\0", 4), QStringLiteral("ab") },
    };
    pst::TextDecoder decoder;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        FakeProperties bag;
        bag.set(pst::Prop::Subject, pst::PropType::String8, c.bytes);
        if (c.messageCodePage)
            bag.setLong(pst::Prop::MessageCodepage, *c.messageCodePage);
        if (c.internetCodePage)
            bag.setLong(pst::Prop::InternetCodepage, *c.internetCodePage);
        EXPECT_EQ(pst::TextReader(bag, decoder, nullptr, c.forBody)(pst::Prop::Subject), c.expected);
    }

    // A recipient's or an attachment's strings are in their message's code page.
    FakeProperties message;
    message.setLong(pst::Prop::MessageCodepage, 1251);
    FakeProperties row;
    row.set(pst::Prop::DisplayName, pst::PropType::String8, "\xC8\xE2\xE0\xED");
    EXPECT_EQ(pst::TextReader(row, decoder, &message)(pst::Prop::DisplayName), QStringLiteral("Иван"));
    EXPECT_EQ(pst::TextReader(row, decoder)(pst::Prop::DisplayName), QStringLiteral("Èâàí"));
}

TEST(PstSummary, TimesFlagsSenderAndSubject)
{
    constexpr quint64 kJune21 = 129531738670000000ULL; // 2011-06-21 23:51:07 UTC as a FILETIME
    constexpr quint64 kOutlookNone = 0x0CB34557A3DD4000ULL; // 4501-01-01 00:00 UTC
    FakeProperties bag;
    bag.setUnicode(pst::Prop::MessageClass, QStringLiteral("IPM.Note"))
        .setTime(pst::Prop::CreationTime, kJune21)
        .setTime(pst::Prop::ClientSubmitTime, kOutlookNone)
        .setTime(pst::Prop::DeliveryTime, 0)
        .setLong(pst::Prop::MessageFlags, 0x09)
        .setUnicode(pst::Prop::SenderEmailAddress, QStringLiteral("/O=EXAMPLE/CN=RECIPIENTS/CN=ANNA"))
        .setUnicode(pst::Prop::Subject, QStringLiteral("\u0001\u0004Re: Plans\u0000"));
    pst::TextDecoder decoder;
    ItemSummary summary = pst::summarize(bag, decoder);
    EXPECT_EQ(summary.itemClass, kClassMail);
    EXPECT_EQ(iso(summary.creationTime), QStringLiteral("2011-06-22T01:51:07")) << "local time";
    EXPECT_EQ(summary.sentOn, noDate()) << "Outlook's own \"none\"";
    EXPECT_EQ(summary.receivedTime, noDate()) << "zero";
    EXPECT_FALSE(summary.sent) << "flagged unsent";
    EXPECT_EQ(summary.senderEmailAddress, QStringLiteral("/O=EXAMPLE/CN=RECIPIENTS/CN=ANNA")) << "no SMTP address";
    EXPECT_EQ(summary.subject, QStringLiteral("Re: Plans"));

    bag.setUnicode(pst::Prop::SenderSmtpAddress, QStringLiteral("anna@example.org"))
        .setLong(pst::Prop::MessageFlags, 0x01)
        .setUnicode(pst::Prop::Subject, QStringLiteral("\u0002 not a marker"));
    summary = pst::summarize(bag, decoder);
    EXPECT_TRUE(summary.sent);
    EXPECT_EQ(summary.senderEmailAddress, QStringLiteral("anna@example.org"));
    EXPECT_EQ(summary.subject, QStringLiteral("\u0002 not a marker"));
    EXPECT_TRUE(pst::summarize(FakeProperties(), decoder).sent) << "no flags at all: sent";
}

TEST(PstEntryID, NamesStoreAndNode)
{
    const QByteArray key = QByteArray::fromHex("FA5A92F230E10D4EA0924C31EE36E9CF");
    const QString id = pst::entryIDOf(key, 0x00200044);
    EXPECT_EQ(id, QStringLiteral("00000000FA5A92F230E10D4EA0924C31EE36E9CF44002000"));
    const std::pair<QString, std::optional<quint32>> cases[] = { { id, 0x00200044 }, { id.toLower(), 0x00200044 },
        { QStringLiteral("00000000FA5A92F230E10D4EA0924C31EE36E9C044002000"), std::nullopt }, // another record key
        { QStringLiteral("01000000FA5A92F230E10D4EA0924C31EE36E9CF44002000"), std::nullopt }, // flags set
        { id.left(46), std::nullopt }, { id.left(46) + QStringLiteral("G0"), std::nullopt },
        { id.left(46) + QStringLiteral("٤٤"), std::nullopt } };
    for (const auto& [entryID, nid] : cases)
        EXPECT_EQ(pst::nodeOfEntryID(entryID, key), nid) << entryID.toStdString();
}

namespace {

// The wait status of `body` run in a child process, so that a crash or (by an alarm) a hang is seen as such.
int runIsolated(const std::function<int()>& body)
{
    fflush(stdout);
    fflush(stderr);
    const pid_t child = fork();
    if (child == 0) {
        alarm(120);
        _exit(body());
    }
    int status = 0;
    waitpid(child, &status, 0);
    return status;
}

constexpr int kOk = 0;
constexpr int kTooMuchMemory = 3;
constexpr long kMemoryLimitKiB = 1024 * 1024;

// Lists everything that can be listed, then reads every listed item whole, as a save run would.
int readEverything(const QString& path)
{
    if (auto store = openPstStore(QStringLiteral("S"), path)) {
        std::vector<Row> rows;
        if (auto top = (*store)->topFolder())
            (void)walk(**top, rows);
        for (const Row& row : rows) {
            auto item = (*store)->item(row.summary.entryID);
            if (!item)
                continue;
            (void)(*item)->plainBody();
            (void)(*item)->htmlBody();
            (void)(*item)->rtfBody();
            (void)(*item)->recipients();
            if (auto attachments = (*item)->attachments())
                for (const auto& attachment : *attachments) {
                    (void)attachment->data();
                    if (auto inner = attachment->embeddedMessage())
                        (void)inner->plainBody();
                }
        }
    }
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss > kMemoryLimitKiB ? kTooMuchMemory : kOk;
}

} // namespace

// Cut, zeroed and damaged copies of samples may fail to read, but must not crash, hang or take much memory.
TEST(PstDamage, TruncatedZeroedAndFlippedFilesAreSurvived)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("damaged.pst"));
    const auto expectSurvives = [&](const QString& why, const QByteArray& bytes) {
        SCOPED_TRACE(why.toStdString());
        writeFile(path, bytes);
        const int status = runIsolated([&] { return readEverything(path); });
        EXPECT_FALSE(WIFSIGNALED(status)) << (WTERMSIG(status) == SIGALRM ? "hangs" : "crashes");
        EXPECT_EQ(WEXITSTATUS(status), kOk) << "uses too much memory";
    };
    for (const char* name : { "aspose_Outlook.pst", "aspose_SampleOstFile.ost", "pstsdk_sample2.pst" }) {
        SCOPED_TRACE(name);
        const QByteArray bytes = readFile(sample(name));
        for (int percent : { 10, 50, 90 })
            expectSurvives(QStringLiteral("cut at %1%").arg(percent), bytes.left(bytes.size() * percent / 100));
        expectSurvives(QStringLiteral("zeros"), QByteArray(bytes.size(), '\0'));
        expectSurvives(QStringLiteral("an intact header over zeros"),
            bytes.left(pst::kHeaderSize) + QByteArray(bytes.size() - pst::kHeaderSize, '\0'));
        // In a Unicode file, bytes of blocks the index names (property contexts, tables, sub-node and data
        // trees, bodies, attachments); in the ANSI one, anywhere past the header and the first allocation map.
        const std::vector<BlockPlace> blocks = bytes.at(10) == 23 ? blocksOf(bytes) : std::vector<BlockPlace>();
        for (quint32 seed = 1; seed <= 10; ++seed) {
            QRandomGenerator random(seed);
            QByteArray damaged = bytes;
            for (int i = 0; i < 32; ++i) {
                qsizetype at = random.bounded(0x4600, int(damaged.size()));
                if (!blocks.empty()) {
                    const BlockPlace& block = blocks[random.bounded(int(blocks.size()))];
                    at = qsizetype(block.offset) + random.bounded(std::max(block.size, 1));
                }
                damaged[at] = char(random.bounded(256));
            }
            expectSurvives(QStringLiteral("bytes flipped, seed %1").arg(seed), damaged);
        }
    }
}

// The messages of a damaged file that cannot be read are counted with why, the rest listed: the file cut,
// and single bytes changed in a data block, a property heap and the node index (the folder still counts it).
TEST(PstDamage, MessagesThatCannotBeReadAreCounted)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QByteArray bytes = readFile(sample("tghanem_user1_test.lab.pst"));
    const auto changed = [&bytes](qsizetype at, char value) {
        QByteArray damaged = bytes;
        damaged[at] = value;
        return damaged;
    };
    struct Case {
        const char* why;
        QByteArray file;
        int listed;
        QStringList reasons;
    };
    const Case cases[] = {
        { "cut to 135,680 bytes", bytes.left(135680), 3,
            { "message 2097572 in \\\\S\\FolderWithMessagesWithAttachments: a block lies outside the file",
                "message 2097668 in \\\\S\\FolderWithSampleMessages: a block lies outside the file",
                "message 2097764 in \\\\S\\FolderWithSampleMessages: a block lies outside the file" } },
        { "a data block", changed(0x2caff, char(0x5f)), 5,
            { "message 2097668 in \\\\S\\FolderWithSampleMessages: a block is not the one the index names" } },
        { "a property heap", changed(0x17000, char(0x25)), 5,
            { "message 2097412 in \\\\S\\FolderWithSingleUnreadMessage: a heap reference points nowhere" } },
        { "the node index", changed(0x18239, char(0xab)), 5,
            { "message 2 of 2 in \\\\S\\FolderWithMessagesWithAttachments: the folder counts it, but the file has no "
              "entry for it" } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        const QString path = dir.filePath(QStringLiteral("damaged.pst"));
        writeFile(path, c.file);
        test::ScriptedPerson person;
        ResultList list;
        QStringList reasons;
        searchMailFolder(
            person, Settings(), QStringLiteral("\\\\S"), list,
            [&path] {
                return Namespace::fromStores({ { QStringLiteral("S"), path } });
            },
            [&](Walk::Skip kind, const Error& why) {
                EXPECT_EQ(kind, Walk::Skip::Message);
                EXPECT_EQ(why.path, path);
                reasons << why.detail;
            });
        EXPECT_EQ(list.count(), c.listed);
        EXPECT_EQ(person.messages().size(), 1) << "the end of the search says how many could not be read";
        EXPECT_EQ(reasons, c.reasons);
    }
}

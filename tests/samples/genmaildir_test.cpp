// SPDX-License-Identifier: MIT
// Runs the built quillbox-genmaildir and reads back what it wrote.
#include "mailfiles.h"
#include "support/qtprinters.h"
#include "support/testfiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>

using namespace quillbox::samples;

namespace {

struct Outcome {
    int exitCode = -1;
    QString errors;
};

Outcome generate(const QString& out, const QStringList& arguments)
{
    QProcess process;
    process.start(QStringLiteral(QUILLBOX_GENMAILDIR), QStringList { QStringLiteral("--out"), out } + arguments);
    if (!process.waitForFinished(120'000) || process.exitStatus() != QProcess::NormalExit)
        return { -1, QStringLiteral("did not finish: ") + process.errorString() };
    return { process.exitCode(), QString::fromUtf8(process.readAllStandardError()) };
}

/// The generated store in `dir`, generated with `arguments`; fails the test when the generator fails.
std::map<QString, QByteArray> generatedTree(const QTemporaryDir& dir, const QString& name, const QStringList& arguments)
{
    const Outcome run = generate(dir.filePath(name), arguments);
    EXPECT_EQ(run.exitCode, 0) << run.errors.toStdString();
    return readTree(dir.filePath(name));
}

/// A folder's depth below the root: nested directories count their components,
/// Maildir++ directories their dot-separated names.
int depthOf(const QString& folder)
{
    if (folder.isEmpty())
        return 0;
    if (folder.startsWith(u'.'))
        return int(folder.count(u'.'));
    return int(folder.count(u'/')) + 1;
}

QString parentOf(const QString& folder)
{
    const qsizetype cut = folder.startsWith(u'.') ? folder.lastIndexOf(u'.') : folder.lastIndexOf(u'/');
    return cut <= 0 ? QString() : folder.left(cut);
}

const QStringList kSmallStore
    = QStringLiteral("--count 120 --fanout 3 --depth 2 --size 2048 --attachments 20").split(u' ');

} // namespace

TEST(GenMaildir, SameSeedSameBytesAndEveryFileIsAMessage)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QStringList seven = kSmallStore + QStringList { QStringLiteral("--seed"), QStringLiteral("7") };
    const auto files = generatedTree(dir, QStringLiteral("a"), seven);
    ASSERT_EQ(files.size(), 120u);
    EXPECT_TRUE(files == generatedTree(dir, QStringLiteral("b"), seven)) << "the same seed wrote different files";
    const auto other = generatedTree(
        dir, QStringLiteral("c"), kSmallStore + QStringList { QStringLiteral("--seed"), QStringLiteral("8") });
    ASSERT_EQ(other.size(), files.size());
    EXPECT_NE(other.begin()->second, files.begin()->second) << "another seed wrote the same first message";

    const QString root = dir.filePath(QStringLiteral("a"));
    int withAttachment = 0;
    int encodedSubjects = 0;
    qint64 bytes = 0;
    for (const auto& [path, data] : files) {
        SCOPED_TRACE(path.toStdString());
        const QString sub = path.section(u'/', -2, -2);
        ASSERT_TRUE(sub == u"cur" || sub == u"new") << "a file outside cur/ and new/";
        const QString fileName = path.section(u'/', -1);
        EXPECT_EQ(fileName.contains(u":2,"), sub == u"cur") << "flags belong to cur/ only";

        const ParsedMessage message = parseMessage(data);
        ASSERT_TRUE(message.parsed);
        for (const char* header :
            { "Return-Path", "Date", "From", "To", "Subject", "Message-ID", "MIME-Version", "Content-Type" })
            EXPECT_EQ(message.count(header), 1) << header;
        EXPECT_FALSE(message.fromAddress.isEmpty());
        EXPECT_GE(message.toCount, 1);
        EXPECT_FALSE(message.subject.isEmpty());
        EXPECT_FALSE(message.subject.contains(QLatin1String("=?"))) << "an encoded word did not decode";
        encodedSubjects += data.contains("Subject: =?UTF-8?") ? 1 : 0;

        ASSERT_TRUE(message.date && message.topReceived);
        EXPECT_GE(*message.topReceived, *message.date) << "received before it was sent";
        const auto delivered = deliverySeconds(fileName);
        ASSERT_TRUE(delivered.has_value());
        EXPECT_EQ(*delivered, *message.topReceived) << "the file name does not start with the delivery time";
        EXPECT_EQ(QFileInfo(root + u'/' + path).lastModified().toSecsSinceEpoch(), *delivered);

        if (message.contentType == u"multipart/mixed") {
            ++withAttachment;
            ASSERT_EQ(message.attachments.size(), 1);
            EXPECT_FALSE(message.attachments.front().fileName.isEmpty());
            EXPECT_GT(message.attachments.front().decodedSize, 0);
        } else {
            EXPECT_EQ(message.contentType, QStringLiteral("text/plain"));
            EXPECT_TRUE(message.attachments.isEmpty());
        }
        bytes += data.size();
    }
    EXPECT_EQ(withAttachment, 24) << "20 percent of 120";
    EXPECT_GT(encodedSubjects, 0) << "no subject exercised RFC 2047";
    EXPECT_NEAR(double(bytes) / 120, 2048, 2048 * 0.25) << "messages far from the size asked for";
}

TEST(GenMaildir, FolderTreeAndCounts)
{
    struct Case {
        const char* why;
        QStringList arguments;
        int messages;
        std::vector<int> foldersPerDepth; // the root, then each level below it
    };
    const Case cases[] = {
        { "the whole tree of fan-out 3 and depth 2", { "--count", "100", "--fanout", "3", "--depth", "2" }, 100,
            { 1, 3, 9 } },
        { "a folder limit cuts the tree breadth first",
            { "--count", "50", "--fanout", "4", "--depth", "3", "--folders", "7" }, 50, { 1, 4, 2 } },
        { "Maildir++ folders three levels deep",
            { "--count", "40", "--fanout", "2", "--depth", "3", "--layout", "maildir++" }, 40, { 1, 2, 4, 8 } },
        { "depth 0 is the root alone", { "--count", "5", "--depth", "0" }, 5, { 1 } },
        { "fewer messages than folders leaves folders empty", { "--count", "3", "--fanout", "2", "--depth", "2" }, 3,
            { 1, 2, 4 } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        const QString root = dir.filePath(QStringLiteral("store"));
        const Outcome run = generate(root, c.arguments);
        ASSERT_EQ(run.exitCode, 0) << run.errors.toStdString();

        const QStringList folders = maildirFolders(root);
        std::vector<int> perDepth;
        std::vector<qsizetype> messageCounts;
        for (const QString& folder : folders) {
            SCOPED_TRACE(folder.toStdString());
            for (const char* sub : { "/cur", "/new", "/tmp" })
                EXPECT_TRUE(QFileInfo((folder.isEmpty() ? root : root + u'/' + folder) + QLatin1String(sub)).isDir())
                    << sub;
            const int depth = depthOf(folder);
            if (perDepth.size() <= size_t(depth))
                perDepth.resize(size_t(depth) + 1);
            ++perDepth[size_t(depth)];
            EXPECT_TRUE(folders.contains(parentOf(folder))) << "the parent folder is missing";
            if (folder.startsWith(u'.')) {
                for (QChar ch : folder)
                    EXPECT_TRUE(ch.unicode() >= 0x20 && ch.unicode() < 0x7F) << "a Maildir++ name is not 7-bit";
            }
            messageCounts.push_back(folderMessages(root, folder).size());
        }
        EXPECT_EQ(perDepth, c.foldersPerDepth);
        const qsizetype total = std::accumulate(messageCounts.begin(), messageCounts.end(), qsizetype(0));
        EXPECT_EQ(total, c.messages);
        const auto [fewest, most] = std::minmax_element(messageCounts.begin(), messageCounts.end());
        EXPECT_LE(*most - *fewest, 1) << "messages are not shared out evenly";
    }
}

TEST(GenMaildir, RefusesBadArgumentsAndNeverWritesIntoAStore)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString occupied = dir.filePath(QStringLiteral("occupied"));
    quillbox::test::writeFile(occupied + QStringLiteral("/cur/1.a.host:2,S"), "kept");

    struct Case {
        const char* why;
        QString out;
        QStringList arguments;
    };
    const QString fresh = dir.filePath(QStringLiteral("fresh"));
    const Case cases[] = {
        { "a negative count", fresh, { "--count", "-1" } },
        { "a count that is no number", fresh, { "--count", "many" } },
        { "a share over 100 percent", fresh, { "--attachments", "101" } },
        { "an unknown layout", fresh, { "--layout", "mbox" } },
        { "an unknown option", fresh, { "--colour", "blue" } },
        { "an output directory that is not empty", occupied, { "--count", "3" } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        const Outcome run = generate(c.out, c.arguments);
        EXPECT_NE(run.exitCode, 0);
        EXPECT_FALSE(run.errors.isEmpty());
        EXPECT_FALSE(QFileInfo::exists(fresh)) << "wrote something despite the error";
    }
    EXPECT_EQ(readTree(occupied), (std::map<QString, QByteArray> { { QStringLiteral("cur/1.a.host:2,S"), "kept" } }));

    QProcess process;
    process.start(QStringLiteral(QUILLBOX_GENMAILDIR), QStringList { QStringLiteral("--count"), QStringLiteral("3") });
    ASSERT_TRUE(process.waitForFinished(60'000));
    EXPECT_NE(process.exitCode(), 0) << "ran without --out";
}

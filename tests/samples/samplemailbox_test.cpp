// SPDX-License-Identifier: MIT
// The bundled sample store: the committed tree is what samples/make-sample-mailbox.py writes, and every
// message in it is well formed (MaildirStore and SearchSampleStore read it with our own reader).
#include "mailfiles.h"
#include "support/qtprinters.h"

#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <set>

using namespace quillbox::samples;

namespace {

const QString kStore = QStringLiteral(SOURCE_DIR "/samples/Sample Mailbox");

/// Where two trees differ, a few paths at most.
QStringList differences(const std::map<QString, QByteArray>& expected, const std::map<QString, QByteArray>& actual)
{
    QStringList out;
    for (const auto& [path, bytes] : expected) {
        const auto it = actual.find(path);
        if (it == actual.end())
            out << path + QStringLiteral(" (missing)");
        else if (it->second != bytes)
            out << path + QStringLiteral(" (differs)");
    }
    for (const auto& [path, bytes] : actual)
        if (!expected.count(path))
            out << path + QStringLiteral(" (not written by the script)");
    return out.mid(0, 10);
}

} // namespace

TEST(SampleMailbox, CommittedTreeIsWhatTheScriptWrites)
{
    const QString python = QStandardPaths::findExecutable(QStringLiteral("python3"));
    if (python.isEmpty())
        GTEST_SKIP() << "python3 is not installed";
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString out = dir.filePath(QStringLiteral("Sample Mailbox"));
    QProcess process;
    process.start(python, { QStringLiteral(SOURCE_DIR "/samples/make-sample-mailbox.py"), out });
    ASSERT_TRUE(process.waitForFinished(60'000));
    ASSERT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();

    const QStringList differ = differences(readTree(out), readTree(kStore));
    EXPECT_TRUE(differ.isEmpty()) << "regenerate with samples/make-sample-mailbox.py --force; first differences:\n"
                                  << differ.join(u'\n').toStdString();
}

TEST(SampleMailbox, EveryMessageReadsWell)
{
    static const QRegularExpression fileName(QStringLiteral(R"(^(\d+)\.([A-Za-z0-9]+\.[a-z0-9.-]+)(:2,[A-Z]*)?$)"));
    static const QRegularExpression address(QStringLiteral(R"([A-Za-z0-9._%+-]+@([A-Za-z0-9.-]+))"));
    static const QRegularExpression exampleDomain(QStringLiteral(R"((^|\.)example\.(org|com|net)$)"));

    const QStringList folders = maildirFolders(kStore);
    ASSERT_GE(folders.size(), 10);
    qint64 total = 0;
    for (const QString& folder : folders) {
        std::set<QString> uniqueNames;
        for (const QString& path : folderMessages(kStore, folder)) {
            SCOPED_TRACE(path.toStdString());
            const QString name = path.section(u'/', -1);
            const auto match = fileName.match(name);
            ASSERT_TRUE(match.hasMatch()) << "not a Maildir file name";
            EXPECT_EQ(match.hasCaptured(3), path.section(u'/', -2, -2) == u"cur") << "flags belong to cur/ only";
            EXPECT_TRUE(uniqueNames.insert(match.captured(1) + match.captured(2)).second)
                << "two messages of one folder share their unique name";

            QFile file(kStore + u'/' + path);
            ASSERT_TRUE(file.open(QIODevice::ReadOnly));
            const QByteArray data = file.readAll();
            total += data.size();
            const ParsedMessage message = parseMessage(data);
            ASSERT_TRUE(message.parsed);
            EXPECT_FALSE(message.fromAddress.isEmpty());
            for (const auto& hit : address.globalMatch(QString::fromLatin1(data)))
                EXPECT_TRUE(exampleDomain.match(hit.captured(1)).hasMatch())
                    << "an address outside the example domains: " << hit.captured(0).toStdString();
        }
    }
    EXPECT_LT(total, 1 << 20) << "the sample store should stay small";
}

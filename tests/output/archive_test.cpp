// SPDX-License-Identifier: MIT
// Saving again and again into one destination: the manifest, only what is new, index.csv, attachments on
// their own and files dated like their mail, on a Maildir store made here mail by mail.
#include "output/manifest.h"
#include "output/saverun.h"

#include "support/qtprinters.h"
#include "support/scriptedperson.h"
#include "support/testfiles.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <csignal>
#include <cstring>
#include <map>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace quillbox;
using test::readFile;
using test::ScriptedPerson;
using test::writeFile;

namespace {

const QString kFolder = QStringLiteral("\\\\Arch");

struct TestMail {
    QByteArray subject;
    QList<std::pair<QByteArray, QByteArray>> attachments; // file name, bytes
};

// The mail as RFC 822, received on 3 March 2020 at 10:`n` UTC.
QByteArray mailBytes(const TestMail& mail, int n)
{
    const QByteArray minute = QByteArray::number(n % 60).rightJustified(2, '0');
    QByteArray bytes = "Received: from a.example.org by b.example.org; Tue, 3 Mar 2020 10:" + minute
        + ":00 +0000\r\nMessage-ID: <" + QByteArray::number(n) + "@example.org>\r\nFrom: Ann <ann@example.org>\r\n"
        + "To: bob@example.org\r\nSubject: " + mail.subject + "\r\nDate: Tue, 3 Mar 2020 09:" + minute
        + ":00 +0000\r\nMIME-Version: 1.0\r\n";
    if (mail.attachments.isEmpty())
        return bytes + "Content-Type: text/plain; charset=utf-8\r\n\r\nHello " + QByteArray::number(n) + "\r\n";
    bytes += "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\nContent-Type: text/plain\r\n\r\nSee.\r\n";
    for (const auto& [name, data] : mail.attachments)
        bytes += "--b\r\nContent-Type: application/octet-stream\r\nContent-Disposition: attachment; filename=\""
            + QByteArray(name).replace('"', "\\\"") + "\"\r\nContent-Transfer-Encoding: base64\r\n\r\n"
            + data.toBase64() + "\r\n";
    return bytes + "--b--\r\n";
}

QByteArray sha256(const QByteArray& bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

// Every entry below `root` but the manifest and the index, relative, with its inode: a file written again
// gets a new one.
std::map<QString, ino_t> inodes(const QString& root)
{
    std::map<QString, ino_t> out;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString name = QDir(root).relativeFilePath(path);
        struct stat info;
        if (name != output::Manifest::fileName() && name != output::Manifest::indexName()
            && ::lstat(QFile::encodeName(path).constData(), &info) == 0)
            out[name] = info.st_ino;
    }
    return out;
}

QList<QJsonObject> manifestLines(const QString& dest)
{
    QList<QJsonObject> lines;
    for (const QByteArray& line : readFile(dest + u'/' + output::Manifest::fileName()).split('\n'))
        if (!line.isEmpty())
            lines << QJsonDocument::fromJson(line).object();
    return lines;
}

// Fails the opening of one name with EACCES, as a destination that takes no new file there would.
class RefusingDisk : public output::Disk {
public:
    explicit RefusingDisk(QByteArray name)
        : m_name(std::move(name))
    {
    }
    int openat(int dirFd, const char* name, int flags, mode_t mode) override
    {
        if (m_name == name) {
            errno = EACCES;
            return -1;
        }
        return Disk::openat(dirFd, name, flags, mode);
    }

private:
    QByteArray m_name;
};

// Kills its own process as it is about to write, for the `killAt`-th time (counted from 1), bytes that start
// with `start`: the run ends the way a power cut or `kill -9` ends it.
class KillingDisk : public output::Disk {
public:
    KillingDisk(QByteArray start, int killAt)
        : m_start(std::move(start))
        , m_killAt(killAt)
    {
    }
    ssize_t write(int fd, const void* data, size_t size) override
    {
        if (QByteArrayView(static_cast<const char*>(data), qsizetype(size)).startsWith(m_start) && ++m_seen == m_killAt)
            ::raise(SIGKILL);
        return Disk::write(fd, data, size);
    }

private:
    QByteArray m_start;
    int m_killAt;
    int m_seen = 0;
};

class Archive : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_temp.isValid());
        m_store = m_temp.filePath(QStringLiteral("Arch"));
        m_dest = m_temp.filePath(QStringLiteral("dest"));
        ASSERT_TRUE(QDir().mkpath(m_store + QStringLiteral("/cur")));
        settings.dateFormat = QStringLiteral("yymmdd HHMMSS");
        settings.clipAddress = settings.clipSubject = QStringLiteral("50");
        settings.fnFormat = QStringLiteral("%3");
        settings.fnOutput = QStringLiteral("TXT");
        settings.skipSaved = 1;
    }

    // Adds the mail to the store and searches it again; returns the mail's file in the store.
    QString add(const TestMail& mail)
    {
        const int n = m_added++;
        const QString file = QStringLiteral("%1/cur/%2.M%3P1Q1.host:2,S").arg(m_store).arg(1583229600 + n).arg(n);
        writeFile(file, mailBytes(mail, n));
        search();
        return file;
    }

    void search()
    {
        ScriptedPerson quiet;
        searchMailFolder(quiet, settings, kFolder, list, factory());
        EXPECT_EQ(quiet.messages(), QStringList());
    }

    NamespaceFactory factory() const
    {
        return [root = m_store] { return mail::Namespace::fromStores({ { QStringLiteral("Arch"), root } }); };
    }

    SaveSummary save(output::Disk& disk = output::Disk::system())
    {
        person.clear();
        return saveRun(person, settings, kFolder, list, m_dest, factory(), disk, 0);
    }

    // The messages that are no information: what makes an unattended run end with status 1.
    QStringList errors() const { return person.messages(); }

    QString dest(const QString& name = {}) const { return name.isEmpty() ? m_dest : m_dest + u'/' + name; }

    QTemporaryDir m_temp;
    QString m_store, m_dest;
    int m_added = 0;
    Settings settings;
    ResultList list;
    ScriptedPerson person;
};

} // namespace

TEST_F(Archive, SkipSavedWritesOnlyWhatIsNewOrNoLongerInPlace)
{
    struct Case {
        const char* type;
        const char* firstFile; // of the first mail, deleted before the last run
    };
    // A .msg file is written as it is built (no thread builds ahead here), and its record read back from it.
    const Case cases[] = { { "TXT", "First.txt" }, { "MSG", "First.msg" }, { "DIR", "First/attachments/a.bin" },
        { "ATT", "First a.bin" } };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        QDir(dest()).removeRecursively();
        QDir(m_store + QStringLiteral("/cur")).removeRecursively();
        add({ "First", { { "a.bin", "aaaa" } } });
        add({ "Second", { { "b.bin", "bbbbbb" } } });
        settings.fnOutput = QLatin1String(c.type);

        EXPECT_TRUE(save().ok());
        EXPECT_EQ(person.informations(), QStringList { "2 new, 0 already saved." });
        const auto first = inodes(dest());

        // Again: nothing is written, not even the index, and the run says so without an error.
        const QFileInfo index(dest(output::Manifest::indexName()));
        EXPECT_TRUE(save().ok());
        EXPECT_EQ(person.informations(), QStringList { "0 new, 2 already saved." });
        EXPECT_EQ(inodes(dest()), first);
        EXPECT_EQ(QFileInfo(index.filePath()).lastModified(), index.lastModified());

        // A mail added since, with the subject of one saved before: only its files are new, under names of
        // their own.
        add({ "First", { { "c.bin", "c" } } });
        EXPECT_TRUE(save().ok());
        EXPECT_EQ(person.informations(), QStringList { "1 new, 2 already saved." });
        auto third = inodes(dest());
        for (const auto& [path, inode] : first)
            EXPECT_EQ(third[path], inode) << path.toStdString();
        EXPECT_GT(third.size(), first.size());

        // A file deleted from the destination: its mail is written again, under the same name.
        ASSERT_TRUE(QFile::remove(dest(QLatin1String(c.firstFile))));
        EXPECT_TRUE(save().ok());
        EXPECT_EQ(person.informations(), QStringList { "1 new, 2 already saved." });
        EXPECT_TRUE(QFileInfo::exists(dest(QLatin1String(c.firstFile))));
        EXPECT_EQ(manifestLines(dest()).size(), 4);
    }
}

TEST_F(Archive, InterruptedRunKeepsEveryWholeLineAndTheNextRunCompletesIt)
{
    struct Case {
        const char* why;
        QByteArray start; // of the write the run is killed at
        int killAt;
        int recorded; // whole lines it leaves
        const char* next; // what the next run says
    };
    const Case cases[] = {
        { "after two mails", "{", 3, 2, "3 new, 2 already saved." },
        { "after the last mail, writing the index", "folder,", 1, 5, "0 new, 5 already saved." },
    };
    for (const char* subject : { "One", "Two", "Three", "Four", "Five" })
        add({ subject, {} });
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        QDir(dest()).removeRecursively();
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            KillingDisk disk(c.start, c.killAt);
            static_cast<void>(save(disk));
            ::_exit(0);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;

        const QByteArray manifest = readFile(dest(output::Manifest::fileName()));
        EXPECT_EQ(manifest.count('\n'), c.recorded);
        EXPECT_TRUE(manifest.endsWith('\n'));
        for (const QJsonObject& line : manifestLines(dest()))
            EXPECT_EQ(line.value(QLatin1String("files")).toArray().size(), 1) << manifest.toStdString();

        EXPECT_TRUE(save().ok());
        EXPECT_EQ(person.informations(), QStringList { c.next });
        QSet<QString> entryIds;
        for (const QJsonObject& line : manifestLines(dest()))
            entryIds << line.value(QLatin1String("entryId")).toString();
        EXPECT_EQ(entryIds.size(), 5);
        EXPECT_EQ(readFile(dest(output::Manifest::indexName())).count("\r\n"), 6);
    }
}

TEST_F(Archive, IndexReadsBackWithPythonsCsvModule)
{
    const QList<QByteArray> subjects { "Quote \"this\" now", "Commas, and more, commas",
        "=?utf-8?q?Line_one=0D=0Aline_two?=", "=?utf-8?b?0J/RgNC40LLQtdGCLCDQvNC40YA=?=" };
    for (const QByteArray& subject : subjects)
        add({ subject, { { "x,\"y\".bin", "data" } } });
    settings.skipSaved = 0;
    settings.writeIndex = 1;
    ASSERT_TRUE(save().ok());
    EXPECT_EQ(person.messages(), QStringList());

    QProcess python;
    python.start(QStringLiteral("python3"),
        { QStringLiteral("-c"),
            QStringLiteral("import csv, json, sys\n"
                           "with open(sys.argv[1], newline='', encoding='utf-8') as f:\n"
                           "    print(json.dumps(list(csv.reader(f, strict=True))))"),
            dest(output::Manifest::indexName()) });
    ASSERT_TRUE(python.waitForFinished(30000));
    ASSERT_EQ(python.exitCode(), 0) << python.readAllStandardError().toStdString();
    const QJsonArray rows = QJsonDocument::fromJson(python.readAllStandardOutput()).array();
    ASSERT_EQ(rows.size(), 1 + list.count());
    EXPECT_EQ(rows[0].toArray().size(), 13);
    EXPECT_EQ(rows[0].toArray()[6].toString(), "subject");
    const QList<output::ManifestEntry> entries
        = output::Manifest::read(*output::Directory::open(dest(), output::Disk::system()))->entries();
    ASSERT_EQ(entries.size(), list.count());
    QStringList subjectsByNumber(entries.size());
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const QJsonArray row = rows[i + 1].toArray();
        EXPECT_EQ(row[6].toString(), entries[i].subject);
        EXPECT_EQ(row[0].toString(), kFolder + QStringLiteral("\\Inbox"));
        EXPECT_EQ(row[3].toString(), "Ann <ann@example.org>");
        // The Message-ID gives the mail's number, which gives its times.
        const int n = row[7].toString().section(u'@', 0, 0).toInt();
        ASSERT_TRUE(row[7].toString().endsWith(QLatin1String("@example.org")) && n >= 0 && n < entries.size());
        subjectsByNumber[n] = row[6].toString();
        const QDateTime sent = QDateTime::fromString(row[1].toString(), Qt::ISODate);
        EXPECT_EQ(sent, QDateTime(QDate(2020, 3, 3), QTime(9, n), Qt::UTC)) << row[1].toString().toStdString();
        EXPECT_TRUE(QRegularExpression(QStringLiteral("[+-]\\d\\d:\\d\\d$")).match(row[2].toString()).hasMatch());
        EXPECT_EQ(row[9].toString(), "1");
        EXPECT_EQ(row[10].toString(), "x,\"y\".bin");
        EXPECT_EQ(row[12].toString(), QString::fromLatin1(sha256(readFile(dest(row[11].toString())))));
        EXPECT_EQ(row[8].toString().toLongLong(), QFileInfo(dest(row[11].toString())).size());
    }
    EXPECT_EQ(subjectsByNumber,
        (QStringList { "Quote \"this\" now", "Commas, and more, commas", "Line one\r\nline two",
            QString::fromUtf8("Привет, мир") }));
}

TEST_F(Archive, DamagedOrForeignManifestsAreToldAndNeverTrustedForAPath)
{
    struct Case {
        const char* why;
        QByteArray manifest; // "%ID" stands for the first mail's entry identifier
        QStringList messages;
        int written; // mails written of the two
    };
    const QString manifestPath = dest(output::Manifest::fileName());
    const Case cases[] = {
        { "no JSON", "not json\n",
            { "Lines left out of the manifest " + manifestPath + ": 1. The first: line 1: not a JSON object",
                "2 new, 0 already saved." },
            2 },
        { "a cut last line", "{\"v\":1,\"entryId\":\"%ID\",\"type\":\"txt\",\"fi",
            { "Lines left out of the manifest " + manifestPath + ": 1. The first: line 1: not a JSON object",
                "2 new, 0 already saved." },
            2 },
        { "a path above the destination, where a file of its size lies",
            "{\"v\":1,\"entryId\":\"%ID\",\"type\":\"txt\",\"files\":[{\"path\":\"../outside.txt\",\"size\":4}]}\n",
            { "Lines left out of the manifest " + manifestPath
                    + ": 1. The first: line 1: the path \"../outside.txt\" is not below the destination",
                "2 new, 0 already saved." },
            2 },
        { "an absolute path",
            "{\"v\":1,\"entryId\":\"%ID\",\"type\":\"txt\",\"files\":[{\"path\":\"/etc/hostname\",\"size\":1}]}\n",
            { "Lines left out of the manifest " + manifestPath
                    + ": 1. The first: line 1: the path \"/etc/hostname\" is not below the destination",
                "2 new, 0 already saved." },
            2 },
        { "a path through a link planted in the destination, to a file of its size",
            "{\"v\":1,\"entryId\":\"%ID\",\"type\":\"txt\",\"files\":[{\"path\":\"up/outside.txt\",\"size\":4}]}\n",
            { "2 new, 0 already saved." }, 2 },
        { "a newer version", "{\"v\":2,\"entryId\":\"%ID\",\"type\":\"txt\",\"files\":[]}\n",
            { "The manifest " + manifestPath
                + " cannot be used: line 1 was written by a newer version of Quillbox. Nothing was saved." },
            0 },
    };
    add({ "First", {} });
    add({ "Second", {} });
    writeFile(m_temp.filePath(QStringLiteral("outside.txt")), "keep");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        QDir(dest()).removeRecursively();
        QByteArray manifest = c.manifest;
        writeFile(manifestPath, manifest.replace("%ID", list.row(0).entryId.toUtf8()));
        ASSERT_TRUE(QFile::link(m_temp.path(), dest(QStringLiteral("up"))));
        const SaveSummary summary = save();
        EXPECT_EQ(person.messages() + person.informations(), c.messages);
        EXPECT_EQ(summary.written, c.written);
        EXPECT_EQ(readFile(m_temp.filePath(QStringLiteral("outside.txt"))), "keep");
        const QByteArray after = readFile(manifestPath);
        EXPECT_TRUE(after.startsWith(manifest));
        // Every line this run added stands on a line of its own.
        int added = 0;
        for (const QByteArray& line : after.mid(manifest.size()).split('\n')) {
            EXPECT_TRUE(line.isEmpty() || QJsonDocument::fromJson(line).isObject()) << line.toStdString();
            added += line.isEmpty() ? 0 : 1;
        }
        EXPECT_EQ(added, c.written);
        EXPECT_EQ(QFileInfo::exists(dest(QStringLiteral("index.csv"))), c.written > 0);
    }
}

TEST_F(Archive, ManifestThatCannotBeWrittenFailsEachMailLikeAFile)
{
    add({ "First", {} });
    add({ "Second", {} });
    RefusingDisk disk(output::Manifest::fileName().toUtf8());
    const SaveSummary summary = save(disk);
    EXPECT_EQ(summary.failed, 2);
    EXPECT_EQ(errors(),
        QStringList { "2 of 2 emails could not be written. The first: " + dest(output::Manifest::fileName())
            + ": Permission denied" });
    // The files are there; the next run that can record them writes them again and records them.
    EXPECT_TRUE(save().ok());
    EXPECT_EQ(person.informations(), QStringList { "2 new, 0 already saved." });
}

TEST_F(Archive, AttachmentsOnlyHaveTheirBytesAndSafeUniqueNames)
{
    struct Case {
        QByteArray storedName;
        const char* savedName;
    };
    const Case cases[] = {
        { "report.pdf", "Mail report.pdf" },
        { "report.pdf", "Mail report (2).pdf" },
        { "", "Mail attachment" },
        { "../../evil.sh", "Mail _._.._evil.sh" },
        { "..", "Mail attachment (2)" },
        { "a\x1b[31m.txt", "Mail a_[31m.txt" },
    };
    TestMail mail { "Mail", {} };
    QByteArray bytes = "first";
    for (const Case& c : cases) {
        mail.attachments.append({ c.storedName, bytes });
        bytes += QByteArray::number(bytes.size()) + '\0';
    }
    add(mail);
    add({ "Bare", {} });
    settings.fnOutput = QStringLiteral("ATT");
    settings.skipSaved = 0;
    const SaveSummary summary = save();
    EXPECT_TRUE(summary.ok());
    EXPECT_EQ(summary.withoutAttachments, 1);
    EXPECT_EQ(
        person.informations(), QStringList { "1 of 2 emails have no attachments: nothing was written for them." });
    EXPECT_EQ(errors(), QStringList());
    QStringList expected;
    for (qsizetype i = 0; i < qsizetype(std::size(cases)); ++i) {
        const QString name = QString::fromUtf8(cases[i].savedName);
        expected << name;
        EXPECT_EQ(sha256(readFile(dest(name))), sha256(mail.attachments[i].second)) << name.toStdString();
    }
    expected.sort();
    EXPECT_EQ(QDir(dest()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name), expected);
    EXPECT_EQ(QDir(m_temp.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size(), 2);
}

TEST_F(Archive, FilesAndDirectoriesOfAMailCarryItsTime)
{
    struct Case {
        const char* type;
        QStringList entries;
    };
    const Case cases[] = {
        { "TXT", { "Dated.txt" } },
        { "DIR", { "Dated", "Dated/message.txt", "Dated/message.html", "Dated/attachments", "Dated/attachments/a" } },
        { "ATT", { "Dated a" } },
    };
    add({ "Dated", { { "a", "bytes" } } });
    const qint64 received = QDateTime(QDate(2020, 3, 3), QTime(10, 0), Qt::UTC).toSecsSinceEpoch();
    settings.setFileTimes = 1;
    settings.skipSaved = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        settings.fnOutput = QLatin1String(c.type);
        ASSERT_TRUE(save().ok());
        for (const QString& entry : c.entries) {
            struct stat info;
            ASSERT_EQ(::lstat(QFile::encodeName(dest(entry)).constData(), &info), 0) << entry.toStdString();
            EXPECT_EQ(info.st_mtim.tv_sec, received) << entry.toStdString();
        }
    }
    settings.setFileTimes = 0;
    settings.fnOutput = QStringLiteral("TXT");
    ASSERT_TRUE(save().ok());
    EXPECT_GT(QFileInfo(dest(QStringLiteral("Dated.txt"))).lastModified().toSecsSinceEpoch(), received + 86400);
}

// Each line of a manifest means what Qt's JSON reader makes of it, whichever reader the manifest took it
// with: spacing, key order, escapes, numbers written otherwise, keys twice and damage alike.
TEST(ManifestLines, MeanWhatQtsJsonReaderMakesOfThem)
{
    struct Case {
        const char* line;
        QString saved; // the entry identifier it records as saved as "txt"; empty when none
        bool whole; // its files in place with their sizes
        QString ignored; // why it was left out; empty when it was not
    };
    const QString why = QStringLiteral("line 1: ");
    const Case cases[] = {
        { R"({"v":1,"entryId":"E","type":"txt","files":[{"path":"a.txt","sha256":"00","size":4}]})", "E", true, {} },
        { R"({"v":1,"entryId":"E","type":"txt","subject":"Zo\u00eb \"q\", a\r\nb","from":"é","attachments":["x,y",""],)"
          R"("files":[{"path":"a.txt","size":4,"sha256":"ab"}],"folder":"\\\\S\\I"})",
            "E", true, {} },
        { " { \"files\" : [ { \"size\" : 4 , \"path\" : \"a.txt\" } ] , \"type\" : \"txt\" , \"entryId\" : \"E\","
          " \"v\" : 1 }\r",
            "E", true, {} },
        { R"({"v":1,"entryId":"\u00c9\"\\\/\n\t","type":"txt","files":[]})", QString::fromUtf8("É\"\\/\n\t"), true,
            {} },
        { R"({"v":1,"entryId":"E","type":"txt","files":[{"path":"d\/b.txt","size":3}]})", "E", true, {} },
        { R"({"v":1,"entryId":"E","type":"txt","files":[{"path":"a.txt","size":5}]})", "E", false, {} },
        { R"({"v":1,"entryId":"E","type":"txt","x":{"y":[1,-2.5e3,true,null,"z",{}]},"files":[]})", "E", true, {} },
        { R"({"v":1,"entryId":"E","type":"txt","files":[{"path":"a.txt","size":4.0}]})", "E", true, {} },
        { R"({"v":1.0,"entryId":"E","type":"txt","files":[]})", "E", true, {} },
        { R"({"v":1,"entryId":"X","entryId":"E","type":"txt","files":[]})", "E", true, {} },
        { R"({"v":1,"entryId":"E","type":"txt","files":{}})", "E", true, {} },
        { R"({"v":1,"entryId":"E","type":"txt","subject":"\ud83d\ude00","files":[]})", "E", true, {} },
        { "{\"v\":1,\"entryId\":\"E\",\"type\":\"txt\",\"subject\":\"\xff\",\"files\":[]}", {}, false,
            why + "not a JSON object" },
        { "{\"v\":1,\"entryId\":\"E\",\"type\":\"txt\",\"subject\":\"a\tb\",\"files\":[]}", "E", true, {} },
        { R"({"v":1,"entryId":"E","type":"txt","files":[]} x)", {}, false, why + "not a JSON object" },
        { R"({"v":1,"entryId":"E","type":"txt","files":[{"path":"a.txt","size":04}]})", {}, false,
            why + "not a JSON object" },
        { R"([{"v":1,"entryId":"E","type":"txt"}])", {}, false, why + "not a JSON object" },
        { R"({"v":"1","entryId":"E","type":"txt","files":[]})", {}, false, why + "no version" },
        { R"({"v":1,"entryId":"E","files":[]})", {}, false, why + "no entry identifier or output type" },
        { R"({"v":1,"entryId":"E","type":"txt","files":[{"path":"d/../../a.txt","size":4}]})", {}, false,
            why + "the path \"d/../../a.txt\" is not below the destination" },
        { R"({"v":1,"entryId":"E","type":"txt","files":[{"path":"a.txt","size":-4}]})", {}, false,
            why + "a file without its size" },
    };
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    writeFile(dir.filePath(QStringLiteral("a.txt")), "four");
    writeFile(dir.filePath(QStringLiteral("d/b.txt")), "two");
    const Result<output::Directory> opened = output::Directory::open(dir.path(), output::Disk::system());
    ASSERT_TRUE(opened.ok());
    const output::Directory& destination = *opened;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        writeFile(dir.filePath(output::Manifest::fileName()), QByteArray(c.line) + '\n');
        const Result<output::Manifest> read = output::Manifest::read(destination);
        ASSERT_TRUE(read.ok());
        EXPECT_EQ(read->firstIgnored(), c.ignored);
        const QList<output::ManifestEntry> entries = read->entries();
        ASSERT_EQ(entries.size(), c.saved.isEmpty() ? 0 : 1);
        if (!c.saved.isEmpty()) {
            EXPECT_EQ(entries[0].entryId, c.saved);
            EXPECT_EQ(read->savedWhole(c.saved, QStringLiteral("txt")), c.whole);
            const QJsonObject object = QJsonDocument::fromJson(c.line).object();
            const std::pair<const char*, QString> texts[]
                = { { "subject", entries[0].subject }, { "from", entries[0].from }, { "folder", entries[0].folder } };
            for (const auto& [key, text] : texts)
                EXPECT_EQ(text, object.value(QLatin1String(key)).toString()) << key;
            QStringList attachments;
            for (const QJsonValue& name : object.value(QLatin1String("attachments")).toArray())
                attachments << name.toString();
            EXPECT_EQ(entries[0].attachments, attachments);
            QByteArrayList hashes;
            for (const QJsonValue& file : object.value(QLatin1String("files")).toArray())
                hashes << file.toObject().value(QLatin1String("sha256")).toString().toLatin1();
            EXPECT_EQ(entries[0].files.size(), hashes.size());
            for (qsizetype i = 0; i < std::min(entries[0].files.size(), hashes.size()); ++i)
                EXPECT_EQ(entries[0].files[i].sha256, hashes[i]);
        }
    }
}

// A manifest of many lines is read in parts: each line keeps its number, and the first line of a newer
// version stops the read wherever it stands.
TEST(ManifestLines, KeepTheirNumbersAcrossTheParts)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const Result<output::Directory> opened = output::Directory::open(dir.path(), output::Disk::system());
    ASSERT_TRUE(opened.ok());
    const output::Directory& destination = *opened;
    QByteArray manifest;
    const int count = 20000;
    for (int n = 1; n <= count; ++n)
        manifest += n % 7000 == 0 ? QByteArray("damaged\n")
                                  : R"({"v":1,"entryId":")" + QByteArray::number(n)
                + R"(","type":"txt","subject":"a long subject, to fill the line","files":[]})" + "\n\n";
    writeFile(dir.filePath(output::Manifest::fileName()), manifest);
    const Result<output::Manifest> read = output::Manifest::read(destination);
    ASSERT_TRUE(read.ok());
    EXPECT_EQ(read->ignoredLines(), 2);
    EXPECT_EQ(read->firstIgnored(), "line 13999: not a JSON object");
    EXPECT_EQ(read->entries().size(), count - 2);
    EXPECT_TRUE(read->savedWhole(QStringLiteral("19999"), QStringLiteral("txt")));

    writeFile(dir.filePath(output::Manifest::fileName()),
        manifest + R"({"v":2,"entryId":"N","type":"txt"})" + "\ndamaged\n" + R"({"v":3})" + "\n");
    const Result<output::Manifest> newer = output::Manifest::read(destination);
    ASSERT_FALSE(newer.ok());
    EXPECT_EQ(
        newer.error().detail, QStringLiteral("line %1 was written by a newer version of Quillbox").arg(2 * count - 1));
}

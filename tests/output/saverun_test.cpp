// SPDX-License-Identifier: MIT
// The save run on a copy of the sample store: trees and contents per output type, and the hostile cases
// (names that point elsewhere, links planted in the destination, read-only or full disks).
#include "output/saverun.h"

#include "mail/maildir/maildirnames.h"
#include "output/formats.h"
#include "output/outputnames.h"
#include "support/msgreader.h"
#include "support/qtprinters.h"
#include "support/scriptedperson.h"
#include "support/testfiles.h"

#include <QDir>
#include <QDirIterator>
#include <QJsonArray>
#include <QMap>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <numeric>

using namespace quillbox;
using test::readFile;
using test::ScriptedPerson;
using test::writeFile;

namespace {

const QString kStore = QStringLiteral("Sample Mailbox");
const QString kStoreRoot = QStringLiteral("\\\\Sample Mailbox");

// Every entry below `root`, relative, sorted; directories end in "/", links (never followed) in " -> target".
QStringList tree(const QString& root)
{
    QStringList entries;
    QDirIterator it(
        root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        QString entry = QDir(root).relativeFilePath(info.filePath());
        if (info.isSymLink())
            entry += QStringLiteral(" -> ") + info.symLinkTarget();
        else if (info.isDir())
            entry += u'/';
        entries << entry;
    }
    entries.sort();
    return entries;
}

// The directories among `entries` of tree(), or with `dirs` false the rest.
QStringList ofKind(const QStringList& entries, bool dirs)
{
    QStringList out;
    for (const QString& entry : entries)
        if (entry.endsWith(u'/') == dirs)
            out << entry;
    return out;
}

Settings saveSettings(const char* type, const char* format, int folderOption = 0)
{
    Settings settings;
    settings.dateFormat = QStringLiteral("yymmdd HHMMSS");
    settings.clipAddress = QStringLiteral("50");
    settings.clipSubject = QStringLiteral("50");
    settings.fnOutput = QString::fromUtf8(type);
    settings.fnFormat = QString::fromUtf8(format);
    settings.useFnFolder = folderOption;
    return settings;
}

// A copy of the sample store in a temporary directory, with a place beside it for destinations.
class SampleStore : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_temp.isValid());
        m_root = m_temp.filePath(kStore);
        ASSERT_EQ(QProcess::execute(QStringLiteral("cp"),
                      { QStringLiteral("-a"), QStringLiteral(SOURCE_DIR "/samples/Sample Mailbox"), m_root }),
            0);
        m_work = m_temp.filePath(QStringLiteral("work"));
        ASSERT_TRUE(QDir().mkpath(m_work));
        m_dest = m_work + QStringLiteral("/dest");
    }

    NamespaceFactory factory() const
    {
        return [root = m_root] { return mail::Namespace::fromStores({ { kStore, root } }); };
    }

    // The search of `folder` (the whole store by default) into the list.
    void search(const QString& folder = kStoreRoot)
    {
        ScriptedPerson person;
        searchMailFolder(person, saveSettings("eml", "%3"), folder, m_list, factory());
        ASSERT_EQ(person.messages(), QStringList());
        ASSERT_GT(m_list.count(), 0);
    }

    SaveSummary save(const Settings& settings, const QString& mailFolder = kStoreRoot,
        output::Disk& disk = output::Disk::system(), int workerThreads = -1)
    {
        m_person.clear();
        return saveRun(m_person, settings, mailFolder, m_list, m_dest, factory(), disk, workerThreads);
    }

    // The item of list row `index`, as the store gives it now.
    std::unique_ptr<mail::MailItem> item(int index) const
    {
        auto found = factory()().getItemFromID(m_list.row(index).entryId);
        EXPECT_TRUE(found.ok());
        return found.ok() ? std::move(*found) : nullptr;
    }

    // The message file of list row `index` in the store copy.
    QString sourceFile(int index) const
    {
        const auto ref = mail::maildir::decodeEntryID(m_list.row(index).entryId);
        EXPECT_TRUE(ref);
        if (!ref)
            return {};
        const QString dir = ref->folderDir.isEmpty() ? m_root : m_root + u'/' + QFile::decodeName(ref->folderDir);
        return dir + u'/' + QFile::decodeName(ref->subdir) + u'/' + QFile::decodeName(ref->fileName);
    }

    int rowWithSubject(const QString& subject) const
    {
        for (int i = 0; i < m_list.count(); ++i)
            if (m_list.row(i).subject == subject)
                return i;
        ADD_FAILURE() << "no row with the subject " << qPrintable(subject);
        return 0;
    }

    // Nothing but the destination was made beside it, and no temporary file is left in it.
    void expectNothingStrayed() const
    {
        EXPECT_EQ(QDir(m_work).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
            QStringList { QStringLiteral("dest") });
        for (const QString& entry : tree(m_dest))
            EXPECT_FALSE(QFileInfo(entry).fileName().startsWith(QLatin1String(".quillbox-"))) << qPrintable(entry);
    }

    QTemporaryDir m_temp;
    QString m_root;
    QString m_work;
    QString m_dest;
    ResultList m_list;
    ScriptedPerson m_person;
};

// A disk that fails chosen calls with a chosen error, as a full or read-only file system would.
class FailingDisk : public output::Disk {
public:
    int failWrite = 0; ///< fails this write (counted from 1) and, while it stays full, every later one
    bool staysFull = true;
    int writeError = ENOSPC;
    bool readOnly = false; ///< nothing can be created
    bool noUnnamedFiles = false; ///< a file system without O_TMPFILE
    bool noProc = false; ///< no /proc to link an unnamed file through
    bool noLinkByDescriptor = false; ///< linkat(AT_EMPTY_PATH) refused, as before Linux 6.10 unprivileged
    int writes = 0;
    int failCall = 0; ///< fails only this write, mkdir, rename or link (counted from 1) with callError
    int callError = EIO;
    int calls = 0; ///< the writes, mkdirs, renames and links so far
    int renames = 0;

    int openat(int dirFd, const char* name, int flags, mode_t mode) override
    {
        const bool unnamed = (flags & O_TMPFILE) == O_TMPFILE;
        if (noUnnamedFiles && unnamed)
            return fail(EOPNOTSUPP);
        if (readOnly && ((flags & O_CREAT) || unnamed))
            return fail(EROFS);
        return Disk::openat(dirFd, name, flags, mode);
    }
    int linkat(int fromDirFd, const char* from, int toDirFd, const char* to) override
    {
        if ((noProc && QByteArrayView(from).startsWith("/proc/")) || (noLinkByDescriptor && !*from))
            return fail(ENOENT);
        if (failsThisCall())
            return fail(callError);
        return Disk::linkat(fromDirFd, from, toDirFd, to);
    }
    ssize_t write(int fd, const void* data, size_t size) override
    {
        if (failWrite > 0 && (staysFull ? ++writes >= failWrite : ++writes == failWrite))
            return fail(writeError);
        if (failsThisCall())
            return fail(callError);
        return Disk::write(fd, data, size);
    }
    int mkdirat(int dirFd, const char* name, mode_t mode) override
    {
        if (readOnly)
            return fail(EROFS);
        if (failsThisCall())
            return fail(callError);
        return Disk::mkdirat(dirFd, name, mode);
    }
    int renameat(int fromDirFd, const char* from, int toDirFd, const char* to) override
    {
        ++renames;
        if (failsThisCall())
            return fail(callError);
        return Disk::renameat(fromDirFd, from, toDirFd, to);
    }

private:
    bool failsThisCall() { return ++calls == failCall; }
    static int fail(int error)
    {
        errno = error;
        return -1;
    }
};

} // namespace

// --- Names ----------------------------------------------------------------------------------------------

TEST(OutputNames, FitNameCutsTheStemBetweenCharacters)
{
    const QString han(300, QChar(u'\u4E2D')); // three bytes each
    const QString emoji = QString::fromUtf8("\xF0\x9F\xA5\x90"); // four bytes, a surrogate pair
    struct Case {
        const char* why;
        QString stem, suffix, extension;
        QString expected;
    };
    const Case cases[] = {
        { "short names stay", QStringLiteral("report"), {}, QStringLiteral(".msg"), QStringLiteral("report.msg") },
        { "ASCII: the stem keeps 251 bytes", QString(300, u'a'), {}, QStringLiteral(".msg"),
            QString(251, u'a') + QStringLiteral(".msg") },
        { "three-byte characters: 83 fit beside .msg (249 + 4 bytes)", han, {}, QStringLiteral(".msg"),
            han.left(83) + QStringLiteral(".msg") },
        { "the suffix counts too", han, QStringLiteral(" (2)"), QStringLiteral(".msg"),
            han.left(82) + QStringLiteral(" (2).msg") },
        { "a surrogate pair is kept or dropped whole", QString(250, u'a') + emoji, {}, QStringLiteral(".eml"),
            QString(250, u'a') + QStringLiteral(".eml") },
        { "a pair that fits stays", QString(247, u'a') + emoji + QStringLiteral("b"), {}, QStringLiteral(".eml"),
            QString(247, u'a') + emoji + QStringLiteral(".eml") },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        const QString name = output::fitName(c.stem, c.suffix, c.extension);
        EXPECT_EQ(name, c.expected);
        EXPECT_LE(name.toUtf8().size(), 255);
    }
}

TEST(OutputNames, SafeComponentAndExtension)
{
    struct Case {
        const char* why;
        QString name, safe;
        QString extension = {}; // what splitExtension finds in the safe name
    };
    const Case cases[] = {
        { "a climb out of the directory stays in it, and is not hidden", "../../escape.txt", "_._.._escape.txt",
            ".txt" },
        { "an absolute path becomes one name", "/etc/passwd", "_etc_passwd" },
        { "dot-dot is no name", "..", "attachment" },
        { "dot is no name", ".", "attachment" },
        { "empty is no name", QString(), "attachment" },
        { "NUL cannot be in a name", QStringLiteral("a") + QChar(u'\0') + QStringLiteral("b.pdf"), "a_b.pdf", ".pdf" },
        { "no name is hidden", ".profile", "_profile" },
        { "a right-to-left override cannot show gpj.exe as exe.jpg", QStringLiteral("photo\u202Egpj.exe"),
            "photo_gpj.exe", ".exe" },
        { "the other bidirectional controls", QStringLiteral("a\u202Ab\u202Dc\u2066d\u2069e"), "a_b_c_d_e" },
        { "C0, DEL and C1 controls", QStringLiteral("a\tb\u007F\u0085c\u009F.txt"), "a_b__c_.txt", ".txt" },
        { "a blank after the dot is no extension", "v1.2 draft", "v1.2 draft" },
        { "backslash is an ordinary character here", "a\\b.txt", "a\\b.txt", ".txt" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        const QString safe = output::safeComponent(c.name, QStringLiteral("attachment"));
        EXPECT_EQ(safe, c.safe);
        EXPECT_EQ(output::splitExtension(safe), std::make_pair(c.safe.chopped(c.extension.size()), c.extension));
    }
}

TEST(OutputNames, ClaimNumbersRepeatsPerDirectoryWithoutRegardToCase)
{
    output::NameBook book;
    const QString ext = QStringLiteral(".msg");
    EXPECT_EQ(book.claim({}, QStringLiteral("Weekly"), ext), QStringLiteral("Weekly.msg"));
    EXPECT_EQ(book.claim({}, QStringLiteral("weekly"), ext), QStringLiteral("weekly (2).msg"));
    EXPECT_EQ(book.claim({}, QStringLiteral("Weekly (2)"), ext), QStringLiteral("Weekly (2) (2).msg"));
    EXPECT_EQ(book.claim({}, QStringLiteral("Weekly"), ext), QStringLiteral("Weekly (3).msg"));
    EXPECT_EQ(book.claim(QStringLiteral("Sub"), QStringLiteral("Weekly"), ext), QStringLiteral("Weekly.msg"));
    // Only letters meet their other case: "@[" and "`{" are one bit apart too.
    const std::pair<const char*, const char*> names[] = { { "@[Zed]", "@[Zed]" }, { "`{zed}", "`{zed}" },
        { "@[ZED]", "@[ZED] (2)" }, { "\xC3\x84rger", "\xC3\x84rger" }, { "\xC3\xA4RGER", "\xC3\xA4RGER (2)" } };
    for (const auto& [stem, given] : names)
        EXPECT_EQ(book.claim(QStringLiteral("Case"), QString::fromUtf8(stem)), QString::fromUtf8(given));
    book.share({}, QStringLiteral("Projects"));
    book.share({}, QStringLiteral("Projects"));
    EXPECT_EQ(book.claim({}, QStringLiteral("projects")), QStringLiteral("projects (2)"));
    // Names cut to fit that then meet are told apart too.
    const QString longer = QString(260, u'x');
    EXPECT_EQ(book.claim({}, longer + u'1', ext), QString(251, u'x') + ext);
    EXPECT_EQ(book.claim({}, longer + u'2', ext), QString(247, u'x') + QStringLiteral(" (2)") + ext);
    // A lone surrogate is written as U+FFFD: the two are one name on disk, as files and as directories.
    const QString lone(1, QChar(0xD800));
    const QString replacement(1, QChar::ReplacementCharacter);
    EXPECT_EQ(book.claim({}, replacement, ext), replacement + ext);
    EXPECT_EQ(book.claim({}, lone, ext), lone + QStringLiteral(" (2)") + ext);
    EXPECT_EQ(book.claim(replacement, QStringLiteral("a"), ext), QStringLiteral("a.msg"));
    EXPECT_EQ(book.claim(lone, QStringLiteral("a"), ext), QStringLiteral("a (2).msg"));
}

// --- Checks and progress -------------------------------------------------------------------------------

TEST_F(SampleStore, ChecksComeFirstInTheirOrderAndOpenNothing)
{
    search();
    ResultList empty;
    struct Case {
        const char* why;
        QString mailFolder, destination;
        const ResultList* list;
        QString message;
        const char* clipAddress = "50";
        const char* clipSubject = "50";
    };
    const Case cases[] = {
        { "all blank: the Mail Folder is told first", {}, {}, &empty, QStringLiteral("The 'Mail Folder' box is blank"),
            "abc" },
        { "blank destination before the empty list", kStoreRoot, {}, &empty,
            QStringLiteral("The 'Save to' box is blank") },
        { "an empty list", kStoreRoot, m_dest, &empty, QStringLiteral("There are no emails in the list."), "abc" },
        // A clip that is no number would fail every mail: the run does not start, and says which setting.
        { "a clip that is no number", kStoreRoot, m_dest, &m_list,
            QStringLiteral("The ClipAddress setting is not a number of characters: \"abc\"."), "abc" },
        { "a negative clip", kStoreRoot, m_dest, &m_list,
            QStringLiteral("The ClipSubject setting is not a number of characters: \"-1\"."), "50", "-1" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        ScriptedPerson person;
        bool opened = false;
        Settings settings = saveSettings("eml", "%3");
        settings.clipAddress = QString::fromLatin1(c.clipAddress);
        settings.clipSubject = QString::fromLatin1(c.clipSubject);
        const SaveSummary summary = saveRun(person, settings, c.mailFolder, *c.list, c.destination, [&] {
            opened = true;
            return mail::Namespace::fromStores({});
        });
        EXPECT_EQ(person.messages(), QStringList { c.message });
        EXPECT_TRUE(person.progressWindows().empty());
        EXPECT_FALSE(opened);
        EXPECT_FALSE(summary.ok());
        EXPECT_FALSE(QFileInfo::exists(m_dest));
    }
}

TEST_F(SampleStore, ProgressCountsEveryRow)
{
    search();
    const int n = m_list.count();
    const SaveSummary summary = save(saveSettings("eml", "%6"));
    EXPECT_TRUE(summary.ok());
    EXPECT_EQ(m_person.messages(), QStringList());
    ASSERT_EQ(m_person.progressWindows().size(), 1u);
    const ScriptedPerson::ProgressRecord& window = m_person.progressWindows()[0];
    EXPECT_EQ(window.caption, QStringLiteral("Saving ..."));
    EXPECT_EQ(window.maximum, n);
    ASSERT_EQ(window.statuses.size(), n);
    EXPECT_EQ(window.statuses[0], QStringLiteral("Saving 1 of %1").arg(n));
    EXPECT_EQ(window.statuses.last(), QStringLiteral("Saving %1 of %1").arg(n));
    std::vector<qint64> expected(static_cast<size_t>(n));
    std::iota(expected.begin(), expected.end(), 1);
    EXPECT_EQ(window.values, expected);
    EXPECT_TRUE(window.closed);
}

// Cancelled between two mails: the mails before are whole, as a whole run writes them, and none after.
TEST_F(SampleStore, CancelledRunKeepsTheMailsBeforeWholeAndCountsTheRest)
{
    search();
    const int n = m_list.count();
    const QString wholeDest = m_work + QStringLiteral("/whole");
    ASSERT_TRUE(save(saveSettings("msg", "%6")).ok());
    ASSERT_TRUE(QDir().rename(m_dest, wholeDest));
    struct Case {
        const char* type;
        int cancelAt; ///< the progress value at which the person cancels
        int workers;
    };
    const Case cases[] = { { "msg", 1, 0 }, { "msg", 3, 4 }, { "eml", n - 1, 1 }, { "dir", 2, 4 } };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.type) + " at " + std::to_string(c.cancelAt));
        QDir(m_dest).removeRecursively();
        m_person.clear();
        m_person.cancelAtValue(c.cancelAt);
        const SaveSummary summary = save(saveSettings(c.type, "%6"), kStoreRoot, output::Disk::system(), c.workers);
        m_person.cancelAtValue(0);
        EXPECT_TRUE(summary.cancelled);
        EXPECT_FALSE(summary.finished || summary.ok());
        EXPECT_EQ(summary.written, c.cancelAt);
        EXPECT_EQ(m_person.messages(),
            QStringList { QStringLiteral("Saving was cancelled: %1 of %2 emails were saved, %3 were not.")
                              .arg(c.cancelAt)
                              .arg(n)
                              .arg(n - c.cancelAt) });
        const bool dirs = c.type == std::string("dir");
        const QStringList entries = tree(m_dest);
        EXPECT_EQ(QDir(m_dest).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size(), c.cancelAt)
            << entries.join(u' ').toStdString();
        for (int i = 0; i < n; ++i) {
            const QString name = m_list.row(i).entryId + (dirs ? QString() : u'.' + QLatin1String(c.type));
            EXPECT_EQ(QFileInfo::exists(m_dest + u'/' + name), i < c.cancelAt) << i;
        }
        if (c.type == std::string("msg")) {
            for (const QString& file : ofKind(entries, false))
                EXPECT_EQ(readFile(m_dest + u'/' + file), readFile(wholeDest + u'/' + file)) << qPrintable(file);
        }
        ASSERT_EQ(m_person.progressWindows().size(), 1u);
        EXPECT_TRUE(m_person.progressWindows()[0].closed);
    }
    QDir(wholeDest).removeRecursively();
}

// --- Output types --------------------------------------------------------------------------------------

// One file per mail, with its mail's content; the rows' other texts name the next mail: the EntryID decides.
TEST_F(SampleStore, EveryFileTypeWritesEachMailWhole)
{
    search();
    std::vector<ResultRow> rows;
    for (int i = 0; i < m_list.count(); ++i) {
        ResultRow row = m_list.row(i);
        row.from = row.subject = row.to = row.folder = row.sentText = m_list.row((i + 1) % m_list.count()).entryId;
        rows.push_back(row);
    }
    m_list.clear();
    m_list.appendRows(std::move(rows));
    const QLocale locale = QLocale::system();
    struct Case {
        const char* type;
        QString extension;
        std::function<QByteArray(const mail::MailItem&)> content;
    };
    const Case cases[] = {
        { "eml", QStringLiteral(".eml"), {} }, // checked against the source file instead
        { "txt", QStringLiteral(".txt"), [&](const mail::MailItem& m) { return formats::textContent(m, locale); } },
        { "rtf", QStringLiteral(".rtf"), [&](const mail::MailItem& m) { return formats::rtfContent(m, locale); } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        QDir(m_dest).removeRecursively();
        const SaveSummary summary = save(saveSettings(c.type, "%6"));
        EXPECT_TRUE(summary.ok());
        QStringList expectedNames;
        for (int i = 0; i < m_list.count(); ++i)
            expectedNames << m_list.row(i).entryId + c.extension;
        expectedNames.sort();
        ASSERT_EQ(tree(m_dest), expectedNames);
        for (int i = 0; i < m_list.count(); ++i) {
            const QByteArray written = readFile(m_dest + u'/' + m_list.row(i).entryId + c.extension);
            if (c.content)
                EXPECT_EQ(written, c.content(*item(i))) << "row " << i;
            else
                EXPECT_EQ(written, readFile(sourceFile(i))) << "row " << i;
        }
        expectNothingStrayed();
    }
}

TEST_F(SampleStore, FolderOptionRepeatsTheFoldersBelowTheSearchedOne)
{
    struct Case {
        const char* why;
        QString searched, mailFolderAtSave;
        QStringList dirs;
        QString someFile;
    };
    const QStringList wholeStore { "Archive/", "Archive/2012/", "Archive/2020/", "Drafts/",
        QString::fromUtf8("Entw\xC3\xBCrfe/"), "Inbox/", "Projects/", "Projects/Garden Club/", "Projects/Quillbox/",
        "Projects/Quillbox/2019/", "R&D/", "Sent/" };
    // Characters are dropped by count: one more takes the "/" that follows the searched folder's path.
    const Case cases[] = {
        { "the whole store", kStoreRoot, kStoreRoot, wholeStore,
            QStringLiteral("Projects/Quillbox/2019/Weekly status (2).eml") },
        { "the Mail Folder text one character longer (a trailing backslash): the same tree", kStoreRoot,
            kStoreRoot + u'\\', wholeStore, QStringLiteral("Inbox/Welcome to the sample mailbox.eml") },
        { "two characters longer: every folder part loses its first character", kStoreRoot,
            kStoreRoot + QStringLiteral("\\x"),
            { "ent/", "rafts/", "nbox/", QString::fromUtf8("ntw\xC3\xBCrfe/"), "rchive/", "rchive/2012/",
                "rchive/2020/", "rojects/", "rojects/Garden Club/", "rojects/Quillbox/", "rojects/Quillbox/2019/",
                "&D/" },
            QStringLiteral("rojects/Quillbox/2019/Weekly status.eml") },
        { "a sub-folder: its own mails go straight into the destination", kStoreRoot + QStringLiteral("\\Projects"),
            kStoreRoot + QStringLiteral("\\Projects"), { "Garden Club/", "Quillbox/", "Quillbox/2019/" },
            QStringLiteral("Budget 2019 draft.eml") },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        QDir(m_dest).removeRecursively();
        m_list.clear();
        search(c.searched);
        EXPECT_TRUE(save(saveSettings("eml", "%3", 1), c.mailFolderAtSave).ok());
        const QStringList entries = tree(m_dest);
        QStringList expectedDirs = c.dirs;
        expectedDirs.sort();
        EXPECT_EQ(ofKind(entries, true), expectedDirs);
        EXPECT_EQ(ofKind(entries, false).size(), m_list.count());
        EXPECT_TRUE(entries.contains(c.someFile)) << qPrintable(entries.join(u'\n'));
        expectNothingStrayed();
    }
}

TEST_F(SampleStore, DirectoryPerMailHoldsTextHtmlAndTheAttachmentsByteForByte)
{
    search();
    const QLocale locale = QLocale::system();
    ASSERT_TRUE(save(saveSettings("dir", "%6")).ok());
    QStringList expectedTop;
    int withAttachments = 0;
    int withIndex = 0;
    for (int i = 0; i < m_list.count(); ++i) {
        const QString id = m_list.row(i).entryId;
        SCOPED_TRACE(qPrintable(m_list.row(i).subject));
        expectedTop << id + u'/';
        const QString dir = m_dest + u'/' + id;
        const auto mail = item(i);
        ASSERT_TRUE(mail);
        EXPECT_EQ(readFile(dir + QStringLiteral("/message.txt")), formats::textContent(*mail, locale));
        // The one image the sample shows by its Content-ID is linked to where it was saved.
        const formats::DirectoryHtml html = formats::directoryHtml(*mail, locale);
        EXPECT_EQ(readFile(dir + QStringLiteral("/message.html")),
            QByteArray(html.message).replace("src=\"cid:chart@example.com\"", "src=\"attachments/chart.png\""));
        const auto attachments = mail->attachments();
        ASSERT_TRUE(attachments.ok());
        QStringList expectedInside { QStringLiteral("message.html"), QStringLiteral("message.txt") };
        if (!html.index.isEmpty()) {
            ++withIndex;
            EXPECT_EQ(readFile(dir + QStringLiteral("/index.html")), html.index);
            expectedInside.prepend(QStringLiteral("index.html"));
        }
        if (attachments->empty()) {
            EXPECT_EQ(tree(dir), expectedInside);
            continue;
        }
        ++withAttachments;
        const QStringList files = tree(dir + QStringLiteral("/attachments"));
        EXPECT_EQ(files.size(), qsizetype(attachments->size()));
        QList<QByteArray> stored;
        for (const auto& a : *attachments)
            stored << *a->data();
        for (const QString& file : files)
            EXPECT_TRUE(stored.contains(readFile(dir + QStringLiteral("/attachments/") + file))) << qPrintable(file);
    }
    EXPECT_GE(withAttachments, 10);
    EXPECT_GE(withIndex, 1);
    expectedTop.sort();
    EXPECT_EQ(tree(m_dest).filter(QRegularExpression(QStringLiteral("^[^/]+/$"))), expectedTop);

    expectNothingStrayed();
}

TEST_F(SampleStore, OutputTypeIsComparedLowerCasedAndExactly)
{
    search();
    for (const char* type : { "MSG", "Msg", "eMl", "DIR" }) {
        SCOPED_TRACE(type);
        QDir(m_dest).removeRecursively();
        EXPECT_TRUE(save(saveSettings(type, "%6")).ok());
        EXPECT_EQ(m_person.messages(), QStringList());
        EXPECT_EQ(QDir(m_dest).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size(), m_list.count());
    }
    // Any other text is said once, naming the value, and the run writes .msg files.
    for (const char* type : { " msg", "html", "", "msg " }) {
        SCOPED_TRACE(type);
        QDir(m_dest).removeRecursively();
        const SaveSummary summary = save(saveSettings(type, "%6"));
        EXPECT_EQ(m_person.messages(),
            QStringList { QStringLiteral("The FnOutput setting \"%1\" is not an output type (MSG, TXT, RTF, EML, "
                                         "DIR, PDF, ATT): MSG is used.")
                              .arg(QLatin1String(type)) });
        EXPECT_TRUE(summary.ok());
        EXPECT_EQ(QDir(m_dest).entryList({ QStringLiteral("*.msg") }, QDir::Files).size(), m_list.count());
    }
}

// An empty name gets the fallback name, as a file or as a directory: ".eml" would be a hidden file.
TEST_F(SampleStore, EmptyBaseNames)
{
    search();
    for (const char* type : { "eml", "dir" }) {
        SCOPED_TRACE(type);
        QDir(m_dest).removeRecursively();
        ASSERT_TRUE(save(saveSettings(type, "")).ok());
        const QString extension = type == std::string_view("dir") ? QStringLiteral("/") : QStringLiteral(".eml");
        QStringList expected { QStringLiteral("email") + extension };
        for (int i = 2; i <= m_list.count(); ++i)
            expected << QStringLiteral("email (%1)").arg(i) + extension;
        expected.sort();
        EXPECT_EQ(tree(m_dest).filter(QRegularExpression(QStringLiteral("^[^/]+/?$"))), expected);
        expectNothingStrayed();
    }
}

TEST_F(SampleStore, DestinationWithOrWithoutSlashMissingOrNot)
{
    search();
    const QString deep = m_dest + QStringLiteral("/a/b");
    for (const QString& destination : { deep, deep + u'/', deep + QStringLiteral("//") }) {
        SCOPED_TRACE(qPrintable(destination));
        QDir(m_dest).removeRecursively();
        m_person.clear();
        EXPECT_TRUE(saveRun(m_person, saveSettings("eml", "%3"), kStoreRoot, m_list, destination, factory()).ok());
        EXPECT_EQ(m_person.messages(), QStringList());
        EXPECT_EQ(tree(deep).size(), m_list.count());
    }
}

TEST_F(SampleStore, SavingAgainGivesTheSameNamesAndReplacesTheFiles)
{
    search();
    ASSERT_TRUE(save(saveSettings("eml", "%1 %3", 1)).ok());
    const QStringList first = tree(m_dest);
    const int row = rowWithSubject(QStringLiteral("Weekly status"));
    const QString firstPath = m_dest + QStringLiteral("/Projects/Quillbox/2019/") + m_list.row(row).sentText
        + QStringLiteral(" Weekly status.eml");
    ASSERT_TRUE(QFileInfo::exists(firstPath));
    const QByteArray whole = readFile(firstPath);
    writeFile(firstPath, "changed since");

    ASSERT_TRUE(save(saveSettings("eml", "%1 %3", 1)).ok());
    EXPECT_EQ(tree(m_dest), first);
    EXPECT_EQ(readFile(firstPath), whole);
}

// A mail deleted after the search is counted with its reason and the run goes on, with or without workers.
TEST_F(SampleStore, MailDeletedAfterTheSearchIsCountedAndTheRunGoesOn)
{
    search();
    const int deleted = 5;
    ASSERT_TRUE(QFile::remove(sourceFile(deleted)));
    QStringList expected;
    for (int i = 0; i < m_list.count(); ++i)
        if (i != deleted)
            expected << m_list.row(i).entryId + QStringLiteral(".msg");
    expected.sort();
    for (int workers : { 0, 1, 4 }) {
        SCOPED_TRACE(workers);
        QDir(m_dest).removeRecursively();
        const SaveSummary summary = save(saveSettings("msg", "%6"), kStoreRoot, output::Disk::system(), workers);
        EXPECT_EQ(m_person.messages(),
            QStringList { QStringLiteral("1 of %1 emails could not be written. The first: %2: no such message in "
                                         "Sample Mailbox")
                              .arg(m_list.count())
                              .arg(m_list.row(deleted).entryId) });
        EXPECT_TRUE(summary.finished);
        EXPECT_EQ(summary.failed, 1);
        EXPECT_EQ(summary.written, m_list.count() - 1);
        EXPECT_EQ(tree(m_dest), expected);
        ASSERT_EQ(m_person.progressWindows().size(), 1u);
        EXPECT_EQ(m_person.progressWindows()[0].statuses.size(), m_list.count());
    }
}

// Only a few rows are found ahead of the one written, whatever the type builds: the mails deleted while the
// first is written cannot be written, but for those already held.
TEST_F(SampleStore, RowsFoundAheadAreBounded)
{
    search();
    for (const char* type : { "eml", "txt", "dir" }) {
        for (int workers : { 0, 1, 2 }) {
            SCOPED_TRACE(testing::Message() << type << ", " << workers << " workers");
            m_person.onProgressValue([&](qint64 value) {
                if (value == 2)
                    for (int i = 0; i < m_list.count(); ++i)
                        QFile::remove(sourceFile(i));
            });
            QDir(m_dest).removeRecursively();
            const SaveSummary summary = save(saveSettings(type, "%6"), kStoreRoot, output::Disk::system(), workers);
            m_person.onProgressValue({});
            EXPECT_GE(summary.written, 1);
            EXPECT_LE(summary.written, 2 + 2 * 8 * workers);
            EXPECT_EQ(summary.written + summary.failed, m_list.count());
            QDir(m_root).removeRecursively();
            ASSERT_EQ(QProcess::execute(QStringLiteral("cp"),
                          { QStringLiteral("-a"), QStringLiteral(SOURCE_DIR "/samples/Sample Mailbox"), m_root }),
                0);
        }
    }
}

// Mails are held ahead up to a bound of their bytes too (32 MiB): of 24 mails of 4 MiB deleted while the
// second is written, at most the 2 taken and 8 held ahead are written, however many rows the threads may
// take ahead.
TEST_F(SampleStore, MessageBytesHeldAheadAreBounded)
{
    QByteArray body;
    while (body.size() < 4 << 20)
        body += QByteArray(76, 'x') + "\r\n";
    for (int i = 0; i < 24; ++i)
        writeFile(m_root + QStringLiteral("/.Big/cur/17041860%1.M1P1Q1.host:2,S").arg(i, 2, 10, QChar(u'0')),
            "Subject: big " + QByteArray::number(i) + "\r\n\r\n" + body);
    search(kStoreRoot + QStringLiteral("\\Big"));
    ASSERT_EQ(m_list.count(), 24);
    m_person.onProgressValue([&](qint64 value) {
        if (value != 2)
            return;
        QThread::msleep(300); // time for the threads to read all they may
        for (int i = 0; i < m_list.count(); ++i)
            QFile::remove(sourceFile(i));
    });
    const SaveSummary summary = save(saveSettings("eml", "%6"), kStoreRoot, output::Disk::system(), 4);
    m_person.onProgressValue({});
    EXPECT_GE(summary.written, 1);
    EXPECT_LE(summary.written, 2 + 8);
    EXPECT_EQ(summary.written + summary.failed, m_list.count());
}

// Files built ahead on worker threads: the same tree, byte for byte, as when each is built as it is written.
TEST_F(SampleStore, WorkerThreadsChangeNothingOnDisk)
{
    search();
    const QString serialDest = m_work + QStringLiteral("/serial");
    for (const char* type : { "msg", "txt", "rtf", "eml", "dir" }) {
        SCOPED_TRACE(type);
        QDir(m_dest).removeRecursively();
        QDir(serialDest).removeRecursively();
        ASSERT_TRUE(save(saveSettings(type, "%1 %3", 1), kStoreRoot, output::Disk::system(), 0).ok());
        ASSERT_TRUE(QDir().rename(m_dest, serialDest));
        ASSERT_TRUE(save(saveSettings(type, "%1 %3", 1), kStoreRoot, output::Disk::system(), 4).ok());
        const QStringList entries = tree(m_dest);
        ASSERT_EQ(entries, tree(serialDest));
        for (const QString& file : ofKind(entries, false))
            EXPECT_EQ(readFile(m_dest + u'/' + file), readFile(serialDest + u'/' + file)) << qPrintable(file);
    }
    QDir(serialDest).removeRecursively();
}

// The output type is read at each mail: a file built (or a mail looked up) ahead for the old type is not
// written as it.
TEST_F(SampleStore, OutputTypeChangedDuringTheRunAppliesFromThatMail)
{
    search();
    const std::pair<const char*, const char*> changes[] = { { "txt", "eml" }, { "eml", "txt" }, { "eml", "msg" } };
    for (const auto& [before, after] : changes) {
        for (int workers : { 0, 2 }) {
            SCOPED_TRACE(testing::Message() << before << " to " << after << ", " << workers << " workers");
            QDir(m_dest).removeRecursively();
            Settings settings = saveSettings(before, "%6");
            m_person.onProgressValue([&](qint64 value) {
                if (value == 3)
                    settings.fnOutput = QLatin1String(after);
            });
            ASSERT_TRUE(save(settings, kStoreRoot, output::Disk::system(), workers).ok());
            m_person.onProgressValue({});
            for (int i = 0; i < m_list.count(); ++i) {
                const QString path = m_dest + u'/' + m_list.row(i).entryId + u'.';
                EXPECT_EQ(QFileInfo::exists(path + QLatin1String(before)), i < 2) << "row " << i;
                EXPECT_EQ(QFileInfo::exists(path + QLatin1String(after)), i >= 2) << "row " << i;
                const QString eml = path + QStringLiteral("eml");
                if (QFileInfo::exists(eml)) {
                    EXPECT_EQ(readFile(eml), readFile(sourceFile(i))) << "row " << i;
                }
            }
        }
    }
}

// --- Hostile input -------------------------------------------------------------------------------------

namespace {

QByteArray mimeMessage(const QByteArray& subject, const QList<QByteArray>& attachmentNames)
{
    QByteArray m = "From: Mallory <mallory@example.com>\r\nTo: robin@example.org\r\n"
                   "Date: Tue, 02 Jan 2024 10:00:00 +0100\r\nSubject: "
        + subject
        + "\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"b\"\r\n\r\n"
          "--b\r\nContent-Type: text/plain; charset=utf-8\r\n\r\nSee attached.\r\n";
    int n = 0;
    for (const QByteArray& name : attachmentNames) {
        m += "--b\r\nContent-Type: text/plain\r\nContent-Disposition: attachment; filename=\"" + name
            + "\"\r\n\r\ncontent " + QByteArray::number(++n) + "\r\n";
    }
    return m + "--b--\r\n";
}

} // namespace

TEST_F(SampleStore, HostileNamesStayInsideTheDestination)
{
    const QByteArray longName = QByteArray(300, 'n') + ".txt";
    const QString han(400, QChar(u'\u6F22'));
    // A folder named ".." holding every dangerous attachment name, and a subject of 400 Chinese characters.
    const QString folder = m_root + QStringLiteral("/.&AC4ALg-");
    writeFile(folder + QStringLiteral("/cur/1704186000.M1P1Q1.host:2,S"),
        mimeMessage("Hostile", { "../../escape.txt", "/etc/passwd", "..", "", longName, "same.txt", "same.txt" }));
    writeFile(folder + QStringLiteral("/cur/1704186001.M1P1Q2.host:2,S"),
        mimeMessage("=?UTF-8?B?" + han.toUtf8().toBase64() + "?=", {}));
    search();

    Settings settings = saveSettings("dir", "%3", 1);
    settings.clipSubject = QStringLiteral("1000");
    ASSERT_TRUE(save(settings).ok()) << qPrintable(m_person.messages().join(u'\n'));
    const QString hostile = m_dest + QStringLiteral("/folder/Hostile/attachments");
    EXPECT_EQ(tree(hostile),
        (QStringList { QStringLiteral("_._.._escape.txt"), QStringLiteral("_etc_passwd"), QStringLiteral("attachment"),
            QStringLiteral("attachment (2)"), QString(251, u'n') + QStringLiteral(".txt"),
            QStringLiteral("same (2).txt"), QStringLiteral("same.txt") }));
    EXPECT_EQ(readFile(hostile + QStringLiteral("/same.txt")), "content 6");
    EXPECT_EQ(readFile(hostile + QStringLiteral("/same (2).txt")), "content 7");
    // 400 characters are cut to 256 by the name builder, then to 85 (255 bytes) here.
    EXPECT_TRUE(QFileInfo(m_dest + QStringLiteral("/folder/") + han.left(85)).isDir());

    QDir(m_dest).removeRecursively();
    settings.fnOutput = QStringLiteral("msg");
    ASSERT_TRUE(save(settings).ok());
    EXPECT_TRUE(QFileInfo::exists(m_dest + QStringLiteral("/folder/") + han.left(83) + QStringLiteral(".msg")));
    for (const QString& entry : tree(m_dest))
        for (const QString& name : entry.split(u'/'))
            EXPECT_LE(name.toUtf8().size(), 255);
    expectNothingStrayed();
    EXPECT_FALSE(QFileInfo::exists(m_temp.filePath(QStringLiteral("escape.txt"))));
}

// Names that would show something else than they hold, hide, or lose mail: right-to-left overrides, a leading
// dot, an encoded NUL, and a broken folder name (a lone surrogate) written as U+FFFD beside a real U+FFFD.
TEST_F(SampleStore, NamesThatCannotDeceiveOrCollide)
{
    const QByteArray rlo = "\xE2\x80\xAE";
    const auto add = [&](const QString& folder, const char* file, const QByteArray& subject,
                         const QList<QByteArray>& attachments = {}) {
        writeFile(
            m_root + u'/' + folder + QStringLiteral("/cur/") + QLatin1String(file), mimeMessage(subject, attachments));
    };
    add(QStringLiteral(".Tricks"), "1704186000.M1P1Q1.host:2,S",
        "=?UTF-8?B?" + ("Invoice " + rlo + "fdp.exe").toBase64() + "?=", { "photo" + rlo + "gpj.exe" });
    add(QStringLiteral(".Tricks"), "1704186001.M1P1Q2.host:2,S", ".profile");
    add(QStringLiteral(".Tricks"), "1704186002.M1P1Q3.host:2,S", "=?UTF-8?Q?before=00after?=");
    add(QStringLiteral(".Tricks.&IC4-exe"), "1704186003.M1P1Q4.host:2,S", "In a folder");
    add(QStringLiteral(".&2AA-"), "1704186004.M1P1Q5.host:2,S", "Same");
    add(QStringLiteral(".&,,0-"), "1704186005.M1P1Q6.host:2,S", "Same");
    search();

    ASSERT_TRUE(save(saveSettings("dir", "%3", 1)).ok()) << qPrintable(m_person.messages().join(u'\n'));
    const QStringList entries = tree(m_dest);
    for (const char* expected : { "Tricks/Invoice _fdp.exe/attachments/photo_gpj.exe", "Tricks/_profile/message.txt",
             "Tricks/beforeafter/message.txt", "Tricks/_exe/In a folder/message.txt", "\xEF\xBF\xBD/Same/message.txt",
             "\xEF\xBF\xBD/Same (2)/message.txt" })
        EXPECT_TRUE(entries.contains(QString::fromUtf8(expected))) << expected << "\n"
                                                                   << qPrintable(entries.join(u'\n'));
    for (const QString& entry : entries)
        EXPECT_FALSE(entry.contains(QChar(0x202E)) || entry.startsWith(u'.') || entry.contains(QLatin1String("/.")))
            << qPrintable(entry);
    expectNothingStrayed();
}

TEST_F(SampleStore, PlantedSymbolicLinksAreNeverFollowed)
{
    search();
    const QString outside = m_temp.filePath(QStringLiteral("outside"));
    ASSERT_TRUE(QDir().mkpath(outside));
    writeFile(outside + QStringLiteral("/victim"), "keep me");

    // A link at a file's path is replaced by the file; what it pointed to stays.
    ASSERT_TRUE(QDir().mkpath(m_dest));
    const QString welcome = m_dest + QStringLiteral("/Welcome to the sample mailbox.eml");
    ASSERT_TRUE(QFile::link(outside + QStringLiteral("/victim"), welcome));
    EXPECT_TRUE(save(saveSettings("eml", "%3")).ok());
    EXPECT_EQ(readFile(outside + QStringLiteral("/victim")), "keep me");
    EXPECT_FALSE(QFileInfo(welcome).isSymLink());
    EXPECT_EQ(readFile(welcome), readFile(sourceFile(rowWithSubject(QStringLiteral("Welcome to the sample mailbox")))));

    // A link in the place of a mail's directory: that mail is not written, the others are.
    QDir(m_dest).removeRecursively();
    ASSERT_TRUE(QDir().mkpath(m_dest));
    ASSERT_TRUE(QFile::link(outside, m_dest + QStringLiteral("/Scanner output")));
    SaveSummary summary = save(saveSettings("dir", "%3"));
    EXPECT_EQ(summary.failed, 1);
    ASSERT_EQ(m_person.messages().size(), 1);
    EXPECT_EQ(m_person.messages()[0],
        QStringLiteral("1 of %1 emails could not be written. The first: %2/Scanner output: "
                       "a symbolic link is in the place of the directory")
            .arg(m_list.count())
            .arg(m_dest));
    EXPECT_EQ(tree(outside), QStringList { QStringLiteral("victim") });

    // A link in the place of a folder's directory: each mail of that folder is not written, the others are.
    QDir(m_dest).removeRecursively();
    ASSERT_TRUE(QDir().mkpath(m_dest));
    ASSERT_TRUE(QFile::link(outside, m_dest + QStringLiteral("/Inbox")));
    summary = save(saveSettings("eml", "%3", 1));
    qint64 inInbox = 0;
    for (int i = 0; i < m_list.count(); ++i)
        inInbox += m_list.row(i).folder == kStoreRoot + QStringLiteral("\\Inbox");
    EXPECT_EQ(m_person.messages(),
        QStringList { QStringLiteral("%1 of %2 emails could not be written. The first: %3/Inbox: a symbolic link is in "
                                     "the place of the directory")
                          .arg(inInbox)
                          .arg(m_list.count())
                          .arg(m_dest) });
    EXPECT_TRUE(summary.finished);
    EXPECT_EQ(summary.written, m_list.count() - inInbox);
    EXPECT_EQ(tree(m_dest).filter(QRegularExpression(QStringLiteral("\\.eml$"))).size(), summary.written);
    EXPECT_EQ(tree(outside), QStringList { QStringLiteral("victim") });
}

// --- Failing disks -------------------------------------------------------------------------------------

TEST_F(SampleStore, ReadOnlyDiskCountsEveryMailAndNamesTheFirst)
{
    search();
    FailingDisk disk;
    disk.readOnly = true;
    struct Case {
        const char* why;
        bool destinationExists;
        QString firstFailure;
    };
    const Case cases[] = {
        { "an existing destination: each file fails", true, m_dest + u'/' + m_list.row(0).entryId + ".eml" },
        { "a missing destination that cannot be made", false, m_dest },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        QDir(m_dest).removeRecursively();
        if (c.destinationExists) {
            ASSERT_TRUE(QDir().mkpath(m_dest));
        }
        const SaveSummary summary = save(saveSettings("eml", "%6"), kStoreRoot, disk);
        EXPECT_TRUE(summary.finished);
        EXPECT_EQ(summary.failed, m_list.count());
        EXPECT_EQ(m_person.messages(),
            QStringList { QStringLiteral("%1 of %1 emails could not be written. The first: %2: Read-only file system")
                              .arg(m_list.count())
                              .arg(c.firstFailure) });
        EXPECT_EQ(QFileInfo::exists(m_dest), c.destinationExists);
        EXPECT_EQ(tree(m_dest), QStringList());
    }
}

// Every way a file is named: unnamed and linked by its descriptor or through /proc, renamed over an old file,
// named temporary (no O_TMPFILE, or no way to link an unnamed file).
TEST_F(SampleStore, FullDiskLeavesTheEarlierWholeFilesAndNoTemporaryOnes)
{
    search();
    struct Case {
        const char* type;
        const char* extension;
        bool noUnnamedFiles = false;
        bool noProc = false;
        bool noLinkByDescriptor = false;
    };
    for (const Case& c :
        { Case { "eml", ".eml" }, Case { "msg", ".msg" }, Case { "txt", ".txt" }, Case { "eml", ".eml", true },
            Case { "eml", ".eml", false, true, true }, Case { "msg", ".msg", false, false, true } }) {
        SCOPED_TRACE(std::string(c.type) + (c.noUnnamedFiles ? ", no unnamed files" : "")
            + (c.noProc ? ", no /proc" : "") + (c.noLinkByDescriptor ? ", no link by descriptor" : ""));
        QDir(m_dest).removeRecursively();
        FailingDisk writing;
        writing.noUnnamedFiles = c.noUnnamedFiles;
        writing.noProc = c.noProc;
        writing.noLinkByDescriptor = c.noLinkByDescriptor;
        ASSERT_TRUE(save(saveSettings(c.type, "%6"), kStoreRoot, writing).ok());
        EXPECT_EQ(writing.renames == 0, !c.noUnnamedFiles && !c.noProc) << "an unnamed file is linked, not renamed";
        const QStringList whole = tree(m_dest);
        expectNothingStrayed();
        ASSERT_TRUE(save(saveSettings(c.type, "%6"), kStoreRoot, writing).ok()); // each file replaced
        EXPECT_EQ(tree(m_dest), whole);
        expectNothingStrayed();
        // An earlier file of each mail, whole: none may be cut by the failing run.
        for (int i = 0; i < m_list.count(); ++i)
            writeFile(m_dest + u'/' + m_list.row(i).entryId + QLatin1String(c.extension),
                "earlier file " + QByteArray::number(i));

        FailingDisk disk;
        disk.noUnnamedFiles = c.noUnnamedFiles;
        disk.noProc = c.noProc;
        disk.noLinkByDescriptor = c.noLinkByDescriptor;
        disk.failWrite = 4; // the disk fills up at the fourth write and stays full
        const SaveSummary summary = save(saveSettings(c.type, "%6"), kStoreRoot, disk);
        EXPECT_TRUE(summary.finished);
        EXPECT_GT(summary.failed, 0);
        EXPECT_EQ(summary.written + summary.failed, m_list.count());
        ASSERT_EQ(m_person.messages().size(), 1);
        EXPECT_TRUE(
            m_person.messages()[0].startsWith(QStringLiteral("%1 of %2 emails could not be written. The first: %3/")
                                                  .arg(summary.failed)
                                                  .arg(m_list.count())
                                                  .arg(m_dest)));
        EXPECT_TRUE(m_person.messages()[0].endsWith(QLatin1String(": No space left on device")));
        EXPECT_EQ(tree(m_dest), whole);
        int earlier = 0;
        for (int i = 0; i < m_list.count(); ++i) {
            const QByteArray bytes = readFile(m_dest + u'/' + m_list.row(i).entryId + QLatin1String(c.extension));
            if (bytes == "earlier file " + QByteArray::number(i))
                ++earlier;
            else
                EXPECT_GT(bytes.size(), 40) << "row " << i << " holds a cut file";
        }
        EXPECT_EQ(earlier, summary.failed);
        expectNothingStrayed();
    }
}

// A mail's directory is named only when whole: none half-made, and an earlier run's stays as it was.
TEST_F(SampleStore, FullDiskLeavesNoHalfMadeMailDirectory)
{
    search();
    const Settings settings = saveSettings("dir", "%6");
    ASSERT_TRUE(save(settings).ok());
    const QStringList whole = tree(m_dest);
    for (bool earlierRun : { true, false }) {
        SCOPED_TRACE(earlierRun ? "over an earlier run's directories" : "into an empty destination");
        const QStringList files { QStringLiteral("/message.txt"), QStringLiteral("/message.html") };
        if (earlierRun) {
            for (int i = 0; i < m_list.count(); ++i)
                for (const QString& file : files)
                    writeFile(m_dest + u'/' + m_list.row(i).entryId + file, "earlier");
        } else {
            QDir(m_dest).removeRecursively();
        }
        FailingDisk disk;
        disk.failWrite = 4; // a file of the second mail or so: the mails before and after it are whole
        disk.staysFull = false;
        const SaveSummary summary = save(settings, kStoreRoot, disk);
        ASSERT_EQ(summary.failed, 1);
        EXPECT_EQ(summary.written, m_list.count() - 1);
        const QString failed = summary.firstFailure->path.mid(m_dest.size() + 1).section(u'/', 0, 0);
        QStringList expected = whole;
        if (!earlierRun)
            expected.removeIf([&](const QString& entry) { return entry.startsWith(failed + u'/'); });
        EXPECT_EQ(tree(m_dest), expected);
        for (int i = 0; i < m_list.count(); ++i)
            for (const QString& file : files) {
                const QString id = m_list.row(i).entryId;
                if (id != failed || earlierRun) {
                    EXPECT_EQ(readFile(m_dest + u'/' + id + file) == "earlier", id == failed) << "row " << i;
                }
            }
        expectNothingStrayed();
    }
}

// Each write, mkdir, rename and link of a save run failed in turn, with each error a disk gives: the one mail
// it belongs to is counted with the reason named, every file written is whole, and no temporary is left.
TEST_F(SampleStore, EveryFailingCallOfTheRunFailsOneMailAndCutsNothing)
{
    search(kStoreRoot + QStringLiteral("\\Sent"));
    const auto emptyDestination = [this] {
        QDir(m_dest).removeRecursively();
        QDir(m_work).mkpath(QStringLiteral("dest"));
    };
    // With no thread to build files ahead, each .msg file is written as it is built.
    for (const auto& [type, threads] : { std::pair("eml", -1), std::pair("msg", -1), std::pair("msg", 0),
             std::pair("txt", -1), std::pair("rtf", -1), std::pair("dir", -1) }) {
        emptyDestination();
        FailingDisk counting;
        ASSERT_TRUE(save(saveSettings(type, "%6"), kStoreRoot, counting, threads).ok());
        QMap<QString, QByteArray> undisturbed;
        for (const QString& file : ofKind(tree(m_dest), false))
            undisturbed[file] = readFile(m_dest + u'/' + file);
        ASSERT_GT(counting.calls, m_list.count());
        for (int call = 1; call <= counting.calls; ++call)
            for (int error : { ENOSPC, EIO, EACCES }) {
                SCOPED_TRACE(std::string(type) + ", " + std::to_string(threads) + " threads, call "
                    + std::to_string(call) + ": " + std::strerror(error));
                emptyDestination();
                FailingDisk disk;
                disk.failCall = call;
                disk.callError = error;
                const SaveSummary summary = save(saveSettings(type, "%6"), kStoreRoot, disk, threads);
                EXPECT_EQ(summary.failed, 1);
                EXPECT_EQ(summary.written, m_list.count() - 1);
                ASSERT_EQ(m_person.messages().size(), 1);
                EXPECT_TRUE(m_person.messages()[0].endsWith(
                    QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(error))))
                    << qPrintable(m_person.messages()[0]);
                for (const QString& file : ofKind(tree(m_dest), false))
                    EXPECT_EQ(readFile(m_dest + u'/' + file), undisturbed.value(file)) << qPrintable(file);
                expectNothingStrayed();
            }
    }
}

// --- .msg read back ------------------------------------------------------------------------------------

namespace {

// Each row's .msg file in `dir`, named by EntryID, holds what the store's mail holds, as the reader sees it.
void expectMsgFilesHoldTheMails(const NamespaceFactory& factory, const ResultList& list, const QString& dir)
{
    QStringList paths;
    for (int i = 0; i < list.count(); ++i)
        paths << dir + u'/' + list.row(i).entryId + QStringLiteral(".msg");
    const QList<QJsonObject> read = test::readWithMsgReader(paths);
    ASSERT_EQ(read.size(), list.count());
    mail::Namespace stores = factory();
    for (int i = 0; i < list.count(); ++i) {
        auto found = stores.getItemFromID(list.row(i).entryId);
        ASSERT_TRUE(found.ok());
        const mail::MailItem& mail = **found;
        SCOPED_TRACE(qPrintable(mail.summary().subject));
        const QJsonObject& o = read[i];
        EXPECT_EQ(o[u"subject"].toString(), mail.summary().subject);
        EXPECT_EQ(o[u"senderEmail"].toString(), mail.summary().senderEmailAddress);
        EXPECT_EQ(o[u"body"].toString(), mail.plainBody());
        const QJsonArray recipients = o[u"recipients"].toArray();
        ASSERT_EQ(recipients.size(), mail.recipients().size());
        for (qsizetype r = 0; r < recipients.size(); ++r)
            EXPECT_EQ(recipients[r].toObject()[u"email"].toString(), mail.recipients()[r].address);
        const auto attachments = mail.attachments();
        ASSERT_TRUE(attachments.ok());
        const QJsonArray got = o[u"attachments"].toArray();
        ASSERT_EQ(size_t(got.size()), attachments->size());
        for (size_t a = 0; a < attachments->size(); ++a) {
            const mail::Attachment& attachment = *(*attachments)[a];
            const QJsonObject g = got[qsizetype(a)].toObject();
            if (!attachment.fileName().isEmpty()) {
                EXPECT_EQ(g[u"fileName"].toString(), attachment.fileName());
            }
            if (!attachment.embeddedMessage()) {
                EXPECT_EQ(g[u"sha256"].toString(), test::sha256(*attachment.data()));
            }
        }
    }
}

// A search of the store `file` of the test data, named `name`, whose results go to directories in `temp`.
struct PstSearch {
    explicit PstSearch(const char* file, int expectedRows)
        : factory([file] {
            return mail::Namespace::fromStores(
                { { QStringLiteral("P"), QStringLiteral(TEST_DATA_DIR "/pst/") + file } });
        })
    {
        searchMailFolder(person, saveSettings("msg", "%3"), QStringLiteral("\\\\P"), list, factory);
        EXPECT_EQ(person.messages(), QStringList());
        EXPECT_EQ(list.count(), expectedRows);
    }
    SaveSummary save(const char* type, const char* format, const QString& dest, int workerThreads = -1)
    {
        return saveRun(person, saveSettings(type, format), QStringLiteral("\\\\P"), list, dest, factory,
            output::Disk::system(), workerThreads);
    }

    QTemporaryDir temp;
    NamespaceFactory factory;
    ResultList list;
    ScriptedPerson person;
};

} // namespace

TEST_F(SampleStore, EveryMsgFileReadsBack)
{
    search();
    ASSERT_TRUE(save(saveSettings("msg", "%6")).ok());
    expectMsgFilesHoldTheMails(factory(), m_list, m_dest);
}

// An Outlook item attached to a mail has no bytes of its own; it used to fail the whole mail in "dir" output.
TEST(SaveRunPst, AttachedOutlookItemIsWrittenAsMsgFile)
{
    PstSearch pst("pstsdk_submessage.pst", 1);
    const QString dest = pst.temp.filePath(QStringLiteral("dest"));
    const SaveSummary summary = pst.save("dir", "%3", dest);
    EXPECT_TRUE(summary.ok());
    EXPECT_EQ(pst.person.messages(), QStringList());
    QStringList msgFiles;
    QDirIterator it(dest, { QStringLiteral("*.msg") }, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        msgFiles << it.next();
    ASSERT_EQ(msgFiles.size(), 1);
    EXPECT_TRUE(msgFiles.first().contains(QLatin1String("/attachments/")));
    // A compound file: what Outlook and every .msg reader open.
    EXPECT_TRUE(readFile(msgFiles.first()).startsWith(QByteArray::fromHex("D0CF11E0A1B11AE1")));
}

// Over an Outlook data file every output type writes every mail, and the .msg files hold the PST's items.
TEST(SaveRunPst, EveryOutputTypeWritesEveryMailOfAPstStore)
{
    PstSearch pst("aspose_Outlook.pst", 14);
    for (const char* type : { "msg", "txt", "rtf", "eml", "dir" }) {
        SCOPED_TRACE(type);
        const QString dest = pst.temp.filePath(QString::fromLatin1(type));
        const SaveSummary summary = pst.save(type, "%6", dest);
        EXPECT_TRUE(summary.ok());
        EXPECT_EQ(summary.written, 14);
        EXPECT_EQ(pst.person.messages(), QStringList());
        EXPECT_EQ(QDir(dest).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot).size(), 14);
    }
    expectMsgFilesHoldTheMails(pst.factory, pst.list, pst.temp.filePath(QStringLiteral("msg")));
}

// PST items are read on the run's thread and built on the workers: the same names, " (2)" suffixes and
// bytes as when each is built as it is written, attached mails included.
TEST(SaveRunPst, WorkerThreadsChangeNothingOnDisk)
{
    const std::pair<const char*, int> stores[] = { { "aspose_Outlook.pst", 14 }, { "pstsdk_submessage.pst", 1 } };
    for (const auto& [file, rows] : stores) {
        PstSearch pst(file, rows);
        for (const char* type : { "msg", "txt", "rtf", "eml", "dir" }) {
            SCOPED_TRACE(testing::Message() << file << " " << type);
            const QString serial = pst.temp.filePath(QStringLiteral("serial-") + QLatin1String(type));
            const QString shared = pst.temp.filePath(QStringLiteral("shared-") + QLatin1String(type));
            const SaveSummary alone = pst.save(type, "%3", serial, 0);
            const SaveSummary workers = pst.save(type, "%3", shared, 3);
            EXPECT_TRUE(alone.ok());
            EXPECT_EQ(workers.written, alone.written);
            EXPECT_EQ(workers.failed, alone.failed);
            const QStringList entries = tree(shared);
            ASSERT_EQ(entries, tree(serial));
            // GMime draws each multipart boundary at random.
            const auto sameFile = [](const QString& path) {
                static const QRegularExpression boundary(QStringLiteral("=-[A-Za-z0-9+/]{20,}=*"));
                return QString::fromLatin1(readFile(path)).replace(boundary, QStringLiteral("=-boundary"));
            };
            for (const QString& name : ofKind(entries, false))
                EXPECT_EQ(sameFile(shared + u'/' + name), sameFile(serial + u'/' + name)) << qPrintable(name);
        }
        EXPECT_EQ(pst.person.messages(), QStringList());
    }
}

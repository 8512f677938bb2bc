// SPDX-License-Identifier: MIT
// Runs the built program without a display, unattended, over a copy of the sample store, and checks the
// files it wrote, what it told and its exit status.
#include "support/qtprinters.h"
#include "support/testenv.h"
#include "support/testfiles.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>

namespace {

struct Outcome {
    int exitCode = -1;
    bool crashed = true;
    QStringList lines; ///< the program's own lines on standard error
};

class AutorunTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        quillbox::test::copyTree(QStringLiteral(SOURCE_DIR "/samples/Sample Mailbox"), path("store"));
        write("profile.ini", "[Stores]\nSample Mailbox=store\n");
        write("txt.ini", "[Options]\nFnOutput=TXT\n");
    }

    QString path(const QString& name) const { return m_dir.filePath(name); }

    void write(const QString& name, const QByteArray& bytes) { quillbox::test::writeFile(path(name), bytes); }

    /// Runs the program in the temporary folder, with its profile and without a display or registry, and
    /// with the variables of `extra` added to the environment.
    Outcome run(const QStringList& arguments, std::initializer_list<std::pair<const char*, QString>> extra = {})
    {
        QProcessEnvironment env = quillbox::test::headlessEnvironment(m_dir.path());
        env.insert(QStringLiteral("TZ"), QStringLiteral("Europe/Berlin"));
        for (const auto& [name, value] : extra)
            env.insert(QLatin1String(name), value);
        QProcess process;
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(m_dir.path());
        process.start(QStringLiteral(QUILLBOX_BIN), arguments);
        Outcome outcome;
        if (!process.waitForFinished(120000)) {
            process.kill();
            process.waitForFinished();
            return outcome;
        }
        outcome.crashed = process.exitStatus() != QProcess::NormalExit;
        outcome.exitCode = process.exitCode();
        for (const QString& line : QString::fromUtf8(process.readAllStandardError()).split(u'\n'))
            if (line.startsWith(QLatin1String("Quillbox: ")))
                outcome.lines << line.mid(10);
        return outcome;
    }

    QTemporaryDir m_dir;
};

} // namespace

TEST_F(AutorunTest, SearchesAndSavesTheFolderWithACustomIniAndNoQtPlatformPlugin)
{
    // A relative /ini path is taken from the current directory. The dynamic loader logs every library it
    // opens, the plugins that Qt opens too.
    const Outcome outcome = run({ "\\\\Sample Mailbox\\Inbox", "out", "/ini", "txt.ini", "/autorun", "/dbg", "2" },
        { { "LD_DEBUG", QStringLiteral("files") }, { "LD_DEBUG_OUTPUT", path("ld") } });
    ASSERT_FALSE(outcome.crashed);
    EXPECT_EQ(outcome.exitCode, 0) << outcome.lines.join(u'\n').toStdString();

    // /dbg 2 writes each listed row; each is saved, as the .txt the settings named. What is listed and how
    // it is named and written is checked where the search, the names and the formats are.
    const auto rows = std::count_if(
        outcome.lines.begin(), outcome.lines.end(), [](const QString& line) { return line.count(u'\t') == 7; });
    EXPECT_GT(rows, 10);
    EXPECT_EQ(QDir(path("out")).entryList({ QStringLiteral("*.txt") }, QDir::Files).size(), rows);
    EXPECT_EQ(QDir(path("out")).entryList(QDir::Files).size(), rows);
    // Nothing but the settings named was written: no default settings file in the configuration folder.
    EXPECT_FALSE(QFileInfo::exists(path("config/Quillbox/Quillbox.ini")));

    QStringList loaded;
    for (const QString& name : QDir(m_dir.path()).entryList({ QStringLiteral("ld.*") }))
        loaded << QString::fromUtf8(quillbox::test::readFile(path(name))).split(u'\n').filter(QStringLiteral("file="));
    EXPECT_FALSE(loaded.filter(QStringLiteral("libQt6Core.so")).isEmpty()) << "the loader wrote its log";
    const QStringList plugins = loaded.filter(QStringLiteral("/plugins/platforms/"));
    EXPECT_TRUE(plugins.isEmpty()) << plugins.join(u'\n').toStdString();
}

// Status 1 after a message box is runStartup's (session_test); main passes it on as it does 2 (cli_test).

TEST_F(AutorunTest, WhatCannotBeReadIsNamedWhenDebuggingAndEndsWithStatusOne)
{
    // A directory where a message should be costs only itself.
    const QString odd = QStringLiteral("store/cur/0.odd:2,S");
    ASSERT_TRUE(QDir().mkpath(path(odd)));
    // A store found on this computer that cannot be opened is named, and fails nothing.
    write("spool", "not mail\n");
    const Outcome outcome = run({ "\\\\Sample Mailbox\\Inbox", "out", "/ini", "txt.ini", "/autorun", "/dbg", "1" },
        { { "MAIL", path("spool") } });
    ASSERT_FALSE(outcome.crashed);
    EXPECT_EQ(outcome.exitCode, 1);
    const QString why = path(odd) + QLatin1String(": not a regular file");
    EXPECT_EQ(outcome.lines.filter(QStringLiteral("0.odd")),
        (QStringList { "skipped message: " + why, "0 folders and 1 messages could not be read. The first: " + why }));
    EXPECT_GT(QDir(path("out")).entryList(QDir::Files).size(), 10) << "the other mails are saved";
    EXPECT_EQ(outcome.lines.filter(QStringLiteral("found on this computer")),
        QStringList { "The store \"Mail Spool\" found on this computer cannot be opened: " + path("spool")
            + ": neither a Maildir directory, an mbox file nor an Outlook data file" });
}

TEST_F(AutorunTest, TheBuiltProgramFindsItsHelpPage)
{
    EXPECT_TRUE(
        QFileInfo(QFileInfo(QStringLiteral(QUILLBOX_BIN)).absolutePath() + QLatin1String("/Help/index.html")).isFile());
}

TEST_F(AutorunTest, AnAccessProgramThatCannotStartIsToldOnlyWhenDebugging)
{
    write("user.reg",
        "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Brindlewick\\Quillbox]\n"
        "\"AccessProg\"=\"HKCU\\\\Software\\\\Gate\\\\Path\"\n\n"
        "[HKEY_CURRENT_USER\\Software\\Gate]\n\"Path\"=\"/nonexistent/gate\"\n");
    const auto accessLines = [](const Outcome& outcome) {
        return outcome.lines.filter(QStringLiteral("cannot start the access program: /nonexistent/gate: "));
    };

    const Outcome quiet = run({ "\\\\Sample Mailbox\\Sent", "out", "/ini", "txt.ini", "/autorun" });
    ASSERT_FALSE(quiet.crashed);
    EXPECT_EQ(quiet.exitCode, 0);
    EXPECT_TRUE(quiet.lines.isEmpty()) << quiet.lines.join(u'\n').toStdString();

    // Allow and disallow around the search, and again around the save.
    const Outcome debugging = run({ "\\\\Sample Mailbox\\Sent", "out", "/ini", "txt.ini", "/autorun", "/dbg", "1" });
    ASSERT_FALSE(debugging.crashed);
    EXPECT_EQ(debugging.exitCode, 0);
    EXPECT_EQ(accessLines(debugging).size(), 4) << debugging.lines.join(u'\n').toStdString();
    EXPECT_FALSE(QDir(path("out")).isEmpty());
}

// What an unattended run could not do is said, and ends with status 1: the messages a damaged store
// could not give (each at /dbg 1, and their count), a store that cannot be opened (why, on a line of its
// own), and a settings file that is not there (the defaults are used).
TEST_F(AutorunTest, SaysWhatItCouldNotRead)
{
    QFile pst(QStringLiteral(TEST_DATA_DIR "/pst/tghanem_user1_test.lab.pst"));
    ASSERT_TRUE(pst.open(QIODevice::ReadOnly));
    write("cut.pst", pst.read(135680));
    write("profile.ini",
        "[Stores]\nSample Mailbox=store\nCut=cut.pst\nBroken=" TEST_DATA_DIR "/pst/aspose_bad_header_checksum.pst\n");
    struct Case {
        const char* why;
        QStringList arguments;
        int exitCode;
        QStringList linesStartingWith;
        qsizetype written;
    };
    const QString unreadable = "skipped message: " + path("cut.pst") + ": message ";
    const Case cases[] = {
        { "a file cut in half", { "\\\\Cut", "out", "/ini", "txt.ini", "/dbg", "1", "/autorun" }, 1,
            { "positional", "INI path", "debug level", "unattended",
                unreadable + "2097572 in \\\\Cut\\FolderWithMessagesWithAttachments: a block lies outside the file",
                unreadable + "2097668", unreadable + "2097764",
                "0 folders and 3 messages could not be read. The first: " + path("cut.pst") + ": message 2097572" },
            3 },
        { "a store that cannot be opened", { "\\\\Broken", "out", "/autorun" }, 1,
            { "Can't access the specified Mail Folder. | aspose_bad_header_checksum.pst is damaged: its header does "
              "not "
              "check out",
                TEST_DATA_DIR "/pst/aspose_bad_header_checksum.pst: libpff_io_handle_read_file_header: mismatch in "
                              "file header checksum",
                "There are no emails in the list." },
            0 },
        { "a settings file that is not there", { "\\\\Sample Mailbox\\Sent", "out", "/ini", "none.ini", "/autorun" }, 0,
            { "the settings file " + path("none.ini") + " does not exist: the default settings are used" }, 5 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        QDir(path("out")).removeRecursively();
        const Outcome outcome = run(c.arguments);
        ASSERT_FALSE(outcome.crashed);
        EXPECT_EQ(outcome.exitCode, c.exitCode);
        EXPECT_EQ(outcome.lines.size(), c.linesStartingWith.size()) << outcome.lines.join(u'\n').toStdString();
        for (qsizetype i = 0; i < std::min(outcome.lines.size(), c.linesStartingWith.size()); ++i)
            EXPECT_TRUE(outcome.lines[i].startsWith(c.linesStartingWith[i])) << outcome.lines[i].toStdString();
        EXPECT_EQ(QDir(path("out")).entryList(QDir::Files).size(), c.written);
    }
}

TEST_F(AutorunTest, ArchivingRunsSayWhatWasNewAndEndWithStatusZero)
{
    write("archive.ini", "[Options]\nFnOutput=TXT\nSkipSaved=1\n");
    const QStringList args { "\\\\Sample Mailbox\\Inbox", "out", "/ini", "archive.ini", "/autorun" };
    const Outcome first = run(args);
    ASSERT_FALSE(first.crashed);
    EXPECT_EQ(first.exitCode, 0) << first.lines.join(u'\n').toStdString();
    ASSERT_EQ(first.lines.size(), 1);
    const qsizetype saved = QDir(path("out")).entryList({ QStringLiteral("*.txt") }, QDir::Files).size();
    EXPECT_EQ(first.lines[0], QStringLiteral("%1 new, 0 already saved.").arg(saved));

    const Outcome second = run(args);
    EXPECT_EQ(second.exitCode, 0);
    EXPECT_EQ(second.lines, QStringList { QStringLiteral("0 new, %1 already saved.").arg(saved) });

    // A manifest that cannot be used is an error: status 1.
    write("out/.quillbox-manifest.jsonl", "{\"v\":99}\n");
    const Outcome newer = run(args);
    EXPECT_EQ(newer.exitCode, 1);
    EXPECT_EQ(newer.lines.size(), 1);
}

TEST_F(AutorunTest, PdfRunLaysOutEachMailAndPutsItsAttachmentsBeside)
{
    write("pdf.ini", "[Options]\nFnOutput=PDF\nFnFormat=%3\n");
    const Outcome outcome = run({ "\\\\Sample Mailbox\\Inbox", "out", "/ini", "pdf.ini", "/autorun" });
    ASSERT_FALSE(outcome.crashed);
    EXPECT_EQ(outcome.exitCode, 0) << outcome.lines.join(u'\n').toStdString();
    const QDir out(path("out"));
    const QStringList pdfs = out.entryList({ QStringLiteral("*.pdf") }, QDir::Files);
    EXPECT_GT(pdfs.size(), 10);
    // A mail with attachments has them in a directory named like its PDF file.
    const QStringList dirs = out.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    ASSERT_FALSE(dirs.isEmpty());
    for (const QString& dir : dirs) {
        EXPECT_TRUE(pdfs.contains(dir + QStringLiteral(".pdf"))) << dir.toStdString();
        EXPECT_FALSE(QDir(out.filePath(dir)).isEmpty()) << dir.toStdString();
    }

    QProcess pdftotext;
    pdftotext.start(QStringLiteral("pdftotext"), { out.filePath(QString::fromUtf8("Отчёт за квартал.pdf")), "-" });
    ASSERT_TRUE(pdftotext.waitForFinished(30000));
    const QString text = QString::fromUtf8(pdftotext.readAllStandardOutput());
    for (const char* line : { "Отчёт за квартал", "olga.smirnova@example.com", "Добрый день, Робин!" })
        EXPECT_TRUE(text.contains(QString::fromUtf8(line))) << line << " in\n" << text.toStdString();
}

TEST_F(AutorunTest, AFoundStoreIsNamedOnTheCommandLineLikeTheProfilesUnlessFindingIsOff)
{
    quillbox::test::copyTree(QStringLiteral(SOURCE_DIR "/samples/thunderbird-home"), path("home"));
    write("eml.ini", "[Options]\nFnOutput=EML\n");
    struct Case {
        const char* why;
        QByteArray profile;
        int exitCode;
        int files;
    };
    for (const Case& c : { Case { "found", "[Stores]\nSample Mailbox=store\n", 0, 2 },
             Case { "finding turned off", "[Options]\nDiscover=0\n[Stores]\nSample Mailbox=store\n", 1, 0 } }) {
        SCOPED_TRACE(c.why);
        write("profile.ini", c.profile);
        QDir(path("out")).removeRecursively();
        const Outcome outcome = run({ "\\\\Thunderbird - Local Folders\\Inbox", "out", "/ini", "eml.ini", "/autorun" },
            { { "HOME", path("home") }, { "MAIL", QString() }, { "XDG_DATA_HOME", path("home/.local/share") } });
        ASSERT_FALSE(outcome.crashed);
        EXPECT_EQ(outcome.exitCode, c.exitCode) << outcome.lines.join(u'\n').toStdString();
        const QStringList saved = QDir(path("out")).entryList({ QStringLiteral("*.eml") }, QDir::Files);
        ASSERT_EQ(saved.size(), c.files);
        // The message as the file holds it, its quoted "From " line given back.
        QByteArray all;
        for (const QString& name : saved)
            all += quillbox::test::readFile(path("out/" + name));
        EXPECT_EQ(all.count("X-Mozilla-Status: 000"), c.files);
        EXPECT_EQ(all.count("\nFrom the desk of Ann"), c.files / 2);
    }
}

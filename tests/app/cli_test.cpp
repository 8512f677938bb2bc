// SPDX-License-Identifier: MIT
// Runs the built program without a display and checks what its command line does.
#include "support/qtprinters.h"
#include "support/testenv.h"
#include "support/testfiles.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace quillbox;

namespace {

struct Outcome {
    int exitCode = -1;
    bool crashed = true;
    QString out;
    QString err;

    /// The lines the program itself wrote to standard error (Qt may add its own warnings).
    QStringList programLines() const
    {
        QStringList lines;
        for (const QString& line : err.split(u'\n'))
            if (line.startsWith(QLatin1String("Quillbox: ")))
                lines << line;
        return lines;
    }
};

// Runs `program` without a display; `home`, when given, is its HOME, where it finds no mail but what lies there.
Outcome runProgram(
    const QString& program, const QStringList& arguments, const QString& home = {}, const QString& spool = {})
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!home.isEmpty()) {
        env.insert(QStringLiteral("HOME"), home);
        env.insert(QStringLiteral("XDG_DATA_HOME"), home + QLatin1String("/.local/share"));
        env.remove(QStringLiteral("MAIL"));
    }
    if (!spool.isEmpty())
        env.insert(QStringLiteral("MAIL"), spool);
    // The program must choose the offscreen platform by itself when there is no display.
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(program, arguments);
    Outcome run;
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.crashed = process.exitStatus() != QProcess::NormalExit;
    run.exitCode = process.exitCode();
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

Outcome runQuillbox(const QStringList& arguments, const QString& home = {}, const QString& spool = {})
{
    return runProgram(QStringLiteral(QUILLBOX_BIN), arguments, home, spool);
}

const QString kUsage = QStringLiteral("Usage:  | Quillbox [MailFolder] [Directory] [/ini inifile] | "
                                      "Quillbox MailFolder Directory [/ini inifile] /autorun | "
                                      "Quillbox [MailFolder] [Directory] [--ini inifile] [--debug level] | "
                                      "Quillbox MailFolder Directory [--ini inifile] --autorun | "
                                      "Quillbox --list-stores, --list-folders store, --help or --version");

} // namespace

// Debug level 1 writes the startup state: the arguments as the program got them, and what it made of them.
TEST(Cli, DebugLevelOneWritesTheArgumentsUnchanged)
{
    struct Case {
        const char* why;
        QStringList arguments;
        const char* positionalLine;
        const char* iniLine = "INI path: (the default file)";
    };
    const Case cases[] = {
        { "a folder, a directory and an INI file with blanks",
            { "\\\\Store\\Inbox", "/tmp/Mail Archive", "/INI", "my a.ini" },
            "positional arguments (2): \"\\\\Store\\Inbox\" \"/tmp/Mail Archive\"", "INI path: \"my a.ini\"" },
        { "empty and quote-holding arguments", { "", "a\"b" }, "positional arguments (2): \"\" \"a\"\"b\"" },
        { "Qt's own options are the program's arguments", { "-platform", "xcb" },
            "positional arguments (2): \"-platform\" \"xcb\"" },
        { "--help after -- is a positional argument", { "x", "--", "--help" },
            "positional arguments (2): \"x\" \"--help\"" },
        { "quotes the shell passed on are part of the argument", { "\"/autorun\"", "b" },
            "positional arguments (2): \"\"\"/autorun\"\"\" \"b\"" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        const Outcome run = runQuillbox(QStringList { "/dbg", "1" } << c.arguments);
        ASSERT_FALSE(run.crashed) << run.err.toStdString();
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_EQ(run.programLines(),
            (QStringList { QLatin1String("Quillbox: ") + QLatin1String(c.positionalLine),
                QLatin1String("Quillbox: ") + QLatin1String(c.iniLine), "Quillbox: debug level: 1",
                "Quillbox: unattended: no" }));
        EXPECT_TRUE(run.out.isEmpty());
    }
}

TEST(Cli, NoDebugOutputWithoutDebugLevel)
{
    const Outcome run = runQuillbox({ "\\\\Store\\Inbox", "/tmp/out", "/dbg", "0" });
    ASSERT_FALSE(run.crashed);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(run.programLines().isEmpty()) << run.err.toStdString();
}

// The usage message, after the reason when a GNU spelling cannot be read; status 2 and nothing run.
TEST(Cli, WrongUseShowsUsageAndExitsWithTwo)
{
    struct Case {
        const char* why;
        QStringList arguments;
        const char* problem = "";
    };
    const Case cases[] = {
        { "three positional arguments", { "a", "b", "c" } },
        { "three positional arguments and autorun", { "a", "b", "c", "/autorun" } },
        { "autorun with one positional argument", { "\\\\Store\\Inbox", "/autorun" } },
        { "autorun alone", { "-AutoRun" } },
        { "autorun twice, GNU spelling, one positional argument", { "--autorun", "a", "--autorun" } },
        { "an option after -- is a third positional argument", { "a", "b", "--", "--autorun" } },
        { "--ini without a file", { "--ini" }, "the option --ini needs a file name | " },
        { "--debug with a word", { "\\\\Sample Mailbox", "/tmp/x", "--debug=x", "--autorun" },
            "the option --debug needs a whole number from -32768 to 32767, not \"x\" | " },
        { "an unknown option", { "--Autorun" }, "unknown option --Autorun | " },
        { "--list-folders without a store", { "--list-folders" }, "the option --list-folders needs a store name | " },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        const Outcome run = runQuillbox(c.arguments);
        ASSERT_FALSE(run.crashed);
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_EQ(run.programLines(), QStringList { "Quillbox: " + QLatin1String(c.problem) + kUsage });
        EXPECT_TRUE(run.out.isEmpty());
    }
}

TEST(Cli, HelpAndVersionOnStandardOutput)
{
    for (const QStringList& arguments :
        { QStringList { "--help", "a", "b", "c" }, QStringList { "a", "/autorun", "--help" } }) {
        const Outcome help = runQuillbox(arguments);
        ASSERT_FALSE(help.crashed);
        EXPECT_EQ(help.exitCode, 0);
        EXPECT_EQ(help.out, QString(kUsage).replace(QLatin1String(" | "), QLatin1String("\n")) + u'\n');
        EXPECT_TRUE(help.programLines().isEmpty());
    }

    const Outcome version = runQuillbox({ "--version" });
    ASSERT_FALSE(version.crashed);
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^Quillbox \\d+\\.\\d+\\.\\d+\\n$")).match(version.out).hasMatch())
        << version.out.toStdString();
}

TEST(Cli, InvalidUtf8ArgumentDoesNotCrash)
{
    // QProcess passes arguments as UTF-8, so the shell makes the bytes.
    const Outcome run = runProgram(QStringLiteral("/bin/sh"),
        { "-c", "exec \"$0\" /dbg 1 \"$(printf 'a\\377\\376 \\200b')\" /ini \"$(printf '\\303')\"",
            QStringLiteral(QUILLBOX_BIN) });
    ASSERT_FALSE(run.crashed) << run.err.toStdString();
    EXPECT_EQ(run.exitCode, 0);
    const QStringList lines = run.programLines();
    ASSERT_EQ(lines.size(), 4) << run.err.toStdString();
    EXPECT_TRUE(lines[0].startsWith(QLatin1String("Quillbox: positional arguments (1): \"a")));
    EXPECT_TRUE(lines[0].endsWith(QLatin1String("b\"")));
    EXPECT_TRUE(lines[0].contains(QChar::ReplacementCharacter));
    EXPECT_TRUE(lines[1].contains(QChar::ReplacementCharacter));
}

// Command lines the program cannot do as written are refused with status 2 before anything runs: more tokens
// than it reads (/autorun would be dropped), and a destination whose bytes are not UTF-8.
TEST(Cli, CommandLinesThatWouldMisleadAreRefused)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    struct Case {
        const char* why;
        QStringList arguments;
        QString line;
    };
    const Case cases[] = {
        { "21 tokens", QStringList(19, QStringLiteral("/dbg")) << QStringLiteral("0") << QStringLiteral("/autorun"),
            QStringLiteral("Quillbox: The command line holds 21 tokens; only the first 20 are read, so nothing is "
                           "done.") },
        // QProcess passes arguments as UTF-8, so the shell makes the bytes.
        { "a destination that is not UTF-8",
            { "-c", "exec \"$0\" \"\\\\\\\\Sample Mailbox\" \"$1/out$(printf '\\377')\" /autorun",
                QStringLiteral(QUILLBOX_BIN), dir.path() },
            QStringLiteral("Quillbox: The 'Save to' directory \"%1/out\uFFFD\" cannot be used: its name is not valid "
                           "UTF-8.")
                .arg(dir.path()) },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        const Outcome run = c.arguments.first() == QLatin1String("-c")
            ? runProgram(QStringLiteral("/bin/sh"), c.arguments)
            : runQuillbox(c.arguments);
        ASSERT_FALSE(run.crashed);
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_EQ(run.programLines(), QStringList { c.line }) << run.err.toStdString();
        EXPECT_TRUE(QDir(dir.path()).isEmpty());
    }
}

// Each of /autorun, /ini FILE and /dbg N in its slash form and in each GNU spelling, in both orders, gives the
// start-up state of the slash form.
TEST(Cli, GnuSpellingsGiveTheStateOfTheSlashForm)
{
    const QList<QStringList> autorun { { "/autorun" }, { "--autorun" } };
    const QList<QStringList> ini { { "/ini", "my a.ini" }, { "--ini", "my a.ini" }, { "--ini=my a.ini" } };
    const QList<QStringList> debug { { "/dbg", "1" }, { "--debug", "1" }, { "--debug=1" } };
    const QStringList positional { "\\\\Store\\Inbox", "" };
    const QStringList expected { "Quillbox: positional arguments (2): \"\\\\Store\\Inbox\" \"\"",
        "Quillbox: INI path: \"my a.ini\"", "Quillbox: debug level: 1", "Quillbox: unattended: yes" };
    for (const QStringList& a : autorun)
        for (const QStringList& i : ini)
            for (const QStringList& d : debug)
                for (const bool optionsFirst : { true, false }) {
                    const QStringList options = d + i + a;
                    const QStringList arguments = optionsFirst ? options + positional : positional + options;
                    SCOPED_TRACE(arguments.join(u' ').toStdString());
                    const Outcome run = runQuillbox(arguments);
                    ASSERT_FALSE(run.crashed);
                    // The unattended run itself fails on the made-up store: only the state lines count here.
                    EXPECT_EQ(run.programLines().mid(0, 4), expected);
                }
}

// --list-stores and --list-folders read the profile as a search does; what they cannot list goes to standard
// error with status 1, and the rest is still listed.
TEST(Cli, ListsStoresAndFolders)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString sample = QStringLiteral(SOURCE_DIR "/samples/Sample Mailbox");
    const QString pst = QStringLiteral(TEST_DATA_DIR "/pst/pstsdk_sample1.pst");
    const auto profile = [&dir](const QString& name, const QString& text) {
        QFile file(dir.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text.toUtf8());
        return file.fileName();
    };
    const QString good = profile("good.ini", "[Stores]\nArchive=" + sample + "\nOutlook=" + pst + "\n");
    const QString broken
        = profile("broken.ini", "[Stores]\nGone=" + dir.filePath("gone") + "\nArchive=" + sample + "\n");
    QDir().mkpath(dir.filePath("unreadable.ini"));
    const QString garbage = profile("spool", "not mail\n");
    // Found stores come from HOME: an empty one finds nothing, a copy of the sample Thunderbird home its two
    // accounts, listed after the profile's stores.
    const QString empty = dir.filePath("empty-home");
    const QString thunderbird = dir.filePath("thunderbird-home");
    QDir().mkpath(empty);
    test::copyTree(QStringLiteral(SOURCE_DIR "/samples/thunderbird-home"), thunderbird);
    const QString profileDir = thunderbird + QLatin1String("/.thunderbird/k3x9.default-release");
    QStringList archiveFolders;
    for (const char* folder :
        { "", "\\Archive", "\\Archive\\2012", "\\Archive\\2020", "\\Drafts", "\\Entwürfe", "\\Inbox", "\\Projects",
            "\\Projects\\Garden Club", "\\Projects\\Quillbox", "\\Projects\\Quillbox\\2019", "\\R&D", "\\Sent" })
        archiveFolders << QLatin1String("\\\\Archive") + QString::fromUtf8(folder);
    struct Case {
        const char* why;
        QString profile;
        QStringList arguments;
        int status;
        QStringList out;
        int problems;
        QString home = {};
        QString spool = {}; // $MAIL
    };
    const Case cases[] = {
        { "the profile's stores", good, { "--list-stores" }, 0,
            { "Archive\tMaildir\t" + sample, "Outlook\tOutlook data file\t" + pst }, 0 },
        { "a store that cannot be opened", broken, { "--list-stores" }, 1, { "Archive\tMaildir\t" + sample }, 1 },
        { "a profile that cannot be read", dir.filePath("unreadable.ini"), { "--list-stores" }, 1, {}, 1 },
        { "no profile: the sample store", dir.filePath("none.ini"), { "--list-stores" }, 0,
            { "Sample Mailbox\tMaildir\t" + sample }, 0 },
        { "a store's folders, the name in any case", good, { "--list-folders=archive" }, 0, archiveFolders, 0 },
        { "a store named as a folder path, beside one that failed", broken, { "--list-folders", "\\\\Archive" }, 0,
            archiveFolders, 0 },
        { "a store that is not there", good, { "--list-folders", "Nope" }, 1, {}, 1 },
        { "a store that cannot be opened", broken, { "--list-folders", "gone" }, 1, {}, 1 },
        { "the profile's stores and the found ones", good, { "--list-stores" }, 0,
            { "Archive\tMaildir\t" + sample, "Outlook\tOutlook data file\t" + pst,
                "Thunderbird - Local Folders\tmbox\t" + profileDir + "/Mail/Local Folders",
                "Thunderbird - work@example.org\tMaildir\t" + profileDir + "/ImapMail/imap.example.org" },
            0, thunderbird },
        { "a found store that cannot be opened: told, and the status stays 0", good, { "--list-stores" }, 0,
            { "Archive\tMaildir\t" + sample, "Outlook\tOutlook data file\t" + pst,
                "Thunderbird - Local Folders\tmbox\t" + profileDir + "/Mail/Local Folders",
                "Thunderbird - work@example.org\tMaildir\t" + profileDir + "/ImapMail/imap.example.org" },
            1, thunderbird, garbage },
        { "a found store's folders", good, { "--list-folders", "Thunderbird - Local Folders" }, 0,
            { "\\\\Thunderbird - Local Folders", "\\\\Thunderbird - Local Folders\\Archives",
                "\\\\Thunderbird - Local Folders\\Archives\\2025", "\\\\Thunderbird - Local Folders\\Inbox",
                "\\\\Thunderbird - Local Folders\\Trash", "\\\\Thunderbird - Local Folders\\Unsent Messages" },
            0, thunderbird },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        const test::ScopedEnv env { { "QUILLBOX_PROFILE", c.profile } };
        const Outcome run = runQuillbox(c.arguments, c.home.isEmpty() ? empty : c.home, c.spool);
        ASSERT_FALSE(run.crashed);
        EXPECT_EQ(run.exitCode, c.status);
        EXPECT_EQ(run.out.split(u'\n', Qt::SkipEmptyParts), c.out);
        EXPECT_EQ(run.programLines().size(), c.problems) << run.err.toStdString();
    }
}

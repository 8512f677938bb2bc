// SPDX-License-Identifier: MIT
// Runs the built program without a display and checks what its command line does.
#include "support/qtprinters.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

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

Outcome runProgram(const QString& program, const QStringList& arguments)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
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

Outcome runQuillbox(const QStringList& arguments)
{
    return runProgram(QStringLiteral(QUILLBOX_BIN), arguments);
}

const QString kUsageLine = QStringLiteral("Quillbox: Usage:  | Quillbox [MailFolder] [Directory] [/ini inifile] | "
                                          "Quillbox MailFolder Directory [/ini inifile] /autorun");

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
        { "--help after the first place is a positional argument", { "x", "--help" },
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

TEST(Cli, WrongUseShowsUsageAndExitsWithTwo)
{
    struct Case {
        const char* why;
        QStringList arguments;
    };
    const Case cases[] = {
        { "three positional arguments", { "a", "b", "c" } },
        { "three positional arguments and autorun", { "a", "b", "c", "/autorun" } },
        { "autorun with one positional argument", { "\\\\Store\\Inbox", "/autorun" } },
        { "autorun alone", { "-AutoRun" } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        const Outcome run = runQuillbox(c.arguments);
        ASSERT_FALSE(run.crashed);
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_EQ(run.programLines(), QStringList { kUsageLine });
        EXPECT_TRUE(run.out.isEmpty());
    }
}

TEST(Cli, HelpAndVersionOnStandardOutput)
{
    const Outcome help = runQuillbox({ "--help", "a", "b", "c" });
    ASSERT_FALSE(help.crashed);
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_EQ(help.out,
        QStringLiteral("Usage: \nQuillbox [MailFolder] [Directory] [/ini inifile]\n"
                       "Quillbox MailFolder Directory [/ini inifile] /autorun\n"));
    EXPECT_TRUE(help.programLines().isEmpty());

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

// SPDX-License-Identifier: MIT
#include "app/startup.h"
#include "support/qtprinters.h"
#include "support/scriptedperson.h"

#include <QRandomGenerator>
#include <gtest/gtest.h>

using namespace quillbox;
using quillbox::test::ScriptedPerson;

namespace {

QStringList rawTokens(const CommandLine& cmdline)
{
    QStringList tokens;
    for (int i = 0; i < cmdline.argc; ++i)
        tokens << cmdline.argv(i).value();
    return tokens;
}

QStringList args(const CommandLine& cmdline)
{
    QStringList result;
    for (int i = 0; i < cmdline.argc; ++i)
        result << cmdline.arg(i).value();
    return result;
}

CommandLine tokenize(const QString& text)
{
    CommandLine cmdline;
    cmdline.setText(text);
    return cmdline;
}

QString numberedTokens(int count)
{
    QStringList tokens;
    for (int i = 0; i < count; ++i)
        tokens << QStringLiteral("t%1").arg(i);
    return tokens.join(u' ');
}

} // namespace

TEST(CommandLine, Tokenizing)
{
    struct Case {
        const char* why;
        const char16_t* line;
        QStringList raw;
    };
    const Case cases[] = {
        { "empty line", u"", {} },
        { "spaces only", u"   ", {} },
        { "runs of spaces separate once, leading and trailing ignored", u"  a   b  ", { "a", "b" } },
        { "the last plain token is closed by the end of the line", u"a bc", { "a", "bc" } },
        { "quoted token keeps its quotes", u"\"a b\"", { "\"a b\"" } },
        { "empty quoted token", u"\"\" \"C:\\Out\"", { "\"\"", "\"C:\\Out\"" } },
        { "doubled quote reduced to one", u"\"a\"\"b\"", { "\"a\"b\"" } },
        { "doubled quotes next to the outer quotes", u"\"\"\"a\"\"\"", { "\"\"a\"\"" } },
        { "four quotes are one quote, quoted", u"\"\"\"\"", { "\"\"\"" } },
        { "quote inside a plain token is ordinary", u"ab\"c", { "ab\"c" } },
        { "plain token with quotes does not start quoting", u"a\"b c\"", { "a\"b", "c\"" } },
        { "closing quote ends the token without a space", u"\"abc\"def", { "\"abc\"", "def" } },
        { "a quoted token right after a closing quote", u"\"a\"\"\" \"b\"\"c\"", { "\"a\"\"", "\"b\"c\"" } },
        { "quoted token, then plain with quotes", u"\"a\"b\"c\"", { "\"a\"", "b\"c\"" } },
        { "doubled quote at the end leaves the token unterminated", u"x \"abc\"\"", { "x" } },
        { "unterminated quote drops the rest", u"x \"abc d e", { "x" } },
        { "lone quote", u"\"", {} },
        { "three quotes are unterminated", u"\"\"\"", {} },
        { "quote after a token", u"a \"", { "a" } },
        { "tab is no separator", u"a\tb c", { "a\tb", "c" } },
        { "line breaks are no separator", u"a\r\nb", { "a\r\nb" } },
        { "no-break space is no separator", u"a\u00a0b", { "a\u00a0b" } },
        { "characters outside the BMP", u"\U0001F600 \"\U0001F600 x\"", { "\U0001F600", "\"\U0001F600 x\"" } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        const CommandLine cmdline = tokenize(QString::fromUtf16(c.line));
        EXPECT_EQ(rawTokens(cmdline), c.raw);
        EXPECT_EQ(cmdline.argc, c.raw.size());
    }
}

TEST(CommandLine, ArgRemovesQuotesArgvKeepsThem)
{
    const CommandLine cmdline = tokenize(QStringLiteral("\"a b\" \"\"\"\" \"a\"\"b\" \"\" plain\""));
    EXPECT_EQ(rawTokens(cmdline), (QStringList { "\"a b\"", "\"\"\"", "\"a\"b\"", "\"\"", "plain\"" }));
    EXPECT_EQ(args(cmdline), (QStringList { "a b", "\"", "a\"b", "", "plain\"" }));
}

TEST(CommandLine, KeepsTheFirstTwentyTokens)
{
    const CommandLine cmdline = tokenize(numberedTokens(25));
    EXPECT_EQ(cmdline.argc, 20);
    EXPECT_EQ(cmdline.argv(19).value(), QStringLiteral("t19"));
    EXPECT_FALSE(cmdline.argv(20).ok());

    // Tokens after the twentieth are still scanned: a quote among them does not change the first twenty.
    EXPECT_EQ(rawTokens(tokenize(numberedTokens(20) + QStringLiteral(" \"x y"))), rawTokens(cmdline));
}

TEST(CommandLine, IndexRange)
{
    const CommandLine cmdline = tokenize(QStringLiteral("a \"b\""));
    struct Case {
        const char* why;
        int index;
        bool ok;
    };
    const Case cases[] = {
        { "first token", 0, true },
        { "just past argc reads empty", 2, true },
        { "last index of the store", 19, true },
        { "one past the store", 20, false },
        { "negative", -1, false },
        { "largest 16-bit index", 32767, false },
        { "would wrap to 0 as a 16-bit number", 65536, false },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ(cmdline.argv(c.index).ok(), c.ok);
        EXPECT_EQ(cmdline.arg(c.index).ok(), c.ok);
        if (c.ok && c.index >= cmdline.argc) {
            EXPECT_EQ(cmdline.argv(c.index).value(), QString());
        }
        if (!c.ok) {
            EXPECT_EQ(cmdline.argv(c.index).error().code, Error::Code::Invalid);
        }
    }
}

TEST(CommandLine, NewCommandLineForgetsTheOldTokens)
{
    CommandLine cmdline;
    cmdline.setText(numberedTokens(20));
    cmdline.setText(QStringLiteral("only"));
    EXPECT_EQ(cmdline.argc, 1);
    EXPECT_EQ(cmdline.argv(1).value(), QString());
    EXPECT_EQ(cmdline.argv(19).value(), QString());
    cmdline.setText(QString());
    EXPECT_EQ(cmdline.argc, 0);
    EXPECT_EQ(cmdline.argv(0).value(), QString());
}

TEST(CommandLine, removeQuotes)
{
    struct Case {
        const char* why;
        const char* in;
        const char* out;
    };
    const Case cases[] = {
        { "quoted", "\"abc\"", "abc" },
        { "the last character goes whatever it is", "\"abc", "ab" },
        { "no leading quote: unchanged", "abc\"", "abc\"" },
        { "quote inside: unchanged", "x\"y\"", "x\"y\"" },
        { "two quotes give empty", "\"\"", "" },
        { "a lone quote gives empty", "\"", "" },
        { "empty stays empty", "", "" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ(CommandLine::removeQuotes(QString::fromUtf8(c.in)), QString::fromUtf8(c.out));
    }
}

// The tokenizer must give back each argument exactly as the operating system passed it.
TEST(joinArguments, RoundTripsAwkwardArguments)
{
    const QStringList awkward = {
        "",
        " ",
        "a b",
        "\"",
        "\"\"",
        "\"\"\"",
        "a\"b",
        "\"a",
        "a\"",
        "\"a b\"",
        "\t",
        "a\tb",
        "\r\n",
        "  lead",
        "trail  ",
        "x \"abc\"\"",
        "\\\\Personal Folders\\Inbox",
        "C:\\Mail Archive",
        "/ini",
        "-dbg",
        QString::fromUtf8("Größe 日本 \U0001F600"),
        QString::fromLocal8Bit("\xff\xfe \xc3"),
        QString::fromLocal8Bit("\x80\"\xbf"),
    };
    // Every argument alone, and all of them in runs of at most twenty.
    for (const QString& one : awkward) {
        SCOPED_TRACE(one.toStdString());
        EXPECT_EQ(args(tokenize(joinArguments({ one }))), QStringList { one });
    }
    for (qsizetype start = 0; start < awkward.size(); start += CommandLine::kMaxTokens) {
        const QStringList run = awkward.mid(start, CommandLine::kMaxTokens);
        EXPECT_EQ(args(tokenize(joinArguments(run))), run);
    }
}

TEST(joinArguments, RoundTripsRandomArguments)
{
    const char16_t alphabet[] = u" \"\ta\u00e9/\\-";
    QRandomGenerator random(20240611);
    for (int round = 0; round < 2000; ++round) {
        QStringList run;
        const int count = int(random.bounded(CommandLine::kMaxTokens + 1));
        for (int i = 0; i < count; ++i) {
            QString arg;
            const int length = int(random.bounded(6));
            for (int j = 0; j < length; ++j)
                arg += QChar(alphabet[random.bounded(int(std::size(alphabet) - 1))]);
            run << arg;
        }
        const QString joined = joinArguments(run);
        SCOPED_TRACE(joined.toStdString());
        ASSERT_EQ(args(tokenize(joined)), run);
    }
}

namespace {

struct StateCase {
    const char* why;
    const char16_t* line;
    QStringList positional;
    const char16_t* ini = u"";
    qint16 debug = 0;
    bool unattended = false;
};

void expectState(const StartupState& state, const StateCase& c)
{
    EXPECT_EQ(state.positional, c.positional);
    EXPECT_EQ(state.iniPath, QString::fromUtf16(c.ini));
    EXPECT_EQ(state.debugLevel, c.debug);
    EXPECT_EQ(state.unattended, c.unattended);
}

} // namespace

TEST(readCommandLine, Options)
{
    const StateCase cases[] = {
        { "nothing", u"", {} },
        { "two quoted positionals", u"\"\\\\Personal Folders\\Inbox\" \"C:\\Mail Archive\"",
            { "\\\\Personal Folders\\Inbox", "C:\\Mail Archive" } },
        { "empty positional keeps its place", u"\"\" \"C:\\Out\"", { "", "C:\\Out" } },
        { "positionals keep their case", u"\\\\Store\\InBox", { "\\\\Store\\InBox" } },
        { "upper-case option", u"-AUTORUN", {}, u"", 0, true },
        { "slash option, mixed case; value keeps its case", u"/Ini C:\\My.INI", {}, u"C:\\My.INI" },
        { "quoted option is recognised", u"\"/ini\" x.ini", {}, u"x.ini" },
        { "quoted value loses its quotes", u"/ini \"my a.ini\"", {}, u"my a.ini" },
        { "double dash is no option", u"--ini x", { "--ini", "x" } },
        { "option between positionals", u"a /autorun b", { "a", "b" }, u"", 0, true },
        { "value-taking option last: empty value", u"x /ini", { "x" } },
        { "the value is taken even when it looks like an option", u"/ini /autorun", {}, u"/autorun" },
        { "last ini wins", u"/ini one.ini /ini two.ini", {}, u"two.ini" },
        { "an empty later value still wins", u"/ini one.ini /ini \"\"", {}, u"" },
        { "debug level", u"/dbg 2", {}, u"", 2 },
        { "dash debug, quoted value", u"-DBG \"3\"", {}, u"", 3 },
        { "last debug wins", u"/dbg 2 /dbg 5", {}, u"", 5 },
        { "negative debug level", u"/dbg -3", {}, u"", -3 },
        { "largest 16-bit level", u"/dbg 32767", {}, u"", 32767 },
        { "out of 16-bit range", u"/dbg 32768", {}, u"", 0 },
        { "a word", u"/dbg high", {}, u"", 0 },
        { "not a whole number", u"/dbg 2.5", {}, u"", 0 },
        { "an invalid later value resets the level", u"/dbg 2 /dbg x", {}, u"", 0 },
        { "debug last", u"/dbg", {} },
        { "value-taking option is the twentieth token", u"a b c d e f g h i j k l m n o p q r s /ini",
            { "a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k", "l", "m", "n", "o", "p", "q", "r", "s" } },
        { "an option after the twentieth token is not read",
            u"/dbg 1 /dbg 1 /dbg 1 /dbg 1 /dbg 1 /dbg 1 /dbg 1 /dbg 1 /dbg 1 /dbg 1 /autorun", {}, u"", 1 },
    };
    for (const StateCase& c : cases) {
        SCOPED_TRACE(c.why);
        ScriptedPerson person;
        expectState(readCommandLine(person, QString::fromUtf16(c.line), false), c);
        EXPECT_TRUE(person.prompts().isEmpty());
    }
}

TEST(readCommandLine, ShiftAsksForDebugLevelAndOptions)
{
    struct Case {
        StateCase expected;
        QStringList answers;
    };
    const Case cases[] = {
        { { "level and ini", u"", {}, u"c:\\a.ini", 2 }, { "2 /ini c:\\a.ini" } },
        { { "cancel changes nothing", u"/dbg 1 a", { "a" }, u"", 1 }, {} },
        { { "empty answer changes nothing", u"/dbg 1 a", { "a" }, u"", 1 }, { "" } },
        { { "the answer comes after the command line", u"/dbg 1 /ini x", {}, u"y", 3 }, { "3 /ini y" } },
        { { "a word as level, then a positional", u"a", { "a", "y" } }, { "x y" } },
        { { "the answer may name the folder, quoted", u"", { "\\\\S\\In box" }, u"", 1, true },
            { "1 \"\\\\S\\In box\" /autorun" } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected.why);
        ScriptedPerson person(c.answers);
        expectState(readCommandLine(person, QString::fromUtf16(c.expected.line), true), c.expected);
        EXPECT_EQ(person.prompts(), QStringList { "Enter debug level and options" });
    }
}

TEST(showUsage, OneBoxOfThreeLinesAndExitStatusTwo)
{
    ScriptedPerson person;
    EXPECT_EQ(showUsage(person), 2);
    EXPECT_EQ(person.messages(),
        QStringList { "Usage: \r\nQuillbox [MailFolder] [Directory] [/ini inifile]\r\n"
                      "Quillbox MailFolder Directory [/ini inifile] /autorun" });
}

TEST(describeStartupState, TellsEmptyAndQuotedArgumentsApart)
{
    StartupState state;
    state.positional = { "", "a\"b", "c d" };
    state.iniPath = QStringLiteral("my.ini");
    state.debugLevel = 2;
    state.unattended = true;
    const QStringList lines = describeStartupState(state);
    ASSERT_EQ(lines.size(), 4);
    EXPECT_EQ(lines[0], QStringLiteral("positional arguments (3): \"\" \"a\"\"b\" \"c d\""));
    EXPECT_TRUE(lines[1].contains(QLatin1String("\"my.ini\"")));
    EXPECT_TRUE(lines[2].endsWith(u'2'));
    EXPECT_TRUE(lines[3].endsWith(QLatin1String("yes")));
}

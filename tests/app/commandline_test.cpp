// SPDX-License-Identifier: MIT
#include "app/startup.h"
#include "support/qtprinters.h"
#include "support/scriptedperson.h"

#include <QRandomGenerator>
#include <gtest/gtest.h>

using namespace quillbox;
using quillbox::test::ScriptedPerson;

namespace {

CommandLine tokenize(const QString& text)
{
    CommandLine cmdline;
    cmdline.setText(text);
    return cmdline;
}

// The tokens of `text` read with `read` (argv keeps the quotes, arg removes them).
QStringList tokens(const QString& text, Result<QString> (CommandLine::*read)(int) const = &CommandLine::argv)
{
    const CommandLine cmdline = tokenize(text);
    QStringList result;
    for (int i = 0; i < cmdline.argc; ++i)
        result << (cmdline.*read)(i).value();
    return result;
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
        { "spaces only", u"   ", {} },
        { "runs of spaces separate once, leading and trailing ignored", u"  a   b  ", { "a", "b" } },
        { "quoted token keeps its quotes", u"\"a b\"", { "\"a b\"" } },
        { "empty quoted token", u"\"\" \"C:\\Out\"", { "\"\"", "\"C:\\Out\"" } },
        { "doubled quote reduced to one", u"\"a\"\"b\"", { "\"a\"b\"" } },
        { "four quotes are one quote, quoted", u"\"\"\"\"", { "\"\"\"" } },
        { "plain token with quotes does not start quoting", u"a\"b c\"", { "a\"b", "c\"" } },
        { "closing quote ends the token without a space", u"\"abc\"def", { "\"abc\"", "def" } },
        { "a quoted token right after a closing quote", u"\"a\"\"\" \"b\"\"c\"", { "\"a\"\"", "\"b\"c\"" } },
        { "doubled quote at the end leaves the token unterminated", u"x \"abc\"\"", { "x" } },
        { "unterminated quote drops the rest", u"x \"abc d e", { "x" } },
        { "only a space separates", u"a\tb\r\nc\u00a0d e", { "a\tb\r\nc\u00a0d", "e" } },
        { "characters outside the BMP", u"\U0001F600 \"\U0001F600 x\"", { "\U0001F600", "\"\U0001F600 x\"" } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ(tokens(QString::fromUtf16(c.line)), c.raw);
    }
}

TEST(CommandLine, KeepsTheFirstTwentyTokens)
{
    const CommandLine cmdline = tokenize(numberedTokens(25));
    EXPECT_EQ(cmdline.argc, 20);
    EXPECT_EQ(cmdline.argv(19).value(), QStringLiteral("t19"));
    EXPECT_FALSE(cmdline.argv(20).ok());

    // Tokens after the twentieth are still scanned: a quote among them does not change the first twenty.
    EXPECT_EQ(tokens(numberedTokens(20) + QStringLiteral(" \"x y")), tokens(numberedTokens(20)));
}

TEST(CommandLine, IndexRange)
{
    const CommandLine cmdline = tokenize(QStringLiteral("a \"b\""));
    for (const int pastArgc : { 2, 19 }) {
        EXPECT_EQ(cmdline.argv(pastArgc).value(), QString());
        EXPECT_EQ(cmdline.arg(pastArgc).value(), QString());
    }
    for (const int outside : { 20, -1, 65536 }) { // 65536 would wrap to 0 as a 16-bit number
        EXPECT_EQ(cmdline.argv(outside).error().code, Error::Code::Invalid);
        EXPECT_FALSE(cmdline.arg(outside).ok());
    }
}

TEST(CommandLine, NewCommandLineForgetsTheOldTokens)
{
    CommandLine cmdline;
    cmdline.setText(numberedTokens(20));
    cmdline.setText(QStringLiteral("only"));
    EXPECT_EQ(cmdline.argc, 1);
    EXPECT_EQ(cmdline.argv(19).value(), QString());
}

TEST(CommandLine, removeQuotes)
{
    // The last character goes whatever it is; without a leading quote nothing changes.
    const std::pair<const char*, const char*> cases[]
        = { { "\"abc\"", "abc" }, { "\"abc", "ab" }, { "abc\"", "abc\"" }, { "\"", "" }, { "", "" } };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(CommandLine::removeQuotes(QString::fromUtf8(in)), QString::fromUtf8(out)) << in;
}

// The tokenizer must give back each argument exactly as the operating system passed it.
TEST(joinArguments, RoundTripsArguments)
{
    const QStringList awkward = { "", "\"", "\"\"\"", "a\"", "x \"abc\"\"", "trail  ", "\\\\Personal Folders\\Inbox",
        QString::fromUtf8("Größe 日本 \U0001F600") };
    EXPECT_EQ(tokens(joinArguments(awkward), &CommandLine::arg), awkward);
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
        ASSERT_EQ(tokens(joined, &CommandLine::arg), run);
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
        { "two quoted positionals", u"\"\\\\Personal Folders\\Inbox\" \"C:\\Mail Archive\"",
            { "\\\\Personal Folders\\Inbox", "C:\\Mail Archive" } },
        { "empty positional keeps its place", u"\"\" \"C:\\Out\"", { "", "C:\\Out" } },
        { "upper-case option", u"-AUTORUN", {}, u"", 0, true },
        { "slash option, mixed case; value keeps its case", u"/Ini C:\\My.INI", {}, u"C:\\My.INI" },
        { "quoted option is recognised", u"\"/ini\" x.ini", {}, u"x.ini" },
        { "quoted value loses its quotes", u"/ini \"my a.ini\"", {}, u"my a.ini" },
        { "option between positionals", u"a /autorun b", { "a", "b" }, u"", 0, true },
        { "value-taking option last: empty value", u"x /ini", { "x" } },
        { "the value is taken even when it looks like an option", u"/ini /autorun", {}, u"/autorun" },
        { "an empty later value still wins", u"/ini one.ini /ini \"\"", {}, u"" },
        { "dash debug, quoted value", u"-DBG \"3\"", {}, u"", 3 },
        { "negative debug level", u"/dbg -3", {}, u"", -3 },
        { "largest 16-bit level", u"/dbg 32767", {}, u"", 32767 },
        { "out of 16-bit range", u"/dbg 32768", {}, u"", 0 },
        { "not a whole number", u"/dbg 2.5", {}, u"", 0 },
        { "an invalid later value resets the level", u"/dbg 2 /dbg x", {}, u"", 0 },
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

// The GNU spellings beside the slash switches, and what they refuse. Every mix of the two spellings gives the
// same state end to end (Cli tests).
TEST(readCommandLine, GnuSpellings)
{
    struct Case {
        StateCase expected;
        const char* wrongUse = "";
        Request request = Request::Start;
        const char* listedStore = "";
    };
    const Case cases[] = {
        { { "--ini takes the next token", u"--ini x", {}, u"x" } },
        { { "--ini=, a value with '=' and blanks", u"\"--ini=a=b c.ini\" d", { "d" }, u"a=b c.ini" } },
        { { "--ini takes the next token even when it looks like an option", u"--ini --autorun", {}, u"--autorun" } },
        { { "--debug, then /dbg: the last wins", u"--debug 4 /dbg 2", {}, u"", 2 } },
        { { "--debug=, negative", u"--debug=-3", {}, u"", -3 } },
        { { "--autorun twice is once", u"--autorun a --autorun b", { "a", "b" }, u"", 0, true } },
        { { "-- ends the options", u"-- --autorun /ini x -- --bogus", { "--autorun", "/ini", "x", "--", "--bogus" } } },
        { { "options before -- still count", u"/autorun --ini i -- -dbg", { "-dbg" }, u"i", 0, true } },
        { { "a lone dash and single-dash words stay positional", u"- -x", { "-", "-x" } } },
        { { "GNU spellings keep their case", u"--AUTORUN", {} }, "unknown option --AUTORUN" },
        { { "unknown option", u"a --bogus=1", { "a" } }, "unknown option --bogus" },
        { { "--ini last", u"a --ini", { "a" } }, "the option --ini needs a file name" },
        { { "--ini with an empty value", u"--ini= a", { "a" } }, "the option --ini needs a file name" },
        { { "--ini with an empty next token", u"--ini \"\"", {} }, "the option --ini needs a file name" },
        { { "--debug with a word", u"--debug=x", {} },
            "the option --debug needs a whole number from -32768 to 32767, not \"x\"" },
        { { "--debug out of range", u"--debug 32768", {} },
            "the option --debug needs a whole number from -32768 to 32767, not \"32768\"" },
        { { "--debug last", u"--debug", {} }, "the option --debug needs a debug level" },
        { { "a flag given a value", u"--autorun=yes", {} }, "the option --autorun takes no value" },
        { { "the first problem is told", u"--x --ini", {} }, "unknown option --x" },
        { { "--help anywhere before --", u"a --help b", { "a", "b" } }, "", Request::Help },
        { { "--help after -- is positional", u"a -- --help", { "a", "--help" } } },
        { { "the first request wins", u"--version --help --list-stores", {} }, "", Request::Version },
        { { "--list-stores", u"--list-stores", {} }, "", Request::ListStores },
        { { "--list-folders takes the next token", u"--list-folders \"My Store\"", {} }, "", Request::ListFolders,
            "My Store" },
        { { "--list-folders=", u"--list-folders=\\\\S", {} }, "", Request::ListFolders, "\\\\S" },
        { { "--list-folders without a store", u"--list-folders", {} }, "the option --list-folders needs a store name" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected.why);
        const StartupState state = readCommandLine(QString::fromUtf16(c.expected.line));
        expectState(state, c.expected);
        EXPECT_EQ(state.wrongUse, QString::fromUtf8(c.wrongUse));
        EXPECT_EQ(state.request, c.request);
        EXPECT_EQ(state.listedStore, QString::fromUtf8(c.listedStore));
    }
}

TEST(readCommandLine, ShiftAsksForDebugLevelAndOptions)
{
    struct Case {
        StateCase expected;
        QStringList answers;
    };
    const Case cases[] = {
        { { "empty answer changes nothing", u"/dbg 1 a", { "a" }, u"", 1 }, { "" } },
        { { "the answer comes after the command line", u"/dbg 1 /ini x", {}, u"y", 3 }, { "3 /ini y" } },
        { { "a word as level, then a positional", u"a", { "a", "y" } }, { "x y" } },
        { { "the answer may name the folder, quoted", u"", { "\\\\S\\In box" }, u"", 1, true },
            { "1 \"\\\\S\\In box\" /autorun" } },
        { { "after -- the answer is read as options again", u"-- /autorun", { "/autorun" }, u"", 2, true },
            { "2 --autorun" } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected.why);
        ScriptedPerson person(c.answers);
        expectState(readCommandLine(person, QString::fromUtf16(c.expected.line), true), c.expected);
        EXPECT_EQ(person.prompts(), QStringList { "Enter debug level and options" });
    }
}

// The slash form's three lines first, then the GNU spellings; a problem goes before them in the same box.
TEST(showUsage, OneBoxAndExitStatusTwo)
{
    const QString usage = "Usage: \r\nQuillbox [MailFolder] [Directory] [/ini inifile]\r\n"
                          "Quillbox MailFolder Directory [/ini inifile] /autorun\r\n"
                          "Quillbox [MailFolder] [Directory] [--ini inifile] [--debug level]\r\n"
                          "Quillbox MailFolder Directory [--ini inifile] --autorun\r\n"
                          "Quillbox --list-stores, --list-folders store, --help or --version";
    ScriptedPerson person;
    EXPECT_EQ(showUsage(person), 2);
    EXPECT_EQ(showUsage(person, "unknown option --x"), 2);
    EXPECT_EQ(person.messages(), (QStringList { usage, "unknown option --x\r\n" + usage }));
}

// The positional arguments, a named INI file and "no" are checked end to end (Cli tests).
TEST(describeStartupState, DefaultIniAndUnattended)
{
    StartupState state;
    state.unattended = true;
    EXPECT_EQ(describeStartupState(state),
        (QStringList {
            "positional arguments (0):", "INI path: (the default file)", "debug level: 0", "unattended: yes" }));
}

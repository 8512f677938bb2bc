// SPDX-License-Identifier: MIT
#include "output/filename.h"

#include "support/qtprinters.h"
#include "support/resultrows.h"

#include <gtest/gtest.h>

using namespace quillbox;
using test::sampleRow;

namespace {

Settings clips(const char* address, const char* subject)
{
    Settings settings;
    settings.clipAddress = QString::fromUtf8(address);
    settings.clipSubject = QString::fromUtf8(subject);
    return settings;
}

QString expand(const char* pattern, const ResultRow& row, const Settings& settings = clips("50", "50"))
{
    const Result<QString> name = expandFileName(QString::fromUtf8(pattern), row, settings);
    EXPECT_TRUE(name.ok()) << name.error().describe().toStdString();
    return name.ok() ? *name : QStringLiteral("<failed>");
}

const QString kEmoji = QString::fromUtf8("\xF0\x9F\x98\x80"); // one character, two UTF-16 code units

} // namespace

TEST(expandFileName, Consequences)
{
    struct Case {
        const char *why, *pattern, *expected;
        ResultRow row = sampleRow();
    };
    const Case cases[] = {
        { "default template", "%1 %2 %3", "090812 143005 alice@example.org Quarterly report" },
        { "all eight columns", "%1|%2|%3|%4|%5|%6|%7|%8",
            "090812 143005|alice@example.org|Quarterly report|Bob Jones; Carol|090812 143107|00000000ABCDEF|"
            "\\\\Store\\Inbox\\Sub|090812 143107" },
        { "%% after a placeholder", "%3%%", "Growth 5%", sampleRow(ColSubject, QStringLiteral("Growth 5")) },
        { "%10 is %1 and the digit 0", "%10", "090812 1430050" },
        { "digits after a placeholder stay text", "%23", "alice@example.org3" },
        { "%9 is beyond the row's eight texts", "%9", "%9" },
        { "%0 is no placeholder", "%0", "%0" },
        { "a lone % at the end stays", "100%", "100%" },
        { "% before a letter stays", "%x", "%x" },
        { "%%1 is replaced as %1 first", "%%1", "%090812 143005" },
        { "%%%2: the placeholder, then the pair", "100%%%2", "100%alice@example.org" },
        { "%%%% gives two", "%%%%", "%%" },
        { "a % before an inserted value that starts with a digit forms a later placeholder", "%%1",
            "alice@example.org0090812", sampleRow(ColSent, QStringLiteral("20090812")) },
        { "a value's %5 is replaced by the later step", "%3", "see 090812 143107",
            sampleRow(ColSubject, QStringLiteral("see %5")) },
        { "a value's %1 is left, its step is over", "%3", "see %1", sampleRow(ColSubject, QStringLiteral("see %1")) },
        { "a step does not rescan what it inserted", "%2", "x%2", sampleRow(ColFrom, QStringLiteral("x%2")) },
        { "a value's %% loses one %", "%3", "50% off", sampleRow(ColSubject, QStringLiteral("50%% off")) },
        { "a value's trailing % and the template's digit form a later placeholder", "%23", "up Quarterly report",
            sampleRow(ColFrom, QStringLiteral("up %")) },
        { "... but not an earlier one", "%32", "up %2", sampleRow(ColSubject, QStringLiteral("up %")) },
        { "an empty template", "", "" },
        { "placeholders of empty texts", "%2%3", "", ResultRow {} },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ(expand(c.pattern, c.row), QString::fromUtf8(c.expected));
    }
}

TEST(expandFileName, Clipping)
{
    struct Case {
        const char* why;
        Settings settings;
        QString expected; // of "%2|%3|%4" in "%1|%2|%3|%4|%5": Sent and Received are never clipped
        ResultRow row = sampleRow();
    };
    const ResultRow emojiFrom = sampleRow(ColFrom, QStringLiteral("a") + kEmoji + QStringLiteral("b"));
    const Case cases[] = {
        { "subject clipped, addresses whole", clips("50", "5"),
            QStringLiteral("alice@example.org|Quart|Bob Jones; Carol") },
        { "0 empties From and To, not Subject", clips("0", "50"), QStringLiteral("|Quarterly report|") },
        { "the address length applies to From and To", clips("5", "0"), QStringLiteral("alice||Bob J") },
        { "a fraction is rounded up from a half", clips("2.5", "2.4"), QStringLiteral("ali|Qu|Bob") },
        { "blanks around the number", clips(" 7 ", "+3"), QStringLiteral("alice@e|Qua|Bob Jon") },
        { "a small negative fraction rounds to 0", clips("-0.4", "1e1"), QStringLiteral("|Quarterly |") },
        { "a length beyond the value keeps it whole", clips("999999999999", "50"),
            QStringLiteral("alice@example.org|Quarterly report|Bob Jones; Carol") },
        { "a cut never splits a surrogate pair", clips("2", "3"), QStringLiteral("a|Qua|Bo"), emojiFrom },
        { "a cut after a whole pair keeps it", clips("3", "3"),
            QStringLiteral("a") + kEmoji + QStringLiteral("|Qua|Bob"), emojiFrom },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ(expand("%1|%2|%3|%4|%5", c.row, c.settings),
            QStringLiteral("090812 143005|") + c.expected + QStringLiteral("|090812 143107"));
    }
}

TEST(expandFileName, Failures)
{
    struct Case {
        const char* why;
        Settings settings;
        const char* setting; // named in the error
    };
    const Case cases[] = {
        { "empty address length", clips("", "50"), "ClipAddress" },
        { "subject length not a number", clips("50", "abc"), "ClipSubject" },
        { "negative length", clips("-1", "50"), "ClipAddress" },
        { "number followed by text", clips("50", "5x"), "ClipSubject" },
        { "not a finite number", clips("50", "inf"), "ClipSubject" },
        { "NaN", clips("nan", "50"), "ClipAddress" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        // "%1" does not use the clipped texts: a bad clip length fails all the same.
        const Result<QString> name = expandFileName(QStringLiteral("%1"), sampleRow(), c.settings);
        ASSERT_FALSE(name.ok());
        EXPECT_EQ(name.error().code, Error::Code::Invalid);
        EXPECT_EQ(name.error().path, QString::fromUtf8(c.setting));
    }
}

// With more than nine values placeholders have two digits: the template's "%20" is "%2" and "0", while
// a "%20" that a value brings before step 20 is the twentieth value; nothing stops at twenty.
TEST(expandPlaceholders, MoreThanNineValues)
{
    QStringList texts;
    for (int i = 1; i <= 25; ++i)
        texts << QStringLiteral("c%1").arg(i);
    texts[2] = QStringLiteral("%20 %25");
    texts[19] = QStringLiteral("twenty");
    const std::vector<QStringView> values(texts.begin(), texts.end());
    EXPECT_EQ(expandPlaceholders(QStringLiteral("%3 %20"), values), QStringLiteral("twenty c25 c20"));
}

TEST(makeSafeFileName, Replacements)
{
    struct Case {
        const char* why;
        QString text, expected;
    };
    const Case cases[] = {
        { "each unsafe character becomes one space, next to an existing one", QStringLiteral("a/b: c?"),
            QStringLiteral("a b  c ") },
        { "a folder path", QStringLiteral("\\\\Store\\Inbox\\Sub"), QStringLiteral("  Store Inbox Sub") },
        { "all nine", QStringLiteral("\\/:*?\"<>|"), QStringLiteral("         ") },
        { "control characters are removed, not replaced", QStringLiteral("Re\tHello\r\nWorld\x1f!"),
            QStringLiteral("ReHelloWorld!") },
        { "NUL is removed", QStringLiteral("a") + QChar(0) + QStringLiteral("b"), QStringLiteral("ab") },
        { "dots, blanks, DEL and letters outside ASCII stay", QString::fromUtf8("  ..Grüße\x7f.. "),
            QString::fromUtf8("  ..Grüße\x7f.. ") },
        { "empty stays empty", QString(), QString() },
        { "256 characters stay whole", QString(256, u'a'), QString(256, u'a') },
        { "the rest beyond 256 is dropped", QString(300, u'a'), QString(256, u'a') },
        { "removed characters do not count", QString(10, u'\t') + QString(256, u'b') + QStringLiteral("c"),
            QString(256, u'b') },
        { "replaced characters count", QString(300, u'?'), QString(256, u' ') },
        { "the cut keeps a pair that ends at 256", QString(254, u'a') + kEmoji + QStringLiteral("z"),
            QString(254, u'a') + kEmoji },
        { "the cut does not split a pair that straddles 256", QString(255, u'a') + kEmoji, QString(255, u'a') },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ(makeSafeFileName(c.text), c.expected);
    }

    // The expanded name is cut after its unsafe characters are replaced.
    const ResultRow row = sampleRow(ColSubject, QString(200, u'x') + QStringLiteral(":") + QString(200, u'y'));
    EXPECT_EQ(makeSafeFileName(expand("%1 %3", row, clips("50", "500"))),
        QStringLiteral("090812 143005 ") + QString(200, u'x') + QStringLiteral(" ") + QString(41, u'y'));
}

// SPDX-License-Identifier: MIT
#include "core/maildate.h"
#include "output/filename.h"
#include "support/qtprinters.h"

#include <gtest/gtest.h>

using namespace quillbox;

namespace {

const QLocale kUs(QLocale::English, QLocale::UnitedStates);
const QLocale kGerman(QLocale::German, QLocale::Germany);

// Wednesday 12 August 2009, 14:30:05.
QDateTime sample()
{
    return QDateTime(QDate(2009, 8, 12), QTime(14, 30, 5));
}

QDateTime at(int y, int m, int d, int h = 0, int min = 0, int s = 0)
{
    return QDateTime(QDate(y, m, d), QTime(h, min, s));
}

struct Case {
    const char* why;
    QDateTime when;
    const char* pattern;
    const char* expected;
};

void check(const Case& c, const QLocale& locale)
{
    SCOPED_TRACE(c.why);
    SCOPED_TRACE(c.pattern);
    EXPECT_EQ(formatMailDate(c.when, QString::fromUtf8(c.pattern), locale), QString::fromUtf8(c.expected));
}

} // namespace

TEST(formatMailDate, OfferedPatternsAndTheirSafeNames)
{
    struct Offered {
        const char* pattern;
        const char* formatted;
        const char* safe;
    };
    const Offered offered[] = {
        { "yymmdd HHMMSS", "090812 143005", "090812 143005" },
        { "yyyymmdd HHMMSS", "20090812 143005", "20090812 143005" },
        { "dd/mm/yyyy HH:MM:SS", "12/08/2009 14:30:05", "12 08 2009 14 30 05" },
        { "mm/dd/yyyy HH:MM:SS", "08/12/2009 14:30:05", "08 12 2009 14 30 05" },
        { "dd Mmm yy HH:MM", "12 Aug 09 14:30", "12 Aug 09 14 30" },
    };
    for (const Offered& o : offered) {
        SCOPED_TRACE(o.pattern);
        const QString formatted = formatMailDate(sample(), QString::fromUtf8(o.pattern), kUs);
        EXPECT_EQ(formatted, QString::fromUtf8(o.formatted));
        EXPECT_EQ(makeSafeFileName(formatted), QString::fromUtf8(o.safe));
    }
}

TEST(formatMailDate, Tokens)
{
    const Case cases[] = {
        { "day without and with padding", at(2009, 1, 5), "d dd", "5 05" },
        { "weekday names", sample(), "ddd dddd", "Wed Wednesday" },
        { "seven d are the long date followed by the day", sample(), "ddddddd", "Wednesday, August 12, 200912" },
        { "month without and with padding", at(2009, 3, 1), "m mm", "3 03" },
        { "month names", sample(), "mmm mmmm", "Aug August" },
        { "five m are the month name followed by the month", sample(), "mmmmm", "August8" },
        { "tokens ignore case", sample(), "YYYY-Mm-dD MMM", "2009-08-12 Aug" },
        { "year forms; three y are yy and y", sample(), "yyyy yy yyy", "2009 09 09224" },
        { "day of year in a leap year", at(2000, 12, 31), "y", "366" },
        { "day of year after February", at(2009, 3, 1), "y", "60" },
        { "quarters", at(2009, 3, 31), "q", "1" },
        { "quarters", at(2009, 4, 1), "q", "2" },
        { "quarters", at(2009, 12, 31), "q", "4" },
        { "hour, minute and second, short and padded", at(2009, 8, 12, 7, 5, 9), "h:n:s hh:nn:ss", "7:5:9 07:05:09" },
        { "m right after an hour is the minute", at(2009, 8, 12, 7, 5, 9), "hm", "75" },
        { "m after an hour and literal text is the minute", sample(), "hh\"h\" mm\\m", "14h 30m" },
        { "m after another field is the month", sample(), "hh dd mm", "14 12 08" },
        { "m before the hour is the month", sample(), "mm hh", "08 14" },
        { "mmm after an hour is still the month name", sample(), "hhmmm", "14Aug" },
        { "m after a minute is the month again", sample(), "hh:mm:mm", "14:30:08" },
        { "characters that are no token are copied", sample(), "[hh] x!", "[14] x!" },
        { "fewer than five t are text", sample(), "tt", "tt" },
        { "backslash escapes a token letter", sample(), "\\d\\m\\\\", "dm\\" },
        { "a backslash at the end is copied", sample(), "d\\", "12\\" },
        { "quoted text is copied, separators included", sample(), "\"d/m: \"d", "d/m: 12" },
        { "an unclosed quote runs to the end", sample(), "d\"mm", "12mm" },
        { "a year with fewer than four digits is padded", at(999, 1, 1), "yyyy yy", "0999 99" },
    };
    for (const Case& c : cases)
        check(c, kUs);
}

TEST(formatMailDate, WeekdayAndWeekCountFromSunday)
{
    const Case cases[] = {
        { "1 January is always in week 1 (a Thursday)", at(2009, 1, 1), "w ww", "5 1" },
        { "the Saturday after it too", at(2009, 1, 3), "w ww", "7 1" },
        { "the first Sunday starts week 2", at(2009, 1, 4), "w ww", "1 2" },
        { "the sample Wednesday", sample(), "w ww", "4 33" },
        { "a leap year that starts on Saturday reaches week 54", at(2000, 12, 31), "w ww", "1 54" },
        { "a year that starts on Sunday has its last Sunday in week 53", at(2006, 12, 31), "w ww", "1 53" },
    };
    for (const Case& c : cases)
        check(c, kUs);
}

TEST(formatMailDate, TwelveHourClock)
{
    const Case cases[] = {
        { "afternoon, upper case as written", sample(), "h AM/PM", "2 PM" },
        { "designator before the hour still makes it a 12-hour clock", sample(), "AM/PM hh:nn", "PM 02:30" },
        { "lower case as written", at(2009, 8, 12, 9, 5), "hh:nn am/pm", "09:05 am" },
        { "mixed case as written", sample(), "Am/pM", "pM" },
        { "midnight is 12 AM", at(2009, 8, 12, 0, 5), "h:nn A/P", "12:05 A" },
        { "noon is 12 PM", at(2009, 8, 12, 12, 0), "h a/p", "12 p" },
        { "one letter forms", at(2009, 8, 12, 23, 59), "h a/p", "11 p" },
        { "the locale's designator", sample(), "h AMPM", "2 PM" },
        { "the locale's designator in the morning", at(2009, 8, 12, 11, 0), "h ampm", "11 AM" },
        { "without a designator the hour runs to 23", sample(), "h", "14" },
        { "an a that starts no designator is text", sample(), "a h", "a 14" },
    };
    for (const Case& c : cases)
        check(c, kUs);
}

TEST(formatMailDate, RegionalNamesFormsAndSeparators)
{
    struct Regional {
        const char* why;
        QLocale locale;
        QDateTime when;
        const char* pattern;
        const char* expected;
    };
    const Regional cases[] = {
        { "German names", kGerman, sample(), "dddd, d. mmmm yyyy", "Mittwoch, 12. August 2009" },
        { "German month name outside ASCII", kGerman, at(2009, 3, 1), "mmmm", "März" },
        { "French names", QLocale(QLocale::French, QLocale::France), sample(), "dddd d mmmm", "mercredi 12 août" },
        { "German separators", kGerman, sample(), "dd/mm/yyyy HH:MM:SS", "12.08.2009 14:30:05" },
        { "Finnish time separator", QLocale(QLocale::Finnish, QLocale::Finland), sample(), "d/m hh:nn", "12.8 14.30" },
        { "Swedish date separator", QLocale(QLocale::Swedish, QLocale::Sweden), sample(), "yyyy/mm/dd", "2009-08-12" },
        { "Hungarian separator of two characters", QLocale(QLocale::Hungarian, QLocale::Hungary), sample(),
            "yyyy/mm/dd", "2009. 08. 12" },
        { "a short date with only a blank between fields falls back to the slash", QLocale::c(), sample(), "d/m",
            "12/8" },
        { "German short date", kGerman, sample(), "ddddd", "12.08.09" },
        { "German long date", kGerman, sample(), "dddddd", "Mittwoch, 12. August 2009" },
        { "German time, without a time zone", kGerman, sample(), "ttttt", "14:30:05" },
        { "German general date and time", kGerman, sample(), "c", "12.08.09 14:30:05" },
        { "English designator", QLocale(QLocale::English, QLocale::UnitedKingdom), sample(), "hAMPM", "2pm" },
    };
    for (const Regional& r : cases) {
        SCOPED_TRACE(r.why);
        EXPECT_EQ(formatMailDate(r.when, QString::fromUtf8(r.pattern), r.locale), QString::fromUtf8(r.expected));
    }
}

TEST(formatMailDate, SwitchingLocalesOrPatternsUsesTheNewOne)
{
    // Separators, names and the split pattern of the last call are kept between calls.
    const QString pattern = QStringLiteral("d/m mmmm");
    EXPECT_EQ(formatMailDate(sample(), pattern, kGerman), QStringLiteral("12.8 August"));
    EXPECT_EQ(formatMailDate(at(2009, 3, 1), pattern, kUs), QStringLiteral("1/3 March"));
    EXPECT_EQ(formatMailDate(at(2009, 3, 1), pattern, kGerman), QString::fromUtf8("1.3 März"));
    EXPECT_EQ(formatMailDate(at(2009, 3, 1), QStringLiteral("h:m"), kGerman), QStringLiteral("0:0"));
    EXPECT_EQ(formatMailDate(at(2009, 3, 1), QStringLiteral("h:m AM/PM"), kGerman), QStringLiteral("12:0 AM"));
}

TEST(formatMailDate, InvalidTimeGivesEmptyText)
{
    EXPECT_EQ(formatMailDate(QDateTime(), QStringLiteral("yymmdd"), kUs), QString());
}

TEST(formatMailDate, CalendarAgreesWithQDate)
{
    // Every day of the centuries that mail can carry, and a sample of the rest of QDate's usual range.
    const auto check = [](QDate date) {
        const QString expected = date.toString(QStringLiteral("yyyy-MM-dd"));
        ASSERT_EQ(formatMailDate(QDateTime(date, QTime(12, 0)), QStringLiteral("yyyy-mm-dd"), kUs), expected);
    };
    for (QDate date(1900, 1, 1); date.year() < 2200; date = date.addDays(1))
        check(date);
    for (QDate date(1, 1, 1); date.year() <= 9999; date = date.addDays(97))
        check(date);
}

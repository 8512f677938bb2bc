// SPDX-License-Identifier: MIT
#include "core/maildate.h"
#include "output/filename.h"
#include "support/qtprinters.h"

#include <gtest/gtest.h>

using namespace quillbox;

namespace {

const QLocale kUs(QLocale::English, QLocale::UnitedStates);
const QLocale kGerman(QLocale::German, QLocale::Germany);

QDateTime at(int y, int m, int d, int h = 0, int min = 0, int s = 0)
{
    return QDateTime(QDate(y, m, d), QTime(h, min, s));
}

const QDateTime kSample = at(2009, 8, 12, 14, 30, 5); // a Wednesday

struct Case {
    QDateTime when;
    const char *pattern, *expected;
    QLocale locale = kUs;
};

void check(std::initializer_list<Case> cases)
{
    for (const Case& c : cases)
        EXPECT_EQ(formatMailDate(c.when, QString::fromUtf8(c.pattern), c.locale), QString::fromUtf8(c.expected))
            << c.pattern << " in " << c.locale.name().toStdString();
}

} // namespace

TEST(formatMailDate, OfferedPatternsAndTheirSafeNames)
{
    const char* const offered[][3] = { { "yymmdd HHMMSS", "090812 143005", "090812 143005" },
        { "yyyymmdd HHMMSS", "20090812 143005", "20090812 143005" },
        { "dd/mm/yyyy HH:MM:SS", "12/08/2009 14:30:05", "12 08 2009 14 30 05" },
        { "mm/dd/yyyy HH:MM:SS", "08/12/2009 14:30:05", "08 12 2009 14 30 05" },
        { "dd Mmm yy HH:MM", "12 Aug 09 14:30", "12 Aug 09 14 30" } };
    for (const auto& [pattern, formatted, safe] : offered) {
        const QString text = formatMailDate(kSample, QString::fromUtf8(pattern), kUs);
        EXPECT_EQ(text, QString::fromUtf8(formatted));
        EXPECT_EQ(makeSafeFileName(text), QString::fromUtf8(safe));
    }
}

TEST(formatMailDate, Tokens)
{
    check({ { at(2009, 1, 5), "d dd", "5 05" }, { kSample, "ddd dddd", "Wed Wednesday" },
        { kSample, "ddddddd", "Wednesday, August 12, 200912" }, // the long date, then the day
        { at(2009, 3, 1), "m mm", "3 03" }, { kSample, "mmm mmmm", "Aug August" },
        { kSample, "mmmmm", "August8" }, // the month name, then the month
        { kSample, "YYYY-Mm-dD MMM", "2009-08-12 Aug" }, // tokens ignore case
        { kSample, "yyyy yy yyy", "2009 09 09224" }, // three y are yy and the day of the year
        { at(2000, 12, 31), "y", "366" }, { at(2009, 3, 1), "y", "60" }, { at(2009, 3, 31), "q", "1" },
        { at(2009, 4, 1), "q", "2" }, { at(2009, 12, 31), "q", "4" },
        { at(2009, 8, 12, 7, 5, 9), "h:n:s hh:nn:ss", "7:5:9 07:05:09" },
        // m is the minute right after an hour (literal text between), the month anywhere else
        { at(2009, 8, 12, 7, 5, 9), "hm", "75" }, { kSample, "hh\"h\" mm\\m", "14h 30m" },
        { kSample, "hh dd mm", "14 12 08" }, { kSample, "mm hh", "08 14" }, { kSample, "hhmmm", "14Aug" },
        { kSample, "hh:mm:mm", "14:30:08" },
        // text: other characters, fewer than five t, escaped or quoted letters
        { kSample, "[hh] x!", "[14] x!" }, { kSample, "tt", "tt" }, { kSample, "\\d\\m\\\\", "dm\\" },
        { kSample, "d\\", "12\\" }, { kSample, "\"d/m: \"d", "d/m: 12" }, { kSample, "d\"mm", "12mm" },
        { at(999, 1, 1), "yyyy yy", "0999 99" }, { QDateTime(), "yymmdd", "" } }); // no time: no text
}

TEST(formatMailDate, WeekdayAndWeekCountFromSunday)
{
    // 1 January 2009 is a Thursday in week 1; the first Sunday starts week 2. 2000 (a leap year starting on
    // a Saturday) reaches week 54; 2006, starting on a Sunday, has its last Sunday in week 53.
    check({ { at(2009, 1, 1), "w ww", "5 1" }, { at(2009, 1, 3), "w ww", "7 1" }, { at(2009, 1, 4), "w ww", "1 2" },
        { kSample, "w ww", "4 33" }, { at(2000, 12, 31), "w ww", "1 54" }, { at(2006, 12, 31), "w ww", "1 53" } });
}

TEST(formatMailDate, TwelveHourClock)
{
    // The designator is written in the case of the pattern and makes the hour 12-hour wherever it stands;
    // AMPM is the locale's own.
    check({ { kSample, "h AM/PM", "2 PM" }, { kSample, "AM/PM hh:nn", "PM 02:30" },
        { at(2009, 8, 12, 9, 5), "hh:nn am/pm", "09:05 am" }, { kSample, "Am/pM", "pM" },
        { at(2009, 8, 12, 0, 5), "h:nn A/P", "12:05 A" }, { at(2009, 8, 12, 12, 0), "h a/p", "12 p" },
        { at(2009, 8, 12, 23, 59), "h a/p", "11 p" }, { kSample, "h AMPM", "2 PM" },
        { at(2009, 8, 12, 11, 0), "h ampm", "11 AM" }, { kSample, "h", "14" }, { kSample, "a h", "a 14" } });
}

TEST(formatMailDate, RegionalNamesFormsAndSeparators)
{
    check({ { kSample, "dddd, d. mmmm yyyy", "Mittwoch, 12. August 2009", kGerman },
        { at(2009, 3, 1), "mmmm", "März", kGerman },
        { kSample, "dddd d mmmm", "mercredi 12 août", QLocale(QLocale::French, QLocale::France) },
        { kSample, "dd/mm/yyyy HH:MM:SS", "12.08.2009 14:30:05", kGerman },
        { kSample, "d/m hh:nn", "12.8 14.30", QLocale(QLocale::Finnish, QLocale::Finland) },
        { kSample, "yyyy/mm/dd", "2009-08-12", QLocale(QLocale::Swedish, QLocale::Sweden) },
        { kSample, "yyyy/mm/dd", "2009. 08. 12", QLocale(QLocale::Hungarian, QLocale::Hungary) },
        { kSample, "d/m", "12/8", QLocale::c() }, // a short date with only a blank between fields: the slash
        { kSample, "ddddd", "12.08.09", kGerman }, { kSample, "dddddd", "Mittwoch, 12. August 2009", kGerman },
        { kSample, "ttttt", "14:30:05", kGerman }, // without a time zone
        { kSample, "c", "12.08.09 14:30:05", kGerman },
        { kSample, "hAMPM", "2pm", QLocale(QLocale::English, QLocale::UnitedKingdom) } });
}

TEST(formatMailDate, SwitchingLocalesOrPatternsUsesTheNewOne)
{
    // Separators, names and the split pattern of the last call are kept between calls.
    check({ { kSample, "d/m mmmm", "12.8 August", kGerman }, { at(2009, 3, 1), "d/m mmmm", "1/3 March" },
        { at(2009, 3, 1), "d/m mmmm", "1.3 März", kGerman }, { at(2009, 3, 1), "h:m", "0:0", kGerman },
        { at(2009, 3, 1), "h:m AM/PM", "12:0 AM", kGerman } });
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

// The wall-clock shortcut orders as QDateTime does (in Europe/Berlin): across changes to and from summer time,
// at the two-day edge, against the far "no date", and with a time that is no local one.
TEST(compareTimes, OrdersAsQDateTimeDoes)
{
    const QDateTime utcNoon = QDateTime(QDate(2009, 7, 1), QTime(12, 0), Qt::UTC);
    const struct {
        QDateTime a, b;
        int order;
    } pairs[] = { { at(2009, 10, 25, 1, 30), at(2009, 10, 25, 3, 30), -1 },
        { at(2009, 3, 29, 1, 59), at(2009, 3, 29, 3), -1 }, { at(2009, 3, 27, 3), at(2009, 3, 29, 3), -1 },
        { at(2009, 3, 27, 2), at(2009, 3, 29, 3), -1 }, { kSample, at(4501, 1, 1), -1 },
        { at(2099, 12, 31), at(2099, 12, 30, 23), 1 }, { at(1900, 1, 1), kSample, -1 },
        { at(2009, 7, 1, 14), utcNoon, 0 }, { at(2009, 7, 1, 14), utcNoon.addDays(3), -1 }, { kSample, kSample, 0 } };
    for (const auto& p : pairs) {
        SCOPED_TRACE(p.a.toString(Qt::ISODate).toStdString() + " / " + p.b.toString(Qt::ISODate).toStdString());
        EXPECT_EQ(compareTimes(p.a, p.b), p.order);
        EXPECT_EQ(compareTimes(p.b, p.a), -p.order);
    }
}

// SPDX-License-Identifier: MIT
#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>

namespace quillbox {

/// Formats the date and time of `t`, as `t` holds them (no time-zone conversion), by `pattern`.
///
/// The pattern is read left to right; at each position the longest of these tokens is taken, without
/// regard to case, and every other character is copied unchanged:
///
///   d, dd                   day of month, 1 to 31 / two digits
///   ddd, dddd               weekday abbreviation / name
///   ddddd, dddddd           the locale's short / long date
///   w, ww                   day of week, 1 (Sunday) to 7 / week of year, 1 to 54: weeks start on Sunday
///                           and week 1 is the week that holds 1 January
///   m, mm                   month, 1 to 12 / two digits; the minute instead where the nearest field token
///                           before it is h or hh (separators, escapes and quoted text are no field tokens)
///   mmm, mmmm               month abbreviation / name
///   q                       quarter, 1 to 4
///   y, yy, yyyy             day of year, 1 to 366 / year in two digits / year in four digits
///   h, hh                   hour, 0 to 23 / two digits; 1 to 12 when the pattern holds an AM/PM token
///   n, nn, s, ss            minute, second / two digits
///   ttttt                   the locale's time (its long time format without the time zone)
///   c                       the locale's short date, a space and its time
///   AM/PM, A/P              12-hour designator in the case written: the text before "/" in the
///                           morning, the text after it from noon ("am/pm" gives "am" or "pm")
///   AMPM                    the locale's own designator
///   /, :                    the locale's date / time separator
///   \x, "text"              the character x / the text between the quotes, copied as it stands
///                           (an unclosed quote runs to the end)
///
/// Names, dates, times and separators come from `locale`; the program passes QLocale::system().
/// The date separator is the text between the first two fields (d, M, y) of the locale's short date
/// format, the time separator the text between its first two fields (h, m, s) of the short time format,
/// quotes removed; where either is empty or only blank, "/" and ":" are used. Digits are always ASCII.
/// An invalid `t` gives an empty text. Never fails.
[[nodiscard]] QString formatMailDate(const QDateTime& t, const QString& pattern, const QLocale& locale);

/// A time with its date and time of day read once: QDateTime works them out anew at each call, and a search
/// compares and writes each time of every mail several times. `value` must outlive it.
struct WallClock {
    explicit WallClock(const QDateTime& t)
        : value(t)
        , date(t.isValid() ? t.date() : QDate())
        , time(t.isValid() ? t.time() : QTime())
    {
    }
    const QDateTime& value;
    QDate date; ///< invalid for an invalid time
    QTime time;
};

/// formatMailDate() of a time read already.
[[nodiscard]] QString formatMailDate(const WallClock& t, const QString& pattern, const QLocale& locale);

/// The order of two times, as QDateTime's own comparison gives it: negative when `a` is earlier, 0 when
/// they are the same moment, positive when `a` is later. Two local times more than two days apart are
/// ordered by their wall-clock fields, with no time-zone conversion: QDateTime turns each local time into
/// UTC to compare two of which one is in summer time and the other not, and for a time past the last
/// change its zone file lists (the stores' "no date" in 4501, the search's window end in 2099) the C
/// library works out the zone's rule anew at every conversion.
[[nodiscard]] int compareTimes(const QDateTime& a, const QDateTime& b);
/// compareTimes() of two times read already.
[[nodiscard]] int compareTimes(const WallClock& a, const WallClock& b);

/// Without TZ, glibc looks at /etc/localtime again at every local-time conversion (three per listed mail).
/// Naming the file it would read anyway gives the same times, read once. Call before any local time is used.
void readLocalTimeZoneOnce();

} // namespace quillbox

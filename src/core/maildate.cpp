// SPDX-License-Identifier: MIT
#include "core/maildate.h"

#include <QVarLengthArray>
#include <optional>

namespace quillbox {

namespace {

enum class Tok : quint8 {
    Text, // pattern characters copied as they stand
    Day,
    Day2,
    WeekdayAbbr,
    WeekdayName,
    ShortDate,
    LongDate,
    Weekday,
    Week,
    Month,
    Month2,
    MonthAbbr,
    MonthName,
    Minute,
    Minute2,
    Quarter,
    DayOfYear,
    Year2,
    Year4,
    Hour,
    Hour2,
    Second,
    Second2,
    Time,
    General,
    AmPmWritten, // the pattern's own text: the part before "/" or the part after it
    AmPmLocale,
    DateSeparator,
    TimeSeparator,
};

struct Token {
    Tok kind;
    int pos; // where the token's text starts in the pattern
    int len;
};

// Patterns are short; 64 tokens cover any pattern a person types without touching the heap.
using Tokens = QVarLengthArray<Token, 64>;

char16_t foldAscii(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= u'A' && u <= u'Z') ? char16_t(u + (u'a' - u'A')) : u;
}

// The number of `letter`s (either case) from `pos`, at most `max`.
int runOf(QStringView pattern, qsizetype pos, char16_t letter, int max)
{
    int n = 0;
    while (n < max && pos + n < pattern.size() && foldAscii(pattern[pos + n]) == letter)
        ++n;
    return n;
}

bool startsWithFolded(QStringView pattern, qsizetype pos, QLatin1StringView word)
{
    if (pattern.size() - pos < word.size())
        return false;
    for (qsizetype i = 0; i < word.size(); ++i) {
        if (foldAscii(pattern[pos + i]) != char16_t(word[i].unicode()))
            return false;
    }
    return true;
}

// Splits the pattern into tokens. Sets `twelveHour` when it holds an AM/PM token, which changes every
// hour token of the pattern, also those before it.
Tokens tokenize(QStringView p, bool& twelveHour)
{
    Tokens tokens;
    twelveHour = false;
    std::optional<Tok> lastField; // decides whether m and mm are the month or the minute
    qsizetype i = 0;
    const auto add = [&](Tok kind, qsizetype pos, qsizetype len) { tokens.append({ kind, int(pos), int(len) }); };
    const auto field = [&](Tok kind, int len) {
        add(kind, i, len);
        lastField = kind;
        i += len;
    };
    while (i < p.size()) {
        switch (foldAscii(p[i])) {
        case u'd': {
            static constexpr Tok kinds[]
                = { Tok::Day, Tok::Day2, Tok::WeekdayAbbr, Tok::WeekdayName, Tok::ShortDate, Tok::LongDate };
            const int n = runOf(p, i, u'd', 6);
            field(kinds[n - 1], n);
            break;
        }
        case u'w': {
            const int n = runOf(p, i, u'w', 2);
            field(n == 1 ? Tok::Weekday : Tok::Week, n);
            break;
        }
        case u'm': {
            const int n = runOf(p, i, u'm', 4);
            const bool afterHour = lastField == Tok::Hour || lastField == Tok::Hour2;
            static constexpr Tok months[] = { Tok::Month, Tok::Month2, Tok::MonthAbbr, Tok::MonthName };
            if (n <= 2 && afterHour)
                field(n == 1 ? Tok::Minute : Tok::Minute2, n);
            else
                field(months[n - 1], n);
            break;
        }
        case u'q':
            field(Tok::Quarter, 1);
            break;
        case u'y': {
            const int n = runOf(p, i, u'y', 4);
            if (n == 1)
                field(Tok::DayOfYear, 1);
            else if (n == 4)
                field(Tok::Year4, 4);
            else
                field(Tok::Year2, 2); // "yyy" is "yy" followed by "y"
            break;
        }
        case u'h': {
            const int n = runOf(p, i, u'h', 2);
            field(n == 1 ? Tok::Hour : Tok::Hour2, n);
            break;
        }
        case u'n': {
            const int n = runOf(p, i, u'n', 2);
            field(n == 1 ? Tok::Minute : Tok::Minute2, n);
            break;
        }
        case u's': {
            const int n = runOf(p, i, u's', 2);
            field(n == 1 ? Tok::Second : Tok::Second2, n);
            break;
        }
        case u't':
            if (runOf(p, i, u't', 5) == 5) {
                field(Tok::Time, 5);
            } else {
                add(Tok::Text, i, 1);
                ++i;
            }
            break;
        case u'c':
            field(Tok::General, 1);
            break;
        case u'a':
            if (startsWithFolded(p, i, QLatin1StringView("am/pm"))) {
                field(Tok::AmPmWritten, 5);
                twelveHour = true;
            } else if (startsWithFolded(p, i, QLatin1StringView("ampm"))) {
                field(Tok::AmPmLocale, 4);
                twelveHour = true;
            } else if (startsWithFolded(p, i, QLatin1StringView("a/p"))) {
                field(Tok::AmPmWritten, 3);
                twelveHour = true;
            } else {
                add(Tok::Text, i, 1);
                ++i;
            }
            break;
        case u'/':
            add(Tok::DateSeparator, i, 1);
            ++i;
            break;
        case u':':
            add(Tok::TimeSeparator, i, 1);
            ++i;
            break;
        case u'\\':
            // A backslash at the very end escapes nothing and is copied.
            add(Tok::Text, i + 1 < p.size() ? i + 1 : i, 1);
            i += 2;
            break;
        case u'"': {
            qsizetype close = p.indexOf(u'"', i + 1);
            if (close < 0)
                close = p.size();
            add(Tok::Text, i + 1, close - i - 1);
            i = close + 1;
            break;
        }
        default:
            add(Tok::Text, i, 1);
            ++i;
        }
    }
    return tokens;
}

// The search formats every date of a run with one pattern, so the tokens of the last pattern are kept
// per thread; comparing two short texts costs a fraction of splitting one.
struct CompiledPattern {
    QString pattern;
    Tokens tokens;
    bool twelveHour = false;
};

const CompiledPattern& compiled(const QString& pattern)
{
    thread_local CompiledPattern cached;
    if (cached.pattern != pattern) {
        cached.pattern = pattern;
        // Copied rather than move-assigned: Qt 6.4's QVarLengthArray move assignment loses the buffer of
        // an array that had outgrown its preallocated storage.
        const Tokens tokens = tokenize(pattern, cached.twelveHour);
        cached.tokens.clear();
        cached.tokens.append(tokens.constData(), tokens.size());
    }
    return cached;
}

// The text between the first two fields of a QLocale date or time format, with its quoting removed;
// `fallback` where there is none or it is only blank.
QString separatorOf(QStringView format, QLatin1StringView fieldLetters, QString fallback)
{
    enum { BeforeFields, InFirstField, AfterFirstField } state = BeforeFields;
    QString between;
    bool quoted = false;
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar c = format[i];
        bool literal = quoted;
        if (c == u'\'') {
            if (i + 1 < format.size() && format[i + 1] == u'\'') {
                ++i; // '' is one quote, inside quotes or outside
                literal = true;
            } else {
                quoted = !quoted;
                if (state == InFirstField)
                    state = AfterFirstField;
                continue;
            }
        }
        if (!literal && fieldLetters.contains(c)) {
            if (state == AfterFirstField)
                break;
            state = InFirstField;
        } else if (state != BeforeFields) {
            state = AfterFirstField;
            between += c;
        }
    }
    if (state != AfterFirstField || between.trimmed().isEmpty())
        return fallback;
    return between;
}

// The locale's long time format without its time-zone field ("t"): a mail's time needs no zone name.
QString timeFormatOf(const QLocale& locale)
{
    const QString format = locale.timeFormat(QLocale::LongFormat);
    QString result;
    bool quoted = false;
    for (const QChar c : format) {
        if (c == u'\'')
            quoted = !quoted;
        if (quoted || c != u't')
            result += c;
    }
    return result.trimmed();
}

// What patterns take from a locale. Reading a locale's formats and names costs more than formatting a
// whole date (the system locale asks the environment each time), and the search formats three dates
// per mail with one locale; so the parts of the last locale are kept per thread, each read on first use.
class Regional {
public:
    static Regional& of(const QLocale& locale)
    {
        thread_local std::optional<Regional> cached;
        if (!cached || !(cached->m_locale == locale))
            cached.emplace(locale);
        return *cached;
    }

    explicit Regional(const QLocale& locale)
        : m_locale(locale)
    {
    }

    const QString& dateSeparator()
    {
        if (m_dateSeparator.isNull()) {
            m_dateSeparator
                = separatorOf(m_locale.dateFormat(QLocale::ShortFormat), QLatin1StringView("dMy"), QStringLiteral("/"));
        }
        return m_dateSeparator;
    }
    const QString& timeSeparator()
    {
        if (m_timeSeparator.isNull()) {
            m_timeSeparator = separatorOf(
                m_locale.timeFormat(QLocale::ShortFormat), QLatin1StringView("hHms"), QStringLiteral(":"));
        }
        return m_timeSeparator;
    }
    QString date(QDate date, QLocale::FormatType type)
    {
        QString& format = m_dateFormats[type == QLocale::LongFormat];
        if (format.isNull())
            format = m_locale.dateFormat(type);
        return m_locale.toString(date, format);
    }
    QString time(QTime time)
    {
        if (m_timeFormat.isNull())
            m_timeFormat = timeFormatOf(m_locale);
        return m_locale.toString(time, m_timeFormat);
    }
    const QString& monthName(int month, QLocale::FormatType type)
    {
        QString& name = m_monthNames[type == QLocale::LongFormat][month - 1];
        if (name.isNull())
            name = m_locale.monthName(month, type);
        return name;
    }
    const QString& dayName(int weekday, QLocale::FormatType type)
    {
        QString& name = m_dayNames[type == QLocale::LongFormat][weekday - 1];
        if (name.isNull())
            name = m_locale.dayName(weekday, type);
        return name;
    }
    const QString& designator(bool morning)
    {
        QString& text = m_designators[morning];
        if (text.isNull())
            text = morning ? m_locale.amText() : m_locale.pmText();
        return text;
    }

private:
    QLocale m_locale;
    QString m_dateSeparator;
    QString m_timeSeparator;
    QString m_timeFormat;
    QString m_dateFormats[2]; // short, long
    QString m_monthNames[2][12]; // abbreviated, full
    QString m_dayNames[2][7]; // abbreviated, full; Monday first as QDate counts
    QString m_designators[2]; // afternoon, morning
};

struct CivilDate {
    int year;
    int month;
    int day;
};

// QDate::getDate() goes through the calendar system's general code; for the Gregorian calendar this
// is the same in a handful of integer operations (H. Hinnant's civil_from_days).
CivilDate civilDate(QDate date)
{
    constexpr qint64 kFirstOfYear1 = 1721426; // 1 January of year 1; QDate has no year 0 before it
    if (date.toJulianDay() < kFirstOfYear1) {
        CivilDate civil {};
        date.getDate(&civil.year, &civil.month, &civil.day);
        return civil;
    }
    const qint64 z = date.toJulianDay() - 1721120; // days since 1 March of year 0
    const qint64 era = z / 146097;
    const qint64 dayOfEra = z - era * 146097;
    const qint64 yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const qint64 dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const qint64 shiftedMonth = (5 * dayOfYear + 2) / 153; // 0 for March
    const int month = int(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
    return { int(yearOfEra + era * 400 + (month <= 2)), month, int(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1) };
}

// The text being formatted, on the stack: a date costs one allocation, for the result.
class Output {
public:
    void add(QStringView text) { m_text.append(text.utf16(), text.size()); }
    void addNumber(int value, int minDigits)
    {
        if (value >= 0 && value < 100 && minDigits <= 2) { // nearly every field
            if (value >= 10 || minDigits == 2)
                m_text.append(char16_t(u'0' + value / 10));
            m_text.append(char16_t(u'0' + value % 10));
            return;
        }
        char16_t digits[12];
        int n = 0;
        unsigned v = value < 0 ? 0u - unsigned(value) : unsigned(value);
        do {
            digits[n++] = char16_t(u'0' + v % 10);
            v /= 10;
        } while (v != 0);
        while (n < minDigits)
            digits[n++] = u'0';
        if (value < 0)
            m_text.append(u'-');
        while (n > 0)
            m_text.append(digits[--n]);
    }
    QString text() const { return QString(reinterpret_cast<const QChar*>(m_text.constData()), m_text.size()); }

private:
    QVarLengthArray<char16_t, 64> m_text;
};

} // namespace

QString formatMailDate(const QDateTime& t, const QString& pattern, const QLocale& locale)
{
    return formatMailDate(WallClock(t), pattern, locale);
}

QString formatMailDate(const WallClock& t, const QString& pattern, const QLocale& locale)
{
    if (!t.value.isValid())
        return {};
    const CompiledPattern& compiledPattern = compiled(pattern);
    const bool twelveHour = compiledPattern.twelveHour;

    const QDate date = t.date;
    const QTime time = t.time;
    const auto [year, month, day] = civilDate(date);
    const int secondOfDay = time.msecsSinceStartOfDay() / 1000;
    const int hour = secondOfDay / 3600;
    const int minute = secondOfDay / 60 % 60;
    const int second = secondOfDay % 60;
    const int clockHour = twelveHour ? (hour % 12 == 0 ? 12 : hour % 12) : hour;
    // The year is copied in: clang before 16 cannot capture a structured binding.
    const auto dayOfYear = [&, year = year] { return int(date.toJulianDay() - QDate(year, 1, 1).toJulianDay()) + 1; };
    const QStringView text(pattern);

    Regional* parts = nullptr;
    const auto regional = [&]() -> Regional& {
        if (!parts)
            parts = &Regional::of(locale);
        return *parts;
    };

    Output out;
    for (const Token& tok : compiledPattern.tokens) {
        switch (tok.kind) {
        case Tok::Text:
            out.add(text.mid(tok.pos, tok.len));
            break;
        case Tok::Day:
        case Tok::Day2:
            out.addNumber(day, tok.kind == Tok::Day2 ? 2 : 1);
            break;
        case Tok::WeekdayAbbr:
            out.add(regional().dayName(date.dayOfWeek(), QLocale::ShortFormat));
            break;
        case Tok::WeekdayName:
            out.add(regional().dayName(date.dayOfWeek(), QLocale::LongFormat));
            break;
        case Tok::ShortDate:
            out.add(regional().date(date, QLocale::ShortFormat));
            break;
        case Tok::LongDate:
            out.add(regional().date(date, QLocale::LongFormat));
            break;
        case Tok::Weekday:
            out.addNumber(date.dayOfWeek() % 7 + 1, 1); // QDate counts Monday as 1, Sunday as 7
            break;
        case Tok::Week: {
            const int firstWeekday = QDate(year, 1, 1).dayOfWeek() % 7; // 0 for Sunday
            out.addNumber((dayOfYear() - 1 + firstWeekday) / 7 + 1, 1);
            break;
        }
        case Tok::Month:
        case Tok::Month2:
            out.addNumber(month, tok.kind == Tok::Month2 ? 2 : 1);
            break;
        case Tok::MonthAbbr:
            out.add(regional().monthName(month, QLocale::ShortFormat));
            break;
        case Tok::MonthName:
            out.add(regional().monthName(month, QLocale::LongFormat));
            break;
        case Tok::Minute:
        case Tok::Minute2:
            out.addNumber(minute, tok.kind == Tok::Minute2 ? 2 : 1);
            break;
        case Tok::Quarter:
            out.addNumber((month + 2) / 3, 1);
            break;
        case Tok::DayOfYear:
            out.addNumber(dayOfYear(), 1);
            break;
        case Tok::Year2:
            out.addNumber(year % 100, 2);
            break;
        case Tok::Year4:
            out.addNumber(year, 4);
            break;
        case Tok::Hour:
        case Tok::Hour2:
            out.addNumber(clockHour, tok.kind == Tok::Hour2 ? 2 : 1);
            break;
        case Tok::Second:
        case Tok::Second2:
            out.addNumber(second, tok.kind == Tok::Second2 ? 2 : 1);
            break;
        case Tok::Time:
            out.add(regional().time(time));
            break;
        case Tok::General:
            out.add(regional().date(date, QLocale::ShortFormat));
            out.add(u" ");
            out.add(regional().time(time));
            break;
        case Tok::AmPmWritten: {
            const int half = (tok.len - 1) / 2; // "AM/PM" and "A/P": the halves around the slash
            out.add(text.mid(hour < 12 ? tok.pos : tok.pos + half + 1, half));
            break;
        }
        case Tok::AmPmLocale:
            out.add(regional().designator(hour < 12));
            break;
        case Tok::DateSeparator:
            out.add(regional().dateSeparator());
            break;
        case Tok::TimeSeparator:
            out.add(regional().timeSeparator());
            break;
        }
    }
    return out.text();
}

int compareTimes(const QDateTime& a, const QDateTime& b)
{
    if (a.isValid() && b.isValid() && a.timeSpec() == Qt::LocalTime && b.timeSpec() == Qt::LocalTime)
        return compareTimes(WallClock(a), WallClock(b));
    return a < b ? -1 : b < a ? 1 : 0;
}

int compareTimes(const WallClock& a, const WallClock& b)
{
    if (a.date.isValid() && b.date.isValid() && a.value.timeSpec() == Qt::LocalTime
        && b.value.timeSpec() == Qt::LocalTime) {
        // No zone's offset from UTC has ever changed by as much as a day at once.
        constexpr qint64 kApart = 2 * 86'400'000LL;
        const auto wallClock
            = [](const WallClock& t) { return t.date.toJulianDay() * 86'400'000LL + t.time.msecsSinceStartOfDay(); };
        const qint64 gap = wallClock(a) - wallClock(b);
        if (gap > kApart || gap < -kApart)
            return gap > 0 ? 1 : -1;
    }
    return a.value < b.value ? -1 : b.value < a.value ? 1 : 0;
}

void readLocalTimeZoneOnce()
{
    if (qEnvironmentVariableIsEmpty("TZ"))
        qputenv("TZ", ":/etc/localtime");
}

} // namespace quillbox

// SPDX-License-Identifier: MIT
// Feeds arbitrary templates, cells, clip settings and date patterns to the names of saved mail and checks
// what must hold for every input:
// - makeSafeFileName keeps the text but for the nine characters a file name cannot hold (each a space)
//   and the control characters (removed), cut to 256 UTF-16 units, 255 where the cut would split a
//   surrogate pair; so it holds none of those characters, and applying it again changes nothing;
// - expandPlaceholders gives what QString::replace gives for "%1", "%2", ... and then "%%";
// - expandFileName, on the row of the first eight cells, fails exactly on a clip text that is no number,
//   and otherwise expands the row's texts with From and To clipped to ClipAddress and Subject to
//   ClipSubject;
// - formatMailDate gives an empty text for an invalid time, copies a pattern without token characters
//   unchanged, and writes no digit but ASCII ones where the pattern has none and asks for none of the
//   locale's own date and time forms.
//
// Input: one byte of choices, then text, UTF-8 or, when the first choice bit is set, UTF-16 (so that lone
// surrogates come through), split at U+0000 into the pattern, the date pattern, the two clip texts and
// the cells.
#include "core/maildate.h"
#include "fuzzcheck.h"
#include "output/filename.h"
#include "support/resultrows.h"

#include <QList>
#include <QLocale>
#include <QTimeZone>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

using namespace quillbox;
using quillbox::fuzz::check;

namespace {

constexpr qsizetype kMaxSafe = 256;

bool forbiddenInName(QChar c)
{
    return c.unicode() < 0x20 || QStringView(u"\\/:*?\"<>|").contains(c);
}

// makeSafeFileName as its contract states it, written the plain way.
QString safeReference(const QString& text)
{
    QString kept;
    for (const QChar c : text) {
        if (c.unicode() >= 0x20)
            kept += forbiddenInName(c) ? QChar(u' ') : c;
    }
    if (kept.size() <= kMaxSafe)
        return kept;
    const bool splitsPair = kept[kMaxSafe - 1].isHighSurrogate() && kept[kMaxSafe].isLowSurrogate();
    return kept.left(splitsPair ? kMaxSafe - 1 : kMaxSafe);
}

void checkSafeName(const QString& text)
{
    const QString safe = makeSafeFileName(text);
    check(safe.size() <= kMaxSafe);
    for (const QChar c : safe)
        check(!forbiddenInName(c));
    check(safe == safeReference(text));
    check(makeSafeFileName(safe) == safe);
}

QString expandReference(QString text, const QStringList& values)
{
    for (qsizetype n = 1; n <= values.size(); ++n)
        text.replace(QLatin1Char('%') + QString::number(n), values[n - 1]);
    return text.replace(QLatin1String("%%"), QLatin1String("%"));
}

// The first `n` units of `text`, one less where that would split a surrogate pair.
QString leftWhole(const QString& text, qsizetype n)
{
    if (n >= text.size())
        return text;
    if (n > 0 && text[n - 1].isHighSurrogate() && text[n].isLowSurrogate())
        --n;
    return text.left(n);
}

// The clip length of a text of one to four ASCII digits, else -1: other clip texts are only checked
// for failing or not.
qsizetype plainNumber(const QString& text)
{
    if (text.isEmpty() || text.size() > 4)
        return -1;
    for (const QChar c : text)
        if (c < u'0' || c > u'9')
            return -1;
    return text.toLongLong();
}

void checkExpansion(
    const QString& pattern, const QStringList& cells, const QString& clipAddress, const QString& clipSubject)
{
    std::vector<QStringView> views(cells.begin(), cells.end());
    check(expandPlaceholders(pattern, views) == expandReference(pattern, cells));

    Settings settings;
    settings.clipAddress = clipAddress;
    settings.clipSubject = clipSubject;
    const ResultRow row = test::rowOfTexts(cells);
    const Result<QString> name = expandFileName(pattern, row, settings);
    const qsizetype address = plainNumber(clipAddress);
    const qsizetype subject = plainNumber(clipSubject);
    if (address < 0 || subject < 0) {
        if (!name.ok())
            check(name.error().code == Error::Code::Invalid);
        return;
    }
    check(name.ok());
    QStringList clipped = row.texts();
    clipped[ColFrom] = leftWhole(clipped[ColFrom], address);
    clipped[ColTo] = leftWhole(clipped[ColTo], address);
    clipped[ColSubject] = leftWhole(clipped[ColSubject], subject);
    check(*name == expandReference(pattern, clipped));
    checkSafeName(*name);
}

bool hasOtherDigits(const QString& text)
{
    for (const QChar c : text)
        if (c.isDigit() && (c < u'0' || c > u'9'))
            return true;
    return false;
}

// Whether the pattern may hold a token that writes one of the locale's own forms (ddddd, dddddd, ttttt, c):
// those write the locale's digits, "٢٣‏/٦‏/١٣٣٧" in Arabic. Errs towards yes.
bool usesLocaleForms(const QString& pattern)
{
    int ds = 0;
    for (const QChar c : pattern) {
        const QChar lower = c.toLower();
        if (lower == u'c' || lower == u't')
            return true;
        ds = lower == u'd' ? ds + 1 : 0;
        if (ds >= 5)
            return true;
    }
    return false;
}

// Characters that start no token of a date pattern.
bool plainText(const QString& pattern)
{
    for (const QChar c : pattern)
        if (!QStringView(u"0123456789 -_.,;()[]#+=~!").contains(c))
            return false;
    return true;
}

void checkDate(const QString& pattern, const uint8_t* bytes, size_t size)
{
    // The time from up to eight bytes: any date from year 1 to 9999, any time of day.
    quint64 seed = 0;
    for (size_t i = 0; i < size && i < 8; ++i)
        seed = (seed << 8) | bytes[i];
    const QDate date = QDate(1, 1, 1).addDays(qint64(seed % 3652059));
    const QTime time = QTime(0, 0).addSecs(int((seed >> 32) % 86400));
    static const QList<QLocale> locales { QLocale::c(), QLocale(QLocale::English, QLocale::UnitedStates),
        QLocale(QLocale::German, QLocale::Germany), QLocale(QLocale::Arabic, QLocale::Egypt),
        QLocale(QLocale::Persian, QLocale::Iran), QLocale(QLocale::Bengali, QLocale::Bangladesh),
        QLocale(QLocale::Japanese, QLocale::Japan) };
    const QLocale& locale = locales[qsizetype(seed % quint64(locales.size()))];

    const QDateTime when((seed & 1) ? QDateTime(date, time, QTimeZone::utc()) : QDateTime(date, time));
    const QString text = formatMailDate(when, pattern, locale);
    check(text == formatMailDate(when, pattern, locale));
    check(formatMailDate(QDateTime(), pattern, locale).isEmpty());
    if (when.isValid() && plainText(pattern))
        check(text == pattern);
    if (when.isValid() && !hasOtherDigits(pattern) && !usesLocaleForms(pattern))
        check(!hasOtherDigits(text));
    checkSafeName(text);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const uint8_t choices = data[0];
    const char* rest = reinterpret_cast<const char*>(data + 1);
    QString text;
    if (choices & 1) {
        text.resize(qsizetype(size - 1) / 2);
        std::memcpy(text.data(), rest, size_t(text.size()) * 2); // the bytes need not be aligned
    } else {
        text = QString::fromUtf8(rest, qsizetype(size - 1));
    }
    const QStringList fields = text.split(QChar(u'\0'));
    auto field = [&](qsizetype i) { return i < fields.size() ? fields[i] : QString(); };

    const QString pattern = field(0);
    const QString datePattern = field(1);
    const QString clipAddress = (choices & 2) ? field(2) : QStringLiteral("50");
    const QString clipSubject = (choices & 4) ? field(3) : QStringLiteral("50");
    QStringList cells;
    for (qsizetype i = 4; i < fields.size(); ++i)
        cells << field(i);

    checkSafeName(pattern);
    checkExpansion(pattern, cells, clipAddress, clipSubject);
    checkDate(datePattern, data, size);
    return 0;
}

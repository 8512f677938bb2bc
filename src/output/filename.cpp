// SPDX-License-Identifier: MIT
#include "output/filename.h"

#include "core/placeholders.h"

#include <QVarLengthArray>
#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <optional>
#include <string_view>

namespace quillbox {

namespace {

constexpr qsizetype kMaxSafeLength = 256;

// The first `n` code units of `text`, one less where the cut would split a surrogate pair.
QStringView leftWhole(QStringView text, qsizetype n)
{
    if (n >= text.size())
        return text;
    if (n > 0 && text[n - 1].isHighSurrogate() && text[n].isLowSurrogate())
        --n;
    return text.left(n);
}

// A clip setting as a number of characters: a number, rounded, not below zero.
std::optional<qsizetype> clipLength(QStringView text)
{
    // The usual case, a plain whole number such as "50", without floating point.
    if (!text.isEmpty() && text.size() <= 9) {
        qsizetype n = 0;
        bool digits = true;
        for (const QChar c : text) {
            if (c < u'0' || c > u'9') {
                digits = false;
                break;
            }
            n = n * 10 + (c.unicode() - u'0');
        }
        if (digits)
            return n;
    }
    bool ok = false;
    const double number = text.toDouble(&ok);
    if (!ok || !std::isfinite(number))
        return std::nullopt;
    const double rounded = std::round(number);
    if (rounded < 0)
        return std::nullopt;
    constexpr auto most = std::numeric_limits<qsizetype>::max();
    return rounded >= double(most) ? most : qsizetype(rounded);
}

Error clipError(const char* setting, const QString& text)
{
    return Error { Error::Code::Invalid, QLatin1StringView(setting),
        QStringLiteral("not a number of characters: \"%1\"").arg(text) };
}

// What a file name holds in place of each ASCII character: the nine characters that a Windows file name
// cannot hold become a space, control characters are removed (0), the rest stay.
constexpr std::array<char16_t, 128> kSafeAscii = [] {
    std::array<char16_t, 128> map {};
    for (char16_t u = u' '; u < 128; ++u)
        map[u] = u;
    for (const char c : std::string_view("\\/:*?\"<>|"))
        map[static_cast<unsigned char>(c)] = u' ';
    return map;
}();

char16_t safeInName(char16_t u)
{
    return u < kSafeAscii.size() ? kSafeAscii[u] : u;
}

struct ClipLengths {
    qsizetype address = 0;
    qsizetype subject = 0;
};

Result<ClipLengths> clipLengths(const Settings& settings)
{
    const std::optional<qsizetype> address = clipLength(settings.clipAddress);
    if (!address)
        return clipError("ClipAddress", settings.clipAddress);
    const std::optional<qsizetype> subject = clipLength(settings.clipSubject);
    if (!subject)
        return clipError("ClipSubject", settings.clipSubject);
    return ClipLengths { *address, *subject };
}

} // namespace

Status checkClips(const Settings& settings)
{
    const Result<ClipLengths> clips = clipLengths(settings);
    return clips ? success() : Status(clips.error());
}

Result<QString> expandFileName(const QString& pattern, const ResultRow& row, const Settings& settings)
{
    const Result<ClipLengths> clips = clipLengths(settings);
    if (!clips)
        return clips.error();

    // Views, so that clipping copies nothing and leaves the row as it is.
    QVarLengthArray<QStringView, ColumnCount> values;
    for (int column = 0; column < ColumnCount; ++column)
        values.append(row.text(Column(column)));
    values[ColFrom] = leftWhole(values[ColFrom], clips->address);
    values[ColSubject] = leftWhole(values[ColSubject], clips->subject);
    values[ColTo] = leftWhole(values[ColTo], clips->address);
    return expandPlaceholders(pattern, values);
}

QString makeSafeFileName(const QString& text)
{
    const char16_t* src = QStringView(text).utf16();
    const qsizetype size = text.size();
    qsizetype first = 0;
    while (first < size && src[first] >= u' ' && safeInName(src[first]) == src[first])
        ++first;
    if (first == size && size <= kMaxSafeLength)
        return text;

    // One unit beyond the limit is kept for the moment, to see whether the limit splits a surrogate pair.
    QString out(qMin(size, kMaxSafeLength + 1), Qt::Uninitialized);
    char16_t* dst = reinterpret_cast<char16_t*>(out.data());
    qsizetype n = qMin(first, kMaxSafeLength + 1);
    std::copy_n(src, n, dst);
    for (qsizetype i = n; i < size && n <= kMaxSafeLength; ++i) {
        const char16_t u = safeInName(src[i]);
        dst[n] = u;
        n += u != 0;
    }
    out.truncate(leftWhole(QStringView(out).left(n), kMaxSafeLength).size());
    return out;
}

} // namespace quillbox

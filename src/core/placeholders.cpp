// SPDX-License-Identifier: MIT
#include "core/placeholders.h"

#include <QVarLengthArray>
#include <algorithm>

namespace quillbox {

namespace {

// Expansion works on stack buffers that hold the usual name whole, so that a template costs one
// allocation, for the result, however many placeholders it has.
using Buffer = QVarLengthArray<char16_t, 256>;

// The first `needle` ("%" and what follows it) in `text` at or after `from`, or -1.
qsizetype indexOfPercent(QStringView text, QStringView needle, qsizetype from)
{
    // Templates and names are short: a plain loop beats the library's vectorised search and its setup.
    const char16_t* begin = text.utf16();
    const char16_t* end = begin + text.size();
    for (const char16_t* p = begin + from; (p = std::find(p, end, u'%')) != end; ++p) {
        if (end - p >= needle.size() && std::equal(needle.begin() + 1, needle.end(), p + 1))
            return p - begin;
    }
    return -1;
}

// Writes `text` with every `needle` replaced by `value` to `out`, left to right, without rescanning what
// it inserted. Returns false, and leaves `out` alone, when `text` holds no `needle`.
bool replaceAll(const Buffer& text, QStringView needle, QStringView value, Buffer& out)
{
    const QStringView view(text.constData(), text.size());
    qsizetype pos = indexOfPercent(view, needle, 0);
    if (pos < 0)
        return false;
    out.clear();
    qsizetype from = 0;
    do {
        out.append(text.constData() + from, pos - from);
        out.append(value.utf16(), value.size());
        from = pos + needle.size();
        pos = indexOfPercent(view, needle, from);
    } while (pos >= 0);
    out.append(text.constData() + from, text.size() - from);
    return true;
}

} // namespace

QString expandPlaceholders(const QString& pattern, std::span<const QStringView> values)
{
    // Only a "%" can start a placeholder or "%%", and only a replacement can bring a new one.
    if (!pattern.contains(u'%'))
        return pattern;
    Buffer buffers[2];
    int current = 0;
    buffers[current].append(QStringView(pattern).utf16(), pattern.size());
    const auto step = [&](QStringView needle, QStringView value) {
        if (replaceAll(buffers[current], needle, value, buffers[1 - current]))
            current = 1 - current;
    };
    char16_t needle[24] = { u'%' };
    for (size_t n = 1; n <= values.size(); ++n) {
        const Buffer& text = buffers[current];
        if (std::find(text.begin(), text.end(), u'%') == text.end())
            break;
        char16_t digits[20];
        qsizetype count = 0;
        for (size_t rest = n; rest != 0; rest /= 10)
            digits[count++] = char16_t(u'0' + rest % 10);
        std::reverse_copy(digits, digits + count, needle + 1);
        step(QStringView(needle, 1 + count), values[n - 1]);
    }
    step(QStringView(u"%%"), QStringView(u"%"));
    return QString(reinterpret_cast<const QChar*>(buffers[current].constData()), buffers[current].size());
}

} // namespace quillbox

// SPDX-License-Identifier: MIT
// Feeds arbitrary bytes to the reader of stored RTF bodies and checks what must hold for every input:
// - rtfBody reads any bytes, in time and memory linear in their size;
// - withLeadingText gives nothing for bytes that are no RTF document, and otherwise the document with one
//   stretch of bytes put in, the rest unchanged;
// - text written by rtfParagraphs reads back as that text, with its control characters left out and each
//   line ended by LF.
#include "fuzzcheck.h"
#include "output/rtftext.h"

#include <QStringList>

#include <cstdint>
#include <cstdlib>
#include <cstring>

using namespace quillbox;
using quillbox::fuzz::check;

namespace {

void checkInsertion(const QByteArray& rtf)
{
    const QByteArray with = formats::withLeadingText(rtf, QStringLiteral("From:\tme\n"));
    if (with.isEmpty())
        return;
    qsizetype start = 0;
    while (start < rtf.size() && (rtf[start] == ' ' || rtf[start] == '\r' || rtf[start] == '\n'))
        ++start;
    check(rtf.sliced(start).startsWith("{\\rtf"));
    qsizetype same = 0;
    while (same < rtf.size() && rtf[same] == with[same])
        ++same;
    check(with.sliced(same + with.size() - rtf.size()) == rtf.sliced(same));
}

// What rtfParagraphs promises to keep of `text`.
QString keptText(const QString& text)
{
    QStringList lines = text.split(u'\n');
    if (lines.last().isEmpty())
        lines.removeLast();
    QString kept;
    for (const QString& line : lines) {
        for (qsizetype i = 0; i < line.size(); ++i) {
            const QChar c = line[i];
            if (c.isHighSurrogate() && i + 1 < line.size() && line[i + 1].isLowSurrogate()) {
                kept += c;
                kept += line[++i];
            } else if (c == u'\t' || (c.unicode() >= 0x20 && c.unicode() != 0x7F)) {
                kept += c.isSurrogate() ? QChar(QChar::ReplacementCharacter) : c;
            }
        }
        kept += u'\n';
    }
    return kept;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    static_cast<void>(formats::rtfBody(bytes));
    checkInsertion(bytes);
    QString text(bytes.size() / 2, Qt::Uninitialized);
    std::memcpy(text.data(), bytes.constData(), size_t(text.size()) * 2); // any UTF-16, lone surrogates too
    const QByteArray written = "{\\rtf1\\uc1 " + formats::rtfParagraphs(text) + "}";
    check(formats::rtfBody(written).text == keptText(text));
    return 0;
}

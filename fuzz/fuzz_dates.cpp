// SPDX-License-Identifier: MIT
// Feeds arbitrary text to the readers of dates and of header blocks and checks what must hold for every
// input:
// - parseRfc5322Date gives a time that, written back as an RFC 5322 date in UTC, reads as the same time;
// - readDateSetting gives either the default or a valid time at 00:00:00;
// - HeaderScan's block lies inside the data, and a field's unfolded value has no NUL byte nor white space
//   at either end; fed in two pieces, the scan ends where it ends when fed the whole at once.
#include "fuzzcheck.h"
#include "mail/maildir/headerscan.h"
#include "mail/search.h"

#include <QTimeZone>

#include <cstdint>
#include <cstdlib>
#include <string>

using namespace quillbox;
using quillbox::fuzz::check;
using namespace quillbox::mail::maildir;

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

void checkDate(std::string_view text)
{
    const auto seconds = parseRfc5322Date(text);
    if (!seconds)
        return;
    const QDateTime t = QDateTime::fromSecsSinceEpoch(*seconds, Qt::UTC);
    if (t.date().year() < 1900 || t.date().year() > 9999)
        return;
    const QByteArray written = QLocale::c().toString(t, QStringLiteral("ddd, d MMM yyyy HH:mm:ss +0000")).toLatin1();
    check(parseRfc5322Date(written.toStdString()) == seconds);
}

void checkSetting(const QString& text)
{
    const QDateTime fallback(QDate(1999, 1, 2), QTime(3, 4, 5));
    const QDateTime t = readDateSetting(text, fallback);
    check(t == fallback || (t.isValid() && t.time() == QTime(0, 0)));
}

void checkScan(const char* data, std::size_t size)
{
    HeaderScan whole;
    whole.scan(data, size, true);
    check(!whole.needMore() && whole.blockLength() <= size);
    for (int f = 0; f < int(HeaderField::Count); ++f) {
        const auto value = whole.value(data, HeaderField(f));
        if (!value || value->empty())
            continue;
        check(value->find('\0') == std::string::npos && !isBlank(value->front()) && !isBlank(value->back()));
    }
    HeaderScan pieces;
    pieces.scan(data, size / 2, false);
    if (pieces.needMore())
        pieces.scan(data, size, true);
    check(pieces.blockLength() == whole.blockLength());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    checkDate(text);
    checkSetting(QString::fromUtf8(text.data(), qsizetype(size)));
    checkScan(text.data(), size);
    return 0;
}

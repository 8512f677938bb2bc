// SPDX-License-Identifier: MIT
#include "output/textline.h"

#include "support/qtprinters.h"
#include "support/resultrows.h"

#include <gtest/gtest.h>

using namespace quillbox;
using test::sampleRow;

TEST(buildTextLine, Templates)
{
    struct Case {
        const char* why;
        const char* pattern;
        ResultRow row;
        QString expected;
    };
    const QString longSubject(300, u's');
    const Case cases[] = {
        { "default template", "%1 %2 %3", sampleRow(),
            QStringLiteral("090812 143005 alice@example.org Quarterly report") },
        { "one entry identifier per line", "%6", sampleRow(), QStringLiteral("00000000ABCDEF") },
        { "folder path and latest time", "%7 %8", sampleRow(), QStringLiteral("\\\\Store\\Inbox\\Sub 090812 143107") },
        { "no placeholders", "mail", sampleRow(), QStringLiteral("mail") },
        { "empty template", "", sampleRow(), QString() },
        { "a line break in a cell stays", "%3", sampleRow(ColSubject, QStringLiteral("a\r\nb")),
            QStringLiteral("a\r\nb") },
        { "characters unsafe in file names stay", "%3", sampleRow(ColSubject, QStringLiteral("a/b: c?")),
            QStringLiteral("a/b: c?") },
        { "no clipping", "%3", sampleRow(ColSubject, longSubject), longSubject },
        { "%10 is %1 and the digit 0", "%10", sampleRow(), QStringLiteral("090812 1430050") },
        { "%%1 is % and %1", "%%1", sampleRow(), QStringLiteral("%090812 143005") },
        { "a lone %% is one %", "50%% of %3", sampleRow(), QStringLiteral("50% of Quarterly report") },
        { "a value's %5 is replaced by the later step", "%3", sampleRow(ColSubject, QStringLiteral("see %5")),
            QStringLiteral("see 090812 143107") },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ(buildTextLine(QString::fromUtf8(c.pattern), c.row), c.expected);
    }
}

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
        const char* pattern;
        QString expected;
        ResultRow row = sampleRow();
    };
    const QString longSubject(300, u's'); // no clipping
    const Case cases[] = { { "%1 %2 %3", QStringLiteral("090812 143005 alice@example.org Quarterly report") },
        { "%6", QStringLiteral("00000000ABCDEF") }, { "%7 %8", QStringLiteral("\\\\Store\\Inbox\\Sub 090812 143107") },
        { "mail", QStringLiteral("mail") }, { "", QString() },
        // line breaks and characters unsafe in file names stay
        { "%3", QStringLiteral("a\r\nb"), sampleRow(ColSubject, QStringLiteral("a\r\nb")) },
        { "%3", QStringLiteral("a/b: c?"), sampleRow(ColSubject, QStringLiteral("a/b: c?")) },
        { "%3", longSubject, sampleRow(ColSubject, longSubject) }, { "%10", QStringLiteral("090812 1430050") },
        { "%%1", QStringLiteral("%090812 143005") }, { "50%% of %3", QStringLiteral("50% of Quarterly report") },
        { "%3", QStringLiteral("see 090812 143107"), sampleRow(ColSubject, QStringLiteral("see %5")) } };
    for (const Case& c : cases)
        EXPECT_EQ(buildTextLine(QString::fromUtf8(c.pattern), c.row), c.expected) << c.pattern;
}

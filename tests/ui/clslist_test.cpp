// SPDX-License-Identifier: MIT
#include "ui/clslist.h"

#include <gtest/gtest.h>

using namespace quillbox;

namespace {

QString entry(int i)
{
    return QStringLiteral("entry %1").arg(i);
}

} // namespace

TEST(clsList, RefillAfterClearPastOneGrowthStep)
{
    clsList list;
    for (int i = 0; i < 250; ++i)
        list.Add(QStringLiteral("old %1").arg(i));
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.item(0), QString()) << "cleared entries are gone";
    for (int i = 0; i < 250; ++i)
        list.Add(entry(i));
    ASSERT_EQ(list.Count(), 250);
    for (int i = 0; i < 250; ++i)
        EXPECT_EQ(list.item(i), entry(i));
}

TEST(clsList, OutOfRangeIndexGivesEmptyText)
{
    clsList list;
    EXPECT_EQ(list.item(0), QString());
    list.Add(QStringLiteral("a"));
    list.Add(QString());
    struct Case {
        const char* why;
        qsizetype index;
        QString expected;
    };
    const Case cases[] = {
        { "first", 0, QStringLiteral("a") },
        { "an empty entry", 1, QString() },
        { "index equal to Count", 2, QString() },
        { "far beyond", 1000000, QString() },
        { "negative", -1, QString() },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ(list.item(c.index), c.expected);
    }
}

TEST(clsList, HoldsMoreThanA16BitCount)
{
    clsList list;
    for (int i = 0; i < 100000; ++i)
        list.Add(entry(i));
    ASSERT_EQ(list.Count(), 100000);
    for (const int i : { 0, 32599, 32600, 32767, 32768, 65536, 99999 })
        EXPECT_EQ(list.item(i), entry(i));
    EXPECT_EQ(list.item(100000), QString());
}

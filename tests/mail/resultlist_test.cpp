// SPDX-License-Identifier: MIT
#include "mail/resultlist.h"

#include <QAbstractItemModelTester>
#include <gtest/gtest.h>

using namespace quillbox;

namespace {

ResultRow makeRow(int n)
{
    ResultRow row;
    for (int column = 0; column < ColumnCount; ++column)
        row.cells << QStringLiteral("r%1c%2").arg(n).arg(column);
    return row;
}

} // namespace

TEST(ResultList, HeadersAreTheEightColumnsInOrder)
{
    ResultList list;
    const QStringList expected { "Sent", "From", "Subject", "To", "Received", "EntryID", "Folder", "LatestTime" };
    ASSERT_EQ(list.columnCount(), expected.size());
    for (int column = 0; column < expected.size(); ++column) {
        SCOPED_TRACE(column);
        EXPECT_EQ(list.headerData(column, Qt::Horizontal).toString(), expected[column]);
    }
    EXPECT_EQ(ResultList::headers(), expected);
}

// The tester checks every signal and index the model gives out while it changes.
TEST(ResultList, BehavesAsAModelWhileRowsComeAndGo)
{
    ResultList list;
    QAbstractItemModelTester tester(&list, QAbstractItemModelTester::FailureReportingMode::Fatal);
    list.appendRow(makeRow(0));
    list.appendRows({ makeRow(1), makeRow(2), makeRow(3) });
    list.appendRows({});
    list.appendRow(makeRow(4));
    ASSERT_EQ(list.rowCount(), 5);
    for (int r = 0; r < 5; ++r) {
        SCOPED_TRACE(r);
        EXPECT_EQ(list.row(r).cells, makeRow(r).cells) << "rows keep the order they were appended in";
        EXPECT_EQ(list.data(list.index(r, ColSubject)).toString(), makeRow(r).cells[ColSubject]);
    }
    list.clear();
    EXPECT_EQ(list.rowCount(), 0);
    list.clear();
    list.appendRow(makeRow(7));
    EXPECT_EQ(list.row(0).cells, makeRow(7).cells);
}

TEST(ResultList, RowWithFewerCellsShowsEmptyCells)
{
    ResultList list;
    list.appendRow(ResultRow { { QStringLiteral("sent"), QStringLiteral("from") } });
    EXPECT_EQ(list.data(list.index(0, ColFrom)).toString(), QStringLiteral("from"));
    EXPECT_EQ(list.data(list.index(0, ColLatestTime)).toString(), QString());
    EXPECT_FALSE(list.data(list.index(0, ColFrom), Qt::DecorationRole).isValid());
}

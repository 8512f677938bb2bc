// SPDX-License-Identifier: MIT
#include "mail/resultlist.h"

#include "support/qtprinters.h"
#include "support/resultrows.h"

#include <QAbstractItemModelTester>
#include <gtest/gtest.h>

using namespace quillbox;

namespace {

ResultRow makeRow(int n)
{
    QStringList texts;
    for (int column = 0; column < ColumnCount; ++column)
        texts << QStringLiteral("r%1c%2").arg(n).arg(column);
    return test::rowOfTexts(texts);
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
        EXPECT_EQ(list.row(r).texts(), makeRow(r).texts()) << "rows keep the order they were appended in";
        EXPECT_EQ(list.data(list.index(r, ColSubject)).toString(), makeRow(r).subject);
    }
    list.clear();
    EXPECT_EQ(list.rowCount(), 0);
    list.clear();
    list.appendRow(makeRow(7));
    EXPECT_EQ(list.row(0).texts(), makeRow(7).texts());
}

// A cell shows the text the search wrote, whatever DateFormat says now, and gives its value for sorting: a
// time column's QDateTime, an invalid one where the store has no time (whose text is empty).
TEST(ResultList, CellsShowTheirTextAndGiveTheirValue)
{
    ResultRow row = makeRow(0);
    row.sent = QDateTime(QDate(2009, 8, 12), QTime(14, 30, 5));
    row.latestTime = row.sent.addDays(1);
    row.receivedText.clear();
    ResultList list;
    list.appendRow(row);
    const auto text = [](int column) { return QStringLiteral("r0c%1").arg(column); };
    const QVariant values[] = { row.sent, text(1), text(2), text(3), QDateTime(), text(5), text(6), row.latestTime };
    for (int column = 0; column < ColumnCount; ++column) {
        SCOPED_TRACE(column);
        const QModelIndex index = list.index(0, column);
        EXPECT_EQ(list.data(index).toString(), column == ColReceived ? QString() : text(column));
        const QVariant value = list.data(index, ResultList::ValueRole);
        EXPECT_EQ(value.metaType(), values[column].metaType());
        EXPECT_EQ(value, values[column]);
    }
    EXPECT_FALSE(list.data(list.index(0, ColFrom), Qt::DecorationRole).isValid());
}

// SPDX-License-Identifier: MIT
#include "mail/resultrow.h"

namespace quillbox {

namespace {
// The member each column shows, in the order of Column.
constexpr QString ResultRow::*kShown[ColumnCount] = { &ResultRow::sentText, &ResultRow::from, &ResultRow::subject,
    &ResultRow::to, &ResultRow::receivedText, &ResultRow::entryId, &ResultRow::folder, &ResultRow::latestTimeText };
} // namespace

const QString& ResultRow::text(Column column) const
{
    return this->*kShown[column];
}

QStringList ResultRow::texts() const
{
    QStringList all;
    all.reserve(ColumnCount);
    for (int column = 0; column < ColumnCount; ++column)
        all << text(Column(column));
    return all;
}

QVariant ResultRow::value(Column column) const
{
    if (column == ColSent)
        return sent;
    if (column == ColReceived)
        return received;
    if (column == ColLatestTime)
        return latestTime;
    return text(column);
}

QString oneLine(QString text)
{
    text.replace(QLatin1String("\r\n"), QLatin1String(" "));
    text.replace(u'\n', u' ');
    text.replace(u'\r', u' ');
    return text;
}

} // namespace quillbox

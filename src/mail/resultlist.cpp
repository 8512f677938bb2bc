// SPDX-License-Identifier: MIT
#include "mail/resultlist.h"

namespace quillbox {

ResultList::ResultList(QObject* parent)
    : QAbstractTableModel(parent)
{
}

namespace {
constexpr const char16_t* kHeaders[ColumnCount]
    = { u"Sent", u"From", u"Subject", u"To", u"Received", u"EntryID", u"Folder", u"LatestTime" };
}

QStringList ResultList::headers()
{
    QStringList all;
    for (const char16_t* header : kHeaders)
        all << QString::fromUtf16(header);
    return all;
}

void ResultList::clear()
{
    if (m_rows.empty())
        return;
    beginResetModel();
    // Let go of the memory too: the last search may have listed a very large folder.
    std::vector<ResultRow>().swap(m_rows);
    endResetModel();
}

std::vector<ResultRow> ResultList::takeRows()
{
    beginResetModel();
    std::vector<ResultRow> rows = std::move(m_rows);
    m_rows.clear();
    endResetModel();
    return rows;
}

void ResultList::appendRow(ResultRow row)
{
    const int at = count();
    beginInsertRows({}, at, at);
    m_rows.push_back(std::move(row));
    endInsertRows();
}

void ResultList::appendRows(std::vector<ResultRow> rows)
{
    if (rows.empty())
        return;
    const int first = count();
    beginInsertRows({}, first, first + int(rows.size()) - 1);
    if (m_rows.empty())
        m_rows = std::move(rows);
    else
        m_rows.insert(m_rows.end(), std::make_move_iterator(rows.begin()), std::make_move_iterator(rows.end()));
    endInsertRows();
}

int ResultList::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : count();
}

int ResultList::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(ColumnCount);
}

QVariant ResultList::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const ResultRow& row = m_rows[size_t(index.row())];
    const auto column = Column(index.column());
    if (role == Qt::DisplayRole)
        return row.text(column);
    if (role == ValueRole)
        return row.value(column);
    return {};
}

QVariant ResultList::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= ColumnCount)
        return QAbstractTableModel::headerData(section, orientation, role);
    return QString::fromUtf16(kHeaders[section]);
}

} // namespace quillbox

// SPDX-License-Identifier: MIT
#pragma once

#include "mail/resultrow.h"

#include <QAbstractTableModel>
#include <vector>

namespace quillbox {

/// The result list: one row per found mail, the eight columns of Column in their order. Qt::DisplayRole
/// gives a cell's text (ResultRow::text()), ValueRole its value (ResultRow::value(): the QDateTime of a
/// time, invalid where the store has none). Rows are only ever appended, in the order they were found,
/// and the list is never sorted; the search empties and fills it, the save run and the export read it.
/// There is no limit on the number of rows.
class ResultList : public QAbstractTableModel {
    Q_OBJECT
public:
    /// The role of a cell's value: what sorting and any reader other than the eye should use.
    static constexpr int ValueRole = Qt::UserRole;

    explicit ResultList(QObject* parent = nullptr);

    /// The column headers "Sent", "From", "Subject", "To", "Received", "EntryID", "Folder", "LatestTime".
    static QStringList headers();

    /// Removes every row.
    void clear();
    /// Appends one row at the end.
    void appendRow(ResultRow row);
    /// Removes every row and hands them over, in their order.
    [[nodiscard]] std::vector<ResultRow> takeRows();
    /// Appends the rows at the end, in their order, as one insertion (views update once).
    void appendRows(std::vector<ResultRow> rows);
    /// Row `index`, counted from 0 in the order the rows were appended. `index` must be below count().
    const ResultRow& row(int index) const { return m_rows[size_t(index)]; }
    int count() const { return int(m_rows.size()); }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    std::vector<ResultRow> m_rows;
};

} // namespace quillbox

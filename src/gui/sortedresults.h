// SPDX-License-Identifier: MIT
#pragma once
// What the main window's list shows of the result list: sorted by a column's value when the person clicks
// its header (times by their time, the others by their text), each cell on one line. The result list
// itself keeps the order of the search, which is the order the save run and the export use.

#include <QSortFilterProxyModel>

namespace quillbox {

class SortedResults : public QSortFilterProxyModel {
    Q_OBJECT
public:
    explicit SortedResults(QObject* parent = nullptr);

    /// The shown text, with each line break (CR LF, LF or CR) as one space.
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

protected:
    /// Times compare by their time, a missing time before every other; texts by the locale's order, then
    /// by their code points.
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;
};

} // namespace quillbox

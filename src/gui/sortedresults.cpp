// SPDX-License-Identifier: MIT
#include "gui/sortedresults.h"

#include "mail/resultlist.h"

#include <QDateTime>

namespace quillbox {

SortedResults::SortedResults(QObject* parent)
    : QSortFilterProxyModel(parent)
{
    setSortRole(ResultList::ValueRole);
    setDynamicSortFilter(true);
}

QVariant SortedResults::data(const QModelIndex& index, int role) const
{
    QVariant value = QSortFilterProxyModel::data(index, role);
    if (role != Qt::DisplayRole || value.typeId() != QMetaType::QString)
        return value;
    return oneLine(value.toString());
}

bool SortedResults::lessThan(const QModelIndex& left, const QModelIndex& right) const
{
    const QVariant a = left.data(sortRole());
    const QVariant b = right.data(sortRole());
    if (a.typeId() == QMetaType::QDateTime && b.typeId() == QMetaType::QDateTime) {
        const QDateTime x = a.toDateTime();
        const QDateTime y = b.toDateTime();
        if (x.isValid() != y.isValid())
            return !x.isValid();
        return x < y;
    }
    const QString x = a.toString();
    const QString y = b.toString();
    const int order = QString::localeAwareCompare(x, y);
    return order != 0 ? order < 0 : x < y;
}

} // namespace quillbox

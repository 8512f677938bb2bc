// SPDX-License-Identifier: MIT
#include "output/textline.h"

#include "core/placeholders.h"

#include <QVarLengthArray>

namespace quillbox {

QString buildTextLine(const QString& pattern, const ResultRow& row)
{
    QVarLengthArray<QStringView, ColumnCount> values;
    for (int column = 0; column < ColumnCount; ++column)
        values.append(row.text(Column(column)));
    return expandPlaceholders(pattern, values);
}

} // namespace quillbox

// SPDX-License-Identifier: MIT
#include "output/textline.h"

#include "core/placeholders.h"

#include <QVarLengthArray>

namespace quillbox {

QString buildTextLine(const QString& pattern, const ResultRow& row)
{
    QVarLengthArray<QStringView, ColumnCount> values;
    for (const QString& cell : row.cells)
        values.append(cell);
    return expandPlaceholders(pattern, values);
}

} // namespace quillbox

// SPDX-License-Identifier: MIT
#pragma once

#include <QStringList>

namespace quillbox {

/// The result list's columns in their order; "%1" stands for Sent, "%" followed by k + 1 for sub-item k.
enum Column { ColSent, ColFrom, ColSubject, ColTo, ColReceived, ColEntryID, ColFolder, ColLatestTime, ColumnCount };

/// One row of the result list: cell 0 is the main text ("Sent"), cell k is sub-item k.
/// Every row the search adds has all eight cells; a row may hold fewer or more.
struct ResultRow {
    QStringList cells;
};

} // namespace quillbox

// SPDX-License-Identifier: MIT
#pragma once

#include "mail/resultrow.h"

#include <QString>

namespace quillbox {

/// One line of the exported list, without its line end: `pattern` (the TextFormat template) expanded with
/// the row's eight texts (ResultRow::text()) by expandPlaceholders(), "%1" for the first. The texts go in
/// whole: no clipping, no character replaced, a line break in a text stays a line break.
[[nodiscard]] QString buildTextLine(const QString& pattern, const ResultRow& row);

} // namespace quillbox

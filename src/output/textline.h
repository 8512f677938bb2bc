// SPDX-License-Identifier: MIT
#pragma once

#include "mail/resultrow.h"

#include <QString>

namespace quillbox {

/// One line of the exported list, without its line end: `pattern` (the TextFormat template) expanded with
/// all of the row's cells by expandPlaceholders(), "%1" for the first. The cells go in whole: no clipping,
/// no character replaced, a line break in a cell stays a line break.
[[nodiscard]] QString buildTextLine(const QString& pattern, const ResultRow& row);

} // namespace quillbox

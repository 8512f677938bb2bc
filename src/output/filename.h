// SPDX-License-Identifier: MIT
#pragma once

#include "core/placeholders.h"
#include "core/result.h"
#include "core/settings.h"
#include "mail/resultrow.h"

#include <QString>
#include <QStringView>
#include <span>

namespace quillbox {

/// The base name of a saved mail before it is made safe: `pattern` (the FnFormat template) expanded with
/// the row's eight texts (ResultRow::text()) by expandPlaceholders(), after From and To are clipped to the
/// first settings.clipAddress characters and Subject to the first settings.clipSubject characters.
/// The clip texts are read at each call; a fractional one is rounded to the nearest whole number (halves
/// away from zero), and a clip never splits a surrogate pair (it keeps one character less).
/// Fails with Error::Code::Invalid when a clip text is not a number or rounds to a negative one (path: the
/// setting's name), whatever the template uses.
[[nodiscard]] Result<QString> expandFileName(const QString& pattern, const ResultRow& row, const Settings& settings);

/// Whether the clip settings can be read (see expandFileName): the Error names the setting that cannot.
[[nodiscard]] Status checkClips(const Settings& settings);

/// `text` made usable as a file or directory name: each of \ / : * ? " < > | becomes one space, characters
/// below U+0020 are removed, and the first 256 UTF-16 code units are kept (255 where the 256th would be
/// the first half of a surrogate pair). Nothing else changes: blanks and dots stay, an empty text stays empty.
[[nodiscard]] QString makeSafeFileName(const QString& text);

} // namespace quillbox

// SPDX-License-Identifier: MIT
#pragma once

#include "app/result.h"
#include "mailstore/resultrow.h"
#include "settings/settings.h"

#include <QString>
#include <QStringView>
#include <span>

namespace quillbox {

/// Expands a template of saved names and exported lines: for N = 1, 2, ... values.size(), in that order,
/// every "%" followed by the decimal digits of N in the current text is replaced by values[N - 1]; then
/// every "%%" becomes "%". Each step scans left to right without overlap and does not rescan what it
/// inserted, but later steps work on the whole text, inserted values included. So "%10" is value 1
/// followed by "0", a "%" followed by anything else stays, "%%1" is "%" and value 1, and a value holding
/// "%5" gets value 5 in its place.
[[nodiscard]] QString ExpandPlaceholders(const QString& pattern, std::span<const QStringView> values);

/// The base name of a saved mail before it is made safe: `pattern` (the FnFormat template) expanded with
/// the row's cells by ExpandPlaceholders(), after cells 2 and 4 (From, To) are clipped to the first
/// settings.ClipAddress characters and cell 3 (Subject) to the first settings.ClipSubject characters.
/// The clip texts are read at each call; a fractional one is rounded to the nearest whole number (halves
/// away from zero), and a clip never splits a surrogate pair (it keeps one character less).
/// Fails with Error::Code::Invalid when a clip text is not a number or rounds to a negative one (path: the
/// setting's name), whatever the template uses, and when the row has more than 20 cells.
[[nodiscard]] Result<QString> ExpandFileName(const QString& pattern, const ResultRow& row, const Settings& settings);

/// `text` made usable as a file or directory name: each of \ / : * ? " < > | becomes one space, characters
/// below U+0020 are removed, and the first 256 UTF-16 code units are kept (255 where the 256th would be
/// the first half of a surrogate pair). Nothing else changes: blanks and dots stay, an empty text stays empty.
[[nodiscard]] QString MakeSafeFileName(const QString& text);

} // namespace quillbox

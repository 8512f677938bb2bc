// SPDX-License-Identifier: MIT
#pragma once
// The list export: the result list as a text file, one line per row built from the TextFormat template,
// opened for the person to read, print or copy.

#include "core/person.h"
#include "core/result.h"
#include "core/settings.h"
#include "mail/resultlist.h"

#include <QString>

namespace quillbox {

/// The export's file: "list.txt" in the program's folder.
[[nodiscard]] QString listFilePath();

/// Writes one line per row of `list` to `path` and opens the file with the desktop's default handler.
///
/// Each line is buildTextLine(settings.textFormat, row), the template read anew for each row, followed by
/// CR LF (the last line too); the text is UTF-8 without a byte-order mark. An empty list gives an empty
/// file, which is opened as well. The file replaces any earlier one whole (temporary file, then rename);
/// its folder is created when missing. A file that cannot be written is told to `person` as "Can't write
/// the list to PATH: REASON." and returned as Error (Code::WriteFailed); an earlier file then stays as it
/// was and nothing is opened.
Status exportListToText(Person& person, const Settings& settings, const ResultList& list, const QString& path);

} // namespace quillbox

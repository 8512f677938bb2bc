// SPDX-License-Identifier: MIT
#pragma once
// Why a mail store could not be opened, in the words of the person in front of the program rather than those
// of the library that read it.

#include "core/result.h"

#include <QString>

namespace quillbox {

/// A sentence that names the file of `error` and says what is wrong with it ("Mail.pst is damaged: its header
/// does not check out"), for the failures that the PST readers and the file system commonly give: a damaged
/// header, a file that is no Outlook data file, one cut short, one of a format not read here, one that may not
/// be read, one that is not there. Empty for any other failure, whose own words then stand alone.
[[nodiscard]] QString plainOpenFailure(const Error& error);

/// `text`, with plainOpenFailure(`error`) on a line of its own below it where there is one.
[[nodiscard]] QString withPlainOpenFailure(const QString& text, const Error& error);

} // namespace quillbox

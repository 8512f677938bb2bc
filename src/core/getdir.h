// SPDX-License-Identifier: MIT
#pragma once
// The directory chooser and opening a document or web address, both through the person.

#include "core/person.h"

#include <QString>

namespace quillbox {

/// Asks `person` for a directory with `title`. The chosen directory comes back ending in "/" ("/" itself
/// stays as it is); an empty text when the person cancels.
[[nodiscard]] QString GetDir(Person& person, const QString& title);

/// Opens `target`, a file, document or web address, with the desktop's default action; nothing is
/// reported when that fails.
void BrowseTo(Person& person, const QString& target);

} // namespace quillbox

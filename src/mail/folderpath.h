// SPDX-License-Identifier: MIT
#pragma once

#include "core/person.h"
#include "mail/store.h"

#include <memory>

namespace quillbox {

/// Resolves a folder path against the stores of `ns`: "\\", the store name, then "\" before each
/// folder name on the way down; one "\" at the very end is ignored. Names are passed on exactly as
/// written (nothing trimmed); the stores match them without regard to case; an empty name matches
/// nothing. A path that does not start with "\\" is told to `person` ("Error: folder path should
/// start with \\"); every other failure gives no folder without a message.
/// Returns the folder, or null.
std::unique_ptr<mail::Folder> getFolderFromPath(Person& person, const mail::Namespace& ns, const QString& path);

/// As getFolderFromPath(), with why there is no folder where a store is not in the profile or cannot be
/// opened (the path of its file and the system's or the library's words); an Error without a path or a
/// detail for the other failures.
Result<std::unique_ptr<mail::Folder>> findFolderFromPath(
    Person& person, const mail::Namespace& ns, const QString& path);

} // namespace quillbox

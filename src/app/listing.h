// SPDX-License-Identifier: MIT
#pragma once
// What --list-stores and --list-folders print: the stores the program would search, and the folder paths of
// one of them, for people and for shell completion.

#include "mail/store.h"

#include <QStringList>

namespace quillbox {

/// Lines for standard output and problems for standard error.
struct Listing {
    QStringList lines;
    QStringList problems;

    /// The exit status: 1 when anything could not be listed, else 0.
    int status() const { return problems.isEmpty() ? 0 : 1; }
};

/// One line per store of `ns`, in its order: name, kind and location, separated by tabs. Each store that
/// could not be opened is a problem.
[[nodiscard]] Listing listStores(const mail::Namespace& ns);

/// The folder path of the store named `store` ("\\" and a store name, or the name alone; matched without
/// regard to case) and of every folder below it, one a line, each folder before its sub-folders. A store
/// that is not there or cannot be opened, and a folder whose sub-folders cannot be read, are problems.
[[nodiscard]] Listing listFolders(const mail::Namespace& ns, const QString& store);

/// Writes the lines to `out` and the problems to `err` (as the program's lines); returns the exit status.
int writeListing(const Listing& listing, std::FILE* out = stdout, std::FILE* err = stderr);

} // namespace quillbox

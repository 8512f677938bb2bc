// SPDX-License-Identifier: MIT
#pragma once
// What --list-stores and --list-folders print: the stores the program would search, and the folder paths of
// one of them, for people and for shell completion.

#include "mail/store.h"

#include <QStringList>

namespace quillbox {

/// Lines for standard output, and problems and notes for standard error.
struct Listing {
    QStringList lines;
    QStringList problems;
    QStringList notes; ///< told, but no failure: the status stays 0

    /// The exit status: 1 when anything could not be listed, else 0.
    int status() const { return problems.isEmpty() ? 0 : 1; }
};

/// One line per store of `ns`, in its order: name, kind and location, separated by tabs. Each store of the
/// profile that could not be opened is a problem; each store found on this computer that could not be
/// opened is a note (the person did not name it, and the listing of what they named is whole).
[[nodiscard]] Listing listStores(const mail::Namespace& ns);

/// The folder path of the store named `store` ("\\" and a store name, or the name alone; matched without
/// regard to case) and of every folder below it, one a line, each folder before its sub-folders. A store
/// that is not there or cannot be opened, and a folder whose sub-folders cannot be read, are problems.
[[nodiscard]] Listing listFolders(const mail::Namespace& ns, const QString& store);

/// The words for a store found on this computer that could not be opened, for standard error.
QString foundStoreNotOpened(const QString& name, const Error& why);

/// Writes the lines to `out` and the problems, then the notes, to `err` (as the program's lines); returns the
/// exit status.
int writeListing(const Listing& listing, std::FILE* out = stdout, std::FILE* err = stderr);

} // namespace quillbox

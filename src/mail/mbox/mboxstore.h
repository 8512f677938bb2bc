// SPDX-License-Identifier: MIT
#pragma once
// The mbox backend: one mbox file as a store with one folder, or a directory of mbox files in
// Thunderbird's layout ("Name" is a folder, "Name.sbd/" holds its sub-folders) as a tree.

#include "mail/store.h"

namespace quillbox::mail {

/// Opens the mbox file or the directory of mbox files at `location` as the store `name`. Cheap: no
/// message is read before it is asked for. NotAStore when `location` is neither a file nor a directory.
Result<std::unique_ptr<Store>> openMboxStore(const QString& name, const QString& location);

/// Whether the directory `dir` holds mbox folders in Thunderbird's layout and no Maildir: a file that starts
/// with "From ", a folder file beside its ".msf" summary, or a ".sbd" directory, and no directory with
/// cur/ or new/ (a Thunderbird account kept as Maildir has ".msf" files too).
bool isMboxTree(const QString& dir);

} // namespace quillbox::mail

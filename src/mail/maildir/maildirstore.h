// SPDX-License-Identifier: MIT
#pragma once
// The Maildir backend: a directory tree of Maildir folders (nested or Maildir++) as a Store.
// How the tree maps onto the store model is written down in docs/format-notes.md.

#include "mail/store.h"

namespace quillbox::mail {

/// Opens the Maildir tree at `rootDir` as the store `name`. Cheap: only checks that `rootDir` is a
/// directory (Error NotAStore when it is not, Unreadable when it cannot be looked at); folders and
/// messages are read when they are asked for.
Result<std::unique_ptr<Store>> openMaildirStore(const QString& name, const QString& rootDir);

} // namespace quillbox::mail

// SPDX-License-Identifier: MIT
#pragma once
// The Outlook data file backend: a .pst or .ost file as a Store. The folder listing and the search read
// the file with our own node reader (libpff for formats it does not know); a whole item (bodies,
// recipients, attachments) is read with libpff. How the file maps onto the store model is written down
// in docs/format-notes.md ("PST/OST").

#include "mail/store.h"

namespace quillbox::mail {

/// The Outlook data file at `path` as the store `name`. Cheap: the file is opened on first use, once
/// per Store; a file libpff cannot open then gives an Error whose detail is libpff's reason.
Result<std::unique_ptr<Store>> openPstStore(const QString& name, const QString& path);

} // namespace quillbox::mail

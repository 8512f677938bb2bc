// SPDX-License-Identifier: MIT
#pragma once
// The IMAP backend: an account on a mail server as a Store, read through libetpan and never changed: every
// folder is opened with EXAMINE and every message read with BODY.PEEK, so no flag is set.

#include "mail/store.h"

#include <QMap>

namespace quillbox::mail {

/// The account at `location` ("imaps://user@host[:port]" or "imap://...") as the store `name`, with the
/// store's settings of the profile (see readStoreSettings). Cheap: nothing is sent before a folder is
/// asked for. Error Invalid when the address or a setting is not one.
Result<std::unique_ptr<Store>> openImapStore(
    const QString& name, const QString& location, const QMap<QString, QString>& settings);

} // namespace quillbox::mail

// SPDX-License-Identifier: MIT
#pragma once
// The IMAP backend: an account on a mail server as a Store, read through libetpan and never changed: every
// folder is opened with EXAMINE and every message read with BODY.PEEK, so no flag is set.

#include "mail/store.h"

#include <QMap>

namespace quillbox::mail {

/// How a save fetches messages from a server: in batches of at most `batchMessages` messages and
/// `batchBytes` bytes, each batch one UID FETCH; a message larger than `streamAbove` bytes alone, in ranges of
/// `range` bytes written to a temporary file, so that neither libetpan nor Quillbox holds it in memory.
struct ImapFetchLimits {
    int batchMessages = 100;
    qint64 batchBytes = 16 * 1024 * 1024;
    qint64 streamAbove = 32 * 1024 * 1024;
    quint32 range = 8 * 1024 * 1024;
};

/// The limits every IMAP store fetches by from now on (tests lower them).
void setImapFetchLimits(const ImapFetchLimits& limits);

/// The account at `location` ("imaps://user@host[:port]" or "imap://...") as the store `name`, with the
/// store's settings of the profile (see readStoreSettings). Cheap: nothing is sent before a folder is
/// asked for. Error Invalid when the address or a setting is not one.
Result<std::unique_ptr<Store>> openImapStore(
    const QString& name, const QString& location, const QMap<QString, QString>& settings);

} // namespace quillbox::mail

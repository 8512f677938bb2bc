// SPDX-License-Identifier: MIT
#pragma once
// One Maildir message: its list summary from the header block alone, and the whole item (bodies,
// recipients, attachments) from a full GMime parse of the file, or, for a message of one plain text
// part, from its headers and body read directly.

#include "mail/maildir/headerscan.h"
#include "mail/store.h"

#include <functional>
#include <optional>

namespace quillbox::mail::maildir {

/// What the list reads of a message besides its headers: its file name (delivery time, flags) and
/// the file's modification time. Both are absent for a mail attached to another.
struct MessageFile {
    QByteArray fileName;
    std::optional<qint64> modified; ///< seconds since the epoch
};

/// Fills every field of `summary` but entryID from the header block that `scan` found in `data`.
void summarize(const char* data, const HeaderScan& scan, const MessageFile& file, ItemSummary& summary);

/// How an item reads its bodies and recipients: Direct takes a message of one plain text part without
/// GMime's tree (the same result, several times faster); Parser always parses it whole.
enum class BodyReading { Direct, Parser };

/// The whole item for the message `raw`. `parent` gives the folder that holds it (none for an attached mail).
std::unique_ptr<MailItem> makeMessage(QByteArray raw, const MessageFile& file, const QString& entryID,
    std::function<std::unique_ptr<Folder>()> parent, BodyReading reading = BodyReading::Direct);

/// Whether an item of `raw` reads it directly (BodyReading::Direct) rather than through the parser.
bool readsWithoutParser(const QByteArray& raw);

} // namespace quillbox::mail::maildir

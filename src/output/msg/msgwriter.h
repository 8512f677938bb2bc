// SPDX-License-Identifier: MIT
#pragma once
// Writes a mail item of the store model as an Outlook message file (.msg): a compound file whose root
// storage carries the message class id, a property stream per object, the message's string and
// binary properties in streams of their own, a storage per recipient and per attachment, and an
// attached mail as an embedded message. Strings are Unicode (UTF-16LE), the HTML body UTF-8.
// What readers expect and where the format surprised us: docs/format-notes.md, section ".msg".

#include "core/result.h"

#include <QByteArray>
#include <QString>

typedef struct _GsfOutput GsfOutput;

namespace quillbox::mail {
class MailItem;
}

namespace quillbox::msg {

/// Writes `item` as a .msg file at `path`, replacing a file that is there. libgsf writes a hidden
/// temporary file beside `path` and renames it onto `path` when everything was written, so on any
/// failure the file at `path` is left as it was and no temporary file stays behind.
/// Errors: WriteFailed with `path` and the libgsf or OS reason; an attachment or attachment list the
/// store cannot read is reported with the store's own Error.
Status writeMsgFile(const mail::MailItem& item, const QString& path);

/// The bytes of `item` as a .msg file, built in memory. Errors as for writeMsg. Threads may call it at
/// once, each with an item of its own.
Result<QByteArray> msgBytes(const mail::MailItem& item);

/// Writes `item` as a .msg file into `sink` and closes `sink`. On failure an error is set on `sink`
/// before it is closed (a file sink then drops what it had written). Errors as for writeMsgFile,
/// with the sink's name as the path.
Status writeMsg(const mail::MailItem& item, GsfOutput* sink);

} // namespace quillbox::msg

// SPDX-License-Identifier: MIT
#pragma once
// Writes a mail item of the store model as an Outlook message file (.msg): a compound file whose root
// storage carries the message class id, a property stream per object, the message's string and
// binary properties in streams of their own, a storage per recipient and per attachment, and an
// attached mail as an embedded message. Strings are Unicode (UTF-16LE), the HTML body UTF-8.
// What readers expect and where the format surprised us: docs/format-notes.md, section ".msg".

#include "core/result.h"
#include "output/msg/compoundfile.h"

#include <QByteArray>
#include <QString>

namespace quillbox::mail {
class MailItem;
}

namespace quillbox::msg {

/// The storages and streams of `item`'s .msg file, kept in memory (for tests and checks).
/// Errors: an attachment or attachment list the store cannot read is reported with the store's own
/// Error; an attachment of 2 GB or more is an Error WriteFailed without a path.
Result<CompoundFile> msgCompoundFile(const mail::MailItem& item);

/// Writes `item` as a .msg file to `out` as it is built: what is held at once is about the mail's own
/// size, not the file's. Errors as for msgCompoundFile, and `out`'s own. Threads may call it at once,
/// each with an item and an output of its own.
Status writeMsg(const mail::MailItem& item, output::FileOutput& out);

/// The bytes of `item` as a .msg file, built in memory. Errors as for msgCompoundFile.
Result<QByteArray> msgBytes(const mail::MailItem& item);

/// Writes `item` as a .msg file at `path`, replacing a file that is there: the file is written as it is
/// built, unnamed (or under a temporary name beside `path`) until it is whole, so on any failure the file at
/// `path` is left as it was and no temporary file stays behind.
/// Errors as for msgCompoundFile, with `path`; WriteFailed with `path` and the OS reason when the file
/// cannot be written.
Status writeMsgFile(const mail::MailItem& item, const QString& path);

} // namespace quillbox::msg

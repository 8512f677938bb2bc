// SPDX-License-Identifier: MIT
#pragma once
// One Maildir message: its list summary from the header block alone, and the whole item (bodies,
// recipients, attachments) from a full GMime parse of the file, or, for a message of one plain text
// part, from its headers and body read directly, or, for a multipart of many parts, part by part.

#include "mail/maildir/headerscan.h"
#include "mail/store.h"

#include <functional>
#include <optional>
#include <vector>

namespace quillbox::mail::maildir {

/// What the list reads of a message besides its headers: its file name (delivery time, flags) and
/// the file's modification time. Both are absent for a mail attached to another. A message of an mbox
/// file has no name, its separator line's date for a modification time, and the Date header for its
/// creation time when the separator has no date (`dateMadeIt`).
struct MessageFile {
    QByteArray fileName;
    std::optional<qint64> modified; ///< seconds since the epoch
    bool inNew = false; ///< the file lies in new/: no client has seen it yet
    bool dateMadeIt = false;
};

/// What the header block `block` and the file name say besides bodies and addresses: identifiers,
/// importance (Importance, X-Priority, Priority), thread, Reply-To, a Sender that differs from From,
/// Keywords; the read state (the S flag, and not in new/) and the follow-up flag (F) for a stored file.
MessageDetails detailsOf(std::string_view block, const MessageFile& file);

/// The item class of a message whose first `size` bytes are `data`, `scan` its header block: a report is a
/// multipart/report of delivery or read notifications, a calendar request a text/calendar body (or a
/// multipart whose first part is one) whose METHOD is REQUEST, and anything else is mail. When the bytes
/// are not the whole file (`complete` false), nullopt says that the class depends on bytes further on.
std::optional<int> itemClassOf(const char* data, std::size_t size, const HeaderScan& scan, bool complete);

/// Reads the start of the message file `fd` into `buffer`: the header block (see readHeaderBlock) and what
/// more itemClassOf needs, up to 1 MiB in all, and sets `itemClass` to what itemClassOf says of them. Returns
/// false with errno set when reading fails.
bool readSummaryBytes(int fd, std::vector<char>& buffer, HeaderScan& scan, int& itemClass);

/// A summary's three times in seconds since the epoch, before they are made local times.
struct SummaryTimes {
    std::optional<qint64> sentOn, received, creation;
};

/// Sets the summary's three times to `times` made local times; a moment that comes twice is converted once.
void setLocalTimes(ItemSummary& summary, const SummaryTimes& times);

/// Fills every field of `summary` but entryID from the `size` bytes of `data` that readSummaryBytes read
/// (or the whole message), whose header block `scan` found; the item class is `itemClass` when given (as
/// readSummaryBytes found it), else worked out from the bytes. With `times`, the three times go there and
/// the summary's stay unset, for setLocalTimes() on one thread: the C library makes a local time under one
/// lock for the whole process, and threads that do so at once wait on each other.
void summarize(const char* data, std::size_t size, const HeaderScan& scan, const MessageFile& file,
    ItemSummary& summary, std::optional<int> itemClass = std::nullopt, SummaryTimes* times = nullptr);

/// How an item reads its bodies, recipients and attachments: Direct takes a message of one plain text part
/// without GMime's tree (the same result, several times faster), and a multipart of many parts part by part
/// (the same result, in memory proportional to the message rather than some KiB a part); Split reads every
/// multipart part by part; Parser always parses the message whole.
enum class BodyReading { Direct, Split, Parser };

/// The whole item for the message `raw`. `parent` gives the folder that holds it (none for an attached mail).
std::unique_ptr<MailItem> makeMessage(QByteArray raw, const MessageFile& file, const QString& entryID,
    std::function<std::unique_ptr<Folder>()> parent, BodyReading reading = BodyReading::Direct);

/// How many bytes of messages GMime's parser has read on this thread: what reading the items costs (a mail
/// attached to another is read as part of its parent, not again).
std::size_t bytesParsed();

/// Whether an item of `raw` reads it directly (BodyReading::Direct) rather than through the parser.
bool readsWithoutParser(const QByteArray& raw);

} // namespace quillbox::mail::maildir

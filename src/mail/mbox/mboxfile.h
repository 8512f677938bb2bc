// SPDX-License-Identifier: MIT
#pragma once
// Reading an mbox file: the messages one after the other, each from its "From " separator line to the
// next, in a window of bounded size whatever the size of the file or of one message. A line that starts
// with "From " separates two messages wherever it stands (mboxo and mboxrd quote such lines in a body
// with ">"); a Content-Length header is not trusted. The empty line before a separator belongs to the
// file, not to the message before it.

#include "core/result.h"

#include <QByteArray>
#include <QtGlobal>
#include <array>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillbox::mail::mbox {

/// One message as a scan finds it.
struct MessageSpan {
    qint64 offset = 0; ///< where its "From " line starts
    qint64 contentStart = 0; ///< after the "From " line and its line end
    qint64 end = 0; ///< where the message's bytes end
    QByteArray fromLine; ///< the separator line, without its line end (cut at 1 KiB)
    /// The first bytes of the message (after the "From " line): all of them when complete, else as many
    /// as the scanner's window holds, at least half of it, up to MessageScanner::kHeadCap. Valid while
    /// `headBytes` is held, also after the scanner moved on or is gone.
    std::string_view head;
    std::shared_ptr<const void> headBytes;
    bool complete() const { return qint64(head.size()) == end - contentStart; }
};

/// The messages of an mbox file, in file order, from a given offset to the size the file had when the
/// scan began (a message delivered meanwhile waits for the next scan).
class MessageScanner {
public:
    static constexpr std::size_t kHeadCap = 1 << 20;
    /// The bytes a scanner reads into, to hand on to the next scanner of a search.
    using Window = std::shared_ptr<std::vector<char>>;

    /// Scans the open file `fd` from `start`, which is where a message's "From " line starts, or 0:
    /// text before the first separator of a file is not a message. The window holds `window` bytes (4 KiB
    /// at least), in `reuse` when it is given and that large.
    explicit MessageScanner(int fd, qint64 start = 0, std::size_t window = 4 << 20, Window reuse = {});

    /// Scans only the messages whose "From " line starts in [from, stop), one piece of a file that other
    /// scanners read the rest of, and reads no further than `limit`, the size the file had when the search
    /// began. The last message is read to its end, past `stop` when it goes on beyond it; scanned piece by
    /// piece, a file gives the same messages as scanned whole.
    static MessageScanner piece(int fd, qint64 from, qint64 stop, qint64 limit, std::size_t window, Window reuse = {});

    /// The window, for another scanner once this one is done with it.
    Window release() { return std::exchange(m_buffer, nullptr); }

    /// The next message into `span`; false at the end of the file; an Error (with the OS's words) when
    /// reading fails.
    Result<bool> next(MessageSpan& span);

private:
    using Bytes = Window;

    bool load(qint64 offset);
    // `bytes`, or another buffer of its size when a span still holds it.
    static void own(Bytes& bytes, std::vector<Bytes>& spares);
    qint64 find(qint64 from, std::string_view needle, qint64 before = std::numeric_limits<qint64>::max());
    char at(qint64 offset) const { return (*m_buffer)[std::size_t(offset - m_bufferOffset)]; }
    qint64 bufferEnd() const { return m_bufferOffset + qint64(m_used); }

    int m_fd;
    qint64 m_limit = 0;
    qint64 m_stop = std::numeric_limits<qint64>::max(); // no message that starts here or later
    qint64 m_next = 0;
    bool m_seek = false; // m_next is no message's start: the first one follows a line feed at or after it
    bool m_failed = false;
    int m_error = 0;
    Bytes m_buffer;
    qint64 m_bufferOffset = 0;
    std::size_t m_used = 0;
    Bytes m_head; // the first bytes of a message that does not fit the window
    std::vector<Bytes> m_spares; // buffers the spans held when the window moved on, to use again
    std::vector<Bytes> m_headSpares;
};

/// The message whose "From " line starts at `offset` of the open file `fd`, which holds `size` bytes, read
/// whole for a lookup: `span` as a scan of the file gives it, and the message's bytes (after the "From "
/// line) in `message`, which `span.head` views. False when no message starts there, or the file is shorter
/// than `size` by then (it was rewritten). One read for a message of a usual size; nothing kept after.
Result<bool> readMessageAt(int fd, qint64 size, qint64 offset, MessageSpan& span, QByteArray& message);

/// The message's bytes as they were before the file quoted them: each line of ">From ", ">>From ", ...
/// loses one ">" (mboxrd; an mboxo file gets back its "From " lines).
void unquoteFromLines(QByteArray& message);

/// Seconds since the epoch of the date on a "From " line ("From sender Mon Dec  7 07:15:51 2026", with or
/// without a zone, which is UTC when missing); nullopt when the line has no readable date.
std::optional<qint64> fromLineDate(std::string_view fromLine);

/// A short check of a message's first bytes, for its entry identifier: the "From " line and the first
/// 256 bytes after it, without Thunderbird's status lines, which change in place as the message is read.
QByteArray firstBytesCheck(const MessageSpan& span);

/// The text of a check as firstBytesCheck() gives it: 16 lower-case hex digits.
using CheckText = std::array<char, 16>;

/// The checks of many messages, the same as firstBytesCheck() gives each, worked out together: quicker.
class CheckBatch {
public:
    /// Takes what the check of `span` reads; the span may go after.
    void add(const MessageSpan& span);
    std::size_t size() const { return m_ends.size(); }
    /// The check of each message added since the last take(), in the order added.
    std::vector<CheckText> take();

private:
    std::string m_bytes; // what each check reads, one message after the other
    std::vector<std::size_t> m_ends;
};

/// Whether the header block `headers` marks the message expunged: Thunderbird's X-Mozilla-Status with
/// bit 0x0008, a deleted message that waits for the folder to be compacted.
bool isExpunged(std::string_view headers);

} // namespace quillbox::mail::mbox

// SPDX-License-Identifier: MIT
#pragma once
// Reading just the header block of a message file, fast: the folder list needs a handful of header
// fields from every message, and a full MIME parse of each file costs several times more than
// reading it. Nothing here allocates per field; values are unfolded only when asked for.

#include <QtGlobal>
#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillbox::mail::maildir {

/// The header fields the folder list reads, and those an item reads to take a one-part message without a
/// MIME parse. The first occurrence of each counts (for Received, the topmost one: the last hop, the
/// one that delivered the message here).
enum class HeaderField {
    Date,
    From,
    To,
    Subject,
    ContentType,
    Received,
    Cc,
    Bcc,
    ContentTransferEncoding,
    ContentDisposition,
    MozillaStatus, ///< X-Mozilla-Status: Thunderbird's flags of a message in an mbox file
    Count
};

/// Where the header block of a message ends and where the list's fields lie in it.
class HeaderScan {
public:
    /// Scans `data` (the start of a message). Lenient: a leading mbox "From " line is skipped, bare LF
    /// and CR LF both end lines, and the block ends at the first empty line or at the first line that
    /// is neither a field nor a continuation (the start of the body of a message without headers).
    /// With `atEnd` false, more data may follow: needMore() tells whether the block is not yet complete.
    void scan(const char* data, std::size_t size, bool atEnd);

    bool needMore() const { return m_needMore; }
    /// The length of the header block, without the empty line that ends it.
    std::size_t blockLength() const { return m_blockLength; }
    /// Whether the block is a plain one: it starts with a field (not an mbox separator line nor white
    /// space), and an empty line ends it (not the end of the data, nor a line that is no field).
    bool plainBlock() const { return m_plainBlock; }
    /// Whether `field` occurs more than once.
    bool repeated(HeaderField field) const { return m_fields[std::size_t(field)].repeated; }
    /// The unfolded value of `field` (leading and trailing white space removed, NUL bytes dropped),
    /// or nullopt when the block has no such field.
    std::optional<std::string> value(const char* data, HeaderField field) const;
    /// As value(), without a copy where the value stands on one line: a view of `data` then, else of
    /// `unfolded`, which holds the value unfolded (and is left alone otherwise).
    std::optional<std::string_view> value(const char* data, HeaderField field, std::string& unfolded) const;
    /// The value of `field` as it stands, folded, from after the colon to the end of its last line.
    std::optional<std::string_view> rawValue(const char* data, HeaderField field) const;

private:
    struct Range {
        std::size_t begin = 0, end = 0;
        bool found = false;
        bool repeated = false;
    };
    void closeField(std::size_t end);

    std::array<Range, static_cast<std::size_t>(HeaderField::Count)> m_fields {};
    std::size_t m_pos = 0; // start of the first line not yet classified
    std::size_t m_blockLength = 0;
    int m_open = -1; // the field whose value runs until the next field line, or -1
    bool m_needMore = true;
    bool m_plainBlock = true;
};

/// A header value as it stands (`text`, folded) as HeaderScan::value() gives it: white space (and NUL
/// bytes) at either end removed, line breaks and NUL bytes within dropped. A view of `text` where nothing
/// within is dropped, else of `unfolded`, which then holds the value.
std::string_view unfold(std::string_view text, std::string& unfolded);

/// Reads the start of the file `fd` into `buffer` until the header block is complete, the file ends
/// or `cap` bytes are read (a header that never ends is cut there). Returns false with errno set when
/// reading fails.
bool readHeaderBlock(int fd, std::vector<char>& buffer, HeaderScan& scan, std::size_t cap = 1 << 20);

/// Seconds since the epoch of an RFC 5322 date ("Tue, 1 Jul 2003 10:52:37 +0200", with the usual
/// leniency: no day name, two-digit years, no seconds, named US zones, a trailing comment, no zone
/// meaning UTC). nullopt when the text is no such date or names an impossible one.
std::optional<qint64> parseRfc5322Date(std::string_view text);

} // namespace quillbox::mail::maildir

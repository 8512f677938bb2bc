// SPDX-License-Identifier: MIT
// Feeds arbitrary bytes to the mbox reader as a file and checks what must hold for every input:
// - the messages come in file order, each starts at the file's start or after a line end with "From ",
//   and its bytes lie between the end of its separator line and the next message;
// - a window of 4 KiB finds the same messages, with the same ends and first 2 KiB (the half of its window
//   that it holds of every message at least), as the default one, and so do scanners of pieces of the file;
// - a lookup at a message's offset finds it with the same ends and bytes;
// - undoing the quoting never makes a message longer, and a separator line's date reads the same in the
//   usual form's reading and in the general one.
#include "fuzzcheck.h"
#include "mail/mbox/mboxfile.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

using namespace quillbox::mail::mbox;
using quillbox::fuzz::check;

namespace {

struct Found {
    qint64 offset, contentStart, end;
    std::string head;
    bool operator==(const Found&) const = default;
};

void scanWith(MessageScanner& scanner, std::vector<Found>& found)
{
    MessageSpan span;
    for (auto more = scanner.next(span); more && *more; more = scanner.next(span)) {
        // A blank at the end keeps a line from the reading of the usual form: both readings agree.
        const std::string line(span.fromLine.constData(), std::size_t(span.fromLine.size()));
        check(fromLineDate(line) == fromLineDate(line + ' '));
        found.push_back({ span.offset, span.contentStart, span.end, std::string(span.head.substr(0, 2048)) });
    }
}

std::vector<Found> scan(int fd, std::size_t window)
{
    std::vector<Found> found;
    MessageScanner scanner(fd, 0, window);
    scanWith(scanner, found);
    return found;
}

// The file scanned in pieces of `piece` bytes, each by a scanner of its own.
std::vector<Found> scanInPieces(int fd, qint64 size, qint64 piece)
{
    std::vector<Found> found;
    for (qint64 from = 0; from < size; from += piece) {
        MessageScanner scanner = MessageScanner::piece(fd, from, from + piece, size, 4096);
        scanWith(scanner, found);
    }
    return found;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const int fd = ::memfd_create("fuzz_mbox", 0);
    check(fd >= 0 && ::write(fd, data, size) == ssize_t(size));
    const std::vector<Found> found = scan(fd, 4 << 20);
    check(scan(fd, 4096) == found);
    check(size == 0 || scanInPieces(fd, qint64(size), 16 + data[0]) == found);
    const char* bytes = reinterpret_cast<const char*>(data);
    qint64 previousEnd = 0;
    for (const Found& f : found) {
        check(f.offset >= previousEnd && std::memcmp(bytes + f.offset, "From ", 5) == 0);
        check(f.offset == 0 || bytes[f.offset - 1] == '\n');
        check(f.offset < f.contentStart && f.contentStart <= f.end && f.end <= qint64(size));
        MessageSpan looked;
        QByteArray whole;
        const auto at = readMessageAt(fd, qint64(size), f.offset, looked, whole);
        check(at && *at && looked.contentStart == f.contentStart && looked.end == f.end
            && whole == QByteArray::fromRawData(bytes + f.contentStart, qsizetype(f.end - f.contentStart)));
        QByteArray message(bytes + f.contentStart, qsizetype(f.end - f.contentStart));
        const qsizetype before = message.size();
        unquoteFromLines(message);
        check(message.size() <= before);
        previousEnd = f.end;
    }
    ::close(fd);
    return 0;
}

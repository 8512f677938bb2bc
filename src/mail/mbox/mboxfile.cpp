// SPDX-License-Identifier: MIT
#include "mail/mbox/mboxfile.h"

#include "mail/maildir/headerscan.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __x86_64__
#include <immintrin.h>
#endif

namespace quillbox::mail::mbox {

namespace {

constexpr std::string_view kSeparator = "\n"
                                        "From ";

bool startsWithNoCase(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
        return (a >= 'A' && a <= 'Z' ? char(a - 'A' + 'a') : a) == (b >= 'A' && b <= 'Z' ? char(b - 'A' + 'a') : b);
    });
}

// The place (from 1) among `names` (three lower-case letters each) of the three letters `word` starts with,
// without regard to case; 0 when they are none of them.
int nameIndex(std::string_view word, std::string_view names)
{
    if (word.size() < 3)
        return 0;
    for (std::size_t i = 0; i + 3 <= names.size(); i += 3)
        if ((word[0] | 0x20) == names[i] && (word[1] | 0x20) == names[i + 1] && (word[2] | 0x20) == names[i + 2])
            return int(i / 3) + 1;
    return 0;
}

bool matchesRest(const char* at, std::string_view needle)
{
    return std::memcmp(at + 1, needle.data() + 1, needle.size() - 1) == 0;
}

#ifdef __x86_64__
// The loop of findNeedle() 32 places at a time, on processors with AVX2 (nearly every one since 2013): it
// takes half the instructions. Moves `at` on to where it stopped; the needle there, or nullptr.
__attribute__((target("avx2"))) const char* findPairsAvx2(const char*& at, const char* last, std::string_view needle)
{
    const __m256i first = _mm256_set1_epi8(needle[0]), second = _mm256_set1_epi8(needle[1]);
    for (; last - at >= 31; at += 32) {
        const __m256i here = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
        const __m256i next = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + 1));
        for (unsigned both = unsigned(_mm256_movemask_epi8(
                 _mm256_and_si256(_mm256_cmpeq_epi8(here, first), _mm256_cmpeq_epi8(next, second))));
             both != 0; both &= both - 1)
            if (matchesRest(at + __builtin_ctz(both), needle))
                return at + __builtin_ctz(both);
    }
    return nullptr;
}
#endif

// The first `needle` (two bytes or more) in the `size` bytes at `data`, or nullptr. Mail has a line feed
// every few dozen bytes: comparing 16 or 32 places at once with the needle's first two bytes and comparing
// the rest only where both match takes several times less time than memmem or a memchr for each line feed.
const char* findNeedle(const char* data, std::size_t size, std::string_view needle)
{
    if (size < needle.size())
        return nullptr;
    const char* const last = data + (size - needle.size()); // the last place a needle may start
    const char* at = data;
#ifdef __x86_64__
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2 && needle.size() > 1)
        if (const char* found = findPairsAvx2(at, last, needle))
            return found;
#endif
#ifdef __SSE2__
    const __m128i first = _mm_set1_epi8(needle[0]), second = _mm_set1_epi8(needle[needle.size() > 1]);
    for (; needle.size() > 1 && last - at >= 15; at += 16) {
        const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
        const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + 1));
        for (unsigned both
             = unsigned(_mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(here, first), _mm_cmpeq_epi8(next, second))));
             both != 0; both &= both - 1)
            if (matchesRest(at + __builtin_ctz(both), needle))
                return at + __builtin_ctz(both);
    }
#endif
    for (; at <= last; ++at) {
        at = static_cast<const char*>(std::memchr(at, needle.front(), std::size_t(last - at) + 1));
        if (!at || matchesRest(at, needle))
            return at;
    }
    return nullptr;
}

// Calls `line` for each line of `text`, without its line end; stops when it returns false.
template <class Visit> void forEachLine(std::string_view text, Visit&& line)
{
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view current = text.substr(0, end);
        if (current.ends_with('\r'))
            current.remove_suffix(1);
        if (!line(current) || end == std::string_view::npos)
            return;
        text.remove_prefix(end + 1);
    }
}

} // namespace

MessageScanner::MessageScanner(int fd, qint64 start, std::size_t window, Window reuse)
    : m_fd(fd)
    , m_next(start)
    , m_buffer(reuse && reuse.use_count() == 1 && reuse->size() >= std::max<std::size_t>(window, 4096)
              ? std::move(reuse)
              : std::make_shared<std::vector<char>>(std::max<std::size_t>(window, 4096)))
    , m_bufferOffset(start)
    , m_head(std::make_shared<std::vector<char>>())
{
    struct stat info;
    m_failed = ::fstat(fd, &info) != 0;
    m_error = m_failed ? errno : 0;
    m_limit = m_failed ? 0 : qint64(info.st_size);
}

MessageScanner MessageScanner::piece(int fd, qint64 from, qint64 stop, qint64 limit, std::size_t window, Window reuse)
{
    // The scan starts on the byte before `from`: a line feed there makes `from` a message's start.
    MessageScanner scanner(fd, std::max<qint64>(from - 1, 0), window, std::move(reuse));
    scanner.m_seek = from > 0;
    scanner.m_stop = stop;
    scanner.m_limit = std::min(scanner.m_limit, limit);
    return scanner;
}

void MessageScanner::own(Bytes& bytes, std::vector<Bytes>& spares)
{
    if (bytes.use_count() == 1)
        return;
    const auto spare = std::find_if(spares.begin(), spares.end(), [](const Bytes& b) { return b.use_count() == 1; });
    Bytes free = spare == spares.end() ? std::make_shared<std::vector<char>>(bytes->size()) : std::move(*spare);
    if (spare != spares.end())
        spares.erase(spare);
    spares.push_back(std::exchange(bytes, std::move(free)));
}

// Makes the window start at `offset`, keeping what it holds from there on, and fills it from the file.
bool MessageScanner::load(qint64 offset)
{
    std::size_t kept = 0;
    const char* before = m_buffer->data(); // kept alive among the spares when a span holds it
    own(m_buffer, m_spares);
    if (offset >= m_bufferOffset && offset < bufferEnd()) {
        kept = std::size_t(bufferEnd() - offset);
        std::memmove(m_buffer->data(), before + (offset - m_bufferOffset), kept);
    }
    m_bufferOffset = offset;
    m_used = kept;
    std::vector<char>& buffer = *m_buffer;
    while (m_used < buffer.size() && bufferEnd() < m_limit) {
        const std::size_t want = std::min(buffer.size() - m_used, std::size_t(m_limit - bufferEnd()));
        const ssize_t got = ::pread(m_fd, buffer.data() + m_used, want, bufferEnd());
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            m_failed = true;
            m_error = errno;
            return false;
        }
        if (got == 0) {
            m_limit = bufferEnd(); // the file was cut short while it was read
            break;
        }
        m_used += std::size_t(got);
    }
    return true;
}

// The offset of the first `needle` at or after `from`, moving the window on as far as it must; -1 when
// there is none before the end, or reading failed.
qint64 MessageScanner::find(qint64 from, std::string_view needle, qint64 before)
{
    // A needle that starts before `before` ends before `end`.
    const qint64 end = before > m_limit ? m_limit : before + qint64(needle.size()) - 1;
    for (;;) {
        if ((from < m_bufferOffset || from > bufferEnd()) && !load(from))
            return -1;
        const char* base = m_buffer->data();
        const qint64 searched = std::min(bufferEnd(), end);
        const char* hit = from < searched
            ? findNeedle(base + (from - m_bufferOffset), std::size_t(searched - from), needle)
            : nullptr;
        if (hit)
            return m_bufferOffset + (hit - base);
        if (bufferEnd() >= std::min(m_limit, end))
            return -1;
        // A needle may begin in the last bytes; a few more before them are kept for the empty line
        // before a separator.
        const qint64 resume = std::max(from, bufferEnd() - qint64(needle.size()) + 1);
        if (!load(std::max(m_bufferOffset, resume - 8)))
            return -1;
        from = resume;
    }
}

Result<bool> MessageScanner::next(MessageSpan& span)
{
    const auto failure = [this]() -> Result<bool> {
        return Error { Error::Code::Unreadable, QString(), QString::fromLocal8Bit(std::strerror(m_error)) };
    };
    span.headBytes.reset(); // the window moves on without a copy when no span holds it
    if (m_failed)
        return failure();
    if (m_next < 0 || m_next >= std::min(m_limit, m_stop))
        return false;
    qint64 start = m_next;
    const bool roomy = bufferEnd() - start >= qint64(kHeadCap + 65536) || bufferEnd() >= m_limit;
    if ((start < m_bufferOffset || start >= bufferEnd() || !roomy) && !load(start))
        return failure();
    if (m_seek || bufferEnd() - start < 5
        || std::memcmp(m_buffer->data() + (start - m_bufferOffset), "From ", 5) != 0) {
        // Text before the first separator of a file, or of a piece of it.
        m_seek = false;
        start = find(start, kSeparator, m_stop - 1);
        if (start < 0)
            return m_failed ? failure() : Result<bool>(false);
        m_next = start + 1;
        return next(span);
    }

    span.offset = start;
    const char* line = m_buffer->data() + (start - m_bufferOffset);
    const std::size_t available = std::size_t(bufferEnd() - start);
    const char* lineEnd = static_cast<const char*>(std::memchr(line, '\n', available));
    // Into the span's own bytes, which a scan reading span after span into one keeps from message to message.
    span.fromLine.resize(qsizetype(std::min<std::size_t>(lineEnd ? lineEnd - line : available, 1024)));
    std::memcpy(span.fromLine.data(), line, std::size_t(span.fromLine.size()));
    if (span.fromLine.endsWith('\r'))
        span.fromLine.chop(1);
    const qint64 newline = lineEnd ? start + (lineEnd - line) : find(bufferEnd(), "\n");
    if (m_failed)
        return failure();
    span.contentStart = newline < 0 ? m_limit : newline + 1;
    // The window holds at least half its size of the message's first bytes, however long the separator line.
    const bool shortHead
        = bufferEnd() < m_limit && bufferEnd() - span.contentStart < qint64(std::min(kHeadCap, m_buffer->size() / 2));
    // The window keeps the separator line's own line feed: the search below starts on it.
    if ((span.contentStart > bufferEnd() || shortHead) && !load(span.contentStart - 1))
        return failure();

    // The next separator: within the window, or further on, after the message's first bytes are kept.
    const qint64 searchFrom = span.contentStart - 1;
    const char* base = m_buffer->data();
    const char* hit = searchFrom < bufferEnd()
        ? findNeedle(base + (searchFrom - m_bufferOffset), std::size_t(bufferEnd() - searchFrom), kSeparator)
        : nullptr;
    qint64 separator = hit ? m_bufferOffset + (hit - base) + 1 : -1;
    bool headInWindow = true;
    if (!hit && bufferEnd() < m_limit) {
        const std::size_t kept = std::min(kHeadCap, std::size_t(bufferEnd() - span.contentStart));
        own(m_head, m_headSpares);
        m_head->assign(base + (span.contentStart - m_bufferOffset), base + (span.contentStart - m_bufferOffset) + kept);
        headInWindow = false;
        const qint64 found = find(std::max(searchFrom, bufferEnd() - qint64(kSeparator.size()) + 1), kSeparator);
        if (m_failed)
            return failure();
        separator = found < 0 ? -1 : found + 1;
    }
    span.end = separator < 0 ? m_limit : separator;
    const auto byteAt
        = [this](qint64 offset) { return offset >= m_bufferOffset && offset < bufferEnd() ? at(offset) : '\0'; };
    // The empty line before the separator (or at the end of the file) is the file's.
    if (span.end - 1 >= span.contentStart && byteAt(span.end - 1) == '\n') {
        if (byteAt(span.end - 2) == '\n')
            span.end -= 1;
        else if (span.end - 2 >= span.contentStart && byteAt(span.end - 2) == '\r' && byteAt(span.end - 3) == '\n')
            span.end -= 2;
    }
    const std::size_t length = std::size_t(span.end - span.contentStart);
    span.head = headInWindow ? std::string_view(m_buffer->data() + (span.contentStart - m_bufferOffset),
                    std::min({ length, kHeadCap, std::size_t(bufferEnd() - span.contentStart) }))
                             : std::string_view(m_head->data(), std::min(length, m_head->size()));
    span.headBytes = headInWindow ? m_buffer : m_head;
    m_next = separator;
    return true;
}

namespace {

/// The bytes of an mbox file from a given offset on, read as far as a lookup needs them.
class FileBytes {
public:
    FileBytes(int fd, qint64 from, qint64 size)
        : m_fd(fd)
        , m_from(from)
        , m_size(size)
    {
    }

    // Reads on until the bytes reach `to`, or more than twice as many as held; false when the file ends
    // before its size (it was cut short meanwhile) or reading fails (error() tells).
    bool readTo(qint64 to)
    {
        const qint64 target = std::min(m_size, std::max(to, m_from + 2 * m_bytes.size()));
        if (target <= end())
            return true;
        const qsizetype used = m_bytes.size();
        m_bytes.resize(qsizetype(target - m_from));
        for (qsizetype at = used; at < m_bytes.size();) {
            const ssize_t got = ::pread(m_fd, m_bytes.data() + at, std::size_t(m_bytes.size() - at), m_from + at);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0) {
                m_error = got < 0 ? errno : 0;
                m_bytes.truncate(at);
                return false;
            }
            at += got;
        }
        return true;
    }
    qint64 end() const { return m_from + m_bytes.size(); }
    bool atEnd() const { return end() >= m_size; }
    char at(qint64 offset) const { return m_bytes[qsizetype(offset - m_from)]; }
    const char* data(qint64 offset) const { return m_bytes.constData() + (offset - m_from); }
    int error() const { return m_error; }
    // The bytes from `from` to `to`; the object is empty afterwards.
    QByteArray take(qint64 from, qint64 to)
    {
        QByteArray bytes = std::move(m_bytes);
        bytes.truncate(qsizetype(to - m_from));
        bytes.remove(0, qsizetype(from - m_from)); // moves where the bytes start, copies nothing
        return bytes;
    }

    static constexpr qint64 kFirstRead = 16 * 1024; // most messages fit, with their separator line

private:
    int m_fd;
    qint64 m_from;
    qint64 m_size;
    QByteArray m_bytes;
    int m_error = 0;
};

// The first `needle` at or after `from` in `file`, read on as far as needed; -1 when there is none.
qint64 findInFile(FileBytes& file, qint64 from, std::string_view needle, bool& failed)
{
    for (qint64 searched = from;;) {
        if (const char* hit
            = findNeedle(file.data(searched), std::size_t(std::max<qint64>(file.end() - searched, 0)), needle))
            return searched + (hit - file.data(searched));
        if (file.atEnd())
            return -1;
        searched = std::max(from, file.end() - qint64(needle.size()) + 1);
        if (!file.readTo(file.end() + 1)) {
            failed = true;
            return -1;
        }
    }
}

} // namespace

Result<bool> readMessageAt(int fd, qint64 size, qint64 offset, MessageSpan& span, QByteArray& message)
{
    if (offset < 0 || offset >= size)
        return false;
    // A message starts at a line's start: on the line feed before it, or at the file's start.
    const qint64 from = std::max<qint64>(offset - 1, 0);
    FileBytes file(fd, from, size);
    bool failed = !file.readTo(from + FileBytes::kFirstRead);
    const bool there = !failed && file.end() >= offset + 5 && (offset == 0 || file.at(from) == '\n')
        && std::memcmp(file.data(offset), "From ", 5) == 0;
    const qint64 newline = there ? findInFile(file, offset, "\n", failed) : -1;
    span.contentStart = newline < 0 ? size : newline + 1;
    const qint64 separator = there && !failed ? findInFile(file, span.contentStart - 1, kSeparator, failed) : -1;
    if (!there || failed) {
        if (file.error() != 0)
            return Error { Error::Code::Unreadable, QString(), QString::fromLocal8Bit(std::strerror(file.error())) };
        return false;
    }
    span.offset = offset;
    span.end = separator < 0 ? size : separator + 1;
    // The empty line before the separator (or at the end of the file) is the file's.
    if (span.end - 1 >= span.contentStart && file.at(span.end - 1) == '\n') {
        if (file.at(span.end - 2) == '\n')
            span.end -= 1;
        else if (span.end - 2 >= span.contentStart && file.at(span.end - 2) == '\r' && file.at(span.end - 3) == '\n')
            span.end -= 2;
    }
    const qint64 lineEnd = newline < 0 ? size : newline;
    span.fromLine = QByteArray(file.data(offset), qsizetype(std::min<qint64>(lineEnd - offset, 1024)));
    if (span.fromLine.endsWith('\r'))
        span.fromLine.chop(1);
    message = file.take(span.contentStart, span.end);
    span.head = std::string_view(message.constData(), std::size_t(message.size()));
    span.headBytes.reset();
    return true;
}

void unquoteFromLines(QByteArray& message)
{
    // Most messages hold no quoted line: one quick look for one decides (QByteArray::contains hashes every
    // position, and memmem is several times slower than findNeedle on mail).
    const qsizetype size = message.size();
    if (!findNeedle(message.constData(), std::size_t(size), ">From "))
        return;
    char* data = message.data();
    qsizetype out = 0;
    for (qsizetype in = 0; in < size;) {
        qsizetype quotes = in;
        while (quotes < size && data[quotes] == '>')
            ++quotes;
        if (quotes > in && size - quotes >= 5 && std::memcmp(data + quotes, "From ", 5) == 0)
            ++in;
        const char* newline = static_cast<const char*>(std::memchr(data + in, '\n', std::size_t(size - in)));
        const qsizetype stop = newline ? newline - data + 1 : size;
        std::memmove(data + out, data + in, std::size_t(stop - in));
        out += stop - in;
        in = stop;
    }
    message.truncate(out);
}

std::optional<qint64> fromLineDate(std::string_view fromLine)
{
    static constexpr std::string_view kMonths = "janfebmaraprmayjunjulaugsepoctnovdec";
    static constexpr std::string_view kDays = "montuewedthufrisatsun";
    fromLine.remove_prefix(std::min<std::size_t>(5, fromLine.size()));
    // The words of the line one by one, an empty view after the last (read for every message: no list).
    const auto nextToken = [&fromLine]() -> std::string_view {
        const std::size_t start = std::min(fromLine.find_first_not_of(" \t"), fromLine.size());
        fromLine.remove_prefix(start);
        const std::size_t end = std::min(fromLine.find_first_of(" \t"), fromLine.size());
        const std::string_view token = fromLine.substr(0, end);
        fromLine.remove_prefix(end);
        return token;
    };
    const auto isName = [](std::string_view token, std::string_view names) { return nameIndex(token, names) > 0; };
    const auto digits = [](std::string_view token) {
        return !token.empty() && token.find_first_not_of("0123456789") == std::string_view::npos;
    };
    // Most lines are a sender without white space (not a day name) and the date as asctime() writes it,
    // "Thu Mar  5 10:00:00 2026": its fields are taken at their places, where the reading below finds the
    // same ones word by word. What it would not take is left to it.
    constexpr std::size_t kAsctime = 24;
    const auto digitsAt = [&fromLine](std::size_t from, std::size_t count) {
        for (std::size_t i = from; i < from + count; ++i)
            if (fromLine[i] < '0' || fromLine[i] > '9')
                return false;
        return true;
    };
    const auto numberAt = [&fromLine](std::size_t from, std::size_t count) {
        int number = 0;
        for (std::size_t i = from; i < from + count; ++i)
            number = number * 10 + (fromLine[i] == ' ' ? 0 : fromLine[i] - '0');
        return number;
    };
    const auto firstBlank = [&fromLine] {
        return std::size_t(std::find_if(fromLine.begin(), fromLine.end(), [](char c) { return c == ' ' || c == '\t'; })
            - fromLine.begin());
    };
    if (const std::size_t at = fromLine.size() - kAsctime; fromLine.size() > kAsctime + 1 && fromLine[at - 1] == ' '
        && firstBlank() == at - 1 && !isName(fromLine, kDays) && isName(fromLine.substr(at, 3), kDays)
        && fromLine[at + 3] == ' ' && fromLine[at + 7] == ' ' && (fromLine[at + 8] == ' ' || digitsAt(at + 8, 1))
        && digitsAt(at + 9, 1) && fromLine[at + 10] == ' ' && digitsAt(at + 11, 2) && fromLine[at + 13] == ':'
        && digitsAt(at + 14, 2) && fromLine[at + 16] == ':' && digitsAt(at + 17, 2) && fromLine[at + 19] == ' '
        && digitsAt(at + 20, 4)) {
        const int year = numberAt(at + 20, 4), hour = numberAt(at + 11, 2), minute = numberAt(at + 14, 2),
                  second = numberAt(at + 17, 2);
        const std::chrono::year_month_day date { std::chrono::year(year),
            std::chrono::month(unsigned(nameIndex(fromLine.substr(at + 4, 3), kMonths))),
            std::chrono::day(unsigned(numberAt(at + 8, 2))) };
        if (year >= 1000 && date.ok() && hour <= 23 && minute <= 59 && second <= 60) // a leap second is 60
            return qint64(std::chrono::sys_days(date).time_since_epoch().count()) * 86400 + hour * 3600 + minute * 60
                + second;
    }
    std::string_view month, day, time, year, zone;
    // The sender comes first, unless the line has none and starts with the day of the week.
    std::string_view token = nextToken();
    if (!token.empty() && !isName(token, kDays))
        token = nextToken();
    for (; !token.empty(); token = nextToken()) {
        if (month.empty() && token.size() == 3 && isName(token, kMonths))
            month = token;
        else if (day.empty() && token.size() <= 2 && digits(token))
            day = token;
        else if (time.empty() && token.find(':') != std::string_view::npos)
            time = token;
        else if (year.empty() && token.size() == 4 && digits(token))
            year = token;
        else if (zone.empty() && !time.empty()
            && (token.starts_with('+') || token.starts_with('-') || !isName(token, kDays)))
            zone = token;
    }
    if (month.empty() || day.empty() || time.empty() || year.empty())
        return std::nullopt;
    thread_local std::string text; // read for every message: no allocation each time
    text.clear();
    for (std::string_view part : { day, month, year, time, zone })
        (text += part) += ' ';
    return maildir::parseRfc5322Date(text);
}

namespace {

constexpr quint64 kFnvBasis = 14695981039346656037ull, kFnvPrime = 1099511628211ull; // FNV-1a, 64 bits

// Calls `add` with each run of bytes the check of `span` reads: the "From " line, then the first 256 bytes
// of the lines after it, without their line ends and without Thunderbird's status lines.
template <class Add> void forEachCheckedRun(const MessageSpan& span, Add&& add)
{
    add(std::string_view(span.fromLine.constData(), std::size_t(span.fromLine.size())));
    std::size_t counted = 0;
    forEachLine(span.head, [&](std::string_view line) {
        if (startsWithNoCase(line, "X-Mozilla-Status") || startsWithNoCase(line, "X-Mozilla-Keys"))
            return true;
        line = line.substr(0, 256 - counted);
        add(line);
        counted += line.size();
        return counted < 256;
    });
}

quint64 addToHash(quint64 hash, std::string_view bytes)
{
    for (char c : bytes)
        hash = (hash ^ quint8(c)) * kFnvPrime;
    return hash;
}

// The hash in 16 lower-case hex digits.
CheckText checkText(quint64 hash)
{
    CheckText text;
    for (auto digit = text.rbegin(); digit != text.rend(); ++digit, hash >>= 4)
        *digit = "0123456789abcdef"[hash & 15];
    return text;
}

} // namespace

QByteArray firstBytesCheck(const MessageSpan& span)
{
    quint64 hash = kFnvBasis;
    forEachCheckedRun(span, [&hash](std::string_view run) { hash = addToHash(hash, run); });
    const CheckText text = checkText(hash);
    return QByteArray(text.data(), qsizetype(text.size()));
}

void CheckBatch::add(const MessageSpan& span)
{
    forEachCheckedRun(span, [this](std::string_view run) { m_bytes.append(run); });
    m_ends.push_back(m_bytes.size());
}

std::vector<CheckText> CheckBatch::take()
{
    // Each byte of FNV waits for the multiplication before it: four messages hashed side by side keep the
    // multiplier busy, about three times as fast as one after the other.
    constexpr std::size_t kLanes = 4;
    std::vector<CheckText> checks;
    checks.reserve(m_ends.size());
    const auto bytesOf = [this](std::size_t i) {
        const std::size_t begin = i == 0 ? 0 : m_ends[i - 1];
        return std::string_view(m_bytes).substr(begin, m_ends[i] - begin);
    };
    std::size_t i = 0;
    for (; i + kLanes <= m_ends.size(); i += kLanes) {
        const std::string_view a = bytesOf(i), b = bytesOf(i + 1), c = bytesOf(i + 2), d = bytesOf(i + 3);
        const std::size_t common = std::min({ a.size(), b.size(), c.size(), d.size() });
        quint64 ha = kFnvBasis, hb = kFnvBasis, hc = kFnvBasis, hd = kFnvBasis; // in registers, not an array
        for (std::size_t at = 0; at < common; ++at) {
            ha = (ha ^ quint8(a[at])) * kFnvPrime;
            hb = (hb ^ quint8(b[at])) * kFnvPrime;
            hc = (hc ^ quint8(c[at])) * kFnvPrime;
            hd = (hd ^ quint8(d[at])) * kFnvPrime;
        }
        for (const auto& [hash, bytes] : { std::pair(ha, a), std::pair(hb, b), std::pair(hc, c), std::pair(hd, d) })
            checks.push_back(checkText(addToHash(hash, bytes.substr(common))));
    }
    for (; i < m_ends.size(); ++i)
        checks.push_back(checkText(addToHash(kFnvBasis, bytesOf(i))));
    m_bytes.clear();
    m_ends.clear();
    return checks;
}

bool isExpunged(std::string_view headers)
{
    bool expunged = false;
    forEachLine(headers, [&expunged](std::string_view line) {
        if (!startsWithNoCase(line, "X-Mozilla-Status:"))
            return true;
        line.remove_prefix(17);
        const std::string value(line.substr(
            line.find_first_not_of(" \t") == std::string_view::npos ? line.size() : line.find_first_not_of(" \t")));
        expunged = (std::strtoul(value.c_str(), nullptr, 16) & 0x0008) != 0;
        return false;
    });
    return expunged;
}

} // namespace quillbox::mail::mbox

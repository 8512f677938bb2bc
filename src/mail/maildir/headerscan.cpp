// SPDX-License-Identifier: MIT
#include "mail/maildir/headerscan.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <unistd.h>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace quillbox::mail::maildir {

namespace {

bool isWhite(char c)
{
    return c == ' ' || c == '\t';
}
bool isNameChar(char c)
{
    // One lookup: every line of a header block is read up to its colon.
    static constexpr auto kNameChars = [] {
        std::array<bool, 256> chars {};
        for (int c = 33; c < 127; ++c)
            chars[std::size_t(c)] = c != ':';
        return chars;
    }();
    return kNameChars[static_cast<unsigned char>(c)];
}

// How many of the `len` bytes at `line` are name characters before the first that is none. Sixteen bytes
// are looked at a time where `readable` bytes (at least `len`) may be read: most names are shorter.
std::size_t nameLength(const char* line, std::size_t len, std::size_t readable)
{
    std::size_t i = 0;
#ifdef __SSE2__
    for (; readable - i >= 16; i += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(line + i));
        // Bytes above 0x7f compare as negative numbers: no name characters.
        const __m128i nameChars = _mm_andnot_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(':')),
            _mm_and_si128(_mm_cmpgt_epi8(bytes, _mm_set1_epi8(' ')), _mm_cmplt_epi8(bytes, _mm_set1_epi8(0x7f))));
        if (const unsigned others = ~unsigned(_mm_movemask_epi8(nameChars)) & 0xffff)
            return std::min(i + __builtin_ctz(others), len);
        if (i + 16 >= len)
            return len;
    }
#endif
    while (i < len && isNameChar(line[i]))
        ++i;
    return i;
}

// The colon of a field line ("Name:" with optional white space before the colon, as the obsolete
// syntax allows), or npos when the line is no field. `readable` as for nameLength().
std::size_t colonOf(const char* line, std::size_t len, std::size_t readable, std::size_t& nameLen)
{
    std::size_t i = nameLength(line, len, readable);
    if (i == 0)
        return std::string_view::npos;
    nameLen = i;
    while (i < len && isWhite(line[i]))
        ++i;
    return i < len && line[i] == ':' ? i : std::string_view::npos;
}

// Whether an unfinished line can still turn out to be a field or a continuation, so that reading on is worth it.
bool mayBeFieldLine(const char* line, std::size_t len, bool first)
{
    if (len == 0 || isWhite(line[0]))
        return true;
    if (first
        && std::string_view(line, std::min<std::size_t>(len, 5))
            == std::string_view("From ", std::min<std::size_t>(len, 5)))
        return true;
    std::size_t i = 0;
    while (i < len && isNameChar(line[i]))
        ++i;
    if (i == 0)
        return line[0] == '\r' && len == 1;
    while (i < len && isWhite(line[i]))
        ++i;
    return i == len || line[i] == ':';
}

// Whether `text`, a field name or a word of letters, is `lowerCase` (lower-case letters and '-') in any case.
// Setting the case bit of each byte folds the letters and keeps '-', and no other byte of a field name folds
// onto one of them: eight bytes are compared at a time.
bool sameText(std::string_view text, std::string_view lowerCase)
{
    if (text.size() != lowerCase.size())
        return false;
    constexpr std::uint64_t kCaseBits = 0x2020202020202020;
    std::size_t i = 0;
    for (; i + 8 <= text.size(); i += 8) {
        std::uint64_t chunk = 0, lower = 0;
        std::memcpy(&chunk, text.data() + i, 8);
        std::memcpy(&lower, lowerCase.data() + i, 8);
        if ((chunk | kCaseBits) != lower)
            return false;
    }
    for (; i < text.size(); ++i)
        if ((text[i] | 0x20) != lowerCase[i])
            return false;
    return true;
}

int fieldIndex(const char* name, std::size_t len)
{
    // In the order of HeaderField. The lengths leave two names to compare at most, and those differ in their
    // first letter.
    static constexpr std::string_view kNames[] = { "date", "from", "to", "subject", "content-type", "received", "cc",
        "bcc", "content-transfer-encoding", "content-disposition", "x-mozilla-status" };
    for (std::size_t i = 0; i < std::size(kNames); ++i)
        if (kNames[i].size() == len && sameText(std::string_view(name, len), kNames[i]))
            return int(i);
    return -1;
}

} // namespace

void HeaderScan::closeField(std::size_t end)
{
    if (m_open >= 0)
        m_fields[std::size_t(m_open)].end = end;
    m_open = -1;
}

void HeaderScan::scan(const char* data, std::size_t size, bool atEnd)
{
    m_needMore = false;
    auto endBlock = [this](std::size_t at, bool atEmptyLine = false) {
        closeField(at);
        m_blockLength = at;
        m_plainBlock = m_plainBlock && atEmptyLine;
    };
    while (m_pos < size) {
        const char* line = data + m_pos;
        const auto* newline = static_cast<const char*>(std::memchr(line, '\n', size - m_pos));
        if (!newline && !atEnd) {
            if (!mayBeFieldLine(line, size - m_pos, m_pos == 0))
                return endBlock(m_pos);
            m_needMore = true;
            return;
        }
        const std::size_t next = newline ? std::size_t(newline - data) + 1 : size;
        std::size_t len = (newline ? std::size_t(newline - data) : size) - m_pos;
        if (len > 0 && line[len - 1] == '\r')
            --len;
        if (len == 0)
            return endBlock(m_pos, true);
        if (isWhite(line[0])) {
            if (m_pos == 0)
                m_plainBlock = false; // the continuation of no field
            m_pos = next;
            continue;
        }
        if (m_pos == 0 && len >= 5 && std::memcmp(line, "From ", 5) == 0) {
            m_plainBlock = false; // an mbox separator
            m_pos = next;
            continue;
        }
        std::size_t nameLen = 0;
        const std::size_t colon = colonOf(line, len, size - m_pos, nameLen);
        if (colon == std::string_view::npos)
            return endBlock(m_pos); // the body starts without an empty line
        closeField(m_pos);
        const int index = fieldIndex(line, nameLen);
        if (index >= 0) {
            Range& field = m_fields[std::size_t(index)];
            if (field.found) {
                field.repeated = true;
            } else {
                field = { m_pos + colon + 1, next, true, false };
                m_open = index;
            }
        }
        m_pos = next;
    }
    if (atEnd)
        endBlock(size);
    else
        m_needMore = true;
}

std::optional<std::string> HeaderScan::value(const char* data, HeaderField field) const
{
    std::string unfolded;
    const std::optional<std::string_view> text = value(data, field, unfolded);
    if (!text)
        return std::nullopt;
    if (text->data() != unfolded.data())
        unfolded = *text;
    return unfolded;
}

std::optional<std::string_view> HeaderScan::value(const char* data, HeaderField field, std::string& unfolded) const
{
    const std::optional<std::string_view> raw = rawValue(data, field);
    return raw ? std::optional(unfold(*raw, unfolded)) : std::nullopt;
}

std::optional<std::string_view> HeaderScan::rawValue(const char* data, HeaderField field) const
{
    const Range& range = m_fields[std::size_t(field)];
    if (!range.found)
        return std::nullopt;
    return std::string_view(data + range.begin, range.end - range.begin);
}

namespace {

inline bool isDropped(char c)
{
    return c == '\r' || c == '\n' || c == '\0';
}

// The first line break or NUL byte in [at, end), or end. Most values have none: sixteen bytes are looked
// at a time, the last sixteen of a value of that length or more overlapping those looked at already.
const char* firstDropped(const char* at, const char* end)
{
#ifdef __SSE2__
    const auto droppedIn = [](const char* block) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block));
        return unsigned(_mm_movemask_epi8(_mm_or_si128(
            _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('\r')), _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\n'))),
            _mm_cmpeq_epi8(bytes, _mm_setzero_si128()))));
    };
    if (end - at >= 16) {
        for (; end - at > 16; at += 16)
            if (const unsigned found = droppedIn(at))
                return at + __builtin_ctz(found);
        const unsigned found = droppedIn(end - 16);
        return found ? end - 16 + __builtin_ctz(found) : end;
    }
#endif
    while (at != end && !isDropped(*at))
        ++at;
    return at;
}

} // namespace

std::string_view unfold(std::string_view text, std::string& unfolded)
{
    // NUL bytes are dropped, so they count as white space at either end.
    while (!text.empty() && (isWhite(text.front()) || isDropped(text.front())))
        text.remove_prefix(1);
    while (!text.empty() && (isWhite(text.back()) || isDropped(text.back())))
        text.remove_suffix(1);
    const char* const end = text.data() + text.size();
    const char* from = text.data();
    const char* to = firstDropped(from, end);
    if (to == end)
        return text;
    // Unfolding removes the line breaks and keeps the white space.
    unfolded.clear();
    unfolded.reserve(text.size());
    for (;;) {
        unfolded.append(from, to);
        if (to == end)
            return unfolded;
        from = to + 1;
        to = firstDropped(from, end);
    }
}

bool readHeaderBlock(int fd, std::vector<char>& buffer, HeaderScan& scan, std::size_t cap)
{
    // Most header blocks fit in the first page, and copying more of a file the search does not look at
    // costs: what does not fit is read on in larger steps.
    constexpr std::size_t kFirst = 4 * 1024, kChunk = 16 * 1024;
    std::size_t used = 0;
    for (;;) {
        const std::size_t want = std::min(used == 0 ? kFirst : kChunk, cap - used);
        if (buffer.size() < used + want)
            buffer.resize(used + want);
        const ssize_t got = ::read(fd, buffer.data() + used, want);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        used += std::size_t(got);
        scan.scan(buffer.data(), used, got == 0 || used >= cap);
        if (!scan.needMore())
            break;
    }
    buffer.resize(used);
    return true;
}

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}
bool isLetter(char c)
{
    return (c | 0x20) >= 'a' && (c | 0x20) <= 'z';
}

// Reads a date from left to right; at the end, peek() gives a NUL, which nothing takes.
class DateCursor {
public:
    explicit DateCursor(std::string_view text)
        : m_at(text.data())
        , m_end(text.data() + text.size())
    {
    }

    char peek() const { return m_at != m_end ? *m_at : '\0'; }
    void skip() { ++m_at; }

    // White space and (nested) comments.
    void skipSpace()
    {
        int depth = 0;
        for (; m_at != m_end; ++m_at) {
            const char c = *m_at;
            if (c == '(')
                ++depth;
            else if (c == ')' && depth > 0)
                --depth;
            else if (depth == 0 && !isWhite(c) && c != '\r' && c != '\n')
                return;
        }
    }

    std::optional<int> number(std::size_t minDigits, std::size_t maxDigits)
    {
        const char* const begin = m_at;
        const char* const last = m_at + std::min(maxDigits, std::size_t(m_end - m_at));
        int value = 0;
        for (; m_at != last && isDigit(*m_at); ++m_at)
            value = value * 10 + (*m_at - '0');
        if (std::size_t(m_at - begin) < minDigits || isDigit(peek()))
            return std::nullopt;
        return value;
    }

    std::string_view word()
    {
        const char* const begin = m_at;
        while (m_at != m_end && isLetter(*m_at))
            ++m_at;
        return std::string_view(begin, std::size_t(m_at - begin));
    }

private:
    const char* m_at;
    const char* m_end;
};

// The first three letters of a word (DateCursor::word()) in lower case, as one number; 0 for a shorter word.
constexpr std::uint32_t firstThree(std::string_view word)
{
    if (word.size() < 3)
        return 0;
    const auto lower = [&](std::size_t i) { return std::uint32_t(static_cast<unsigned char>(word[i]) | 0x20); };
    return lower(0) << 16 | lower(1) << 8 | lower(2);
}

int monthOf(std::string_view word)
{
    static constexpr std::uint32_t kMonths[] = { firstThree("jan"), firstThree("feb"), firstThree("mar"),
        firstThree("apr"), firstThree("may"), firstThree("jun"), firstThree("jul"), firstThree("aug"),
        firstThree("sep"), firstThree("oct"), firstThree("nov"), firstThree("dec") };
    const auto* month = std::find(std::begin(kMonths), std::end(kMonths), firstThree(word));
    return month == std::end(kMonths) ? 0 : int(month - std::begin(kMonths)) + 1;
}

bool isDayName(std::string_view word)
{
    static constexpr std::uint32_t kDays[] = { firstThree("mon"), firstThree("tue"), firstThree("wed"),
        firstThree("thu"), firstThree("fri"), firstThree("sat"), firstThree("sun") };
    return std::find(std::begin(kDays), std::end(kDays), firstThree(word)) != std::end(kDays);
}

// Minutes east of UTC of an alphabetic zone; the military letters and unknown names count as UTC.
int zoneMinutes(std::string_view word)
{
    static constexpr std::pair<std::string_view, int> kZones[]
        = { { "est", -5 * 60 }, { "edt", -4 * 60 }, { "cst", -6 * 60 }, { "cdt", -5 * 60 }, { "mst", -7 * 60 },
              { "mdt", -6 * 60 }, { "pst", -8 * 60 }, { "pdt", -7 * 60 } };
    for (const auto& [name, minutes] : kZones)
        if (sameText(word, name))
            return minutes;
    return 0;
}

// Days since 1970-01-01 of a proleptic Gregorian date.
qint64 daysFromCivil(int y, int m, int d)
{
    y -= m <= 2;
    const qint64 era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = unsigned(y - era * 400);
    const unsigned doy = unsigned((153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1);
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + qint64(doe) - 719468;
}

int daysInMonth(int year, int month)
{
    static constexpr int kDays[] = { 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31 };
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

// A date's fields as the text gives them; `offset` in minutes east of UTC.
struct DateFields {
    int day = 0, month = 0, year = 0, hour = 0, minute = 0, second = 0, offset = 0;
};

// Seconds since the epoch of `date`, nullopt for an impossible one. Two- and three-digit years count from
// 1900, those below 50 from 2000.
std::optional<qint64> secondsOf(DateFields date)
{
    if (date.year < 50)
        date.year += 2000;
    else if (date.year < 1000)
        date.year += 1900;
    if (date.day < 1 || date.day > daysInMonth(date.year, date.month) || date.hour > 23 || date.minute > 59
        || date.second > 60)
        return std::nullopt;
    return daysFromCivil(date.year, date.month, date.day) * 86400 + date.hour * 3600 + date.minute * 60 + date.second
        - qint64(date.offset) * 60;
}

// The fields of a date in the form nearly all mail has, "Tue, 1 Jul 2003 10:52:37 +0200" (the day name may
// be left out, the day have two digits, the zone be missing and count as UTC, as an mbox separator's date
// has none), read at their places; nothing for any other form, an unknown day or month name or an
// impossible zone, which the cursor reads (or refuses) as it reads any date.
std::optional<DateFields> commonDateOf(std::string_view text)
{
    if (text.size() >= 5 && text[3] == ',' && text[4] == ' ') {
        if (!isDayName(text.substr(0, 3)))
            return std::nullopt;
        text.remove_prefix(5);
    }
    // The places of the fields after a one-digit day; a two-digit day moves them on by one.
    constexpr std::size_t kUpToTime = std::string_view("1 Jul 2003 10:52:37").size();
    const std::size_t shift = text.size() > 1 && text[1] != ' ' ? 1 : 0;
    if (text.size() < kUpToTime + shift)
        return std::nullopt;
    const char* const at = text.data() + shift;
    if (at[1] != ' ' || at[5] != ' ' || at[10] != ' ' || at[13] != ':' || at[16] != ':')
        return std::nullopt;
    const std::string_view zoneText = text.substr(kUpToTime + shift); // " +0200", or spaces only
    const bool zoned = zoneText.size() == 6 && zoneText[0] == ' ' && (zoneText[1] == '+' || zoneText[1] == '-');
    if (!zoned && zoneText.find_first_not_of(' ') != std::string_view::npos)
        return std::nullopt;
    bool notDigit = false;
    const auto number = [&notDigit](const char* from, std::size_t count) {
        int value = 0;
        for (std::size_t i = 0; i < count; ++i) {
            const unsigned digit = unsigned(from[i] - '0');
            notDigit |= digit > 9;
            value = value * 10 + int(digit);
        }
        return value;
    };
    DateFields date;
    date.day = number(text.data(), 1 + shift);
    date.month = monthOf(std::string_view(at + 2, 3)); // names only letters
    date.year = number(at + 6, 4);
    date.hour = number(at + 11, 2);
    date.minute = number(at + 14, 2);
    date.second = number(at + 17, 2);
    const int zone = zoned ? number(zoneText.data() + 2, 4) : 0;
    if (notDigit || date.month == 0 || zone % 100 >= 60)
        return std::nullopt;
    date.offset = zoned ? (zoneText[1] == '-' ? -1 : 1) * (zone / 100 * 60 + zone % 100) : 0;
    return date;
}

} // namespace

std::optional<qint64> parseRfc5322Date(std::string_view text)
{
    if (const std::optional<DateFields> date = commonDateOf(text))
        return secondsOf(*date);
    DateCursor in(text);
    in.skipSpace();
    if (isLetter(in.peek())) {
        if (!isDayName(in.word()))
            return std::nullopt;
        in.skipSpace();
        if (in.peek() == ',')
            in.skip();
        in.skipSpace();
    }
    const auto day = in.number(1, 2);
    in.skipSpace();
    const int month = monthOf(in.word());
    in.skipSpace();
    auto year = in.number(2, 4);
    in.skipSpace();
    const auto hour = in.number(1, 2);
    if (!day || !month || !year || !hour || in.peek() != ':')
        return std::nullopt;
    in.skip();
    const auto minute = in.number(2, 2);
    std::optional<int> second = 0;
    if (in.peek() == ':') {
        in.skip();
        second = in.number(2, 2);
    }
    if (!minute || !second)
        return std::nullopt;
    in.skipSpace();

    int offset = 0;
    if (in.peek() == '+' || in.peek() == '-') {
        const int sign = in.peek() == '-' ? -1 : 1;
        in.skip();
        const auto zone = in.number(4, 4);
        if (!zone || *zone % 100 >= 60)
            return std::nullopt;
        offset = sign * (*zone / 100 * 60 + *zone % 100);
    } else {
        offset = zoneMinutes(in.word());
    }

    return secondsOf({ *day, month, *year, *hour, *minute, *second, offset });
}

} // namespace quillbox::mail::maildir

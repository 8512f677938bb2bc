// SPDX-License-Identifier: MIT
#include <gmime/gmime.h>

#include "mail/maildir/partsplit.h"

#include "core/gmime.h"
#include "core/gobjectptr.h"

#include <cstring>
#include <string_view>

namespace quillbox::mail::maildir {

namespace {

// How a line of content ends the content being read, as GMime's parser names it: a boundary of the
// innermost open multipart (Immediate), of one around it (Parent), each also as the closing "--" form (End),
// or the end of the message.
enum class Found { None, Eos, Immediate, ImmediateEnd, Parent, ParentEnd };

constexpr int kMaxDepth = 100;

// A message this reading leaves to GMime's whole parse.
struct Declined { };

bool isLwsp(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// RFC 2046's boundary characters, which a quoted Content-Type parameter gives back as they are.
bool plainBoundary(std::string_view boundary)
{
    if (boundary.empty() || boundary.size() > 200 || boundary.back() == ' ')
        return false;
    for (char c : boundary)
        if (!g_ascii_isalnum(c) && !std::strchr("'()+_,-./:=? ", c))
            return false;
    return true;
}

// A multipart holding one part whose bytes follow: its boundary line, then the part.
QByteArray wrapperHead(const std::string& boundary, bool digest)
{
    return QByteArray("Content-Type: multipart/") + (digest ? "digest" : "mixed") + "; boundary=\""
        + QByteArray::fromStdString(boundary) + "\"\r\n\r\n--" + QByteArray::fromStdString(boundary) + "\r\n";
}

GPtr<GMimeObject> parsePart(const QByteArray& bytes)
{
    GPtr<GMimeStream> stream(
        g_mime_stream_mem_new_with_buffer(reinterpret_cast<const char*>(bytes.constData()), size_t(bytes.size())));
    GPtr<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
    return GPtr<GMimeObject>(g_mime_parser_construct_part(parser.get(), parserOptions()));
}

} // namespace

// Follows GMime's parser line by line (gmime-parser.c: the content scan, the boundary check, the multipart
// and attached-mail readings) without building its objects: a header block runs to its empty line whatever
// it holds, and a line of content ends the content when it is "--" and an open boundary (its closing form
// checked first), innermost first, followed by nothing but white space.
class Splitter {
public:
    Splitter(const QByteArray& raw, const PartSplit::Visit& visit)
        : m_data(raw.constData(), std::size_t(raw.size()))
        , m_visit(visit)
    {
        m_split.m_raw = raw;
    }

    std::optional<PartSplit> run()
    {
        try {
            if (!skipHeaders())
                return std::nullopt;
            GPtr<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(m_data.data(), m_pos));
            GPtr<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
            m_split.m_headers.reset(g_mime_parser_construct_message(parser.get(), parserOptions()));
            GMimeObject* body = m_split.m_headers ? g_mime_message_get_mime_part(m_split.m_headers.get()) : nullptr;
            if (!body || !GMIME_IS_MULTIPART(body) || !g_mime_object_get_content_type_parameter(body, "boundary"))
                return std::nullopt;
            multipart(body, 0);
            return std::move(m_split);
        } catch (const Declined&) {
            return std::nullopt;
        }
    }

private:
    struct Line {
        std::size_t begin, end, next; // `end` before the LF, `next` after it (both the end of the data at its end)
    };

    Line lineAt(std::size_t pos) const
    {
        const void* lf = std::memchr(m_data.data() + pos, '\n', m_data.size() - pos);
        if (!lf)
            return { pos, m_data.size(), m_data.size() };
        const std::size_t end = std::size_t(static_cast<const char*>(lf) - m_data.data());
        return { pos, end, end + 1 };
    }

    static bool isBoundary(std::string_view text, std::string_view pattern)
    {
        if (pattern.size() > text.size() || text.substr(0, pattern.size()) != pattern)
            return false;
        for (char c : text.substr(pattern.size()))
            if (!isLwsp(c))
                return false;
        return true;
    }

    std::string_view lineText(const Line& line) const
    {
        std::string_view text = m_data.substr(line.begin, line.end - line.begin);
        if (!text.empty() && text.back() == '\r')
            text.remove_suffix(1);
        return text;
    }

    std::string delimiter(std::uint32_t boundary, bool closing) const
    {
        return "--" + m_split.m_boundaries[boundary] + (closing ? "--" : "");
    }

    Found check(const Line& line)
    {
        const std::string_view text = lineText(line);
        if (text.size() < 2 || text[0] != '-' || text[1] != '-')
            return Found::None;
        for (std::size_t i = m_open.size(); i-- > 0;) {
            const bool innermost = i + 1 == m_open.size();
            for (const bool closing : { true, false }) {
                if (isBoundary(text, delimiter(m_open[i], closing))) {
                    m_matched = m_open[i];
                    return closing ? (innermost ? Found::ImmediateEnd : Found::ParentEnd)
                                   : (innermost ? Found::Immediate : Found::Parent);
                }
            }
        }
        return Found::None;
    }

    // Reads content until a line that is an open boundary, and stops at its start.
    Found scanContent()
    {
        while (m_pos < m_data.size()) {
            const Line line = lineAt(m_pos);
            if (const Found found = check(line); found != Found::None)
                return found;
            m_pos = line.next;
        }
        return Found::Eos;
    }

    bool skipLine()
    {
        const Line line = lineAt(m_pos);
        m_pos = line.next;
        return line.next > line.end;
    }

    // Reads the header block to its empty line; false when the data ends first. GMime ends the header block of
    // a part at a boundary line after its first field (with no content at all): a block with a line that
    // may be one is left to it.
    bool skipHeaders()
    {
        while (m_pos < m_data.size()) {
            const Line line = lineAt(m_pos);
            m_pos = line.next;
            if (line.next > line.end && lineText(line).empty() && line.end - line.begin <= 1)
                return true;
            if (!m_open.empty() && m_data.substr(line.begin, 2) == "--")
                throw Declined {};
        }
        return false;
    }

    // GMime's reading of the header block from `begin` to the reading position, as a part of a multipart
    // (of a multipart/digest when `digest`), or null when GMime drops the part (a field name cut off by
    // the end of the message). Owned by the returned root.
    GPtr<GMimeObject> headersOf(std::size_t begin, bool digest, GMimeObject*& part) const
    {
        GPtr<GMimeObject> root = parsePart(
            wrapperHead("part", digest) + QByteArray::fromRawData(m_data.data() + begin, qsizetype(m_pos - begin)));
        part = PartSplit::soleChild(root.get());
        return root;
    }

    // A multipart whose header block `object` holds; the reading position is at its content.
    Found multipart(GMimeObject* object, int depth)
    {
        const char* boundary = g_mime_object_get_content_type_parameter(object, "boundary");
        if (!boundary)
            return scanContent(); // all of it is the preamble
        if (depth >= kMaxDepth || !plainBoundary(boundary))
            throw Declined {};
        m_split.m_boundaries.emplace_back(boundary);
        m_open.push_back(std::uint32_t(m_split.m_boundaries.size() - 1));
        const bool digest = g_mime_content_type_is_type(g_mime_object_get_content_type(object), "multipart", "digest");
        Found found = scanContent();
        while (found == Found::Immediate) {
            if (!skipLine())
                found = Found::Eos;
            else
                found = part(digest, depth + 1);
        }
        if (found == Found::ImmediateEnd) {
            skipLine();
            m_open.pop_back();
            return scanContent(); // the epilogue
        }
        m_open.pop_back();
        if (m_open.empty() || (found != Found::Parent && found != Found::ParentEnd))
            return found;
        // The boundary of an outer multipart ended this one: it may be the next one's own.
        const std::string_view text = m_data.substr(m_pos, lineAt(m_pos).end - m_pos);
        if (isBoundary(text, delimiter(m_open.back(), found == Found::ParentEnd)))
            return found == Found::ParentEnd ? Found::ImmediateEnd : Found::Immediate;
        return found;
    }

    // A part of a multipart, from its header block at the reading position.
    Found part(bool digest, int depth)
    {
        const std::size_t begin = m_pos;
        skipHeaders();
        GMimeObject* headers = nullptr;
        const GPtr<GMimeObject> root = headersOf(begin, digest, headers);
        if (!headers)
            return Found::Eos; // GMime stops there and keeps no part
        if (GMIME_IS_MULTIPART(headers))
            return multipart(headers, depth);
        ++m_inMail;
        const Found found = GMIME_IS_MESSAGE_PART(headers) ? attachedMail(depth) : scanContent();
        --m_inMail;
        if (m_inMail == 0) {
            m_split.m_spans.push_back({ begin, found == Found::Eos ? m_data.size() : lineAt(m_pos).next,
                found == Found::Eos ? m_open.back() : m_matched, digest });
            m_visit(m_split, m_split.m_spans.size() - 1, headers);
        }
        return found;
    }

    // The content of a message/rfc822 part: a mail, unless a boundary comes first.
    Found attachedMail(int depth)
    {
        if (m_pos >= m_data.size())
            return Found::Eos;
        if (const Found found = check(lineAt(m_pos)); found != Found::None)
            return found;
        const std::size_t begin = m_pos;
        skipHeaders();
        GMimeObject* headers = nullptr;
        const GPtr<GMimeObject> root = headersOf(begin, false, headers);
        if (!headers)
            return Found::Eos;
        if (GMIME_IS_MULTIPART(headers))
            return multipart(headers, depth + 1);
        return GMIME_IS_MESSAGE_PART(headers) ? attachedMail(depth + 1) : scanContent();
    }

    std::string_view m_data;
    const PartSplit::Visit& m_visit;
    PartSplit m_split;
    std::size_t m_pos = 0;
    std::vector<std::uint32_t> m_open; // the open multiparts' boundaries, innermost last
    std::uint32_t m_matched = 0; // the boundary the last line found was
    int m_inMail = 0; // inside a part (an attached mail's parts are not the message's)
};

std::optional<PartSplit> PartSplit::of(const QByteArray& raw, const Visit& visit)
{
    parserOptions(); // GMime set up
    return Splitter(raw, visit).run();
}

QByteArray PartSplit::standalone(std::size_t part) const
{
    const Span& span = m_spans[part];
    QByteArray bytes = wrapperHead(m_boundaries[span.boundary], span.inDigest);
    bytes.append(QByteArrayView(m_raw).sliced(qsizetype(span.begin), qsizetype(span.end - span.begin)));
    return bytes;
}

GMimeObject* PartSplit::soleChild(GMimeObject* root)
{
    if (!root || !GMIME_IS_MULTIPART(root) || g_mime_multipart_get_count(GMIME_MULTIPART(root)) < 1)
        return nullptr;
    return g_mime_multipart_get_part(GMIME_MULTIPART(root), 0);
}

} // namespace quillbox::mail::maildir

// SPDX-License-Identifier: MIT
#pragma once
// A multipart message read one part at a time. GMime's parser builds an object of some KiB for every part
// (its header list, content type, disposition, streams), so a message of a hundred thousand small
// attachments took thirty times its size as a tree. Here the parts are found by their byte offsets, the
// way GMime's parser finds them (docs/format-notes.md, "Multipart boundaries"), and each is handed to
// GMime on its own when it is visited: only offsets are held per part.

#include "core/gobjectptr.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

typedef struct _GMimeObject GMimeObject;
typedef struct _GMimeMessage GMimeMessage;

namespace quillbox::mail::maildir {

class PartSplit {
public:
    /// Called for each leaf part and each attached mail of the message, in the message's order, with
    /// GMime's reading of the part's header block (its content left out): `part` numbers them from 0, and
    /// `split` already gives it standalone().
    using Visit = std::function<void(const PartSplit& split, std::size_t part, GMimeObject* headers)>;

    /// The parts of `raw`, a message whose top-level type is multipart, each visited by `visit`; nullopt
    /// when the message is no multipart, or has a boundary that cannot be written back into a Content-Type
    /// as it is read (anything but RFC 2046's characters), or nests deeper than 100 levels: GMime reads
    /// such a message whole. The parts of an attached mail are its own (the attached mail is one part).
    static std::optional<PartSplit> of(const QByteArray& raw, const Visit& visit);

    std::size_t count() const { return m_spans.size(); }

    /// The message's own header fields as GMime reads them (its From, To, Cc and Bcc).
    GMimeMessage* headers() const { return m_headers.get(); }

    /// The part `part` as a message of its own that GMime reads as a multipart of that one part, to the same
    /// object the whole message's parse gives for it: the part's bytes with the line that ends it.
    QByteArray standalone(std::size_t part) const;

    /// The one part of the multipart that `standalone` bytes hold, as GMime read it into `root` (which owns
    /// it), or null when there is none.
    static GMimeObject* soleChild(GMimeObject* root);

private:
    struct Span {
        std::size_t begin = 0; ///< the part's header block, after its boundary line
        std::size_t end = 0; ///< after the line that ends the part, or the end of the message
        std::uint32_t boundary = 0; ///< the boundary that line is (in m_boundaries)
        bool inDigest = false; ///< the part is one of a multipart/digest (no type: an attached mail)
    };
    friend class Splitter;

    QByteArray m_raw;
    GPtr<GMimeMessage> m_headers;
    std::vector<std::string> m_boundaries;
    std::vector<Span> m_spans;
};

} // namespace quillbox::mail::maildir

// SPDX-License-Identifier: MIT
#pragma once
// What the folder tree and the search need of an Outlook data file: which folders and messages lie
// below a folder, and the properties of a node. Two readers provide it: NodeDatabase (our own, fast,
// for the ANSI and Unicode formats) and libpff (any file libpff opens).

#include "core/result.h"
#include "mail/pst/properties.h"

#include <memory>
#include <optional>
#include <vector>

namespace quillbox::mail::pst {

/// Node identifiers the file format fixes, and the node types (the low five bits of an identifier).
inline constexpr quint32 kMessageStoreNid = 0x21;
inline constexpr quint32 kRootFolderNid = 0x122;
inline constexpr quint32 kNodeTypeMask = 0x1F;
inline constexpr quint32 kNodeTypeFolder = 0x02;
inline constexpr quint32 kNodeTypeSearchFolder = 0x03;
inline constexpr quint32 kNodeTypeMessage = 0x04;

inline bool isFolderNode(quint32 nid)
{
    const quint32 type = nid & kNodeTypeMask;
    return type == kNodeTypeFolder || type == kNodeTypeSearchFolder;
}
inline bool isMessageNode(quint32 nid)
{
    return (nid & kNodeTypeMask) == kNodeTypeMessage;
}

class Listing {
public:
    virtual ~Listing() = default;
    /// The folders directly below folder `nid`, in the file's order.
    virtual Result<std::vector<quint32>> subFolders(quint32 nid) const = 0;
    /// The messages of folder `nid` in the file's order; hidden (associated) messages are not among them.
    virtual Result<std::vector<quint32>> messages(quint32 nid) const = 0;
    /// The properties of node `nid`.
    virtual Result<std::unique_ptr<PropertyBag>> properties(quint32 nid) const = 0;
    /// The folder that holds message or folder `nid`, or nothing when `nid` is not in the file.
    virtual std::optional<quint32> parentOf(quint32 nid) const = 0;
};

} // namespace quillbox::mail::pst

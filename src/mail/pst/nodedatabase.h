// SPDX-License-Identifier: MIT
#pragma once
// Our own reader of an Outlook data file's node database ([MS-PST] NDB and the property contexts of
// its LTP layer), for the folder listing only. libpff reads every folder's contents table and maps the
// named properties of every message it opens, which makes a listing run at a few hundred to a few
// thousand items a second; this reader maps the file into memory, reads the node index once and then
// only the few properties the listing asks for. It knows the ANSI (32-bit) and Unicode (64-bit) formats
// with 512-byte pages; other files (Outlook 2013's 4 KiB-page OST) are listed through libpff.
// Every offset, count and size read from the file is checked against the file and the structure it
// lies in: a damaged file gives errors, never a read outside the map.

#include "mail/pst/listing.h"

#include <QFile>
#include <QSet>
#include <QString>

namespace quillbox::mail::pst {

/// The bytes at the start of a file that headerIntact() reads.
inline constexpr qsizetype kHeaderSize = 528;

/// Whether `header` (the first kHeaderSize bytes of a file) is that of an intact Outlook data file: its
/// signature and, in the formats NodeDatabase knows, its checksums. Cheap; libpff judges other formats.
bool headerIntact(QByteArrayView header);

/// Decodes a data block of a file in `encoding` ([MS-PST] 5.1, 5.2): 0 none, 1 the permutation
/// ("compressible"), 2 the cyclic coding ("high"), which is keyed by the block's identifier and is its own
/// inverse.
void decodeBlock(QByteArray& data, quint8 encoding, quint64 bid);

class NodeDatabase final : public Listing {
public:
    /// Maps the file and reads its node index. An Error when the format is not one this reader knows or
    /// the index cannot be read whole; the caller then lists the file through libpff.
    static Result<std::unique_ptr<NodeDatabase>> open(const QString& path);
    ~NodeDatabase() override;

    Result<std::vector<quint32>> subFolders(quint32 nid) const override;
    Result<std::vector<quint32>> messages(quint32 nid) const override;
    Result<std::unique_ptr<PropertyBag>> properties(quint32 nid) const override;
    std::optional<quint32> parentOf(quint32 nid) const override;

    /// A node of the index: its data tree, its sub-node tree and its parent.
    struct Node {
        quint32 nid = 0;
        quint32 parent = 0;
        quint64 data = 0;
        quint64 subnodes = 0;
    };
    const Node* node(quint32 nid) const;

    /// The decoded bytes of block `bid` (a data block is decrypted, an internal one returned as it is).
    Result<QByteArray> block(quint64 bid) const;
    /// The identifiers of the data blocks that make up the data tree starting at `bid`, in order.
    Result<std::vector<quint64>> dataBlocks(quint64 bid) const;
    /// The data tree of sub-node `nid` in the sub-node tree `subnodes`, or nothing when it has none.
    Result<std::optional<quint64>> subnodeData(quint64 subnodes, quint32 nid) const;

    struct Layout; // where the two formats keep their fields
    struct Page; // one B-tree page

private:
    NodeDatabase() = default;

    Status readNodeIndex();
    Status readNodePage(quint64 bid, quint64 offset, int level, QSet<quint64>& visited);
    Status appendDataBlocks(quint64 bid, int allowedLevel, std::vector<quint64>& blocks) const;
    Result<Page> page(quint64 bid, quint64 offset, quint8 type) const;
    quint64 id(const uchar* at) const;
    std::vector<quint32> children(quint32 parent, bool folders) const;

    QFile m_file;
    const uchar* m_map = nullptr;
    quint64 m_size = 0;
    const Layout* m_layout = nullptr;
    quint8 m_crypt = 0;
    quint64 m_nodeRootBid = 0;
    quint64 m_nodeRootOffset = 0;
    quint64 m_blockRootBid = 0;
    quint64 m_blockRootOffset = 0;
    std::vector<Node> m_nodes; // by identifier
    std::vector<std::pair<quint32, quint32>> m_byParent; // (parent, child), by parent then child
};

} // namespace quillbox::mail::pst

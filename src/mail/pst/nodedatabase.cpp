// SPDX-License-Identifier: MIT
// Structures and names follow [MS-PST] 2.2 (NDB layer) and 2.3 (heap, BTH, property context).
#include "mail/pst/nodedatabase.h"

#include <QHash>
#include <QSet>
#include <QtEndian>

#include <algorithm>
#include <array>
#include <cstring>

namespace quillbox::mail::pst {

namespace {

// [MS-PST] 5.1: the permutation tables of the two encodings. mpbbI is the inverse of mpbbR;
// NDB_CRYPT_PERMUTE decodes with mpbbI, NDB_CRYPT_CYCLIC runs through all three.
constexpr std::array<quint8, 256> kCryptR {
    0x41, 0x36, 0x13, 0x62, 0xa8, 0x21, 0x6e, 0xbb, 0xf4, 0x16, 0xcc, 0x04, 0x7f, 0x64, 0xe8, 0x5d, //
    0x1e, 0xf2, 0xcb, 0x2a, 0x74, 0xc5, 0x5e, 0x35, 0xd2, 0x95, 0x47, 0x9e, 0x96, 0x2d, 0x9a, 0x88, //
    0x4c, 0x7d, 0x84, 0x3f, 0xdb, 0xac, 0x31, 0xb6, 0x48, 0x5f, 0xf6, 0xc4, 0xd8, 0x39, 0x8b, 0xe7, //
    0x23, 0x3b, 0x38, 0x8e, 0xc8, 0xc1, 0xdf, 0x25, 0xb1, 0x20, 0xa5, 0x46, 0x60, 0x4e, 0x9c, 0xfb, //
    0xaa, 0xd3, 0x56, 0x51, 0x45, 0x7c, 0x55, 0x00, 0x07, 0xc9, 0x2b, 0x9d, 0x85, 0x9b, 0x09, 0xa0, //
    0x8f, 0xad, 0xb3, 0x0f, 0x63, 0xab, 0x89, 0x4b, 0xd7, 0xa7, 0x15, 0x5a, 0x71, 0x66, 0x42, 0xbf, //
    0x26, 0x4a, 0x6b, 0x98, 0xfa, 0xea, 0x77, 0x53, 0xb2, 0x70, 0x05, 0x2c, 0xfd, 0x59, 0x3a, 0x86, //
    0x7e, 0xce, 0x06, 0xeb, 0x82, 0x78, 0x57, 0xc7, 0x8d, 0x43, 0xaf, 0xb4, 0x1c, 0xd4, 0x5b, 0xcd, //
    0xe2, 0xe9, 0x27, 0x4f, 0xc3, 0x08, 0x72, 0x80, 0xcf, 0xb0, 0xef, 0xf5, 0x28, 0x6d, 0xbe, 0x30, //
    0x4d, 0x34, 0x92, 0xd5, 0x0e, 0x3c, 0x22, 0x32, 0xe5, 0xe4, 0xf9, 0x9f, 0xc2, 0xd1, 0x0a, 0x81, //
    0x12, 0xe1, 0xee, 0x91, 0x83, 0x76, 0xe3, 0x97, 0xe6, 0x61, 0x8a, 0x17, 0x79, 0xa4, 0xb7, 0xdc, //
    0x90, 0x7a, 0x5c, 0x8c, 0x02, 0xa6, 0xca, 0x69, 0xde, 0x50, 0x1a, 0x11, 0x93, 0xb9, 0x52, 0x87, //
    0x58, 0xfc, 0xed, 0x1d, 0x37, 0x49, 0x1b, 0x6a, 0xe0, 0x29, 0x33, 0x99, 0xbd, 0x6c, 0xd9, 0x94, //
    0xf3, 0x40, 0x54, 0x6f, 0xf0, 0xc6, 0x73, 0xb8, 0xd6, 0x3e, 0x65, 0x18, 0x44, 0x1f, 0xdd, 0x67, //
    0x10, 0xf1, 0x0c, 0x19, 0xec, 0xae, 0x03, 0xa1, 0x14, 0x7b, 0xa9, 0x0b, 0xff, 0xf8, 0xa3, 0xc0, //
    0xa2, 0x01, 0xf7, 0x2e, 0xbc, 0x24, 0x68, 0x75, 0x0d, 0xfe, 0xba, 0x2f, 0xb5, 0xd0, 0xda, 0x3d, //
};
constexpr std::array<quint8, 256> kCryptS {
    0x14, 0x53, 0x0f, 0x56, 0xb3, 0xc8, 0x7a, 0x9c, 0xeb, 0x65, 0x48, 0x17, 0x16, 0x15, 0x9f, 0x02, //
    0xcc, 0x54, 0x7c, 0x83, 0x00, 0x0d, 0x0c, 0x0b, 0xa2, 0x62, 0xa8, 0x76, 0xdb, 0xd9, 0xed, 0xc7, //
    0xc5, 0xa4, 0xdc, 0xac, 0x85, 0x74, 0xd6, 0xd0, 0xa7, 0x9b, 0xae, 0x9a, 0x96, 0x71, 0x66, 0xc3, //
    0x63, 0x99, 0xb8, 0xdd, 0x73, 0x92, 0x8e, 0x84, 0x7d, 0xa5, 0x5e, 0xd1, 0x5d, 0x93, 0xb1, 0x57, //
    0x51, 0x50, 0x80, 0x89, 0x52, 0x94, 0x4f, 0x4e, 0x0a, 0x6b, 0xbc, 0x8d, 0x7f, 0x6e, 0x47, 0x46, //
    0x41, 0x40, 0x44, 0x01, 0x11, 0xcb, 0x03, 0x3f, 0xf7, 0xf4, 0xe1, 0xa9, 0x8f, 0x3c, 0x3a, 0xf9, //
    0xfb, 0xf0, 0x19, 0x30, 0x82, 0x09, 0x2e, 0xc9, 0x9d, 0xa0, 0x86, 0x49, 0xee, 0x6f, 0x4d, 0x6d, //
    0xc4, 0x2d, 0x81, 0x34, 0x25, 0x87, 0x1b, 0x88, 0xaa, 0xfc, 0x06, 0xa1, 0x12, 0x38, 0xfd, 0x4c, //
    0x42, 0x72, 0x64, 0x13, 0x37, 0x24, 0x6a, 0x75, 0x77, 0x43, 0xff, 0xe6, 0xb4, 0x4b, 0x36, 0x5c, //
    0xe4, 0xd8, 0x35, 0x3d, 0x45, 0xb9, 0x2c, 0xec, 0xb7, 0x31, 0x2b, 0x29, 0x07, 0x68, 0xa3, 0x0e, //
    0x69, 0x7b, 0x18, 0x9e, 0x21, 0x39, 0xbe, 0x28, 0x1a, 0x5b, 0x78, 0xf5, 0x23, 0xca, 0x2a, 0xb0, //
    0xaf, 0x3e, 0xfe, 0x04, 0x8c, 0xe7, 0xe5, 0x98, 0x32, 0x95, 0xd3, 0xf6, 0x4a, 0xe8, 0xa6, 0xea, //
    0xe9, 0xf3, 0xd5, 0x2f, 0x70, 0x20, 0xf2, 0x1f, 0x05, 0x67, 0xad, 0x55, 0x10, 0xce, 0xcd, 0xe3, //
    0x27, 0x3b, 0xda, 0xba, 0xd7, 0xc2, 0x26, 0xd4, 0x91, 0x1d, 0xd2, 0x1c, 0x22, 0x33, 0xf8, 0xfa, //
    0xf1, 0x5a, 0xef, 0xcf, 0x90, 0xb6, 0x8b, 0xb5, 0xbd, 0xc0, 0xbf, 0x08, 0x97, 0x1e, 0x6c, 0xe2, //
    0x61, 0xe0, 0xc6, 0xc1, 0x59, 0xab, 0xbb, 0x58, 0xde, 0x5f, 0xdf, 0x60, 0x79, 0x7e, 0xb2, 0x8a, //
};
constexpr std::array<quint8, 256> kCryptI {
    0x47, 0xf1, 0xb4, 0xe6, 0x0b, 0x6a, 0x72, 0x48, 0x85, 0x4e, 0x9e, 0xeb, 0xe2, 0xf8, 0x94, 0x53, //
    0xe0, 0xbb, 0xa0, 0x02, 0xe8, 0x5a, 0x09, 0xab, 0xdb, 0xe3, 0xba, 0xc6, 0x7c, 0xc3, 0x10, 0xdd, //
    0x39, 0x05, 0x96, 0x30, 0xf5, 0x37, 0x60, 0x82, 0x8c, 0xc9, 0x13, 0x4a, 0x6b, 0x1d, 0xf3, 0xfb, //
    0x8f, 0x26, 0x97, 0xca, 0x91, 0x17, 0x01, 0xc4, 0x32, 0x2d, 0x6e, 0x31, 0x95, 0xff, 0xd9, 0x23, //
    0xd1, 0x00, 0x5e, 0x79, 0xdc, 0x44, 0x3b, 0x1a, 0x28, 0xc5, 0x61, 0x57, 0x20, 0x90, 0x3d, 0x83, //
    0xb9, 0x43, 0xbe, 0x67, 0xd2, 0x46, 0x42, 0x76, 0xc0, 0x6d, 0x5b, 0x7e, 0xb2, 0x0f, 0x16, 0x29, //
    0x3c, 0xa9, 0x03, 0x54, 0x0d, 0xda, 0x5d, 0xdf, 0xf6, 0xb7, 0xc7, 0x62, 0xcd, 0x8d, 0x06, 0xd3, //
    0x69, 0x5c, 0x86, 0xd6, 0x14, 0xf7, 0xa5, 0x66, 0x75, 0xac, 0xb1, 0xe9, 0x45, 0x21, 0x70, 0x0c, //
    0x87, 0x9f, 0x74, 0xa4, 0x22, 0x4c, 0x6f, 0xbf, 0x1f, 0x56, 0xaa, 0x2e, 0xb3, 0x78, 0x33, 0x50, //
    0xb0, 0xa3, 0x92, 0xbc, 0xcf, 0x19, 0x1c, 0xa7, 0x63, 0xcb, 0x1e, 0x4d, 0x3e, 0x4b, 0x1b, 0x9b, //
    0x4f, 0xe7, 0xf0, 0xee, 0xad, 0x3a, 0xb5, 0x59, 0x04, 0xea, 0x40, 0x55, 0x25, 0x51, 0xe5, 0x7a, //
    0x89, 0x38, 0x68, 0x52, 0x7b, 0xfc, 0x27, 0xae, 0xd7, 0xbd, 0xfa, 0x07, 0xf4, 0xcc, 0x8e, 0x5f, //
    0xef, 0x35, 0x9c, 0x84, 0x2b, 0x15, 0xd5, 0x77, 0x34, 0x49, 0xb6, 0x12, 0x0a, 0x7f, 0x71, 0x88, //
    0xfd, 0x9d, 0x18, 0x41, 0x7d, 0x93, 0xd8, 0x58, 0x2c, 0xce, 0xfe, 0x24, 0xaf, 0xde, 0xb8, 0x36, //
    0xc8, 0xa1, 0x80, 0xa6, 0x99, 0x98, 0xa8, 0x2f, 0x0e, 0x81, 0x65, 0x73, 0xe4, 0xc2, 0xa2, 0x8a, //
    0xd4, 0xe1, 0x11, 0xd0, 0x08, 0x8b, 0x2a, 0xf2, 0xed, 0x9a, 0x64, 0x3f, 0xc1, 0x6c, 0xf9, 0xec, //
};

constexpr quint8 kCryptNone = 0;
constexpr quint8 kCryptPermute = 1;
constexpr quint8 kCryptCyclic = 2;

constexpr quint8 kPageTypeBlocks = 0x80;
constexpr quint8 kPageTypeNodes = 0x81;
constexpr int kPageSize = 512;
constexpr int kMaxBlockSize = 8192;
constexpr int kMaxTreeDepth = 16; // far above any real index; bounds the walk of a damaged one

constexpr quint64 kBidInternal = 0x02; // an internal block (tree structure, never encoded)
constexpr quint8 kBlockTypeXBlock = 0x01;
constexpr quint8 kBlockTypeSubnodes = 0x02;

constexpr quint8 kHeapSignature = 0xEC;
constexpr quint8 kHeapClientPropertyContext = 0xBC;
constexpr quint8 kBthSignature = 0xB5;

// A value of the listing's own properties is never this long; a longer one is a damaged length.
constexpr qsizetype kMaxValueSize = 16 * 1024 * 1024;

// [MS-PST] 5.3: CRC-32 (the reflected 0xEDB88320 polynomial) started at zero, without final inversion.
constexpr std::array<quint32, 256> kCrcTable = [] {
    std::array<quint32, 256> table {};
    for (quint32 i = 0; i < 256; ++i) {
        quint32 crc = i;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
        table[i] = crc;
    }
    return table;
}();

quint32 weakCrc(const uchar* data, qsizetype size)
{
    quint32 crc = 0;
    for (qsizetype i = 0; i < size; ++i)
        crc = kCrcTable[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return crc;
}

// The header's checksums: dwCRCPartial over the 471 bytes after it in both formats, dwCRCFull over
// 516 bytes in the Unicode one.
constexpr qsizetype kHeaderPartialCrcSize = 471;
constexpr qsizetype kHeaderFullCrcSize = 516;
constexpr qsizetype kHeaderFullCrcOffset = 524;

template <class T> T le(const uchar* at)
{
    return qFromLittleEndian<T>(at);
}
template <class T> T le(const QByteArray& bytes, qsizetype at)
{
    return qFromLittleEndian<T>(bytes.constData() + at);
}

Error damaged(const QString& what)
{
    return Error { Error::Code::Unreadable, QString(), what };
}

} // namespace

void decodeBlock(QByteArray& data, quint8 encoding, quint64 bid)
{
    auto* bytes = reinterpret_cast<quint8*>(data.data());
    const qsizetype size = data.size();
    if (encoding == kCryptPermute) {
        for (qsizetype i = 0; i < size; ++i)
            bytes[i] = kCryptI[bytes[i]];
    } else if (encoding == kCryptCyclic) {
        const auto key = quint32(bid);
        auto salt = quint16((key >> 16) ^ (key & 0xFFFF));
        for (qsizetype i = 0; i < size; ++i, ++salt) {
            const auto low = quint8(salt);
            const auto high = quint8(salt >> 8);
            quint8 b = bytes[i];
            b = kCryptR[quint8(b + low)];
            b = kCryptS[quint8(b + high)];
            b = kCryptI[quint8(b - high)];
            bytes[i] = quint8(b - low);
        }
    }
}

/// Where the structures of the two formats keep their fields.
struct NodeDatabase::Layout {
    int idSize; // block and node identifiers, file offsets
    int entriesSize; // bytes of a B-tree page that hold entries
    int countOffset; // cEnt
    int entrySizeOffset; // cbEnt
    int levelOffset; // cLevel
    int pageTypeOffset; // ptype, then ptypeRepeat
    int pageBidOffset; // the page trailer's bid
    int trailerSize; // a block trailer
    int trailerBidOffset; // the bid within the block trailer
    int subnodeHeaderSize; // SLBLOCK / SIBLOCK header
    int nodeRootBid, nodeRootOffset, blockRootBid, blockRootOffset, cryptOffset; // in the file header
};

struct NodeDatabase::Page {
    const uchar* data;
    int count;
    int entrySize;
    int level;
};

namespace {
const NodeDatabase::Layout kUnicode { 8, 488, 488, 490, 491, 496, 504, 16, 8, 8, 216, 224, 232, 240, 513 };
const NodeDatabase::Layout kAnsi { 4, 496, 496, 498, 499, 500, 504, 12, 4, 4, 184, 188, 192, 196, 461 };

const NodeDatabase::Layout* layoutOf(quint16 version)
{
    switch (version) {
    case 14:
    case 15:
        return &kAnsi;
    case 21:
    case 23:
        return &kUnicode;
    default:
        return nullptr; // 36: 4 KiB pages (Outlook 2013 OST), left to libpff
    }
}
} // namespace

bool headerIntact(QByteArrayView header)
{
    if (header.size() < kHeaderFullCrcOffset || !header.startsWith("!BDN"))
        return false;
    const auto* data = reinterpret_cast<const uchar*>(header.data());
    const NodeDatabase::Layout* layout = layoutOf(le<quint16>(data + 10));
    if (!layout)
        return true; // a format this reader does not know: libpff judges it
    if (le<quint32>(data + 4) != weakCrc(data + 8, kHeaderPartialCrcSize))
        return false;
    if (layout->idSize == 4)
        return true;
    return header.size() >= kHeaderSize
        && le<quint32>(data + kHeaderFullCrcOffset) == weakCrc(data + 8, kHeaderFullCrcSize);
}

NodeDatabase::~NodeDatabase()
{
    if (m_map)
        m_file.unmap(const_cast<uchar*>(m_map));
}

Result<std::unique_ptr<NodeDatabase>> NodeDatabase::open(const QString& path)
{
    std::unique_ptr<NodeDatabase> db(new NodeDatabase);
    db->m_file.setFileName(path);
    if (!db->m_file.open(QIODevice::ReadOnly))
        return Error { Error::Code::Unreadable, path, db->m_file.errorString() };
    db->m_size = quint64(db->m_file.size());
    if (db->m_size < quint64(kHeaderSize))
        return Error { Error::Code::NotAStore, path, QStringLiteral("too short for an Outlook data file") };
    db->m_map = db->m_file.map(0, qint64(db->m_size));
    if (!db->m_map)
        return Error { Error::Code::Unreadable, path, db->m_file.errorString() };
    const uchar* header = db->m_map;
    if (std::memcmp(header, "!BDN", 4) != 0)
        return Error { Error::Code::NotAStore, path, QStringLiteral("no Outlook data file signature") };
    db->m_layout = layoutOf(le<quint16>(header + 10));
    if (!db->m_layout)
        return Error { Error::Code::NotAStore, path, QStringLiteral("a format version this reader does not know") };
    const Layout& layout = *db->m_layout;
    if (!headerIntact(QByteArrayView(header, kHeaderSize)))
        return Error { Error::Code::Unreadable, path, QStringLiteral("the file header's checksum does not match") };
    db->m_nodeRootBid = db->id(header + layout.nodeRootBid);
    db->m_nodeRootOffset = db->id(header + layout.nodeRootOffset);
    db->m_blockRootBid = db->id(header + layout.blockRootBid);
    db->m_blockRootOffset = db->id(header + layout.blockRootOffset);
    db->m_crypt = header[layout.cryptOffset];
    if (db->m_crypt != kCryptNone && db->m_crypt != kCryptPermute && db->m_crypt != kCryptCyclic)
        return Error { Error::Code::NotAStore, path, QStringLiteral("an unknown encoding") };
    if (Status read = db->readNodeIndex(); !read)
        return Error { read.error().code, path, read.error().detail };
    return db;
}

quint64 NodeDatabase::id(const uchar* at) const
{
    return m_layout->idSize == 8 ? le<quint64>(at) : le<quint32>(at);
}

Result<NodeDatabase::Page> NodeDatabase::page(quint64 bid, quint64 offset, quint8 type) const
{
    if (offset > m_size || m_size - offset < kPageSize)
        return damaged(QStringLiteral("an index page lies outside the file"));
    const uchar* data = m_map + offset;
    const Layout& layout = *m_layout;
    if (data[layout.pageTypeOffset] != type || data[layout.pageTypeOffset + 1] != type
        || id(data + layout.pageBidOffset) != bid)
        return damaged(QStringLiteral("an index page is not where the index says"));
    const Page page { data, data[layout.countOffset], data[layout.entrySizeOffset], data[layout.levelOffset] };
    if (page.entrySize < 3 * layout.idSize || page.count * page.entrySize > layout.entriesSize)
        return damaged(QStringLiteral("an index page has impossible entries"));
    return page;
}

Status NodeDatabase::readNodeIndex()
{
    QSet<quint64> visited;
    if (Status read = readNodePage(m_nodeRootBid, m_nodeRootOffset, -1, visited); !read)
        return read;
    std::stable_sort(m_nodes.begin(), m_nodes.end(), [](const Node& a, const Node& b) { return a.nid < b.nid; });
    m_nodes.erase(
        std::unique(m_nodes.begin(), m_nodes.end(), [](const Node& a, const Node& b) { return a.nid == b.nid; }),
        m_nodes.end());
    m_byParent.reserve(m_nodes.size());
    for (const Node& node : m_nodes)
        if (node.parent != node.nid)
            m_byParent.emplace_back(node.parent, node.nid);
    std::sort(m_byParent.begin(), m_byParent.end());
    return success();
}

// The node index (NBT) is read whole: the folder tree comes from its parent links.
Status NodeDatabase::readNodePage(quint64 bid, quint64 offset, int level, QSet<quint64>& visited)
{
    // A damaged index could lead to one page twice, or into a loop.
    if (visited.contains(offset))
        return damaged(QStringLiteral("the node index leads to one page twice"));
    visited.insert(offset);
    auto read = page(bid, offset, kPageTypeNodes);
    if (!read)
        return read.error();
    const Page& p = *read;
    if ((level >= 0 && p.level != level) || p.level > kMaxTreeDepth)
        return damaged(QStringLiteral("the node index has impossible levels"));
    const int idSize = m_layout->idSize;
    for (int i = 0; i < p.count; ++i) {
        const uchar* entry = p.data + i * p.entrySize;
        if (p.level > 0) {
            if (Status child = readNodePage(id(entry + idSize), id(entry + 2 * idSize), p.level - 1, visited); !child)
                return child;
            continue;
        }
        if (p.entrySize < 3 * idSize + 4)
            return damaged(QStringLiteral("the node index has impossible entries"));
        m_nodes.push_back(
            Node { le<quint32>(entry), le<quint32>(entry + 3 * idSize), id(entry + idSize), id(entry + 2 * idSize) });
    }
    return success();
}

const NodeDatabase::Node* NodeDatabase::node(quint32 nid) const
{
    const auto it = std::lower_bound(
        m_nodes.begin(), m_nodes.end(), nid, [](const Node& node, quint32 value) { return node.nid < value; });
    return it != m_nodes.end() && it->nid == nid ? &*it : nullptr;
}

std::vector<quint32> NodeDatabase::children(quint32 parent, bool folders) const
{
    std::vector<quint32> found;
    auto it = std::lower_bound(m_byParent.begin(), m_byParent.end(), std::make_pair(parent, quint32(0)));
    for (; it != m_byParent.end() && it->first == parent; ++it)
        if (folders ? isFolderNode(it->second) : isMessageNode(it->second))
            found.push_back(it->second);
    return found;
}

Result<std::vector<quint32>> NodeDatabase::subFolders(quint32 nid) const
{
    return children(nid, true);
}

Result<std::vector<quint32>> NodeDatabase::messages(quint32 nid) const
{
    return children(nid, false);
}

std::optional<quint32> NodeDatabase::parentOf(quint32 nid) const
{
    const Node* found = node(nid);
    return found ? std::optional<quint32>(found->parent) : std::nullopt;
}

Result<QByteArray> NodeDatabase::block(quint64 bid) const
{
    const quint64 wanted = bid & ~quint64(1); // the lowest bit is reserved
    const Layout& layout = *m_layout;
    const int idSize = layout.idSize;
    quint64 pageBid = m_blockRootBid;
    quint64 offset = m_blockRootOffset;
    int level = -1;
    for (int depth = 0; depth <= kMaxTreeDepth; ++depth) {
        auto read = page(pageBid, offset, kPageTypeBlocks);
        if (!read)
            return read.error();
        const Page& p = *read;
        if (level >= 0 && p.level != level - 1)
            return damaged(QStringLiteral("the block index has impossible levels"));
        level = p.level;
        if (p.level > 0) {
            // The last entry whose key is not above the block's identifier leads to it.
            int chosen = -1;
            for (int i = 0; i < p.count && id(p.data + i * p.entrySize) <= wanted; ++i)
                chosen = i;
            if (chosen < 0)
                break;
            const uchar* entry = p.data + chosen * p.entrySize;
            pageBid = id(entry + idSize);
            offset = id(entry + 2 * idSize);
            continue;
        }
        if (p.entrySize < 2 * idSize + 4)
            return damaged(QStringLiteral("the block index has impossible entries"));
        for (int i = 0; i < p.count; ++i) {
            const uchar* entry = p.data + i * p.entrySize;
            if ((id(entry) & ~quint64(1)) != wanted)
                continue;
            const quint64 at = id(entry + idSize);
            const int size = le<quint16>(entry + 2 * idSize);
            const quint64 span = (quint64(size) + layout.trailerSize + 63) & ~quint64(63);
            if (size > kMaxBlockSize || at > m_size || m_size - at < span)
                return damaged(QStringLiteral("a block lies outside the file"));
            const uchar* trailer = m_map + at + span - layout.trailerSize;
            if (le<quint16>(trailer) != size || (id(trailer + layout.trailerBidOffset) & ~quint64(1)) != wanted)
                return damaged(QStringLiteral("a block is not the one the index names"));
            QByteArray data(reinterpret_cast<const char*>(m_map + at), size);
            if ((bid & kBidInternal) == 0)
                decodeBlock(data, m_crypt, bid);
            return data;
        }
        break;
    }
    return damaged(QStringLiteral("a block is missing from the block index"));
}

Result<std::vector<quint64>> NodeDatabase::dataBlocks(quint64 bid) const
{
    std::vector<quint64> blocks;
    if (bid != 0)
        if (Status listed = appendDataBlocks(bid, 2, blocks); !listed)
            return listed.error();
    return blocks;
}

// An XXBLOCK (level 2) lists XBLOCKs, an XBLOCK (level 1) lists data blocks; a data block stands for itself.
Status NodeDatabase::appendDataBlocks(quint64 bid, int allowedLevel, std::vector<quint64>& blocks) const
{
    if ((bid & kBidInternal) == 0) {
        blocks.push_back(bid);
        return success();
    }
    auto data = block(bid);
    if (!data)
        return data.error();
    const QByteArray& bytes = *data;
    const int idSize = m_layout->idSize;
    if (bytes.size() < 8 || quint8(bytes.at(0)) != kBlockTypeXBlock)
        return damaged(QStringLiteral("a data tree is damaged"));
    const int level = quint8(bytes.at(1));
    const int count = le<quint16>(bytes, 2);
    if (level < 1 || level > allowedLevel || 8 + qsizetype(count) * idSize > bytes.size())
        return damaged(QStringLiteral("a data tree is damaged"));
    for (int i = 0; i < count; ++i) {
        const quint64 child = id(reinterpret_cast<const uchar*>(bytes.constData()) + 8 + i * idSize);
        if (level == 1 && (child & kBidInternal) != 0)
            return damaged(QStringLiteral("a data tree is damaged"));
        if (Status listed = appendDataBlocks(child, level - 1, blocks); !listed)
            return listed;
    }
    return success();
}

Result<std::optional<quint64>> NodeDatabase::subnodeData(quint64 subnodes, quint32 nid) const
{
    const int idSize = m_layout->idSize;
    const int header = m_layout->subnodeHeaderSize;
    quint64 current = subnodes;
    // An SIBLOCK (level 1) leads to SLBLOCKs (level 0), which name each sub-node's data tree.
    for (int allowedLevel = 1; current != 0 && allowedLevel >= 0; --allowedLevel) {
        auto data = block(current);
        if (!data)
            return data.error();
        const QByteArray& bytes = *data;
        if (bytes.size() < header || quint8(bytes.at(0)) != kBlockTypeSubnodes)
            return damaged(QStringLiteral("a sub-node tree is damaged"));
        const int level = quint8(bytes.at(1));
        const int count = le<quint16>(bytes, 2);
        const int entrySize = (level == 0 ? 3 : 2) * idSize;
        if (level > allowedLevel || header + qsizetype(count) * entrySize > bytes.size())
            return damaged(QStringLiteral("a sub-node tree is damaged"));
        const auto* entries = reinterpret_cast<const uchar*>(bytes.constData()) + header;
        if (level == 0) {
            for (int i = 0; i < count; ++i)
                if (le<quint32>(entries + i * entrySize) == nid)
                    return std::optional<quint64>(id(entries + i * entrySize + idSize));
            return std::optional<quint64>();
        }
        current = 0;
        for (int i = 0; i < count && le<quint32>(entries + i * entrySize) <= nid; ++i)
            current = id(entries + i * entrySize + idSize);
    }
    return std::optional<quint64>();
}

namespace {

/// The property context of one node ([MS-PST] 2.3.3): a BTH on a heap, keyed by property id.
/// Heap blocks are read when a value needs them.
class NodeProperties final : public PropertyBag {
public:
    NodeProperties(const NodeDatabase& db, quint64 subnodes, std::vector<quint64> blocks)
        : m_db(db)
        , m_subnodes(subnodes)
        , m_blocks(std::move(blocks))
    {
    }

    Status read();
    std::optional<PropertyValue> value(quint16 id) const override;

private:
    struct Record {
        quint16 id;
        quint16 type;
        quint32 value; // the value itself (up to 4 bytes) or an HNID
    };
    Result<QByteArray> heapItem(quint32 hid) const;
    Status collect(quint32 hid, int level, std::vector<quint32>& visited);
    std::optional<QByteArray> subnodeValue(quint32 nid) const;

    const NodeDatabase& m_db;
    quint64 m_subnodes;
    std::vector<quint64> m_blocks;
    mutable QHash<quint32, QByteArray> m_loaded; // heap blocks by index
    std::vector<Record> m_records; // by id
};

// [MS-PST] 2.3.1.2: a HID names allocation hidIndex (1-based) of heap block hidBlockIndex.
Result<QByteArray> NodeProperties::heapItem(quint32 hid) const
{
    if ((hid & kNodeTypeMask) != 0)
        return damaged(QStringLiteral("a heap reference is not one"));
    const quint32 index = (hid >> 5) & 0x7FF;
    const quint32 blockIndex = hid >> 16;
    if (blockIndex >= m_blocks.size() || index == 0)
        return damaged(QStringLiteral("a heap reference points nowhere"));
    auto cached = m_loaded.constFind(blockIndex);
    if (cached == m_loaded.cend()) {
        auto data = m_db.block(m_blocks[blockIndex]);
        if (!data)
            return data.error();
        cached = m_loaded.insert(blockIndex, *data);
    }
    const QByteArray& bytes = *cached;
    if (bytes.size() < 2)
        return damaged(QStringLiteral("a heap block is damaged"));
    const qsizetype map = le<quint16>(bytes, 0);
    if (map + 4 > bytes.size())
        return damaged(QStringLiteral("a heap block is damaged"));
    const quint32 allocations = le<quint16>(bytes, map);
    if (index > allocations || map + 4 + 2 * qsizetype(index) + 2 > bytes.size())
        return damaged(QStringLiteral("a heap reference points nowhere"));
    const qsizetype begin = le<quint16>(bytes, map + 4 + 2 * (index - 1));
    const qsizetype end = le<quint16>(bytes, map + 4 + 2 * index);
    if (begin > end || end > bytes.size())
        return damaged(QStringLiteral("a heap allocation is damaged"));
    return bytes.mid(begin, end - begin);
}

Status NodeProperties::read()
{
    if (m_blocks.empty())
        return damaged(QStringLiteral("a node has no data"));
    auto first = m_db.block(m_blocks.front());
    if (!first)
        return first.error();
    const QByteArray& header = *first;
    if (header.size() < 12 || quint8(header.at(2)) != kHeapSignature
        || quint8(header.at(3)) != kHeapClientPropertyContext)
        return damaged(QStringLiteral("a node is not a property context"));
    m_loaded.insert(0, header);
    auto bth = heapItem(le<quint32>(header, 4));
    if (!bth)
        return bth.error();
    const QByteArray& bthHeader = *bth;
    if (bthHeader.size() < 8 || quint8(bthHeader.at(0)) != kBthSignature || bthHeader.at(1) != 2
        || bthHeader.at(2) != 6)
        return damaged(QStringLiteral("a property context has a damaged index"));
    const int levels = quint8(bthHeader.at(3));
    const quint32 root = le<quint32>(bthHeader, 4);
    if (levels > kMaxTreeDepth)
        return damaged(QStringLiteral("a property context has a damaged index"));
    std::vector<quint32> visited;
    if (root != 0)
        if (Status collected = collect(root, levels, visited); !collected)
            return collected;
    std::stable_sort(m_records.begin(), m_records.end(), [](const Record& a, const Record& b) { return a.id < b.id; });
    return success();
}

// Gathers the records of the BTH below allocation `hid`, whose entries are `level` levels above the records.
Status NodeProperties::collect(quint32 hid, int level, std::vector<quint32>& visited)
{
    if (std::find(visited.begin(), visited.end(), hid) != visited.end())
        return damaged(QStringLiteral("a property context's index loops"));
    visited.push_back(hid);
    auto item = heapItem(hid);
    if (!item)
        return item.error();
    const QByteArray& bytes = *item;
    const auto* data = reinterpret_cast<const uchar*>(bytes.constData());
    if (level > 0) {
        for (qsizetype at = 0; at + 6 <= bytes.size(); at += 6)
            if (Status child = collect(le<quint32>(data + at + 2), level - 1, visited); !child)
                return child;
        return success();
    }
    for (qsizetype at = 0; at + 8 <= bytes.size(); at += 8)
        m_records.push_back(Record { le<quint16>(data + at), le<quint16>(data + at + 2), le<quint32>(data + at + 4) });
    return success();
}

std::optional<QByteArray> NodeProperties::subnodeValue(quint32 nid) const
{
    auto tree = m_db.subnodeData(m_subnodes, nid);
    if (!tree || !*tree)
        return std::nullopt;
    auto blocks = m_db.dataBlocks(**tree);
    if (!blocks)
        return std::nullopt;
    QByteArray value;
    for (quint64 bid : *blocks) {
        auto data = m_db.block(bid);
        if (!data || value.size() + data->size() > kMaxValueSize)
            return std::nullopt;
        value += *data;
    }
    return value;
}

std::optional<PropertyValue> NodeProperties::value(quint16 id) const
{
    const auto it = std::lower_bound(
        m_records.begin(), m_records.end(), id, [](const Record& record, quint16 value) { return record.id < value; });
    if (it == m_records.end() || it->id != id)
        return std::nullopt;
    PropertyValue value { it->type, QByteArray() };
    switch (it->type) {
    case PropType::Int16:
    case PropType::Int32:
    case 0x0004: // PtypFloating32
    case PropType::Error:
    case PropType::Boolean: {
        char inlineValue[4];
        qToLittleEndian(it->value, inlineValue);
        value.bytes = QByteArray(inlineValue, 4);
        return value;
    }
    default:
        break;
    }
    const quint32 hnid = it->value;
    if (hnid == 0)
        return value; // an empty string or binary
    if ((hnid & kNodeTypeMask) == 0) {
        auto item = heapItem(hnid);
        if (!item)
            return std::nullopt;
        value.bytes = *item;
        return value;
    }
    auto stored = subnodeValue(hnid);
    if (!stored)
        return std::nullopt;
    value.bytes = std::move(*stored);
    return value;
}

} // namespace

Result<std::unique_ptr<PropertyBag>> NodeDatabase::properties(quint32 nid) const
{
    const Node* found = node(nid);
    if (!found)
        return Error { Error::Code::NotFound, QString(), QStringLiteral("no node %1 in the file").arg(nid) };
    auto blocks = dataBlocks(found->data);
    if (!blocks)
        return blocks.error();
    auto bag = std::make_unique<NodeProperties>(*this, found->subnodes, std::move(*blocks));
    if (Status read = bag->read(); !read)
        return read.error();
    return std::unique_ptr<PropertyBag>(std::move(bag));
}

} // namespace quillbox::mail::pst

// SPDX-License-Identifier: MIT
#include "output/msg/compoundfile.h"

#include <QtEndian>

#include <algorithm>
#include <bit>
#include <cstring>
#include <numeric>

namespace quillbox::msg {

namespace {

constexpr quint32 kSectorSize = 512;
constexpr quint32 kMiniSectorSize = 64;
constexpr quint32 kMiniStreamCutoff = 4096; // smaller streams live in the mini stream
constexpr quint32 kIdsPerSector = kSectorSize / 4;
constexpr quint32 kEntrySize = 128;
constexpr quint32 kHeaderFatSlots = 109; // FAT sectors the header lists; DIFAT sectors list the others
constexpr quint32 kDifatSlots = kIdsPerSector - 1; // the last place links to the next DIFAT sector
constexpr qsizetype kMaxNameLength = 31; // UTF-16 units, without the terminator
constexpr qsizetype kMaxStreamSize = 0x80000000; // version 3 files keep stream sizes in 32 bits

// Sector numbers with a meaning of their own, and the empty tree link.
constexpr quint64 kMaxSector = 0xFFFFFFFA;
constexpr quint32 kDifatSector = 0xFFFFFFFC;
constexpr quint32 kFatSector = 0xFFFFFFFD;
constexpr quint32 kEndOfChain = 0xFFFFFFFE;
constexpr quint32 kFreeSector = 0xFFFFFFFF;
constexpr quint32 kNoEntry = 0xFFFFFFFF;

enum EntryType : quint8 { StorageEntry = 1, StreamEntry = 2, RootEntry = 5 };

using Entry = CompoundFile::Entry;

quint64 unitsFor(quint64 bytes, quint64 unit)
{
    return (bytes + unit - 1) / unit;
}

// Why `name` cannot name an entry; empty when it can.
QString nameProblem(const QString& name)
{
    if (name.isEmpty())
        return QStringLiteral("an entry of a compound file has no name");
    if (name.size() > kMaxNameLength)
        return QStringLiteral("the name \"%1\" has %2 UTF-16 units; a compound file allows at most %3")
            .arg(name)
            .arg(name.size())
            .arg(kMaxNameLength);
    for (QChar c : name)
        if (c == u'/' || c == u'\\' || c == u':' || c == u'!')
            return QStringLiteral("the name \"%1\" contains '%2', which a compound file does not allow").arg(name, c);
    return {};
}

// The order of the entries of a storage, which readers search by: shorter names first, names of the same
// length by their UTF-16 units, each upper-cased on its own (simple case mapping).
int compareNames(QStringView a, QStringView b)
{
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (a[i] == b[i])
            continue; // names share long prefixes: upper-case only where they differ
        const char16_t x = a[i].toUpper().unicode();
        const char16_t y = b[i].toUpper().unicode();
        if (x != y)
            return x < y ? -1 : 1;
    }
    return 0;
}

// An entry's links in the directory: its neighbours in its storage's tree, and a storage's tree.
struct Links {
    quint32 left = kNoEntry;
    quint32 right = kNoEntry;
    quint32 child = kNoEntry;
    bool red = false;
};

// Links the `count` entries `sorted` (in order) into a balanced tree whose top is at `depth`, and returns
// the top. The middle entry goes on top, so every empty link is on the last two levels; the entries on the
// last level are red when it is not full (they have only empty links), all others black: every path down
// then passes the same number of black entries, and no red entry has a red child.
quint32 linkTree(const quint32* sorted, quint32 count, int depth, int redDepth, std::vector<Links>& links)
{
    if (count == 0)
        return kNoEntry;
    const quint32 middle = count / 2;
    Links& top = links[sorted[middle]];
    top.left = linkTree(sorted, middle, depth + 1, redDepth, links);
    top.right = linkTree(sorted + middle + 1, count - middle - 1, depth + 1, redDepth, links);
    top.red = depth == redDepth;
    return sorted[middle];
}

// Sorts [first, last) by merging the runs that are already in order: a storage's entries come in long
// sorted runs (recipients, attachments, numbered in order), so this costs little more than one pass
// where a sort would cost a comparison of two long names log n times per entry.
template <class Less> void sortRuns(quint32* first, quint32* last, const Less& less)
{
    std::vector<quint32*> runs { first };
    for (quint32* at = first + 1; at < last; ++at)
        if (less(*at, at[-1]))
            runs.push_back(at);
    runs.push_back(last);
    while (runs.size() > 2) {
        std::vector<quint32*> merged { first };
        for (std::size_t i = 2; i < runs.size(); i += 2) {
            std::inplace_merge(runs[i - 2], runs[i - 1], runs[i], less);
            merged.push_back(runs[i]);
        }
        if (runs.size() % 2 == 0)
            merged.push_back(last);
        runs = std::move(merged);
    }
}

// The links of every entry: each storage's entries sorted once and made into a tree. An error for two
// entries of one storage whose names compare equal.
std::vector<Links> linkDirectory(const std::vector<Entry>& entries, std::optional<Error>& error)
{
    const quint32 count = quint32(entries.size());
    // The entries of storage s are members[begin[s]] to members[begin[s + 1] - 1], in the order added.
    std::vector<quint32> begin(count + 1, 0);
    for (quint32 i = 1; i < count; ++i)
        ++begin[quint32(entries[i].parent) + 1];
    std::partial_sum(begin.begin(), begin.end(), begin.begin());
    std::vector<quint32> members(count);
    std::vector<quint32> next(begin.begin(), begin.end() - 1);
    for (quint32 i = 1; i < count; ++i)
        members[next[quint32(entries[i].parent)]++] = i;

    std::vector<Links> links(count);
    const auto less = [&](quint32 a, quint32 b) { return compareNames(entries[a].name, entries[b].name) < 0; };
    for (quint32 storage = 0; storage < count; ++storage) {
        quint32* first = members.data() + begin[storage];
        const quint32 size = begin[storage + 1] - begin[storage];
        sortRuns(first, first + size, less);
        for (quint32 i = 1; i < size && !error; ++i)
            if (!less(first[i - 1], first[i]))
                error = Error { Error::Code::WriteFailed, {},
                    QStringLiteral("\"%1\" and \"%2\" name two entries of one storage of a compound file")
                        .arg(entries[first[i - 1]].name, entries[first[i]].name) };
        const int firstPartLevel = std::bit_width(size + 1) - 1; // the first level that is not full
        links[storage].child = linkTree(first, size, 0, firstPartLevel, links);
    }
    return links;
}

// Where everything goes: what each entry holds where, and the sector numbers of each part of the file, in
// the order they are written.
struct Layout {
    enum class Place : quint8 { Nowhere, Sectors, MiniStream }; // storages and empty streams: nowhere
    std::vector<Place> place;
    std::vector<quint32> start; // the first sector or mini sector
    std::vector<quint32> size;
    quint64 streamSectors = 0; // the streams of 4096 bytes and more, from sector 0 on
    quint64 miniSectors = 0;
    quint64 miniStreamSectors = 0;
    quint64 miniFatSectors = 0;
    quint64 directorySectors = 0;
    quint64 fatSectors = 0;
    quint64 difatSectors = 0;

    quint64 miniStreamStart() const { return streamSectors; }
    quint64 miniFatStart() const { return miniStreamStart() + miniStreamSectors; }
    quint64 directoryStart() const { return miniFatStart() + miniFatSectors; }
    quint64 fatStart() const { return directoryStart() + directorySectors; }
    quint64 difatStart() const { return fatStart() + fatSectors; }
    quint64 sectors() const { return difatStart() + difatSectors; }
    /// What the `index`th place of the header and the DIFAT sectors holds.
    quint32 fatSector(quint64 index) const { return index < fatSectors ? quint32(fatStart() + index) : kFreeSector; }
};

Layout planLayout(const std::vector<Entry>& entries)
{
    Layout layout;
    layout.place.assign(entries.size(), Layout::Place::Nowhere);
    layout.start.assign(entries.size(), 0); // storages: 0
    layout.size.assign(entries.size(), 0);
    for (size_t i = 1; i < entries.size(); ++i) {
        if (entries[i].isStorage)
            continue;
        const quint32 size = quint32(entries[i].data.size());
        layout.size[i] = size;
        if (size == 0) {
            layout.start[i] = kEndOfChain;
        } else if (size < kMiniStreamCutoff) {
            layout.place[i] = Layout::Place::MiniStream;
            layout.start[i] = quint32(layout.miniSectors);
            layout.miniSectors += unitsFor(size, kMiniSectorSize);
        } else {
            layout.place[i] = Layout::Place::Sectors;
            layout.start[i] = quint32(layout.streamSectors);
            layout.streamSectors += unitsFor(size, kSectorSize);
        }
    }
    layout.miniStreamSectors = unitsFor(layout.miniSectors * kMiniSectorSize, kSectorSize);
    layout.miniFatSectors = unitsFor(layout.miniSectors, kIdsPerSector);
    layout.directorySectors = unitsFor(entries.size() * kEntrySize, kSectorSize);
    // The FAT describes every sector, its own and the DIFAT's too: both grow until they fit.
    const quint64 others = layout.fatStart();
    for (;;) {
        const quint64 fat = unitsFor(others + layout.fatSectors + layout.difatSectors, kIdsPerSector);
        const quint64 difat = fat > kHeaderFatSlots ? unitsFor(fat - kHeaderFatSlots, kDifatSlots) : 0;
        if (fat == layout.fatSectors && difat == layout.difatSectors)
            break;
        layout.fatSectors = fat;
        layout.difatSectors = difat;
    }
    return layout;
}

// Writes little-endian values one after another into bytes that were allocated for all of them.
class Output {
public:
    explicit Output(char* begin)
        : m_begin(begin)
        , m_at(begin)
    {
    }
    qsizetype written() const { return m_at - m_begin; }
    void bytes(QByteArrayView data)
    {
        std::memcpy(m_at, data.data(), size_t(data.size()));
        m_at += data.size();
    }
    void zeros(qsizetype count)
    {
        std::memset(m_at, 0, size_t(count));
        m_at += count;
    }
    template <class T> void value(T v)
    {
        qToLittleEndian(v, m_at);
        m_at += sizeof(T);
    }
    /// Zeros up to the next multiple of `unit` bytes from the start of the file.
    void padTo(qsizetype unit) { zeros((unit - written() % unit) % unit); }
    /// Free-sector marks up to the end of the sector.
    void padIds()
    {
        while (written() % kSectorSize != 0)
            value(kFreeSector);
    }
    /// A chain of `count` sectors (or mini sectors) from `first` on, each pointing to the next.
    void chain(quint64 first, quint64 count)
    {
        for (quint64 sector = first + 1; sector < first + count; ++sector)
            value(quint32(sector));
        if (count > 0)
            value(kEndOfChain);
    }

private:
    char* m_begin;
    char* m_at;
};

void writeHeader(Output& out, const Layout& layout)
{
    out.bytes("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1");
    out.zeros(16); // the header's class id, unused
    out.value<quint16>(0x003E); // minor version
    out.value<quint16>(3); // major version: 512-byte sectors
    out.value<quint16>(0xFFFE); // byte order mark
    out.value<quint16>(9); // sector shift
    out.value<quint16>(6); // mini sector shift
    out.zeros(6);
    out.value<quint32>(0); // the directory's sector count, which version 3 leaves out
    out.value(quint32(layout.fatSectors));
    out.value(quint32(layout.directoryStart()));
    out.value<quint32>(0); // transactions: not used
    out.value(kMiniStreamCutoff);
    out.value(layout.miniFatSectors > 0 ? quint32(layout.miniFatStart()) : kEndOfChain);
    out.value(quint32(layout.miniFatSectors));
    out.value(layout.difatSectors > 0 ? quint32(layout.difatStart()) : kEndOfChain);
    out.value(quint32(layout.difatSectors));
    for (quint32 i = 0; i < kHeaderFatSlots; ++i)
        out.value(layout.fatSector(i));
}

void writeMiniFat(Output& out, const Layout& layout)
{
    for (size_t i = 0; i < layout.place.size(); ++i)
        if (layout.place[i] == Layout::Place::MiniStream)
            out.chain(layout.start[i], unitsFor(layout.size[i], kMiniSectorSize));
    out.padIds();
}

void writeEntry(Output& out, QStringView name, EntryType type, const Links& links, QByteArrayView classId,
    quint32 start, quint32 size)
{
    for (QChar c : name)
        out.value<quint16>(c.unicode());
    out.zeros(64 - 2 * name.size()); // the terminator and the unused rest
    out.value(quint16(2 * (name.size() + 1)));
    out.value(quint8(type));
    out.value(quint8(links.red ? 0 : 1));
    out.value(links.left);
    out.value(links.right);
    out.value(links.child);
    if (classId.isEmpty())
        out.zeros(16);
    else
        out.bytes(classId);
    out.zeros(4 + 8 + 8); // state bits, creation and modification times
    out.value(start);
    out.value(quint64(size));
}

void writeDirectory(Output& out, const std::vector<Entry>& entries, const std::vector<Links>& links,
    const Layout& layout, QByteArrayView rootClassId)
{
    // The root entry holds the mini stream.
    writeEntry(out, entries[0].name, RootEntry, links[0], rootClassId,
        layout.miniSectors > 0 ? quint32(layout.miniStreamStart()) : kEndOfChain,
        quint32(layout.miniSectors * kMiniSectorSize));
    for (size_t i = 1; i < entries.size(); ++i)
        writeEntry(out, entries[i].name, entries[i].isStorage ? StorageEntry : StreamEntry, links[i], {},
            layout.start[i], layout.size[i]);
    while (out.written() % kSectorSize != 0) { // unused entries: no name, no type, no links
        out.zeros(64 + 2 + 2);
        for (int link = 0; link < 3; ++link)
            out.value(kNoEntry);
        out.zeros(kEntrySize - 80);
    }
}

void writeFat(Output& out, const Layout& layout)
{
    for (size_t i = 0; i < layout.place.size(); ++i)
        if (layout.place[i] == Layout::Place::Sectors)
            out.chain(layout.start[i], unitsFor(layout.size[i], kSectorSize));
    out.chain(layout.miniStreamStart(), layout.miniStreamSectors);
    out.chain(layout.miniFatStart(), layout.miniFatSectors);
    out.chain(layout.directoryStart(), layout.directorySectors);
    for (quint64 i = 0; i < layout.fatSectors; ++i)
        out.value(kFatSector);
    for (quint64 i = 0; i < layout.difatSectors; ++i)
        out.value(kDifatSector);
    out.padIds();
}

void writeDifat(Output& out, const Layout& layout)
{
    for (quint64 sector = 0; sector < layout.difatSectors; ++sector) {
        for (quint64 slot = 0; slot < kDifatSlots; ++slot)
            out.value(layout.fatSector(kHeaderFatSlots + sector * kDifatSlots + slot));
        out.value(sector + 1 < layout.difatSectors ? quint32(layout.difatStart() + sector + 1) : kEndOfChain);
    }
}

} // namespace

CompoundFile::CompoundFile(const ClassId& rootClassId)
    : m_rootClassId(rootClassId)
{
    m_entries.push_back({ QStringLiteral("Root Entry"), Storage::Root, true, {} });
}

CompoundFile::Storage CompoundFile::addStorage(Storage parent, QAnyStringView name)
{
    return add(parent, name, true, {});
}

void CompoundFile::addStream(Storage parent, QAnyStringView name, QByteArray data)
{
    add(parent, name, false, std::move(data));
}

CompoundFile::Storage CompoundFile::add(Storage parent, QAnyStringView name, bool isStorage, QByteArray data)
{
    Q_ASSERT(quint32(parent) < m_entries.size() && m_entries[quint32(parent)].isStorage);
    QString text = name.toString();
    if (!m_error) {
        QString problem = nameProblem(text);
        if (problem.isEmpty() && data.size() > kMaxStreamSize)
            problem = QStringLiteral("the stream \"%1\" has %2 bytes; a compound file holds at most 2 GiB in one")
                          .arg(text)
                          .arg(data.size());
        if (!problem.isEmpty())
            m_error = Error { Error::Code::WriteFailed, {}, problem };
    }
    m_entries.push_back({ std::move(text), parent, isStorage, std::move(data) });
    return Storage(m_entries.size() - 1);
}

Result<QByteArray> CompoundFile::toBytes() &&
{
    const std::vector<Links> links = linkDirectory(m_entries, m_error);
    if (m_error)
        return *m_error;
    const Layout layout = planLayout(m_entries);
    if (layout.sectors() > kMaxSector)
        return Error { Error::Code::WriteFailed, {}, QStringLiteral("a compound file cannot hold that much") };

    QByteArray file(qsizetype((1 + layout.sectors()) * kSectorSize), Qt::Uninitialized);
    Output out(file.data());
    writeHeader(out, layout);
    // The large streams, then the mini stream; each stream's data is let go once it is copied.
    for (auto [place, unit] :
        { std::pair(Layout::Place::Sectors, kSectorSize), std::pair(Layout::Place::MiniStream, kMiniSectorSize) }) {
        for (size_t i = 0; i < m_entries.size(); ++i) {
            if (layout.place[i] != place)
                continue;
            out.bytes(std::exchange(m_entries[i].data, QByteArray()));
            out.padTo(unit);
        }
        out.padTo(kSectorSize);
    }
    writeMiniFat(out, layout);
    writeDirectory(out, m_entries, links, layout,
        QByteArrayView(reinterpret_cast<const char*>(m_rootClassId.data()), qsizetype(m_rootClassId.size())));
    writeFat(out, layout);
    writeDifat(out, layout);
    Q_ASSERT(out.written() == file.size());
    return file;
}

} // namespace quillbox::msg

// SPDX-License-Identifier: MIT
#include "output/msg/compoundfile.h"

#include <QtEndian>

#include <algorithm>
#include <bit>
#include <cstring>
#include <functional>
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

quint64 unitsFor(quint64 bytes, quint64 unit)
{
    return (bytes + unit - 1) / unit;
}

// Why `name` cannot name an entry; empty when it can.
QString nameProblem(QStringView name)
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
template <class LinksOf>
quint32 linkTree(const quint32* sorted, quint32 count, int depth, int redDepth, const LinksOf& links)
{
    if (count == 0)
        return kNoEntry;
    const quint32 middle = count / 2;
    Links& top = links(sorted[middle]);
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

// Writes little-endian values one after another into a buffer.
class Output {
public:
    explicit Output(QByteArray& bytes)
        : m_bytes(bytes)
    {
    }
    void bytes(QByteArrayView data) { m_bytes.append(data); }
    void zeros(qsizetype count) { m_bytes.append(count, '\0'); }
    template <class T> void value(T v)
    {
        char raw[sizeof(T)];
        qToLittleEndian(v, raw);
        m_bytes.append(raw, sizeof(T));
    }
    /// Sector numbers, at once.
    void values(const std::vector<quint32>& ids)
    {
        if (ids.empty())
            return; // an empty vector's data() may be null, which the copy must not be given
        const qsizetype at = m_bytes.size();
        m_bytes.resize(at + qsizetype(ids.size() * sizeof(quint32)));
        qToLittleEndian<quint32>(ids.data(), qsizetype(ids.size()), m_bytes.data() + at);
    }
    /// Free-sector marks (all bits set) up to the end of the sector.
    void padIds()
    {
        static_assert(kFreeSector == 0xFFFFFFFF);
        m_bytes.append((kSectorSize - m_bytes.size() % kSectorSize) % kSectorSize, '\xFF');
    }

private:
    QByteArray& m_bytes;
};

// Appends one directory entry. The fields are set in a buffer of the entry's size, appended at once: a
// file has dozens of entries, and appending them field by field is most of what their writing costs.
void writeEntry(QByteArray& out, QStringView name, EntryType type, const Links& links, const quint8* classId,
    quint32 start, quint32 size)
{
    char entry[kEntrySize] = {}; // the unused rest of the name, state bits, creation and modification times
    qToLittleEndian<quint16>(name.utf16(), name.size(), entry); // followed by the terminator
    qToLittleEndian(quint16(2 * (name.size() + 1)), entry + 64);
    entry[66] = char(type);
    entry[67] = links.red ? 0 : 1;
    qToLittleEndian(links.left, entry + 68);
    qToLittleEndian(links.right, entry + 72);
    qToLittleEndian(links.child, entry + 76);
    if (classId)
        std::memcpy(entry + 80, classId, 16);
    qToLittleEndian(start, entry + 116);
    qToLittleEndian(quint64(size), entry + 120);
    out.append(entry, kEntrySize);
}

// An unused directory entry: no name, no type, no links.
void writeUnusedEntry(QByteArray& out)
{
    char entry[kEntrySize] = {};
    std::memset(entry + 68, 0xFF, 12); // the three links: kNoEntry
    out.append(entry, kEntrySize);
}

// An entry of a storage that is still open: what its directory entry needs but its links, which its
// storage's tree gives once the storage is complete. Its name is in the storage's name buffer.
struct PendingEntry {
    quint32 nameAt;
    quint8 nameLength;
    EntryType type;
    quint32 start; // a stream's first sector or mini sector
    quint32 size;
    quint32 child = kNoEntry; // a storage's tree, once the storage is complete
};

struct OpenStorage {
    quint32 id; // its Storage number: the storages are numbered as they are added
    std::vector<PendingEntry> entries;
    std::u16string names;

    QStringView name(const PendingEntry& entry) const
    {
        return QStringView(names.data() + entry.nameAt, entry.nameLength);
    }
};

} // namespace

// The sectors of the file are appended in the order they are given numbers; the header (and the root
// entry, in the directory's first sector) are written over their places at the end.
struct CompoundFileWriter::State {
    State(const ClassId& classId, output::FileOutput& out)
        : out(out)
        , rootClassId(classId)
    {
    }

    output::FileOutput& out;
    ClassId rootClassId;
    std::optional<Error> error;
    std::vector<quint32> fat; // one link per sector written
    std::vector<quint32> miniFat;
    std::vector<OpenStorage> open; // the root first, then each storage inside the one before
    quint32 storages = 1;

    std::array<char, kSectorSize> miniSector; // the mini stream's sector being filled
    qsizetype miniFilled = 0; // the bytes of it filled
    quint32 miniStreamFirst = kEndOfChain;
    quint32 miniStreamLast = kEndOfChain;

    QByteArray directorySector; // the directory's sector being filled; its first holds the root entry
    quint32 entries = 1; // entry 0 is the root's
    quint32 directoryFirst = kEndOfChain;
    quint32 directoryLast = kEndOfChain;

    bool ok() const { return !error.has_value(); }
    void fail(Error why)
    {
        if (!error)
            error = std::move(why);
    }

    // Appends whole sectors of `bytes` (the last one padded with zeros); they make a chain of their own,
    // or follow `last` in its chain. Returns the first sector's number.
    quint32 appendSectors(QByteArrayView bytes, quint32 last = kEndOfChain)
    {
        const quint64 count = unitsFor(quint64(bytes.size()), kSectorSize);
        const quint64 first = fat.size();
        if (first + count > kMaxSector) {
            fail(Error { Error::Code::WriteFailed, {}, QStringLiteral("a compound file cannot hold that much") });
            return kEndOfChain;
        }
        if (last != kEndOfChain)
            fat[last] = quint32(first);
        for (quint64 sector = first + 1; sector < first + count; ++sector)
            fat.push_back(quint32(sector));
        fat.push_back(kEndOfChain);
        static constexpr char kZeros[kSectorSize] = {};
        Status appended = out.append(bytes);
        if (appended && bytes.size() % kSectorSize != 0)
            appended = out.append(QByteArrayView(kZeros, kSectorSize - bytes.size() % kSectorSize));
        if (!appended)
            fail(appended.error());
        return quint32(first);
    }

    // Adds `data` to the mini stream and returns its first mini sector.
    quint32 appendMini(QByteArrayView data)
    {
        const quint32 first = quint32(miniFat.size());
        const quint64 count = unitsFor(quint64(data.size()), kMiniSectorSize);
        for (quint64 sector = first + 1; sector < first + count; ++sector)
            miniFat.push_back(quint32(sector));
        miniFat.push_back(kEndOfChain);
        // The data, then zeros up to the end of its last mini sector.
        const qsizetype padded = qsizetype(count * kMiniSectorSize);
        for (qsizetype done = 0; done < padded;) {
            const qsizetype piece = std::min(padded - done, qsizetype(kSectorSize) - miniFilled);
            const qsizetype fromData = std::clamp(data.size() - done, qsizetype(0), piece);
            if (fromData > 0)
                std::memcpy(miniSector.data() + miniFilled, data.data() + done, size_t(fromData));
            std::memset(miniSector.data() + miniFilled + fromData, 0, size_t(piece - fromData));
            miniFilled += piece;
            done += piece;
            if (miniFilled == kSectorSize) {
                nextMiniStreamSector(QByteArrayView(miniSector.data(), kSectorSize));
                miniFilled = 0;
            }
        }
        return first;
    }

    void nextMiniStreamSector(QByteArrayView bytes)
    {
        miniStreamLast = appendSectors(bytes, miniStreamLast);
        if (miniStreamFirst == kEndOfChain)
            miniStreamFirst = miniStreamLast;
    }

    // Appends one directory entry; a full sector goes to the file.
    void appendEntry(QStringView name, EntryType type, const Links& links, quint32 start, quint32 size)
    {
        writeEntry(directorySector, name, type, links, nullptr, start, size);
        ++entries;
        if (directorySector.size() == kSectorSize)
            flushDirectorySector();
    }

    void flushDirectorySector()
    {
        directoryLast = appendSectors(directorySector, directoryLast);
        if (directoryFirst == kEndOfChain)
            directoryFirst = directoryLast;
        directorySector.clear();
    }

    OpenStorage& storage(Storage id)
    {
        while (open.back().id != quint32(id)) {
            Q_ASSERT(open.size() > 1); // entries are added depth first
            close();
        }
        return open.back();
    }

    // Writes the entries of the innermost open storage, linked into their tree, and closes it.
    void close()
    {
        OpenStorage& storage = open.back();
        const quint32 count = quint32(storage.entries.size());
        std::vector<quint32> sorted(count);
        std::iota(sorted.begin(), sorted.end(), 0);
        const auto less = [&](quint32 a, quint32 b) {
            return compareNames(storage.name(storage.entries[a]), storage.name(storage.entries[b])) < 0;
        };
        sortRuns(sorted.data(), sorted.data() + count, less);
        for (quint32 i = 1; i < count && ok(); ++i)
            if (!less(sorted[i - 1], sorted[i]))
                fail(Error { Error::Code::WriteFailed, {},
                    QStringLiteral("\"%1\" and \"%2\" name two entries of one storage of a compound file")
                        .arg(storage.name(storage.entries[sorted[i - 1]]), storage.name(storage.entries[sorted[i]])) });
        // The entries take the next numbers of the directory in the order they were added.
        const quint32 base = entries;
        for (quint32& index : sorted)
            index += base;
        std::vector<Links> links(count);
        const auto linksOf = [&](quint32 entry) -> Links& { return links[entry - base]; };
        const int firstPartLevel = std::bit_width(count + 1) - 1; // the first level that is not full
        const quint32 top = linkTree(sorted.data(), count, 0, firstPartLevel, linksOf);
        for (quint32 i = 0; i < count && ok(); ++i) {
            const PendingEntry& entry = storage.entries[i];
            Links& link = links[i];
            link.child = entry.child;
            appendEntry(storage.name(entry), entry.type, link, entry.start, entry.size);
        }
        open.pop_back();
        if (!open.empty())
            open.back().entries.back().child = top;
        else
            rootTree = top;
    }
    quint32 rootTree = kNoEntry;
};

CompoundFileWriter::CompoundFileWriter(const ClassId& rootClassId, output::FileOutput& out)
    : m_state(std::make_unique<State>(rootClassId, out))
{
    m_state->open.push_back({ quint32(Storage::Root), {}, {} });
    writeUnusedEntry(m_state->directorySector); // the root entry's place: written over at the end
    // The header's place: written over at the end.
    if (Status status = out.append(QByteArray(kSectorSize, '\0')); !status)
        m_state->fail(status.error());
}

CompoundFileWriter::~CompoundFileWriter() = default;

bool CompoundFileWriter::failed() const
{
    return !m_state->ok();
}

namespace {

// Appends `name` to `names` in UTF-16. The names of a .msg file are ASCII, given as bytes: they are widened
// without a QString made of each.
void appendUtf16(std::u16string& names, QAnyStringView name)
{
    name.visit([&names](auto view) {
        if constexpr (std::is_same_v<decltype(view), QStringView>) {
            names.append(reinterpret_cast<const char16_t*>(view.utf16()), std::size_t(view.size()));
        } else if (std::all_of(view.begin(), view.end(), [](auto c) { return uchar(c) < 0x80; })) {
            names.append(view.begin(), view.end());
        } else {
            const QString text = view.toString();
            names.append(reinterpret_cast<const char16_t*>(text.utf16()), std::size_t(text.size()));
        }
    });
}

// Checks `name` and adds its entry to `storage`, with its name and no place yet; nothing when the file
// failed already.
PendingEntry* addEntry(
    OpenStorage& storage, QAnyStringView name, EntryType type, qsizetype size, std::optional<Error>& error)
{
    if (error)
        return nullptr;
    const std::size_t at = storage.names.size();
    appendUtf16(storage.names, name);
    const QStringView text = QStringView(storage.names).sliced(qsizetype(at));
    QString problem = nameProblem(text);
    if (problem.isEmpty() && size > kMaxStreamSize)
        problem = QStringLiteral("the stream \"%1\" has %2 bytes; a compound file holds at most 2 GiB in one")
                      .arg(text)
                      .arg(size);
    if (!problem.isEmpty()) {
        error = Error { Error::Code::WriteFailed, {}, problem };
        return nullptr;
    }
    PendingEntry entry { quint32(at), quint8(text.size()), type, 0, quint32(size) };
    storage.entries.push_back(entry);
    return &storage.entries.back();
}

} // namespace

CompoundFileWriter::Storage CompoundFileWriter::addStorage(Storage parent, QAnyStringView name)
{
    State& state = *m_state;
    const Storage id = Storage(state.storages++);
    if (state.ok() && addEntry(state.storage(parent), name, StorageEntry, 0, state.error))
        state.open.push_back({ quint32(id), {}, {} });
    return id;
}

void CompoundFileWriter::addStream(Storage parent, QAnyStringView name, QByteArray data)
{
    State& state = *m_state;
    PendingEntry* entry
        = state.ok() ? addEntry(state.storage(parent), name, StreamEntry, data.size(), state.error) : nullptr;
    if (!entry)
        return;
    if (data.isEmpty())
        entry->start = kEndOfChain;
    else if (data.size() < kMiniStreamCutoff)
        entry->start = state.appendMini(data);
    else
        entry->start = state.appendSectors(data);
}

Status CompoundFileWriter::finish()
{
    State& state = *m_state;
    while (state.ok() && !state.open.empty())
        state.close();
    if (!state.ok())
        return *state.error;
    const quint32 miniSectors = quint32(state.miniFat.size());
    if (state.miniFilled > 0)
        state.nextMiniStreamSector(QByteArrayView(state.miniSector.data(), state.miniFilled));

    QByteArray miniFat;
    Output miniFatOut(miniFat);
    miniFatOut.values(state.miniFat);
    miniFatOut.padIds();
    const quint32 miniFatStart = miniFat.isEmpty() ? kEndOfChain : state.appendSectors(miniFat);
    const quint32 miniFatSectors = quint32(miniFat.size() / kSectorSize);

    // The root entry, first in the directory, holds the mini stream.
    QByteArray root;
    Links rootLinks;
    rootLinks.child = state.rootTree;
    writeEntry(root, u"Root Entry", RootEntry, rootLinks, state.rootClassId.data(),
        miniSectors > 0 ? state.miniStreamFirst : kEndOfChain, miniSectors * kMiniSectorSize);
    while (state.directorySector.size() % kSectorSize != 0)
        writeUnusedEntry(state.directorySector);
    if (!state.directorySector.isEmpty())
        state.flushDirectorySector();

    // The FAT describes every sector, its own and the DIFAT's too: both grow until they fit.
    const quint64 others = state.fat.size();
    quint64 fatSectors = 0, difatSectors = 0;
    for (;;) {
        const quint64 fat = unitsFor(others + fatSectors + difatSectors, kIdsPerSector);
        const quint64 difat = fat > kHeaderFatSlots ? unitsFor(fat - kHeaderFatSlots, kDifatSlots) : 0;
        if (fat == fatSectors && difat == difatSectors)
            break;
        fatSectors = fat;
        difatSectors = difat;
    }
    if (others + fatSectors + difatSectors > kMaxSector)
        return Error { Error::Code::WriteFailed, {}, QStringLiteral("a compound file cannot hold that much") };
    const auto fatSector = [&](quint64 index) { return index < fatSectors ? quint32(others + index) : kFreeSector; };
    const quint64 difatStart = others + fatSectors;
    state.fat.insert(state.fat.end(), fatSectors, kFatSector);
    state.fat.insert(state.fat.end(), difatSectors, kDifatSector);
    QByteArray tail;
    Output out(tail);
    out.values(state.fat);
    out.padIds();
    for (quint64 sector = 0; sector < difatSectors; ++sector) {
        for (quint64 slot = 0; slot < kDifatSlots; ++slot)
            out.value(fatSector(kHeaderFatSlots + sector * kDifatSlots + slot));
        out.value(sector + 1 < difatSectors ? quint32(difatStart + sector + 1) : kEndOfChain);
    }
    if (Status status = state.out.append(tail); !status)
        return status;

    QByteArray header;
    Output head(header);
    head.bytes("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1");
    head.zeros(16); // the header's class id, unused
    head.value<quint16>(0x003E); // minor version
    head.value<quint16>(3); // major version: 512-byte sectors
    head.value<quint16>(0xFFFE); // byte order mark
    head.value<quint16>(9); // sector shift
    head.value<quint16>(6); // mini sector shift
    head.zeros(6);
    head.value<quint32>(0); // the directory's sector count, which version 3 leaves out
    head.value(quint32(fatSectors));
    head.value(state.directoryFirst);
    head.value<quint32>(0); // transactions: not used
    head.value(kMiniStreamCutoff);
    head.value(miniFatStart);
    head.value(miniFatSectors);
    head.value(difatSectors > 0 ? quint32(difatStart) : kEndOfChain);
    head.value(quint32(difatSectors));
    for (quint32 i = 0; i < kHeaderFatSlots; ++i)
        head.value(fatSector(i));
    if (Status status = state.out.overwrite(0, header); !status)
        return status;
    return state.out.overwrite(qint64(state.directoryFirst + 1) * kSectorSize, root);
}

CompoundFile::CompoundFile(const ClassId& rootClassId)
    : m_rootClassId(rootClassId)
{
    m_entries.push_back({ QStringLiteral("Root Entry"), Storage::Root, true, {} });
}

CompoundFile::Storage CompoundFile::addStorage(Storage parent, QAnyStringView name)
{
    m_entries.push_back({ name.toString(), parent, true, {} });
    return Storage(m_entries.size() - 1);
}

void CompoundFile::addStream(Storage parent, QAnyStringView name, QByteArray data)
{
    Q_ASSERT(quint32(parent) < m_entries.size() && m_entries[quint32(parent)].isStorage);
    m_entries.push_back({ name.toString(), parent, false, std::move(data) });
}

Result<QByteArray> CompoundFile::toBytes() &&
{
    // The entries go to the writer depth first: each storage's entries in the order added, each storage's
    // own entries right after it.
    std::vector<std::vector<quint32>> children(m_entries.size());
    for (quint32 i = 1; i < m_entries.size(); ++i)
        children[quint32(m_entries[i].parent)].push_back(i);
    output::MemoryOutput bytes;
    CompoundFileWriter writer(m_rootClassId, bytes);
    const std::function<void(quint32, Storage)> add = [&](quint32 storage, Storage into) {
        for (quint32 i : children[storage]) {
            Entry& entry = m_entries[i];
            if (entry.isStorage)
                add(i, writer.addStorage(into, entry.name));
            else
                writer.addStream(into, entry.name, std::exchange(entry.data, QByteArray()));
        }
    };
    add(0, Storage::Root);
    if (Status status = writer.finish(); !status)
        return status.error();
    return bytes.take();
}

} // namespace quillbox::msg

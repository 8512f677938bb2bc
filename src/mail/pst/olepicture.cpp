// SPDX-License-Identifier: MIT
#include "mail/pst/olepicture.h"

#include <QStringList>
#include <QtEndian>

#include <algorithm>
#include <array>
#include <vector>

namespace quillbox::mail::pst {

namespace {

// A little-endian integer at `at` of `bytes`; 0 where the bytes end before it.
template <class T> T le(QByteArrayView bytes, qsizetype at)
{
    if (at < 0 || at > bytes.size() - qsizetype(sizeof(T)))
        return 0;
    return qFromLittleEndian<T>(bytes.data() + at);
}

// ---- Compound file ------------------------------------------------------------------------------------------

constexpr quint32 kEndOfChain = 0xFFFFFFFE;

// The streams of the root storage of a compound file, read just far enough for that: the header, the FAT, the
// directory and the mini stream. A damaged file gives no stream rather than bytes of another.
class CompoundReader {
public:
    explicit CompoundReader(QByteArrayView file)
        : m_file(file)
    {
        static constexpr std::array<uchar, 8> signature { 0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1 };
        if (file.size() < 512
            || !std::equal(signature.begin(), signature.end(), reinterpret_cast<const uchar*>(file.data())))
            return;
        const quint16 shift = le<quint16>(file, 0x1E);
        if (shift != 9 && shift != 12)
            return;
        m_sectorSize = qsizetype(1) << shift;
        m_miniCutoff = le<quint32>(file, 0x38);
        readFat();
        m_directory = chain(le<quint32>(file, 0x30));
        m_miniFat = chain(le<quint32>(file, 0x3C));
        m_ministream
            = streamBytes(le<quint32>(m_directory, 116), le<quint32>(m_directory, 120), false).value_or(QByteArray());
    }

    /// The entries of the root storage: their names, and for each stream where its directory entry is.
    struct Child {
        QString name;
        bool isStream;
        qsizetype at;
    };
    std::vector<Child> rootChildren() const
    {
        std::vector<Child> children;
        std::vector<quint32> pending { le<quint32>(m_directory, 76) };
        std::vector<bool> seen(size_t(m_directory.size() / 128), false);
        while (!pending.empty()) {
            const quint32 id = pending.back();
            pending.pop_back();
            if (id >= seen.size() || seen[id])
                continue;
            seen[id] = true;
            const qsizetype at = qsizetype(id) * 128;
            pending.push_back(le<quint32>(m_directory, at + 68));
            pending.push_back(le<quint32>(m_directory, at + 72));
            children.push_back({ entryName(at), m_directory[at + 66] == 2, at });
        }
        return children;
    }

    /// The bytes of the stream whose directory entry is at `at`; nothing when they cannot be read.
    std::optional<QByteArray> stream(qsizetype at) const
    {
        return streamBytes(le<quint32>(m_directory, at + 116), le<quint32>(m_directory, at + 120), true);
    }

    /// The class of the root storage (its CLSID as stored), empty when the file cannot be read.
    QByteArray rootClass() const { return m_directory.left(128).mid(80, 16); }

private:
    QString entryName(qsizetype at) const
    {
        const qsizetype units = std::min<qsizetype>(le<quint16>(m_directory, at + 64) / 2, 32);
        QString name;
        for (qsizetype i = 0; i < units; ++i)
            name += QChar(le<char16_t>(m_directory, at + 2 * i));
        if (name.endsWith(QChar(0)))
            name.chop(1);
        return name;
    }

    qsizetype sectorOffset(quint32 sector) const { return (qsizetype(sector) + 1) * m_sectorSize; }

    // The FAT sectors the header names, then those of the DIFAT chain.
    void readFat()
    {
        std::vector<quint32> fatSectors;
        for (qsizetype i = 0; i < 109; ++i)
            fatSectors.push_back(le<quint32>(m_file, 0x4C + 4 * i));
        quint32 difat = le<quint32>(m_file, 0x44);
        const qsizetype perSector = m_sectorSize / 4 - 1;
        for (qsizetype hops = 0; difat < kEndOfChain && sectorOffset(difat) < m_file.size(); ++hops) {
            if (hops > m_file.size() / m_sectorSize)
                break; // a DIFAT chain in a loop
            for (qsizetype i = 0; i < perSector; ++i)
                fatSectors.push_back(le<quint32>(m_file, sectorOffset(difat) + 4 * i));
            difat = le<quint32>(m_file, sectorOffset(difat) + 4 * perSector);
        }
        for (quint32 sector : fatSectors)
            if (sector < kEndOfChain && sectorOffset(sector) < m_file.size())
                m_fat.append(
                    m_file.sliced(sectorOffset(sector), std::min(m_sectorSize, m_file.size() - sectorOffset(sector))));
    }

    // The bytes of the sector chain from `start`, in the file's sectors; cut short where the chain breaks.
    QByteArray chain(quint32 start) const { return chainIn(start, m_fat, m_file, m_sectorSize, m_sectorSize); }

    static QByteArray chainIn(quint32 start, QByteArrayView fat, QByteArrayView data, qsizetype size, qsizetype first)
    {
        QByteArray bytes;
        const qsizetype limit = fat.size() / 4;
        for (quint32 sector = start, hops = 0; sector < kEndOfChain && hops <= limit; ++hops) {
            const qsizetype at = first + qsizetype(sector) * size;
            if (at + size > data.size())
                break;
            bytes += data.sliced(at, size);
            sector = qsizetype(sector) < limit ? le<quint32>(fat, 4 * qsizetype(sector)) : kEndOfChain;
        }
        return bytes;
    }

    std::optional<QByteArray> streamBytes(quint32 start, quint32 size, bool mayBeMini) const
    {
        const bool mini = mayBeMini && size < m_miniCutoff;
        const QByteArray bytes = mini ? chainIn(start, m_miniFat, m_ministream, 64, 0) : chain(start);
        if (bytes.size() < qsizetype(size))
            return std::nullopt;
        return bytes.left(qsizetype(size));
    }

    QByteArrayView m_file;
    qsizetype m_sectorSize = 512;
    quint32 m_miniCutoff = 4096;
    QByteArray m_fat;
    QByteArray m_directory;
    QByteArray m_miniFat;
    QByteArray m_ministream;
};

// ---- Pictures -----------------------------------------------------------------------------------------------

// A device-independent bitmap as a bitmap file: the BITMAPFILEHEADER says where the pixels start, after the
// header and the colour table.
std::optional<Picture> bitmapFile(const QByteArray& dib)
{
    const quint32 headerSize = le<quint32>(dib, 0);
    static constexpr std::array<quint32, 7> headerSizes { 12, 40, 52, 56, 64, 108, 124 };
    const bool core = headerSize == 12;
    if (std::find(headerSizes.begin(), headerSizes.end(), headerSize) == headerSizes.end()
        || dib.size() <= qsizetype(headerSize) || le<quint16>(dib, core ? 8 : 12) != 1) // one plane
        return std::nullopt;
    const quint16 bitCount = le<quint16>(dib, core ? 10 : 14);
    const quint32 compression = core ? 0 : le<quint32>(dib, 16);
    const quint32 used = core ? 0 : le<quint32>(dib, 32);
    const quint32 colours = used != 0 ? std::min<quint32>(used, 256) : (bitCount <= 8 ? 1u << bitCount : 0);
    constexpr quint32 kBitFields = 3, kAlphaBitFields = 6;
    const quint32 masks = headerSize != 40 ? 0
        : compression == kBitFields        ? 12
        : compression == kAlphaBitFields   ? 16
                                           : 0;
    const quint32 offset = 14 + headerSize + masks + colours * (core ? 3 : 4);
    QByteArray file(14, '\0');
    file[0] = 'B';
    file[1] = 'M';
    qToLittleEndian<quint32>(quint32(14 + dib.size()), file.data() + 2);
    qToLittleEndian<quint32>(offset, file.data() + 10);
    return Picture { file + dib, QStringLiteral("bmp"), QStringLiteral("image/bmp") };
}

// The picture `data` is, by its first bytes.
std::optional<Picture> pictureIn(const QByteArray& data)
{
    if (data.startsWith("BM") && le<quint32>(data, 10) >= 14 && le<quint32>(data, 10) < quint32(data.size()))
        return Picture { data, QStringLiteral("bmp"), QStringLiteral("image/bmp") };
    constexpr quint32 kEmfHeader = 1, kEmfSignature = 0x464D4520, kPlaceable = 0x9AC6CDD7;
    if (le<quint32>(data, 0) == kEmfHeader && le<quint32>(data, 40) == kEmfSignature)
        return Picture { data, QStringLiteral("emf"), QStringLiteral("image/emf") };
    const quint16 type = le<quint16>(data, 0), version = le<quint16>(data, 4);
    if (le<quint32>(data, 0) == kPlaceable
        || ((type == 1 || type == 2) && le<quint16>(data, 2) == 9 && (version == 0x100 || version == 0x300)))
        return Picture { data, QStringLiteral("wmf"), QStringLiteral("image/wmf") };
    return bitmapFile(data);
}

// The presentation data of an OLEPresentationStream: after its clipboard format, its target device and seven
// 32-bit fields, the last of which is the data's size. Writers differ on whether the target device's size counts
// its own four bytes, so both readings are tried.
std::optional<Picture> presentationPicture(const QByteArray& stream)
{
    const quint32 marker = le<quint32>(stream, 0);
    const qsizetype format = marker == 0xFFFFFFFF || marker == 0xFFFFFFFE ? 8 : 4 + qsizetype(marker);
    const qsizetype device = le<quint32>(stream, format);
    for (const qsizetype skipped : { device - 4, device }) {
        const qsizetype sizeAt = format + 4 + std::max<qsizetype>(skipped, 0) + 24;
        const qsizetype size = le<quint32>(stream, sizeAt);
        if (sizeAt + 4 <= stream.size() && size > 0 && size <= stream.size() - sizeAt - 4)
            if (auto picture = pictureIn(stream.sliced(sizeAt + 4, size)))
                return picture;
    }
    return std::nullopt;
}

} // namespace

std::optional<Picture> oleObjectPicture(QByteArrayView storage)
{
    const CompoundReader reader(storage);
    // The static pictures' classes: Picture (Metafile), Picture (Device Independent Bitmap), Picture (Enhanced
    // Metafile). Any other object is taken as its picture only when it holds nothing else: an embedded document
    // caches a picture of itself too, and is worth more than that.
    static const QByteArray staticTail = QByteArray::fromHex("00000000C000000000000046");
    const QByteArray rootClass = reader.rootClass();
    const quint32 classNumber = le<quint32>(rootClass, 0);
    const bool staticPicture
        = rootClass.endsWith(staticTail) && (classNumber == 0x315 || classNumber == 0x316 || classNumber == 0x319);
    static const QStringList pictureStreams { QStringLiteral("CONTENTS"), QStringLiteral("\x03META"),
        QStringLiteral("\x02OlePres000") };
    static const QStringList bookkeeping { QStringLiteral("\x01Ole"),
        QStringLiteral("\x01"
                       "CompObj"),
        QStringLiteral("\x03ObjInfo"), QStringLiteral("\x03MailStream"), QStringLiteral("\x03PIC") };
    std::array<std::optional<QByteArray>, 3> found;
    for (const CompoundReader::Child& child : reader.rootChildren()) {
        const qsizetype index = pictureStreams.indexOf(child.name);
        if (index >= 0 && child.isStream)
            found[size_t(index)] = reader.stream(child.at);
        else if (!staticPicture && !bookkeeping.contains(child.name))
            return std::nullopt;
    }
    for (size_t i = 0; i < 2; ++i)
        if (found[i])
            if (auto picture = pictureIn(*found[i]))
                return picture;
    return found[2] ? presentationPicture(*found[2]) : std::nullopt;
}

} // namespace quillbox::mail::pst

// SPDX-License-Identifier: MIT
#pragma once
// A compound file (OLE structured storage, the container of Outlook's .msg files) built in memory: the
// caller adds storages and streams, each whole, then takes the file's bytes. Version 3 of the format:
// 512-byte sectors; streams under 4096 bytes share the mini stream in 64-byte mini sectors, larger ones
// have sectors of their own; DIFAT sectors once the FAT outgrows the 109 places in the header. Every
// storage's entries form a balanced red-black tree in the order readers search by (shorter names first,
// names of one length compared upper-cased). Timestamps are zero, as libgsf writes them; only the root
// has a class id. Nothing is shared between objects: threads may build files at once.
// Layout and what readers make of it: docs/format-notes.md, section ".msg".

#include "core/result.h"

#include <QAnyStringView>
#include <QByteArray>
#include <QString>

#include <array>
#include <optional>
#include <vector>

namespace quillbox::msg {

class CompoundFile {
public:
    /// A storage of the file, by its directory entry; the root storage is Root.
    enum class Storage : quint32 { Root = 0 };
    using ClassId = std::array<quint8, 16>;

    /// A storage or stream of the file.
    struct Entry {
        QString name;
        Storage parent;
        bool isStorage;
        QByteArray data; ///< a stream's bytes
    };

    explicit CompoundFile(const ClassId& rootClassId);

    /// Adds the storage `name` to `parent` and returns it. A name must have 1 to 31 UTF-16 units, none
    /// of them '/', '\', ':' or '!', and differ from the other names in `parent` also when upper-cased;
    /// a name that does not is reported by toBytes().
    Storage addStorage(Storage parent, QAnyStringView name);
    /// Adds the stream `name` with the bytes `data` to `parent`. Names as for addStorage(); a stream
    /// may hold at most 2 GiB.
    void addStream(Storage parent, QAnyStringView name, QByteArray data);

    /// Everything added, in the order it was added, the root storage first.
    const std::vector<Entry>& entries() const { return m_entries; }
    const ClassId& rootClassId() const { return m_rootClassId; }

    /// The file. Each stream's data is let go once it is copied, so the object is spent afterwards.
    /// Error WriteFailed, without a path, for the first name or stream that breaks the rules above.
    Result<QByteArray> toBytes() &&;

private:
    Storage add(Storage parent, QAnyStringView name, bool isStorage, QByteArray data);

    std::vector<Entry> m_entries;
    ClassId m_rootClassId;
    std::optional<Error> m_error;
};

} // namespace quillbox::msg

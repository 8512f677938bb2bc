// SPDX-License-Identifier: MIT
#pragma once
// A compound file (OLE structured storage, the container of Outlook's .msg files), version 3: 512-byte
// sectors; streams under 4096 bytes share the mini stream in 64-byte mini sectors, larger ones have sectors
// of their own; DIFAT sectors once the FAT outgrows the 109 places in the header. Every storage's entries
// form a balanced red-black tree in the order readers search by (shorter names first, names of one length
// compared upper-cased). Timestamps are zero, as libgsf writes them; only the root has a class id.
// CompoundFileWriter writes the file as it is built, so that what it holds at once is the FAT and the
// entries of the storages still open, never the file; CompoundFile keeps what is added, for tests and
// checks, and writes it the same way. Nothing is shared between objects: threads may build files at once.
// Layout and what readers make of it: docs/format-notes.md, section ".msg".

#include "core/result.h"
#include "output/outputfile.h"

#include <QAnyStringView>
#include <QByteArray>
#include <QString>

#include <array>
#include <memory>
#include <optional>
#include <vector>

namespace quillbox::msg {

/// What a compound file is built of: storages and streams, added one at a time. A name must have 1 to 31
/// UTF-16 units, none of them '/', '\', ':' or '!', and differ from the other names of its storage also
/// when upper-cased; a stream may hold at most 2 GiB. A name or stream that breaks these rules makes the
/// file fail (Error WriteFailed, without a path) when it is written.
class CompoundFileBuilder {
public:
    /// A storage of the file; the root storage is Root.
    enum class Storage : quint32 { Root = 0 };
    using ClassId = std::array<quint8, 16>;

    virtual ~CompoundFileBuilder() = default;
    /// Adds the storage `name` to `parent` and returns it.
    virtual Storage addStorage(Storage parent, QAnyStringView name) = 0;
    /// Adds the stream `name` with the bytes `data` to `parent`.
    virtual void addStream(Storage parent, QAnyStringView name, QByteArray data) = 0;
};

/// Writes a compound file to `out` as it is built. Entries are added depth first: once an entry is added
/// to a storage, the storages below it that were added since are complete (their entries are written),
/// and nothing more may be added to them. What the file holds at once is its FAT and mini FAT (4 bytes a
/// sector and a mini sector), the names of the open storages' entries, and a stream's bytes while they are
/// written.
class CompoundFileWriter final : public CompoundFileBuilder {
public:
    CompoundFileWriter(const ClassId& rootClassId, output::FileOutput& out);
    ~CompoundFileWriter() override;

    Storage addStorage(Storage parent, QAnyStringView name) override;
    void addStream(Storage parent, QAnyStringView name, QByteArray data) override;
    /// Whether the file has failed already: adding more is in vain.
    bool failed() const;
    /// Completes every storage and writes the parts only the end knows (the directory's last entries, the
    /// mini FAT, the FAT, the header). The first rule broken (see CompoundFileBuilder) or the output's own
    /// Error when it could not be written.
    Status finish();

private:
    struct State;
    std::unique_ptr<State> m_state;
};

/// A compound file kept in memory as it is added, in any order, for tests and checks.
class CompoundFile final : public CompoundFileBuilder {
public:
    /// A storage or stream of the file.
    struct Entry {
        QString name;
        Storage parent;
        bool isStorage;
        QByteArray data; ///< a stream's bytes
    };

    explicit CompoundFile(const ClassId& rootClassId);

    Storage addStorage(Storage parent, QAnyStringView name) override;
    void addStream(Storage parent, QAnyStringView name, QByteArray data) override;

    /// Everything added, in the order it was added, the root storage first.
    const std::vector<Entry>& entries() const { return m_entries; }
    const ClassId& rootClassId() const { return m_rootClassId; }

    /// The file, as CompoundFileWriter writes it. The object is spent afterwards.
    /// Error WriteFailed, without a path, for the first name or stream that breaks the rules.
    Result<QByteArray> toBytes() &&;

private:
    std::vector<Entry> m_entries;
    ClassId m_rootClassId;
};

} // namespace quillbox::msg

// SPDX-License-Identifier: MIT
#pragma once
// The record a destination keeps of the mail saved into it across runs: `.quillbox-manifest.jsonl`, one
// JSON object per line and per saved mail, appended as each mail is written, and `index.csv` made from it
// for people. A run that finds a mail recorded with all its files still in place need not write it again.
//
// A line names the mail (its entry identifier, Message-ID, folder, times, people, subject, attachment
// names), the output type, the time of the run and every file written for it, each with its path relative
// to the destination, its size and its SHA-256. The manifest is read as data that anyone could have
// written: a path in it is only compared with what the destination holds, looked up below it without
// following a link, and never opened; a line that is damaged, or names a path that would leave the
// destination, is left out and counted.

#include "core/result.h"
#include "output/outputfile.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace quillbox::mail {
class MailItem;
}

namespace quillbox::output {

/// One file written for a mail.
struct ManifestFile {
    QString path; ///< relative to the destination, names joined by "/"
    qint64 size = 0;
    QByteArray sha256; ///< lower-case hex

    /// The record of `content` written at `path`.
    static ManifestFile of(const QString& path, QByteArrayView content);
    /// The record of the file `name` of `dir`, read back piece by piece, written at `path`.
    static Result<ManifestFile> ofFile(const Directory& dir, const QString& name, const QString& path);
};

/// One saved mail: one line of the manifest, one row of the index.
struct ManifestEntry {
    QString entryId;
    QString messageId; ///< without its angle brackets; empty where the mail has none
    QString type; ///< the output type, lower case
    QString runTime; ///< when the run started, ISO 8601 in UTC
    QString folder; ///< the mail folder's path
    QString sent; ///< ISO 8601 with the offset from UTC; empty when unknown
    QString received; ///< the same
    QString from;
    QString to;
    QString cc;
    QString subject;
    QStringList attachments; ///< the attachments' names as the store gives them
    QList<ManifestFile> files;

    /// The entry of `email` saved as `type` in the run that started at `runTime`, without its files.
    static ManifestEntry of(const mail::MailItem& email, const QString& type, const QString& runTime);
    /// The bytes of all its files.
    qint64 size() const;
};

class Manifest {
public:
    /// The manifest's and the index's names in the destination.
    static QString fileName();
    static QString indexName();
    /// The version written into each line; a line of a later one stops the read.
    static constexpr int kVersion = 1;

    /// The manifest of `destination`; an empty one where there is none. Error Invalid when a line was
    /// written by a newer version (whose meaning this one cannot know, so it must neither skip by it nor
    /// add to it); Error Unreadable when the file cannot be read. The lines are read, and their files looked
    /// up, on the spare processors; of a line only what the skip needs is read until entries() or
    /// indexCsv() ask for the rest.
    static Result<Manifest> read(const Directory& destination);

    /// Lines left out (not JSON, not an entry, a path that leaves the destination), and the first of them
    /// as "line N: why".
    int ignoredLines() const { return m_ignored; }
    const QString& firstIgnored() const { return m_firstIgnored; }

    /// The latest entry of each mail and output type, in the order of their first lines.
    QList<ManifestEntry> entries() const;
    /// Whether the mail `entryId` has an entry of `type` whose every file was in the destination, with its
    /// recorded size, when the manifest was read.
    bool savedWhole(const QString& entryId, const QString& type) const;
    /// Calls `visit` with the path of every file of the entries for which savedWhole() holds.
    void forEachWholeFile(const std::function<void(const QString& path)>& visit) const;

    /// Appends `entry` as one line to the manifest file of `destination` (the file opened on the first
    /// call), handed to the system at once. Error WriteFailed as for any file that cannot be written.
    Status append(const ManifestEntry& entry, const Directory& destination, Disk& disk);

    /// Whether the index in `destination` was written after the manifest's last line and this object has
    /// appended none: it holds what indexCsv() would give.
    bool indexCurrent(const Directory& destination) const;

    /// index.csv: a header row, then a row per entries() item (RFC 4180: CR LF, fields with a quote, a
    /// comma or a line break quoted, quotes doubled; UTF-8 without a byte-order mark). Several attachment
    /// names, files or hashes share their cell one per line.
    QByteArray indexCsv() const;

private:
    struct Held {
        ManifestEntry entry; ///< with a line: its identifier, type and files' paths and sizes only
        qsizetype lineStart = -1; ///< the line of m_text it was read from, read whole when all is asked for
        qsizetype lineSize = 0;
        bool whole = false;
    };
    void ignore(int line, const QString& why);
    void hold(Held held);
    ManifestEntry wholeEntry(const Held& held) const;

    QByteArray m_text; // the file as read
    QList<Held> m_entries;
    QHash<QString, QHash<QString, qsizetype>> m_index; // type -> entry id -> m_entries
    int m_ignored = 0;
    QString m_firstIgnored;
    bool m_needsLineEnd = false; // the file ends in a cut line: the next line starts on a line of its own
    std::optional<AppendFile> m_file;
};

} // namespace quillbox::output

// SPDX-License-Identifier: MIT
#pragma once
// Where saved mail reaches the disk. Every file is written whole before it gets its name, so a reader
// (or an interrupted run) only ever sees the old file or the whole new one: where the file system can,
// it is written as an unnamed file in its directory and linked in under its name (nothing is left behind
// even when the process is killed); a file that replaces another, or one on a file system without unnamed
// files, is written under a temporary name beside its target and renamed onto it.
// Below the destination nothing is followed: a directory is opened relative to its parent without
// following a symbolic link, and a file replaces whatever entry has its name (a link is replaced, not
// followed). So a name from the mail store or a link planted in the tree cannot lead a write elsewhere.
// No file is synced to disk: the rename keeps a reader from seeing a cut file; surviving a power cut
// would need an fsync per file, which costs more than the whole save of a small mail.

#include "core/result.h"

#include <QByteArrayView>
#include <QDateTime>
#include <QString>

#include <functional>
#include <optional>

#include <sys/types.h>

namespace quillbox::output {

/// The system calls through which saved mail reaches the disk. Each returns what the system call
/// returns, with errno set on failure. Tests put in a Disk that fails a chosen call, as a full or
/// read-only file system would.
class Disk {
public:
    virtual ~Disk() = default;
    virtual int openat(int dirFd, const char* name, int flags, mode_t mode);
    virtual ssize_t write(int fd, const void* data, size_t size);
    virtual int mkdirat(int dirFd, const char* name, mode_t mode);
    virtual int renameat(int fromDirFd, const char* from, int toDirFd, const char* to);
    /// linkat(2), by which an unnamed file gets its name: with AT_SYMLINK_FOLLOW, or, when `from` is "",
    /// with AT_EMPTY_PATH, linking the open file `fromDirFd` itself.
    virtual int linkat(int fromDirFd, const char* from, int toDirFd, const char* to);

    /// The process's own system calls.
    static Disk& system();
};

class AppendFile;

/// A file written in pieces as they are made: appended in order, and a few bytes written again over a
/// place written before (a header that only the end of the file knows).
class FileOutput {
public:
    virtual ~FileOutput() = default;
    /// Appends `bytes`. Error WriteFailed with the system's reason.
    virtual Status append(QByteArrayView bytes) = 0;
    /// Writes `bytes` over those at `offset` from the start, which were appended before.
    virtual Status overwrite(qint64 offset, QByteArrayView bytes) = 0;
};

/// A FileOutput that keeps the file in memory.
class MemoryOutput final : public FileOutput {
public:
    /// With room for `expectedSize` bytes from the start: a file grown piece by piece is copied each time
    /// it outgrows its room.
    explicit MemoryOutput(qsizetype expectedSize = 0) { m_bytes.reserve(expectedSize); }
    Status append(QByteArrayView bytes) override;
    Status overwrite(qint64 offset, QByteArrayView bytes) override;
    /// The file; the object is empty afterwards.
    QByteArray take() { return std::move(m_bytes); }

private:
    QByteArray m_bytes;
};

/// A directory open for writing into, by its file descriptor; closed when the object goes.
class Directory {
public:
    Directory() = default;
    ~Directory();
    Directory(Directory&& other) noexcept;
    Directory& operator=(Directory&& other) noexcept;
    Directory(const Directory&) = delete;
    Directory& operator=(const Directory&) = delete;

    /// Opens the directory at `path`, following symbolic links on the way: it is the person's own choice.
    static Result<Directory> open(const QString& path, Disk& disk);

    bool isOpen() const { return m_fd >= 0; }
    /// The path of the entry `name` in this directory (below the path it was opened with), for messages.
    QString filePath(const QString& name) const;

    /// The directory `name` inside this one, made when it is missing. A symbolic link, a file or anything
    /// else that is not a directory at `name` is an Error (WriteFailed), never followed.
    Result<Directory> subdirectory(const QString& name, Disk& disk) const;

    /// Writes `data` as the file `name` in this directory, named only when all is written. Whatever was
    /// at `name` (a file or a symbolic link) is replaced whole; on failure it stays as it was and no
    /// temporary file is left. Error WriteFailed with the file's path and the system's reason.
    Status writeFile(const QString& name, QByteArrayView data, Disk& disk) const;
    /// Writes the file `name` as `write` makes it, piece by piece (nothing but what `write` holds is held in
    /// memory), named only when `write` succeeded and all is written; as the other writeFile() otherwise.
    /// An Error of `write` is returned with the file's path where it has none.
    Status writeFile(const QString& name, const std::function<Status(FileOutput&)>& write, Disk& disk) const;

    /// The size and modification time of a regular file.
    struct FileStat {
        qint64 size = 0;
        qint64 modifiedNs = 0; ///< since the epoch
    };
    /// The regular file at `relativePath` below this directory (names joined by "/"), looked up without
    /// following any symbolic link on the way; nothing when there is no such regular file. A path that is
    /// absolute or holds "", "." or ".." as a name is never looked up.
    std::optional<FileStat> regularFile(const QString& relativePath) const;

    /// The bytes of the regular file `name` in this directory, read without following a link: empty when
    /// there is no such entry; Error Unreadable when it cannot be read or is no regular file.
    Result<QByteArray> readFile(const QString& name) const;
    /// The same, piece by piece to `piece`; nothing for a missing entry.
    Status readFile(const QString& name, const std::function<void(QByteArrayView)>& piece) const;

    /// The file `name` in this directory opened to be appended to, made when missing; a symbolic link at
    /// `name` is an Error (WriteFailed), never followed.
    Result<AppendFile> openAppend(const QString& name, Disk& disk) const;

    /// Gives the entry `name` (a file or a directory, never followed when a link) `time` as its access and
    /// modification time. Error WriteFailed with its path and the system's reason.
    Status setTime(const QString& name, const QDateTime& time) const;

private:
    friend class PendingDirectory;
    Directory(int fd, QString path);
    /// Writes the file `name` by `fill`, which writes its bytes to the open file it is given and returns 0
    /// or the errno of its failure; as writeFile() otherwise.
    Status fill(const QString& name, const std::function<int(int fd)>& fill, Disk& disk) const;

    int m_fd = -1;
    QString m_path;
    // How files get their names here, learnt from the first that failed one way and handed on to the
    // directories opened below.
    struct Naming {
        // Unnamed files failed (no O_TMPFILE on this file system, no way to link one): a temporary name.
        bool namedOnly = false;
        // The system refused to link an unnamed file by its descriptor (before Linux 6.10 only a privileged
        // process may): it is linked through /proc.
        bool throughProc = false;
    };
    mutable Naming m_naming;
};

/// A file that grows at its end, each piece handed straight to the system (nothing is held back in the
/// process): a piece appended stays when the process is killed afterwards. Closed when the object goes.
class AppendFile {
public:
    AppendFile() = default;
    ~AppendFile();
    AppendFile(AppendFile&& other) noexcept;
    AppendFile& operator=(AppendFile&& other) noexcept;

    /// Appends all of `data`. Error WriteFailed with the file's path and the system's reason.
    Status append(QByteArrayView data, Disk& disk) const;

private:
    friend class Directory;
    AppendFile(int fd, QString path);

    int m_fd = -1;
    QString m_path;
};

/// A directory built under a temporary name inside its parent, that takes its own name only when it is
/// whole: the directory of one saved mail. A reader, or an interrupted run, never sees it half made, and
/// one that fails leaves nothing behind. Whatever is still under the temporary name when the object goes
/// (it was not committed, or its commit failed) is removed.
class PendingDirectory {
public:
    /// Makes the temporary directory inside `parent` (which must outlive the object), to become `name`.
    static Result<PendingDirectory> make(const Directory& parent, const QString& name, Disk& disk);
    ~PendingDirectory();
    PendingDirectory(PendingDirectory&& other) noexcept;
    PendingDirectory& operator=(PendingDirectory&&) = delete;

    /// The directory to write into; its paths, for messages, are those under its own name.
    const Directory& directory() const { return m_dir; }

    /// Gives the directory its name. Where a directory of that name is there already (an earlier run's),
    /// each entry moves into it and replaces the entry of its name, and a directory that both hold is
    /// merged the same way. Anything else at the name (a file, a symbolic link) is an Error and stays.
    Status commit(Disk& disk);

private:
    PendingDirectory(const Directory& parent, Directory dir, QByteArray temporary, QString name);

    const Directory* m_parent;
    Directory m_dir;
    QByteArray m_temporary; // empty once committed
    QString m_name;
};

} // namespace quillbox::output

namespace quillbox {

/// Creates the directory `path` ("/" between names) and every missing parent, parents first. An entry that
/// exists at a path, whatever it is, counts as there; a path without "/" is never created. Error WriteFailed
/// with the directory that could not be made and why.
Status makeDirPath(const QString& path, output::Disk& disk = output::Disk::system());

} // namespace quillbox

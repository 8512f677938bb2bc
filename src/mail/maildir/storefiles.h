// SPDX-License-Identifier: MIT
#pragma once
// The files of a Maildir tree, reached from its root through directory descriptors: no path handed to the
// kernel grows with the depth of the tree, a link is followed only to a place inside the tree, and what is
// no regular file is never opened as a message.

#include "core/result.h"

#include <QByteArray>
#include <dirent.h>
#include <optional>
#include <sys/stat.h>
#include <utility>
#include <vector>

namespace quillbox::mail::maildir {

/// A directory's identity: a walk enters each directory once, and a link is followed only to a
/// directory inside the tree.
struct DirId {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const DirId&) const = default;
    QByteArray key() const { return QByteArray::number(quint64(device)) + ':' + QByteArray::number(quint64(inode)); }
};

inline DirId idOf(const struct stat& info)
{
    return { info.st_dev, info.st_ino };
}

/// `dir` + "/" + `name`, either of which may be empty.
QByteArray joined(const QByteArray& dir, const QByteArray& name);
/// An Error about `path` with the words of the OS for `error`.
Error osError(Error::Code code, const QByteArray& path, int error);
/// An Unreadable Error about `path`, for `why`.
Error unreadable(const QByteArray& path, const char* why);
/// Whether `error` means "nothing there" (a dangling link, a link loop, a file renamed or deleted
/// meanwhile) rather than "there, but unreadable".
bool isAbsence(int error);

/// A file descriptor, closed with the object.
class Fd {
public:
    explicit Fd(int fd = -1)
        : m_fd(fd)
    {
    }
    ~Fd();
    Fd(Fd&& other) noexcept
        : m_fd(std::exchange(other.m_fd, -1))
    {
    }
    Fd& operator=(Fd&& other) noexcept
    {
        std::swap(m_fd, other.m_fd);
        return *this;
    }
    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    int release() { return std::exchange(m_fd, -1); }

private:
    int m_fd;
};

/// One entry of a directory listing, with its type as the listing gives it (DT_UNKNOWN on some file systems).
struct Entry {
    QByteArray name;
    unsigned char type = DT_UNKNOWN;
};

/// A directory open for listing.
class Dir {
public:
    /// The directory `name` of the directory `parentFd`.
    Dir(int parentFd, const char* name);
    /// The directory `fd`, which it takes over.
    explicit Dir(Fd fd);
    ~Dir();
    Dir(Dir&& other) noexcept
        : m_dir(std::exchange(other.m_dir, nullptr))
        , m_error(other.m_error)
    {
    }
    Dir& operator=(Dir&&) = delete;
    bool ok() const { return m_dir; }
    int error() const { return m_error; }
    int fd() const { return ::dirfd(m_dir); }
    /// Appends the entries, without "." and "..". False with error() set when reading fails.
    bool entries(std::vector<Entry>& out);

private:
    DIR* m_dir = nullptr;
    int m_error;
};

/// The root directory of a tree, and its identity when it was opened.
struct StoreRoot {
    QByteArray dir; ///< encoded for the file system
    DirId id;
    QByteArray path(const QByteArray& relative) const { return joined(dir, relative); }
};

/// Opens the directory `relative` below `root` (`flags`: O_RDONLY to list it, O_PATH to open what it
/// holds), a piece of the path at a time, so that no depth of the tree is too deep to open. NotFound when
/// it is not there.
Result<Fd> openDir(const StoreRoot& root, const QByteArray& relative, int flags);

/// A directory, listed.
struct Listing {
    Dir dir;
    std::vector<Entry> entries;
    DirId id;
};
Result<Listing> readListing(const StoreRoot& root, const QByteArray& relative);

/// Whether the directory `dirFd` is the root or lies below it, going up through "..": where a link leads,
/// whatever path it names.
bool liesInStore(const StoreRoot& root, int dirFd);
/// Whether the entry of the directory `dirFd` is a symbolic link.
bool isLink(int dirFd, const Entry& entry);

/// Opens the message file `name` of the directory `dirFd` (`type` as the listing gives it; the directory's
/// path `dirPath` and `name` name it in errors) for reading, without blocking: a FIFO in place of a message must not
/// hang the run. A link is followed only to a file inside the tree. Nothing when the file is not there (renamed or
/// deleted since it was listed, a link that dangles or loops); an Error when it is no regular file, cannot be read or
/// lies outside the tree. `info` is filled unless the listing said a regular file and `needInfo` is false.
Result<std::optional<Fd>> openMessageFile(const StoreRoot& root, int dirFd, const QByteArray& name,
    const QByteArray& dirPath, unsigned char type, struct stat& info, bool needInfo);

} // namespace quillbox::mail::maildir

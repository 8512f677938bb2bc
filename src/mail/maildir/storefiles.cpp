// SPDX-License-Identifier: MIT
#include "mail/maildir/storefiles.h"

#include <QFile>

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace quillbox::mail::maildir {

QByteArray joined(const QByteArray& dir, const QByteArray& name)
{
    if (dir.isEmpty())
        return name;
    if (name.isEmpty())
        return dir;
    return dir.endsWith('/') ? dir + name : dir + '/' + name;
}

Error osError(Error::Code code, const QByteArray& path, int error)
{
    return Error { code, QFile::decodeName(path), QString::fromLocal8Bit(std::strerror(error)) };
}

Error unreadable(const QByteArray& path, const char* why)
{
    return Error { Error::Code::Unreadable, QFile::decodeName(path), QLatin1String(why) };
}

bool isAbsence(int error)
{
    return error == ENOENT || error == ENOTDIR || error == ELOOP;
}

Fd::~Fd()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

Dir::Dir(int parentFd, const char* name)
    : Dir(Fd(::openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC)))
{
}

Dir::Dir(Fd fd)
    : m_error(fd.valid() ? 0 : errno)
{
    if (!fd.valid())
        return;
    m_dir = ::fdopendir(fd.get());
    if (m_dir)
        fd.release();
    else
        m_error = errno;
}

Dir::~Dir()
{
    if (m_dir)
        ::closedir(m_dir);
}

bool Dir::entries(std::vector<Entry>& out)
{
    errno = 0;
    while (dirent* entry = ::readdir(m_dir)) {
        const char* name = entry->d_name;
        if (std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0)
            out.push_back({ QByteArray(name), entry->d_type });
        errno = 0;
    }
    m_error = errno;
    return m_error == 0;
}

namespace {

// The longest piece of a path handed to the kernel at once: far below its limit (4096 bytes), far above
// the longest name (255 bytes), so that a path can always be cut at a "/".
constexpr qsizetype kPathPiece = 2048;

/// Where a link to a file leads: the directory that holds the file, and the file's name there.
struct LinkTarget {
    Fd dir;
    QByteArray name;
    struct stat info;
};

// Follows the link `name` of `dirFd`, and the links it leads to, to a file that is no link. Nothing when
// a link dangles or the links go round in a loop.
Result<std::optional<LinkTarget>> followLink(int dirFd, QByteArray name, const QByteArray& path)
{
    using Found = std::optional<LinkTarget>;
    Fd held;
    int at = dirFd;
    for (int hop = 0; hop < 40; ++hop) {
        char target[PATH_MAX];
        const ssize_t length = ::readlinkat(at, name.constData(), target, sizeof target);
        if (length < 0 || length == ssize_t(sizeof target))
            return length >= 0 || isAbsence(errno) ? Result<Found>(Found())
                                                   : osError(Error::Code::Unreadable, path, errno);
        const QByteArray text(target, length);
        const qsizetype slash = text.lastIndexOf('/');
        const QByteArray dir = slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : text.left(slash);
        name = slash + 1 == text.size() ? QByteArray(".") : text.mid(slash + 1);
        Fd next(::openat(at, dir.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (!next.valid())
            return isAbsence(errno) ? Result<Found>(Found()) : osError(Error::Code::Unreadable, path, errno);
        held = std::move(next);
        at = held.get();
        LinkTarget found { Fd(), name, {} };
        if (::fstatat(at, name.constData(), &found.info, AT_SYMLINK_NOFOLLOW) != 0)
            return isAbsence(errno) ? Result<Found>(Found()) : osError(Error::Code::Unreadable, path, errno);
        if (!S_ISLNK(found.info.st_mode)) {
            found.dir = std::move(held);
            return Found(std::move(found));
        }
    }
    return Found();
}

} // namespace

Result<Fd> openDir(const StoreRoot& root, const QByteArray& relative, int flags)
{
    Fd dir(::open(root.dir.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (dir.valid() && relative.isEmpty())
        dir = Fd(::openat(dir.get(), ".", flags | O_DIRECTORY | O_CLOEXEC));
    for (qsizetype at = 0; dir.valid() && at < relative.size();) {
        qsizetype end = relative.size();
        if (end - at > kPathPiece) {
            const qsizetype slash = relative.lastIndexOf('/', at + kPathPiece);
            if (slash > at)
                end = slash;
        }
        const bool last = end == relative.size();
        dir = Fd(::openat(
            dir.get(), relative.mid(at, end - at).constData(), (last ? flags : O_PATH) | O_DIRECTORY | O_CLOEXEC));
        at = end + 1;
    }
    if (!dir.valid())
        return osError(isAbsence(errno) ? Error::Code::NotFound : Error::Code::Unreadable, root.path(relative), errno);
    return dir;
}

Result<Listing> readListing(const StoreRoot& root, const QByteArray& relative)
{
    auto fd = openDir(root, relative, O_RDONLY);
    if (!fd)
        return fd.error();
    struct stat info;
    if (::fstat(fd->get(), &info) != 0)
        return osError(Error::Code::Unreadable, root.path(relative), errno);
    Listing listing { Dir(std::move(*fd)), {}, idOf(info) };
    if (!listing.dir.ok() || !listing.dir.entries(listing.entries))
        return osError(Error::Code::Unreadable, root.path(relative), listing.dir.error());
    return listing;
}

bool liesInStore(const StoreRoot& root, int dirFd)
{
    struct stat info;
    if (::fstat(dirFd, &info) != 0)
        return false;
    Fd held;
    for (int fd = dirFd; idOf(info) != root.id;) {
        Fd up(::openat(fd, "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
        struct stat above;
        if (!up.valid() || ::fstat(up.get(), &above) != 0 || idOf(above) == idOf(info))
            return false; // the top of the file system, or a directory that cannot be gone up from
        held = std::move(up);
        fd = held.get();
        info = above;
    }
    return true;
}

bool isLink(int dirFd, const Entry& entry)
{
    if (entry.type != DT_UNKNOWN)
        return entry.type == DT_LNK;
    struct stat info;
    return ::fstatat(dirFd, entry.name.constData(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(info.st_mode);
}

Result<std::optional<Fd>> openMessageFile(const StoreRoot& root, int dirFd, const QByteArray& name,
    const QByteArray& dirPath, unsigned char type, struct stat& info, bool needInfo)
{
    using Opened = std::optional<Fd>;
    // Built only for an error: most files open without one.
    const auto path = [&] { return joined(dirPath, name); };
    int at = dirFd;
    QByteArray atName = name;
    Fd targetDir;
    if (type != DT_REG) {
        if (::fstatat(dirFd, name.constData(), &info, AT_SYMLINK_NOFOLLOW) != 0)
            return isAbsence(errno) ? Result<Opened>(Opened()) : osError(Error::Code::Unreadable, path(), errno);
        if (S_ISLNK(info.st_mode)) {
            auto target = followLink(dirFd, name, path());
            if (!target || !*target)
                return target ? Result<Opened>(Opened()) : target.error();
            if (!liesInStore(root, (*target)->dir.get()))
                return unreadable(path(), "a link that leads out of the store");
            targetDir = std::move((*target)->dir);
            at = targetDir.get();
            atName = (*target)->name;
            info = (*target)->info;
        }
        if (!S_ISREG(info.st_mode))
            return unreadable(path(), "not a regular file");
    }
    Fd fd(::openat(at, atName.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW));
    if (!fd.valid())
        return isAbsence(errno) ? Result<Opened>(Opened()) : osError(Error::Code::Unreadable, path(), errno);
    if (type == DT_REG && !needInfo)
        return Opened(std::move(fd));
    if (::fstat(fd.get(), &info) != 0)
        return osError(Error::Code::Unreadable, path(), errno);
    if (!S_ISREG(info.st_mode))
        return unreadable(path(), "not a regular file");
    return Opened(std::move(fd));
}

} // namespace quillbox::mail::maildir

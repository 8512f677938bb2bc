// SPDX-License-Identifier: MIT
#include "output/outputfile.h"

#include <QFile>
#include <QRandomGenerator>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace quillbox::output {

namespace {

QString systemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

Error writeFailed(const QString& path, int error)
{
    return Error { Error::Code::WriteFailed, path, systemReason(error) };
}

// A name no saved file has: hidden, and with a random part so that two runs into the same directory
// (or leftovers of a killed one) do not meet.
QByteArray temporaryName()
{
    return ".quillbox-" + QByteArray::number(QRandomGenerator::global()->generate64(), 36) + ".tmp";
}

// Why the entry `name` of `dirFd`, at `path`, could not be used as a directory: `error`, or the symbolic
// link that is there.
Error notADirectory(int dirFd, const QByteArray& name, const QString& path, int error)
{
    struct stat info;
    if (::fstatat(dirFd, name.constData(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(info.st_mode))
        return Error { Error::Code::WriteFailed, path,
            QStringLiteral("a symbolic link is in the place of the directory") };
    return writeFailed(path, error);
}

// A directory below the destination is opened without following a link.
constexpr int kSubdirectoryFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

int openDirectoryAt(int dirFd, const QByteArray& name)
{
    return ::openat(dirFd, name.constData(), kSubdirectoryFlags);
}

// The names in the directory `fd`, without "." and "..".
QList<QByteArray> entryNames(int fd)
{
    QList<QByteArray> names;
    const int own = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    DIR* dir = own < 0 ? nullptr : ::fdopendir(own);
    if (!dir) {
        if (own >= 0)
            ::close(own);
        return names;
    }
    ::rewinddir(dir);
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name != "." && name != "..")
            names << name;
    }
    ::closedir(dir);
    return names;
}

// Removes the directory `name` of `dirFd` with everything in it. Links in it are removed, never followed.
void removeTree(int dirFd, const QByteArray& name)
{
    if (const int fd = openDirectoryAt(dirFd, name); fd >= 0) {
        for (const QByteArray& entry : entryNames(fd))
            if (::unlinkat(fd, entry.constData(), 0) != 0 && errno == EISDIR)
                removeTree(fd, entry);
        ::close(fd);
    }
    ::unlinkat(dirFd, name.constData(), AT_REMOVEDIR);
}

// Moves every entry of the directory `from` into the directory `to`, each replacing the entry of its name;
// a directory that both hold is merged the same way. 0 or the errno of the first failure.
int moveEntries(Disk& disk, int from, int to)
{
    for (const QByteArray& name : entryNames(from)) {
        if (disk.renameat(from, name.constData(), to, name.constData()) == 0)
            continue;
        if (errno != EEXIST && errno != ENOTEMPTY)
            return errno;
        const int fromChild = openDirectoryAt(from, name);
        const int toChild = openDirectoryAt(to, name);
        const int error = fromChild < 0 || toChild < 0 ? errno : moveEntries(disk, fromChild, toChild);
        for (const int fd : { fromChild, toChild })
            if (fd >= 0)
                ::close(fd);
        if (error)
            return error;
    }
    return 0;
}

} // namespace

int Disk::openat(int dirFd, const char* name, int flags, mode_t mode)
{
    return ::openat(dirFd, name, flags, mode);
}

ssize_t Disk::write(int fd, const void* data, size_t size)
{
    return ::write(fd, data, size);
}

int Disk::mkdirat(int dirFd, const char* name, mode_t mode)
{
    return ::mkdirat(dirFd, name, mode);
}

int Disk::renameat(int fromDirFd, const char* from, int toDirFd, const char* to)
{
    return ::renameat(fromDirFd, from, toDirFd, to);
}

int Disk::linkat(int fromDirFd, const char* from, int toDirFd, const char* to)
{
    return ::linkat(fromDirFd, from, toDirFd, to, *from ? AT_SYMLINK_FOLLOW : AT_EMPTY_PATH);
}

Disk& Disk::system()
{
    static Disk disk;
    return disk;
}

Directory::Directory(int fd, QString path)
    : m_fd(fd)
    , m_path(std::move(path))
{
}

Directory::~Directory()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

Directory::Directory(Directory&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1))
    , m_path(std::move(other.m_path))
    , m_naming(other.m_naming)
{
}

Directory& Directory::operator=(Directory&& other) noexcept
{
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = std::exchange(other.m_fd, -1);
        m_path = std::move(other.m_path);
        m_naming = other.m_naming;
    }
    return *this;
}

QString Directory::filePath(const QString& name) const
{
    return m_path.endsWith(u'/') ? m_path + name : m_path + u'/' + name;
}

Result<Directory> Directory::open(const QString& path, Disk& disk)
{
    const int fd = disk.openat(AT_FDCWD, QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
    if (fd < 0)
        return writeFailed(path, errno);
    return Directory(fd, path);
}

Result<Directory> Directory::subdirectory(const QString& name, Disk& disk) const
{
    const QByteArray encoded = QFile::encodeName(name);
    int fd = disk.openat(m_fd, encoded.constData(), kSubdirectoryFlags, 0);
    if (fd < 0 && errno == ENOENT) {
        if (disk.mkdirat(m_fd, encoded.constData(), 0777) != 0 && errno != EEXIST)
            return writeFailed(filePath(name), errno);
        fd = disk.openat(m_fd, encoded.constData(), kSubdirectoryFlags, 0);
    }
    if (fd < 0)
        return notADirectory(m_fd, encoded, filePath(name), errno);
    Directory child(fd, filePath(name));
    child.m_naming = m_naming;
    return child;
}

namespace {

// Writes all of `data` to `fd`; 0 or the errno of the failure.
int writeAll(Disk& disk, int fd, QByteArrayView data)
{
    for (qsizetype done = 0; done < data.size();) {
        const ssize_t written = disk.write(fd, data.data() + done, size_t(data.size() - done));
        if (written > 0)
            done += written;
        else if (written == 0)
            return EIO;
        else if (errno != EINTR)
            return errno;
    }
    return 0;
}

// Gives the unnamed file `fd` the name `target` in `dirFd`: by its descriptor, one step where the path
// through /proc is looked up name by name; through /proc when the system refuses that (`throughProc` is
// then set for the files after it). 0 or the errno of the failure.
int linkUnnamed(Disk& disk, int fd, int dirFd, const QByteArray& target, bool& throughProc)
{
    if (!throughProc) {
        if (disk.linkat(fd, "", dirFd, target.constData()) == 0)
            return 0;
        if (errno != ENOENT && errno != EPERM)
            return errno;
        throughProc = true;
    }
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(fd);
    return disk.linkat(AT_FDCWD, self.constData(), dirFd, target.constData()) == 0 ? 0 : errno;
}

// Gives the unnamed file `fd` the name `target` in `dirFd`, replacing what is there: it is linked in under a
// temporary name, then renamed onto `target`. 0 or the errno of the failure; no temporary name stays.
int linkReplacing(Disk& disk, int fd, int dirFd, const QByteArray& target, bool& throughProc)
{
    for (int attempt = 0; attempt < 16; ++attempt) {
        const QByteArray temporary = temporaryName();
        if (const int error = linkUnnamed(disk, fd, dirFd, temporary, throughProc)) {
            if (error == EEXIST)
                continue;
            return error;
        }
        if (disk.renameat(dirFd, temporary.constData(), dirFd, target.constData()) == 0)
            return 0;
        const int error = errno;
        ::unlinkat(dirFd, temporary.constData(), 0);
        return error;
    }
    return EEXIST;
}

constexpr int kNoUnnamedFiles = -1;

using FillFile = std::function<int(int fd)>;

// The errno by which a FillFile says that what it writes failed for a reason of its own.
constexpr int kFillFailed = -2;

// A FileOutput into the open file `fd`: pieces are gathered into writes of kChunk bytes or more.
class DiskOutput final : public FileOutput {
public:
    DiskOutput(Disk& disk, int fd)
        : m_disk(disk)
        , m_fd(fd)
    {
    }
    Status append(QByteArrayView bytes) override
    {
        if (m_buffer.size() + bytes.size() > kChunk && !flush())
            return failure();
        if (bytes.size() >= kChunk) {
            m_error = writeAll(m_disk, m_fd, bytes);
            return m_error ? failure() : success();
        }
        m_buffer.append(bytes);
        return success();
    }
    Status overwrite(qint64 offset, QByteArrayView bytes) override
    {
        if (!flush())
            return failure();
        if (::lseek(m_fd, offset, SEEK_SET) < 0 || (m_error = writeAll(m_disk, m_fd, bytes)) != 0
            || ::lseek(m_fd, 0, SEEK_END) < 0)
            m_error = m_error ? m_error : errno;
        return m_error ? failure() : success();
    }
    // Writes what is gathered; false once writing failed.
    bool flush()
    {
        if (!m_error && !m_buffer.isEmpty())
            m_error = writeAll(m_disk, m_fd, m_buffer);
        m_buffer.clear();
        return m_error == 0;
    }
    int error() const { return m_error; }

private:
    static constexpr qsizetype kChunk = 1 << 20;
    Status failure() const { return Error { Error::Code::WriteFailed, {}, systemReason(m_error) }; }

    Disk& m_disk;
    int m_fd;
    int m_error = 0;
    QByteArray m_buffer;
};

// Fills an unnamed file in `dirFd` and links it in under `target` when it is whole: one change
// to the directory where a temporary name costs three (create, then the rename's remove and add).
// 0, the errno of the failure, or kNoUnnamedFiles when the file system has no unnamed files or there is
// no way to link one.
int writeUnnamed(Disk& disk, int dirFd, const QByteArray& target, const FillFile& fill, bool& throughProc)
{
    const int fd = disk.openat(dirFd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (fd < 0)
        return errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL ? kNoUnnamedFiles : errno;
    int error = fill(fd);
    if (!error) {
        error = linkUnnamed(disk, fd, dirFd, target, throughProc);
        if (error == EEXIST) // a file to replace: linked in under a temporary name, renamed onto it
            error = linkReplacing(disk, fd, dirFd, target, throughProc);
    }
    if (::close(fd) != 0 && !error)
        error = errno;
    return error == ENOENT ? kNoUnnamedFiles : error;
}

} // namespace

Status MemoryOutput::append(QByteArrayView bytes)
{
    m_bytes.append(bytes);
    return success();
}

Status MemoryOutput::overwrite(qint64 offset, QByteArrayView bytes)
{
    Q_ASSERT(offset >= 0 && offset + bytes.size() <= m_bytes.size());
    std::memcpy(m_bytes.data() + offset, bytes.data(), size_t(bytes.size()));
    return success();
}

Status Directory::writeFile(const QString& name, QByteArrayView data, Disk& disk) const
{
    return fill(
        name, [&disk, data](int fd) { return writeAll(disk, fd, data); }, disk);
}

Status Directory::writeFile(const QString& name, const std::function<Status(FileOutput&)>& write, Disk& disk) const
{
    std::optional<Error> failed;
    const Status written = fill(
        name,
        [&](int fd) {
            DiskOutput out(disk, fd);
            const Status made = write(out);
            if (!out.flush())
                return out.error();
            if (!made)
                failed = made.error();
            return made ? 0 : kFillFailed;
        },
        disk);
    if (written || !failed)
        return written;
    if (failed->path.isEmpty())
        failed->path = filePath(name);
    return *failed;
}

Status Directory::fill(const QString& name, const std::function<int(int fd)>& fill, Disk& disk) const
{
    const QByteArray target = QFile::encodeName(name);
    if (!m_naming.namedOnly) {
        const int error = writeUnnamed(disk, m_fd, target, fill, m_naming.throughProc);
        if (error == 0)
            return success();
        if (error != kNoUnnamedFiles)
            return writeFailed(filePath(name), error);
        m_naming.namedOnly = true;
    }

    QByteArray temporary;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 16; ++attempt) {
        temporary = temporaryName();
        fd = disk.openat(m_fd, temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0)
        return writeFailed(filePath(name), errno);

    int error = fill(fd);
    if (::close(fd) != 0 && !error)
        error = errno;
    if (!error && disk.renameat(m_fd, temporary.constData(), m_fd, target.constData()) != 0)
        error = errno;
    if (!error)
        return success();
    ::unlinkat(m_fd, temporary.constData(), 0);
    return writeFailed(filePath(name), error);
}

namespace {

// Whether `name` is one name of a relative path that stays where it is: not "", "." or "..".
bool isPlainName(QStringView name)
{
    return !name.isEmpty() && name != u"." && name != u"..";
}

} // namespace

std::optional<Directory::FileStat> Directory::regularFile(const QString& relativePath) const
{
    const QStringList names = relativePath.split(u'/');
    for (const QString& name : names)
        if (!isPlainName(name) || name.contains(QChar(0)))
            return std::nullopt;
    int fd = m_fd;
    for (qsizetype i = 0; i + 1 < names.size() && fd >= 0; ++i) {
        const int child = openDirectoryAt(fd, QFile::encodeName(names[i]));
        if (fd != m_fd)
            ::close(fd);
        fd = child;
    }
    if (fd < 0)
        return std::nullopt;
    struct stat info;
    const bool found = ::fstatat(fd, QFile::encodeName(names.last()).constData(), &info, AT_SYMLINK_NOFOLLOW) == 0
        && S_ISREG(info.st_mode);
    if (fd != m_fd)
        ::close(fd);
    if (!found)
        return std::nullopt;
    return FileStat { info.st_size, qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec };
}

Result<QByteArray> Directory::readFile(const QString& name) const
{
    QByteArray bytes;
    if (Status read = readFile(name, [&bytes](QByteArrayView piece) { bytes.append(piece); }); !read)
        return read.error();
    return bytes;
}

Status Directory::readFile(const QString& name, const std::function<void(QByteArrayView)>& piece) const
{
    // Without blocking: a pipe planted at the name is refused, not waited on.
    const int fd = ::openat(m_fd, QFile::encodeName(name).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT)
        return success();
    if (fd < 0)
        return Error { Error::Code::Unreadable, filePath(name), systemReason(errno) };
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return Error { Error::Code::Unreadable, filePath(name), file.errorString() };
    }
    struct stat info;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
        return Error { Error::Code::Unreadable, filePath(name), QStringLiteral("not a regular file") };
    QByteArray buffer(1 << 20, Qt::Uninitialized);
    for (qint64 got; (got = file.read(buffer.data(), buffer.size())) > 0;)
        piece(QByteArrayView(buffer).first(got));
    if (file.error() != QFileDevice::NoError)
        return Error { Error::Code::Unreadable, filePath(name), file.errorString() };
    return success();
}

Result<AppendFile> Directory::openAppend(const QString& name, Disk& disk) const
{
    const int fd = disk.openat(
        m_fd, QFile::encodeName(name).constData(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0)
        return writeFailed(filePath(name), errno);
    return AppendFile(fd, filePath(name));
}

Status Directory::setTime(const QString& name, const QDateTime& time) const
{
    const qint64 ms = time.toMSecsSinceEpoch();
    const timespec when { time_t(ms / 1000), long((ms % 1000) * 1000000) };
    const timespec times[2] = { when, when };
    if (::utimensat(m_fd, QFile::encodeName(name).constData(), times, AT_SYMLINK_NOFOLLOW) != 0)
        return writeFailed(filePath(name), errno);
    return success();
}

AppendFile::AppendFile(int fd, QString path)
    : m_fd(fd)
    , m_path(std::move(path))
{
}

AppendFile::~AppendFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

AppendFile::AppendFile(AppendFile&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1))
    , m_path(std::move(other.m_path))
{
}

AppendFile& AppendFile::operator=(AppendFile&& other) noexcept
{
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = std::exchange(other.m_fd, -1);
        m_path = std::move(other.m_path);
    }
    return *this;
}

Status AppendFile::append(QByteArrayView data, Disk& disk) const
{
    if (const int error = writeAll(disk, m_fd, data))
        return writeFailed(m_path, error);
    return success();
}

PendingDirectory::PendingDirectory(const Directory& parent, Directory dir, QByteArray temporary, QString name)
    : m_parent(&parent)
    , m_dir(std::move(dir))
    , m_temporary(std::move(temporary))
    , m_name(std::move(name))
{
}

PendingDirectory::PendingDirectory(PendingDirectory&& other) noexcept
    : m_parent(other.m_parent)
    , m_dir(std::move(other.m_dir))
    , m_temporary(std::exchange(other.m_temporary, QByteArray()))
    , m_name(std::move(other.m_name))
{
}

PendingDirectory::~PendingDirectory()
{
    if (!m_temporary.isEmpty())
        removeTree(m_parent->m_fd, m_temporary);
}

Result<PendingDirectory> PendingDirectory::make(const Directory& parent, const QString& name, Disk& disk)
{
    const QString path = parent.filePath(name);
    for (int attempt = 0; attempt < 16; ++attempt) {
        const QByteArray temporary = temporaryName();
        if (disk.mkdirat(parent.m_fd, temporary.constData(), 0777) != 0) {
            if (errno == EEXIST)
                continue;
            return writeFailed(path, errno);
        }
        const int fd = disk.openat(parent.m_fd, temporary.constData(), kSubdirectoryFlags, 0);
        if (fd < 0) {
            const int error = errno;
            ::unlinkat(parent.m_fd, temporary.constData(), AT_REMOVEDIR);
            return writeFailed(path, error);
        }
        Directory dir(fd, path);
        dir.m_naming = parent.m_naming;
        return PendingDirectory(parent, std::move(dir), temporary, name);
    }
    return writeFailed(path, EEXIST);
}

Status PendingDirectory::commit(Disk& disk)
{
    const int parentFd = m_parent->m_fd;
    const QByteArray target = QFile::encodeName(m_name);
    if (disk.renameat(parentFd, m_temporary.constData(), parentFd, target.constData()) == 0) {
        m_temporary.clear();
        return success();
    }
    if (errno != EEXIST && errno != ENOTEMPTY)
        return notADirectory(parentFd, target, m_dir.m_path, errno);
    // An earlier run's directory: what it holds of this mail is replaced, entry by entry.
    const int existing = openDirectoryAt(parentFd, target);
    if (existing < 0)
        return notADirectory(parentFd, target, m_dir.m_path, errno);
    const int error = moveEntries(disk, m_dir.m_fd, existing);
    ::close(existing);
    return error ? Status(writeFailed(m_dir.m_path, error)) : success();
}

} // namespace quillbox::output

namespace quillbox {

Status makeDirPath(const QString& path, output::Disk& disk)
{
    struct stat info;
    if (::lstat(QFile::encodeName(path).constData(), &info) == 0)
        return success();
    const qsizetype slash = path.lastIndexOf(u'/');
    if (slash < 0)
        return success();
    if (Status parent = makeDirPath(path.left(slash), disk); !parent)
        return parent;
    // "/a/b/" names "/a/b" again once its parent is made; a directory made meanwhile is as good.
    if (disk.mkdirat(AT_FDCWD, QFile::encodeName(path).constData(), 0777) != 0 && errno != EEXIST)
        return Error { Error::Code::WriteFailed, path, QString::fromLocal8Bit(std::strerror(errno)) };
    return success();
}

} // namespace quillbox

// SPDX-License-Identifier: MIT
// The Maildir tree as a store. The mapping of directories onto folders and the lookup of entry
// identifiers are described in docs/format-notes.md ("Maildir").
#include "mail/maildir/maildirstore.h"

#include "mail/maildir/headerscan.h"
#include "mail/maildir/maildirmessage.h"
#include "mail/maildir/maildirnames.h"

#include <QFile>
#include <QHash>
#include <QMap>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillbox::mail {

namespace maildir {

namespace {

/// A directory's identity, to notice a symbolic link that leads back up the tree.
struct DirId {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const DirId&) const = default;
};

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

// Errors that mean "nothing there" (a dangling link, a link loop, a file renamed or deleted meanwhile)
// rather than "there, but unreadable".
bool isAbsence(int error)
{
    return error == ENOENT || error == ENOTDIR || error == ELOOP;
}

class Fd {
public:
    explicit Fd(int fd = -1)
        : m_fd(fd)
    {
    }
    ~Fd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

class Dir {
public:
    explicit Dir(const QByteArray& path)
        : m_dir(::opendir(path.constData()))
        , m_error(m_dir ? 0 : errno)
    {
    }
    ~Dir()
    {
        if (m_dir)
            ::closedir(m_dir);
    }
    Dir(const Dir&) = delete;
    Dir& operator=(const Dir&) = delete;
    bool ok() const { return m_dir; }
    int error() const { return m_error; }
    int fd() const { return ::dirfd(m_dir); }
    /// The names of the entries, without "." and "..". False with error() set when reading fails.
    bool names(QList<QByteArray>& out, std::vector<unsigned char>* types = nullptr)
    {
        errno = 0;
        while (dirent* entry = ::readdir(m_dir)) {
            const char* name = entry->d_name;
            if (std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0) {
                out += QByteArray(name);
                if (types)
                    types->push_back(entry->d_type);
            }
            errno = 0;
        }
        m_error = errno;
        return m_error == 0;
    }

private:
    DIR* m_dir;
    int m_error;
};

enum class Probe { Yes, No, Failed };

// Whether `path` is a directory (following links). On Failed, errno tells why.
Probe isDirectory(const QByteArray& path, DirId* id = nullptr)
{
    struct stat info;
    if (::stat(path.constData(), &info) != 0)
        return isAbsence(errno) ? Probe::No : Probe::Failed;
    if (id)
        *id = { info.st_dev, info.st_ino };
    return S_ISDIR(info.st_mode) ? Probe::Yes : Probe::No;
}

// A directory is a Maildir folder when it holds cur/ or new/.
Probe isMaildir(const QByteArray& path)
{
    const Probe cur = isDirectory(path + "/cur");
    if (cur != Probe::No)
        return cur;
    return isDirectory(path + "/new");
}

bool isMessageDirName(const QByteArray& name)
{
    return name == "cur" || name == "new" || name == "tmp";
}

// A Maildir++ entry name (".A.B") with no empty part.
bool isPlusName(const QByteArray& entry)
{
    if (entry.size() < 2 || !entry.startsWith('.') || entry.endsWith('.'))
        return false;
    return !entry.contains("..");
}

/// What the store's folders share: the store's name and root directory.
struct StoreData {
    QString name;
    QByteArray root; ///< the root directory, encoded for the file system
    QByteArray path(const QByteArray& relative) const { return joined(root, relative); }
};

/// Where a folder lies in the tree.
struct Place {
    QStringList names; ///< the folder names below the store's top folder
    std::optional<QByteArray> messagesDir; ///< the directory whose cur/ and new/ hold its messages
    std::optional<QByteArray> childrenDir; ///< the directory whose sub-directories are sub-folders
    /// Maildir++ sub-folders: the entries of `plusBase` that start with `plusPrefix` (".A.").
    std::optional<std::pair<QByteArray, QByteArray>> plus;
    std::vector<DirId> chain; ///< the directories on the way down, this one's included
};

class MaildirFolder : public Folder {
public:
    MaildirFolder(std::shared_ptr<StoreData> store, Place place)
        : m_store(std::move(store))
        , m_place(std::move(place))
    {
    }

    QString name() const override { return m_place.names.isEmpty() ? m_store->name : m_place.names.last(); }
    QString folderPath() const override
    {
        QString path = QLatin1String("\\\\") + m_store->name;
        for (const QString& name : m_place.names)
            path += u'\\' + name;
        return path;
    }
    QString fullFolderPath() const override
    {
        QString path = QLatin1String("\\\\") + m_store->name;
        for (const QString& name : m_place.names)
            path += u'/' + name;
        return path;
    }
    Result<std::vector<std::unique_ptr<Folder>>> folders() const override;
    Status items(const std::function<void(const ItemSummary&)>& visit) const override;

private:
    Status addNested(const QByteArray& entry, std::vector<Place>& children) const;
    Status addPlus(const QByteArray& base, const QByteArray& prefix, const QList<QByteArray>& entries,
        std::vector<Place>& children) const;
    Result<bool> holdsFolders(const QByteArray& dir, std::vector<DirId> chain) const;

    std::shared_ptr<StoreData> m_store;
    Place m_place;
};

// The sub-directory `dir` below the store, unless it leads back into `chain` (a link loop) or is missing.
Result<std::optional<DirId>> newDirectory(
    const StoreData& store, const QByteArray& dir, const std::vector<DirId>& chain)
{
    DirId id;
    const QByteArray path = store.path(dir);
    switch (isDirectory(path, &id)) {
    case Probe::Failed:
        return osError(Error::Code::Unreadable, path, errno);
    case Probe::No:
        return std::optional<DirId>();
    case Probe::Yes:
        break;
    }
    if (std::find(chain.begin(), chain.end(), id) != chain.end())
        return std::optional<DirId>();
    return std::optional<DirId>(id);
}

Result<bool> maildirAt(const StoreData& store, const QByteArray& dir)
{
    const QByteArray path = store.path(dir);
    switch (isMaildir(path)) {
    case Probe::Yes:
        return true;
    case Probe::No:
        return false;
    case Probe::Failed:
        break;
    }
    return osError(Error::Code::Unreadable, path, errno);
}

Result<QList<QByteArray>> entriesOf(const StoreData& store, const QByteArray& dir)
{
    Dir listing(store.path(dir));
    QList<QByteArray> names;
    if (!listing.ok() || !listing.names(names))
        return osError(Error::Code::Unreadable, store.path(dir), listing.error());
    return names;
}

} // namespace

Result<bool> MaildirFolder::holdsFolders(const QByteArray& dir, std::vector<DirId> chain) const
{
    auto entries = entriesOf(*m_store, dir);
    if (!entries)
        return entries.error();
    for (const QByteArray& entry : *entries) {
        if (isMessageDirName(entry))
            continue;
        const QByteArray child = joined(dir, entry);
        auto id = newDirectory(*m_store, child, chain);
        if (!id)
            return id.error();
        if (!*id)
            continue;
        auto maildir = maildirAt(*m_store, child);
        if (!maildir)
            return maildir.error();
        if (*maildir)
            return true;
        if (entry.startsWith('.'))
            continue;
        chain.push_back(**id);
        auto deeper = holdsFolders(child, chain);
        chain.pop_back();
        if (!deeper || *deeper)
            return deeper;
    }
    return false;
}

// A plain sub-directory is a folder when it is a Maildir or holds folders somewhere below.
Status MaildirFolder::addNested(const QByteArray& entry, std::vector<Place>& children) const
{
    const QByteArray dir = joined(*m_place.childrenDir, entry);
    auto id = newDirectory(*m_store, dir, m_place.chain);
    if (!id)
        return id.error();
    if (!*id)
        return success();
    auto maildir = maildirAt(*m_store, dir);
    if (!maildir)
        return maildir.error();
    std::vector<DirId> chain = m_place.chain;
    chain.push_back(**id);
    if (!*maildir) {
        auto holds = holdsFolders(dir, chain);
        if (!holds)
            return holds.error();
        if (!*holds)
            return success();
    }
    Place place { m_place.names, std::nullopt, dir, std::nullopt, std::move(chain) };
    place.names += decodeModifiedUtf7(entry);
    if (*maildir)
        place.messagesDir = dir;
    children.push_back(std::move(place));
    return success();
}

// Maildir++ sub-folders: among the entries of `base`, the Maildir `prefix` + "X" is the sub-folder X, and
// Maildirs named `prefix` + "X.Y..." lie below it (X then exists even without a directory of its own).
Status MaildirFolder::addPlus(const QByteArray& base, const QByteArray& prefix, const QList<QByteArray>& entries,
    std::vector<Place>& children) const
{
    struct Group {
        std::optional<QByteArray> dir; // prefix + X, when it is a directory
        DirId id;
        bool isMaildir = false;
        bool hasBelow = false;
    };
    QMap<QByteArray, Group> groups;
    for (const QByteArray& entry : entries) {
        if (!entry.startsWith(prefix) || entry.size() == prefix.size())
            continue;
        const bool regular = isPlusName(entry);
        if (!regular && prefix != ".")
            continue; // a name with an empty part is one folder of its own at the top (see folderNamesOf)
        const QByteArray dir = joined(base, entry);
        auto id = newDirectory(*m_store, dir, m_place.chain);
        if (!id)
            return id.error();
        if (!*id)
            continue;
        auto maildir = maildirAt(*m_store, dir);
        if (!maildir)
            return maildir.error();
        if (!regular) {
            if (*maildir) {
                Place place { m_place.names + folderNamesOf(entry), dir, dir, std::nullopt, m_place.chain };
                place.chain.push_back(**id);
                children.push_back(std::move(place));
            }
            continue;
        }
        const QByteArray rest = entry.mid(prefix.size());
        const qsizetype dot = rest.indexOf('.');
        Group& group = groups[dot < 0 ? rest : rest.left(dot)];
        if (dot < 0) {
            group.dir = dir;
            group.id = **id;
            group.isMaildir = *maildir;
        } else if (*maildir) {
            group.hasBelow = true;
        }
    }
    for (auto it = groups.cbegin(); it != groups.cend(); ++it) {
        const Group& group = it.value();
        if (!group.isMaildir && !group.hasBelow)
            continue; // a hidden directory that holds no mail (".notmuch")
        Place place { m_place.names, std::nullopt, group.dir, std::make_pair(base, prefix + it.key() + '.'),
            m_place.chain };
        place.names += decodeModifiedUtf7(it.key());
        if (group.isMaildir)
            place.messagesDir = group.dir;
        if (group.dir)
            place.chain.push_back(group.id);
        children.push_back(std::move(place));
    }
    return success();
}

Result<std::vector<std::unique_ptr<Folder>>> MaildirFolder::folders() const
{
    std::vector<Place> children;
    if (m_place.names.isEmpty() && m_place.childrenDir) {
        auto rootIsMaildir = maildirAt(*m_store, *m_place.childrenDir);
        if (!rootIsMaildir)
            return rootIsMaildir.error();
        if (*rootIsMaildir)
            children.push_back(Place { folderNamesOfDir({}), QByteArray(), std::nullopt, std::nullopt, {} });
    }
    if (m_place.childrenDir) {
        const QByteArray& dir = *m_place.childrenDir;
        auto entries = entriesOf(*m_store, dir);
        if (!entries)
            return entries.error();
        for (const QByteArray& entry : *entries) {
            if (entry.startsWith('.') || isMessageDirName(entry))
                continue;
            if (Status added = addNested(entry, children); !added)
                return added.error();
        }
        if (Status added = addPlus(dir, ".", *entries, children); !added)
            return added.error();
    }
    if (m_place.plus) {
        const auto& [base, prefix] = *m_place.plus;
        auto entries = entriesOf(*m_store, base);
        if (!entries)
            return entries.error();
        if (Status added = addPlus(base, prefix, *entries, children); !added)
            return added.error();
    }

    // Deterministic order: by name, ignoring case, then by directory.
    std::sort(children.begin(), children.end(), [](const Place& a, const Place& b) {
        if (const int order = a.names.last().compare(b.names.last(), Qt::CaseInsensitive))
            return order < 0;
        if (const int order = a.names.last().compare(b.names.last()))
            return order < 0;
        return a.messagesDir.value_or(a.childrenDir.value_or(QByteArray()))
            < b.messagesDir.value_or(b.childrenDir.value_or(QByteArray()));
    });
    std::vector<std::unique_ptr<Folder>> folders;
    for (Place& place : children)
        folders.push_back(std::make_unique<MaildirFolder>(m_store, std::move(place)));
    return folders;
}

namespace {

/// The outcome of reading one message file: its bytes, or nothing when it is not (or no longer) there.
struct Loaded {
    QByteArray bytes;
    qint64 modified = 0;
};

Error notRegular(const QByteArray& path)
{
    return Error { Error::Code::Unreadable, QFile::decodeName(path), QStringLiteral("not a regular file") };
}

// Opens a message file without blocking (a FIFO in place of a message must not hang the run) and
// checks it is a regular file, unless the directory listing said so already and `info` is not needed
// (`knownRegular`). -1 with `absent` set when it is not there.
Result<int> openMessage(int dirFd, const QByteArray& name, const QByteArray& path, bool& absent, struct stat& info,
    bool knownRegular = false)
{
    absent = false;
    const int fd = ::openat(dirFd, name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        absent = isAbsence(errno);
        if (absent)
            return -1;
        return osError(Error::Code::Unreadable, path, errno);
    }
    if (knownRegular)
        return fd;
    if (::fstat(fd, &info) != 0) {
        const int error = errno;
        ::close(fd);
        return osError(Error::Code::Unreadable, path, error);
    }
    if (!S_ISREG(info.st_mode)) {
        ::close(fd);
        return notRegular(path);
    }
    return fd;
}

Result<std::optional<Loaded>> readWholeMessage(const QByteArray& path)
{
    bool absent = false;
    struct stat info;
    auto opened = openMessage(AT_FDCWD, path, path, absent, info);
    if (!opened)
        return opened.error();
    if (absent)
        return std::optional<Loaded>();
    Fd fd(*opened);
    Loaded loaded { QByteArray(), qint64(info.st_mtime) };
    loaded.bytes.resize(qsizetype(info.st_size));
    qsizetype used = 0;
    for (;;) {
        if (used == loaded.bytes.size())
            loaded.bytes.resize(used + 64 * 1024); // the file grew since fstat
        const ssize_t got = ::read(fd.get(), loaded.bytes.data() + used, size_t(loaded.bytes.size() - used));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return osError(Error::Code::Unreadable, path, errno);
        if (got == 0)
            break;
        used += got;
    }
    loaded.bytes.truncate(used);
    return std::optional<Loaded>(std::move(loaded));
}

struct Listed {
    QByteArray unique;
    QByteArray name;
    int subdir; // index into kSubdirs
    bool regular; // the listing says it is a regular file
    bool timed; // the name starts with its delivery time
};
const QByteArray kSubdirs[] = { QByteArrayLiteral("cur"), QByteArrayLiteral("new") };

// The visible files of cur/ and new/ (tmp/ holds deliveries in progress; hidden files are not mail).
// new/ is read first: a message that moves on to cur/ meanwhile is then seen at least once.
Status listMessages(Dir (&dirs)[2], const QByteArray& folderPath, std::vector<Listed>& out)
{
    for (int i : { 1, 0 }) {
        if (!dirs[i].ok()) {
            if (isAbsence(dirs[i].error()))
                continue;
            return osError(Error::Code::Unreadable, joined(folderPath, kSubdirs[i]), dirs[i].error());
        }
        QList<QByteArray> names;
        std::vector<unsigned char> types;
        if (!dirs[i].names(names, &types))
            return osError(Error::Code::Unreadable, joined(folderPath, kSubdirs[i]), dirs[i].error());
        for (qsizetype k = 0; k < names.size(); ++k) {
            if (names[k].startsWith('.'))
                continue;
            MessageName parts = splitMessageName(names[k]);
            out.push_back({ std::move(parts.unique), std::move(names[k]), i, types[std::size_t(k)] == DT_REG,
                parts.deliveryTime.has_value() });
        }
    }
    return success();
}

} // namespace

Status MaildirFolder::items(const std::function<void(const ItemSummary&)>& visit) const
{
    if (!m_place.messagesDir)
        return success();
    const QByteArray folderPath = m_store->path(*m_place.messagesDir);
    const QString idPrefix = entryIDPrefix(m_store->name, *m_place.messagesDir);

    std::vector<char> buffer;
    ItemSummary summary;
    QSet<QByteArray> missing; // listed, then gone before it was read: renamed (flags changed, new -> cur) or deleted

    // Reads one file into `summary` and visits it; a file that is gone is noted in `missing`.
    auto readOne = [&](const Dir& dir, const Listed& listed) -> Status {
        const QByteArray path = joined(joined(folderPath, kSubdirs[listed.subdir]), listed.name);
        bool absent = false;
        struct stat info;
        // The modification time only counts for names without a delivery time: spare the fstat otherwise.
        const bool skipStat = listed.regular && listed.timed;
        auto opened = openMessage(dir.fd(), listed.name, path, absent, info, skipStat);
        if (!opened)
            return opened.error();
        if (absent) {
            missing.insert(listed.unique);
            return success();
        }
        Fd fd(*opened);
        HeaderScan scan;
        if (!readHeaderBlock(fd.get(), buffer, scan))
            return osError(Error::Code::Unreadable, path, errno);
        const MessageFile file { listed.name, skipStat ? std::nullopt : std::optional<qint64>(info.st_mtime) };
        summarize(buffer.data(), scan, file, summary);
        summary.entryID = idPrefix + entryIDSuffix(kSubdirs[listed.subdir], listed.name);
        missing.remove(listed.unique);
        visit(summary);
        return success();
    };

    std::vector<Listed> listed;
    {
        Dir dirs[2] = { Dir(joined(folderPath, kSubdirs[0])), Dir(joined(folderPath, kSubdirs[1])) };
        if (Status status = listMessages(dirs, folderPath, listed); !status)
            return status;
        // A stable order: by unique name, so a message keeps its place when its flags change.
        std::sort(listed.begin(), listed.end(), [](const Listed& a, const Listed& b) {
            return a.unique != b.unique ? a.unique < b.unique : a.name < b.name;
        });
        for (const Listed& entry : listed)
            if (Status status = readOne(dirs[entry.subdir], entry); !status)
                return status;
    }
    if (missing.isEmpty())
        return success();

    // A live Maildir: look once more for the messages that moved while the folder was read.
    QSet<QByteArray> seen;
    for (const Listed& entry : listed)
        seen.insert(kSubdirs[entry.subdir] + '/' + entry.name);
    Dir dirs[2] = { Dir(joined(folderPath, kSubdirs[0])), Dir(joined(folderPath, kSubdirs[1])) };
    std::vector<Listed> again;
    if (Status status = listMessages(dirs, folderPath, again); !status)
        return status;
    for (const Listed& entry : again) {
        if (!missing.contains(entry.unique) || seen.contains(kSubdirs[entry.subdir] + '/' + entry.name))
            continue;
        if (Status status = readOne(dirs[entry.subdir], entry); !status)
            return status;
    }
    return success();
}

namespace {

// The folder that holds the messages of `dir`, as the walk from the top would have found it.
Place placeOfDir(const StoreData& store, const QByteArray& dir)
{
    Place place { folderNamesOfDir(dir), dir, std::nullopt, std::nullopt, {} };
    DirId id;
    if (isDirectory(store.root, &id) == Probe::Yes)
        place.chain.push_back(id);
    if (dir.isEmpty())
        return place; // the root's own messages: "Inbox", whose sub-folders are the top folder's
    place.childrenDir = dir;
    const qsizetype slash = dir.lastIndexOf('/');
    const QByteArray last = dir.mid(slash + 1);
    if (isPlusName(last))
        place.plus = std::make_pair(slash < 0 ? QByteArray() : dir.left(slash), last + '.');
    for (qsizetype at = dir.indexOf('/'); at >= 0; at = dir.indexOf('/', at + 1))
        if (isDirectory(store.path(dir.left(at)), &id) == Probe::Yes)
            place.chain.push_back(id);
    if (isDirectory(store.path(dir), &id) == Probe::Yes)
        place.chain.push_back(id);
    return place;
}

/// Where the messages of one folder lie, by unique name: read once per folder when an item is not
/// where its identifier says, and again only when the folder's directories have changed since.
struct FolderIndex {
    bool built = false;
    QHash<QByteArray, Listed> byUnique;
    timespec changed[2] {}; // cur/ and new/ when the index was built
    timespec builtAt {};
};

timespec changeTime(const QByteArray& dir)
{
    struct stat info;
    if (::stat(dir.constData(), &info) != 0)
        return {};
    return info.st_mtim;
}

bool operator==(const timespec& a, const timespec& b)
{
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

class MaildirStore : public Store {
public:
    MaildirStore(const QString& name, const QString& location)
        : m_data(std::make_shared<StoreData>(StoreData { name, QFile::encodeName(location) }))
        , m_location(location)
    {
    }

    QString name() const override { return m_data->name; }
    QString location() const override { return m_location; }

    Result<std::unique_ptr<Folder>> topFolder() override
    {
        DirId id;
        switch (isDirectory(m_data->root, &id)) {
        case Probe::Failed:
            return osError(Error::Code::Unreadable, m_data->root, errno);
        case Probe::No:
            return Error { Error::Code::NotFound, m_location, QStringLiteral("no such directory") };
        case Probe::Yes:
            break;
        }
        Place top { {}, std::nullopt, QByteArray(), std::nullopt, { id } };
        return std::unique_ptr<Folder>(std::make_unique<MaildirFolder>(m_data, std::move(top)));
    }

    bool owns(const QString& entryID) const override
    {
        const auto ref = decodeEntryID(entryID);
        return ref && ref->store.compare(m_data->name, Qt::CaseInsensitive) == 0;
    }

    Result<std::unique_ptr<MailItem>> item(const QString& entryID) override;

private:
    Result<std::optional<std::unique_ptr<MailItem>>> load(
        const EntryRef& ref, const QByteArray& subdir, const QByteArray& fileName) const;
    bool stale(const FolderIndex& index, const QByteArray& folderPath) const;
    Status rebuild(FolderIndex& index, const QByteArray& folderPath) const;

    std::shared_ptr<StoreData> m_data;
    QString m_location;
    QHash<QByteArray, FolderIndex> m_indexes; // by folder directory
};

Result<std::optional<std::unique_ptr<MailItem>>> MaildirStore::load(
    const EntryRef& ref, const QByteArray& subdir, const QByteArray& fileName) const
{
    using Found = std::optional<std::unique_ptr<MailItem>>;
    auto loaded = readWholeMessage(m_data->path(ref.folderDir + '/' + subdir + '/' + fileName));
    if (!loaded)
        return loaded.error();
    if (!*loaded)
        return Found();
    EntryRef where = ref;
    where.subdir = subdir;
    where.fileName = fileName;
    auto parent = [store = m_data, dir = ref.folderDir]() -> std::unique_ptr<Folder> {
        return std::make_unique<MaildirFolder>(store, placeOfDir(*store, dir));
    };
    return Found(makeMessage(std::move((*loaded)->bytes), MessageFile { fileName, (*loaded)->modified },
        encodeEntryID(where), std::move(parent)));
}

bool MaildirStore::stale(const FolderIndex& index, const QByteArray& folderPath) const
{
    for (int i = 0; i < 2; ++i) {
        const timespec now = changeTime(joined(folderPath, kSubdirs[i]));
        // A change in the same clock tick as the scan would leave the time as it was: an index built
        // within a second of the last change is not trusted to be complete.
        if (!(now == index.changed[i]) || now.tv_sec + 1 >= index.builtAt.tv_sec)
            return true;
    }
    return false;
}

Status MaildirStore::rebuild(FolderIndex& index, const QByteArray& folderPath) const
{
    ::clock_gettime(CLOCK_REALTIME, &index.builtAt);
    for (int i = 0; i < 2; ++i)
        index.changed[i] = changeTime(joined(folderPath, kSubdirs[i]));
    Dir dirs[2] = { Dir(joined(folderPath, kSubdirs[0])), Dir(joined(folderPath, kSubdirs[1])) };
    std::vector<Listed> listed;
    if (Status status = listMessages(dirs, folderPath, listed); !status)
        return status;
    index.byUnique.clear();
    for (Listed& entry : listed)
        index.byUnique.insert(entry.unique, std::move(entry));
    index.built = true;
    return success();
}

Result<std::unique_ptr<MailItem>> MaildirStore::item(const QString& entryID)
{
    const Error notFound { Error::Code::NotFound, entryID, QStringLiteral("no such message in ") + m_data->name };
    const auto ref = decodeEntryID(entryID);
    if (!ref || ref->store.compare(m_data->name, Qt::CaseInsensitive) != 0)
        return notFound;

    // Where the message was listed, then new/ under its unique name: no directory is read.
    auto found = load(*ref, ref->subdir, ref->fileName);
    if (found && !*found && (ref->subdir != "new" || ref->fileName != ref->unique))
        found = load(*ref, "new", ref->unique);
    if (!found)
        return found.error();
    if (*found)
        return std::move(**found);

    // Renamed since (flags changed, or moved to cur/): the folder's index, kept between calls.
    const QByteArray folderPath = m_data->path(ref->folderDir);
    FolderIndex& index = m_indexes[ref->folderDir];
    for (int round = 0; round < 2; ++round) {
        if (!index.built || (round == 1 && stale(index, folderPath))) {
            if (Status status = rebuild(index, folderPath); !status)
                return status.error();
        } else if (round == 1) {
            break;
        }
        const auto it = index.byUnique.constFind(ref->unique);
        if (it == index.byUnique.cend())
            continue;
        auto indexed = load(*ref, kSubdirs[it->subdir], it->name);
        if (!indexed)
            return indexed.error();
        if (*indexed)
            return std::move(**indexed);
    }
    return notFound;
}

} // namespace

} // namespace maildir

Result<std::unique_ptr<Store>> openMaildirStore(const QString& name, const QString& rootDir)
{
    const QByteArray root = QFile::encodeName(rootDir);
    switch (maildir::isDirectory(root)) {
    case maildir::Probe::Failed:
        return maildir::osError(Error::Code::Unreadable, root, errno);
    case maildir::Probe::No:
        return Error { Error::Code::NotAStore, rootDir, QStringLiteral("not a directory") };
    case maildir::Probe::Yes:
        break;
    }
    return std::unique_ptr<Store>(std::make_unique<maildir::MaildirStore>(name, rootDir));
}

} // namespace quillbox::mail

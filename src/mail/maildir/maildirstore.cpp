// SPDX-License-Identifier: MIT
// The Maildir tree as a store. The mapping of directories onto folders and the lookup of entry
// identifiers are described in docs/format-notes.md ("Maildir").
#include "mail/maildir/maildirstore.h"

#include "core/workerthreads.h"
#include "mail/maildir/headerscan.h"
#include "mail/maildir/maildirmessage.h"
#include "mail/maildir/maildirnames.h"
#include "mail/maildir/storefiles.h"

#include <QFile>
#include <QHash>
#include <QSet>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <unistd.h>

namespace quillbox::mail {

namespace maildir {

namespace {

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

/// What the store's folders share: the store's name and its root directory.
struct StoreData {
    StoreData(QString storeName, StoreRoot storeRoot)
        : name(std::move(storeName))
        , root(std::move(storeRoot))
    {
    }
    QString name;
    StoreRoot root;
    std::atomic<int> listingsAhead {}; ///< folders listed (or to be listed) ahead of the walk, not yet read
    QByteArray path(const QByteArray& relative) const { return root.path(relative); }
};

// Whether the directory `name` of `dirFd` ("" for `dirFd` itself) holds cur/ or new/.
Result<bool> holdsMessageDirs(int dirFd, const QByteArray& name, const QByteArray& path)
{
    for (const char* sub : { "cur", "new" }) {
        struct stat info;
        if (::fstatat(dirFd, joined(name, sub).constData(), &info, 0) == 0) {
            if (S_ISDIR(info.st_mode))
                return true;
        } else if (!isAbsence(errno)) {
            return osError(Error::Code::Unreadable, path, errno);
        }
    }
    return false;
}

/// What an entry of a directory is to the walk.
struct Probe {
    enum class Kind { Nothing, Directory, Maildir };
    Kind kind = Kind::Nothing;
    DirId id;
};

// The entry `entry` of the directory `dirFd` (the store's directory `dir`): nothing when it is no
// directory or is gone, else a plain directory or a Maildir. A link is followed only into the store: one
// that leads out of it is an Error, as is a directory that cannot be looked into.
Result<Probe> probeEntry(const StoreData& store, int dirFd, const QByteArray& dir, const Entry& entry)
{
    const QByteArray path = store.path(joined(dir, entry.name));
    struct stat info;
    if (::fstatat(dirFd, entry.name.constData(), &info, 0) != 0)
        return isAbsence(errno) ? Result<Probe>(Probe {}) : osError(Error::Code::Unreadable, path, errno);
    if (!S_ISDIR(info.st_mode))
        return Probe {};
    if (isLink(dirFd, entry)) {
        Fd target(::openat(dirFd, entry.name.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (!target.valid())
            return isAbsence(errno) ? Result<Probe>(Probe {}) : osError(Error::Code::Unreadable, path, errno);
        if (!liesInStore(store.root, target.get()))
            return unreadable(path, "a link that leads out of the store");
    }
    auto maildir = holdsMessageDirs(dirFd, entry.name, path);
    if (!maildir)
        return maildir.error();
    return Probe { *maildir ? Probe::Kind::Maildir : Probe::Kind::Directory, idOf(info) };
}

/// The directories on the way down to a folder, its own included. A link back up to one of them is not
/// followed: a walk remembers every directory it entered, but a folder read outside a walk (a picker)
/// has only these.
struct Ancestry {
    DirId id;
    std::shared_ptr<const Ancestry> up;
};
using Ancestors = std::shared_ptr<const Ancestry>;

Ancestors below(const Ancestors& line, DirId id)
{
    return std::make_shared<const Ancestry>(Ancestry { id, line });
}

bool contains(const Ancestors& line, DirId id)
{
    for (const Ancestry* a = line.get(); a; a = a->up.get())
        if (a->id == id)
            return true;
    return false;
}

// Whether the plain directory `dir` holds a Maildir somewhere below it (hidden directories count only
// when they are Maildirs themselves). Each directory is looked into once; what cannot be is told to `walk`.
bool holdsFolders(const StoreData& store, const QByteArray& dir, const Ancestors& ancestors, Walk& walk)
{
    QSet<QByteArray> seen;
    std::vector<QByteArray> pending { dir };
    while (!pending.empty()) {
        const QByteArray current = pending.back();
        pending.pop_back();
        auto listing = readListing(store.root, current);
        if (!listing) {
            if (listing.error().code != Error::Code::NotFound)
                walk.skip(Walk::Skip::Folder, listing.error());
            continue;
        }
        for (const Entry& entry : listing->entries) {
            if (isMessageDirName(entry.name))
                continue;
            auto probe = probeEntry(store, listing->dir.fd(), current, entry);
            if (!probe) {
                walk.skip(Walk::Skip::Folder, probe.error());
                continue;
            }
            if (probe->kind == Probe::Kind::Maildir)
                return true;
            if (probe->kind == Probe::Kind::Directory && !entry.name.startsWith('.') && !contains(ancestors, probe->id)
                && !seen.contains(probe->id.key())) {
                seen.insert(probe->id.key());
                pending.push_back(joined(current, entry.name));
            }
        }
    }
    return false;
}

/// The Maildir++ folders among the entries of one directory: ".A" is the folder A, ".A.B" the folder B
/// below it (A exists even without a directory of its own). Read once, by the folder whose directory it
/// is, and shared by the folders below, none of which reads the directory again.
struct PlusNode {
    QByteArray entry; ///< ".A.B", a directory when `isDir`
    bool isDir = false;
    DirId id;
    bool isMaildir = false;
    bool holdsMail = false; ///< it or a node below it is a Maildir
    std::map<QByteArray, PlusNode> below; ///< by name part, as it stands in the entry
};

bool markMail(PlusNode& node)
{
    for (auto& [part, child] : node.below)
        node.holdsMail = markMail(child) || node.holdsMail;
    node.holdsMail = node.holdsMail || node.isMaildir;
    return node.holdsMail;
}

// The tree of the Maildir++ entries of the directory `dir`; its top is the directory itself.
std::shared_ptr<const PlusNode> readPlusTree(
    const StoreData& store, const Listing& listing, const QByteArray& dir, Walk& walk)
{
    auto top = std::make_shared<PlusNode>();
    for (const Entry& entry : listing.entries) {
        if (!isPlusName(entry.name))
            continue;
        auto probe = probeEntry(store, listing.dir.fd(), dir, entry);
        if (!probe) {
            walk.skip(Walk::Skip::Folder, probe.error());
            continue;
        }
        if (probe->kind == Probe::Kind::Nothing)
            continue;
        PlusNode* node = top.get();
        for (const QByteArray& part : entry.name.mid(1).split('.')) {
            const QByteArray prefix = node->entry.isEmpty() ? QByteArray(".") : node->entry + '.';
            node = &node->below[part];
            node->entry = prefix + part;
        }
        node->isDir = true;
        node->id = probe->id;
        node->isMaildir = probe->kind == Probe::Kind::Maildir;
    }
    markMail(*top);
    return top;
}

/// Maildir++ folders below a folder: a node of the tree of a directory. A place made from its directory
/// alone (the parent of an item) has no tree yet and reads it when its sub-folders are asked for.
struct PlusRef {
    QByteArray base; ///< the directory whose entries they are
    QByteArray entry; ///< the node's entry, "" for the directory's own top
    std::shared_ptr<const PlusNode> top; ///< the directory's tree, which holds the node
    const PlusNode* node = nullptr;
};

/// Where a folder lies in the tree.
struct Place {
    QStringList names; ///< the folder names below the store's top folder
    std::optional<QByteArray> messagesDir; ///< the directory whose cur/ and new/ hold its messages
    std::optional<QByteArray> childrenDir; ///< the directory whose sub-directories are sub-folders
    std::optional<QByteArray> sbdDir; ///< Thunderbird's "Name.sbd" beside it, whose sub-directories are too
    std::optional<PlusRef> plus; ///< its Maildir++ sub-folders
    Ancestors ancestors;
};

struct ListingAhead;

class MaildirFolder : public Folder {
public:
    MaildirFolder(std::shared_ptr<StoreData> store, Place place)
        : m_store(std::move(store))
        , m_place(std::move(place))
    {
    }

    QString name() const override { return m_place.names.isEmpty() ? m_store->name : m_place.names.last(); }
    QString folderPath() const override { return folderPathOf(m_store->name, m_place.names, u'\\'); }
    QString fullFolderPath() const override { return folderPathOf(m_store->name, m_place.names, u'/'); }
    Result<std::vector<std::unique_ptr<Folder>>> folders(Walk& walk) const override;
    Status items(const std::function<void(const ItemSummary&)>& visit, Walk& walk) const override;
    /// Lists the folder's messages on one of `workers` now, for items() to take later.
    void listAhead(WorkerThreads& workers);

private:
    bool enter(DirId id, const QByteArray& dir, Walk& walk) const;
    void addEntry(const QByteArray& parent, const Listing& listing, const Entry& entry, std::vector<Place>& children,
        Walk& walk) const;
    void addPlus(const PlusRef& parent, std::vector<Place>& children, Walk& walk) const;
    std::optional<PlusRef> resolved(const PlusRef& plus, Walk& walk) const;

    std::shared_ptr<StoreData> m_store;
    Place m_place;
    mutable std::shared_ptr<ListingAhead> m_ahead; // let go of when items() takes it
};

// Whether the walk goes into the sub-directory `dir`: not when it leads back up the tree or the walk has
// been there by another way.
bool MaildirFolder::enter(DirId id, const QByteArray& dir, Walk& walk) const
{
    if (!contains(m_place.ancestors, id) && walk.enter(id.key()))
        return true;
    walk.skip(Walk::Skip::Repeat,
        Error { Error::Code::Invalid, QFile::decodeName(m_store->path(dir)), QStringLiteral("entered already") });
    return false;
}

// A sub-directory is a folder when it is a Maildir or, unless it is hidden, holds folders somewhere below.
// A hidden entry with an empty part (".A..B") is no Maildir++ name: a Maildir of that name is one folder.
void MaildirFolder::addEntry(const QByteArray& parent, const Listing& listing, const Entry& entry,
    std::vector<Place>& children, Walk& walk) const
{
    auto probe = probeEntry(*m_store, listing.dir.fd(), parent, entry);
    if (!probe) {
        walk.skip(Walk::Skip::Folder, probe.error());
        return;
    }
    const QByteArray dir = joined(parent, entry.name);
    const bool maildir = probe->kind == Probe::Kind::Maildir;
    const Ancestors ancestors = below(m_place.ancestors, probe->id);
    if (probe->kind == Probe::Kind::Nothing
        || (!maildir && (entry.name.startsWith('.') || !holdsFolders(*m_store, dir, ancestors, walk)))
        || !enter(probe->id, dir, walk))
        return;
    const bool sbd = !maildir && isSubFolderDir(entry.name);
    children.push_back(Place { m_place.names + folderNamesOf(sbd ? entry.name.chopped(4) : entry.name),
        maildir ? std::optional(dir) : std::nullopt, dir, std::nullopt, std::nullopt, ancestors });
}

// The Maildir++ folders one level below the node of `parent`. A folder whose directory the walk has
// entered already keeps the folders below it, which are entries of their own.
void MaildirFolder::addPlus(const PlusRef& parent, std::vector<Place>& children, Walk& walk) const
{
    for (const auto& [part, node] : parent.node->below) {
        if (!node.holdsMail)
            continue; // a hidden directory that holds no mail (".notmuch")
        const QByteArray dir = joined(parent.base, node.entry);
        const bool entered = node.isDir && enter(node.id, dir, walk);
        const auto mailBelow = [&below = node.below] {
            return std::any_of(below.begin(), below.end(), [](const auto& c) { return c.second.holdsMail; });
        };
        if (node.isDir && !entered && !mailBelow())
            continue;
        Place place { m_place.names, std::nullopt, std::nullopt, std::nullopt,
            PlusRef { parent.base, node.entry, parent.top, &node }, m_place.ancestors };
        place.names += decodeModifiedUtf7(part);
        if (entered) {
            place.childrenDir = dir;
            if (node.isMaildir)
                place.messagesDir = dir;
            place.ancestors = below(m_place.ancestors, node.id);
        }
        children.push_back(std::move(place));
    }
}

// `plus` with its tree: a place made from its directory alone reads the tree of its parent directory now.
std::optional<PlusRef> MaildirFolder::resolved(const PlusRef& plus, Walk& walk) const
{
    if (plus.node)
        return plus;
    auto listing = readListing(m_store->root, plus.base);
    if (!listing)
        return std::nullopt;
    PlusRef found = plus;
    found.top = readPlusTree(*m_store, *listing, plus.base, walk);
    found.node = found.top.get();
    for (const QByteArray& part : plus.entry.mid(1).split('.')) {
        const auto it = found.node->below.find(part);
        if (it == found.node->below.end())
            return std::nullopt;
        found.node = &it->second;
    }
    return found;
}

// Thunderbird keeps the sub-folders of the folder "Name" in "Name.sbd" beside it: such a directory,
// itself no Maildir, is read as part of the folder of that name, and stands as a folder of its own only
// where there is none.
void mergeSubFolderDirs(std::vector<Place>& children)
{
    const auto isSbd = [](const Place& place) {
        return !place.messagesDir && place.childrenDir
            && isSubFolderDir(place.childrenDir->mid(place.childrenDir->lastIndexOf('/') + 1));
    };
    for (auto sbd = children.begin(); sbd != children.end();) {
        const auto folder
            = !isSbd(*sbd) ? children.end() : std::find_if(children.begin(), children.end(), [&](const Place& place) {
                  return place.childrenDir == sbd->childrenDir->chopped(4) && !place.sbdDir;
              });
        if (folder == children.end()) {
            ++sbd;
            continue;
        }
        folder->sbdDir = sbd->childrenDir;
        sbd = children.erase(sbd);
    }
}

Result<std::vector<std::unique_ptr<Folder>>> MaildirFolder::folders(Walk& walk) const
{
    std::vector<Place> children;
    if (m_place.childrenDir) {
        const QByteArray& dir = *m_place.childrenDir;
        auto listing = readListing(m_store->root, dir);
        if (!listing)
            return listing.error();
        walk.enter(listing->id.key()); // the folder's own directory, for the links below that lead back to it
        if (m_place.names.isEmpty()) {
            auto rootIsMaildir = holdsMessageDirs(listing->dir.fd(), {}, m_store->root.dir);
            if (!rootIsMaildir)
                walk.skip(Walk::Skip::Folder, rootIsMaildir.error());
            else if (*rootIsMaildir)
                children.push_back(
                    Place { folderNamesOfDir({}), QByteArray(), std::nullopt, std::nullopt, std::nullopt, {} });
        }
        for (const Entry& entry : listing->entries)
            if (!isMessageDirName(entry.name) && !isPlusName(entry.name))
                addEntry(dir, *listing, entry, children, walk);
        const auto top = readPlusTree(*m_store, *listing, dir, walk);
        addPlus(PlusRef { dir, {}, top, top.get() }, children, walk);
    }
    if (m_place.sbdDir) {
        auto listing = readListing(m_store->root, *m_place.sbdDir);
        if (!listing)
            return listing.error();
        walk.enter(listing->id.key());
        for (const Entry& entry : listing->entries)
            if (!isMessageDirName(entry.name) && !isPlusName(entry.name))
                addEntry(*m_place.sbdDir, *listing, entry, children, walk);
    }
    if (m_place.plus)
        if (const auto plus = resolved(*m_place.plus, walk))
            addPlus(*plus, children, walk);
    mergeSubFolderDirs(children);

    // Deterministic order: by name, ignoring case, then by directory.
    std::sort(children.begin(), children.end(), [](const Place& a, const Place& b) {
        if (const int order = a.names.last().compare(b.names.last(), Qt::CaseInsensitive))
            return order < 0;
        if (const int order = a.names.last().compare(b.names.last()))
            return order < 0;
        const auto dirOf = [](const Place& p) {
            return p.messagesDir.value_or(
                p.childrenDir.value_or(p.plus ? joined(p.plus->base, p.plus->entry) : QByteArray()));
        };
        return dirOf(a) < dirOf(b);
    });
    // The walk reads each of them next or after the folders below the ones before it: their messages are
    // listed meanwhile, on the threads the walk has besides its own.
    std::vector<std::unique_ptr<Folder>> folders;
    for (Place& place : children) {
        auto folder = std::make_unique<MaildirFolder>(m_store, std::move(place));
        if (walk.workers())
            folder->listAhead(*walk.workers());
        folders.push_back(std::move(folder));
    }
    return folders;
}

/// The outcome of reading one message file: its bytes, or nothing when it is not (or no longer) there.
struct Loaded {
    QByteArray bytes;
    qint64 modified = 0;
};

const QByteArray kSubdirs[] = { QByteArrayLiteral("cur"), QByteArrayLiteral("new") };

Result<std::optional<Loaded>> readWholeMessage(
    const StoreData& store, const QByteArray& folderDir, int subdir, const QByteArray& fileName)
{
    const QByteArray dir = joined(folderDir, kSubdirs[subdir]);
    auto dirFd = openDir(store.root, dir, O_PATH);
    if (!dirFd)
        return dirFd.error().code == Error::Code::NotFound ? Result<std::optional<Loaded>>(std::nullopt)
                                                           : dirFd.error();
    const QByteArray dirPath = store.path(dir);
    struct stat info;
    auto opened = openMessageFile(store.root, dirFd->get(), fileName, dirPath, DT_UNKNOWN, info, true);
    if (!opened)
        return opened.error();
    if (!*opened)
        return std::optional<Loaded>();
    const Fd& fd = **opened;
    Loaded loaded { QByteArray(), qint64(info.st_mtime) };
    loaded.bytes.resize(qsizetype(info.st_size));
    qsizetype used = 0;
    // The end is read into a buffer of its own: the bytes keep the size fstat gave (no room to spare held
    // with every message) unless the file grew since.
    char more[4096];
    for (;;) {
        const bool full = used == loaded.bytes.size();
        char* into = full ? more : loaded.bytes.data() + used;
        const ssize_t got = ::read(fd.get(), into, full ? sizeof more : size_t(loaded.bytes.size() - used));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return osError(Error::Code::Unreadable, joined(dirPath, fileName), errno);
        if (got == 0)
            break;
        if (full)
            loaded.bytes.append(more, got);
        used += got;
    }
    loaded.bytes.truncate(used);
    return std::optional<Loaded>(std::move(loaded));
}

struct Listed {
    QByteArray unique;
    QByteArray name;
    int subdir; // index into kSubdirs
    unsigned char type; // as the listing gives it
    bool timed; // the name starts with its delivery time
};

// The visible files of cur/ and new/ (tmp/ holds deliveries in progress; hidden files are not mail).
// new/ is read first: a message that moves on to cur/ meanwhile is then seen at least once. A directory
// that cannot be read does not keep the other from being listed; the Error is the first such.
Status listMessages(Dir (&dirs)[2], const QByteArray& folderPath, std::vector<Listed>& out)
{
    Status status = success();
    for (int i : { 1, 0 }) {
        std::vector<Entry> entries;
        if (!dirs[i].ok() ? !isAbsence(dirs[i].error()) : !dirs[i].entries(entries)) {
            if (status)
                status = osError(Error::Code::Unreadable, joined(folderPath, kSubdirs[i]), dirs[i].error());
            continue;
        }
        for (Entry& entry : entries) {
            if (entry.name.startsWith('.'))
                continue;
            MessageName parts = splitMessageName(entry.name);
            out.push_back(
                { std::move(parts.unique), std::move(entry.name), i, entry.type, parts.deliveryTime.has_value() });
        }
    }
    return status;
}

/// A folder's cur/ and new/, open, and their visible files in the order the folder's items are visited.
struct ListedFolder {
    Fd folder;
    Dir dirs[2]; // cur/, new/
    std::vector<Listed> listed;
    Status status = success(); // why cur/ or new/ could not be read
};

// The folder whose messages lie in the directory `messagesDir`, listed; nothing when the directory is gone.
Result<std::optional<ListedFolder>> listFolder(const StoreData& store, const QByteArray& messagesDir)
{
    auto folderFd = openDir(store.root, messagesDir, O_PATH);
    if (!folderFd)
        return folderFd.error().code == Error::Code::NotFound ? Result<std::optional<ListedFolder>>(std::nullopt)
                                                              : folderFd.error();
    const int fd = folderFd->get();
    ListedFolder folder { std::move(*folderFd), { Dir(fd, "cur"), Dir(fd, "new") }, {}, success() };
    folder.status = listMessages(folder.dirs, store.path(messagesDir), folder.listed);
    // A stable order: by unique name, so a message keeps its place when its flags change.
    std::sort(folder.listed.begin(), folder.listed.end(),
        [](const Listed& a, const Listed& b) { return a.unique != b.unique ? a.unique < b.unique : a.name < b.name; });
    return std::optional<ListedFolder>(std::move(folder));
}

/// The listing of one folder, made on a worker thread while the walk reads the folders before it. The walk
/// takes it when it comes to the folder; one that no worker has begun yet it makes itself. The folders listed
/// ahead and not yet read are few (kListingsAhead), each holding its directories open.
struct ListingAhead {
    enum class State { Waiting, Listing, Listed, Taken };
    std::shared_ptr<StoreData> store;
    QByteArray messagesDir;
    std::mutex mutex;
    std::condition_variable listed;
    State state = State::Waiting;
    std::optional<Result<std::optional<ListedFolder>>> result;

    ListingAhead(std::shared_ptr<StoreData> data, QByteArray dir)
        : store(std::move(data))
        , messagesDir(std::move(dir))
    {
        ++store->listingsAhead;
    }
    ~ListingAhead() { --store->listingsAhead; }

    // On a worker.
    void list()
    {
        {
            std::lock_guard lock(mutex);
            if (state != State::Waiting)
                return;
            state = State::Listing;
        }
        auto made = listFolder(*store, messagesDir);
        std::lock_guard lock(mutex);
        result.emplace(std::move(made));
        state = State::Listed;
        listed.notify_all();
    }
    // On the walking thread, once.
    Result<std::optional<ListedFolder>> take()
    {
        std::unique_lock lock(mutex);
        if (state == State::Waiting) {
            state = State::Taken;
            lock.unlock();
            return listFolder(*store, messagesDir);
        }
        listed.wait(lock, [this] { return state == State::Listed; });
        state = State::Taken;
        return std::move(*result);
    }
};

constexpr int kListingsAhead = 16;

// What reading one listed message file gave: its summary, or why it could not be read, or neither when it
// is not (or no longer) there.
struct ReadOutcome {
    std::optional<ItemSummary> summary;
    std::optional<Error> unreadable;
};

// The message files read ahead of the one the walk takes, on the walk's threads.
constexpr std::size_t kReadAhead = 256;

} // namespace

void MaildirFolder::listAhead(WorkerThreads& workers)
{
    if (!m_place.messagesDir || workers.count() == 0 || m_store->listingsAhead.load() >= kListingsAhead)
        return;
    m_ahead = std::make_shared<ListingAhead>(m_store, *m_place.messagesDir);
    workers.post([ahead = m_ahead] { ahead->list(); });
}

Status MaildirFolder::items(const std::function<void(const ItemSummary&)>& visit, Walk& walk) const
{
    if (!m_place.messagesDir)
        return success();
    const std::shared_ptr<ListingAhead> ahead = std::exchange(m_ahead, nullptr);
    auto listing = ahead ? ahead->take() : listFolder(*m_store, *m_place.messagesDir);
    if (!listing)
        return listing.error();
    if (!*listing)
        return success();
    ListedFolder& folder = **listing;
    const QByteArray folderPath = m_store->path(*m_place.messagesDir);
    const QString idPrefix = entryIDPrefix(m_store->name, *m_place.messagesDir);

    QSet<QByteArray> missing; // listed, then gone before it was read: renamed (flags changed, new -> cur) or deleted

    // Reads one file: on any thread, touching nothing but the file and what it returns.
    const QByteArray subdirPaths[2] = { joined(folderPath, kSubdirs[0]), joined(folderPath, kSubdirs[1]) };
    auto readOne = [&](const Dir& dir, const Listed& listed) {
        thread_local std::vector<char> buffer;
        const QByteArray& dirPath = subdirPaths[listed.subdir];
        struct stat info;
        HeaderScan scan;
        int itemClass = kClassMail;
        // The modification time only counts for names without a delivery time: spare the fstat otherwise.
        const bool needInfo = !listed.timed;
        auto opened = openMessageFile(m_store->root, dir.fd(), listed.name, dirPath, listed.type, info, needInfo);
        ReadOutcome outcome;
        if (!opened || (*opened && !readSummaryBytes((**opened).get(), buffer, scan, itemClass))) {
            const int error = errno;
            outcome.unreadable
                = opened ? osError(Error::Code::Unreadable, joined(dirPath, listed.name), error) : opened.error();
            return outcome;
        }
        if (!*opened)
            return outcome;
        const bool skippedStat = listed.type == DT_REG && !needInfo;
        const MessageFile file { listed.name, skippedStat ? std::nullopt : std::optional<qint64>(info.st_mtime) };
        outcome.summary.emplace();
        summarize(buffer.data(), buffer.size(), scan, file, *outcome.summary, itemClass);
        outcome.summary->entryID = entryIDIn(idPrefix, kSubdirs[listed.subdir], listed.name);
        return outcome;
    };
    // Takes what readOne gave, on the walking thread in the folder's order: visits a summary, notes a file
    // that is gone in `missing`, tells the walk of one that cannot be read.
    auto take = [&](const Listed& listed, ReadOutcome&& outcome) {
        if (outcome.unreadable) {
            walk.skip(Walk::Skip::Message, *outcome.unreadable);
        } else if (!outcome.summary) {
            missing.insert(listed.unique);
        } else {
            missing.remove(listed.unique);
            visit(*outcome.summary);
        }
    };

    const std::vector<Listed>& listed = folder.listed;
    walk.expectItems(listed.size());
    produceInOrder<ReadOutcome>(
        walk.workers(), listed.size(), kReadAhead,
        [&](std::size_t i) { return readOne(folder.dirs[listed[i].subdir], listed[i]); },
        [&](std::size_t i, ReadOutcome&& outcome) { take(listed[i], std::move(outcome)); });
    const Status status = folder.status;
    if (missing.isEmpty())
        return status;

    // A live Maildir: look once more for the messages that moved while the folder was read.
    QSet<QByteArray> seen;
    for (const Listed& entry : listed)
        seen.insert(kSubdirs[entry.subdir] + '/' + entry.name);
    Dir dirs[2] = { Dir(folder.folder.get(), "cur"), Dir(folder.folder.get(), "new") };
    std::vector<Listed> again;
    static_cast<void>(listMessages(dirs, folderPath, again));
    for (const Listed& entry : again)
        if (missing.contains(entry.unique) && !seen.contains(kSubdirs[entry.subdir] + '/' + entry.name))
            take(entry, readOne(dirs[entry.subdir], entry));
    return status;
}

namespace {

// The folder that holds the messages of `dir`, as the walk from the top would have found it.
Place placeOfDir(const StoreData& store, const QByteArray& dir)
{
    Place place { folderNamesOfDir(dir), dir, std::nullopt, std::nullopt, std::nullopt, below({}, store.root.id) };
    if (dir.isEmpty())
        return place; // the root's own messages: "Inbox", whose sub-folders are the top folder's
    place.childrenDir = dir;
    const qsizetype slash = dir.lastIndexOf('/');
    const QByteArray last = dir.mid(slash + 1);
    if (isPlusName(last))
        place.plus = PlusRef { slash < 0 ? QByteArray() : dir.left(slash), last, nullptr, nullptr };
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

timespec changeTime(int folderFd, const QByteArray& subdir)
{
    struct stat info;
    if (::fstatat(folderFd, subdir.constData(), &info, 0) != 0)
        return {};
    return info.st_mtim;
}

bool operator==(const timespec& a, const timespec& b)
{
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

class MaildirStore : public Store {
public:
    MaildirStore(const QString& name, const QString& location, DirId rootId)
        : m_data(std::make_shared<StoreData>(name, StoreRoot { QFile::encodeName(location), rootId }))
        , m_location(location)
    {
    }

    QString name() const override { return m_data->name; }
    QString location() const override { return m_location; }
    QString kind() const override { return QStringLiteral("Maildir"); }

    Result<std::unique_ptr<Folder>> topFolder() override
    {
        auto root = openDir(m_data->root, {}, O_PATH);
        if (!root)
            return root.error().code == Error::Code::NotFound
                ? Error { Error::Code::NotFound, m_location, QStringLiteral("no such directory") }
                : root.error();
        Place top { {}, std::nullopt, QByteArray(), std::nullopt, std::nullopt, below({}, m_data->root.id) };
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
        const EntryRef& ref, int subdir, const QByteArray& fileName) const;
    bool stale(const FolderIndex& index, int folderFd) const;
    Status rebuild(FolderIndex& index, int folderFd, const QByteArray& folderPath) const;

    std::shared_ptr<StoreData> m_data;
    QString m_location;
    QHash<QByteArray, FolderIndex> m_indexes; // by folder directory
};

Result<std::optional<std::unique_ptr<MailItem>>> MaildirStore::load(
    const EntryRef& ref, int subdir, const QByteArray& fileName) const
{
    using Found = std::optional<std::unique_ptr<MailItem>>;
    auto loaded = readWholeMessage(*m_data, ref.folderDir, subdir, fileName);
    if (!loaded)
        return loaded.error();
    if (!*loaded)
        return Found();
    EntryRef where = ref;
    where.subdir = kSubdirs[subdir];
    where.fileName = fileName;
    auto parent = [store = m_data, dir = ref.folderDir]() -> std::unique_ptr<Folder> {
        return std::make_unique<MaildirFolder>(store, placeOfDir(*store, dir));
    };
    return Found(makeMessage(std::move((*loaded)->bytes), MessageFile { fileName, (*loaded)->modified, subdir == 1 },
        encodeEntryID(where), std::move(parent)));
}

bool MaildirStore::stale(const FolderIndex& index, int folderFd) const
{
    for (int i = 0; i < 2; ++i) {
        const timespec now = changeTime(folderFd, kSubdirs[i]);
        // A change in the same clock tick as the scan would leave the time as it was: an index built
        // within a second of the last change is not trusted to be complete.
        if (!(now == index.changed[i]) || now.tv_sec + 1 >= index.builtAt.tv_sec)
            return true;
    }
    return false;
}

Status MaildirStore::rebuild(FolderIndex& index, int folderFd, const QByteArray& folderPath) const
{
    ::clock_gettime(CLOCK_REALTIME, &index.builtAt);
    for (int i = 0; i < 2; ++i)
        index.changed[i] = changeTime(folderFd, kSubdirs[i]);
    Dir dirs[2] = { Dir(folderFd, "cur"), Dir(folderFd, "new") };
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
    const int listedIn = ref->subdir == kSubdirs[0] ? 0 : 1;
    auto found = load(*ref, listedIn, ref->fileName);
    if (found && !*found && (listedIn != 1 || ref->fileName != ref->unique))
        found = load(*ref, 1, ref->unique);
    if (!found)
        return found.error();
    if (*found)
        return std::move(**found);

    // Renamed since (flags changed, or moved to cur/): the folder's index, kept between calls.
    auto folderFd = openDir(m_data->root, ref->folderDir, O_PATH);
    if (!folderFd)
        return folderFd.error().code == Error::Code::NotFound ? notFound : folderFd.error();
    FolderIndex& index = m_indexes[ref->folderDir];
    for (int round = 0; round < 2; ++round) {
        if (!index.built || (round == 1 && stale(index, folderFd->get()))) {
            if (Status status = rebuild(index, folderFd->get(), m_data->path(ref->folderDir)); !status)
                return status.error();
        } else if (round == 1) {
            break;
        }
        const auto it = index.byUnique.constFind(ref->unique);
        if (it == index.byUnique.cend())
            continue;
        auto indexed = load(*ref, it->subdir, it->name);
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
    struct stat info;
    if (::stat(root.constData(), &info) != 0 && !maildir::isAbsence(errno))
        return maildir::osError(Error::Code::Unreadable, root, errno);
    if (::stat(root.constData(), &info) != 0 || !S_ISDIR(info.st_mode))
        return Error { Error::Code::NotAStore, rootDir, QStringLiteral("not a directory") };
    return std::unique_ptr<Store>(std::make_unique<maildir::MaildirStore>(name, rootDir, maildir::idOf(info)));
}

} // namespace quillbox::mail

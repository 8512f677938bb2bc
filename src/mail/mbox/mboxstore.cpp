// SPDX-License-Identifier: MIT
// mbox files as a store. A message is the bytes between two "From " lines (mail/mbox/mboxfile.h) and is
// read like a Maildir message file; its entry identifier holds its byte offset and a check of its first
// bytes, so that it is found again without a scan and a rewritten file does not give another message.
#include "mail/mbox/mboxstore.h"

#include "core/workerthreads.h"
#include "mail/maildir/headerscan.h"
#include "mail/maildir/maildirmessage.h"
#include "mail/maildir/maildirnames.h"
#include "mail/maildir/storefiles.h"
#include "mail/mbox/mboxfile.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <unistd.h>

namespace quillbox::mail {

namespace mbox {

namespace {

using maildir::Dir;
using maildir::Entry;
using maildir::Fd;
using maildir::osError;

const QByteArray kEntryMarker = QByteArrayLiteral("mbox");

struct StoreData {
    QString name;
    QByteArray root; ///< the file, or the directory of the tree; encoded for the file system
    bool singleFile = false;
    QByteArray path(const QByteArray& relative) const { return relative.isEmpty() ? root : root + '/' + relative; }
};

/// Where a folder lies, relative to the store's root: its mbox file ("" for a store of one file) and the
/// directory of its sub-folders (the root itself for the top of a tree, "Name.sbd" below it).
struct Place {
    QStringList names;
    std::optional<QByteArray> file;
    std::optional<QByteArray> subdir;
};

// A folder's name from its file name: an exported "Name.mbox" is "Name".
QString folderNameOf(QByteArray fileName)
{
    if (fileName.size() > 5 && fileName.toLower().endsWith(".mbox"))
        fileName.chop(5);
    return QFile::decodeName(fileName);
}

// The file `path`, open for reading without blocking (a FIFO in place of a folder must not hang the run);
// nothing when it is not there, an Error when it is no regular file or cannot be read.
Result<std::optional<Fd>> openMessageFile(const QByteArray& path)
{
    Fd fd(::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!fd.valid())
        return maildir::isAbsence(errno) ? Result<std::optional<Fd>>(std::nullopt)
                                         : osError(Error::Code::Unreadable, path, errno);
    struct stat info;
    if (::fstat(fd.get(), &info) != 0)
        return osError(Error::Code::Unreadable, path, errno);
    if (!S_ISREG(info.st_mode))
        return maildir::unreadable(path, "not a regular file");
    return std::optional<Fd>(std::move(fd));
}

enum class Content { Other, Empty, Mbox };

// What the file `path` holds, by its first bytes.
Result<Content> contentOf(const QByteArray& path)
{
    auto opened = openMessageFile(path);
    if (!opened)
        return opened.error();
    if (!*opened)
        return Content::Other;
    char start[5];
    ssize_t got;
    do
        got = ::pread((**opened).get(), start, sizeof start, 0);
    while (got < 0 && errno == EINTR);
    if (got < 0)
        return osError(Error::Code::Unreadable, path, errno);
    if (got == 0)
        return Content::Empty;
    return got == 5 && std::memcmp(start, "From ", 5) == 0 ? Content::Mbox : Content::Other;
}

/// The folders one directory of a tree holds, by the name they have there ("Name" for "Name" and
/// "Name.sbd"), each with its file and sub-folder directory, relative to the root.
struct Listed {
    std::optional<QByteArray> file;
    std::optional<QByteArray> subdir;
};

// The folders of the tree's directory `dir`. Links are not followed: a walk never leaves the tree by one
// nor comes back to a directory through one. A file that cannot be looked at is told to `walk`.
Result<std::map<QByteArray, Listed>> listDir(const StoreData& store, const QByteArray& dir, Walk& walk)
{
    const QByteArray path = store.path(dir);
    Dir listing(AT_FDCWD, path.constData());
    std::vector<Entry> entries;
    if (!listing.ok() || !listing.entries(entries)) {
        const int error = listing.error();
        return osError(maildir::isAbsence(error) ? Error::Code::NotFound : Error::Code::Unreadable, path, error);
    }
    QSet<QByteArray> names;
    for (const Entry& entry : entries)
        names.insert(entry.name);
    std::map<QByteArray, Listed> folders;
    for (const Entry& entry : entries) {
        struct stat info;
        if (entry.name.startsWith('.')
            || ::fstatat(listing.fd(), entry.name.constData(), &info, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        const QByteArray relative = dir.isEmpty() ? entry.name : dir + '/' + entry.name;
        if (S_ISDIR(info.st_mode) && entry.name.endsWith(".sbd") && entry.name.size() > 4) {
            folders[entry.name.chopped(4)].subdir = relative;
            continue;
        }
        if (!S_ISREG(info.st_mode) || entry.name.endsWith(".msf"))
            continue;
        const auto content = contentOf(store.path(relative));
        if (!content) {
            walk.skip(Walk::Skip::Folder, content.error());
            continue;
        }
        // Thunderbird keeps an empty file for a folder that holds no mail, beside its summary file.
        if (*content == Content::Mbox || (*content == Content::Empty && names.contains(entry.name + ".msf")))
            folders[entry.name].file = relative;
    }
    return folders;
}

QString entryIDPrefix(const QString& store, const QByteArray& file)
{
    return QString::fromLatin1((kEntryMarker + '\0' + store.toUtf8() + '\0' + file + '\0').toHex().toUpper());
}

// The entry identifier of the message at `offset` of the file whose identifiers start with `prefix`: the
// offset and the check of the message's first bytes (firstBytesCheck()), hex-encoded like the rest.
QString entryIDOf(const QString& prefix, qint64 offset, const CheckText& check)
{
    char digits[24]; // the offset's decimal digits, made for every message listed: no allocation
    const char* end = std::to_chars(std::begin(digits), std::end(digits), offset).ptr;
    return maildir::entryIDIn(prefix, QByteArray::fromRawData(digits, end - digits),
        QByteArray::fromRawData(check.data(), qsizetype(check.size())));
}

struct EntryRef {
    QString store;
    QByteArray file;
    qint64 offset = 0;
    QByteArray check;
};

// Upper-case hex only, as entryIDOf() writes it; every save looks its rows up by it (twice: which store owns
// the row, then the item), so it is read in one pass rather than through a copy and a list of fields.
std::optional<EntryRef> decodeEntryID(const QString& entryID)
{
    if (entryID.size() % 2)
        return std::nullopt;
    const auto digit = [](char16_t c) {
        return c >= u'0' && c <= u'9' ? c - u'0' : c >= u'A' && c <= u'F' ? c - u'A' + 10 : -1;
    };
    QByteArray bytes(entryID.size() / 2, Qt::Uninitialized);
    const QChar* hex = entryID.constData();
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const int high = digit(hex[2 * i].unicode()), low = digit(hex[2 * i + 1].unicode());
        if (high < 0 || low < 0)
            return std::nullopt;
        bytes[i] = char(high << 4 | low);
    }
    // "mbox", the store, the file, the offset and the check, each ended by a NUL but the last.
    std::array<QByteArrayView, 5> fields;
    QByteArrayView rest(bytes);
    for (std::size_t i = 0; i + 1 < fields.size(); ++i) {
        const qsizetype end = rest.indexOf('\0');
        if (end < 0)
            return std::nullopt;
        fields[i] = rest.first(end);
        rest = rest.sliced(end + 1);
    }
    fields.back() = rest;
    if (rest.contains('\0') || fields[0] != kEntryMarker || !maildir::isSafeRelativeDir(fields[2].toByteArray()))
        return std::nullopt;
    bool number = false;
    const qint64 offset = fields[3].toByteArray().toLongLong(&number);
    if (!number || offset < 0)
        return std::nullopt;
    return EntryRef { QString::fromUtf8(fields[1]), fields[2].toByteArray(), offset, fields[4].toByteArray() };
}

maildir::MessageFile messageFileOf(const QByteArray& fromLine)
{
    return { .fileName = {},
        .modified = fromLineDate(std::string_view(fromLine.constData(), std::size_t(fromLine.size()))),
        .dateMadeIt = true };
}

// isExpunged() of the message's header block, read from the line where the scan found the field: no line
// before it names it.
bool expunged(const MessageSpan& span, const maildir::HeaderScan& scan)
{
    const std::string_view block = span.head.substr(0, std::min(scan.blockLength(), span.head.size()));
    const auto value = scan.rawValue(span.head.data(), maildir::HeaderField::MozillaStatus);
    if (!value)
        return false;
    const std::size_t lineEnd = block.rfind('\n', std::size_t(value->data() - block.data()) - 1);
    return isExpunged(block.substr(lineEnd == std::string_view::npos ? 0 : lineEnd + 1));
}

// The summary of the message `span` but its entry identifier, from its header block; nothing when it is
// expunged.
std::optional<ItemSummary> summaryOf(const MessageSpan& span, maildir::SummaryTimes& times)
{
    maildir::HeaderScan scan;
    scan.scan(span.head.data(), span.head.size(), true);
    if (expunged(span, scan))
        return std::nullopt;
    ItemSummary summary;
    maildir::summarize(span.head.data(), std::min(scan.blockLength(), span.head.size()), scan,
        messageFileOf(span.fromLine), summary,
        maildir::itemClassOf(span.head.data(), span.head.size(), scan, true).value_or(kClassMail), &times);
    return summary;
}

// A file is searched in pieces of this size, each scanned and summarised on whichever thread is free,
// a few pieces ahead of the one whose rows are taken; a piece's window holds it whole with the first bytes
// of the message that starts last in it, so that each byte is read once, or twice at a piece's end.
constexpr qint64 kPiece = 8 << 20;
constexpr std::size_t kPieceWindow = std::size_t(kPiece) + MessageScanner::kHeadCap + (128 << 10);
constexpr std::size_t kPiecesAhead = 16;
constexpr std::size_t kSummariesReserved = 2048; // a piece of mail of usual sizes holds about 1,000
constexpr std::size_t kChecksAtOnce = 64;

/// What the scan of one piece found: the summaries of its messages, their times still in seconds (they are
/// made local times on the walking thread alone, see maildir::summarize()), and what stopped it early.
struct PieceFound {
    std::vector<ItemSummary> summaries;
    std::vector<maildir::SummaryTimes> times;
    std::optional<QString> failure;
};

/// Windows handed from one piece's scanner to the next on the same or another thread: a window is large,
/// and a new one costs the kernel a page fault for each of its pages.
class Windows {
public:
    MessageScanner::Window take()
    {
        const std::lock_guard lock(m_mutex);
        if (m_free.empty())
            return nullptr;
        MessageScanner::Window window = std::move(m_free.back());
        m_free.pop_back();
        return window;
    }
    void give(MessageScanner::Window window)
    {
        if (!window)
            return;
        const std::lock_guard lock(m_mutex);
        m_free.push_back(std::move(window));
    }

private:
    std::mutex m_mutex;
    std::vector<MessageScanner::Window> m_free;
};

class MboxFolder : public Folder {
public:
    MboxFolder(std::shared_ptr<const StoreData> store, Place place)
        : m_store(std::move(store))
        , m_place(std::move(place))
    {
    }

    QString name() const override { return m_place.names.isEmpty() ? m_store->name : m_place.names.last(); }
    QString folderPath() const override { return folderPathOf(m_store->name, m_place.names, u'\\'); }
    QString fullFolderPath() const override { return folderPathOf(m_store->name, m_place.names, u'/'); }

    Result<std::vector<std::unique_ptr<Folder>>> folders(Walk& walk) const override
    {
        std::vector<std::unique_ptr<Folder>> children;
        if (m_store->singleFile) {
            if (m_place.names.isEmpty()) {
                const QFileInfo info(QFile::decodeName(m_store->root));
                const QString base = info.completeBaseName();
                children.push_back(std::make_unique<MboxFolder>(
                    m_store, Place { { base.isEmpty() ? info.fileName() : base }, QByteArray(), std::nullopt }));
            }
            return children;
        }
        if (!m_place.subdir)
            return children;
        auto listed = listDir(*m_store, *m_place.subdir, walk);
        if (!listed)
            return listed.error().code == Error::Code::NotFound && !m_place.names.isEmpty()
                ? Result<std::vector<std::unique_ptr<Folder>>>(std::move(children))
                : listed.error();
        for (auto& [name, where] : *listed)
            children.push_back(std::make_unique<MboxFolder>(m_store,
                Place { m_place.names + QStringList { folderNameOf(name) }, std::move(where.file),
                    std::move(where.subdir) }));
        std::stable_sort(children.begin(), children.end(),
            [](const auto& a, const auto& b) { return a->name().compare(b->name(), Qt::CaseInsensitive) < 0; });
        return children;
    }

    // A message that cannot be read is the file that cannot be read: an Error. The file is scanned in
    // pieces on the walk's worker threads and this one; the rows keep the file's order.
    Status items(const std::function<void(const ItemSummary&)>& visit, Walk& walk) const override
    {
        if (!m_place.file)
            return success();
        const QByteArray path = m_store->path(*m_place.file);
        auto opened = openMessageFile(path);
        if (!opened || !*opened)
            return opened ? success() : Status(opened.error());
        const int fd = (**opened).get();
        struct stat info;
        if (::fstat(fd, &info) != 0)
            return osError(Error::Code::Unreadable, path, errno);
        const qint64 size = info.st_size; // a message delivered while the file is read waits for the next search
        const QString prefix = entryIDPrefix(m_store->name, *m_place.file);
        Windows windows;
        const auto scanPiece = [&](std::size_t index) {
            const qint64 from = qint64(index) * kPiece;
            MessageScanner scanner
                = MessageScanner::piece(fd, from, std::min(from + kPiece, size), size, kPieceWindow, windows.take());
            PieceFound found;
            found.summaries.reserve(kSummariesReserved);
            found.times.reserve(kSummariesReserved);
            // The checks are worked out a few dozen at a time, in a buffer that stays small.
            CheckBatch checks;
            std::vector<qint64> offsets;
            const auto takeChecks = [&] {
                std::size_t i = found.summaries.size() - checks.size();
                for (const CheckText& check : checks.take()) {
                    found.summaries[i].entryID = entryIDOf(prefix, offsets[i], check);
                    ++i;
                }
            };
            MessageSpan span;
            for (;;) {
                auto more = scanner.next(span);
                if (!more)
                    found.failure = more.error().detail;
                if (!more || !*more)
                    break;
                maildir::SummaryTimes times;
                if (auto summary = summaryOf(span, times)) {
                    found.summaries.push_back(std::move(*summary));
                    found.times.push_back(times);
                    offsets.push_back(span.offset);
                    checks.add(span);
                    if (checks.size() == kChecksAtOnce)
                        takeChecks();
                }
            }
            takeChecks();
            span = {}; // lets go of the window
            windows.give(scanner.release());
            return found;
        };
        std::optional<QString> failure;
        const std::size_t pieces = std::size_t((size + kPiece - 1) / kPiece);
        produceInOrder<PieceFound>(
            walk.workers(), pieces, kPiecesAhead, [&](std::size_t index) { return scanPiece(index); },
            [&](std::size_t index, PieceFound&& found) {
                if (index == 0) // a quarter more than the first piece's messages times the pieces
                    walk.expectItems(found.summaries.size() * pieces * 5 / 4);
                if (failure)
                    return; // what follows the piece that could not be read is left out, as a whole scan would
                for (std::size_t i = 0; i < found.summaries.size(); ++i) {
                    maildir::setLocalTimes(found.summaries[i], found.times[i]);
                    visit(found.summaries[i]);
                }
                failure = std::move(found.failure);
            });
        if (failure)
            return Error { Error::Code::Unreadable, QFile::decodeName(path), *failure };
        return success();
    }

private:
    std::shared_ptr<const StoreData> m_store;
    Place m_place;
};

// The folder of the file `file` (relative to the root), as a walk from the top would have found it.
Place placeOfFile(const StoreData& store, const QByteArray& file)
{
    if (store.singleFile) {
        const QFileInfo info(QFile::decodeName(store.root));
        return Place { { info.completeBaseName().isEmpty() ? info.fileName() : info.completeBaseName() }, file,
            std::nullopt };
    }
    Place place { {}, file, file + ".sbd" };
    const QList<QByteArray> parts = file.split('/');
    for (qsizetype i = 0; i < parts.size(); ++i)
        place.names << folderNameOf(i + 1 < parts.size() && parts[i].endsWith(".sbd") ? parts[i].chopped(4) : parts[i]);
    return place;
}

class MboxStore : public Store {
public:
    MboxStore(const QString& name, const QString& location, bool singleFile)
        : m_data(std::make_shared<StoreData>(StoreData { name, QFile::encodeName(location), singleFile }))
        , m_location(location)
    {
    }

    QString name() const override { return m_data->name; }
    QString location() const override { return m_location; }
    QString kind() const override { return QStringLiteral("mbox"); }

    Result<std::unique_ptr<Folder>> topFolder() override
    {
        struct stat info;
        if (::stat(m_data->root.constData(), &info) != 0)
            return osError(
                maildir::isAbsence(errno) ? Error::Code::NotFound : Error::Code::Unreadable, m_data->root, errno);
        return std::unique_ptr<Folder>(std::make_unique<MboxFolder>(m_data, Place { {}, std::nullopt, QByteArray() }));
    }

    bool owns(const QString& entryID) const override
    {
        const auto ref = decodeEntryID(entryID);
        return ref && ref->store.compare(m_data->name, Qt::CaseInsensitive) == 0;
    }

    Result<std::unique_ptr<MailItem>> item(const QString& entryID) override
    {
        const Error gone { Error::Code::NotFound, entryID, QStringLiteral("the message is no longer in the store") };
        const auto ref = decodeEntryID(entryID);
        if (!ref || ref->store.compare(m_data->name, Qt::CaseInsensitive) != 0
            || (m_data->singleFile != ref->file.isEmpty()))
            return gone;
        const QByteArray path = m_data->path(ref->file);
        qint64 size = 0;
        auto kept = keptFile(path, size);
        if (!kept)
            return kept.error();
        if (!*kept)
            return gone;
        MessageSpan span;
        QByteArray raw;
        auto found = readMessageAt((*kept)->fd.get(), size, ref->offset, span, raw);
        if (!found)
            return Error { Error::Code::Unreadable, QFile::decodeName(path), found.error().detail };
        if (!*found || firstBytesCheck(span) != ref->check)
            return gone;
        maildir::HeaderScan scan;
        scan.scan(raw.constData(), std::size_t(raw.size()), true);
        if (expunged(span, scan))
            return gone;
        unquoteFromLines(raw);
        auto parent = [store = m_data, file = ref->file]() -> std::unique_ptr<Folder> {
            return std::make_unique<MboxFolder>(store, placeOfFile(*store, file));
        };
        return maildir::makeMessage(std::move(raw), messageFileOf(span.fromLine), entryID, std::move(parent));
    }

private:
    /// An mbox file kept open across the lookups of a save.
    struct KeptFile {
        QByteArray path;
        Fd fd;
    };

    // The file `path`, open, and its size now: the one kept from the lookup before while it is still the
    // file the path named when it was opened (one that was renamed over or removed since is opened again);
    // nothing when it is not there. The kept file is looked at through its descriptor: no walk of the path
    // for each message of a save.
    Result<std::shared_ptr<const KeptFile>> keptFile(const QByteArray& path, qint64& size)
    {
        struct stat now;
        const std::lock_guard lock(m_keptMutex);
        if (m_kept && m_kept->path == path && ::fstat(m_kept->fd.get(), &now) == 0 && now.st_nlink > 0) {
            size = qint64(now.st_size);
            return m_kept;
        }
        m_kept.reset();
        auto opened = openMessageFile(path);
        if (!opened)
            return opened.error();
        if (!*opened)
            return std::shared_ptr<const KeptFile>();
        auto kept = std::make_shared<KeptFile>(KeptFile { path, std::move(**opened) });
        if (::fstat(kept->fd.get(), &now) != 0)
            return osError(Error::Code::Unreadable, path, errno);
        size = qint64(now.st_size);
        m_kept = kept;
        return m_kept;
    }

    std::shared_ptr<StoreData> m_data;
    QString m_location;
    std::mutex m_keptMutex;
    std::shared_ptr<const KeptFile> m_kept;
};

} // namespace

} // namespace mbox

Result<std::unique_ptr<Store>> openMboxStore(const QString& name, const QString& location)
{
    const QFileInfo info(location);
    if (!info.exists())
        return Error { Error::Code::NotFound, location, QStringLiteral("no such file or directory") };
    if (!info.isDir() && !info.isFile())
        return Error { Error::Code::NotAStore, location, QStringLiteral("neither an mbox file nor a directory") };
    return std::unique_ptr<Store>(std::make_unique<mbox::MboxStore>(name, location, info.isFile()));
}

bool isMboxTree(const QString& dir)
{
    const QByteArray root = QFile::encodeName(dir);
    Walk walk;
    for (const char* sub : { "/cur", "/new" })
        if (QFileInfo(dir + QLatin1String(sub)).isDir())
            return false;
    maildir::Dir listing(AT_FDCWD, root.constData());
    std::vector<maildir::Entry> entries;
    if (!listing.ok() || !listing.entries(entries))
        return false;
    for (const maildir::Entry& entry : entries)
        for (const char* sub : { "/cur", "/new" })
            if (!entry.name.startsWith('.')
                && QFileInfo(dir + u'/' + QFile::decodeName(entry.name) + QLatin1String(sub)).isDir())
                return false;
    const mbox::StoreData store { {}, root, false };
    auto listed = mbox::listDir(store, {}, walk);
    return listed && !listed->empty();
}

} // namespace quillbox::mail

// SPDX-License-Identifier: MIT
#include "mail/imap/imapstore.h"

#include "mail/imap/connection.h"
#include "mail/maildir/maildirmessage.h"
#include "mail/maildir/maildirnames.h"

#include <QDir>
#include <QHash>
#include <QSet>
#include <QTemporaryFile>

namespace quillbox::mail {

namespace {

using namespace imap;

// A dropped connection is opened again this often in the life of a store (one search or one save run).
constexpr int kReconnects = 2;

ImapFetchLimits& fetchLimits()
{
    static ImapFetchLimits limits;
    return limits;
}

QDateTime knownOrNone(const QDateTime& time)
{
    return time.isValid() ? time : noDate();
}

// The list's fields of a message whose first `size` bytes (its header block, or all of it) are `data`.
// The times are the server's: SentOn from the Date header, the other two the INTERNALDATE.
void summarizeHead(const MessageHead& head, const char* data, std::size_t size, ItemSummary& summary)
{
    maildir::HeaderScan scan;
    scan.scan(data, size, true);
    maildir::summarize(data, size, scan, {}, summary);
    summary.sent = summary.sent && !head.draft;
    summary.receivedTime = knownOrNone(head.internalDate);
    summary.creationTime = summary.receivedTime;
}

// What an entry identifier of this backend holds.
struct EntryRef {
    QString store;
    QByteArray mailbox;
    char delimiter = 0;
    quint32 uidValidity = 0;
    quint32 uid = 0;
};

constexpr char kEntryMarker[] = "IMAP";

QString encodeEntryID(const EntryRef& ref)
{
    const QByteArray fields = QByteArray(kEntryMarker) + '\0' + ref.store.toUtf8() + '\0' + ref.mailbox + '\0'
        + QByteArray(1, ref.delimiter ? ref.delimiter : '\0') + '\0' + QByteArray::number(ref.uidValidity) + '\0'
        + QByteArray::number(ref.uid);
    return QString::fromLatin1(fields.toHex().toUpper());
}

std::optional<EntryRef> decodeEntryID(const QString& entryID)
{
    if (!entryID.startsWith(QLatin1String("494D415000"))) // "IMAP" and its separator
        return std::nullopt;
    const QByteArray bytes = QByteArray::fromHex(entryID.toLatin1());
    // The delimiter may be NUL itself: the fields are split by position around it.
    QList<QByteArray> head = bytes.split('\0');
    if (head.size() < 6)
        return std::nullopt;
    EntryRef ref;
    ref.store = QString::fromUtf8(head[1]);
    ref.mailbox = head[2];
    const qsizetype delimiterAt = qsizetype(std::strlen(kEntryMarker)) + 1 + head[1].size() + 1 + head[2].size() + 1;
    if (delimiterAt + 2 > bytes.size())
        return std::nullopt;
    ref.delimiter = bytes[delimiterAt];
    const QList<QByteArray> numbers = bytes.mid(delimiterAt + 2).split('\0');
    bool validity = false, uid = false;
    if (numbers.size() != 2)
        return std::nullopt;
    ref.uidValidity = numbers[0].toUInt(&validity);
    ref.uid = numbers[1].toUInt(&uid);
    if (!validity || !uid || ref.uid == 0 || ref.mailbox.isEmpty())
        return std::nullopt;
    return ref;
}

// A message fetched whole: its bytes in memory, or a temporary file mapped into memory (`spool`) that must
// outlive every use of the bytes.
struct Fetched {
    MessageHead head;
    QByteArray bytes;
    std::shared_ptr<QTemporaryFile> spool;
};

// The message `head` of the open folder `folder` in ranges through a temporary file, none of them held longer
// than it takes to write it. A server that sends more than the message's size is cut off there.
Result<Fetched> streamed(Connection& connection, const MessageHead& head, const QString& folder)
{
    const quint32 range = std::max(fetchLimits().range, 1u);
    Fetched fetched { head, {}, std::make_shared<QTemporaryFile>(QDir::temp().filePath("quillbox-imap-XXXXXX")) };
    QTemporaryFile& spool = *fetched.spool;
    if (!spool.open())
        return Error { Error::Code::WriteFailed, spool.fileTemplate(),
            QStringLiteral("no temporary file for a large message: ") + spool.errorString() };
    for (quint64 offset = 0;; offset += range) {
        if (offset > head.size + range || offset + range > std::numeric_limits<quint32>::max())
            return Error { Error::Code::Unreadable, folder,
                QStringLiteral("the server sent more than the message's size (%1 bytes)").arg(head.size) };
        auto bytes = connection.range(head.uid, quint32(offset), range);
        if (!bytes)
            return bytes.error();
        if (!*bytes)
            return Error { Error::Code::NotFound, folder, QStringLiteral("the message is no longer on the server") };
        if (spool.write(**bytes) != (*bytes)->size())
            return Error { Error::Code::WriteFailed, spool.fileName(), spool.errorString() };
        if ((*bytes)->size() < qsizetype(range))
            break;
    }
    if (!spool.flush())
        return Error { Error::Code::WriteFailed, spool.fileName(), spool.errorString() };
    if (spool.size() > 0) {
        const uchar* mapped = spool.map(0, spool.size());
        if (!mapped)
            return Error { Error::Code::WriteFailed, spool.fileName(), spool.errorString() };
        fetched.bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(mapped), qsizetype(spool.size()));
    }
    return fetched;
}

// The messages a save will ask for, fetched a batch at a time: the one asked for and the next ones expected in
// its folder, up to the fetch limits, in one UID FETCH after one that reads their sizes. Each is held until it
// is asked for; one too large for a batch is fetched alone through a temporary file.
class Batches {
public:
    // The messages of the store `store` among `entryIDs` are the ones to fetch, in this order.
    void expect(const QString& store, const QStringList& entryIDs)
    {
        m_expected.clear();
        m_expectedAt.clear();
        for (const QString& entryID : entryIDs)
            if (const auto ref = decodeEntryID(entryID);
                ref && ref->store.compare(store, Qt::CaseInsensitive) == 0 && !m_expectedAt.contains(entryID)) {
                m_expectedAt.insert(entryID, m_expected.size());
                m_expected.emplace_back(entryID, *ref);
            }
    }

    // The message `ref` (named `entryID`), on the open folder's `connection` whose UIDVALIDITY is `uidValidity`.
    Result<Fetched> take(Connection& connection, quint32 uidValidity, const EntryRef& ref, const QString& entryID)
    {
        const QString folder = QString::fromUtf8(ref.mailbox);
        if (uidValidity != ref.uidValidity)
            return Error { Error::Code::NotFound, folder,
                QStringLiteral("the folder was renumbered on the server (UIDVALIDITY changed): search again") };
        if (!m_fetched.contains(entryID)) {
            const std::vector<std::pair<QString, quint32>> batch = batchFrom(ref, entryID);
            Status read = fetchBatch(connection, batch, folder);
            // A server that refuses a batch may still give the message asked for alone, or say why not.
            if (!read && batch.size() > 1 && !connection.broken())
                read = fetchBatch(connection, { batch.front() }, folder);
            if (!read)
                return read.error();
        }
        const auto found = m_fetched.find(entryID);
        if (found == m_fetched.end())
            return Error { Error::Code::NotFound, folder, QStringLiteral("the message is no longer on the server") };
        Fetched fetched = std::move(*found);
        m_fetched.erase(found);
        return fetched;
    }

private:
    // `ref` and the messages expected after it in the same folder, as entry identifier and UID.
    std::vector<std::pair<QString, quint32>> batchFrom(const EntryRef& ref, const QString& entryID) const
    {
        std::vector<std::pair<QString, quint32>> batch { { entryID, ref.uid } };
        const auto at = m_expectedAt.constFind(entryID);
        if (at == m_expectedAt.cend())
            return batch;
        for (std::size_t next = std::size_t(*at) + 1;
             next < m_expected.size() && qsizetype(batch.size()) < fetchLimits().batchMessages; ++next) {
            const auto& [id, other] = m_expected[next];
            if (other.mailbox != ref.mailbox || other.uidValidity != ref.uidValidity)
                break;
            if (!m_fetched.contains(id))
                batch.emplace_back(id, other.uid);
        }
        return batch;
    }

    // Fetches the first message of `batch` and as many after it as the limits let one command hold.
    Status fetchBatch(
        Connection& connection, const std::vector<std::pair<QString, quint32>>& batch, const QString& folder)
    {
        std::vector<quint32> uids;
        QHash<quint32, QString> entryIDs;
        for (const auto& [entryID, uid] : batch) {
            uids.push_back(uid);
            entryIDs.insert(uid, entryID);
        }
        QHash<quint32, MessageHead> heads;
        if (Status sized = connection.heads(uids, false, [&](MessageHead& head) { heads.insert(head.uid, head); });
            !sized)
            return sized;
        const ImapFetchLimits& limits = fetchLimits();
        const auto first = heads.constFind(batch.front().second);
        if (first != heads.cend() && qint64(first->size) > limits.streamAbove) {
            auto fetched = streamed(connection, *first, folder);
            if (!fetched)
                return fetched.error();
            m_fetched.insert(batch.front().first, std::move(*fetched));
            return success();
        }
        std::vector<quint32> chosen;
        qint64 bytes = 0;
        for (const quint32 uid : uids) {
            const auto head = heads.constFind(uid);
            if (head == heads.cend())
                continue; // gone from the server: told when it is asked for
            if (!chosen.empty()
                && (qint64(head->size) > limits.streamAbove || bytes + qint64(head->size) > limits.batchBytes))
                break;
            chosen.push_back(uid);
            bytes += qint64(head->size);
        }
        std::sort(chosen.begin(), chosen.end());
        return connection.messages(chosen, [&](MessageHead& head, QByteArray& bytes) {
            if (const auto entryID = entryIDs.constFind(head.uid); entryID != entryIDs.cend())
                m_fetched.insert(*entryID, Fetched { std::move(head), std::move(bytes), {} });
        });
    }

    std::vector<std::pair<QString, EntryRef>> m_expected;
    QHash<QString, qsizetype> m_expectedAt;
    QHash<QString, Fetched> m_fetched;
};

// The store's connection: opened when first needed, logged in once with a secret asked for once, opened
// again when it breaks (kReconnects times at most), and given up on for good after that or when the
// first opening fails (a wrong password is told once, not once per folder).
class Link {
public:
    explicit Link(Account account)
        : m_account(std::move(account))
    {
    }

    const Account& account() const { return m_account; }
    Batches& batches() { return m_batches; }

    // Runs `op` on the connection with `mailbox` open (none when empty), given the folder's UIDVALIDITY.
    template <class T>
    Result<T> run(const QByteArray& mailbox, const std::function<Result<T>(Connection&, quint32)>& op)
    {
        for (;;) {
            if (m_gaveUp)
                return *m_gaveUp;
            Status ready = prepare(mailbox);
            if (ready) {
                Result<T> result = op(*m_connection, m_uidValidity);
                if (result || !m_connection->broken())
                    return result;
                ready = result.error();
            }
            if (Status again = dropped(ready.error()); !again)
                return again.error();
        }
    }

    // The folders of the account, listed once.
    Result<std::vector<ListEntry>> list()
    {
        if (!m_list) {
            auto listed = run<std::vector<ListEntry>>({}, [](Connection& c, quint32) { return c.list(); });
            if (!listed)
                return listed.error();
            m_list = std::move(*listed);
        }
        return *m_list;
    }

private:
    Status prepare(const QByteArray& mailbox)
    {
        if (!m_connection) {
            if (!m_secret) {
                auto secret = secretOf(m_account);
                if (!secret) {
                    m_gaveUp = secret.error();
                    return *m_gaveUp;
                }
                m_secret = std::move(*secret);
            }
            auto opened = Connection::open(m_account, *m_secret);
            if (!opened) {
                // The first opening failing is the account's answer (a wrong password, an untrusted
                // certificate): it stands for the rest of the run.
                if (!m_everOpened) {
                    m_gaveUp = opened.error();
                    forgetAskedPassword(m_account);
                }
                return opened.error();
            }
            m_connection = std::move(*opened);
            if (!m_everOpened)
                secretAccepted(m_account, *m_secret);
            m_everOpened = true;
            m_open.clear();
        }
        if (!mailbox.isEmpty() && mailbox != m_open) {
            auto validity = m_connection->examine(mailbox);
            if (!validity)
                return validity.error();
            m_open = mailbox;
            m_uidValidity = *validity;
        }
        return success();
    }

    // After `why`: whether to try again on a new connection, or the Error that ends trying.
    Status dropped(const Error& why)
    {
        if (m_gaveUp)
            return *m_gaveUp;
        if (m_connection && !m_connection->broken())
            return why;
        m_connection.reset();
        if (m_reconnects++ >= kReconnects) {
            m_gaveUp = Error { why.code, why.path,
                QStringLiteral("%1; the connection was opened again %2 times, the rest is left out")
                    .arg(why.detail)
                    .arg(kReconnects) };
            return *m_gaveUp;
        }
        return success();
    }

    Account m_account;
    std::optional<Secret> m_secret;
    std::unique_ptr<Connection> m_connection;
    QByteArray m_open;
    quint32 m_uidValidity = 0;
    int m_reconnects = 0;
    bool m_everOpened = false;
    std::optional<Error> m_gaveUp;
    std::optional<std::vector<ListEntry>> m_list;
    Batches m_batches;
};

// A place in the account's folder tree: the top (no mailbox), a folder, or a node that only holds folders.
struct Place {
    QStringList names; ///< the folder names on the way down
    QByteArray mailbox; ///< the name on the server; empty for the top
    char delimiter = 0;
    bool selectable = false;
};

// The folder name a level of a mailbox name gives: modified UTF-7 decoded, and INBOX as every store says it.
QString folderNameOf(const QByteArray& level, bool top)
{
    if (top && level.compare("INBOX", Qt::CaseInsensitive) == 0)
        return QStringLiteral("Inbox");
    return maildir::decodeModifiedUtf7(level);
}

class ImapFolder : public Folder {
public:
    ImapFolder(std::shared_ptr<Link> link, Place place)
        : m_link(std::move(link))
        , m_place(std::move(place))
    {
    }

    QString name() const override { return m_place.names.isEmpty() ? m_link->account().store : m_place.names.last(); }
    QString folderPath() const override { return pathWith(u'\\'); }
    QString fullFolderPath() const override { return pathWith(u'/'); }

    Result<std::vector<std::unique_ptr<Folder>>> folders(Walk& walk) const override
    {
        auto entries = m_link->list();
        if (!entries)
            return entries.error();
        std::vector<std::unique_ptr<Folder>> children;
        QSet<QByteArray> seen;
        for (const ListEntry& entry : *entries) {
            std::optional<Place> child = childToward(entry);
            if (!child || seen.contains(child->mailbox))
                continue;
            seen.insert(child->mailbox);
            if (!walk.enter(m_link->account().store.toUtf8() + '\0' + child->mailbox)) {
                walk.skip(Walk::Skip::Repeat, Error { Error::Code::Unreadable, child->mailbox, {} });
                continue;
            }
            for (const ListEntry& same : *entries)
                if (same.mailbox == child->mailbox)
                    child->selectable = same.selectable;
            children.push_back(std::make_unique<ImapFolder>(m_link, std::move(*child)));
        }
        return children;
    }

    Status items(const std::function<void(const ItemSummary&)>& visit, Walk& walk) const override
    {
        if (!m_place.selectable)
            return success();
        // The server compares whole days in its own time zone: a day's margin either side, and the search
        // decides on each item.
        const QDate since
            = walk.since().isValid() && walk.since().date().year() > 1970 ? walk.since().date().addDays(-1) : QDate();
        const QDate before
            = walk.before().isValid() && walk.before().date().year() < 9000 ? walk.before().date().addDays(2) : QDate();
        const QString store = m_link->account().store;
        std::vector<std::pair<quint32, QByteArray>> whole; // messages whose class their body decides
        auto read = m_link->run<
            std::monostate>(m_place.mailbox, [&](Connection& connection, quint32 uidValidity) -> Status {
            auto uids = connection.search(since, before);
            if (!uids)
                return uids.error();
            ItemSummary summary;
            return connection.heads(*uids, true, [&](MessageHead& head) {
                summarizeHead(head, head.header.constData(), std::size_t(head.header.size()), summary);
                summary.entryID = encodeEntryID({ store, m_place.mailbox, m_place.delimiter, uidValidity, head.uid });
                maildir::HeaderScan scan;
                scan.scan(head.header.constData(), std::size_t(head.header.size()), true);
                if (!maildir::itemClassOf(head.header.constData(), std::size_t(head.header.size()), scan, false))
                    whole.emplace_back(head.uid, summary.entryID.toLatin1());
                else
                    visit(summary);
            });
        });
        // The few messages whose class depends on their body (a calendar part) are read whole.
        for (const auto& [uid, entryID] : whole) {
            auto item = readItem(m_link, QString::fromLatin1(entryID));
            if (item)
                visit((*item)->summary());
            else
                walk.skip(Walk::Skip::Message, item.error());
        }
        return read ? success() : Status(read.error());
    }

    static Result<std::unique_ptr<MailItem>> readItem(const std::shared_ptr<Link>& link, const QString& entryID);

private:
    QString pathWith(QChar separator) const
    {
        QString path = QLatin1String("\\\\") + m_link->account().store;
        for (const QString& name : m_place.names)
            path += separator + name;
        return path;
    }

    // The child of this place on the way to `entry`, when `entry` lies below it.
    std::optional<Place> childToward(const ListEntry& entry) const
    {
        QByteArray prefix;
        if (!m_place.mailbox.isEmpty()) {
            if (!entry.delimiter || entry.delimiter != m_place.delimiter)
                return std::nullopt;
            prefix = m_place.mailbox + entry.delimiter;
            if (!entry.mailbox.startsWith(prefix) || entry.mailbox.size() == prefix.size())
                return std::nullopt;
        }
        const QByteArray rest = entry.mailbox.mid(prefix.size());
        const qsizetype cut = entry.delimiter ? rest.indexOf(entry.delimiter) : -1;
        const QByteArray level = cut < 0 ? rest : rest.left(cut);
        Place child { m_place.names, prefix + level, entry.delimiter, false };
        child.names << folderNameOf(level, m_place.mailbox.isEmpty());
        return child;
    }

    std::shared_ptr<Link> m_link;
    Place m_place;
};

// A message read whole: the Maildir backend's reading of RFC 822 bytes, with the list's fields as the
// server gives them.
class ImapMessage : public MailItem {
public:
    ImapMessage(std::shared_ptr<QTemporaryFile> spool, std::unique_ptr<MailItem> item, ItemSummary summary)
        : m_spool(std::move(spool))
        , m_item(std::move(item))
        , m_summary(std::move(summary))
    {
    }
    const ItemSummary& summary() const override { return m_summary; }
    int itemClass() const override { return m_item->itemClass(); }
    std::unique_ptr<Folder> parent() const override { return m_item->parent(); }
    QString messageClass() const override { return m_item->messageClass(); }
    QString senderName() const override { return m_item->senderName(); }
    QString displayCc() const override { return m_item->displayCc(); }
    void forEachRecipient(const std::function<void(const Recipient&)>& visit) const override
    {
        m_item->forEachRecipient(visit);
    }
    QString plainBody() const override { return m_item->plainBody(); }
    QString htmlBody() const override { return m_item->htmlBody(); }
    QByteArray rtfBody() const override { return m_item->rtfBody(); }
    QString transportHeaders() const override { return m_item->transportHeaders(); }
    QByteArray rawMessage() const override { return m_item->rawMessage(); }
    Result<std::vector<std::unique_ptr<Attachment>>> attachments() const override { return m_item->attachments(); }
    bool standsAlone() const override { return m_item->standsAlone(); }

private:
    std::shared_ptr<QTemporaryFile> m_spool; // holds the bytes of a large message: goes after the item
    std::unique_ptr<MailItem> m_item;
    ItemSummary m_summary;
};

Result<std::unique_ptr<MailItem>> ImapFolder::readItem(const std::shared_ptr<Link>& link, const QString& entryID)
{
    const std::optional<EntryRef> ref = decodeEntryID(entryID);
    if (!ref)
        return Error { Error::Code::NotFound, entryID, QStringLiteral("not a message of an IMAP account") };
    auto fetched = link->run<Fetched>(ref->mailbox, [&](Connection& connection, quint32 uidValidity) {
        return link->batches().take(connection, uidValidity, *ref, entryID);
    });
    if (!fetched)
        return fetched.error();
    auto& [head, bytes, spool] = *fetched;
    ItemSummary summary;
    summarizeHead(head, bytes.constData(), std::size_t(bytes.size()), summary);
    summary.entryID = entryID;
    // The folder is known by its name alone: the tree above it is not listed again for one message.
    Place place { {}, ref->mailbox, ref->delimiter, true };
    const QList<QByteArray> levels = ref->delimiter ? ref->mailbox.split(ref->delimiter) : QList { ref->mailbox };
    for (const QByteArray& level : levels)
        place.names << folderNameOf(level, place.names.isEmpty());
    auto item = maildir::makeMessage(
        std::move(bytes), {}, entryID, [link, place] { return std::make_unique<ImapFolder>(link, place); });
    return std::unique_ptr<MailItem>(
        std::make_unique<ImapMessage>(std::move(spool), std::move(item), std::move(summary)));
}

class ImapStore : public Store {
public:
    ImapStore(const QString& location, Account account)
        : m_location(location)
        , m_link(std::make_shared<Link>(std::move(account)))
    {
    }

    QString name() const override { return m_link->account().store; }
    QString location() const override { return m_location; }
    QString kind() const override { return QStringLiteral("IMAP"); }

    Result<std::unique_ptr<Folder>> topFolder() override
    {
        // The top is worth showing only when the account can be read: a wrong password is said here.
        if (auto listed = m_link->list(); !listed)
            return listed.error();
        return std::unique_ptr<Folder>(std::make_unique<ImapFolder>(m_link, Place {}));
    }

    bool owns(const QString& entryID) const override
    {
        const auto ref = decodeEntryID(entryID);
        return ref && ref->store.compare(name(), Qt::CaseInsensitive) == 0;
    }

    Result<std::unique_ptr<MailItem>> item(const QString& entryID) override
    {
        return ImapFolder::readItem(m_link, entryID);
    }

    void expect(const QStringList& entryIDs) override { m_link->batches().expect(name(), entryIDs); }

private:
    QString m_location;
    std::shared_ptr<Link> m_link;
};

} // namespace

Result<std::unique_ptr<Store>> openImapStore(
    const QString& name, const QString& location, const QMap<QString, QString>& settings)
{
    auto account = imap::parseAccount(name, location, settings);
    if (!account)
        return account.error();
    return std::unique_ptr<Store>(std::make_unique<ImapStore>(location, std::move(*account)));
}

void setImapFetchLimits(const ImapFetchLimits& limits)
{
    fetchLimits() = limits;
}

} // namespace quillbox::mail

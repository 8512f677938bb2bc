// SPDX-License-Identifier: MIT
#pragma once
// The mail store model: an application object holds the profile's stores; each store has
// one top-level folder; folders hold sub-folders and items; a mail item is found again by
// its entry identifier. Backends (Maildir, PST/OST) implement Store, Folder, MailItem and
// Attachment. Format quirks are collected in docs/format-notes.md.

#include "core/maildate.h"
#include "core/result.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace quillbox {
class WorkerThreads;
}

namespace quillbox::mail {

/// Item classes: only 43 is a mail item; the search never lists the others.
inline constexpr int kClassMail = 43;
inline constexpr int kClassReport = 46;
inline constexpr int kClassMeetingRequest = 53;
/// The message class of a signed mail (multipart/signed) kept whole as its one attachment "smime.p7m".
inline constexpr char kSignedMessageClass[] = "IPM.Note.SMIME.MultipartSigned";

/// The time of a field the store does not have: 1 January 4501 00:00:00 (local time). Made once: a local
/// time so far ahead costs the C library a reading of the zone's rule at each conversion.
inline QDateTime noDate()
{
    static const QDateTime date(QDate(4501, 1, 1), QTime(0, 0));
    return date;
}

/// Whether the store has the time `time`: it is valid and not noDate().
inline bool isKnownTime(const QDateTime& time)
{
    return time.isValid() && compareTimes(time, noDate()) != 0;
}

/// `text` with each CR LF turned into LF; a CR on its own stays.
inline void crlfToLf(QString& text)
{
    qsizetype out = text.indexOf(u'\r');
    if (out < 0)
        return;
    const qsizetype size = text.size();
    QChar* data = text.data();
    for (qsizetype in = out; in < size; ++in)
        if (!(data[in] == u'\r' && in + 1 < size && data[in + 1] == u'\n'))
            data[out++] = data[in];
    text.truncate(out);
}

/// "\\" + `store` + `separator` before each of `names`: a folder's path below its store.
inline QString folderPathOf(const QString& store, const QStringList& names, QChar separator)
{
    QString path = QLatin1String("\\\\") + store;
    for (const QString& name : names)
        path += separator + name;
    return path;
}

/// What the search reads of one item: its class, the three times and the list's texts.
/// Filled from headers alone; no body is read.
struct ItemSummary {
    int itemClass = kClassMail;
    QDateTime creationTime;
    QDateTime sentOn;
    QDateTime receivedTime;
    bool sent = false; ///< SentOn counts only when this is set
    QString senderEmailAddress;
    QString subject;
    QString to;
    QString entryID;
};

struct Recipient {
    enum class Type { To = 1, Cc = 2, Bcc = 3 };
    Recipient(QString name = {}, QString address = {}, Type type = Type::To, QString exchangeAddress = {})
        : name(std::move(name))
        , address(std::move(address))
        , type(type)
        , exchangeAddress(std::move(exchangeAddress))
    {
    }
    QString name;
    QString address; ///< the Internet (SMTP) address; empty when the store has only an Exchange one
    Type type = Type::To;
    QString exchangeAddress; ///< the X.500 address ("/o=.../cn=...") of an Exchange user, where the store has one
};

/// Whether `address` is an Exchange X.500 address ("/o=Org/ou=.../cn=...") rather than an Internet one.
bool isExchangeAddress(const QString& address);

/// What a mail carries besides its bodies, recipients and attachments, where the store has it. Every
/// field is empty (or nothing) when the store does not say.
struct MessageDetails {
    QString messageId; ///< "<...>" as in the Message-ID header
    QString inReplyTo;
    QString references;
    std::optional<int> importance; ///< 0 low, 1 normal, 2 high
    std::optional<int> priority; ///< -1 not urgent, 0 normal, 1 urgent
    QString conversationTopic;
    QByteArray conversationIndex;
    QList<Recipient> replyTo;
    /// For whom the mail was sent (the From header); empty when the store says no more than
    /// MailItem::senderName() and the summary's sender address.
    Recipient from;
    /// Who sent it, where that is not `from` (the Sender header, a delegate).
    std::optional<Recipient> sender;
    QStringList categories;
    /// The prefix ("RE: ") the store keeps apart from the subject; nothing when it keeps none.
    std::optional<QString> subjectPrefix;
    std::optional<bool> read;
    std::optional<int> flagStatus; ///< 1 completed, 2 flagged for follow-up
    /// To whom the store delivered the mail, and for whom; empty where it does not say.
    Recipient receivedBy;
    Recipient receivedRepresenting;
    std::optional<bool> replyRequested;
};

class MailItem;
class Folder;

/// The party a mail is from: details().from where the store gives it, else the sender's name and the
/// summary's address. An Exchange address stands in exchangeAddress, not in address.
Recipient fromOf(const MailItem& item);
/// The same, with the item's details() given (a store may read them from the message each time).
Recipient fromOf(const MailItem& item, const MessageDetails& details);

class Attachment {
public:
    virtual ~Attachment() = default;
    /// The attachment's file name as the store reports it (may be empty or hostile: "../x", "/etc/passwd").
    virtual QString fileName() const = 0;
    virtual QString mimeType() const = 0;
    /// The Content-ID (without "<>") of an attachment that the HTML body shows as "cid:...", else empty.
    virtual QString contentId() const { return {}; }
    /// The Content-Location of an inline part, else empty.
    virtual QString contentLocation() const { return {}; }
    /// Whether the attachment is part of the body (an inline image) rather than one the reader sees listed.
    virtual bool isInline() const { return false; }
    /// The attachment's bytes (for an embedded mail, the mail as the store holds it).
    virtual Result<QByteArray> data() const = 0;
    /// The attached mail when the attachment is itself a mail, else null.
    virtual std::unique_ptr<MailItem> embeddedMessage() const { return nullptr; }
};

/// One item, with everything saving needs. Returned whole by Namespace::getItemFromID.
class MailItem {
public:
    virtual ~MailItem() = default;
    virtual const ItemSummary& summary() const = 0;
    /// summary().itemClass; an item may give it without working out the rest of its summary.
    virtual int itemClass() const { return summary().itemClass; }
    /// The folder that holds the item (null for an embedded mail).
    virtual std::unique_ptr<Folder> parent() const = 0;

    virtual QString messageClass() const = 0; ///< "IPM.Note", ...
    virtual QString senderName() const = 0;
    virtual QString displayCc() const = 0;
    /// Hands the recipients to `visit` one at a time, in the store's order, as they are read: a mail of
    /// hundreds of thousands of recipients is never held as a list of them.
    virtual void forEachRecipient(const std::function<void(const Recipient&)>& visit) const = 0;
    /// The recipients, all at once.
    QList<Recipient> recipients() const;
    virtual QString plainBody() const = 0; ///< empty when the mail has none
    virtual QString htmlBody() const = 0; ///< empty when the mail has none; its own text, as the store holds it
    virtual QByteArray rtfBody() const = 0; ///< the decompressed RTF body, empty when the store has none
    virtual QString transportHeaders() const = 0; ///< the Internet headers, empty when the store has none
    /// The message as RFC 822 bytes when the store holds it that way (Maildir), else empty.
    virtual QByteArray rawMessage() const = 0;
    virtual Result<std::vector<std::unique_ptr<Attachment>>> attachments() const = 0;
    /// Identifiers, importance, conversation, reply-to, read state and so on; empty by default.
    virtual MessageDetails details() const { return {}; }
    /// True when the item holds everything it gives in memory and shares no state with its store or
    /// other items, so that another thread may use it (one thread at a time), as the save run does to
    /// build files ahead. Maildir items do; PST items read through the store's open file and do not.
    virtual bool standsAlone() const { return false; }
};

/// One walk through the folders of a store, as a search makes it: the places it has entered, so that it
/// enters none twice, and what it had to leave out. A folder read on a walk skips what it cannot read and
/// tells the walk; a folder read outside one (a picker, a folder path) skips the same without telling.
class Walk {
public:
    /// What was left out: a folder or a message that could not be read (or that a link places outside
    /// the store), or a folder the walk had entered already by another way, which loses nothing.
    enum class Skip { Folder, Message, Repeat };
    /// Told each entry that is left out, once, as the walk leaves it out; `why` names it.
    using Listener = std::function<void(Skip kind, const Error& why)>;

    explicit Walk(Listener listener = {})
        : m_listener(std::move(listener))
    {
    }

    /// Leaves out the entry `why` names (its path and detail); one already left out is not counted or told again.
    /// `count` entries alike left out at once (the messages a damaged folder counts but has no entry for) are
    /// told once and counted as many.
    void skip(Skip kind, const Error& why, qint64 count = 1);
    /// True the first time the walk comes to `place`, the store's own key for where a folder lies (for a
    /// directory, its device and inode); false when it has been there before.
    bool enter(const QByteArray& place);

    /// Threads that may read a folder's items for this walk besides the walking thread, which alone tells
    /// the walk and the visitor, in the store's order; null (the default): the walking thread reads alone.
    void useWorkers(WorkerThreads* workers) { m_workers = workers; }
    WorkerThreads* workers() const { return m_workers; }

    /// The date window of the search that makes the walk, a hint: a store that can ask its server for
    /// the items of a window asks for these (with a margin), and the search still decides on each item.
    void setWindow(const QDateTime& since, const QDateTime& before)
    {
        m_since = since;
        m_before = before;
    }
    const QDateTime& since() const { return m_since; }
    const QDateTime& before() const { return m_before; }

    /// About how many items the folder being read holds, told by the store before its first item where it
    /// can tell (a listing's length, or what the first part of a file holds times its parts), so that room
    /// for the rows is made at once; 0 when it cannot. The walker sets it to 0 before each folder.
    void expectItems(std::size_t count) { m_expectedItems = count; }
    std::size_t expectedItems() const { return m_expectedItems; }

    /// Counts one item that is not mail (a meeting request, a report, an appointment) left out of the list.
    void leaveOutNotMail() { ++m_notMail; }
    int notMail() const { return m_notMail; }

    int unreadFolders() const { return m_unreadFolders; }
    qint64 unreadMessages() const { return m_unreadMessages; }
    /// The first folder or message that could not be read.
    const std::optional<Error>& firstUnread() const { return m_firstUnread; }

private:
    Listener m_listener;
    WorkerThreads* m_workers = nullptr;
    QSet<QString> m_skipped;
    QSet<QByteArray> m_entered;
    int m_unreadFolders = 0;
    qint64 m_unreadMessages = 0;
    int m_notMail = 0;
    std::optional<Error> m_firstUnread;
    QDateTime m_since, m_before;
    std::size_t m_expectedItems = 0;
};

class Folder {
public:
    virtual ~Folder() = default;
    virtual QString name() const = 0;
    /// "\\" + store name + "\" before each folder name on the way down.
    virtual QString folderPath() const = 0;
    /// "\\" + store name + "/" before each folder name on the way down: the searched folder's
    /// path takes as many characters as its FolderPath, the lower folders follow each after a "/".
    virtual QString fullFolderPath() const = 0;
    /// The direct sub-folders, in the store's order. A sub-folder that cannot be looked into, that a link
    /// places outside the store, or that `walk` has entered already is left out and told to `walk`; an
    /// Error means the folder's own list of sub-folders could not be read.
    virtual Result<std::vector<std::unique_ptr<Folder>>> folders(Walk& walk) const = 0;
    /// The direct sub-folders, outside a walk.
    Result<std::vector<std::unique_ptr<Folder>>> folders() const
    {
        Walk walk;
        return folders(walk);
    }
    /// The direct sub-folder with this name (matched without regard to case), or null.
    virtual std::unique_ptr<Folder> folder(const QString& name) const
    {
        auto children = folders();
        if (!children)
            return nullptr;
        for (auto& child : *children)
            if (child->name().compare(name, Qt::CaseInsensitive) == 0)
                return std::move(child);
        return nullptr;
    }
    /// Calls `visit` for every item of the folder, of every class, in the store's order, with headers only.
    /// An item that is damaged is visited with what can be read; one that cannot be read at all is left out
    /// and told to `walk`. An Error means the folder's list of items could not be read, or not all of it
    /// (the items of the part that could be read are visited first).
    virtual Status items(const std::function<void(const ItemSummary&)>& visit, Walk& walk) const = 0;
    /// The items, outside a walk.
    Status items(const std::function<void(const ItemSummary&)>& visit) const
    {
        Walk walk;
        return items(visit, walk);
    }
};

/// One store of the profile: a Maildir tree, an mbox file or tree, or an Outlook data file.
class Store {
public:
    virtual ~Store() = default;
    virtual QString name() const = 0;
    virtual QString location() const = 0;
    /// What kind of store this is, in a few readable words ("Maildir", "Outlook data file").
    virtual QString kind() const = 0;
    /// The store's top-level folder (named after the store); an Error when the store cannot be opened.
    virtual Result<std::unique_ptr<Folder>> topFolder() = 0;
    /// Whether `entryID` names an item of this store (checked without opening the item).
    virtual bool owns(const QString& entryID) const = 0;
    /// The item with this entry identifier; NotFound when it is gone.
    virtual Result<std::unique_ptr<MailItem>> item(const QString& entryID) = 0;
    /// A hint: item() will be asked next for those of these items that are the store's own (owns()), one by one
    /// in this order. A store that reads from a server fetches them in batches; the others need not know.
    virtual void expect(const QStringList& entryIDs) { Q_UNUSED(entryIDs); }
};

/// Opens the store at `location` under `name`: an address "imaps://..." or "imap://..." is an IMAP account
/// (with its settings from the profile); a directory is a Maildir tree or, when it holds mbox folders and no
/// Maildir, an mbox tree (mail/mbox/mboxstore.h); a file that starts with "!BDN" is an Outlook data file, one
/// that starts with "From " an mbox file. Cheap: nothing expensive is read before it is needed.
Result<std::unique_ptr<Store>> openStore(const QString& name, const QString& location);

/// The namespace: every store of the profile. Created for each search, picker call and save run.
class Namespace {
public:
    /// The stores of the profile file `$QUILLBOX_PROFILE`, else `$XDG_CONFIG_HOME/Quillbox/profile.ini`,
    /// section [Stores], then the stores found on this computer (mail/discovery.h) unless the profile's
    /// [Options] say `Discover=0`; a found store is left out when a store of the profile has its name or
    /// location, or when it cannot be opened (see foundFailures()). With no profile file and nothing found, the bundled
    /// sample store "Sample Mailbox".
    static Namespace fromProfile();
    /// A namespace over the given (name, location) pairs, for tests and the picker.
    static Namespace fromStores(const QList<std::pair<QString, QString>>& stores);
    /// A namespace over stores that are already open (tests use in-memory stores).
    static Namespace fromOpenStores(std::vector<std::unique_ptr<Store>> stores);

    /// The stores, in profile order; a store that could not be opened is left out (see failures()).
    const std::vector<std::unique_ptr<Store>>& stores() const { return m_stores; }
    /// The top-level folder of the store with this name (matched without regard to case), or an Error:
    /// why the store could not be opened, or that the profile has no store of that name.
    Result<std::unique_ptr<Folder>> topFolder(const QString& storeName) const;
    /// The mail item with this entry identifier, searched in every store.
    Result<std::unique_ptr<MailItem>> getItemFromID(const QString& entryID) const;
    /// Tells each store that getItemFromID will be asked for `entryIDs`, in this order (Store::expect).
    void expect(const QStringList& entryIDs) const;
    /// Stores of the profile that could not be opened, with why.
    const QList<Error>& failures() const { return m_failures; }
    /// Stores found on this computer that could not be opened, by name, with why. They are left out and
    /// told, but are no failure of the profile: the person did not name them.
    const QList<std::pair<QString, Error>>& foundFailures() const { return m_foundFailures; }

private:
    void addFoundStores();

    std::vector<std::unique_ptr<Store>> m_stores;
    QList<Error> m_failures;
    QList<std::pair<QString, Error>> m_failedStores; // the profile's stores that could not be opened, by name
    QList<std::pair<QString, Error>> m_foundFailures;
};

} // namespace quillbox::mail

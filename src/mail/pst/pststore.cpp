// SPDX-License-Identifier: MIT
// The store's top folder, folder names and entry identifiers are described in docs/format-notes.md
// ("PST/OST").
#include "mail/pst/pststore.h"

#include "mail/pst/nodedatabase.h"
#include "mail/pst/pff.h"
#include "mail/pst/pstmessage.h"

#include <QFile>
#include <QSet>
#include <QtEndian>

namespace quillbox::mail {

namespace pst {

namespace {

// The names the top of the mail folder tree has where the message store does not point to it.
const QLatin1StringView kTopNames[] = {
    QLatin1StringView("Top of Personal Folders"),
    QLatin1StringView("Top of Outlook data file"),
    QLatin1StringView("Top of Information Store"),
    QLatin1StringView("IPM_SUBTREE"),
};
constexpr QLatin1StringView kMailboxRoot("Root - Mailbox");
constexpr QLatin1StringView kIpmSubtree("IPM_SUBTREE");
constexpr qsizetype kStoreEntryIdSize = 24; // flags, the store's provider UID, the node identifier

/// What a store's folders and items share: the file (opened on first use) and how to read it.
class StoreState : public std::enable_shared_from_this<StoreState> {
public:
    StoreState(QString name, QString location)
        : m_name(std::move(name))
        , m_location(std::move(location))
    {
    }

    const QString& name() const { return m_name; }
    const QString& location() const { return m_location; }
    /// Opens the file the first time; later calls give the first outcome again.
    Status open();

    const Listing& listing() const { return *m_listing; }
    /// libpff's handle of the file, opened the first time it is asked for.
    Result<std::shared_ptr<PffFile>> pff();
    const std::shared_ptr<TextDecoder>& decoder() const { return m_decoder; }
    const QByteArray& recordKey() const { return m_recordKey; }
    quint32 top() const { return m_top; }

    QString folderName(quint32 nid) const;
    /// The folder `nid` with its names from the top folder down (from the root for a folder outside the
    /// mail folder tree).
    std::unique_ptr<Folder> folder(quint32 nid);
    Error error(const Error& cause) const { return Error { cause.code, m_location, cause.detail }; }

private:
    quint32 findTop(const PropertyBag* store) const;

    QString m_name;
    QString m_location;
    bool m_tried = false;
    std::optional<Error> m_failure;
    std::optional<Result<std::shared_ptr<PffFile>>> m_pff;
    std::unique_ptr<Listing> m_listing;
    std::shared_ptr<TextDecoder> m_decoder = std::make_shared<TextDecoder>();
    QByteArray m_recordKey;
    quint32 m_top = kRootFolderNid;
};

class PstFolder final : public Folder {
public:
    PstFolder(std::shared_ptr<StoreState> state, quint32 nid, QStringList names, std::vector<quint32> chain)
        : m_state(std::move(state))
        , m_nid(nid)
        , m_names(std::move(names))
        , m_chain(std::move(chain))
    {
    }

    QString name() const override { return m_names.isEmpty() ? m_state->name() : m_names.last(); }
    QString folderPath() const override { return path(u'\\'); }
    QString fullFolderPath() const override { return path(u'/'); }
    Result<std::vector<std::unique_ptr<Folder>>> folders(Walk& walk) const override;
    Status items(const std::function<void(const ItemSummary&)>& visit, Walk& walk) const override;

private:
    void countUnlisted(std::size_t listed, Walk& walk) const;
    void skipMessage(Walk& walk, const QString& what, const QString& why, qint64 count = 1) const
    {
        walk.skip(Walk::Skip::Message,
            Error { Error::Code::Unreadable, m_state->location(),
                QStringLiteral("%1 in %2: %3").arg(what, folderPath(), why) },
            count);
    }

    QString path(QChar separator) const
    {
        QString path = QLatin1String("\\\\") + m_state->name();
        for (const QString& name : m_names)
            path += separator + name;
        return path;
    }

    std::shared_ptr<StoreState> m_state;
    quint32 m_nid;
    QStringList m_names;
    std::vector<quint32> m_chain; // the folders from the top down to this one
};

// Our own reader lists the file when it can; libpff is opened only when it cannot (libpff then
// lists it, or says why the file cannot be read) or when a whole item is asked for.
Status StoreState::open()
{
    if (m_tried)
        return m_failure ? Status(*m_failure) : success();
    m_tried = true;
    if (auto own = NodeDatabase::open(m_location)) {
        m_listing = std::move(*own);
    } else {
        auto file = pff();
        if (!file) {
            m_failure = file.error();
            return *m_failure;
        }
        m_listing = std::make_unique<PffListing>(*file);
    }
    auto store = m_listing->properties(kMessageStoreNid);
    if (store)
        m_recordKey = binaryValue(**store, Prop::RecordKey);
    m_top = findTop(store ? store->get() : nullptr);
    return success();
}

Result<std::shared_ptr<PffFile>> StoreState::pff()
{
    if (!m_pff)
        m_pff = PffFile::open(m_location);
    return *m_pff;
}

// The message store points to the top of the mail folder tree (its IPM subtree). An OST's message
// store does not: there it is "IPM_SUBTREE" below "Root - Mailbox".
quint32 StoreState::findTop(const PropertyBag* store) const
{
    if (store) {
        const QByteArray subtree = binaryValue(*store, Prop::IpmSubtreeEntryId);
        if (subtree.size() >= kStoreEntryIdSize) {
            const quint32 nid = qFromLittleEndian<quint32>(subtree.constData() + kStoreEntryIdSize - 4);
            if (isFolderNode(nid) && m_listing->properties(nid))
                return nid;
        }
    }
    const auto rootFolders = m_listing->subFolders(kRootFolderNid);
    if (!rootFolders)
        return kRootFolderNid;
    for (quint32 nid : *rootFolders) {
        const QString name = folderName(nid);
        for (QLatin1StringView top : kTopNames)
            if (name.compare(top, Qt::CaseInsensitive) == 0)
                return nid;
    }
    for (quint32 nid : *rootFolders) {
        if (folderName(nid).compare(kMailboxRoot, Qt::CaseInsensitive) != 0)
            continue;
        if (const auto below = m_listing->subFolders(nid))
            for (quint32 child : *below)
                if (folderName(child).compare(kIpmSubtree, Qt::CaseInsensitive) == 0)
                    return child;
    }
    return kRootFolderNid;
}

QString StoreState::folderName(quint32 nid) const
{
    QString name;
    if (auto properties = m_listing->properties(nid))
        name = TextReader(**properties, *m_decoder)(Prop::DisplayName);
    return name.isEmpty() ? QStringLiteral("Folder %1").arg(nid) : name;
}

std::unique_ptr<Folder> StoreState::folder(quint32 nid)
{
    std::vector<quint32> chain { nid };
    QSet<quint32> seen { nid };
    for (quint32 at = nid; at != m_top && at != kRootFolderNid;) {
        const auto parent = m_listing->parentOf(at);
        if (!parent || seen.contains(*parent))
            break;
        seen.insert(*parent);
        chain.insert(chain.begin(), *parent);
        at = *parent;
    }
    QStringList names;
    for (quint32 folder : chain)
        if (folder != m_top && folder != kRootFolderNid)
            names << folderName(folder);
    return std::make_unique<PstFolder>(shared_from_this(), nid, names, chain);
}

Result<std::vector<std::unique_ptr<Folder>>> PstFolder::folders(Walk&) const
{
    auto children = m_state->listing().subFolders(m_nid);
    if (!children)
        return m_state->error(children.error());
    std::vector<std::unique_ptr<Folder>> folders;
    for (quint32 child : *children) {
        // A damaged file could make a folder its own ancestor.
        if (std::find(m_chain.begin(), m_chain.end(), child) != m_chain.end())
            continue;
        std::vector<quint32> chain = m_chain;
        chain.push_back(child);
        folders.push_back(
            std::make_unique<PstFolder>(m_state, child, m_names + QStringList { m_state->folderName(child) }, chain));
    }
    return folders;
}

// Reads the summary properties of each message and nothing else. A message that cannot be read is
// left out; only a folder whose list of messages cannot be read is an Error.
Status PstFolder::items(const std::function<void(const ItemSummary&)>& visit, Walk& walk) const
{
    const Listing& listing = m_state->listing();
    auto messages = listing.messages(m_nid);
    if (!messages)
        return m_state->error(messages.error());
    countUnlisted(messages->size(), walk);
    for (quint32 nid : *messages) {
        auto properties = listing.properties(nid);
        if (!properties) {
            skipMessage(walk, QStringLiteral("message %1").arg(nid), properties.error().detail);
            continue;
        }
        ItemSummary summary = summarize(**properties, *m_state->decoder());
        summary.entryID = entryIDOf(m_state->recordKey(), nid);
        visit(summary);
    }
    return success();
}

// A folder counts its messages: those it counts beyond the `listed` ones were lost from the file's index
// or from libpff's reading of the folder's contents (a damaged file), and are told as unreadable.
void PstFolder::countUnlisted(std::size_t listed, Walk& walk) const
{
    if ((m_nid & kNodeTypeMask) != kNodeTypeFolder) // a search folder's contents are links elsewhere
        return;
    const auto properties = m_state->listing().properties(m_nid);
    const qint64 counted = properties ? integerValue(**properties, Prop::ContentCount).value_or(0) : 0;
    // One entry for them all: a damaged count may claim billions.
    const qint64 missing = counted - qint64(listed);
    if (missing == 1)
        skipMessage(walk, QStringLiteral("message %1 of %2").arg(counted).arg(counted),
            QStringLiteral("the folder counts it, but the file has no entry for it"));
    else if (missing > 1)
        skipMessage(walk, QStringLiteral("messages %1 to %2 of %2").arg(listed + 1).arg(counted),
            QStringLiteral("the folder counts them, but the file has no entry for them"), missing);
}

class PstStore final : public Store {
public:
    PstStore(const QString& name, const QString& location)
        : m_state(std::make_shared<StoreState>(name, location))
    {
    }

    QString name() const override { return m_state->name(); }
    QString location() const override { return m_state->location(); }
    QString kind() const override { return QStringLiteral("Outlook data file"); }

    Result<std::unique_ptr<Folder>> topFolder() override
    {
        if (Status opened = m_state->open(); !opened)
            return opened.error();
        const quint32 top = m_state->top();
        return std::unique_ptr<Folder>(std::make_unique<PstFolder>(m_state, top, QStringList(), std::vector { top }));
    }

    bool owns(const QString& entryID) const override
    {
        return m_state->open() && nodeOfEntryID(entryID, m_state->recordKey()).has_value();
    }

    Result<std::unique_ptr<MailItem>> item(const QString& entryID) override;

private:
    std::shared_ptr<StoreState> m_state;
};

Result<std::unique_ptr<MailItem>> PstStore::item(const QString& entryID)
{
    if (Status opened = m_state->open(); !opened)
        return opened.error();
    const Error notFound { Error::Code::NotFound, entryID, QStringLiteral("no such item in ") + m_state->name() };
    const auto nid = nodeOfEntryID(entryID, m_state->recordKey());
    if (!nid || !isMessageNode(*nid))
        return notFound;
    const auto folder = m_state->listing().parentOf(*nid);
    if (!folder)
        return notFound;
    auto file = m_state->pff();
    if (!file)
        return file.error();
    auto message = pffItem(*file, *nid);
    if (!message)
        return message.error().code == Error::Code::NotFound ? notFound : m_state->error(message.error());
    auto parent = [state = m_state, folder = *folder] { return state->folder(folder); };
    return makeMessage(
        std::move(*message), m_state->decoder(), entryIDOf(m_state->recordKey(), *nid), std::move(parent));
}

} // namespace

} // namespace pst

Result<std::unique_ptr<Store>> openPstStore(const QString& name, const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Error { Error::Code::Unreadable, path, file.errorString() };
    // A plainly damaged header is reported at once, in libpff's words, so that the profile can tell
    // which store it left out and why; everything else waits for the first use.
    if (!pst::headerIntact(file.read(pst::kHeaderSize)))
        if (auto pff = pst::PffFile::open(path); !pff)
            return pff.error();
    return std::unique_ptr<Store>(std::make_unique<pst::PstStore>(name, path));
}

} // namespace quillbox::mail

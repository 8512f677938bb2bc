// SPDX-License-Identifier: MIT
#include "mail/store.h"

#include "mail/discovery.h"
#include "mail/imap/account.h"
#include "mail/imap/imapstore.h"
#include "mail/maildir/maildirstore.h"
#include "mail/mbox/mboxstore.h"
#include "mail/profile.h"
#include "mail/pst/pststore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace quillbox::mail {

bool isExchangeAddress(const QString& address)
{
    return address.startsWith(QLatin1String("/o="), Qt::CaseInsensitive);
}

Recipient fromOf(const MailItem& item)
{
    return fromOf(item, item.details());
}

Recipient fromOf(const MailItem& item, const MessageDetails& details)
{
    Recipient from = details.from;
    if (from.name.isEmpty() && from.address.isEmpty() && from.exchangeAddress.isEmpty()) {
        from.name = item.senderName();
        from.address = item.summary().senderEmailAddress;
    }
    if (isExchangeAddress(from.address)) {
        from.exchangeAddress = from.address;
        from.address.clear();
    }
    return from;
}

QList<Recipient> MailItem::recipients() const
{
    QList<Recipient> recipients;
    forEachRecipient([&recipients](const Recipient& recipient) { recipients += recipient; });
    return recipients;
}

void Walk::skip(Skip kind, const Error& why, qint64 count)
{
    // An entry is its path, and within a file that holds many (an Outlook data file) what the reason names.
    const QString entry = why.path + u'\n' + why.detail;
    if (m_skipped.contains(entry))
        return;
    m_skipped.insert(entry);
    if (kind != Skip::Repeat && !m_firstUnread)
        m_firstUnread = why;
    if (kind == Skip::Folder)
        ++m_unreadFolders;
    else if (kind == Skip::Message)
        m_unreadMessages += count;
    if (m_listener)
        m_listener(kind, why);
}

bool Walk::enter(const QByteArray& place)
{
    const qsizetype before = m_entered.size();
    m_entered.insert(place);
    return m_entered.size() != before;
}

Result<std::unique_ptr<Store>> openStore(const QString& name, const QString& location)
{
    if (imap::isAccountLocation(location))
        return openImapStore(name, location, readStoreSettings(profilePath(), name));
    const QFileInfo info(location);
    if (info.isDir())
        return isMboxTree(location) ? openMboxStore(name, location) : openMaildirStore(name, location);
    if (!info.exists())
        return Error { Error::Code::NotFound, location, QStringLiteral("no such file or directory") };
    QFile file(location);
    if (!file.open(QIODevice::ReadOnly))
        return Error { Error::Code::Unreadable, location, file.errorString() };
    const QByteArray start = file.read(5);
    if (start.startsWith("!BDN"))
        return openPstStore(name, location);
    if (start == "From ")
        return openMboxStore(name, location);
    return Error { Error::Code::NotAStore, location,
        QStringLiteral("neither a Maildir directory, an mbox file nor an Outlook data file") };
}

Namespace Namespace::fromProfile()
{
    const QString path = profilePath();
    const bool hasProfile = QFileInfo::exists(path);
    Namespace ns;
    if (hasProfile) {
        auto stores = readProfileStores(path);
        if (stores)
            ns = fromStores(*stores);
        else
            ns.m_failures << stores.error();
    }
    if (discoveryEnabled(path))
        ns.addFoundStores();
    if (hasProfile || !ns.m_stores.empty())
        return ns;
    const QString sampleName = QStringLiteral("Sample Mailbox");
    const QStringList candidates = sampleStoreCandidates();
    for (const QString& location : candidates)
        if (QFileInfo(location).isDir())
            return fromStores({ { sampleName, location } });
    Namespace empty;
    empty.m_failures << Error { Error::Code::NotFound, candidates.join(QLatin1String(", ")),
        QStringLiteral("the sample store \"Sample Mailbox\" is not installed") };
    return empty;
}

Namespace Namespace::fromStores(const QList<std::pair<QString, QString>>& stores)
{
    Namespace ns;
    for (const auto& [name, location] : stores) {
        auto store = openStore(name, location);
        if (store) {
            ns.m_stores.push_back(std::move(*store));
        } else {
            ns.m_failures << store.error();
            ns.m_failedStores.append({ name, store.error() });
        }
    }
    return ns;
}

void Namespace::addFoundStores()
{
    for (const FoundStore& found : discoverStores()) {
        const auto same = [&found](const QString& name, const QString& location) {
            return name.compare(found.name, Qt::CaseInsensitive) == 0 || QDir::cleanPath(location) == found.location;
        };
        if (std::any_of(m_stores.begin(), m_stores.end(), [&](const auto& s) { return same(s->name(), s->location()); })
            || std::any_of(m_failedStores.begin(), m_failedStores.end(),
                [&](const auto& failed) { return same(failed.first, failed.second.path); }))
            continue;
        auto store = found.kind == FoundStore::Kind::Mbox ? openMboxStore(found.name, found.location)
            : found.kind == FoundStore::Kind::Maildir     ? openMaildirStore(found.name, found.location)
                                                          : openStore(found.name, found.location);
        if (store)
            m_stores.push_back(std::move(*store));
        else
            m_foundFailures.append({ found.name, store.error() });
    }
}

Namespace Namespace::fromOpenStores(std::vector<std::unique_ptr<Store>> stores)
{
    Namespace ns;
    ns.m_stores = std::move(stores);
    return ns;
}

Result<std::unique_ptr<Folder>> Namespace::topFolder(const QString& storeName) const
{
    if (!storeName.isEmpty()) {
        for (const auto& store : m_stores)
            if (store->name().compare(storeName, Qt::CaseInsensitive) == 0)
                return store->topFolder();
        for (const auto& [name, why] : m_failedStores)
            if (name.compare(storeName, Qt::CaseInsensitive) == 0)
                return why;
    }
    return Error { Error::Code::NotFound, storeName, QStringLiteral("no such store in the profile") };
}

Result<std::unique_ptr<MailItem>> Namespace::getItemFromID(const QString& entryID) const
{
    for (const auto& store : m_stores)
        if (store->owns(entryID))
            return store->item(entryID);
    return Error { Error::Code::NotFound, entryID, QStringLiteral("no store of the profile holds this item") };
}

void Namespace::expect(const QStringList& entryIDs) const
{
    for (const auto& store : m_stores)
        store->expect(entryIDs);
}

} // namespace quillbox::mail

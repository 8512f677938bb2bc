// SPDX-License-Identifier: MIT
#pragma once
// One logged-in IMAP connection through libetpan: the certificate checked before anything is sent, read-only
// commands only (LIST, EXAMINE, UID SEARCH, UID FETCH with BODY.PEEK), every wait within the account's time
// limit. A failure is an Error in words a person can act on; the password is never part of one.

#include "core/result.h"
#include "mail/imap/account.h"

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

struct mailimap;

namespace quillbox::mail::imap {

/// One folder as LIST gives it.
struct ListEntry {
    QByteArray mailbox; ///< the name on the server, levels separated by `delimiter`
    char delimiter = 0; ///< 0 when the server has no hierarchy
    bool selectable = true; ///< false for \Noselect and \NonExistent nodes
};

/// What the list reads of one message: everything but its body.
struct MessageHead {
    quint32 uid = 0;
    QDateTime internalDate;
    bool draft = false;
    QByteArray header; ///< the header fields the list needs, as the server sent them
};

class Connection {
public:
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    /// Connects to the account's server, checks its certificate and logs in with `secret`.
    static Result<std::unique_ptr<Connection>> open(const Account& account, const Secret& secret);

    /// Every folder of the account (LIST "" "*").
    Result<std::vector<ListEntry>> list();
    /// Opens `mailbox` read-only (EXAMINE); gives its UIDVALIDITY.
    Result<quint32> examine(const QByteArray& mailbox);
    /// The UIDs of the open folder's messages received on or after `since` or dated on or after it, and
    /// received before `before` (either may be invalid: no bound), as UID SEARCH compares whole days.
    Result<std::vector<quint32>> search(const QDate& since, const QDate& before);
    /// Calls `visit` for each message of `uids` that still exists, in batches of one UID FETCH each.
    Status heads(const std::vector<quint32>& uids, const std::function<void(MessageHead&)>& visit);
    /// The whole message `uid` as the server holds it (BODY.PEEK[]) with its list's fields but the header;
    /// nullopt when there is no such message.
    Result<std::optional<std::pair<MessageHead, QByteArray>>> message(quint32 uid);

    /// Whether the connection broke (as opposed to a command the server refused).
    bool broken() const { return m_broken; }

private:
    Connection(const Account& account, mailimap* imap);
    Status connect();
    Status checkCertificate();
    Status login(const Secret& secret);
    Error failure(const QString& what, int code);
    Status fetch(
        const std::vector<quint32>& uids, bool whole, const std::function<void(MessageHead&, QByteArray&)>& visit);

    Account m_account;
    mailimap* m_imap;
    bool m_broken = false;
};

} // namespace quillbox::mail::imap

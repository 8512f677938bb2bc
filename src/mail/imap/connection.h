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
    quint64 size = 0; ///< RFC822.SIZE: the message's length in bytes as the server counts it
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
    /// Calls `visit` for each message of `uids` that still exists, in batches of one UID FETCH each: with the
    /// header fields the list needs (`withHeader`), else with its size and dates alone.
    Status heads(const std::vector<quint32>& uids, bool withHeader, const std::function<void(MessageHead&)>& visit);
    /// Calls `visit` for each message of `uids` that still exists with the whole message as the server holds
    /// it (BODY.PEEK[]) and its list's fields but the header, all in one UID FETCH.
    Status messages(const std::vector<quint32>& uids, const std::function<void(MessageHead&, QByteArray&)>& visit);
    /// Bytes `offset` to `offset + length` of the message `uid` (BODY.PEEK[]<offset.length>), fewer at its end;
    /// nullopt when there is no such message.
    Result<std::optional<QByteArray>> range(quint32 uid, quint32 offset, quint32 length);

    /// Whether the connection broke (as opposed to a command the server refused).
    bool broken() const { return m_broken; }

private:
    Connection(const Account& account, mailimap* imap);
    Status connect();
    Status checkCertificate();
    Status login(const Secret& secret);
    Error failure(const QString& what, int code);
    // What a FETCH reads of each message besides its size, dates and flags.
    struct Part {
        enum class Kind { None, ListFields, Whole } kind = Kind::None;
        quint32 offset = 0, length = 0; ///< of Whole; length 0: the whole message
    };
    Status fetch(const std::vector<quint32>& uids, const Part& part,
        const std::function<void(MessageHead&, QByteArray&)>& visit);

    Account m_account;
    mailimap* m_imap;
    bool m_broken = false;
};

} // namespace quillbox::mail::imap

// SPDX-License-Identifier: MIT
#pragma once
// Names in a Maildir tree: folder directory names (Maildir++ dots, IMAP modified UTF-7), message file
// names (delivery time, unique part, flags) and the entry identifiers built from them.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

namespace quillbox::mail::maildir {

/// The text of a folder name in IMAP modified UTF-7 ("Entw&APw-rfe" is "Entwürfe"). Bytes outside
/// the shifted runs are read as UTF-8; a name that is not valid modified UTF-7 is kept as it is.
QString decodeModifiedUtf7(const QByteArray& name);

/// Whether the directory entry is named like Thunderbird's "Name.sbd", which holds the sub-folders of the
/// folder "Name" beside it (when it is no Maildir itself).
bool isSubFolderDir(const QByteArray& entry);

/// The folder names a directory entry gives: a Maildir++ entry ".A.B" gives "A" and "B", any other
/// entry one name. An entry with an empty part (".A..B") is one folder named after all of it.
QStringList folderNamesOf(const QByteArray& entry);

/// The names of the folders on the way down to the folder directory `dir` (relative to the store's root,
/// components separated by "/"): the names of each component in turn, "Name" for a "Name.sbd" on the
/// way; the root itself is "Inbox".
QStringList folderNamesOfDir(const QByteArray& dir);

/// Whether `dir` is a path below a store's root that cannot lead out of it: relative, without "." or ".."
/// or empty components ("" is the root itself).
bool isSafeRelativeDir(const QByteArray& dir);

/// The parts of a message file name "<time>.<rest>[:2,<flags>]".
struct MessageName {
    QByteArray unique; ///< the name without its info part (":2,..."); stays when flags change
    QByteArray flags; ///< the flag letters after ":2,", empty when there are none
    std::optional<qint64> deliveryTime; ///< the seconds since the epoch the name starts with
};
MessageName splitMessageName(const QByteArray& fileName);
/// The same parts as views of `fileName`, without a copy.
struct MessageNameView {
    QByteArrayView unique;
    QByteArrayView flags;
    std::optional<qint64> deliveryTime;
};
MessageNameView viewMessageName(QByteArrayView fileName);

/// What an entry identifier holds: the store, the folder directory and the message's unique name, plus
/// where the message lay when it was listed ("cur" or "new" and its file name), which is tried first.
struct EntryRef {
    QString store;
    QByteArray folderDir;
    QByteArray unique;
    QByteArray subdir; ///< "cur" or "new"
    QByteArray fileName;
};
QString encodeEntryID(const EntryRef& ref);
/// encodeEntryID() in two steps, for listing many messages of one folder: the identifier is
/// entryIDIn(entryIDPrefix(store, folderDir), subdir, fileName), made in one piece: `prefix` followed by
/// the two fields hex-encoded with a NUL byte between them (mbox identifiers are made alike).
QString entryIDPrefix(const QString& store, const QByteArray& folderDir);
QString entryIDIn(const QString& prefix, const QByteArray& subdir, const QByteArray& fileName);
/// nullopt when `entryID` is not one of ours or names paths outside a store.
std::optional<EntryRef> decodeEntryID(const QString& entryID);

} // namespace quillbox::mail::maildir

// SPDX-License-Identifier: MIT
#pragma once
// The mail stores that mail clients keep on this computer: Thunderbird profiles (each account's folder
// as prefs.js gives it), Evolution's and KMail's local mail, ~/Maildir, ~/mail and the mail spool. Only
// names and locations are looked at, no message is read, and nothing is ever written there.

#include <QList>
#include <QString>
#include <utility>

namespace quillbox::mail {

/// A store found on this computer, under a readable name ("Thunderbird - work@example.org", "Evolution").
struct FoundStore {
    enum class Kind { ByContent, Mbox, Maildir };
    QString name;
    QString location;
    Kind kind = Kind::ByContent; ///< what the mail client says the store is; else it is told by its content
    bool operator==(const FoundStore&) const = default;
};

/// Where to look: the home folder, the XDG data folder and the mail spool file.
struct SearchRoots {
    QString home;
    QString dataHome; ///< $XDG_DATA_HOME, else home + "/.local/share"
    QString mailSpool; ///< $MAIL, may be empty
    /// The roots of this process: $HOME, $XDG_DATA_HOME, $MAIL.
    static SearchRoots ofEnvironment();
};

/// The stores found under `roots`, in a fixed order (Thunderbird, Evolution, KMail, ~/Maildir, ~/mail, the
/// spool, unless it is empty), each name once. A source that is missing, unreadable or garbage gives
/// nothing and costs no other; a store found that then cannot be opened is told by the namespace.
QList<FoundStore> discoverStores(const SearchRoots& roots = SearchRoots::ofEnvironment());

/// The sections of an INI file, each with its key and value pairs, in file order (";" and "#" start
/// comments, blanks around names and values are dropped). Empty when the file cannot be read.
QList<std::pair<QString, QList<std::pair<QString, QString>>>> readIniSections(const QString& path);

/// Whether the profile file at `path` lets stores be found: not when its [Options] say `Discover=0`.
bool discoveryEnabled(const QString& profilePath);

} // namespace quillbox::mail

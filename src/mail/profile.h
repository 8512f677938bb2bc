// SPDX-License-Identifier: MIT
#pragma once
// The profile: the list of open stores, section [Stores] of an INI file, one line per store,
// "Store Name=/path/to/Maildir" or "Store Name=/path/to/file.pst".

#include "core/result.h"

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <utility>

namespace quillbox::mail {

/// The profile file: $QUILLBOX_PROFILE when set, else $XDG_CONFIG_HOME/Quillbox/profile.ini.
QString profilePath();

/// The (name, location) pairs of section [Stores] of the profile file at `path`, in file order.
/// Section and keys are read like other INI files here: whitespace around names and values is dropped,
/// lines starting with ';' are comments, a value in double quotes loses them. A relative location is
/// taken from the profile file's folder. Lines without a name or location are skipped.
/// Error Unreadable when the file cannot be read.
Result<QList<std::pair<QString, QString>>> readProfileStores(const QString& path);

/// The settings of the store `storeName` in section [Stores] of the profile file at `path`: the lines
/// "<store>.PasswordCommand", "<store>.TokenCommand", "<store>.Fingerprint" and "<store>.Timeout" (which are
/// no stores), keyed by the part after the dot in lower case. Empty when the file cannot be read.
QMap<QString, QString> readStoreSettings(const QString& path, const QString& storeName);

/// Where the bundled store "Sample Mailbox" is looked for when there is no profile file, first match
/// wins: the installed data folder beside the executable (<exe dir>/../share/quillbox/samples/Sample
/// Mailbox), then the source tree's samples/ folder (for a program run from its build directory).
QStringList sampleStoreCandidates();

} // namespace quillbox::mail

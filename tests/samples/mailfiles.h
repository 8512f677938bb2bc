// SPDX-License-Identifier: MIT
#pragma once
// What the sample tests read back from a Maildir tree: the files with their bytes, the
// folders, and each message as GMime parses it.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <map>
#include <optional>

namespace quillbox::samples {

/// Every regular file below `root` by its path relative to `root` ("cur/123.x:2,S"), with its bytes.
std::map<QString, QByteArray> readTree(const QString& root);

/// The Maildir folders below `root` (directories that hold cur/ or new/), as paths relative
/// to `root`; the root itself is "". Sorted.
QStringList maildirFolders(const QString& root);

/// The messages of one folder: the files in its cur/ and new/, relative to `root`.
QStringList folderMessages(const QString& root, const QString& folder);

struct Attachment {
    QString fileName;
    qsizetype decodedSize = 0;
};

/// A message as GMime reads it; `parsed` is false when GMime could not read a message at all.
struct ParsedMessage {
    bool parsed = false;
    QString subject; ///< decoded
    QString fromAddress; ///< the first From address
    int toCount = 0;
    std::optional<qint64> date; ///< the Date header in seconds since the epoch, if readable
    std::optional<qint64> topReceived; ///< the date of the topmost Received header, if readable
    QString contentType; ///< "multipart/mixed"
    QList<Attachment> attachments;
    /// How often each header occurs, by the name as written.
    std::map<QString, int> headerCounts;
    int count(const char* header) const;
};

ParsedMessage parseMessage(const QByteArray& bytes);

/// The delivery time at the start of a Maildir file name ("1234567890.M1P2Q3.host:2,S").
std::optional<qint64> deliverySeconds(const QString& fileName);

} // namespace quillbox::samples

// SPDX-License-Identifier: MIT
#include "mail/openfailure.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace quillbox {

namespace {

struct Failure {
    std::initializer_list<const char*> clues; ///< any of them in the library's words, in lower case
    const char* sentence; ///< %1 is the file's name
};

// libpff's words first, then our own reader's and the file system's. The first failure with a clue wins.
const Failure kFailures[] = {
    { { "checksum", " crc" }, QT_TRANSLATE_NOOP("OpenFailure", "%1 is damaged: its header does not check out") },
    { { "invalid file signature", "no outlook data file signature" },
        QT_TRANSLATE_NOOP("OpenFailure", "%1 is not an Outlook data file") },
    { { "unable to read file header data", "too short for an outlook data file", "lies outside the file",
          "beyond the end" },
        QT_TRANSLATE_NOOP("OpenFailure", "%1 is cut short: the file ends before its data does") },
    { { "unsupported", "unable to determine file type", "format version this reader does not know",
          "unknown encoding" },
        QT_TRANSLATE_NOOP("OpenFailure", "%1 is an Outlook data file of a kind this program cannot read") },
    { { "permission denied", "access denied" },
        QT_TRANSLATE_NOOP("OpenFailure", "%1 cannot be opened: you are not allowed to read it") },
    { { "no such file" }, QT_TRANSLATE_NOOP("OpenFailure", "%1 is not there: it has been moved, renamed or deleted") },
    { { "neither a maildir directory" },
        QT_TRANSLATE_NOOP("OpenFailure", "%1 is not a mail store: no Maildir folder, mbox file or Outlook data file") },
};

} // namespace

QString plainOpenFailure(const Error& error)
{
    if (error.path.isEmpty())
        return {};
    const QString words = error.detail.toLower();
    for (const Failure& failure : kFailures) {
        for (const char* clue : failure.clues) {
            if (words.contains(QLatin1String(clue)))
                return QCoreApplication::translate("OpenFailure", failure.sentence)
                    .arg(QFileInfo(error.path).fileName());
        }
    }
    return {};
}

QString withPlainOpenFailure(const QString& text, const Error& error)
{
    const QString plain = plainOpenFailure(error);
    return plain.isEmpty() ? text : text + u'\n' + plain;
}

} // namespace quillbox

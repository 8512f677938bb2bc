// SPDX-License-Identifier: MIT
#pragma once
// Result rows for the tests of the templates and the list.

#include "mail/resultrow.h"

namespace quillbox::test {

/// The row whose texts() are `texts`, in the order of Column (missing ones empty); its times have no value.
inline ResultRow rowOfTexts(const QStringList& texts)
{
    return ResultRow { .from = texts.value(ColFrom),
        .subject = texts.value(ColSubject),
        .to = texts.value(ColTo),
        .entryId = texts.value(ColEntryID),
        .folder = texts.value(ColFolder),
        .sentText = texts.value(ColSent),
        .receivedText = texts.value(ColReceived),
        .latestTimeText = texts.value(ColLatestTime) };
}

/// A row as the search makes it with the DateFormat "yymmdd HHMMSS", with `text` in `column` when one is given.
inline ResultRow sampleRow(int column = -1, const QString& text = QString())
{
    QStringList texts { QStringLiteral("090812 143005"), QStringLiteral("alice@example.org"),
        QStringLiteral("Quarterly report"), QStringLiteral("Bob Jones; Carol"), QStringLiteral("090812 143107"),
        QStringLiteral("00000000ABCDEF"), QStringLiteral("\\\\Store\\Inbox\\Sub"), QStringLiteral("090812 143107") };
    if (column >= 0)
        texts[column] = text;
    return rowOfTexts(texts);
}

} // namespace quillbox::test

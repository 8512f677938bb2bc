// SPDX-License-Identifier: MIT
#pragma once

#include <QDateTime>
#include <QStringList>
#include <QVariant>

namespace quillbox {

/// The result list's columns in their order; "%1" stands for Sent, "%" followed by k + 1 for column k.
enum Column { ColSent, ColFrom, ColSubject, ColTo, ColReceived, ColEntryID, ColFolder, ColLatestTime, ColumnCount };

/// One row of the result list: what the search found of one mail item.
/// Every member has an initializer, so that a designated initializer may leave out any of them.
struct ResultRow {
    QDateTime sent {}; ///< SentOn; invalid when the store has no such time
    QString from {}; ///< the sender's e-mail address
    QString subject {};
    QString to {}; ///< the recipients as the store shows them
    QDateTime received {}; ///< invalid when the store has no such time
    QString entryId {}; ///< what finds the mail again in its store
    QString folder {}; ///< the full path of the folder it was found in
    QDateTime latestTime {}; ///< see getLatestTime(); invalid when the store has none of the times
    // The three times as the DateFormat setting wrote them when the row was made: the list shows these,
    // and a later change of the setting leaves them as they are.
    QString sentText {};
    QString receivedText {};
    QString latestTimeText {};

    /// What the list shows in `column` (below ColumnCount): the text of a text column, the written time of
    /// a time column.
    [[nodiscard]] const QString& text(Column column) const;
    /// The eight texts of text(), in the order of Column: what "%1" to "%8" of the templates stand for.
    [[nodiscard]] QStringList texts() const;
    /// The value of `column`, for sorting and for readers other than the eye: the QDateTime of a time
    /// column, the text of the others.
    [[nodiscard]] QVariant value(Column column) const;
};

/// `text` on one line: each line break (CR LF, LF or CR) becomes one space.
[[nodiscard]] QString oneLine(QString text);

} // namespace quillbox

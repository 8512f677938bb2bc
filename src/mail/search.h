// SPDX-License-Identifier: MIT
#pragma once
// The search: every mail item of a folder and of all folders below it whose latest time lies in the
// date window of the settings Since and Before, one row each in the result list.

#include "core/person.h"
#include "core/settings.h"
#include "mail/resultlist.h"
#include "mail/store.h"

#include <QDateTime>
#include <atomic>
#include <functional>
#include <vector>

namespace quillbox {

/// Opens the stores a search works on. Each search opens its own namespace and lets go of it at its end.
using NamespaceFactory = std::function<mail::Namespace()>;

/// How a search that runs for a window tells how far it has come and is stopped. `onFolder` is called on the
/// searching thread after each folder read, with the folders read and the rows listed so far; once `stop` is
/// set, the search reads no further folder, and the rows of the folders read stay.
struct SearchWatch {
    std::function<void(int folders, int rows)> onFolder;
    const std::atomic<bool>* stop = nullptr;

    bool stopped() const { return stop && stop->load(); }
};

/// What a search did.
struct SearchOutcome {
    int notMail = 0; ///< items in the date window left out because they are not mail
    bool found = false; ///< the path named a folder, and its own items and sub-folders could be read
    bool stopped = false; ///< the watch stopped it between two folders
    int folders = 0; ///< how many folders were read
};

/// Searches the folder named by `path` (see getFolderFromPath) and every folder below it into `list`.
/// The list is emptied after the path is resolved, then filled depth-first: a folder's rows before
/// those of its sub-folders. `settings` is read as it stands at each step (Since and Before on entering
/// each folder, DateFormat for each row). When the path names no folder, or the folder it names cannot be
/// read, `person` is told "Can't access the specified Mail Folder." and the rows found stay. Folders and
/// messages below that cannot be read are left out and the search goes on; each is told to `onSkip` as it
/// is left out, and at the end `person` is told how many there were. The outcome counts the items in the date
/// window left out because they are not mail (meeting requests, reports, appointments). `watch` is told of
/// each folder read and may stop the search between two folders; that is no failure, and nobody is told.
/// A store that can (Maildir) reads the headers of a folder's messages on `workerThreads` threads besides
/// this one (when negative, one per processor but one, at least 1; with 0 on this thread alone); the rows,
/// their order and what is told are the same either way.
SearchOutcome searchMailFolder(Person& person, const Settings& settings, const QString& path, ResultList& list,
    const NamespaceFactory& openNamespace = &mail::Namespace::fromProfile, const mail::Walk::Listener& onSkip = {},
    int workerThreads = -1, const SearchWatch& watch = {});

/// Appends the rows of `folder` and of all folders below it, in the store's order. A folder below that
/// cannot be read is left out and told to `walk`, and the walk goes on; the Error is that of `folder` itself.
/// `watch` is told of each folder read and may stop the walk before the next one; `outcome`, when given, counts
/// the folders read and says whether the walk was stopped with folders left to read.
Status searchFolder(const Settings& settings, const mail::Folder& folder, ResultList& list, mail::Walk& walk,
    const SearchWatch& watch = {}, SearchOutcome* outcome = nullptr);

/// The date that `text` names, at 00:00:00, or `defaultValue` when it names none. Accepted: an ISO date
/// ("2009-08-12"), the system locale's short date form, the same with a four-digit year, each optionally
/// followed by a time of day (which is dropped). A two-digit year 00-29 is 2000-2029, 30-99 is 1930-1999.
QDateTime readDateSetting(const QString& text, const QDateTime& defaultValue);

/// The latest of the item's creation time, its sent time (only when it was sent) and its received time.
/// A time the store does not have (noDate()) does not count; with none of the three, noDate().
QDateTime getLatestTime(const mail::ItemSummary& item);

/// Appends the row of `item`, found in the folder `folderPath`, to `rows`: its times as values (invalid
/// where the store has none) and written in the DateFormat pattern (formatMailDate(); an empty text where
/// the store has no time, so that neither the list nor a file name shows a date in the year 4501). `rows` holds the
/// rows of one folder, which searchFolder hands to the list in one insertion (a view that shows the list then updates
/// once per folder instead of once per mail).
void addResultRow(
    const Settings& settings, const QString& folderPath, const mail::ItemSummary& item, std::vector<ResultRow>& rows);

} // namespace quillbox

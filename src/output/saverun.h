// SPDX-License-Identifier: MIT
#pragma once
// The save run: every mail of the result list written into the destination directory, one after
// another, while a progress window counts them. Each mail is one file (.msg, .txt, .rtf, .eml) or one
// directory (message.txt, message.html, index.html, attachments/) named by the FnFormat template, optionally in
// sub-directories that repeat its mail folder below the searched one.
//
// What the run guarantees about the files (see outputfile.h and outputnames.h):
// - nothing is written outside the destination: names from the store become one path component each,
//   and no symbolic link below the destination is followed;
// - within one run no two mails share a path, nor two attachments of one mail: the later one gets
//   " (2)", " (3)", ... before its extension; the same list saved again gives the same names;
// - every name fits 255 bytes, cut between characters, and none is hidden or holds a control character;
// - a file is replaced whole or not at all, and a mail's directory is named only when it is whole;
// - a mail that cannot be written (gone from its store, a directory that cannot be made, a full disk)
//   is counted with its reason, and the run goes on to the next.

#include "core/person.h"
#include "core/settings.h"
#include "mail/resultlist.h"
#include "mail/search.h"
#include "mail/store.h"
#include "output/outputfile.h"

#include <QString>
#include <optional>

namespace quillbox {

/// What a save run did, beyond the messages it showed: the unattended run ends with status 1 unless ok().
struct SaveSummary {
    qint64 rows = 0; ///< rows in the list
    qint64 attempted = 0; ///< rows handed to saveEmail
    qint64 written = 0; ///< mails written whole
    qint64 failed = 0; ///< mails of which a file or directory could not be written
    qint64 alreadySaved = 0; ///< mails not written again: the manifest records them as saved, whole (SkipSaved)
    qint64 withoutAttachments = 0; ///< mails written as attachments only that had none (among `written`)
    std::optional<Error> firstFailure {}; ///< why the first of those could not be written
    std::optional<Error> stoppedBy {}; ///< what ended the run with "Error saving email."
    bool cancelled = false; ///< the person stopped the run between two mails
    bool finished = false; ///< every row was handed to saveEmail (no check failed, nothing ended the run)

    bool ok() const { return finished && written + alreadySaved == rows; }
};

/// One save run's state, alive while it runs: the namespace it opened, the destination, the names given
/// out so far. Made by saveRun.
class SaveSession;

/// What saveEmail did with a mail it found.
struct SavedEmail {
    enum class Outcome { Written, Failed, UnknownFormat, NoAttachments };
    Outcome outcome = Outcome::Written;
    std::optional<Error> failure; ///< Failed: the first thing that could not be written
};

/// Saves every row of `list` into `destination`, checking first, in this order, with these messages:
/// an empty `mailFolderText` ("The 'Mail Folder' box is blank"), an empty `destination` ("The 'Save to'
/// box is blank"), an empty list ("There are no emails in the list."), a clip setting that is no number
/// ("The ClipSubject setting is not a number of characters: "abc"."). An FnOutput that names no output type
/// is told ("The FnOutput setting "html" is not an output type (MSG, TXT, RTF, EML, DIR): MSG is used.") and
/// the run writes .msg files. Then it opens a namespace with
/// `openNamespace`, shows the progress window "Saving ..." (bar 0 to the row count, status "Saving 3 of
/// 12") and hands each row to saveEmail in list order. Before each row it asks the progress window whether
/// the person cancelled: then the run ends there, every mail before it whole, with "Saving was cancelled:
/// 3 of 12 emails were saved, 9 were not.". An Error of saveEmail
/// (a clip setting changed to no number during the run) shows "Error saving email." and ends the run; the
/// rows before it stay saved. Mails that could not be written do not end the run; when there were any,
/// the run ends with one message that counts them and names the first failure: "2 of 12 emails could not
/// be written. The first: /path/x.msg: No space left on device". `destination` is used with a "/"
/// appended when it has none; `settings` is read as it stands at each mail.
/// With SkipSaved or WriteIndex, the run first reads the destination's manifest (output/manifest.h): one
/// written by a newer version shows "The manifest ... cannot be used: ..." and ends the run before anything
/// is written; lines it has to leave out are told as information. Each mail written whole is then appended
/// to it, and a mail whose line cannot be written counts as not written. With SkipSaved, a mail the
/// manifest records with the same output type and all its files in place is neither read nor written, and
/// the run ends with the information "3 new, 9 already saved."; their names are kept from every other mail.
/// Last, index.csv is written from the manifest. With SetFileTimes every file and directory of a mail
/// gets the mail's received time (else its sent time) as its modification time.
/// While one mail is written, the files of the next few are built on `workerThreads` threads (when
/// negative, one per processor but one, at least 1; with 0 each file is built when it is written); what
/// reaches the disk, and in which order, is the same either way.
SaveSummary saveRun(Person& person, const Settings& settings, const QString& mailFolderText, const ResultList& list,
    const QString& destination, const NamespaceFactory& openNamespace = &mail::Namespace::fromProfile,
    output::Disk& disk = output::Disk::system(), int workerThreads = -1);

/// The output type that the FnOutput setting `fnOutput` names, lower-cased: "msg", "txt", "rtf", "eml", "dir",
/// "pdf" or "att"; nothing for any other text (spaces count).
[[nodiscard]] std::optional<QString> outputType(const QString& fnOutput);

/// Saves the mail of `row` (found by row.entryId) as the session's settings say: FnOutput
/// (outputType(); "msg" when it names none; "att" writes every attachment on its own under the mail's name, a
/// blank and its own name, and a mail without any writes nothing) names the form, FnFormat and the clips the name,
/// UseFnFolder whether it goes below the folder part of getFolderPart(). An Error (the name cannot be
/// built) ends the run; a mail that cannot be written (no mail item has the EntryID, a folder's directory
/// cannot be made, a file cannot be written) does not, and is told in the result.
[[nodiscard]] Result<SavedEmail> saveEmail(SaveSession& session, const QString& mailFolderText, const ResultRow& row);

/// The path of the mail's folder below the searched folder: the FullFolderPath of the mail's parent
/// folder without its first mailFolderText.size() characters (dropped by count, never compared), without
/// "/" at either end; lower folders are separated by "/". Empty when the mail lies in the searched folder,
/// when the path is not longer than the text, or when the mail has no parent folder.
QString getFolderPart(const QString& mailFolderText, const mail::MailItem& email);

/// `text` without the run of `character` at its start.
QString stripLeading(QChar character, const QString& text);
/// `text` without the run of `character` at its end.
QString stripTrailing(QChar character, const QString& text);

} // namespace quillbox

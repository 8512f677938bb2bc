// SPDX-License-Identifier: MIT
#pragma once
// The program's commands without a window: search a mail folder into the result list, save the list,
// export it as text. The unattended run calls them directly; the main window is a view over the same
// session, whose buttons call them with the text of its boxes.

#include "config/options.h"
#include "config/registry.h"
#include "mail/resultlist.h"
#include "mail/search.h"
#include "mail/store.h"
#include "output/saverun.h"

#include <QObject>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace quillbox {

class Person;

class Session : public QObject {
    Q_OBJECT
public:
    /// Reads the access program's values from the registry, then the settings from the default settings
    /// file. Every message of the session goes to `person`, and is counted.
    explicit Session(Person& person);
    ~Session() override;

    /// The person the session tells things to: `person` of the constructor, behind the count of boxes.
    Person& person();
    /// The live settings and their file.
    Options& options() { return m_options; }
    ResultList& resultList() { return m_list; }

    /// The debug level of the command line. At 1 and above an access program that cannot be started is
    /// written to standard error, and so is each folder and message a search leaves out; at 2 and above also every
    /// result row after a search, its eight cells joined by tabs (line breaks inside a cell become spaces), one line
    /// per row.
    qint16 debugLevel() const { return m_debugLevel; }
    void setDebugLevel(qint16 level) { m_debugLevel = level; }

    /// Searches `mailFolder` and the folders below it into the result list (searchMailFolder), between
    /// starting the access program with its allow and its disallow arguments. What the search could not
    /// read ends it with a message, which makes an unattended run end with status 1. Items in the date window
    /// that are not mail are counted (notMailText()); at debug level 1 and above that is written to standard
    /// error. It is information, not a fault: no box, no change to the exit status.
    /// In the background (setInBackground()) the search can be cancelled between two folders, and the rows of the
    /// folders read so far are listed; a path that names no folder that can be read leaves the list as it was.
    void search(const QString& mailFolder);
    /// What the last search did; nothing before the first.
    const std::optional<SearchOutcome>& lastSearch() const { return m_lastSearch; }
    /// The mail folder the listed rows were found in: the folder path a save of them names their sub-folders by,
    /// whatever has been typed into a box since.
    const QString& listFolder() const { return m_listFolder; }
    /// "N items that are not e-mail were not listed" for the last search's count; empty when it left out none.
    QString notMailText() const;
    /// Saves the result list found in `mailFolder` into `dir` (saveRun), between the same two starts of
    /// the access program.
    void save(const QString& mailFolder, const QString& dir);
    /// As save(), for the rows `rows` of the result list alone (indices of row(), saved in list order).
    void saveRows(const QString& mailFolder, const QString& dir, std::vector<int> rows);
    /// Writes the mail of result row `row` as an .eml file into the folder `dir` (named by its subject) and
    /// opens it with the desktop's mail program. What cannot be found or written is told to the person.
    void openMail(int row, const QString& dir);
    /// Writes the result list to the list file and opens it (exportListToText); the access program is not
    /// started.
    void exportList();

    /// With `background` set, a search and a save run go on a thread of their own while this thread keeps handling its
    /// events (a window keeps painting and can cancel it); every message and progress window is still
    /// shown on this thread, and save() still returns when the run has ended. It reads the settings as they
    /// stood when it started. Off by default: the run stays on the calling thread.
    void setInBackground(bool background) { m_inBackground = background; }
    /// Whether a save run is going.
    bool saving() const { return m_saving; }
    /// Whether a search is going in the background.
    bool searching() const { return m_searching; }
    /// Asks a search or save run that is going in the background to stop: a search between two folders, a save
    /// run between two mails.
    void cancel() { m_stop = true; }

    /// How many message and warning boxes the session's commands and the settings have shown so far.
    int messagesShown() const;
    /// What the last save run did; nothing before the first.
    const std::optional<SaveSummary>& lastSave() const { return m_lastSave; }

Q_SIGNALS:
    /// A command starts (true) or has ended (false): a window shows the hourglass in between.
    void busyChanged(bool busy);
    /// A search in the background has read `folders` folders and found `rows` mails so far.
    void searchProgress(int folders, int rows);

private:
    class CountingPerson;
    class Busy;

    SaveSummary runSave(const QString& mailFolder, const ResultList& list, const QString& dir);
    // Runs `work` on a thread of its own, with a person that answers on this thread, and handles this
    // thread's events until it has ended.
    void runOffThread(const std::function<void(Person&)>& work);
    // On the searching thread: leaves the counts for this thread, which takes up the latest when it comes to them.
    void tellSearchProgress(int folders, int rows);
    void runAccess(bool allow) const;
    void writeSkip(mail::Walk::Skip kind, const Error& why) const;
    /// The profile's namespace; from debug level 1 on, each store found on this computer that could not be
    /// opened is written to standard error.
    mail::Namespace namespaceTold() const;
    void writeResultRows() const;

    std::unique_ptr<CountingPerson> m_person;
    AccessSettings m_access;
    Options m_options;
    ResultList m_list;
    std::optional<SaveSummary> m_lastSave;
    std::optional<SearchOutcome> m_lastSearch;
    QString m_listFolder;
    qint16 m_debugLevel = 0;
    bool m_inBackground = false;
    bool m_saving = false;
    bool m_searching = false;
    bool m_busy = false;
    std::atomic<bool> m_stop = false;
    std::atomic<int> m_foldersRead = 0;
    std::atomic<int> m_rowsFound = 0;
    std::atomic<bool> m_progressPosted = false;
};

} // namespace quillbox

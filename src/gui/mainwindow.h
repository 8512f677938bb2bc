// SPDX-License-Identifier: MIT
#pragma once
// The main window "frmMain": the Mail Folder box with its picker and Search, the result list, the Save-to
// box with its chooser and Save, and the menus File (Export to Text File, Exit), Options and Help.
// The window validates nothing: each command reads the boxes, the list and the settings when it runs and
// hands them to the operation, which checks its inputs and tells the person.

#include "app/startup.h"
#include "config/registry.h"
#include "mail/resultlist.h"
#include "output/saverun.h"

#include <QMainWindow>
#include <memory>
#include <optional>

class QLineEdit;
class QTreeView;

namespace quillbox {

class Options;
class OptionsDialog;
class Person;
class AnchorLayout;

/// FAQ and support pages of the product.
inline constexpr char16_t kFaqUrl[] = u"https://brindlewick.example/quillbox/faq";
inline constexpr char16_t kSupportUrl[] = u"https://brindlewick.example/quillbox/support";

/// The help page: Help/index.html beside the executable, else in the installed data folder
/// (<exe dir>/../share/quillbox/Help/index.html); the first of them when neither exists.
[[nodiscard]] QString helpPagePath();

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    /// Builds the window and runs its load steps, in this order: caption, normal state, the layout
    /// manager over the client area, the access program's values from the registry, the options dialog
    /// (hidden) on the default settings file, the result list's columns, then the settings read from the
    /// file. Every message goes to `person`.
    explicit MainWindow(Person& person, QWidget* parent = nullptr);
    ~MainWindow() override;

    /// The debug level of the command line. At 1 and above an access program that cannot be started is
    /// written to standard error; at 2 and above also every result row after a search, its eight cells
    /// joined by tabs (line breaks inside a cell become spaces), one line per row.
    qint16 debugLevel = 0;

    /// Runs the command `command` as its button or menu item would, after lowering its case: "search",
    /// "save" or "export"; nothing is trimmed. Any other text shows "frmMain.automate: unrecognized
    /// command.". `parameter` is not used.
    void automate(const QString& command, const QString& parameter);

    /// The live settings and their file.
    Options& options() { return *m_options; }
    ResultList& resultList() { return m_list; }
    /// The options dialog, made hidden at load; null after the window's unload steps ran.
    OptionsDialog* optionsDialog() const { return m_optionsDialog.get(); }

    /// How many message and warning boxes the window's commands and the settings have shown so far.
    int messagesShown() const;
    /// What the last save run did; nothing before the first.
    const std::optional<SaveSummary>& lastSave() const { return m_lastSave; }

protected:
    /// The unload steps: the options dialog closes (its edits are not saved), the layout manager goes.
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    class CountingPerson;

    void buildControls();
    void buildMenus();
    void initMainWindow();
    void setUpResultList();

    void getMailFolder();
    void browse();
    void search();
    void save();
    void exportList();
    void showOptions();
    void showAbout();

    void runAccess(bool allow);
    void writeResultRows() const;

    std::unique_ptr<CountingPerson> m_person;
    std::unique_ptr<Options> m_options;
    std::unique_ptr<OptionsDialog> m_optionsDialog;
    std::unique_ptr<AnchorLayout> m_layout;
    AccessSettings m_access;
    ResultList m_list;
    std::optional<SaveSummary> m_lastSave;

    QWidget* m_client = nullptr;
    QLineEdit* m_mailFolder = nullptr;
    QLineEdit* m_dir = nullptr;
    QTreeView* m_view = nullptr;
};

/// The start-up sequence on a main window just made (its load steps have run), for the start-up state
/// `state` of the command line: the first positional argument goes into the Mail Folder box, with exactly
/// two the second into the Save-to box; more than two show the usage message. Then debugLevel is set, the
/// window is shown, a settings file named by /ini is made the settings file and read, and with /autorun
/// (which needs exactly two positional arguments, else the usage message) the window runs "Search" and
/// "Save". `person` is told the usage message.
///
/// Returns the exit status when the program ends here: 2 after the usage message; after the unattended run
/// 1 when a message box was shown or a mail could not be written, else 0. Nothing when the program goes on
/// until the window is closed.
[[nodiscard]] std::optional<int> runStartup(MainWindow& window, Person& person, const StartupState& state);

} // namespace quillbox

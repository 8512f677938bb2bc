// SPDX-License-Identifier: MIT
#pragma once
// The main window "frmMain": the Mail Folder box with its picker and Search, the result list, the Save-to
// box with its chooser and Save, and the menus File (Export to Text File, Exit), Options and Help.
// The window is a view over a session: it shows the session's result list, and its Search, Save and Export
// commands call the session's with the text of its boxes. It validates nothing: the session's commands
// check their inputs and tell the person.

#include "app/startup.h"

#include <QMainWindow>
#include <memory>
#include <optional>
#include <vector>

class QAction;
class QLineEdit;
class QPushButton;
class QTemporaryDir;
class QTreeView;

namespace quillbox {

class OptionsDialog;
class Session;
class AnchorLayout;
class SortedResults;

struct SaveSummary;

/// The status bar's words after a save run: "12 e-mails saved to /home/me/out", then how many could not be
/// written and how many a cancel left unsaved.
[[nodiscard]] QString saveStatusText(const SaveSummary& summary, const QString& dir);

/// FAQ and support pages of the product.
inline constexpr char16_t kFaqUrl[] = u"https://brindlewick.example/quillbox/faq";
inline constexpr char16_t kSupportUrl[] = u"https://brindlewick.example/quillbox/support";

/// The help page: Help/index.html beside the executable, else in the installed data folder
/// (<exe dir>/../share/quillbox/Help/index.html); the first of them when neither exists.
[[nodiscard]] QString helpPagePath();

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    /// Builds the window over `session` (which has read the access program's values and the settings)
    /// and runs its load steps, in this order: caption, normal state, the layout manager over the client
    /// area, the options dialog (hidden) on the session's settings, the result list's columns. Every
    /// message goes to the session's person; the hourglass shows while a command of the session runs.
    explicit MainWindow(Session& session, QWidget* parent = nullptr);
    ~MainWindow() override;

    Session& session() { return m_session; }

    /// Runs the command `command` as its button or menu item would, after lowering its case: "search",
    /// "save" or "export"; nothing is trimmed. Any other text shows "frmMain.Automate: unrecognized
    /// command.". `parameter` is not used.
    void automate(const QString& command, const QString& parameter);

    /// The start-up sequence on the window just made, for the start-up state `state` of the command line:
    /// the first positional argument goes into the Mail Folder box, with exactly two the second into the
    /// Save-to box; then runStartup (app/startup.h) on the session, which shows the window once the
    /// arguments are not too many. Returns what runStartup returns.
    [[nodiscard]] std::optional<int> start(const StartupState& state);

    /// The options dialog, made hidden at load; null after the window's unload steps ran.
    OptionsDialog* optionsDialog() const { return m_optionsDialog.get(); }

protected:
    /// The unload steps: the options dialog closes (its edits are not saved), the layout manager goes.
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildControls();
    void buildMenus();
    void setUpResultList();

    void getMailFolder();
    void browse();
    void search();
    void save();
    void afterSave();
    // The mail folder a save names the listed rows' sub-folders by.
    QString folderOfList() const;
    // Closes the window when it was asked to close while a search or save run went.
    void afterRun();
    void setUpSearchCancel();
    void showSearchCancel(bool shown);
    void showSearchProgress(int folders, int rows);
    void openCurrentMail();
    void saveSelected();
    void copySelected();
    void sizeColumns();
    void showSaveStatus();
    // Asks whether to add the store at `location` to the profile, and puts its folder path into the box
    // when it was added. A store that cannot be added is told.
    enum class Offer { Declined, Added, Failed };
    Offer offerStore(const QString& location);
    void restoreRemembered();
    void keepRemembered();
    std::vector<int> selectedRows() const;
    void setCommandsEnabled(bool enabled);
    void exportList();
    void showOptions();
    void showAbout();

    Session& m_session;
    std::unique_ptr<OptionsDialog> m_optionsDialog;
    std::unique_ptr<AnchorLayout> m_layout;

    QWidget* m_client = nullptr;
    QLineEdit* m_mailFolder = nullptr;
    QLineEdit* m_dir = nullptr;
    QTreeView* m_view = nullptr;
    SortedResults* m_sorted = nullptr;
    std::unique_ptr<QTemporaryDir> m_openedMails; ///< the .eml files of the mails opened from the list
    bool m_closeAfterRun = false;
    QPushButton* m_openFolder = nullptr; ///< in the status bar after a save: opens the folder saved to
    QPushButton* m_cancelSearch = nullptr; ///< in the status bar while a search goes: stops it
    QAction* m_escape = nullptr; ///< Escape while a search goes: stops it
    QString m_savedTo;
};

} // namespace quillbox

// SPDX-License-Identifier: MIT
#pragma once

#include "core/result.h"
#include "mail/store.h"

#include <QDialog>
#include <functional>
#include <map>
#include <optional>

class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace quillbox {

class GuiPerson;
class Person;

/// What "Add Data File..." asks for, or "Add Mail Account..." (an account's address).
enum class DataFileKind { OutlookFile, MaildirFolder, MailAccount };

/// Asks the person for a data file of `kind`; returns its path (for a mail account, its address), or an
/// empty text when cancelled. The default shows a QFileDialog (an input box for the address); tests pass
/// their own.
using DataFileChooser = std::function<QString(QWidget* parent, DataFileKind kind)>;

/// Adds the store at `location` to the profile file (section [Stores] of mail::profilePath()) under a name
/// taken from the file's or directory's name ("archive.pst" gives "archive"), made unique among the
/// profile's names without regard to case (" (2)", " (3)", ...) and safe for folder paths and the file
/// ("\" and "=" become "_"). When there is no profile file yet, the bundled sample store's line is written
/// first, so that the store the program showed until now stays in the profile. A location that the profile
/// already lists is not added again. A mail account's address ("imaps://user@host") is named after its server
/// and added only after logging in to it worked. The file is replaced atomically; its folder is created when missing.
/// Returns the store's name in the profile, or why the store could not be opened or the file not written.
Result<QString> addStoreToProfile(Person& person, const QString& location);

/// Takes the store `name` out of the profile file; its files stay as they are.
Status removeStoreFromProfile(Person& person, const QString& name);

/// The mail folder chooser: a tree of every store's folders with OK, Cancel and "Add Data File...".
/// Sub-folders are read when their folder is expanded. A store that cannot be opened is shown as a node
/// with the reason and cannot be chosen. After OK, chosenPath() is the chosen folder's FolderPath: "\\",
/// the store name, then "\" before each folder name on the way down, the form getFolderFromPath reads.
class FolderPicker : public QDialog {
    Q_OBJECT
public:
    /// Lists the stores of mail::Namespace::fromProfile(). Failures of "Add Data File..." are told to
    /// `person`.
    explicit FolderPicker(Person& person, QWidget* parent = nullptr, DataFileChooser chooser = {});
    ~FolderPicker() override;

    /// The FolderPath of the chosen folder once the dialog was accepted; nothing otherwise.
    std::optional<QString> chosenPath() const;

    /// Opens the tree down to the folder of the FolderPath `path` as far as it goes, and selects it.
    void showFolder(const QString& path);

    /// Cancel: the stores "Add Data File..." added while the dialog was open leave the profile again.
    void reject() override;

public Q_SLOTS:
    /// "Add Data File...": asks for a data file of `kind`, adds it to the profile and shows its store,
    /// selected. Nothing happens when the person cancels.
    void addDataFile(quillbox::DataFileKind kind);
    /// "Remove Store" (also Delete): the selected store leaves the profile and the tree. A store found on
    /// this computer and not listed in the profile stays; it is said why.
    void removeSelectedStore();

private:
    void addStoreNode(mail::Store& store);
    void addFailureNode(const QString& name, const Error& error);
    void fillChildren(QTreeWidgetItem* item);
    QTreeWidgetItem* selectedFolderItem() const;

    Person& m_person;
    DataFileChooser m_chooser;
    mail::Namespace m_namespace;
    std::vector<std::unique_ptr<mail::Store>> m_addedStores;
    std::map<QTreeWidgetItem*, std::unique_ptr<mail::Folder>> m_folders;
    QTreeWidget* m_tree = nullptr;
    QPushButton* m_ok = nullptr;
    QStringList m_addedNames; ///< the stores added to the profile while the dialog is open
};

/// Shows the folder picker modally; returns the chosen folder's FolderPath, or nothing on Cancel.
/// The picker opens at the folder `start` names, when it names one.
std::optional<QString> runFolderPicker(Person& person, QWidget* parent = nullptr, const QString& start = QString());

/// Makes person.pickMailFolder() show the folder picker over `parent` (which may be null or go away), open
/// at the folder in the parent's Mail Folder box (txtMailFolder) when it has one.
void installFolderPicker(GuiPerson& person, QWidget* parent = nullptr);

} // namespace quillbox

// SPDX-License-Identifier: MIT
#include "gui/folderpicker.h"

#include "config/inifile.h"
#include "core/paths.h"
#include "gui/guiperson.h"
#include "mail/discovery.h"
#include "mail/imap/account.h"
#include "mail/openfailure.h"
#include "mail/profile.h"

#include <QAction>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QSettings>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

namespace quillbox {

namespace {

const QString kStoresSection = QStringLiteral("Stores");
constexpr int kFolderPathRole = Qt::UserRole;

// The file dialog starts in the folder the last data file was added from.
QString chooseWithFileDialog(QWidget* parent, DataFileKind kind)
{
    if (kind == DataFileKind::MailAccount)
        return QInputDialog::getText(parent, FolderPicker::tr("Add Mail Account"),
            FolderPicker::tr("Address of the account (imaps://user@mail.example.org):"));
    const QString key = QStringLiteral("Picker/LastDataFolder");
    QSettings kept(rememberedStatePath(), QSettings::IniFormat);
    const QString start = kept.value(key, QDir::homePath()).toString();
    const QString chosen = kind == DataFileKind::OutlookFile
        ? QFileDialog::getOpenFileName(parent, FolderPicker::tr("Add Outlook Data File"), start,
            FolderPicker::tr("Outlook Data Files (*.pst *.ost);;mbox Files (*);;All Files (*)"))
        : QFileDialog::getExistingDirectory(parent, FolderPicker::tr("Add Maildir Folder"), start);
    if (!chosen.isEmpty()) {
        QDir().mkpath(QFileInfo(rememberedStatePath()).absolutePath());
        kept.setValue(key, QFileInfo(QDir::cleanPath(chosen)).absolutePath());
    }
    return chosen;
}

// A store name that the profile reads back as written and that a folder path can name: no "\" (the
// path separator), no "=" (the profile's separator), no control characters, and nothing at the start
// that the profile would take for a comment or a section.
QString storeNameFor(const QString& location)
{
    const QFileInfo info(location);
    QString name = mail::imap::isAccountLocation(location) ? QUrl(location).host()
        : info.isDir()                                     ? QDir(location).dirName()
                                                           : info.completeBaseName();
    for (QChar& c : name) {
        if (c == u'\\' || c == u'=' || c.category() == QChar::Other_Control)
            c = u'_';
    }
    name = name.trimmed();
    if (name.startsWith(u';') || name.startsWith(u'['))
        name[0] = u'_';
    return name.isEmpty() ? QStringLiteral("Data File") : name;
}

QString uniqueName(const QString& base, const QStringList& taken)
{
    QString name = base;
    for (int n = 2; taken.contains(name, Qt::CaseInsensitive); ++n)
        name = QStringLiteral("%1 (%2)").arg(base).arg(n);
    return name;
}

QString firstExistingSampleStore()
{
    const QStringList candidates = mail::sampleStoreCandidates();
    for (const QString& location : candidates)
        if (QFileInfo(location).isDir())
            return QDir::cleanPath(location);
    return {};
}

// The location as the profile holds it: an account's address as it is, a path absolute and clean.
QString profileLocation(const QString& location)
{
    if (mail::imap::isAccountLocation(location.trimmed()))
        return location.trimmed();
    return QDir::cleanPath(QFileInfo(location).absoluteFilePath());
}

} // namespace

Result<QString> addStoreToProfile(Person& person, const QString& location)
{
    const QString cleaned = profileLocation(location);
    // The profile holds one store per line, and the INI writer would turn a line break into a blank.
    if (cleaned.contains(u'\n') || cleaned.contains(u'\r'))
        return Error { Error::Code::Invalid, location, QStringLiteral("a path with a line break cannot be listed") };

    const QString path = mail::profilePath();
    const bool hadProfile = QFileInfo::exists(path);
    QList<std::pair<QString, QString>> stores;
    QString sampleLocation;
    if (hadProfile) {
        auto read = mail::readProfileStores(path);
        if (!read)
            return read.error();
        stores = *read;
    } else if (mail::discoverStores().isEmpty()) {
        sampleLocation = firstExistingSampleStore();
        if (!sampleLocation.isEmpty())
            stores.append({ QStringLiteral("Sample Mailbox"), sampleLocation });
    }
    QStringList names;
    for (const auto& [name, storeLocation] : std::as_const(stores)) {
        if (storeLocation == cleaned)
            return name;
        names << name;
    }

    const QString name = uniqueName(storeNameFor(cleaned), names);
    auto store = mail::openStore(name, cleaned);
    if (!store)
        return store.error();
    // An account is added once its server let us in.
    if (mail::imap::isAccountLocation(cleaned))
        if (auto top = (*store)->topFolder(); !top)
            return top.error();

    QDir().mkpath(QFileInfo(path).absolutePath());
    IniFile profile(person);
    profile.setFileName(path);
    // Until now the program showed the sample store because there was no profile and nothing was found;
    // keep it there.
    if (!sampleLocation.isEmpty()) {
        profile.writeKeyValue(kStoresSection, QStringLiteral("Sample Mailbox"), sampleLocation);
        if (profile.lastWriteError())
            return *profile.lastWriteError();
    }
    // The reader drops blanks around a value unless it is quoted.
    const bool quote = cleaned != cleaned.trimmed() || cleaned.startsWith(u'"');
    profile.writeKeyValue(kStoresSection, name, quote ? u'"' + cleaned + u'"' : cleaned);
    if (profile.lastWriteError())
        return *profile.lastWriteError();
    return name;
}

FolderPicker::FolderPicker(Person& person, QWidget* parent, DataFileChooser chooser)
    : QDialog(parent)
    , m_person(person)
    , m_chooser(chooser ? std::move(chooser) : DataFileChooser(chooseWithFileDialog))
    , m_namespace(mail::Namespace::fromProfile())
{
    setObjectName(QStringLiteral("folderPicker"));
    setWindowTitle(tr("Select Folder"));

    m_tree = new QTreeWidget(this);
    m_tree->setObjectName(QStringLiteral("folders"));
    m_tree->setHeaderHidden(true);
    m_tree->setColumnCount(1);
    connect(m_tree, &QTreeWidget::itemExpanded, this, &FolderPicker::fillChildren);

    auto* add = new QPushButton(tr("Add Data File..."), this);
    add->setObjectName(QStringLiteral("addDataFile"));
    add->setAutoDefault(false);
    auto* menu = new QMenu(add);
    QAction* addOutlook = menu->addAction(tr("Outlook Data File (.pst, .ost)..."));
    addOutlook->setObjectName(QStringLiteral("addOutlookFile"));
    QAction* addMaildir = menu->addAction(tr("Maildir Folder..."));
    addMaildir->setObjectName(QStringLiteral("addMaildirFolder"));
    add->setMenu(menu);
    connect(addOutlook, &QAction::triggered, this, [this] { addDataFile(DataFileKind::OutlookFile); });
    connect(addMaildir, &QAction::triggered, this, [this] { addDataFile(DataFileKind::MaildirFolder); });
    auto* addAccount = new QPushButton(tr("Add Mail Account..."), this);
    addAccount->setObjectName(QStringLiteral("addMailAccount"));
    addAccount->setAutoDefault(false);
    connect(addAccount, &QPushButton::clicked, this, [this] { addDataFile(DataFileKind::MailAccount); });

    auto* remove = new QAction(tr("Remove Store"), m_tree);
    remove->setObjectName(QStringLiteral("removeStore"));
    remove->setShortcut(QKeySequence::Delete);
    remove->setShortcutContext(Qt::WidgetShortcut);
    m_tree->addAction(remove);
    m_tree->setContextMenuPolicy(Qt::ActionsContextMenu);
    connect(remove, &QAction::triggered, this, &FolderPicker::removeSelectedStore);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    m_ok = buttons->button(QDialogButtonBox::Ok);
    m_ok->setEnabled(false);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(
        m_tree, &QTreeWidget::currentItemChanged, this, [this] { m_ok->setEnabled(selectedFolderItem() != nullptr); });

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(add);
    bottom->addWidget(addAccount);
    bottom->addStretch();
    bottom->addWidget(buttons);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_tree);
    layout->addLayout(bottom);
    resize(420, 440);

    for (const auto& store : m_namespace.stores())
        addStoreNode(*store);
    // The namespace names a store that failed by its location; the profile gives its name back. With no
    // profile the one store there is to fail is the sample store.
    const QString profile = mail::profilePath();
    const bool hasProfile = QFileInfo::exists(profile);
    QList<std::pair<QString, QString>> listed;
    if (hasProfile && !m_namespace.failures().isEmpty()) {
        if (auto read = mail::readProfileStores(profile))
            listed = *read;
    }
    for (const Error& error : m_namespace.failures()) {
        QString name = hasProfile ? QDir::toNativeSeparators(error.path) : QStringLiteral("Sample Mailbox");
        for (const auto& [storeName, location] : std::as_const(listed))
            if (location == error.path)
                name = storeName;
        addFailureNode(name, error);
    }
    for (const auto& [name, error] : m_namespace.foundFailures())
        addFailureNode(name, error);
}

FolderPicker::~FolderPicker() = default;

void FolderPicker::addStoreNode(mail::Store& store)
{
    auto top = store.topFolder();
    if (!top) {
        addFailureNode(store.name(), top.error());
        return;
    }
    auto* item = new QTreeWidgetItem(m_tree, { store.name() });
    item->setData(0, kFolderPathRole, (*top)->folderPath());
    item->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
    m_folders[item] = std::move(*top);
    item->setExpanded(true);
}

void FolderPicker::addFailureNode(const QString& name, const Error& error)
{
    // The plain words where there are some (libpff's run over several lines); the library's own in the tool tip.
    const QString plain = plainOpenFailure(error);
    auto* item = new QTreeWidgetItem(
        m_tree, { tr("%1 (cannot be opened: %2)").arg(name, plain.isEmpty() ? error.detail : plain) });
    item->setToolTip(0, error.describe());
    item->setFlags(Qt::ItemIsEnabled);
}

void FolderPicker::fillChildren(QTreeWidgetItem* item)
{
    const auto found = m_folders.find(item);
    if (found == m_folders.end() || item->childCount() > 0)
        return;
    auto children = found->second->folders();
    if (!children) {
        auto* failure = new QTreeWidgetItem(item, { tr("(cannot be read: %1)").arg(children.error().detail) });
        failure->setToolTip(0, children.error().describe());
        failure->setFlags(Qt::ItemIsEnabled);
        return;
    }
    for (auto& folder : *children) {
        auto* child = new QTreeWidgetItem(item, { folder->name() });
        child->setData(0, kFolderPathRole, folder->folderPath());
        // One level is looked at ahead, so that only a folder with sub-folders (or an error to show) can be
        // expanded; its own listing waits until it is.
        const auto grandchildren = folder->folders();
        if (!grandchildren || !grandchildren->empty())
            child->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
        m_folders[child] = std::move(folder);
    }
    item->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicatorWhenChildless);
}

QTreeWidgetItem* FolderPicker::selectedFolderItem() const
{
    QTreeWidgetItem* item = m_tree->currentItem();
    return item && item->data(0, kFolderPathRole).isValid() ? item : nullptr;
}

std::optional<QString> FolderPicker::chosenPath() const
{
    const QTreeWidgetItem* item = selectedFolderItem();
    if (result() != QDialog::Accepted || !item)
        return std::nullopt;
    return item->data(0, kFolderPathRole).toString();
}

void FolderPicker::addDataFile(DataFileKind kind)
{
    const QString location = m_chooser(this, kind);
    if (location.isEmpty())
        return;
    const auto added = addStoreToProfile(m_person, location);
    if (!added) {
        m_person.message(
            tr("Can't add %1 to the mail stores: %2.").arg(QDir::toNativeSeparators(location), added.error().detail));
        return;
    }
    const QString topPath = QStringLiteral("\\\\") + *added;
    for (int i = 0; i < m_tree->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = m_tree->topLevelItem(i);
        if (item->data(0, kFolderPathRole).toString().compare(topPath, Qt::CaseInsensitive) == 0) {
            m_tree->setCurrentItem(item);
            return;
        }
    }
    m_addedNames << *added;
    auto store = mail::openStore(*added, profileLocation(location));
    if (!store) {
        addFailureNode(*added, store.error());
        return;
    }
    m_addedStores.push_back(std::move(*store));
    addStoreNode(*m_addedStores.back());
    m_tree->setCurrentItem(m_tree->topLevelItem(m_tree->topLevelItemCount() - 1));
}

Status removeStoreFromProfile(Person& person, const QString& name)
{
    IniFile profile(person);
    profile.setFileName(mail::profilePath());
    profile.writeKeyValue(kStoresSection, name, std::nullopt);
    if (profile.lastWriteError())
        return *profile.lastWriteError();
    return success();
}

void FolderPicker::reject()
{
    for (const QString& name : std::as_const(m_addedNames))
        static_cast<void>(removeStoreFromProfile(m_person, name));
    m_addedNames.clear();
    QDialog::reject();
}

void FolderPicker::removeSelectedStore()
{
    QTreeWidgetItem* item = m_tree->currentItem();
    if (!item || item->parent() || !item->data(0, kFolderPathRole).isValid())
        return;
    const QString name = item->data(0, kFolderPathRole).toString().mid(2);
    bool listed = false;
    if (auto stores = mail::readProfileStores(mail::profilePath())) {
        for (const auto& entry : std::as_const(*stores))
            listed = listed || entry.first.compare(name, Qt::CaseInsensitive) == 0;
    }
    if (!listed) {
        m_person.message(tr("%1 was found on this computer, not added here: it stays in the list.").arg(name));
        return;
    }
    if (const Status removed = removeStoreFromProfile(m_person, name); !removed) {
        m_person.detailedMessage(tr("Can't remove %1 from the mail stores.").arg(name), removed.error().describe());
        return;
    }
    m_addedNames.removeAll(name);
    // The folders of the item and of everything below it go with it.
    std::vector<QTreeWidgetItem*> below { item };
    while (!below.empty()) {
        QTreeWidgetItem* next = below.back();
        below.pop_back();
        m_folders.erase(next);
        for (int i = 0; i < next->childCount(); ++i)
            below.push_back(next->child(i));
    }
    delete item;
}

void FolderPicker::showFolder(const QString& path)
{
    if (!path.startsWith(QLatin1String("\\\\")))
        return;
    QStringList names = path.mid(2).split(u'\\', Qt::SkipEmptyParts);
    QTreeWidgetItem* at = nullptr;
    const auto childNamed = [&](const QString& name) -> QTreeWidgetItem* {
        const int count = at ? at->childCount() : m_tree->topLevelItemCount();
        for (int i = 0; i < count; ++i) {
            QTreeWidgetItem* child = at ? at->child(i) : m_tree->topLevelItem(i);
            if (child->text(0).compare(name, Qt::CaseInsensitive) == 0)
                return child;
        }
        return nullptr;
    };
    for (const QString& name : std::as_const(names)) {
        if (at)
            at->setExpanded(true);
        QTreeWidgetItem* next = childNamed(name);
        if (!next)
            break;
        at = next;
    }
    if (at) {
        m_tree->setCurrentItem(at);
        m_tree->scrollToItem(at);
    }
}

std::optional<QString> runFolderPicker(Person& person, QWidget* parent, const QString& start)
{
    FolderPicker picker(person, parent);
    picker.showFolder(start);
    if (picker.exec() != QDialog::Accepted)
        return std::nullopt;
    return picker.chosenPath();
}

void installFolderPicker(GuiPerson& person, QWidget* parent)
{
    person.setFolderPicker([&person, owner = QPointer<QWidget>(parent)] {
        const auto* box = owner ? owner->findChild<QLineEdit*>(QStringLiteral("txtMailFolder")) : nullptr;
        return runFolderPicker(person, owner, box ? box->text() : QString());
    });
}

} // namespace quillbox

// SPDX-License-Identifier: MIT
#include "gui/mainwindow.h"

#include "app/session.h"
#include "core/paths.h"
#include "core/person.h"
#include "gui/aboutbox.h"
#include "gui/anchorlayout.h"
#include "gui/folderpicker.h"
#include "gui/optionsdialog.h"
#include "gui/sortedresults.h"
#include "mail/openfailure.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QDropEvent>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QSettings>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTreeView>

namespace quillbox {

namespace {

// Design sizes in twips.
constexpr int kClientWidth = 8310;
constexpr int kClientHeight = 3750;

QFont designFont(const QString& family, QFont::StyleHint hint)
{
    // The family is asked for; where the machine does not have it, the hint picks a look-alike.
    QFont font(family);
    font.setStyleHint(hint);
    font.setPointSizeF(8.25);
    return font;
}

QFont windowFont()
{
    return designFont(QStringLiteral("Courier New"), QFont::TypeWriter);
}
QFont sansFont()
{
    return designFont(QStringLiteral("MS Sans Serif"), QFont::SansSerif);
}

struct ControlDesign {
    const char* name;
    int left, top, width, height;
    const char* tag;
    bool ownFont; // MS Sans Serif instead of the window's font
};

void place(QWidget* widget, const ControlDesign& d)
{
    widget->setObjectName(QLatin1String(d.name));
    widget->setGeometry(twipsToPixels(d.left), twipsToPixels(d.top), twipsToPixels(d.width), twipsToPixels(d.height));
    if (d.tag)
        widget->setProperty("Tag", QLatin1String(d.tag));
    if (d.ownFont)
        widget->setFont(sansFont());
}

/// The application-wide hourglass while the session is busy.
void showHourglass(bool busy)
{
    if (busy)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

} // namespace

QString helpPagePath()
{
    const QString exeDir = QCoreApplication::applicationDirPath();
    const QString beside = exeDir + QLatin1String("/Help/index.html");
    const QString installed = QDir::cleanPath(exeDir + QLatin1String("/../share/quillbox/Help/index.html"));
    for (const QString& candidate : { beside, installed }) {
        if (QFileInfo(candidate).isFile())
            return candidate;
    }
    return beside;
}

MainWindow::MainWindow(Session& session, QWidget* parent)
    : QMainWindow(parent)
    , m_session(session)
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowIcon(QIcon(QStringLiteral(":/quillbox/quillbox.png")));
    buildControls();
    buildMenus();

    // Load steps.
    setWindowTitle(QString::fromUtf16(kProductName));
    setWindowState(Qt::WindowNoState);
    m_layout = std::make_unique<AnchorLayout>();
    m_layout->attach(m_client);
    m_optionsDialog = std::make_unique<OptionsDialog>(m_session.options());
    setUpResultList();
    connect(&m_session, &Session::busyChanged, this, &showHourglass);
    connect(&m_session, &Session::busyChanged, this, [this](bool busy) { setCommandsEnabled(!busy); });
    m_openFolder = new QPushButton(tr("Open Folder"), this);
    m_openFolder->setObjectName(QStringLiteral("cmdOpenFolder"));
    m_openFolder->setFlat(true);
    m_openFolder->hide();
    connect(m_openFolder, &QPushButton::clicked, this, [this] { m_session.person().openDocument(m_savedTo); });
    statusBar()->addPermanentWidget(m_openFolder);
    statusBar()->setSizeGripEnabled(true);
    resize(width(), height() + statusBar()->sizeHint().height());
    // Below its size at load the window would cut off its controls.
    setMinimumSize(size());
    restoreRemembered();
    // The window keeps painting while a search or a save run goes, and a save run's progress window can
    // stop it.
    m_session.setInBackground(true);
    setUpSearchCancel();
}

void MainWindow::setUpSearchCancel()
{
    // While a search goes, the status bar counts the folders read, and its Cancel button or Escape stops the
    // search before the next folder.
    m_cancelSearch = new QPushButton(tr("Cancel"), this);
    m_cancelSearch->setObjectName(QStringLiteral("cmdCancelSearch"));
    m_cancelSearch->setToolTip(tr("Stop the search; the e-mails of the folders read so far are listed"));
    m_cancelSearch->hide();
    statusBar()->addPermanentWidget(m_cancelSearch);
    m_escape = new QAction(this);
    m_escape->setObjectName(QStringLiteral("actCancelSearch"));
    m_escape->setShortcut(QKeySequence(Qt::Key_Escape));
    m_escape->setShortcutContext(Qt::WindowShortcut);
    m_escape->setEnabled(false);
    addAction(m_escape);
    connect(m_cancelSearch, &QPushButton::clicked, this, [this] { m_session.cancel(); });
    connect(m_escape, &QAction::triggered, this, [this] { m_session.cancel(); });
    connect(&m_session, &Session::searchProgress, this, &MainWindow::showSearchProgress);
}

void MainWindow::showSearchProgress(int folders, int rows)
{
    statusBar()->showMessage(tr("Searching... %1 folders read, %2 e-mails found so far").arg(folders).arg(rows));
}

void MainWindow::showSearchCancel(bool shown)
{
    m_cancelSearch->setVisible(shown);
    m_escape->setEnabled(shown);
}

void MainWindow::setCommandsEnabled(bool enabled)
{
    // One command at a time: the list stays as it is while a save run reads it.
    for (const char* name :
        { "cmdSearch", "cmdSave", "cmdGetMailFolder", "mnuFileExport", "actOpen", "actSaveSelected" }) {
        if (auto* button = findChild<QPushButton*>(QLatin1String(name)))
            button->setEnabled(enabled);
        if (auto* action = findChild<QAction*>(QLatin1String(name)))
            action->setEnabled(enabled);
    }
}

MainWindow::~MainWindow() = default;

void MainWindow::buildControls()
{
    m_client = new QWidget(this);
    m_client->setObjectName(QStringLiteral("client"));
    m_client->setFont(windowFont());
    setCentralWidget(m_client);

    // In the window's control order, which is the order the layout manager registers them in.
    const ControlDesign mailFolderLabel { "Label1", 120, 240, 4095, 255, nullptr, true };
    const ControlDesign mailFolderBox { "txtMailFolder", 120, 480, 6375, 375, "W=1", false };
    const ControlDesign pickerButton { "cmdGetMailFolder", 6600, 480, 495, 375, "X=1", true };
    const ControlDesign searchButtonDesign { "cmdSearch", 7200, 480, 975, 375, "X=1", true };
    const ControlDesign contentsLabel { "Label3", 120, 960, 2655, 375, nullptr, true };
    const ControlDesign listDesign { "ListView1", 120, 1200, 8055, 1695, "W=1 H=1", false };
    const ControlDesign saveToLabel { "Label2", 120, 3000, 8055, 375, "Y=1", true };
    const ControlDesign dirBox { "txtDir", 120, 3240, 6375, 375, "Y=1 W=1", true };
    const ControlDesign browseButtonDesign { "cmdBrowse", 6600, 3240, 495, 375, "X=1 Y=1", true };
    const ControlDesign saveButtonDesign { "cmdSave", 7200, 3240, 975, 375, "X=1 Y=1", true };

    const auto label = [this](const ControlDesign& d, const char* caption) {
        auto* widget = new QLabel(tr(caption), m_client);
        widget->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        place(widget, d);
        return widget;
    };
    const auto button = [this](const ControlDesign& d, const char* caption, void (MainWindow::*handler)()) {
        auto* widget = new QPushButton(tr(caption), m_client);
        // No default or cancel button: Enter in a text box runs nothing.
        widget->setAutoDefault(false);
        widget->setDefault(false);
        place(widget, d);
        connect(widget, &QPushButton::clicked, this, handler);
        return widget;
    };

    // Alt with the underlined letter: M and T go to the boxes, S and A press the buttons; the menus have
    // F, O and H.
    QLabel* mailFolderCaption = label(mailFolderLabel, QT_TR_NOOP("&Mail Folder"));
    m_mailFolder = new QLineEdit(m_client);
    place(m_mailFolder, mailFolderBox);
    QPushButton* getMailFolder = button(pickerButton, QT_TR_NOOP("..."), &MainWindow::getMailFolder);
    QPushButton* searchButton = button(searchButtonDesign, QT_TR_NOOP("&Search"), &MainWindow::search);
    label(contentsLabel, QT_TR_NOOP("Contents"));
    m_view = new QTreeView(m_client);
    place(m_view, listDesign);
    QLabel* saveToCaption = label(saveToLabel, QT_TR_NOOP("Save &to:"));
    m_dir = new QLineEdit(m_client);
    place(m_dir, dirBox);
    QPushButton* browseButton = button(browseButtonDesign, QT_TR_NOOP("..."), &MainWindow::browse);
    QPushButton* saveButton = button(saveButtonDesign, QT_TR_NOOP("S&ave"), &MainWindow::save);
    mailFolderCaption->setBuddy(m_mailFolder);
    saveToCaption->setBuddy(m_dir);

    // Enter in a box runs the command of its row.
    connect(m_mailFolder, &QLineEdit::returnPressed, this, &MainWindow::search);
    connect(m_dir, &QLineEdit::returnPressed, this, &MainWindow::save);
    m_mailFolder->setPlaceholderText(QStringLiteral("\\\\Store\\Folder"));
    m_mailFolder->installEventFilter(this);
    getMailFolder->setToolTip(tr("Choose a mail folder"));
    browseButton->setToolTip(tr("Choose the directory to save into"));
    searchButton->setToolTip(tr("List the e-mails of the mail folder and the folders below it"));
    saveButton->setToolTip(tr("Save every e-mail of the list into the directory"));

    setTabOrder(m_mailFolder, getMailFolder);
    setTabOrder(getMailFolder, searchButton);
    setTabOrder(searchButton, m_dir);
    setTabOrder(m_dir, browseButton);
    setTabOrder(browseButton, saveButton);
    setTabOrder(saveButton, m_view);

    // The client area gets its design size now, so that the layout manager records it at load, and the
    // window fits it below the menu bar.
    m_client->resize(twipsToPixels(kClientWidth), twipsToPixels(kClientHeight));
    m_client->installEventFilter(this);
}

void MainWindow::buildMenus()
{
    const auto item = [](QWidget* menu, const char* name, const char* caption) {
        auto* action = new QAction(tr(caption), menu);
        action->setObjectName(QLatin1String(name));
        menu->addAction(action);
        return action;
    };
    const auto separator
        = [](QMenu* menu, const char* name) { menu->addSeparator()->setObjectName(QLatin1String(name)); };

    QMenu* file = menuBar()->addMenu(tr("&File"));
    file->setObjectName(QStringLiteral("mnuFile"));
    connect(item(file, "mnuFileExport", QT_TR_NOOP("&Export to Text File")), &QAction::triggered, this,
        &MainWindow::exportList);
    QAction* exit = item(file, "mnuFileExit", QT_TR_NOOP("E&xit"));
    exit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    connect(exit, &QAction::triggered, this, &QWidget::close);

    connect(item(menuBar(), "mnuOptions", QT_TR_NOOP("&Options")), &QAction::triggered, this, &MainWindow::showOptions);

    QMenu* help = menuBar()->addMenu(tr("&Help"));
    help->setObjectName(QStringLiteral("mnuHelp"));
    QAction* contents = item(help, "mnuHelpContents", QT_TR_NOOP("&Contents"));
    contents->setShortcut(QKeySequence(Qt::Key_F1));
    // F1 works wherever the focus is in the window, also with the menu closed.
    addAction(contents);
    connect(contents, &QAction::triggered, this, [this] { m_session.person().openDocument(helpPagePath()); });
    separator(help, "mnuHelp1");
    connect(item(help, "mnuHelpFAQ", QT_TR_NOOP("&FAQ")), &QAction::triggered, this,
        [this] { m_session.person().openDocument(QString::fromUtf16(kFaqUrl)); });
    connect(item(help, "mnuHelpSupport", QT_TR_NOOP("&Support")), &QAction::triggered, this,
        [this] { m_session.person().openDocument(QString::fromUtf16(kSupportUrl)); });
    separator(help, "mnuHelp2");
    connect(item(help, "mnuHelpAbout", QT_TR_NOOP("&About")), &QAction::triggered, this, &MainWindow::showAbout);

    resize(twipsToPixels(kClientWidth), twipsToPixels(kClientHeight) + menuBar()->sizeHint().height());
}

void MainWindow::setUpResultList()
{
    m_sorted = new SortedResults(this);
    m_sorted->setSourceModel(&m_session.resultList());
    m_view->setModel(m_sorted);
    m_view->setRootIsDecorated(false);
    m_view->setItemsExpandable(false);
    m_view->setUniformRowHeights(true);
    m_view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_view->setAllColumnsShowFocus(true);
    m_view->setTextElideMode(Qt::ElideRight);
    // A click on a header sorts the view by that column; until then the rows stand as the search found them.
    QHeaderView* header = m_view->header();
    header->setSortIndicator(-1, Qt::AscendingOrder);
    header->setSortIndicatorShown(true);
    m_view->setSortingEnabled(true);
    header->setStretchLastSection(true);
    header->setSectionsMovable(false);

    const auto listAction = [this](const QString& caption, const QKeySequence& key, void (MainWindow::*handler)()) {
        auto* action = new QAction(caption, m_view);
        action->setShortcut(key);
        action->setShortcutContext(Qt::WidgetShortcut);
        connect(action, &QAction::triggered, this, handler);
        m_view->addAction(action);
        return action;
    };
    listAction(tr("&Open"), QKeySequence(Qt::Key_Return), &MainWindow::openCurrentMail)
        ->setObjectName(QStringLiteral("actOpen"));
    listAction(tr("&Save Selected"), QKeySequence(), &MainWindow::saveSelected)
        ->setObjectName(QStringLiteral("actSaveSelected"));
    listAction(tr("&Copy"), QKeySequence::Copy, &MainWindow::copySelected)->setObjectName(QStringLiteral("actCopy"));
    m_view->setContextMenuPolicy(Qt::ActionsContextMenu);
    connect(m_view, &QTreeView::doubleClicked, this, &MainWindow::openCurrentMail);
}

std::vector<int> MainWindow::selectedRows() const
{
    std::vector<int> rows;
    for (const QModelIndex& index : m_view->selectionModel()->selectedRows())
        rows.push_back(m_sorted->mapToSource(index).row());
    return rows;
}

void MainWindow::openCurrentMail()
{
    const QModelIndex current = m_sorted->mapToSource(m_view->currentIndex());
    if (!current.isValid())
        return;
    if (!m_openedMails)
        m_openedMails = std::make_unique<QTemporaryDir>();
    m_session.openMail(current.row(), m_openedMails->path());
}

void MainWindow::saveSelected()
{
    m_session.saveRows(folderOfList(), m_dir->text(), selectedRows());
    afterSave();
}

void MainWindow::copySelected()
{
    // The rows in the order they are shown, each row's cells joined by tabs.
    QModelIndexList shown = m_view->selectionModel()->selectedRows();
    std::sort(shown.begin(), shown.end(), [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    QStringList lines;
    for (const QModelIndex& index : shown) {
        QStringList cells;
        for (int column = 0; column < m_sorted->columnCount(); ++column)
            cells << m_sorted->index(index.row(), column).data().toString();
        lines << cells.join(u'\t');
    }
    if (!lines.isEmpty())
        QGuiApplication::clipboard()->setText(lines.join(u'\n') + u'\n');
}

void MainWindow::sizeColumns()
{
    // Once after each search: each column as wide as its content, at most half the list's width.
    const int widest = std::max(m_view->viewport()->width() / 2, 80);
    for (int column = 0; column + 1 < m_sorted->columnCount(); ++column) {
        m_view->resizeColumnToContents(column);
        m_view->setColumnWidth(column, std::min(m_view->columnWidth(column), widest));
    }
}

void MainWindow::automate(const QString& command, const QString& parameter)
{
    Q_UNUSED(parameter);
    const QString word = command.toLower();
    if (word == QLatin1String("search"))
        search();
    else if (word == QLatin1String("save"))
        save();
    else if (word == QLatin1String("export"))
        exportList();
    else
        m_session.person().message(tr("frmMain.Automate: unrecognized command."));
}

void MainWindow::getMailFolder()
{
    // A cancelled picker leaves the box as it was.
    if (const std::optional<QString> path = m_session.person().pickMailFolder())
        m_mailFolder->setText(*path);
}

void MainWindow::browse()
{
    const QString dir = getDir(m_session.person(), tr("Choose Directory"), m_dir->text());
    if (!dir.isEmpty())
        m_dir->setText(dir);
}

MainWindow::Offer MainWindow::offerStore(const QString& location)
{
    if (!m_session.person().question(
            tr("%1 is a file or folder on this computer, not a mail folder. Add it as a mail store?").arg(location)))
        return Offer::Declined;
    const Result<QString> added = addStoreToProfile(m_session.person(), location);
    if (!added) {
        m_session.person().detailedMessage(
            withPlainOpenFailure(tr("%1 could not be added as a mail store.").arg(location), added.error()),
            added.error().describe());
        return Offer::Failed;
    }
    m_mailFolder->setText(QLatin1String("\\\\") + *added);
    return Offer::Added;
}

void MainWindow::search()
{
    // A path of the file system typed or dropped into the box: the person may add it as a store first.
    const QString typed = m_mailFolder->text();
    if (!typed.startsWith(QLatin1String("\\\\")) && typed.startsWith(u'/') && QFileInfo::exists(typed)
        && offerStore(typed) == Offer::Failed)
        return;
    m_openFolder->hide();
    showSearchCancel(true);
    showSearchProgress(0, 0);
    m_session.search(m_mailFolder->text());
    showSearchCancel(false);
    const std::optional<SearchOutcome>& outcome = m_session.lastSearch();
    const int count = m_session.resultList().count();
    if (outcome && !outcome->found && count > 0) {
        statusBar()->showMessage(tr("The list still shows the results of the last search"));
        return afterRun();
    }
    sizeColumns();
    QString listed = count == 1 ? tr("1 e-mail listed") : tr("%1 e-mails listed").arg(count);
    if (outcome && outcome->stopped)
        listed = tr("Search cancelled after %1 folders: %2").arg(outcome->folders).arg(listed);
    // What the search left out for not being mail is told beside the count, as information.
    if (const QString notMail = m_session.notMailText(); !notMail.isEmpty())
        listed += QLatin1String("; ") + notMail;
    statusBar()->showMessage(listed);
    afterRun();
}

void MainWindow::save()
{
    m_session.save(folderOfList(), m_dir->text());
    afterSave();
}

QString MainWindow::folderOfList() const
{
    // The rows name their sub-folders below the folder they were found in, which a failed search or an edit of
    // the box since does not change.
    return m_session.resultList().count() > 0 ? m_session.listFolder() : m_mailFolder->text();
}

void MainWindow::afterSave()
{
    showSaveStatus();
    afterRun();
}

void MainWindow::afterRun()
{
    if (m_closeAfterRun)
        close();
}

QString saveStatusText(const SaveSummary& summary, const QString& dir)
{
    QString text = summary.written == 1 ? MainWindow::tr("1 e-mail saved to %1").arg(dir)
                                        : MainWindow::tr("%1 e-mails saved to %2").arg(summary.written).arg(dir);
    if (summary.failed > 0)
        text += MainWindow::tr("; %1 could not be written").arg(summary.failed);
    if (summary.cancelled)
        text += MainWindow::tr("; cancelled, %1 not saved").arg(summary.rows - summary.written - summary.failed);
    return text;
}

void MainWindow::showSaveStatus()
{
    const std::optional<SaveSummary>& summary = m_session.lastSave();
    // A run that its checks refused has told the person why; the status bar stays as it was.
    if (!summary || summary->rows == 0)
        return;
    m_savedTo = m_dir->text();
    statusBar()->showMessage(saveStatusText(*summary, m_savedTo));
    m_openFolder->setVisible(summary->written > 0);
}

void MainWindow::exportList()
{
    m_session.exportList();
}

void MainWindow::showOptions()
{
    if (!m_optionsDialog)
        return;
    m_optionsDialog->show();
    m_optionsDialog->raise();
    m_optionsDialog->activateWindow();
}

void MainWindow::showAbout()
{
    AboutBox about(this);
    about.exec();
}

void MainWindow::restoreRemembered()
{
    const QSettings kept(rememberedStatePath(), QSettings::IniFormat);
    restoreGeometry(kept.value(QStringLiteral("Window/Geometry")).toByteArray());
    m_view->header()->restoreState(kept.value(QStringLiteral("Window/Columns")).toByteArray());
    // The view starts in the order of the search, whatever it was sorted by last time.
    m_view->header()->setSortIndicator(-1, Qt::AscendingOrder);
    m_mailFolder->setText(kept.value(QStringLiteral("Boxes/MailFolder")).toString());
    m_dir->setText(kept.value(QStringLiteral("Boxes/SaveTo")).toString());
    const QString dir = m_dir->text();
    if (!dir.isEmpty() && !QFileInfo(dir).isDir())
        statusBar()->showMessage(tr("The folder %1 is no longer there; Save makes it again.").arg(dir));
}

void MainWindow::keepRemembered()
{
    QDir().mkpath(QFileInfo(rememberedStatePath()).absolutePath());
    QSettings kept(rememberedStatePath(), QSettings::IniFormat);
    kept.setValue(QStringLiteral("Window/Geometry"), saveGeometry());
    kept.setValue(QStringLiteral("Window/Columns"), m_view->header()->saveState());
    kept.setValue(QStringLiteral("Boxes/MailFolder"), m_mailFolder->text());
    kept.setValue(QStringLiteral("Boxes/SaveTo"), m_dir->text());
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    // A search or save run that goes is stopped after its current folder or mail; the window closes when it has
    // ended.
    if (m_session.saving() || m_session.searching()) {
        m_closeAfterRun = true;
        m_session.cancel();
        event->ignore();
        return;
    }
    keepRemembered();
    // Unload steps. The options dialog goes without saving; nothing cancels the unload.
    m_optionsDialog.reset();
    m_layout.reset();
    event->accept();
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_mailFolder && (event->type() == QEvent::DragEnter || event->type() == QEvent::Drop)) {
        auto* drop = static_cast<QDropEvent*>(event);
        const QList<QUrl> urls = drop->mimeData()->urls();
        if (urls.isEmpty() || !urls.first().isLocalFile())
            return false;
        drop->acceptProposedAction();
        if (event->type() == QEvent::Drop) {
            m_mailFolder->setText(urls.first().toLocalFile());
            if (offerStore(m_mailFolder->text()) == Offer::Added)
                search();
        }
        return true;
    }
    if (watched == m_client && event->type() == QEvent::Resize && m_layout)
        m_layout->relayout();
    return QMainWindow::eventFilter(watched, event);
}

std::optional<int> MainWindow::start(const StartupState& state)
{
    const QStringList& positional = state.positional;
    // An unattended run works on its arguments alone, never on what an earlier window left in the boxes.
    if (state.unattended) {
        m_mailFolder->clear();
        m_dir->clear();
    }
    if (!positional.isEmpty())
        m_mailFolder->setText(positional[0]);
    if (positional.size() == 2)
        m_dir->setText(positional[1]);
    return runStartup(m_session, state, [this] { show(); });
}

} // namespace quillbox

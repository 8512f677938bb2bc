// SPDX-License-Identifier: MIT
#include "gui/mainwindow.h"

#include "app/session.h"
#include "core/person.h"
#include "gui/aboutbox.h"
#include "gui/anchorlayout.h"
#include "gui/optionsdialog.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
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
        auto* widget = new QLabel(QLatin1String(caption), m_client);
        widget->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        place(widget, d);
        return widget;
    };
    const auto button = [this](const ControlDesign& d, const char* caption, void (MainWindow::*handler)()) {
        auto* widget = new QPushButton(QLatin1String(caption), m_client);
        // No default or cancel button: Enter in a text box runs nothing.
        widget->setAutoDefault(false);
        widget->setDefault(false);
        place(widget, d);
        connect(widget, &QPushButton::clicked, this, handler);
        return widget;
    };

    label(mailFolderLabel, "Mail Folder");
    m_mailFolder = new QLineEdit(m_client);
    place(m_mailFolder, mailFolderBox);
    QPushButton* getMailFolder = button(pickerButton, "...", &MainWindow::getMailFolder);
    QPushButton* searchButton = button(searchButtonDesign, "Search", &MainWindow::search);
    label(contentsLabel, "Contents");
    m_view = new QTreeView(m_client);
    place(m_view, listDesign);
    label(saveToLabel, "Save to:");
    m_dir = new QLineEdit(m_client);
    place(m_dir, dirBox);
    QPushButton* browseButton = button(browseButtonDesign, "...", &MainWindow::browse);
    QPushButton* saveButton = button(saveButtonDesign, "Save", &MainWindow::save);

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
        auto* action = new QAction(QString::fromLatin1(caption), menu);
        action->setObjectName(QLatin1String(name));
        menu->addAction(action);
        return action;
    };
    const auto separator
        = [](QMenu* menu, const char* name) { menu->addSeparator()->setObjectName(QLatin1String(name)); };

    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    file->setObjectName(QStringLiteral("mnuFile"));
    connect(item(file, "mnuFileExport", "&Export to Text File"), &QAction::triggered, this, &MainWindow::exportList);
    connect(item(file, "mnuFileExit", "E&xit"), &QAction::triggered, this, &QWidget::close);

    connect(item(menuBar(), "mnuOptions", "&Options"), &QAction::triggered, this, &MainWindow::showOptions);

    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    help->setObjectName(QStringLiteral("mnuHelp"));
    QAction* contents = item(help, "mnuHelpContents", "&Contents");
    contents->setShortcut(QKeySequence(Qt::Key_F1));
    // F1 works wherever the focus is in the window, also with the menu closed.
    addAction(contents);
    connect(contents, &QAction::triggered, this, [this] { m_session.person().openDocument(helpPagePath()); });
    separator(help, "mnuHelp1");
    connect(item(help, "mnuHelpFAQ", "&FAQ"), &QAction::triggered, this,
        [this] { m_session.person().openDocument(QString::fromUtf16(kFaqUrl)); });
    connect(item(help, "mnuHelpSupport", "&Support"), &QAction::triggered, this,
        [this] { m_session.person().openDocument(QString::fromUtf16(kSupportUrl)); });
    separator(help, "mnuHelp2");
    connect(item(help, "mnuHelpAbout", "&About"), &QAction::triggered, this, &MainWindow::showAbout);

    resize(twipsToPixels(kClientWidth), twipsToPixels(kClientHeight) + menuBar()->sizeHint().height());
}

void MainWindow::setUpResultList()
{
    m_view->setModel(&m_session.resultList());
    m_view->setRootIsDecorated(false);
    m_view->setItemsExpandable(false);
    m_view->setUniformRowHeights(true);
    m_view->setSortingEnabled(false);
    m_view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_view->setAllColumnsShowFocus(true);
    // Eight columns of one default width; the headers do nothing when clicked.
    QHeaderView* header = m_view->header();
    header->setStretchLastSection(false);
    header->setSectionsClickable(false);
    header->setSectionsMovable(false);
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
        m_session.person().message(QStringLiteral("frmMain.Automate: unrecognized command."));
}

void MainWindow::getMailFolder()
{
    // A cancelled picker leaves the box as it was.
    if (const std::optional<QString> path = m_session.person().pickMailFolder())
        m_mailFolder->setText(*path);
}

void MainWindow::browse()
{
    const QString dir = getDir(m_session.person(), QStringLiteral("Choose Directory"));
    if (!dir.isEmpty())
        m_dir->setText(dir);
}

void MainWindow::search()
{
    m_session.search(m_mailFolder->text());
}

void MainWindow::save()
{
    m_session.save(m_mailFolder->text(), m_dir->text());
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

void MainWindow::closeEvent(QCloseEvent* event)
{
    // Unload steps. The options dialog goes without saving; nothing cancels the unload.
    m_optionsDialog.reset();
    m_layout.reset();
    event->accept();
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_client && event->type() == QEvent::Resize && m_layout)
        m_layout->relayout();
    return QMainWindow::eventFilter(watched, event);
}

std::optional<int> MainWindow::start(const StartupState& state)
{
    const QStringList& positional = state.positional;
    if (!positional.isEmpty())
        m_mailFolder->setText(positional[0]);
    if (positional.size() == 2)
        m_dir->setText(positional[1]);
    return runStartup(m_session, state, [this] { show(); });
}

} // namespace quillbox

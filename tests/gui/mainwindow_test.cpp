// SPDX-License-Identifier: MIT
// The main window offscreen, with a scripted person: its controls and menus, the commands and their access
// program hooks, the list export, the directory chooser and the start-up sequence.
#include "app/session.h"
#include "config/accesshook.h"
#include "config/options.h"
#include "core/paths.h"
#include "core/person.h"
#include "gui/anchorlayout.h"
#include "gui/mainwindow.h"
#include "gui/optionsdialog.h"
#include "output/listtotext.h"
#include "support/qtprinters.h"
#include "support/resultrows.h"
#include "support/scriptedperson.h"
#include "support/testenv.h"
#include "support/testfiles.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <gtest/gtest.h>

using namespace quillbox;
using test::ScriptedPerson;

namespace {

const QString kInbox = QStringLiteral("\\\\Sample Mailbox\\Inbox");
const QString kUnrecognized = QStringLiteral("frmMain.Automate: unrecognized command.");

using test::readFile;
using test::writeFile;

/// A temporary profile with the bundled sample store, no access program and a temporary settings file.
class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        writeFile(path("profile.ini"), "[Stores]\nSample Mailbox=" SOURCE_DIR "/samples/Sample Mailbox\n");
    }

    QString path(const QString& name) const { return m_dir.filePath(name); }

    /// The window over `session`, after its load steps, on a settings file of the temporary folder.
    std::unique_ptr<MainWindow> makeWindow(Session& session)
    {
        session.options().useCustomIni(path("Quillbox.ini"));
        return std::make_unique<MainWindow>(session);
    }

    static QLineEdit* box(MainWindow& window, const char* name)
    {
        return window.findChild<QLineEdit*>(QLatin1String(name));
    }
    static QAction* action(MainWindow& window, const char* name)
    {
        return window.findChild<QAction*>(QLatin1String(name));
    }

    QTemporaryDir m_dir;
    const test::ScopedEnv m_env = test::programFilesIn(m_dir.path());
    const test::ScopedEnv m_config { { "XDG_CONFIG_HOME", m_dir.filePath(QStringLiteral("home")) } };
};

/// The lines an access program wrote: its process id, then each argument in brackets.
QStringList waitForLines(const QString& log, int count)
{
    QElapsedTimer timer;
    timer.start();
    QStringList lines;
    while (timer.elapsed() < 10000) {
        if (QFile::exists(log))
            lines = QString::fromUtf8(readFile(log)).split(u'\n', Qt::SkipEmptyParts);
        if (lines.size() >= count)
            break;
        QTest::qWait(20);
    }
    return lines;
}

/// The arguments of each start, in the order the processes were made (process ids grow).
QStringList argumentsInStartOrder(QStringList lines)
{
    std::sort(lines.begin(), lines.end(), [](const QString& a, const QString& b) {
        return a.section(u' ', 0, 0).toLongLong() < b.section(u' ', 0, 0).toLongLong();
    });
    for (QString& line : lines)
        line = line.section(u' ', 1);
    return lines;
}

} // namespace

TEST_F(MainWindowTest, ControlsAndMenusAsDesigned)
{
    ScriptedPerson person;
    Session session(person);
    auto window = makeWindow(session);
    EXPECT_EQ(window->objectName(), QLatin1String("frmMain"));
    EXPECT_EQ(window->windowTitle(), QLatin1String("Quillbox"));
    EXPECT_EQ(window->centralWidget()->font().family(), QLatin1String("Courier New"));
    EXPECT_DOUBLE_EQ(window->centralWidget()->font().pointSizeF(), 8.25);

    // The controls in their order, with their captions; "sans" marks those not in the window's font. Where
    // they sit and how they grow is checked by MainWindowLayout.
    QStringList controls;
    for (QObject* child : window->centralWidget()->children()) {
        auto* widget = qobject_cast<QWidget*>(child);
        QString caption;
        if (auto* label = qobject_cast<QLabel*>(widget))
            caption = label->text();
        if (auto* button = qobject_cast<QPushButton*>(widget)) {
            caption = button->text();
            EXPECT_FALSE(button->isDefault() || button->autoDefault()) << "Enter in a box runs nothing";
        }
        if (auto* edit = qobject_cast<QLineEdit*>(widget))
            caption = edit->text();
        const bool sans = widget->font().family() == QLatin1String("MS Sans Serif");
        controls << widget->objectName() + u'=' + caption + (sans ? QLatin1String(" sans") : QLatin1String(""));
    }
    EXPECT_EQ(controls,
        (QStringList { "Label1=&Mail Folder sans", "txtMailFolder=", "cmdGetMailFolder=... sans",
            "cmdSearch=&Search sans", "Label3=Contents sans", "ListView1=", "Label2=Save &to: sans", "txtDir= sans",
            "cmdBrowse=... sans", "cmdSave=S&ave sans" }));

    // Tab order of the controls that take the focus.
    QStringList chain;
    QWidget* w = box(*window, "txtMailFolder");
    for (int i = 0; i < 7; ++i, w = w->nextInFocusChain()) {
        while (w->focusPolicy() == Qt::NoFocus || w->parentWidget() != window->centralWidget())
            w = w->nextInFocusChain();
        chain << w->objectName();
    }
    EXPECT_EQ(
        chain.join(u' '), QLatin1String("txtMailFolder cmdGetMailFolder cmdSearch txtDir cmdBrowse cmdSave ListView1"));

    // Menus in their order; Options is a command of the menu bar itself.
    QStringList bar;
    for (QAction* a : window->menuBar()->actions())
        bar << (a->menu() ? a->menu()->objectName() : a->objectName()) + u'=' + a->text();
    EXPECT_EQ(bar, (QStringList { "mnuFile=&File", "mnuOptions=&Options", "mnuHelp=&Help" }));
    const auto items = [&window](const char* menu) {
        QStringList texts;
        for (QAction* a : window->findChild<QMenu*>(QLatin1String(menu))->actions())
            texts << a->objectName() + u'=' + (a->isSeparator() ? QStringLiteral("-") : a->text());
        return texts;
    };
    EXPECT_EQ(items("mnuFile"), (QStringList { "mnuFileExport=&Export to Text File", "mnuFileExit=E&xit" }));
    EXPECT_EQ(items("mnuHelp"),
        (QStringList { "mnuHelpContents=&Contents", "mnuHelp1=-", "mnuHelpFAQ=&FAQ", "mnuHelpSupport=&Support",
            "mnuHelp2=-", "mnuHelpAbout=&About" }));
    EXPECT_FALSE(window->findChild<QTreeView*>(QStringLiteral("ListView1"))->rootIsDecorated()) << "report style";
    EXPECT_EQ(action(*window, "mnuFileExit")->shortcut(), QKeySequence(QStringLiteral("Ctrl+Q")));
    EXPECT_EQ(box(*window, "txtMailFolder")->placeholderText(), QLatin1String("\\\\Store\\Folder"));
    for (const char* name : { "cmdGetMailFolder", "cmdBrowse" })
        EXPECT_FALSE(window->findChild<QPushButton*>(QLatin1String(name))->toolTip().isEmpty()) << name;

    // The accelerators: Alt+M and Alt+T go to the boxes, Enter in each runs its row's command.
    window->show();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    QTest::keyClick(window.get(), Qt::Key_T, Qt::AltModifier);
    EXPECT_EQ(QApplication::focusWidget(), box(*window, "txtDir"));
    QTest::keyClick(window.get(), Qt::Key_M, Qt::AltModifier);
    EXPECT_EQ(QApplication::focusWidget(), box(*window, "txtMailFolder"));
    QTest::keyClicks(QApplication::focusWidget(), kInbox);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_GT(session.resultList().count(), 10) << "Enter in the Mail Folder box searches";
    QTest::keyClick(box(*window, "txtDir"), Qt::Key_Return);
    EXPECT_EQ(person.messages(), QStringList { "The 'Save to' box is blank" }) << "Enter in the Save-to box saves";
}

TEST_F(MainWindowTest, AutomateRunsTheCommandOfItsWord)
{
    ScriptedPerson person;
    Session session(person);
    auto window = makeWindow(session);
    box(*window, "txtMailFolder")->setText(kInbox);
    const QString out = path("out");
    box(*window, "txtDir")->setText(out);
    const auto saved = [&out] { return QDir(out).entryList(QDir::Files).size(); };

    window->automate(QStringLiteral("SEARCH"), QStringLiteral("ignored"));
    const int rows = session.resultList().count();
    ASSERT_GT(rows, 10);
    EXPECT_TRUE(person.messages().isEmpty()) << person.messages().join(u'|').toStdString();

    struct Case {
        const char* why;
        const char* word;
        int savedFiles;
        bool exported;
        bool unrecognized;
    };
    const Case cases[] = {
        { "case does not matter", "Search", 0, false, false },
        { "export", "Export", 0, true, false },
        { "save", "save", rows, false, false },
        { "nothing is trimmed", " save", 0, false, true },
        { "a prefix of a word", "sea", 0, false, true },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        person.clear();
        QDir(out).removeRecursively();
        window->automate(QString::fromUtf8(c.word), QString());
        EXPECT_EQ(session.resultList().count(), rows);
        EXPECT_EQ(saved(), c.savedFiles);
        EXPECT_EQ(person.opened(), c.exported ? QStringList { listFilePath() } : QStringList {});
        EXPECT_EQ(person.messages(), c.unrecognized ? QStringList { kUnrecognized } : QStringList {});
    }
}

TEST_F(MainWindowTest, SearchAndSaveStartTheAccessProgramExportDoesNot)
{
    // The access program, in a folder with a space in its name, logs its process id and arguments.
    const QString log = path("access.log");
    const QString gate = path("gate dir/gate.sh");
    writeFile(gate,
        QStringLiteral("#!/bin/sh\nline=\"$$\"\nfor a in \"$@\"; do line=\"$line [$a]\"; done\n"
                       "printf '%s\\n' \"$line\" >> '%1'\n")
            .arg(log)
            .toUtf8());
    QFile::setPermissions(gate, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    writeFile(path("user.reg"),
        QStringLiteral("REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Brindlewick\\Quillbox]\n"
                       "\"AccessProg\"=\"HKCU\\\\Software\\\\Gate\\\\Path\"\n"
                       "\"AllowAccess\"=\"/open \\\"two words\\\"\"\n\"DisallowAccess\"=\"/close\"\n\n"
                       "[HKEY_CURRENT_USER\\Software\\Gate]\n\"Path\"=\"%1\"\n")
            .arg(gate)
            .toUtf8());

    ScriptedPerson person;
    Session session(person);
    auto window = makeWindow(session);
    box(*window, "txtMailFolder")->setText(kInbox);

    window->automate(QStringLiteral("export"), QString());
    window->automate(QStringLiteral("search"), QString());
    // Save with a blank Save-to box: the hooks run around the save run's own message.
    window->automate(QStringLiteral("save"), QString());
    EXPECT_EQ(person.messages(), QStringList { "The 'Save to' box is blank" });

    waitForLines(log, 4);
    QTest::qWait(200); // time for a start that should not have happened to show up
    const QStringList lines = waitForLines(log, 0);
    EXPECT_EQ(argumentsInStartOrder(lines),
        (QStringList { "[/open] [two words]", "[/close]", "[/open] [two words]", "[/close]" }))
        << lines.join(u'\n').toStdString();
}

TEST(startDetached, ReportsWhatCannotBeStarted)
{
    QTemporaryDir dir;
    const QString missing = dir.filePath("no such gate");
    const Status notFound = startDetached(accessCommandLine(missing, QStringLiteral("/open")));
    ASSERT_FALSE(notFound);
    EXPECT_EQ(notFound.error().code, Error::Code::NotFound);
    EXPECT_EQ(notFound.error().path, missing);

    EXPECT_FALSE(startDetached(QStringLiteral("   ")));
    EXPECT_TRUE(runAllowAccess(AccessSettings {}));
}

TEST_F(MainWindowTest, ExportWritesTheListByteForByte)
{
    ScriptedPerson person;
    Settings settings;
    settings.textFormat = QStringLiteral("%1 %2 %3");
    ResultList list;
    list.appendRow(
        test::rowOfTexts({ "090812 143005", "grüße@example.org", "Line one\nline two", "To", "R", "ID", "F", "L" }));
    list.appendRow(test::rowOfTexts({ "100101 000000", "b@example.org", "100% €", "To", "R", "ID", "F", "L" }));
    const QString file = path("sub/list.txt");

    ASSERT_TRUE(exportListToText(person, settings, list, file));
    EXPECT_EQ(readFile(file),
        QByteArray("090812 143005 gr\xc3\xbc\xc3\x9f"
                   "e@example.org Line one\nline two\r\n"
                   "100101 000000 b@example.org 100% \xe2\x82\xac\r\n"));

    // The template is read for the export as it stands; an empty list empties the file, still opened.
    settings.textFormat = QStringLiteral("%6");
    ResultList empty;
    ASSERT_TRUE(exportListToText(person, settings, empty, file));
    EXPECT_EQ(readFile(file), QByteArray());
    EXPECT_EQ(person.opened(), (QStringList { file, file }));
    EXPECT_TRUE(person.messages().isEmpty());
}

TEST_F(MainWindowTest, ExportThatCannotWriteSaysWhereAndWhy)
{
    writeFile(path("plain"), "a file, not a folder");
    QDir().mkpath(path("taken/list.txt"));
    Settings settings;
    ResultList list;
    list.appendRow(test::rowOfTexts({ "a", "b", "c" }));
    // The folder is a file; a directory stands where the file goes.
    for (const QString& file : { path("plain/list.txt"), path("taken/list.txt") }) {
        SCOPED_TRACE(file.toStdString());
        ScriptedPerson person;
        EXPECT_FALSE(exportListToText(person, settings, list, file));
        const QString told = QLatin1String("Can't write the list to ") + file + QLatin1String(": ");
        ASSERT_EQ(person.messages().size(), 1);
        EXPECT_TRUE(person.messages()[0].startsWith(told) && person.messages()[0].size() > told.size() + 1)
            << person.messages()[0].toStdString();
        EXPECT_TRUE(person.opened().isEmpty());
    }
    EXPECT_EQ(readFile(path("plain")), QByteArray("a file, not a folder"));
}

TEST_F(MainWindowTest, ChoosersAndHelpGoThroughThePerson)
{
    ScriptedPerson cancelling;
    EXPECT_EQ(getDir(cancelling, QStringLiteral("t")), QString());
    const std::pair<const char*, const char*> chosen[]
        = { { "/srv/mail", "/srv/mail/" }, { "/srv/", "/srv/" }, { "/", "/" } };
    for (const auto& [dir, expected] : chosen) {
        ScriptedPerson person;
        person.addDirectory(QString::fromUtf8(dir));
        EXPECT_EQ(getDir(person, QStringLiteral("t")), QLatin1String(expected));
    }
    ScriptedPerson person;
    Session session(person);
    auto window = makeWindow(session);
    box(*window, "txtDir")->setText(QStringLiteral("/keep"));
    box(*window, "txtMailFolder")->setText(QStringLiteral("\\\\Keep"));
    person.addDirectory(QStringLiteral("/srv/out"));
    person.addPickedFolder(QStringLiteral("\\\\Sample Mailbox\\Sent"));
    window->findChild<QPushButton*>(QStringLiteral("cmdBrowse"))->click();
    window->findChild<QPushButton*>(QStringLiteral("cmdGetMailFolder"))->click();
    EXPECT_EQ(box(*window, "txtDir")->text(), QLatin1String("/srv/out/"));
    EXPECT_EQ(box(*window, "txtMailFolder")->text(), QLatin1String("\\\\Sample Mailbox\\Sent"));
    // Cancelled: both boxes stay as they were.
    window->findChild<QPushButton*>(QStringLiteral("cmdBrowse"))->click();
    window->findChild<QPushButton*>(QStringLiteral("cmdGetMailFolder"))->click();
    EXPECT_EQ(box(*window, "txtDir")->text(), QLatin1String("/srv/out/"));
    EXPECT_EQ(box(*window, "txtMailFolder")->text(), QLatin1String("\\\\Sample Mailbox\\Sent"));
    EXPECT_EQ(person.prompts(),
        (QStringList { "Choose Directory at /keep", "<pick mail folder>", "Choose Directory at /srv/out/",
            "<pick mail folder>" }));

    window->show();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    QTest::keyClick(box(*window, "txtDir"), Qt::Key_F1);
    action(*window, "mnuHelpFAQ")->trigger();
    action(*window, "mnuHelpSupport")->trigger();
    EXPECT_EQ(person.opened(),
        (QStringList { helpPagePath(), "https://brindlewick.example/quillbox/faq",
            "https://brindlewick.example/quillbox/support" }));
    EXPECT_TRUE(helpPagePath().endsWith(QLatin1String("/Help/index.html")));
}

TEST_F(MainWindowTest, AboutBoxIsModalAndNamesTheVersion)
{
    ScriptedPerson person;
    Session session(person);
    auto window = makeWindow(session);
    window->show();
    EXPECT_FALSE(QPixmap(QStringLiteral(":/quillbox/quillbox.png")).isNull()) << "the window icon is built in";
    QString title, version;
    QTimer::singleShot(0, [&] {
        QWidget* about = QApplication::activeModalWidget();
        ASSERT_NE(about, nullptr);
        title = about->windowTitle();
        version = about->findChild<QLabel*>(QStringLiteral("lblVersion"))->text();
        about->close();
    });
    action(*window, "mnuHelpAbout")->trigger();
    EXPECT_EQ(title, QLatin1String("About Quillbox"));
    EXPECT_TRUE(version.startsWith(QLatin1String("Version "))) << version.toStdString();
}

TEST_F(MainWindowTest, ClosingTheWindowClosesTheOptionsDialog)
{
    ScriptedPerson person;
    Session session(person);
    auto window = makeWindow(session);
    window->show();
    action(*window, "mnuOptions")->trigger();
    QPointer<OptionsDialog> dialog = window->optionsDialog();
    ASSERT_TRUE(dialog && dialog->isVisible());
    action(*window, "mnuFileExit")->trigger();
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(dialog.isNull());
    EXPECT_FALSE(QFile::exists(path("Quillbox.ini"))) << "closing saves nothing";
}

TEST_F(MainWindowTest, StartFillsTheBoxesAndShowsTheWindowAtItsPlace)
{
    writeFile(path("txt.ini"), "[Options]\nFnOutput=TXT\n");
    const QString out = path("out");
    struct Case {
        const char* why;
        StartupState state;
        std::optional<int> status;
        const char* dir;
        bool shown;
        bool saved;
    };
    const Case cases[] = {
        { "three fill the first box only, and the usage message comes before the window",
            { { kInbox, out, "c" }, {}, 0, false }, 2, "", false, false },
        { "autorun: the window shows the search and the save", { { kInbox, out }, path("txt.ini"), 0, true }, 0, "out",
            true, true },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        QDir(out).removeRecursively();
        ScriptedPerson person;
        Session session(person);
        auto window = makeWindow(session);
        bool hourglass = false; // while the save writes
        person.onProgressValue([&hourglass](qint64) {
            const QCursor* cursor = QGuiApplication::overrideCursor();
            hourglass = cursor && cursor->shape() == Qt::WaitCursor;
        });
        EXPECT_EQ(window->start(c.state), c.status);
        EXPECT_EQ(hourglass, c.saved);
        EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
        EXPECT_EQ(window->isVisible(), c.shown);
        EXPECT_EQ(box(*window, "txtMailFolder")->text(), kInbox);
        EXPECT_EQ(box(*window, "txtDir")->text(), *c.dir ? path(QLatin1String(c.dir)) : QString());
        EXPECT_EQ(person.messages().isEmpty(), c.status != 2) << person.messages().join(u'|').toStdString();
        const auto* view = window->findChild<QTreeView*>(QStringLiteral("ListView1"));
        EXPECT_EQ(view->model()->rowCount() > 10, c.saved);
        EXPECT_EQ(QDir(out).entryList(QDir::Files).size(), c.saved ? view->model()->rowCount() : 0);
    }
}

namespace {

/// A Maildir store "Big" of `count` small mails in `root`, listed in the profile `profile`; with `folders` above 1,
/// mail i lies in the sub-folder "F<i % folders>".
void writeBigStore(const QString& root, const QString& profile, int count, int folders = 1)
{
    for (int i = 0; i < count; ++i) {
        const QString folder
            = folders > 1 ? QStringLiteral("/F%1").arg(i % folders, 4, 10, QLatin1Char('0')) : QString();
        const QByteArray mail = QStringLiteral("From: a%1@example.org\nTo: b@example.org\nSubject: Mail %1\n"
                                               "Date: Mon, 3 Feb 2020 10:00:00 +0000\n\nBody of mail %1.\n")
                                    .arg(i)
                                    .toUtf8();
        test::writeFile(root + folder + QStringLiteral("/cur/%1.host:2,S").arg(1580000000 + i), mail);
    }
    test::writeFile(profile, ("[Stores]\nBig=" + root + "\n").toUtf8());
}

/// Counts the paint events of a widget.
class PaintCounter : public QObject {
public:
    int paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        paints += event->type() == QEvent::Paint;
        return false;
    }
};

} // namespace

// A save run goes on its own thread: the window paints while it runs, and the progress window or closing
// the main window stops it between two mails, every file written so far whole.
TEST_F(MainWindowTest, SaveRunCanBeCancelledAndTheWindowKeepsPainting)
{
    constexpr int kMails = 1500;
    writeBigStore(path("big"), path("profile.ini"), kMails);
    const QString out = path("out");
    const QString whole = path("whole");
    enum class Stop { Progress, CloseWindow, None };
    const Stop stops[] = { Stop::None, Stop::Progress, Stop::CloseWindow };
    for (const Stop stop : stops) {
        SCOPED_TRACE(int(stop));
        ScriptedPerson person;
        Session session(person);
        auto window = makeWindow(session);
        window->show();
        box(*window, "txtMailFolder")->setText(QStringLiteral("\\\\Big"));
        box(*window, "txtDir")->setText(stop == Stop::None ? whole : out);
        window->automate(QStringLiteral("search"), QString());
        ASSERT_EQ(session.resultList().count(), kMails);

        auto* view = window->findChild<QTreeView*>(QStringLiteral("ListView1"));
        PaintCounter counter;
        view->viewport()->installEventFilter(&counter);
        QTimer repaint;
        bool commandsOff = false;
        QObject::connect(&repaint, &QTimer::timeout, [&] {
            if (!session.saving())
                return;
            view->viewport()->update();
            commandsOff = !window->findChild<QPushButton*>(QStringLiteral("cmdSearch"))->isEnabled();
            // Enter in the box is not a button: the session itself runs one command at a time.
            box(*window, "txtMailFolder")->setText(kInbox);
            QTest::keyClick(box(*window, "txtMailFolder"), Qt::Key_Return);
            if (counter.paints >= 3 && stop == Stop::CloseWindow)
                window->close();
        });
        repaint.start(1);
        if (stop == Stop::Progress)
            person.onProgressValue([&](qint64 value) {
                if (counter.paints >= 3)
                    person.cancelAtValue(value);
            });
        window->automate(QStringLiteral("save"), QString());
        repaint.stop();
        ASSERT_TRUE(session.lastSave().has_value());
        if (stop == Stop::None) {
            EXPECT_TRUE(session.lastSave()->ok());
            EXPECT_EQ(QDir(whole).entryList(QDir::Files).size(), kMails);
            continue;
        }
        EXPECT_GE(counter.paints, 3) << "the list paints while the run goes";
        EXPECT_TRUE(commandsOff) << "Search waits for the run to end";
        EXPECT_EQ(session.resultList().count(), kMails) << "no search while the run reads the list";
        const SaveSummary& summary = *session.lastSave();
        EXPECT_TRUE(summary.cancelled);
        EXPECT_LT(summary.written, kMails);
        EXPECT_EQ(person.messages(),
            QStringList { QStringLiteral("Saving was cancelled: %1 of %2 emails were saved, %3 were not.")
                              .arg(summary.written)
                              .arg(kMails)
                              .arg(kMails - summary.written) });
        const QStringList files = QDir(out).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        EXPECT_EQ(files.size(), summary.written) << "no temporary file is left";
        for (const QString& file : files)
            EXPECT_EQ(readFile(out + u'/' + file), readFile(whole + u'/' + file)) << file.toStdString();
        EXPECT_EQ(window->isVisible(), stop != Stop::CloseWindow);
        EXPECT_TRUE(window->findChild<QPushButton*>(QStringLiteral("cmdSearch"))->isEnabled());
        QDir(out).removeRecursively();
    }
}

// A search of a big tree runs off the window's thread: the hourglass shows, the status bar counts the folders, and
// Escape, the status bar's Cancel or closing the window stops it between two folders, with the rows of the folders
// read listed in the order a whole search gives them. A folder that is not there leaves the last rows listed.
TEST_F(MainWindowTest, SearchOfABigTreeCountsFoldersCanBeCancelledAndKeepsRowsOnAMistake)
{
    constexpr int kFolders = 800;
    writeBigStore(path("tree"), path("profile.ini"), kFolders, kFolders);
    enum class Stop { None, Escape, Button, CloseWindow, Mistyped };
    QStringList whole;
    // A busy machine may let the search read every folder before the window hears of the first: then it goes again.
    for (const Stop stop : { Stop::None, Stop::Escape, Stop::Button, Stop::CloseWindow, Stop::Mistyped })
        for (int attempt = 1; attempt <= 5; ++attempt) {
            SCOPED_TRACE(int(stop));
            ScriptedPerson person;
            Session session(person);
            auto window = makeWindow(session);
            window->show();
            window->activateWindow();
            ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
            auto* cancel = window->findChild<QPushButton*>(QStringLiteral("cmdCancelSearch"));
            ASSERT_TRUE(cancel);
            QStringList told;
            bool hourglass = false;
            bool cancelShown = false;
            QObject::connect(window->statusBar(), &QStatusBar::messageChanged, window.get(), [&](const QString& text) {
                told << text;
                if (!text.contains(QLatin1String(" folders read, ")) || !session.searching())
                    return;
                const QCursor* cursor = QGuiApplication::overrideCursor();
                hourglass = hourglass || (cursor && cursor->shape() == Qt::WaitCursor);
                cancelShown = cancelShown || cancel->isVisible();
                if (stop == Stop::Escape)
                    QTest::keyClick(window.get(), Qt::Key_Escape);
                else if (stop == Stop::Button)
                    cancel->click();
                else if (stop == Stop::CloseWindow)
                    window->close();
            });
            if (stop == Stop::Mistyped) {
                session.resultList().appendRow(ResultRow { .subject = QStringLiteral("found before") });
                box(*window, "txtMailFolder")->setText(QStringLiteral("\\\\Big\\F0000x"));
            } else {
                box(*window, "txtMailFolder")->setText(QStringLiteral("\\\\Big"));
            }
            window->automate(QStringLiteral("search"), QString());
            QStringList rows;
            for (int i = 0; i < session.resultList().count(); ++i)
                rows << session.resultList().row(i).subject;
            EXPECT_FALSE(cancel->isVisible());
            EXPECT_EQ(window->isVisible(), stop != Stop::CloseWindow);
            if (stop == Stop::Mistyped) {
                EXPECT_EQ(rows, QStringList { "found before" });
                EXPECT_EQ(person.messages(), QStringList { "Can't access the specified Mail Folder." });
                EXPECT_EQ(told.last(), QLatin1String("The list still shows the results of the last search"));
                break;
            }
            const SearchOutcome& outcome = *session.lastSearch();
            if (attempt < 5 && (!hourglass || (stop != Stop::None && !outcome.stopped)))
                continue;
            EXPECT_TRUE(person.messages().isEmpty()) << person.messages().join(u'|').toStdString();
            EXPECT_TRUE(hourglass);
            EXPECT_TRUE(cancelShown);
            EXPECT_TRUE(told.first().startsWith(QLatin1String("Searching... 0 folders read")));
            if (stop == Stop::None) {
                whole = rows;
                EXPECT_EQ(rows.size(), kFolders);
                EXPECT_EQ(told.last(), QStringLiteral("%1 e-mails listed").arg(kFolders));
                break;
            }
            EXPECT_LT(rows.size(), kFolders);
            EXPECT_EQ(rows, whole.mid(0, rows.size()));
            EXPECT_TRUE(outcome.stopped);
            const QString listed = rows.size() == 1 ? QStringLiteral("1 e-mail listed")
                                                    : QStringLiteral("%1 e-mails listed").arg(rows.size());
            EXPECT_EQ(
                told.last(), QStringLiteral("Search cancelled after %1 folders: %2").arg(outcome.folders).arg(listed));
            break;
        }
}

// A save names the rows' sub-folders below the folder they were found in: a mistyped folder searched since (which
// leaves the rows listed) or typed into the box does not cut their names.
TEST_F(MainWindowTest, SaveAfterAMistypedSearchNamesFoldersByTheListedSearch)
{
    writeBigStore(path("tree"), path("profile.ini"), 2, 2);
    ScriptedPerson person;
    Session session(person);
    auto window = makeWindow(session);
    session.options().settings().useFnFolder = 1;
    box(*window, "txtDir")->setText(path("out"));
    for (const char* folder : { "\\\\Big", "\\\\Big\\F0000x" }) {
        box(*window, "txtMailFolder")->setText(QString::fromUtf8(folder));
        window->automate(QStringLiteral("search"), QString());
    }
    ASSERT_EQ(session.resultList().count(), 2);
    box(*window, "txtMailFolder")->setText(QStringLiteral("\\\\Big\\F0001"));
    window->automate(QStringLiteral("save"), QString());
    EXPECT_EQ(QDir(path("out")).entryList(QDir::Dirs | QDir::NoDotAndDotDot), (QStringList { "F0000", "F0001" }))
        << person.messages().join(u'|').toStdString() << QDir(path("out")).entryList().join(u'|').toStdString();
}

namespace {

/// The texts of `column` down the view, in the order it shows them.
QStringList shownColumn(const QTreeView& view, int column)
{
    QStringList texts;
    for (int row = 0; row < view.model()->rowCount(); ++row)
        texts << view.model()->index(row, column).data().toString();
    return texts;
}

void clickHeader(QTreeView& view, int column)
{
    QHeaderView* header = view.header();
    const QPoint at(header->sectionViewportPosition(column) + header->sectionSize(column) / 2, header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
}

} // namespace

// A click on a header sorts the view by the column's value, times by their time; the list keeps its order.
TEST_F(MainWindowTest, HeaderClickSortsTheViewByValueNotTheList)
{
    ScriptedPerson person;
    Session session(person);
    auto window = makeWindow(session);
    window->show();
    const auto day = [](int y, int m, int d) { return QDateTime(QDate(y, m, d), QTime(9, 0)); };
    struct Mail {
        QDateTime sent;
        const char* from;
        const char* subject;
    };
    const Mail mails[] = { { day(2019, 12, 15), "b@x", "two\nlines" }, { day(2020, 1, 2), "a@x", "later" },
        { {}, "c@x", "no date" }, { day(2019, 11, 20), "B@x", "earlier" } };
    for (const Mail& m : mails)
        session.resultList().appendRow(ResultRow { .sent = m.sent,
            .from = QLatin1String(m.from),
            .subject = QLatin1String(m.subject),
            .sentText = m.sent.isValid() ? m.sent.toString(QStringLiteral("dd/MM/yyyy")) : QString() });
    auto* view = window->findChild<QTreeView*>(QStringLiteral("ListView1"));
    EXPECT_EQ(shownColumn(*view, ColSent), (QStringList { "15/12/2019", "02/01/2020", "", "20/11/2019" }))
        << "as searched until a header is clicked";
    EXPECT_EQ(shownColumn(*view, ColSubject)[0], QLatin1String("two lines")) << "one line per row";

    struct Click {
        int column;
        QStringList sent; ///< the Sent column down the view after the click
    };
    const Click clicks[] = {
        { ColSent, { "", "20/11/2019", "15/12/2019", "02/01/2020" } },
        { ColSent, { "02/01/2020", "15/12/2019", "20/11/2019", "" } },
        { ColFrom, { "02/01/2020", "15/12/2019", "20/11/2019", "" } }, // a@x, b@x, B@x, c@x
    };
    for (const Click& c : clicks) {
        clickHeader(*view, c.column);
        EXPECT_EQ(shownColumn(*view, ColSent), c.sent) << c.column;
    }
    QStringList listed;
    for (int i = 0; i < session.resultList().count(); ++i)
        listed << session.resultList().row(i).subject;
    EXPECT_EQ(listed, (QStringList { "two\nlines", "later", "no date", "earlier" }));
    EXPECT_TRUE(view->header()->stretchLastSection());
    EXPECT_LE(window->minimumWidth(), window->width());
    EXPECT_GT(window->minimumHeight(), 0);
}

// Save Selected writes the selected rows alone, as Save would; Copy puts their cells on the clipboard; after a
// search and a save the status bar says what happened.
TEST_F(MainWindowTest, SelectedRowsSaveAndCopyAndTheStatusBarTells)
{
    ScriptedPerson person;
    Session session(person);
    auto window = makeWindow(session);
    window->show();
    session.options().settings().fnFormat = QStringLiteral("%6");
    session.options().settings().fnOutput = QStringLiteral("EML");
    const QString out = path("out");
    box(*window, "txtMailFolder")->setText(kInbox);
    box(*window, "txtDir")->setText(out);
    QStringList told;
    QObject::connect(window->statusBar(), &QStatusBar::messageChanged, [&](const QString& text) { told << text; });
    window->findChild<QPushButton*>(QStringLiteral("cmdSearch"))->click();
    const int rows = session.resultList().count();
    ASSERT_GT(rows, 5);
    ASSERT_GE(told.size(), 2);
    EXPECT_TRUE(told[0].startsWith(QLatin1String("Searching... "))) << "counts while it searches";
    // The sample Inbox holds a meeting request and a delivery report.
    EXPECT_EQ(told.last(), QStringLiteral("%1 e-mails listed; 2 items that are not e-mail were not listed").arg(rows));

    auto* view = window->findChild<QTreeView*>(QStringLiteral("ListView1"));
    clickHeader(*view, ColSubject);
    QItemSelectionModel* selection = view->selectionModel();
    for (const int row : { 1, 4 })
        selection->select(view->model()->index(row, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    QStringList expected, copied;
    for (const int row : { 1, 4 }) {
        expected << view->model()->index(row, ColEntryID).data().toString() + QStringLiteral(".eml");
        QStringList cells;
        for (int column = 0; column < ColumnCount; ++column)
            cells << view->model()->index(row, column).data().toString();
        copied << cells.join(u'\t');
    }
    expected.sort();
    window->findChild<QAction*>(QStringLiteral("actSaveSelected"))->trigger();
    EXPECT_EQ(QDir(out).entryList(QDir::Files), expected);
    EXPECT_TRUE(person.messages().isEmpty()) << person.messages().join(u'|').toStdString();
    EXPECT_EQ(window->statusBar()->currentMessage(), QStringLiteral("2 e-mails saved to %1").arg(out));
    auto* openFolder = window->findChild<QPushButton*>(QStringLiteral("cmdOpenFolder"));
    ASSERT_TRUE(openFolder && openFolder->isVisible());
    openFolder->click();
    EXPECT_EQ(person.opened(), QStringList { out });

    window->findChild<QAction*>(QStringLiteral("actCopy"))->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), copied.join(u'\n') + u'\n');
    EXPECT_EQ(session.resultList().count(), rows);
}

TEST(saveStatusText, CountsWhatWasSavedFailedAndLeft)
{
    struct Case {
        SaveSummary summary;
        const char* text;
    };
    const Case cases[] = {
        { { .rows = 1, .written = 1 }, "1 e-mail saved to /o" },
        { { .rows = 12, .written = 10, .failed = 2 }, "10 e-mails saved to /o; 2 could not be written" },
        { { .rows = 20, .written = 5, .failed = 1, .cancelled = true },
            "5 e-mails saved to /o; 1 could not be written; cancelled, 14 not saved" },
    };
    for (const Case& c : cases)
        EXPECT_EQ(saveStatusText(c.summary, QStringLiteral("/o")), QLatin1String(c.text));
}

// Size, place, column widths and the two boxes are kept in $XDG_CONFIG_HOME/Quillbox/ from one run to the
// next; an unattended start works on its arguments alone.
TEST_F(MainWindowTest, RemembersItsStateAcrossStartUps)
{
    const test::ScopedEnv config { { "XDG_CONFIG_HOME", path("config") } };
    ASSERT_EQ(rememberedStatePath(), path("config/Quillbox/window.ini"));
    const QString gone = path("no longer here");
    {
        ScriptedPerson person;
        Session session(person);
        auto window = makeWindow(session);
        window->show();
        window->resize(window->width() + 90, window->height() + 40);
        window->findChild<QTreeView*>(QStringLiteral("ListView1"))->setColumnWidth(ColFrom, 211);
        box(*window, "txtMailFolder")->setText(kInbox);
        box(*window, "txtDir")->setText(gone);
        window->close();
    }
    ASSERT_TRUE(QFileInfo::exists(rememberedStatePath()));
    struct Case {
        const char* why;
        bool unattended;
        QString mailFolder, dir;
    };
    const Case cases[] = { { "a second start", false, kInbox, gone }, { "unattended", true, "", "" } };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        ScriptedPerson person;
        Session session(person);
        auto window = makeWindow(session);
        EXPECT_EQ(window->findChild<QTreeView*>(QStringLiteral("ListView1"))->columnWidth(ColFrom), 211);
        EXPECT_GT(window->width(), window->minimumWidth());
        EXPECT_EQ(window->statusBar()->currentMessage(),
            QStringLiteral("The folder %1 is no longer there; Save makes it again.").arg(gone));
        if (c.unattended) {
            // Too many arguments: the start ends before any command, with the boxes as the arguments left them.
            static_cast<void>(window->start({ { "a", "b", "c" }, {}, 0, true }));
            EXPECT_EQ(box(*window, "txtMailFolder")->text(), QLatin1String("a"));
            EXPECT_EQ(box(*window, "txtDir")->text(), c.dir);
            continue;
        }
        EXPECT_EQ(box(*window, "txtMailFolder")->text(), c.mailFolder);
        EXPECT_EQ(box(*window, "txtDir")->text(), c.dir);
    }
}

// Writes screenshot-main.png (the window after a search of the sample store's Inbox, sorted by Sent) into
// $QUILLBOX_SCREENSHOTS when it is set.
TEST_F(MainWindowTest, Screenshot)
{
    const QString target = qEnvironmentVariable("QUILLBOX_SCREENSHOTS");
    if (target.isEmpty())
        GTEST_SKIP() << "QUILLBOX_SCREENSHOTS is not set";
    ScriptedPerson person;
    Session session(person);
    auto window = makeWindow(session);
    window->resize(900, 420);
    window->show();
    box(*window, "txtMailFolder")->setText(kInbox);
    box(*window, "txtDir")->setText(QStringLiteral("/home/me/Saved mail"));
    window->findChild<QPushButton*>(QStringLiteral("cmdSearch"))->click();
    auto* view = window->findChild<QTreeView*>(QStringLiteral("ListView1"));
    clickHeader(*view, ColSent);
    view->selectionModel()->select(view->model()->index(2, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    QTest::qWait(200);
    EXPECT_TRUE(window->grab().save(QDir(target).filePath(QStringLiteral("screenshot-main.png"))));
}

// A file-system path in the Mail Folder box is offered as a new store before the search.
TEST_F(MainWindowTest, TypedPathIsOfferedAsAStore)
{
    writeBigStore(path("typed"), path("other.ini"), 3); // a Maildir of three mails; its profile is not used
    test::writeFile(path("notes.txt"), "not a store");
    struct Case {
        QString typed;
        bool yes;
        QString box; ///< the box after the search
        int rows;
        const char* message; ///< how the first message starts; "" for none
    };
    const Case cases[] = {
        { path("typed"), true, "\\\\typed", 3, "" },
        { path("typed"), false, path("typed"), 0, "Error: folder path should start with \\\\" },
        { path("notes.txt"), true, path("notes.txt"), 0, "" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed.toStdString() + (c.yes ? " yes" : " no"));
        writeFile(path("profile.ini"), "[Stores]\nSample Mailbox=" SOURCE_DIR "/samples/Sample Mailbox\n");
        ScriptedPerson person;
        person.addQuestionAnswer(c.yes);
        Session session(person);
        auto window = makeWindow(session);
        box(*window, "txtMailFolder")->setText(c.typed);
        window->automate(QStringLiteral("search"), QString());
        ASSERT_EQ(person.prompts().size(), 1);
        EXPECT_TRUE(person.prompts()[0].endsWith(QLatin1String("Add it as a mail store?")));
        EXPECT_EQ(box(*window, "txtMailFolder")->text(), c.box);
        EXPECT_EQ(session.resultList().count(), c.rows);
        const QString first = person.messages().value(0);
        const QString expected = c.typed.endsWith(QLatin1String(".txt"))
            ? c.typed + QLatin1String(" could not be added as a mail store.")
            : QString::fromUtf8(c.message);
        EXPECT_EQ(first.left(expected.size()), expected) << person.messages().join(u'|').toStdString();
    }
}

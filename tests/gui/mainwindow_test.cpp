// SPDX-License-Identifier: MIT
// The main window offscreen, with a scripted person: its controls and menus, the commands and their access
// program hooks, the list export, the directory chooser and the start-up sequence.
#include "app/session.h"
#include "config/accesshook.h"
#include "config/options.h"
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
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
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
        (QStringList { "Label1=Mail Folder sans", "txtMailFolder=", "cmdGetMailFolder=... sans",
            "cmdSearch=Search sans", "Label3=Contents sans", "ListView1=", "Label2=Save to: sans", "txtDir= sans",
            "cmdBrowse=... sans", "cmdSave=Save sans" }));

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
        (QStringList { "Choose Directory", "<pick mail folder>", "Choose Directory", "<pick mail folder>" }));

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

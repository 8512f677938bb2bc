// SPDX-License-Identifier: MIT
// The main window on a real X server (xvfb-run, no window manager), driven with Qt's test input as a
// person would: a search of a generated store of 20,000 mails, a sort, Save Selected, and a save of all of
// them cancelled from its progress window. Real dialogs answer through the window person.
#include "app/session.h"
#include "gui/guiperson.h"
#include "gui/mainwindow.h"
#include "mail/resultlist.h"
#include "output/saverun.h"
#include "support/testenv.h"
#include "support/testfiles.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QHeaderView>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <gtest/gtest.h>

using namespace quillbox;

namespace {

constexpr int kMails = 20'000;

QWidget* visibleTopLevel(const char* name)
{
    for (QWidget* window : QApplication::topLevelWidgets())
        if (window->objectName() == QLatin1String(name) && window->isVisible())
            return window;
    return nullptr;
}

/// Presses OK in every message box that opens and keeps its text.
class BoxAnswerer : public QObject {
public:
    QStringList texts;
    BoxAnswerer()
    {
        m_timer.callOnTimeout([this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                texts << box->text();
                box->button(QMessageBox::Ok)->click();
            }
        });
        m_timer.start(20);
    }

private:
    QTimer m_timer;
};

/// The files directly in `dir`, temporary ones included.
QStringList filesIn(const QString& dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

} // namespace

TEST(WindowEndToEnd, SearchSortSaveSelectedAndCancelABigSave)
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs an X server (run under xvfb-run)";
    QTemporaryDir temp;
    ASSERT_TRUE(temp.isValid());
    const QString store = temp.filePath(QStringLiteral("big"));
    QProcess generate;
    generate.start(QStringLiteral(QUILLBOX_GENMAILDIR),
        { QStringLiteral("--count"), QString::number(kMails), QStringLiteral("--size"), QStringLiteral("1500"),
            QStringLiteral("--attachments"), QStringLiteral("0"), QStringLiteral("--out"), store });
    ASSERT_TRUE(generate.waitForFinished(120'000));
    ASSERT_EQ(generate.exitCode(), 0) << generate.readAllStandardError().toStdString();
    test::writeFile(temp.filePath(QStringLiteral("profile.ini")), ("[Stores]\nBig=" + store + "\n").toUtf8());
    const test::ScopedEnv env { { "QUILLBOX_PROFILE", temp.filePath(QStringLiteral("profile.ini")) },
        { "QUILLBOX_HKCU", temp.filePath(QStringLiteral("user.reg")) },
        { "QUILLBOX_HKLM", temp.filePath(QStringLiteral("system.reg")) },
        { "XDG_CONFIG_HOME", temp.filePath(QStringLiteral("config")) } };

    GuiPerson person;
    Session session(person);
    session.options().useCustomIni(temp.filePath(QStringLiteral("Quillbox.ini")));
    MainWindow window(session);
    window.resize(1000, 600);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    BoxAnswerer answers;

    // Search: the folder typed, then Enter.
    auto* mailFolder = window.findChild<QLineEdit*>(QStringLiteral("txtMailFolder"));
    QTest::mouseClick(mailFolder, Qt::LeftButton);
    QTest::keyClicks(mailFolder, QStringLiteral("\\\\Big"));
    QTest::keyClick(mailFolder, Qt::Key_Return);
    ASSERT_EQ(session.resultList().count(), kMails) << answers.texts.join(u'|').toStdString();
    EXPECT_EQ(window.statusBar()->currentMessage(), QStringLiteral("20000 e-mails listed"));

    // Sort by Received, by a click on its header: the view goes by time, the list stays as searched.
    auto* view = window.findChild<QTreeView*>(QStringLiteral("ListView1"));
    QHeaderView* header = view->header();
    const QString firstListed = session.resultList().row(0).entryId;
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
        QPoint(header->sectionViewportPosition(ColReceived) + 5, header->height() / 2));
    QDateTime previous;
    for (int row = 0; row < kMails; row += 97) {
        const QDateTime at = view->model()->index(row, ColReceived).data(ResultList::ValueRole).toDateTime();
        EXPECT_TRUE(!previous.isValid() || previous <= at) << row;
        previous = at;
    }
    EXPECT_EQ(session.resultList().row(0).entryId, firstListed);

    // Save Selected: three rows picked with the mouse, Ctrl held for the second and third.
    const QString selectedDir = temp.filePath(QStringLiteral("selected"));
    auto* dir = window.findChild<QLineEdit*>(QStringLiteral("txtDir"));
    QTest::mouseClick(dir, Qt::LeftButton);
    QTest::keyClicks(dir, selectedDir);
    QStringList picked;
    for (const int row : { 0, 2, 5 }) {
        const QRect cell = view->visualRect(view->model()->index(row, ColSubject));
        QTest::mouseClick(view->viewport(), Qt::LeftButton, row ? Qt::ControlModifier : Qt::NoModifier, cell.center());
        picked << view->model()->index(row, ColSubject).data().toString();
    }
    view->findChild<QAction*>(QStringLiteral("actSaveSelected"))->trigger();
    EXPECT_EQ(filesIn(selectedDir).size(), 3) << filesIn(selectedDir).join(u'|').toStdString();
    for (const QString& file : filesIn(selectedDir)) {
        EXPECT_TRUE(file.endsWith(QLatin1String(".msg")));
        EXPECT_GT(QFileInfo(selectedDir + u'/' + file).size(), 1000);
    }

    // Save all, cancelled from the progress window once a few hundred are written.
    const QString allDir = temp.filePath(QStringLiteral("all"));
    dir->selectAll();
    QTest::keyClicks(dir, allDir);
    bool cancelled = false;
    QTimer cancel;
    cancel.callOnTimeout([&] {
        QWidget* progress = visibleTopLevel("frmProgress");
        if (!progress || cancelled || progress->findChild<QProgressBar*>()->value() < 300)
            return;
        QTest::mouseClick(progress->findChild<QPushButton*>(QStringLiteral("cmdCancel")), Qt::LeftButton);
        cancelled = true;
    });
    cancel.start(10);
    answers.texts.clear();
    QTest::mouseClick(window.findChild<QPushButton*>(QStringLiteral("cmdSave")), Qt::LeftButton);
    cancel.stop();
    ASSERT_TRUE(cancelled);
    ASSERT_TRUE(session.lastSave().has_value());
    const SaveSummary& summary = *session.lastSave();
    EXPECT_TRUE(summary.cancelled);
    EXPECT_GE(summary.written, 300);
    EXPECT_LT(summary.written, kMails);
    EXPECT_EQ(answers.texts,
        QStringList { QStringLiteral("Saving was cancelled: %1 of 20000 emails were saved, %2 were not.")
                          .arg(summary.written)
                          .arg(kMails - summary.written) });
    const QStringList saved = filesIn(allDir);
    EXPECT_EQ(saved.size(), summary.written) << "no temporary or cut file is left";
    for (const QString& file : saved)
        ASSERT_GT(QFileInfo(allDir + u'/' + file).size(), 1000) << file.toStdString();
    EXPECT_EQ(visibleTopLevel("frmProgress"), nullptr);
    EXPECT_TRUE(
        window.statusBar()->currentMessage().startsWith(QStringLiteral("%1 e-mails saved to ").arg(summary.written)));
}

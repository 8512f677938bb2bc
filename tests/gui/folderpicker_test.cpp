// SPDX-License-Identifier: MIT
#include "gui/folderpicker.h"

#include "gui/guiperson.h"
#include "mail/folderpath.h"
#include "mail/profile.h"
#include "support/qtprinters.h"
#include "support/scriptedperson.h"
#include "support/testenv.h"
#include "support/testfiles.h"

#include <QAction>
#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <gtest/gtest.h>
#include <memory>

using namespace quillbox;
using quillbox::test::ScriptedPerson;
using quillbox::test::writeFile;

namespace {

const QString kSampleStore = QDir::cleanPath(QStringLiteral(SOURCE_DIR "/samples/Sample Mailbox"));

void makeMaildir(const QString& dir)
{
    for (const char* sub : { "cur", "new", "tmp" })
        ASSERT_TRUE(QDir().mkpath(dir + u'/' + QLatin1String(sub)));
}

// The file's text; empty when there is no file yet.
QString readText(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

QStringList childTexts(const QTreeWidgetItem* item)
{
    QStringList texts;
    for (int i = 0; i < item->childCount(); ++i)
        texts << item->child(i)->text(0);
    return texts;
}

QTreeWidgetItem* childNamed(QTreeWidgetItem* item, const QString& name)
{
    for (int i = 0; i < item->childCount(); ++i)
        if (item->child(i)->text(0) == name)
            return item->child(i);
    return nullptr;
}

// Two small Maildir stores, "Work" (Projects/Deep, nested) and "Home" (.Sent, Maildir++), and a profile
// that lists them with a third store that cannot be opened.
class FolderPickerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        work = dir.filePath(QStringLiteral("work"));
        home = dir.filePath(QStringLiteral("home"));
        makeMaildir(work + QLatin1String("/Projects/Deep"));
        makeMaildir(work + QLatin1String("/Projects"));
        makeMaildir(home);
        makeMaildir(home + QLatin1String("/.Sent"));
    }

    void writeProfile()
    {
        QDir().mkpath(dir.filePath(QStringLiteral("config")));
        writeFile(profile, "[Stores]\nWork=" + work.toUtf8() + "\nHome=" + home.toUtf8() + "\nGone=/nowhere/x.pst\n");
    }

    QTemporaryDir dir;
    QString work, home;
    const QString profile = dir.filePath(QStringLiteral("config/profile.ini"));
    // No mail of this computer is found: HOME is the temporary folder.
    const test::ScopedEnv env { { "QUILLBOX_PROFILE", profile }, { "HOME", dir.path() },
        { "XDG_DATA_HOME", dir.path() }, { "MAIL", QString() } };
    ScriptedPerson person;
};

TEST_F(FolderPickerTest, ShowsEveryStoreAndReadsSubFoldersOnExpanding)
{
    writeProfile();
    FolderPicker picker(person);
    auto* tree = picker.findChild<QTreeWidget*>(QStringLiteral("folders"));
    ASSERT_EQ(tree->topLevelItemCount(), 3);
    EXPECT_EQ(tree->topLevelItem(0)->text(0), "Work");
    EXPECT_EQ(tree->topLevelItem(1)->text(0), "Home");
    EXPECT_EQ(childTexts(tree->topLevelItem(0)), QStringList { "Projects" });
    EXPECT_EQ(childTexts(tree->topLevelItem(1)), (QStringList { "Inbox", "Sent" }));

    QTreeWidgetItem* projects = childNamed(tree->topLevelItem(0), QStringLiteral("Projects"));
    EXPECT_EQ(projects->childCount(), 0); // not read before it is expanded
    projects->setExpanded(true);
    EXPECT_EQ(childTexts(projects), QStringList { "Deep" });

    // The store that cannot be opened is a node that says so, and cannot be chosen.
    QTreeWidgetItem* gone = tree->topLevelItem(2);
    EXPECT_EQ(gone->text(0),
        QLatin1String("Gone (cannot be opened: x.pst is not there: it has been moved, renamed or deleted)"));
    EXPECT_TRUE(gone->toolTip(0).startsWith(QLatin1String("/nowhere/x.pst: "))) << "the system's words";
    tree->setCurrentItem(gone);
    EXPECT_FALSE(picker.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->isEnabled());
}

TEST_F(FolderPickerTest, ReturnsThePathTheResolverReadsOrNothingOnCancel)
{
    writeProfile();
    struct Case {
        const char* why;
        QStringList chain; // the nodes to open, the last one chosen
        bool ok;
        std::optional<QString> expected;
    };
    const Case cases[] = {
        { "a nested folder", { "Work", "Projects", "Deep" }, true, QStringLiteral("\\\\Work\\Projects\\Deep") },
        { "a store's top-level folder", { "Home" }, true, QStringLiteral("\\\\Home") },
        { "Cancel", { "Work", "Projects" }, false, std::nullopt },
    };
    GuiPerson gui;
    installFolderPicker(gui);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        // The picker is modal: drive it from the event loop that its exec() runs.
        QTimer::singleShot(0, [&] {
            auto* picker = qobject_cast<FolderPicker*>(QApplication::activeModalWidget());
            ASSERT_NE(picker, nullptr);
            auto* tree = picker->findChild<QTreeWidget*>(QStringLiteral("folders"));
            QTreeWidgetItem* item = tree->findItems(c.chain.first(), Qt::MatchExactly).value(0);
            for (qsizetype i = 1; item && i < c.chain.size(); ++i) {
                item->setExpanded(true);
                item = childNamed(item, c.chain[i]);
            }
            ASSERT_NE(item, nullptr);
            tree->setCurrentItem(item);
            auto* buttons = picker->findChild<QDialogButtonBox*>();
            buttons->button(c.ok ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel)->click();
        });
        const std::optional<QString> picked = gui.pickMailFolder();
        EXPECT_EQ(picked, c.expected);
        if (picked) {
            const auto ns = mail::Namespace::fromProfile();
            const auto folder = getFolderFromPath(person, ns, *picked);
            ASSERT_NE(folder, nullptr);
            EXPECT_EQ(folder->folderPath(), *picked);
        }
    }
}

TEST_F(FolderPickerTest, AddDataFileListsTheStoreInTheProfile)
{
    const QString other = dir.filePath(QStringLiteral("elsewhere/Work"));
    makeMaildir(other);
    const QString notAStore = dir.filePath(QStringLiteral("notes.pst"));
    writeFile(notAStore, "just text");

    struct Case {
        const char* why;
        bool existingProfile;
        QString chosen;
        QString addedLines; // after what the profile held before
        QString shown; // the node selected afterwards, if any
        DataFileKind kind = DataFileKind::MaildirFolder;
    };
    const Case cases[] = {
        { "no profile yet: the sample store stays listed", false, home,
            "[Stores]\nSample Mailbox=" + kSampleStore + "\nhome=" + home + u'\n', QStringLiteral("home") },
        { "a name the profile has gets a number", true, other, "Work (2)=" + other + u'\n',
            QStringLiteral("Work (2)") },
        { "a location the profile lists is not added again", true, home, QString(), QStringLiteral("Home") },
        { "cancelled", true, QString(), QString(), QString() },
        { "not a store", true, notAStore, QString(), QString() },
        { "an account whose server does not answer", true, QStringLiteral("imaps://me@127.0.0.1:1"), QString(),
            QString(), DataFileKind::MailAccount },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        QFile::remove(profile);
        if (c.existingProfile)
            writeProfile();
        const QString before = readText(profile);
        person.clear();
        std::vector<DataFileKind> asked;
        FolderPicker picker(person, nullptr, [&](QWidget*, DataFileKind kind) {
            asked.push_back(kind);
            return c.chosen;
        });
        auto* tree = picker.findChild<QTreeWidget*>(QStringLiteral("folders"));
        tree->setCurrentItem(nullptr);
        if (c.kind == DataFileKind::MailAccount)
            picker.findChild<QPushButton*>(QStringLiteral("addMailAccount"))->click();
        else
            picker.findChild<QAction*>(QStringLiteral("addMaildirFolder"))->trigger();

        EXPECT_EQ(asked, std::vector<DataFileKind> { c.kind });
        EXPECT_EQ(readText(profile), before + c.addedLines);
        EXPECT_EQ(tree->currentItem() ? tree->currentItem()->text(0) : QString(), c.shown);
        EXPECT_EQ(person.messages().size(), c.chosen == notAStore || c.kind == DataFileKind::MailAccount ? 1 : 0)
            << person.messages().join(u'|').toStdString();
        if (!c.addedLines.isEmpty()) {
            EXPECT_GT(tree->currentItem()->childCount(), 0) << "the added store's folders are listed";
        }
    }
}

TEST_F(FolderPickerTest, ShowsTheStoresFoundOnThisComputerAndAddsAnMboxFileByItsContent)
{
    const QString home = dir.filePath(QStringLiteral("home"));
    test::copyTree(QStringLiteral(SOURCE_DIR "/samples/thunderbird-home"), home);
    const QString mbox = dir.filePath(QStringLiteral("export.txt"));
    writeFile(mbox, "From a@example.org Thu Mar  5 10:00:00 2026\nSubject: exported\n\nbody\n");
    const test::ScopedEnv found { { "HOME", home }, { "XDG_DATA_HOME", home + QLatin1String("/.local/share") } };
    FolderPicker picker(person, nullptr, [&](QWidget*, DataFileKind) { return mbox; });
    auto* tree = picker.findChild<QTreeWidget*>(QStringLiteral("folders"));
    ASSERT_EQ(tree->topLevelItemCount(), 2);
    EXPECT_EQ(tree->topLevelItem(0)->text(0), "Thunderbird - Local Folders");
    EXPECT_EQ(tree->topLevelItem(1)->text(0), "Thunderbird - work@example.org");
    EXPECT_EQ(childTexts(tree->topLevelItem(0)), (QStringList { "Archives", "Inbox", "Trash", "Unsent Messages" }));

    picker.findChild<QAction*>(QStringLiteral("addOutlookFile"))->trigger();
    EXPECT_EQ(readText(profile), "[Stores]\nexport=" + mbox + u'\n') << "no sample store: stores were found";
    ASSERT_NE(tree->currentItem(), nullptr);
    EXPECT_EQ(tree->currentItem()->text(0), "export");
    EXPECT_EQ(childTexts(tree->currentItem()), QStringList { "export" });
}

// A store found on this computer that cannot be opened is shown with why, after those that open.
TEST_F(FolderPickerTest, ShowsWhyAFoundStoreCannotBeOpened)
{
    const QString home = dir.filePath(QStringLiteral("home"));
    test::copyTree(QStringLiteral(SOURCE_DIR "/samples/thunderbird-home"), home);
    const QString spool = dir.filePath(QStringLiteral("spool"));
    writeFile(spool, "not mail\n");
    const test::ScopedEnv found { { "HOME", home }, { "XDG_DATA_HOME", home + QLatin1String("/.local/share") },
        { "MAIL", spool } };
    FolderPicker picker(person, nullptr, [](QWidget*, DataFileKind) { return QString(); });
    auto* tree = picker.findChild<QTreeWidget*>(QStringLiteral("folders"));
    ASSERT_EQ(tree->topLevelItemCount(), 3);
    EXPECT_EQ(tree->topLevelItem(1)->text(0), "Thunderbird - work@example.org");
    EXPECT_EQ(tree->topLevelItem(2)->text(0),
        "Mail Spool (cannot be opened: spool is not a mail store: no Maildir folder, mbox file or Outlook data file)");
    EXPECT_EQ(tree->topLevelItem(2)->toolTip(0),
        spool + ": neither a Maildir directory, an mbox file nor an Outlook data file");
}

// A store added and then cancelled leaves the profile again; Remove Store (Delete) takes a listed store out
// of the profile, never its files; the picker opens at a folder path.
TEST_F(FolderPickerTest, CancelAndRemoveTakeStoresOutOfTheProfileOnly)
{
    const QString other = dir.filePath(QStringLiteral("elsewhere/Archive"));
    makeMaildir(other);
    writeProfile();
    const QString before = readText(profile);
    const auto picker = [&] {
        return std::make_unique<FolderPicker>(person, nullptr, [&](QWidget*, DataFileKind) { return other; });
    };
    struct Case {
        const char* why;
        bool cancel; ///< else Delete on the current store
        const char* openAt; ///< the folder shown before
        QString profileAfter;
    };
    const Case cases[] = {
        { "cancel after adding", true, "\\\\Home\\Sent", before },
        { "Delete on the added store", false, "\\\\Work\\Projects\\Deep", before },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        auto dialog = picker();
        dialog->show();
        auto* tree = dialog->findChild<QTreeWidget*>(QStringLiteral("folders"));
        dialog->showFolder(QLatin1String(c.openAt));
        ASSERT_NE(tree->currentItem(), nullptr);
        EXPECT_EQ(tree->currentItem()->data(0, Qt::UserRole).toString(), QLatin1String(c.openAt))
            << "opens at the folder";
        dialog->findChild<QAction*>(QStringLiteral("addMaildirFolder"))->trigger();
        EXPECT_EQ(readText(profile), before + "Archive=" + other + u'\n');
        EXPECT_EQ(tree->currentItem()->text(0), QLatin1String("Archive"));
        if (c.cancel) {
            dialog->reject();
        } else {
            dialog->activateWindow();
            ASSERT_TRUE(QTest::qWaitForWindowActive(dialog.get()));
            tree->setFocus();
            QTest::keyClick(tree, Qt::Key_Delete);
            EXPECT_TRUE(tree->findItems(QStringLiteral("Archive"), Qt::MatchExactly).isEmpty());
        }
        EXPECT_EQ(readText(profile), c.profileAfter);
        EXPECT_TRUE(QFileInfo(other + QLatin1String("/cur")).isDir()) << "the store's files stay";
    }
    // A store of the profile goes from it alone; cancelling later does not bring it back.
    auto dialog = picker();
    auto* tree = dialog->findChild<QTreeWidget*>(QStringLiteral("folders"));
    tree->setCurrentItem(tree->findItems(QStringLiteral("Home"), Qt::MatchExactly).value(0));
    dialog->findChild<QAction*>(QStringLiteral("removeStore"))->trigger();
    dialog->reject();
    EXPECT_FALSE(readText(profile).contains(QLatin1String("Home=")));
    EXPECT_TRUE(QFileInfo(home + QLatin1String("/.Sent/cur")).isDir());
    EXPECT_TRUE(person.messages().isEmpty()) << person.messages().join(u'|').toStdString();
}

// The "Add Maildir Folder" dialog starts in the folder the last data file was added from, also in a later run.
TEST_F(FolderPickerTest, AddDataFileStartsWhereTheLastOneCameFrom)
{
    const test::ScopedEnv config { { "XDG_CONFIG_HOME", dir.filePath(QStringLiteral("xdg")) } };
    writeProfile();
    const QString other = dir.filePath(QStringLiteral("elsewhere/Archive"));
    makeMaildir(other);
    QStringList startedAt;
    for (const QString& choose : { other, QString() }) {
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            startedAt << box->directory().absolutePath();
            if (choose.isEmpty()) {
                box->reject();
                return;
            }
            box->setDirectory(choose);
            box->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Open)->click();
        });
        FolderPicker picker(person);
        picker.findChild<QAction*>(QStringLiteral("addMaildirFolder"))->trigger();
        picker.reject();
    }
    ASSERT_EQ(startedAt.size(), 2);
    EXPECT_EQ(startedAt[1], QFileInfo(other).absolutePath());
}

// Writes the picker and progress window screenshots into $QUILLBOX_SCREENSHOTS when it is set.
TEST(Screenshots, PickerAndProgress)
{
    const QString target = qEnvironmentVariable("QUILLBOX_SCREENSHOTS");
    if (target.isEmpty())
        GTEST_SKIP() << "QUILLBOX_SCREENSHOTS is not set";
    ScriptedPerson person;
    FolderPicker picker(person); // the profile of the machine, or the sample store
    picker.show();
    auto* tree = picker.findChild<QTreeWidget*>(QStringLiteral("folders"));
    QTreeWidgetItem* sample = tree->topLevelItem(0);
    for (const char* name : { "Projects", "Quillbox" }) {
        sample = childNamed(sample, QLatin1String(name));
        ASSERT_NE(sample, nullptr);
        sample->setExpanded(true);
    }
    tree->setCurrentItem(childNamed(sample, QStringLiteral("2019")));
    QTest::qWait(200);
    EXPECT_TRUE(picker.grab().save(QDir(target).filePath(QStringLiteral("screenshot-picker.png"))));

    GuiPerson gui;
    auto progress = gui.progress(QStringLiteral("Saving ..."), 12);
    progress->setStatus(QStringLiteral("Saving 3 of 12"));
    progress->setValue(3);
    QWidget* window = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == QLatin1String("frmProgress"))
            window = w;
    ASSERT_NE(window, nullptr);
    QTest::qWait(200);
    EXPECT_TRUE(window->grab().save(QDir(target).filePath(QStringLiteral("screenshot-progress.png"))));
}

} // namespace

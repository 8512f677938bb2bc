// SPDX-License-Identifier: MIT
// The person in front of a screen: GuiPerson's boxes, answered from the event loop their exec() runs.
#include "gui/guiperson.h"

#include "support/qtprinters.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using namespace quillbox;

namespace {

// Hands the modal box that the next call opens to `act`, which must close it.
template <class Box> void answerNextBox(std::function<void(Box&)> act)
{
    QTimer::singleShot(0, [act] {
        auto* box = qobject_cast<Box*>(QApplication::activeModalWidget());
        if (!box) {
            ADD_FAILURE() << "no modal box of the expected kind";
            if (QWidget* other = QApplication::activeModalWidget())
                other->close();
            return;
        }
        act(*box);
    });
}

// What a message box showed: its title, its text and its buttons.
using Shown = std::tuple<QString, QString, QMessageBox::StandardButtons>;

// Presses `button` in the next message box and records what the box showed.
void pressInNextMessageBox(QMessageBox::StandardButton button, Shown& shown)
{
    answerNextBox<QMessageBox>([&shown, button](QMessageBox& box) {
        shown = { box.windowTitle(), box.text(), box.standardButtons() };
        box.button(button)->click();
    });
}

QWidget* progressWindow()
{
    for (QWidget* window : QApplication::topLevelWidgets())
        if (window->objectName() == QLatin1String("frmProgress") && window->isVisible())
            return window;
    return nullptr;
}

} // namespace

TEST(GuiPerson, MessageBoxShowsTheTextUnderTheProgramNameWithOk)
{
    Shown shown;
    pressInNextMessageBox(QMessageBox::Ok, shown);
    GuiPerson person;
    person.setDebugLevel(1);
    testing::internal::CaptureStderr();
    person.message(QStringLiteral("12 mails saved."));
    const std::string echoed = testing::internal::GetCapturedStderr();
    EXPECT_EQ(echoed.rfind("Quillbox: 12 mails saved.\n", 0), 0u) << "debug level 1 echoes it: " << echoed;
    EXPECT_EQ(shown, Shown(QStringLiteral("Quillbox"), QStringLiteral("12 mails saved."), QMessageBox::Ok));
}

// Each kind of box carries its standard icon; a document that is not there is told, naming the file.
TEST(GuiPerson, BoxesCarryTheIconOfTheirKind)
{
    struct Case {
        const char* why;
        std::function<void(GuiPerson&)> show;
        QMessageBox::Icon icon;
        QString text;
        QMessageBox::StandardButton press;
    };
    const Case cases[] = {
        { "a plain message", [](GuiPerson& p) { p.message(QStringLiteral("Done.")); }, QMessageBox::Information,
            QStringLiteral("Done."), QMessageBox::Ok },
        { "a failure with the library's words",
            [](GuiPerson& p) { p.detailedMessage(QStringLiteral("x.pst is damaged."), QStringLiteral("pff: bad")); },
            QMessageBox::Critical, QStringLiteral("x.pst is damaged."), QMessageBox::Ok },
        { "a question, answered Yes", [](GuiPerson& p) { EXPECT_TRUE(p.question(QStringLiteral("Add?"))); },
            QMessageBox::Question, QStringLiteral("Add?"), QMessageBox::Yes },
        { "a question, answered No", [](GuiPerson& p) { EXPECT_FALSE(p.question(QStringLiteral("Add?"))); },
            QMessageBox::Question, QStringLiteral("Add?"), QMessageBox::No },
        { "a help page that is not there", [](GuiPerson& p) { p.openDocument(QStringLiteral("/no/Help/index.html")); },
            QMessageBox::Information, QStringLiteral("Can't open /no/Help/index.html: it is not there."),
            QMessageBox::Ok },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QString text;
        answerNextBox<QMessageBox>([&](QMessageBox& box) {
            icon = box.icon();
            text = box.text();
            box.button(c.press)->click();
        });
        GuiPerson person;
        c.show(person);
        EXPECT_EQ(icon, c.icon);
        EXPECT_EQ(text, c.text);
    }
}

TEST(GuiPerson, WarningOffersAbortRetryIgnoreAndGivesThePressedOne)
{
    const std::pair<QMessageBox::StandardButton, WarningAnswer> cases[]
        = { { QMessageBox::Abort, WarningAnswer::Abort }, { QMessageBox::Retry, WarningAnswer::Retry },
              { QMessageBox::Ignore, WarningAnswer::Ignore } };
    for (const auto& [button, answer] : cases) {
        Shown shown;
        pressInNextMessageBox(button, shown);
        EXPECT_EQ(
            GuiPerson().warning(QStringLiteral("ViriravEZI, Sub GetKeyValue"), QStringLiteral("5, Access denied")),
            answer);
        EXPECT_EQ(shown,
            Shown(QStringLiteral("ViriravEZI, Sub GetKeyValue"), QStringLiteral("5, Access denied"),
                QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore));
    }
}

// An input box and a password box: the typed text, or nothing on Cancel; a password is not shown as typed.
TEST(GuiPerson, InputBoxGivesTheTypedTextOrNothingOnCancel)
{
    const struct {
        QString (GuiPerson::*ask)(const QString&);
        QLineEdit::EchoMode echo;
        bool ok;
    } cases[] = {
        { &GuiPerson::inputBox, QLineEdit::Normal, true },
        { &GuiPerson::inputBox, QLineEdit::Normal, false },
        { &GuiPerson::password, QLineEdit::Password, true },
        { &GuiPerson::password, QLineEdit::Password, false },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.echo);
        QString title, prompt;
        QLineEdit::EchoMode echo = QLineEdit::NoEcho;
        answerNextBox<QInputDialog>([&](QInputDialog& box) {
            title = box.windowTitle();
            prompt = box.labelText();
            echo = box.findChild<QLineEdit*>()->echoMode();
            QTest::keyClicks(box.findChild<QLineEdit*>(), QStringLiteral("Weekly report"));
            box.findChild<QDialogButtonBox*>()->button(c.ok ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel)->click();
        });
        GuiPerson person;
        EXPECT_EQ(
            (person.*c.ask)(QStringLiteral("Name of the list:")), c.ok ? QStringLiteral("Weekly report") : QString());
        EXPECT_EQ(title, QStringLiteral("Quillbox"));
        EXPECT_EQ(prompt, QStringLiteral("Name of the list:"));
        EXPECT_EQ(echo, c.echo);
    }
}

// The chooser opens at the destination in the box; one the save run has not made yet is taken as it stands, or
// another new folder typed into the chooser.
TEST(GuiPerson, ChooseDirectoryOpensAtTheDestinationAndTakesANewFolder)
{
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("there")));
    struct Case {
        QString start;
        const char* typed; ///< typed into the name box before Open; null: Open at once
        QString openedAt, chosen;
    };
    const Case cases[] = {
        { dir.filePath("there"), nullptr, dir.filePath("there"), dir.filePath("there") },
        { dir.filePath("not yet/deeper"), nullptr, dir.path(), dir.filePath("not yet/deeper") },
        { dir.filePath("there"), "fresh", dir.filePath("there"), dir.filePath("there/fresh") },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.start.toStdString());
        QString title;
        QDir openedAt;
        answerNextBox<QFileDialog>([&](QFileDialog& box) {
            title = box.windowTitle();
            openedAt = box.directory();
            if (c.typed)
                box.selectFile(QLatin1String(c.typed));
            box.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Open)->click();
        });
        EXPECT_EQ(QDir::cleanPath(GuiPerson().chooseDirectory(QStringLiteral("Save into"), c.start)), c.chosen);
        EXPECT_EQ(openedAt, QDir(c.openedAt));
        EXPECT_EQ(title, QStringLiteral("Save into"));
    }
}

TEST(GuiPerson, ProgressWindowShowsCaptionStatusAndValueUntilTheRunEnds)
{
    {
        auto progress = GuiPerson().progress(QStringLiteral("Saving ..."), 12);
        progress->setStatus(QStringLiteral("Saving 3 of 12"));
        progress->setValue(3);
        QWidget* window = progressWindow();
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(window->windowTitle(), QStringLiteral("Saving ..."));
        EXPECT_EQ(window->findChild<QLabel*>(QStringLiteral("txtStatus"))->text(), QStringLiteral("Saving 3 of 12"));
        const auto* bar = window->findChild<QProgressBar*>(QStringLiteral("ProgressBar1"));
        EXPECT_EQ(bar->maximum(), 12);
        EXPECT_EQ(bar->value(), 3);
        EXPECT_FALSE(progress->cancelled());
        EXPECT_FALSE(window->close()) << "the window stays until the run ends";
        EXPECT_TRUE(progress->cancelled()) << "closing it asks the run to stop";
    }
    // Cancel and Escape ask the run to stop too.
    for (const bool escape : { false, true }) {
        auto progress = GuiPerson().progress(QStringLiteral("Saving ..."), 12);
        QWidget* window = progressWindow();
        auto* cancel = window->findChild<QPushButton*>(QStringLiteral("cmdCancel"));
        ASSERT_NE(cancel, nullptr);
        EXPECT_EQ(cancel->text(), QStringLiteral("Cancel"));
        if (escape)
            QTest::keyClick(window, Qt::Key_Escape);
        else
            cancel->click();
        EXPECT_TRUE(progress->cancelled());
        EXPECT_TRUE(window->isVisible());
        EXPECT_FALSE(cancel->isEnabled()) << "asked once";
    }
    EXPECT_EQ(progressWindow(), nullptr) << "the window goes when the run ends";
    auto untitled = GuiPerson().progress(QString(), 5);
    ASSERT_NE(progressWindow(), nullptr);
    EXPECT_EQ(progressWindow()->windowTitle(), QStringLiteral("Progress"));
}

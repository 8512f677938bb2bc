// SPDX-License-Identifier: MIT
#include "gui/optionsdialog.h"

#include "config/options.h"
#include "support/qtprinters.h"
#include "support/scriptedperson.h"
#include "support/testfiles.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using namespace quillbox;
using quillbox::test::readFile;
using quillbox::test::ScriptedPerson;

namespace {

const char* const kTabOrder[] = { "ckFnDate", "ckFnFrom", "ckFnSubject", "ckFnFolder", "txtFn", "ClipAddress",
    "ClipSubject", "cboFnOutput", "UseDate", "UseFrom", "UseSubject", "TextFormat", "txtSince", "txtBefore",
    "DateFormat", "ckSkipSaved", "ckWriteIndex", "ckSetFileTimes", "cmdOk", "cmdCancel" };

class OptionsDialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        path = dir.filePath(QStringLiteral("Quillbox.ini"));
        options.useCustomIni(path);
        showActive();
    }

    void showActive()
    {
        dialog.show();
        dialog.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    }

    template <class T> T* child(const char* name)
    {
        T* widget = dialog.findChild<T*>(QLatin1String(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }

    // Types `text` into a text box or an editable combo box in place of what it held.
    void typeInto(QWidget* control, const QString& text)
    {
        auto* combo = qobject_cast<QComboBox*>(control);
        QLineEdit* edit = combo ? combo->lineEdit() : qobject_cast<QLineEdit*>(control);
        edit->setFocus();
        edit->selectAll();
        QTest::keyClicks(edit, text);
    }

    QTemporaryDir dir;
    QString path;
    ScriptedPerson person;
    Options options { person };
    OptionsDialog dialog { options };
};

TEST_F(OptionsDialogTest, ControlsCarryTheirNamesInTabOrder)
{
    EXPECT_EQ(dialog.objectName(), "frmOptions");
    EXPECT_EQ(dialog.windowTitle(), "Options");
    EXPECT_EQ(dialog.size(), QSize(511, 326));
    EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize());
    EXPECT_FALSE(dialog.isModal());

    child<QWidget>(kTabOrder[0])->setFocus();
    for (const char* name : kTabOrder) {
        QWidget* expected = child<QWidget>(name);
        QWidget* focus = QApplication::focusWidget();
        // An editable combo box hands its focus to its line edit.
        EXPECT_TRUE(focus == expected || focus->parentWidget() == expected)
            << name << " expected, focus on " << focus->objectName().toStdString();
        QTest::keyClick(focus, Qt::Key_Tab);
    }
    EXPECT_EQ(child<QComboBox>("cboFnOutput")->count(), 6);
    EXPECT_EQ(child<QComboBox>("cboFnOutput")->itemText(3), "EML");
    EXPECT_EQ(child<QComboBox>("cboFnOutput")->itemText(4), "ATT");
    EXPECT_EQ(child<QComboBox>("cboFnOutput")->itemText(5), "PDF");
}

// The twip positions were drawn for a smaller font: whatever the font, no label may run into a control.
TEST_F(OptionsDialogTest, NothingOverlapsInsideAFrame)
{
    const QFont normal = QApplication::font();
    for (const double scale : { 1.0, 1.25 }) {
        SCOPED_TRACE(scale);
        QFont font = normal;
        font.setPointSizeF(normal.pointSizeF() * scale);
        QApplication::setFont(font);
        OptionsDialog fresh(options);
        QApplication::setFont(normal);
        for (const QGroupBox* frame : fresh.findChildren<QGroupBox*>()) {
            const QList<QWidget*> controls = frame->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
            for (qsizetype i = 0; i < controls.size(); ++i) {
                EXPECT_TRUE(frame->rect().contains(controls[i]->geometry())) << frame->title().toStdString();
                if (auto* label = qobject_cast<QLabel*>(controls[i])) {
                    EXPECT_GE(label->width(), label->sizeHint().width()) << label->text().toStdString();
                }
                for (qsizetype j = i + 1; j < controls.size(); ++j)
                    EXPECT_FALSE(controls[i]->geometry().intersects(controls[j]->geometry()))
                        << controls[i]->objectName().toStdString() << " / " << controls[j]->objectName().toStdString();
            }
        }
    }
}

TEST_F(OptionsDialogTest, OkSavesAllKeysTypedAsTheyStand)
{
    struct Case {
        const char *why, *focus, *fnFormat, *clipSubject; // focus: where "%2" is typed and Enter pressed, or OK
    };
    const Case cases[] = {
        { "OK button", nullptr, "%1 %2 %3", "50" },
        { "Enter in a text box", "txtFn", "%2", "50" },
        { "Enter in an editable combo box", "ClipSubject", "%1 %2 %3", "%2" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        QFile::remove(path);
        options.loadSettings();
        showActive();
        typeInto(child<QWidget>("txtSince"), QStringLiteral("1.2.2020"));
        typeInto(child<QWidget>("cboFnOutput"), QStringLiteral("RTF"));
        typeInto(child<QWidget>("ClipAddress"), QStringLiteral("3")); // a list entry starts with 3: no completion
        typeInto(child<QWidget>("TextFormat"), QStringLiteral(" %3 "));
        child<QCheckBox>("ckSkipSaved")->click();
        if (c.focus) {
            typeInto(child<QWidget>(c.focus), QStringLiteral("%2"));
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        } else {
            child<QPushButton>("cmdOk")->click();
        }
        EXPECT_FALSE(dialog.isVisible());
        // The file's form is Options' (options_test); here, that every typed value reached it.
        const QByteArray saved = readFile(path);
        for (const QByteArray& line :
            { QByteArray("TextFormat=\" %3 \""), QByteArray("Since=1.2.2020"), QByteArray("ClipAddress=3"),
                QByteArray("FnOutput=RTF"), QByteArray("SkipSaved=1"), QByteArray("WriteIndex=0"),
                "FnFormat=" + QByteArray(c.fnFormat), "ClipSubject=" + QByteArray(c.clipSubject) })
            EXPECT_TRUE(saved.contains('\n' + line + '\n')) << line.toStdString();
        EXPECT_TRUE(person.messages().isEmpty());
    }
}

TEST_F(OptionsDialogTest, EditsAreLiveAndEveryOtherWayOutDiscardsThem)
{
    const std::pair<const char*, std::function<void()>> ways[] = {
        { "Cancel button", [&] { child<QPushButton>("cmdCancel")->click(); } },
        { "Escape", [&] { QTest::keyClick(child<QLineEdit>("txtSince"), Qt::Key_Escape); } },
        { "Escape in an editable combo box",
            [&] {
                typeInto(child<QWidget>("DateFormat"), QStringLiteral("yyyy"));
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
            } },
        { "the window's close button counts as Cancel", [&] { dialog.close(); } },
    };
    child<QLineEdit>("txtSince")->setText(QStringLiteral("1.1.2019"));
    child<QPushButton>("cmdOk")->click();
    const QByteArray before = readFile(path);
    ASSERT_FALSE(before.isEmpty());

    for (const auto& [why, leave] : ways) {
        SCOPED_TRACE(why);
        showActive();
        typeInto(child<QWidget>("txtSince"), QStringLiteral("5.5.2021"));
        // What a search started now would read.
        EXPECT_EQ(options.settings().since, "5.5.2021");

        leave();
        EXPECT_FALSE(dialog.isVisible());
        EXPECT_EQ(options.settings().since, "1.1.2019");
        EXPECT_EQ(options.settings().dateFormat, "yymmdd HHMMSS");
        EXPECT_EQ(child<QLineEdit>("txtSince")->text(), "1.1.2019");
        EXPECT_EQ(readFile(path), before);
    }
}

TEST_F(OptionsDialogTest, BoxClicksRebuildOnlyTheirOwnTemplate)
{
    struct Case {
        const char *why, *storedState, *box, *textFormat, *fnFormat; // the state UseDate and UseFnDate are stored in
    };
    const Case cases[] = {
        { "clearing From replaces a typed text-line template", "1", "UseFrom", "%1 %3", "typed fn" },
        { "clearing Subject of the file name", "1", "ckFnSubject", "typed text", "%1 %2" },
        { "Folder rebuilds nothing", "1", "ckFnFolder", "typed text", "typed fn" },
        { "a click on a greyed box clears it", "2", "ckFnDate", "typed text", "%2 %3" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        test::writeFile(
            path, QByteArray("[Options]\nUseDate=") + c.storedState + "\nUseFnDate=" + c.storedState + "\n");
        options.loadSettings();
        dialog.refreshFromSettings();
        typeInto(child<QWidget>("TextFormat"), QStringLiteral("typed text"));
        typeInto(child<QWidget>("txtFn"), QStringLiteral("typed fn"));

        child<QCheckBox>(c.box)->click();
        EXPECT_EQ(child<QLineEdit>("TextFormat")->text(), c.textFormat);
        EXPECT_EQ(child<QLineEdit>("txtFn")->text(), c.fnFormat);
        EXPECT_EQ(options.settings().textFormat, c.textFormat);
        EXPECT_EQ(options.settings().fnFormat, c.fnFormat);
    }
    // A greyed box that nobody clicked is written back greyed.
    child<QPushButton>("cmdOk")->click();
    EXPECT_TRUE(readFile(path).contains("UseDate=2\n"));
}

TEST_F(OptionsDialogTest, ShowingAgainShowsTheLiveSettingsWithoutReading)
{
    dialog.hide();
    options.settings().before = QStringLiteral("31.12.2030"); // as the main window's load would leave them
    options.settings().useFnFolder = 2;
    QFile::remove(path);
    dialog.show();
    EXPECT_EQ(child<QLineEdit>("txtBefore")->text(), "31.12.2030");
    EXPECT_EQ(child<QCheckBox>("ckFnFolder")->checkState(), Qt::PartiallyChecked);
    EXPECT_EQ(options.settings().useFnFolder, 2);
    EXPECT_FALSE(QFile::exists(path));
}

// Writes docs/screenshot-options.png (or into $QUILLBOX_SCREENSHOTS) when $QUILLBOX_SCREENSHOTS is set.
TEST_F(OptionsDialogTest, Screenshot)
{
    const QString target = qEnvironmentVariable("QUILLBOX_SCREENSHOTS");
    if (target.isEmpty())
        GTEST_SKIP() << "QUILLBOX_SCREENSHOTS is not set";
    child<QLineEdit>("txtSince")->setText(QStringLiteral("01/01/2020"));
    QTest::qWait(200);
    EXPECT_TRUE(dialog.grab().save(QDir(target).filePath(QStringLiteral("screenshot-options.png"))));
}

} // namespace

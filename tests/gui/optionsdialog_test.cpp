// SPDX-License-Identifier: MIT
#include "gui/optionsdialog.h"

#include "config/options.h"
#include "support/qtprinters.h"
#include "support/scriptedperson.h"
#include "support/testfiles.h"

#include <QAbstractItemView>
#include <QCalendarWidget>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <gtest/gtest.h>
#include <optional>

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
    EXPECT_EQ(dialog.size(), QSize(511, 382));
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
    QStringList outputs;
    for (int i = 0; i < child<QComboBox>("cboFnOutput")->count(); ++i)
        outputs << child<QComboBox>("cboFnOutput")->itemText(i);
    EXPECT_EQ(outputs, (QStringList { "MSG", "TXT", "DIR", "EML", "RTF", "PDF", "ATT" }));
    const auto* dateFormat = child<QComboBox>("DateFormat");
    EXPECT_NE(dateFormat->findText(QStringLiteral("yymmdd HHMMSS")), -1) << "the default is in the list";
    EXPECT_GE(dateFormat->width(), dateFormat->sizeHint().width());
    // Under each template, two lines say what %1 to %8 stand for.
    for (const char* name : { "txtFn", "TextFormat" }) {
        const QLineEdit* box = child<QLineEdit>(name);
        QStringList lines;
        for (const QLabel* line :
            box->parentWidget()->findChildren<QLabel*>(QLatin1String(name) + QLatin1String("Placeholders"))) {
            EXPECT_GT(line->y(), box->geometry().bottom()) << name;
            lines << line->text();
        }
        EXPECT_EQ(
            lines.join(u' '), "%1 Sent, %2 From, %3 Subject, %4 To, %5 Received, %6 EntryID, %7 Folder, %8 LatestTime")
            << name;
    }
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
        // The controls right of a column of labels keep one left edge.
        const auto left = [&fresh](const char* name) { return fresh.findChild<QWidget*>(QLatin1String(name))->x(); };
        EXPECT_EQ(left("txtSince"), left("txtBefore"));
        EXPECT_EQ(left("ClipAddress"), left("cboFnOutput"));
        EXPECT_EQ(left("ClipSubject"), left("cboFnOutput"));
        for (const QGroupBox* frame : fresh.findChildren<QGroupBox*>()) {
            const QList<QWidget*> controls = frame->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
            for (qsizetype i = 0; i < controls.size(); ++i) {
                EXPECT_TRUE(frame->rect().contains(controls[i]->geometry()))
                    << frame->title().toStdString() << " " << controls[i]->objectName().toStdString() << " "
                    << controls[i]->geometry().right() << "/" << controls[i]->geometry().bottom() << " in "
                    << frame->width() << "x" << frame->height();
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
        const char *why, *focus, *typed, *fnFormat, *clipSubject; // focus: where `typed` goes and Enter, or OK
    };
    const Case cases[] = {
        { "OK button", nullptr, "", "%1 %2 %3", "50" },
        { "Enter in a text box", "txtFn", "%2", "%2", "50" },
        { "Enter in an editable combo box", "ClipSubject", "70", "%1 %2 %3", "70" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        QFile::remove(path);
        options.loadSettings();
        showActive();
        typeInto(child<QWidget>("txtSince"), QStringLiteral("2020-02-01"));
        typeInto(child<QWidget>("cboFnOutput"), QStringLiteral("RTF"));
        typeInto(child<QWidget>("ClipAddress"), QStringLiteral("3")); // a list entry starts with 3: no completion
        typeInto(child<QWidget>("TextFormat"), QStringLiteral(" %3 "));
        child<QCheckBox>("ckSkipSaved")->click();
        if (c.focus) {
            typeInto(child<QWidget>(c.focus), QLatin1String(c.typed));
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        } else {
            child<QPushButton>("cmdOk")->click();
        }
        EXPECT_FALSE(dialog.isVisible());
        // The file's form is Options' (options_test); here, that every typed value reached it.
        const QByteArray saved = readFile(path);
        for (const QByteArray& line :
            { QByteArray("TextFormat=\" %3 \""), QByteArray("Since=2020-02-01"), QByteArray("ClipAddress=3"),
                QByteArray("FnOutput=RTF"), QByteArray("SkipSaved=1"), QByteArray("WriteIndex=0"),
                "FnFormat=" + QByteArray(c.fnFormat), "ClipSubject=" + QByteArray(c.clipSubject) })
            EXPECT_TRUE(saved.contains('\n' + line + '\n')) << line.toStdString();
        EXPECT_TRUE(person.messages().isEmpty());
    }
}

// OK refuses a value no search or save can use, names its field, and keeps the dialog open and the file as it was.
TEST_F(OptionsDialogTest, OkRefusesWhatCannotBeUsedNamingTheField)
{
    struct Case {
        const char *field, *typed, *message; ///< message: how the box's text starts
    };
    const Case cases[] = {
        { "txtSince", "2020-02-31", "Since: \"2020-02-31\" is not a date." },
        { "txtBefore", "yesterday", "Before: \"yesterday\" is not a date." },
        { "ClipAddress", "abc", "Clip Addresses to: \"abc\" is not a number of characters." },
        { "ClipSubject", "-5", "Clip Subject to: \"-5\" is not a number of characters." },
        { "cboFnOutput", "HTML",
            "Output: \"HTML\" is not a type this program writes. Pick one of MSG, TXT, DIR, EML, RTF, PDF, ATT." },
    };
    child<QPushButton>("cmdOk")->click();
    const QByteArray before = readFile(path);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.field);
        showActive();
        typeInto(child<QWidget>(c.field), QLatin1String(c.typed));
        QString told;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QTimer::singleShot(0, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                told = box->text();
                icon = box->icon();
                box->accept();
            }
        });
        child<QPushButton>("cmdOk")->click();
        EXPECT_TRUE(told.startsWith(QLatin1String(c.message))) << told.toStdString();
        EXPECT_EQ(icon, QMessageBox::Warning);
        EXPECT_TRUE(dialog.isVisible());
        QWidget* focus = dialog.focusWidget();
        EXPECT_TRUE(focus
            && (focus->objectName() == QLatin1String(c.field)
                || focus->parentWidget()->objectName() == QLatin1String(c.field)));
        EXPECT_EQ(readFile(path), before);
        child<QPushButton>("cmdCancel")->click();
    }
}

// Since and Before take a date from a calendar (the button, F4 or Alt+Down in the box), which opens at the date the
// box holds, in any form it accepts, and puts the chosen one in as ISO; the Output list shows each code with its label.
TEST_F(OptionsDialogTest, DatesComeFromACalendarAndOutputsShowTheirLabels)
{
    const QString shortForm = QLocale::system().toString(QDate(2021, 3, 4), QLocale::ShortFormat);
    struct Case {
        const char *box, *button;
        QString typed;
        std::optional<QKeyCombination> key; ///< in the box; none: the button is clicked
        QDate shown;
    };
    const Case cases[] = {
        { "txtSince", "cmdSinceCalendar", QStringLiteral("2020-12-30"), std::nullopt, QDate(2020, 12, 30) },
        { "txtBefore", "cmdBeforeCalendar", shortForm, Qt::Key_F4, QDate(2021, 3, 4) },
        { "txtSince", "cmdSinceCalendar", QString(), Qt::AltModifier | Qt::Key_Down, QDate::currentDate() },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.box);
        child<QLineEdit>(c.box)->clear();
        typeInto(child<QLineEdit>(c.box), c.typed);
        if (c.key)
            QTest::keyClick(child<QLineEdit>(c.box), c.key->key(), c.key->keyboardModifiers());
        else
            child<QToolButton>(c.button)->click();
        auto* calendar = child<QCalendarWidget>("calDate");
        ASSERT_TRUE(calendar && calendar->isVisible());
        EXPECT_EQ(calendar->selectedDate(), c.shown);
        // A day later, chosen with the keyboard.
        QTest::keyClick(calendar->findChild<QAbstractItemView*>(), Qt::Key_Right);
        QTest::keyClick(calendar->findChild<QAbstractItemView*>(), Qt::Key_Return);
        EXPECT_FALSE(calendar->isVisible());
        const QString chosen = c.shown.addDays(1).toString(Qt::ISODate);
        EXPECT_EQ(child<QLineEdit>(c.box)->text(), chosen);
        EXPECT_EQ(
            QString(c.box) == QLatin1String("txtSince") ? options.settings().since : options.settings().before, chosen);
    }

    auto* output = child<QComboBox>("cboFnOutput");
    const QFontMetrics metrics(output->view()->font());
    for (int i = 0; i < output->count(); ++i) {
        const QString shown = output->itemData(i, Qt::AccessibleTextRole).toString();
        EXPECT_TRUE(shown.startsWith(output->itemText(i) + QStringLiteral(" \u2013 "))) << shown.toStdString();
        EXPECT_TRUE(shown.endsWith(output->itemData(i, Qt::ToolTipRole).toString()));
        // The list draws the label: its rows are as wide as the longest, and so is the list.
        EXPECT_GE(output->view()->sizeHintForColumn(0), metrics.horizontalAdvance(shown));
        EXPECT_GE(output->view()->minimumWidth(), metrics.horizontalAdvance(shown));
    }
    EXPECT_EQ(
        output->itemData(0, Qt::AccessibleTextRole).toString(), QStringLiteral("MSG \u2013 Outlook message (.msg)"));
    output->setCurrentIndex(3);
    EXPECT_EQ(options.settings().fnOutput, QLatin1String("EML")) << "a choice puts the code in";
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
    child<QLineEdit>("txtSince")->setText(QStringLiteral("2019-01-01"));
    child<QPushButton>("cmdOk")->click();
    const QByteArray before = readFile(path);
    ASSERT_FALSE(before.isEmpty());

    for (const auto& [why, leave] : ways) {
        SCOPED_TRACE(why);
        showActive();
        typeInto(child<QWidget>("txtSince"), QStringLiteral("2021-05-05"));
        // What a search started now would read.
        EXPECT_EQ(options.settings().since, "2021-05-05");

        leave();
        EXPECT_FALSE(dialog.isVisible());
        EXPECT_EQ(options.settings().since, "2019-01-01");
        EXPECT_EQ(options.settings().dateFormat, "yymmdd HHMMSS");
        EXPECT_EQ(child<QLineEdit>("txtSince")->text(), "2019-01-01");
        EXPECT_EQ(readFile(path), before);
    }
}

TEST_F(OptionsDialogTest, BoxClicksRebuildOnlyTheirOwnTemplate)
{
    struct Case {
        const char *why, *storedState, *box, *textFormat, *fnFormat; // the state UseDate and UseFnDate are stored in
        std::optional<bool> replace = true; ///< the answer to "Replace your own template?"; nothing: not asked
        bool viaLabel = false; ///< the click goes to the box's label
    };
    const Case cases[] = {
        { "clearing From replaces a typed text-line template", "1", "UseFrom", "%1 %3", "typed fn" },
        { "clearing Subject of the file name", "1", "ckFnSubject", "typed text", "%1 %2" },
        { "Folder rebuilds nothing", "1", "ckFnFolder", "typed text", "typed fn", std::nullopt },
        { "No keeps the typed template", "1", "ckFnFrom", "typed text", "typed fn", false },
        { "a click on the label", "1", "ckFnFrom", "typed text", "%1 %3", true, true },
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

        bool asked = false;
        QTimer::singleShot(0, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                asked = true;
                box->button(*c.replace ? QMessageBox::Yes : QMessageBox::No)->click();
            }
        });
        QCheckBox* box = child<QCheckBox>(c.box);
        const bool ticked = box->isChecked();
        if (c.viaLabel) {
            QLabel* label = nullptr;
            for (auto* candidate : box->parentWidget()->findChildren<QLabel*>())
                if (candidate->geometry().left() > box->geometry().right() && (!label || candidate->x() < label->x()))
                    label = candidate;
            ASSERT_NE(label, nullptr);
            QTest::mouseClick(label, Qt::LeftButton);
        } else {
            box->click();
        }
        QCoreApplication::processEvents(); // the answering timer goes, asked or not
        EXPECT_EQ(asked, c.replace.has_value());
        EXPECT_NE(box->isChecked(), ticked);
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

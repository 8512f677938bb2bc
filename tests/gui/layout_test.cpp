// SPDX-License-Identifier: MIT
// The layout manager: options texts, growth from recorded geometry, and the main window's figures.
#include "app/session.h"
#include "gui/anchorlayout.h"
#include "gui/mainwindow.h"
#include "support/scriptedperson.h"
#include "support/testenv.h"

#include <QLabel>
#include <QMainWindow>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>
#include <gtest/gtest.h>

using namespace quillbox;

namespace {

QRect twips(const QWidget* w)
{
    const QRect g = w->geometry();
    return { g.x() * kTwipsPerPixel, g.y() * kTwipsPerPixel, g.width() * kTwipsPerPixel, g.height() * kTwipsPerPixel };
}

/// A window of 600 x 400 px with one child per options text, each at (10, 20) and 50 x 30 px.
struct Form {
    QWidget window;
    QList<QWidget*> children;
    AnchorLayout layout;

    explicit Form(const QStringList& tags)
    {
        window.resize(600, 400);
        for (const QString& tag : tags) {
            auto* child = new QLabel(&window);
            child->setGeometry(10, 20, 50, 30);
            child->setProperty("Tag", tag);
            children << child;
        }
        layout.attach(&window);
    }
    void resizeBy(int dxTwips, int dyTwips)
    {
        window.resize(600 + dxTwips / kTwipsPerPixel, 400 + dyTwips / kTwipsPerPixel);
        layout.relayout();
    }
};

} // namespace

TEST(optionValue, ReadsTheFirstOccurrenceRoundedHalvesToEven)
{
    // A missing key or a value that is no number reads as 0; none at all comes back when the value or its
    // denominator falls outside the 16-bit range or the denominator rounds to 0.
    const std::pair<const char*, std::optional<double>> cases[] = { { "X=1", 1.0 }, { "X=1/2", 0.5 },
        { "X=2/3", 2.0 / 3.0 }, { "W=1 H=1", 0.0 }, { "x=1", 0.0 }, { "X=2 X=1", 2.0 }, { "Y=1 X=3 W=1", 3.0 },
        { "X=0.5", 0.0 }, { "X=1.5", 2.0 }, { "X=2.5", 2.0 }, // a decimal point is no fraction: halves to even
        { "X=abc", 0.0 }, { "X= 1", 0.0 }, { "X=3px", 3.0 }, { "X=-1", -1.0 }, { "X=1e2", 100.0 }, { "X=/2", 0.0 },
        { "X=3/2.4", 1.5 }, { "X=32767", 32767.0 }, { "X=-32768", -32768.0 }, { "X=32768", std::nullopt },
        { "X=32767.5", std::nullopt }, { "X=1e400", std::nullopt }, { "X=1/0", std::nullopt }, { "X=1/", std::nullopt },
        { "X=1/0.4", std::nullopt }, { "X=1/40000", std::nullopt } };
    for (const auto& [opts, expected] : cases) {
        SCOPED_TRACE(opts);
        const std::optional<double> value = AnchorLayout::optionValue(u"X=", QString::fromLatin1(opts));
        ASSERT_EQ(value.has_value(), expected.has_value());
        if (value) {
            EXPECT_DOUBLE_EQ(*value, *expected);
        }
    }
}

TEST(ClsLayout, GrowthFollowsTheTags)
{
    Form form({ "X=1", "W=1", "X=1/2", "", "Y=1 H=1", "x=1" });
    form.resizeBy(1200, 600);
    const QRect start(150, 300, 750, 450);
    EXPECT_EQ(twips(form.children[0]), start.translated(1200, 0));
    EXPECT_EQ(twips(form.children[1]), start.adjusted(0, 0, 1200, 0));
    EXPECT_EQ(twips(form.children[2]), start.translated(600, 0));
    EXPECT_EQ(twips(form.children[3]), start);
    EXPECT_EQ(twips(form.children[4]), QRect(150, 900, 750, 1050));
    EXPECT_EQ(twips(form.children[5]), start);
}

TEST(ClsLayout, RecomputesFromRecordedValuesEveryTime)
{
    Form form({ "X=1 Y=1 W=1 H=1" });
    const QRect recorded = twips(form.children[0]);
    form.resizeBy(1500, 900);
    form.resizeBy(-600, -300); // smaller than at registration: no growth, no negative size
    EXPECT_EQ(twips(form.children[0]), recorded);
    form.resizeBy(450, 150);
    EXPECT_EQ(twips(form.children[0]), recorded.translated(450, 150).adjusted(0, 0, 450, 150));
    form.resizeBy(0, 0);
    EXPECT_EQ(twips(form.children[0]), recorded);
}

TEST(ClsLayout, RefusedOptionsAndToolBarsStayUnregistered)
{
    Form form({ "X=1/0", "X=1", "W=40000" });
    auto* toolBar = new QToolBar(&form.window);
    toolBar->setProperty("Tag", QStringLiteral("X=1"));
    toolBar->setGeometry(0, 0, 100, 20);
    form.layout.attach(&form.window);

    ASSERT_EQ(form.layout.controls().size(), 1);
    EXPECT_EQ(form.layout.controls()[0].widget, form.children[1]);
    form.resizeBy(1200, 0);
    EXPECT_EQ(form.children[0]->x(), 10);
    EXPECT_EQ(form.children[1]->x(), 90);
    EXPECT_EQ(form.children[2]->width(), 50);
    EXPECT_EQ(toolBar->geometry(), QRect(0, 0, 100, 20));
}

TEST(ClsLayout, NegativeShareStopsAtZeroSizeAndTheMinimumSizeRoundsHalvesToEven)
{
    Form form({ "W=-1 H=-2" });
    form.resizeBy(1500, 600);
    EXPECT_EQ(form.children[0]->size(), QSize(0, 0));
    form.layout.setMinWidth(8310.5);
    form.layout.setMinHeight(3751.5);
    EXPECT_EQ(form.layout.minWidth(), 8310);
    EXPECT_EQ(form.layout.minHeight(), 3752);
}

TEST(MainWindowLayout, GrowingMovesTheRightColumnAndTheBottomRow)
{
    QTemporaryDir dir;
    const test::ScopedEnv env = test::programFilesIn(dir.path()); // no access program
    test::ScriptedPerson person;
    Session session(person);
    MainWindow window(session);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QWidget* client = window.centralWidget();
    ASSERT_EQ(client->size() * kTwipsPerPixel, QSize(8310, 3750));

    const auto control = [&window](const char* name) { return window.findChild<QWidget*>(QLatin1String(name)); };
    window.resize(window.width() + 600 / kTwipsPerPixel, window.height() + 300 / kTwipsPerPixel);
    QApplication::processEvents();
    ASSERT_EQ(client->size() * kTwipsPerPixel, QSize(8910, 4050));

    const std::pair<const char*, QRect> grown[]
        = { { "Label1", { 120, 240, 4095, 255 } }, { "txtMailFolder", { 120, 480, 6975, 375 } },
              { "cmdGetMailFolder", { 7200, 480, 495, 375 } }, { "cmdSearch", { 7800, 480, 975, 375 } },
              { "Label3", { 120, 960, 2655, 375 } }, { "ListView1", { 120, 1200, 8655, 1995 } },
              { "Label2", { 120, 3300, 8055, 375 } }, { "txtDir", { 120, 3540, 6975, 375 } },
              { "cmdBrowse", { 7200, 3540, 495, 375 } }, { "cmdSave", { 7800, 3540, 975, 375 } } };
    for (const auto& [name, rect] : grown)
        EXPECT_EQ(twips(control(name)), rect) << name;

    // Smaller than at load: the design layout.
    window.resize(300, 150);
    QApplication::processEvents();
    EXPECT_EQ(twips(control("cmdSave")), QRect(7200, 3240, 975, 375));
    EXPECT_EQ(twips(control("ListView1")), QRect(120, 1200, 8055, 1695));
}

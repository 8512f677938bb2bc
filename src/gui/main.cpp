// SPDX-License-Identifier: MIT
// The program's entry: reads the command line into the start-up state and acts on it.
#include "app/headlessperson.h"
#include "app/startup.h"
#include "gui/folderpicker.h"
#include "gui/guiperson.h"
#include "gui/mainwindow.h"

#include <QApplication>
#include <cstdio>

using namespace quillbox;

namespace {

void writeTo(std::FILE* out, const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), out);
    std::fflush(out);
}

bool hasDisplay()
{
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

/// Answers --help and --version as the first argument; returns whether it did.
bool answerInfoOption(const QStringList& args)
{
    if (args.isEmpty())
        return false;
    if (args.first() == QLatin1String("--help")) {
        writeTo(stdout, usageLines().join(u'\n') + u'\n');
        return true;
    }
    if (args.first() == QLatin1String("--version")) {
        writeTo(stdout, QString::fromUtf16(kProductName) + QLatin1String(" " QUILLBOX_VERSION "\n"));
        return true;
    }
    return false;
}

QtMessageHandler g_qtHandler = nullptr;

/// Qt's offscreen platform warns when a window asks for a feature it lacks (size hints, raising), and Qt
/// warns when a machine without a desktop session has no runtime folder; in a run without a display that is
/// no news to anybody reading standard error.
void quietOffscreenHandler(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (type == QtWarningMsg
        && (text.startsWith(QLatin1String("This plugin does not support "))
            || text.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR not set"))))
        return;
    g_qtHandler(type, context, text);
}

/// QUILLBOX_SCREENSHOT=file.png: the main window as it stands when start-up ends (after an unattended run:
/// after the search and the save) is saved into that file, for the documentation.
void saveScreenshot(QWidget& window)
{
    const QString path = qEnvironmentVariable("QUILLBOX_SCREENSHOT");
    if (path.isEmpty())
        return;
    QApplication::processEvents();
    if (!window.grab().save(path))
        writeTo(stderr, QStringLiteral("Quillbox: cannot save the screenshot %1\n").arg(path));
}

} // namespace

int main(int argc, char** argv)
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    if (answerInfoOption(args))
        return 0;

    // Without TZ, glibc looks at /etc/localtime again at every local-time conversion: three per
    // listed mail. Naming the file it would read anyway gives the same times, read once.
    if (qEnvironmentVariableIsEmpty("TZ"))
        qputenv("TZ", ":/etc/localtime");

    const bool display = hasDisplay();
    if (!display) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        g_qtHandler = qInstallMessageHandler(quietOffscreenHandler);
    }
    // Qt sees only the program's name: every argument is the program's own, even one that looks like a Qt
    // option (-platform, -style, -reverse).
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    QApplication::setApplicationName(QString::fromUtf16(kProductName));
    QApplication::setApplicationVersion(QStringLiteral(QUILLBOX_VERSION));

    HeadlessPerson headless;
    GuiPerson gui;
    Person& person = display ? static_cast<Person&>(gui) : headless;

    const bool shiftHeld = display && QGuiApplication::queryKeyboardModifiers().testFlag(Qt::ShiftModifier);
    const StartupState state = readCommandLine(person, joinArguments(args), shiftHeld);
    gui.setDebugLevel(state.debugLevel);
    if (state.debugLevel > 0) {
        for (const QString& line : describeStartupState(state))
            writeTo(stderr, QString::fromUtf16(kProductName) + QLatin1String(": ") + line + u'\n');
    }

    MainWindow window(person);
    installFolderPicker(gui, &window);
    const std::optional<int> status = runStartup(window, person, state);
    saveScreenshot(window);
    if (status)
        return *status;
    // Without a display nobody can use the window: start-up has done all there is to do.
    if (!display)
        return 0;
    return QApplication::exec();
}

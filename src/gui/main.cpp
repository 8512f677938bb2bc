// SPDX-License-Identifier: MIT
// The program's entry: reads the command line into the start-up state and acts on it, with the main window
// when there is a display, else without any widget.
#include "app/headlessperson.h"
#include "app/listing.h"
#include "app/session.h"
#include "app/startup.h"
#include "config/options.h"
#include "core/maildate.h"
#include "gui/folderpicker.h"
#include "gui/guiperson.h"
#include "gui/mainwindow.h"
#include "output/pdf/pdfbuilder.h"
#include "output/pdfoutput.h"

#include <QApplication>
#include <cstdio>
#include <optional>

using namespace quillbox;

namespace {

bool hasDisplay()
{
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

/// Answers --help and --version; returns the exit status when it did. Runs before Qt is set up.
std::optional<int> answerInfoRequest(const StartupState& state)
{
    if (state.request == Request::Help)
        writeText(stdout, usageLines().join(u'\n') + u'\n');
    else if (state.request == Request::Version)
        writeText(stdout, QString::fromUtf16(kProductName) + QLatin1String(" " QUILLBOX_VERSION "\n"));
    else
        return std::nullopt;
    return 0;
}

/// Answers --list-stores and --list-folders STORE from the profile's stores, without a window.
int answerListRequest(char** argv, const StartupState& state)
{
    int qtArgc = 1;
    QCoreApplication app(qtArgc, argv);
    const mail::Namespace ns = mail::Namespace::fromProfile();
    return writeListing(state.request == Request::ListStores ? listStores(ns) : listFolders(ns, state.listedStore));
}

/// QUILLBOX_SCREENSHOT=file.png: the main window as it stands when start-up ends (after an unattended run:
/// after the search and the save) is saved into that file, for the documentation. It needs a display (or
/// DISPLAY set and QT_QPA_PLATFORM=offscreen).
void saveScreenshot(QWidget& window)
{
    const QString path = qEnvironmentVariable("QUILLBOX_SCREENSHOT");
    if (path.isEmpty())
        return;
    QApplication::processEvents();
    if (!window.grab().save(path))
        writeProgramLine(stderr, QLatin1String("cannot save the screenshot ") + path);
}

/// Reads the command line into the start-up state and, from /dbg 1 on, writes that state to standard error.
StartupState readStartup(Person& person, const ProgramArguments& args, bool shiftHeld)
{
    StartupState state = readCommandLine(person, joinArguments(args.texts), shiftHeld);
    state.notUtf8 = args.notUtf8;
    if (state.debugLevel > 0) {
        for (const QString& line : describeStartupState(state))
            writeProgramLine(stderr, line);
    }
    return state;
}

/// Whether the command line asks for an unattended run that saves PDF files, by the settings file it names
/// (read here without telling anything: the run reads it again and tells).
bool savesPdf(const ProgramArguments& args)
{
    std::FILE* nowhere = std::fopen("/dev/null", "w");
    if (!nowhere)
        return false;
    HeadlessPerson quiet(nowhere);
    const StartupState state = readCommandLine(quiet, joinArguments(args.texts), false);
    Options options(quiet);
    if (state.iniPath.isEmpty())
        options.loadSettings();
    else
        options.useCustomIni(state.iniPath);
    std::fclose(nowhere);
    return state.unattended && options.settings().fnOutput.compare(QLatin1String("pdf"), Qt::CaseInsensitive) == 0;
}

/// The run without a display: no widget and no Qt platform plugin; every message is a line on standard
/// error. Start-up is all there is to do, with /autorun or without. A run that saves PDF files needs Qt Gui's
/// fonts: it alone runs on Qt's offscreen platform.
int runWithoutDisplay(char** argv, const ProgramArguments& args)
{
    // Qt sees only the program's name (see runWithWindow).
    int qtArgc = 1;
    bool pdf = false;
    {
        QCoreApplication probe(qtArgc, argv);
        pdf = savesPdf(args);
    }
    std::unique_ptr<QCoreApplication> app;
    if (pdf) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        app = std::make_unique<QGuiApplication>(qtArgc, argv);
    } else {
        app = std::make_unique<QCoreApplication>(qtArgc, argv);
    }
    HeadlessPerson person;
    const StartupState state = readStartup(person, args, false);
    Session session(person);
    return runStartup(session, state).value_or(0);
}

/// The run with a display: the main window over the session, until it is closed.
int runWithWindow(char** argv, const ProgramArguments& args)
{
    // Qt sees only the program's name: every argument is the program's own, even one that looks like a Qt
    // option (-platform, -style, -reverse).
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    GuiPerson person;
    const bool shiftHeld = QGuiApplication::queryKeyboardModifiers().testFlag(Qt::ShiftModifier);
    const StartupState state = readStartup(person, args, shiftHeld);
    person.setDebugLevel(state.debugLevel);

    Session session(person);
    MainWindow window(session);
    installFolderPicker(person, &window);
    const std::optional<int> status = window.start(state);
    saveScreenshot(window);
    return status ? *status : QApplication::exec();
}

} // namespace

int main(int argc, char** argv)
{
    const ProgramArguments args = decodeArguments(argc, argv);
    // A command line that cannot be read goes on to start-up, which shows the usage message.
    const StartupState request = readCommandLine(joinArguments(args.texts));
    if (request.wrongUse.isEmpty()) {
        if (const std::optional<int> status = answerInfoRequest(request))
            return *status;
    }

    readLocalTimeZoneOnce();

    QCoreApplication::setApplicationName(QString::fromUtf16(kProductName));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUILLBOX_VERSION));
    if (request.wrongUse.isEmpty() && request.request != Request::Start)
        return answerListRequest(argv, request);
    output::setPdfBuilder(
        [](const mail::MailItem& email, const QLocale& locale) { return pdf::pdfContent(email, locale); });
    return hasDisplay() ? runWithWindow(argv, args) : runWithoutDisplay(argv, args);
}

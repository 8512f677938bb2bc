// SPDX-License-Identifier: MIT
#pragma once

#include "core/commandline.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

namespace quillbox {

class Person;
class Session;

/// What the command line asks for instead of a start-up: the informational options, answered on standard
/// output before anything else runs.
enum class Request { Start, Help, Version, ListStores, ListFolders };

/// What the command line asks of start-up.
struct StartupState {
    QStringList positional; ///< positional arguments in command-line order, quotes removed
    QString iniPath; ///< from /ini; empty keeps the default settings file
    qint16 debugLevel = 0; ///< from /dbg
    bool unattended = false; ///< from /autorun
    int discardedTokens = 0; ///< tokens after the CommandLine::kMaxTokens-th, which are not read
    QStringList notUtf8 {}; ///< the process's arguments that were not valid UTF-8, as decoded (see ProgramArguments)
    Request request = Request::Start; ///< the first informational option
    QString listedStore {}; ///< from --list-folders
    QString wrongUse {}; ///< why the command line cannot be read (an unknown or incomplete --option); empty when it can
};

/// The process's arguments, without the program's name, as texts. Bytes that are not UTF-8 are decoded
/// as U+FFFD, so such an argument names another file than the one meant: it is listed in `notUtf8` too.
struct ProgramArguments {
    QStringList texts;
    QStringList notUtf8;
};
[[nodiscard]] ProgramArguments decodeArguments(int argc, const char* const* argv);

/// Reads the command line into the start-up state.
///
/// `commandLine` is the process's arguments as one text (see joinArguments). When `shiftHeld` is set,
/// `person` is asked "Enter debug level and options"; a non-empty answer is read as if " -dbg " and the
/// answer followed the command line, so its first word is the debug level and the rest are further tokens.
///
/// Tokens after the CommandLine::kMaxTokens-th are not read; their number is kept in the state.
/// Options are matched without regard to case and with their quotes removed: "-autorun" or "/autorun" sets
/// the unattended flag; "-ini" or "/ini" and "-dbg" or "/dbg" take the next token as their value whatever
/// it looks like, and an empty value when they are the last token. The last value of a repeated option
/// wins. Every other token is a positional argument, its case kept. A debug value that is not a decimal
/// 16-bit integer (a word, an empty text, 40000) gives level 0.
///
/// Beside them the GNU spellings, matched exactly (case kept, quotes removed): "--autorun", "--ini FILE" or
/// "--ini=FILE", "--debug N" or "--debug=N" mean the same; "--help", "--version", "--list-stores" and
/// "--list-folders STORE" set the request (the first one wins); "--" makes every later token of the command
/// line a positional argument (the typed answer's tokens are still read as options). Unlike the slash
/// forms these refuse what they cannot use: a missing or empty value, a debug level that is not a 16-bit
/// integer, a value given to an option without one, and an unknown "--option" set `wrongUse` (the first).
[[nodiscard]] StartupState readCommandLine(Person& person, const QString& commandLine, bool shiftHeld);

/// readCommandLine() without the typed answer.
[[nodiscard]] StartupState readCommandLine(const QString& commandLine);

/// The usage message, one text per line: the slash form, then the GNU spellings.
[[nodiscard]] QStringList usageLines();

/// Shows the usage message in one message box, its lines joined by CR LF, after `problem` on a line of its
/// own when it is not empty. Returns the exit status, 2, with which the caller ends the program at once.
[[nodiscard]] int showUsage(Person& person, const QString& problem = {});

/// The process's arguments (without the program's name) as one command-line text: an argument is quoted,
/// its quotes doubled, when it is empty or holds a space or a quote, so that CommandLine gives back every
/// argument unchanged through `arg(i)` (the first kMaxTokens of them).
[[nodiscard]] QString joinArguments(const QStringList& args);

/// The start-up state as readable lines for diagnostic output, one per part: the positional arguments
/// (each quoted, its quotes doubled), the INI path, the debug level and the unattended flag.
[[nodiscard]] QStringList describeStartupState(const StartupState& state);

/// The start-up sequence on a session just made, for the start-up state `state` of the command line: a
/// command line that cannot be read shows its `wrongUse` and the usage message; one with more tokens than are read
/// ("The command line holds 23 tokens; only the first 20 are read, so nothing is done.") and a destination that is not
/// valid UTF-8 ("The 'Save to' directory "out\uFFFD" cannot be used: its name is not valid UTF-8.") are refused, and
/// more than two positional arguments show the usage message. Then the debug level is set, `show` is called (a window
/// shows itself there; nothing without one), a settings file named by /ini is made the settings file and read (a file
/// that does not exist gives the defaults; an unattended run says so on standard error), and with /autorun
/// (which needs exactly two positional arguments, else the usage message) the first is searched and the
/// list saved into the second. Every message goes to the session's person.
///
/// Returns the exit status when the program ends here: 2 after a refused command line or the usage
/// message; after the unattended run 1 when a message box was shown or a mail could not be written, else
/// 0. Nothing when the program goes on (with a window, until it is closed).
[[nodiscard]] std::optional<int> runStartup(
    Session& session, const StartupState& state, const std::function<void()>& show = {});

} // namespace quillbox

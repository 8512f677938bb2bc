// SPDX-License-Identifier: MIT
#pragma once

#include "app/result.h"

#include <QString>
#include <QStringList>
#include <array>

namespace quillbox {

class Person;

/// Splits a command line into tokens.
///
/// Tokens are separated by spaces (U+0020 only: a tab or any other white space is an ordinary character).
/// A token that starts with a quote runs to the next single quote; a doubled quote inside it stands for one
/// quote. It is stored raw, with its opening and closing quote, the doubled quotes already reduced, and it
/// ends at its closing quote even when no space follows. A quote inside a plain token is an ordinary
/// character. An unterminated quoted token is dropped together with everything after it. Only the first
/// `kMaxTokens` tokens are kept; later ones are read and discarded.
class clsCmdline {
public:
    static constexpr int kMaxTokens = 20;

    /// The number of tokens stored, 0 to kMaxTokens; 0 again whenever a new command line is assigned.
    qint16 argc = 0;

    /// Token `x` (0-based) as stored, quotes included. An index from `argc` up to kMaxTokens - 1 reads as an
    /// empty text; an index outside 0..kMaxTokens - 1 gives an Error (Code::Invalid) instead of a text.
    [[nodiscard]] Result<QString> argv(int x) const;

    /// `RmQuotes(argv(x))`, with the same index rule.
    [[nodiscard]] Result<QString> arg(int x) const;

    /// Assigns a command line: forgets every earlier token, resets `argc` and tokenizes `text`.
    void setCmdline(const QString& text);

    /// `s` without its first and its last character when `s` starts with a quote, whatever its last
    /// character is (a lone quote gives an empty text); otherwise `s` unchanged.
    [[nodiscard]] static QString RmQuotes(const QString& s);

private:
    // Each reads one token of `text` from `pos` (0-based, moved past what was read) into `token` and
    // returns whether a token was produced.
    static bool NextToken(const QString& text, qsizetype& pos, QString& token);
    static bool ReadPlainToken(const QString& text, qsizetype& pos, QString& token);
    static bool ReadQuotedToken(const QString& text, qsizetype& pos, QString& token);

    std::array<QString, kMaxTokens> m_tokens;
};

/// What the command line asks of start-up.
struct StartupState {
    QStringList positional; ///< positional arguments in command-line order, quotes removed
    QString iniPath; ///< from /ini; empty keeps the default settings file
    qint16 debugLevel = 0; ///< from /dbg
    bool unattended = false; ///< from /autorun
};

/// Reads the command line into the start-up state.
///
/// `commandLine` is the process's arguments as one text (see JoinArguments). When `shiftHeld` is set,
/// `person` is asked "Enter debug level and options"; a non-empty answer is read as if " -dbg " and the
/// answer followed the command line, so its first word is the debug level and the rest are further tokens.
///
/// Options are matched without regard to case and with their quotes removed: "-autorun" or "/autorun" sets
/// the unattended flag; "-ini" or "/ini" and "-dbg" or "/dbg" take the next token as their value whatever
/// it looks like, and an empty value when they are the last token. The last value of a repeated option
/// wins. Every other token is a positional argument, its case kept. A debug value that is not a decimal
/// 16-bit integer (a word, an empty text, 40000) gives level 0.
[[nodiscard]] StartupState ReadCommandLine(Person& person, const QString& commandLine, bool shiftHeld);

/// The usage message, one text per line.
[[nodiscard]] QStringList usageLines();

/// Shows the usage message in one message box, its lines joined by CR LF. Returns the exit status, 2, with
/// which the caller ends the program at once.
[[nodiscard]] int ShowUsage(Person& person);

/// The process's arguments (without the program's name) as one command-line text: an argument is quoted,
/// its quotes doubled, when it is empty or holds a space or a quote, so that clsCmdline gives back every
/// argument unchanged through `arg(i)` (the first kMaxTokens of them).
[[nodiscard]] QString JoinArguments(const QStringList& args);

/// The start-up state as readable lines for diagnostic output, one per part: the positional arguments
/// (each quoted, its quotes doubled), the INI path, the debug level and the unattended flag.
[[nodiscard]] QStringList describeStartupState(const StartupState& state);

} // namespace quillbox

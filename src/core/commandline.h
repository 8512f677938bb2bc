// SPDX-License-Identifier: MIT
#pragma once

#include "core/result.h"

#include <QString>
#include <array>

namespace quillbox {

/// Splits a command line into tokens.
///
/// Tokens are separated by spaces (U+0020 only: a tab or any other white space is an ordinary character).
/// A token that starts with a quote runs to the next single quote; a doubled quote inside it stands for one
/// quote. It is stored raw, with its opening and closing quote, the doubled quotes already reduced, and it
/// ends at its closing quote even when no space follows. A quote inside a plain token is an ordinary
/// character. An unterminated quoted token is dropped together with everything after it. Only the first
/// `kMaxTokens` tokens are kept; later ones are read, counted in `discarded`, and dropped.
class CommandLine {
public:
    static constexpr int kMaxTokens = 20;

    /// The number of tokens stored, 0 to kMaxTokens; 0 again whenever a new command line is assigned.
    qint16 argc = 0;
    /// The number of tokens read after the first kMaxTokens and not stored; reset with argc.
    int discarded = 0;

    /// Token `x` (0-based) as stored, quotes included. An index from `argc` up to kMaxTokens - 1 reads as an
    /// empty text; an index outside 0..kMaxTokens - 1 gives an Error (Code::Invalid) instead of a text.
    [[nodiscard]] Result<QString> argv(int x) const;

    /// `removeQuotes(argv(x))`, with the same index rule.
    [[nodiscard]] Result<QString> arg(int x) const;

    /// Assigns a command line: forgets every earlier token, resets `argc` and tokenizes `text`.
    void setText(const QString& text);

    /// `s` without its first and its last character when `s` starts with a quote, whatever its last
    /// character is (a lone quote gives an empty text); otherwise `s` unchanged.
    [[nodiscard]] static QString removeQuotes(const QString& s);

private:
    // Each reads one token of `text` from `pos` (0-based, moved past what was read) into `token` and
    // returns whether a token was produced.
    static bool nextToken(const QString& text, qsizetype& pos, QString& token);
    static bool readPlainToken(const QString& text, qsizetype& pos, QString& token);
    static bool readQuotedToken(const QString& text, qsizetype& pos, QString& token);

    std::array<QString, kMaxTokens> m_tokens;
};

} // namespace quillbox

// SPDX-License-Identifier: MIT
#include "core/commandline.h"

namespace quillbox {

namespace {
constexpr QChar kQuote = u'"';
constexpr QChar kSpace = u' ';
} // namespace

Result<QString> CommandLine::argv(int x) const
{
    if (x < 0 || x >= kMaxTokens)
        return Error { Error::Code::Invalid, {},
            QStringLiteral("token index %1 is outside 0..%2").arg(x).arg(kMaxTokens - 1) };
    return m_tokens[size_t(x)];
}

Result<QString> CommandLine::arg(int x) const
{
    Result<QString> token = argv(x);
    if (!token)
        return token;
    return removeQuotes(*token);
}

void CommandLine::setText(const QString& text)
{
    argc = 0;
    discarded = 0;
    m_tokens.fill(QString());
    // The appended space closes a plain token at the end of the text.
    const QString padded = text + kSpace;
    qsizetype pos = 0;
    QString token;
    while (nextToken(padded, pos, token)) {
        if (argc < kMaxTokens)
            m_tokens[size_t(argc++)] = token;
        else
            ++discarded;
    }
}

QString CommandLine::removeQuotes(const QString& s)
{
    if (!s.startsWith(kQuote))
        return s;
    return s.size() < 2 ? QString() : s.mid(1, s.size() - 2);
}

bool CommandLine::nextToken(const QString& text, qsizetype& pos, QString& token)
{
    while (pos < text.size() && text[pos] == kSpace)
        ++pos;
    if (pos < text.size() && text[pos] == kQuote)
        return readQuotedToken(text, pos, token);
    return readPlainToken(text, pos, token);
}

bool CommandLine::readPlainToken(const QString& text, qsizetype& pos, QString& token)
{
    const qsizetype space = text.indexOf(kSpace, pos);
    if (space < 0) {
        pos = text.size();
        return false;
    }
    token = text.mid(pos, space - pos);
    pos = space;
    return true;
}

bool CommandLine::readQuotedToken(const QString& text, qsizetype& pos, QString& token)
{
    token = kQuote;
    ++pos;
    while (pos < text.size()) {
        if (text[pos] != kQuote) {
            token += text[pos++];
        } else if (pos + 1 < text.size() && text[pos + 1] == kQuote) {
            token += kQuote;
            pos += 2;
        } else {
            // The closing quote ends the token even when no space follows it.
            token += kQuote;
            ++pos;
            return true;
        }
    }
    return false;
}

} // namespace quillbox

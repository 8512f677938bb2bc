// SPDX-License-Identifier: MIT
#include "app/cmdline.h"

#include "app/person.h"

namespace quillbox {

namespace {
constexpr QChar kQuote = u'"';
constexpr QChar kSpace = u' ';

// "a""b" for a"b: the quoted form the tokenizer reads back as the text itself.
QString quoted(QString text)
{
    return kQuote + text.replace(kQuote, QLatin1String("\"\"")) + kQuote;
}

qint16 parseDebugLevel(const QString& value)
{
    bool ok = false;
    const short level = value.toShort(&ok);
    return ok ? level : 0;
}
} // namespace

Result<QString> clsCmdline::argv(int x) const
{
    if (x < 0 || x >= kMaxTokens)
        return Error { Error::Code::Invalid, {},
            QStringLiteral("token index %1 is outside 0..%2").arg(x).arg(kMaxTokens - 1) };
    return m_tokens[size_t(x)];
}

Result<QString> clsCmdline::arg(int x) const
{
    Result<QString> token = argv(x);
    if (!token)
        return token;
    return RmQuotes(*token);
}

void clsCmdline::setCmdline(const QString& text)
{
    argc = 0;
    m_tokens.fill(QString());
    // The appended space closes a plain token at the end of the text.
    const QString padded = text + kSpace;
    qsizetype pos = 0;
    QString token;
    while (NextToken(padded, pos, token)) {
        if (argc < kMaxTokens)
            m_tokens[size_t(argc++)] = token;
    }
}

QString clsCmdline::RmQuotes(const QString& s)
{
    if (!s.startsWith(kQuote))
        return s;
    return s.size() < 2 ? QString() : s.mid(1, s.size() - 2);
}

bool clsCmdline::NextToken(const QString& text, qsizetype& pos, QString& token)
{
    while (pos < text.size() && text[pos] == kSpace)
        ++pos;
    if (pos < text.size() && text[pos] == kQuote)
        return ReadQuotedToken(text, pos, token);
    return ReadPlainToken(text, pos, token);
}

bool clsCmdline::ReadPlainToken(const QString& text, qsizetype& pos, QString& token)
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

bool clsCmdline::ReadQuotedToken(const QString& text, qsizetype& pos, QString& token)
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

StartupState ReadCommandLine(Person& person, const QString& commandLine, bool shiftHeld)
{
    QString extra;
    if (shiftHeld) {
        const QString answer = person.inputBox(QStringLiteral("Enter debug level and options"));
        if (!answer.isEmpty())
            extra = QLatin1String(" -dbg ") + answer;
    }

    clsCmdline cmdline;
    cmdline.setCmdline(commandLine + extra);

    // With all twenty tokens stored, an option in the last place would otherwise read past the store.
    const auto valueAfter = [&cmdline](int& i) {
        ++i;
        return i < cmdline.argc ? cmdline.arg(i).value() : QString();
    };

    StartupState state;
    for (int i = 0; i < cmdline.argc; ++i) {
        const QString token = cmdline.arg(i).value();
        const QString word = token.toLower();
        if (word == QLatin1String("-autorun") || word == QLatin1String("/autorun"))
            state.unattended = true;
        else if (word == QLatin1String("-ini") || word == QLatin1String("/ini"))
            state.iniPath = valueAfter(i);
        else if (word == QLatin1String("-dbg") || word == QLatin1String("/dbg"))
            state.debugLevel = parseDebugLevel(valueAfter(i));
        else
            state.positional << token;
    }
    return state;
}

QStringList usageLines()
{
    const QString product = QString::fromUtf16(kProductName);
    return { QStringLiteral("Usage: "), product + QLatin1String(" [MailFolder] [Directory] [/ini inifile]"),
        product + QLatin1String(" MailFolder Directory [/ini inifile] /autorun") };
}

int ShowUsage(Person& person)
{
    person.message(usageLines().join(QLatin1String("\r\n")));
    return 2;
}

QString JoinArguments(const QStringList& args)
{
    QStringList parts;
    parts.reserve(args.size());
    for (const QString& arg : args) {
        const bool needsQuotes = arg.isEmpty() || arg.contains(kSpace) || arg.contains(kQuote);
        parts << (needsQuotes ? quoted(arg) : arg);
    }
    return parts.join(kSpace);
}

QStringList describeStartupState(const StartupState& state)
{
    QString positional = QStringLiteral("positional arguments (%1):").arg(state.positional.size());
    for (const QString& arg : state.positional)
        positional += kSpace + quoted(arg);
    return { positional,
        QLatin1String("INI path: ")
            + (state.iniPath.isEmpty() ? QStringLiteral("(the default file)") : quoted(state.iniPath)),
        QStringLiteral("debug level: %1").arg(state.debugLevel),
        QLatin1String("unattended: ") + (state.unattended ? QLatin1String("yes") : QLatin1String("no")) };
}

} // namespace quillbox

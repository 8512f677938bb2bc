// SPDX-License-Identifier: MIT
#include "app/startup.h"

#include "app/headlessperson.h"
#include "app/session.h"
#include "core/person.h"

#include <QFileInfo>
#include <QStringDecoder>

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

StartupState readCommandLine(Person& person, const QString& commandLine, bool shiftHeld)
{
    QString extra;
    if (shiftHeld) {
        const QString answer = person.inputBox(QStringLiteral("Enter debug level and options"));
        if (!answer.isEmpty())
            extra = QLatin1String(" -dbg ") + answer;
    }

    CommandLine cmdline;
    cmdline.setText(commandLine + extra);

    // With all twenty tokens stored, an option in the last place would otherwise read past the store.
    const auto valueAfter = [&cmdline](int& i) {
        ++i;
        return i < cmdline.argc ? cmdline.arg(i).value() : QString();
    };

    StartupState state;
    state.discardedTokens = cmdline.discarded;
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

int showUsage(Person& person)
{
    person.message(usageLines().join(QLatin1String("\r\n")));
    return 2;
}

QString joinArguments(const QStringList& args)
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

ProgramArguments decodeArguments(int argc, const char* const* argv)
{
    ProgramArguments arguments;
    for (int i = 1; i < argc; ++i) {
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString text = utf8(QByteArrayView(argv[i]));
        arguments.texts << text;
        if (utf8.hasError())
            arguments.notUtf8 << text;
    }
    return arguments;
}

std::optional<int> runStartup(Session& session, const StartupState& state, const std::function<void()>& show)
{
    const QStringList& positional = state.positional;
    if (state.discardedTokens > 0) {
        session.person().message(QStringLiteral("The command line holds %1 tokens; only the first %2 are read, so "
                                                "nothing is done.")
                                     .arg(CommandLine::kMaxTokens + state.discardedTokens)
                                     .arg(CommandLine::kMaxTokens));
        return 2;
    }
    // Written to, the name would be another directory than the one given: U+FFFD stands for the bytes.
    if (positional.size() == 2 && state.notUtf8.contains(positional[1])) {
        session.person().message(
            QStringLiteral("The 'Save to' directory \"%1\" cannot be used: its name is not valid UTF-8.")
                .arg(positional[1]));
        return 2;
    }
    if (positional.size() > 2)
        return showUsage(session.person());
    if (state.debugLevel > 0)
        session.setDebugLevel(state.debugLevel);
    if (show)
        show();
    if (!state.iniPath.isEmpty()) {
        session.options().useCustomIni(state.iniPath);
        const QString file = session.options().ini().fileName();
        if (state.unattended && !QFileInfo::exists(file))
            writeProgramLine(stderr,
                QLatin1String("the settings file ") + file
                    + QLatin1String(" does not exist: the default settings are used"));
    }
    if (!state.unattended)
        return std::nullopt;
    if (positional.size() != 2)
        return showUsage(session.person());
    session.search(positional[0]);
    session.save(positional[0], positional[1]);
    const bool saveFailed = session.lastSave() && session.lastSave()->failed > 0;
    return session.messagesShown() > 0 || saveFailed ? 1 : 0;
}

} // namespace quillbox

// SPDX-License-Identifier: MIT
#include "app/startup.h"

#include "app/headlessperson.h"
#include "app/session.h"
#include "core/person.h"

#include <QFileInfo>
#include <QStringDecoder>

#include <QCoreApplication>
#include <algorithm>

namespace quillbox {

namespace {
constexpr QChar kQuote = u'"';
constexpr QChar kSpace = u' ';

// "a""b" for a"b: the quoted form the tokenizer reads back as the text itself.
QString quoted(QString text)
{
    return kQuote + text.replace(kQuote, QLatin1String("\"\"")) + kQuote;
}

std::optional<qint16> debugLevelOf(const QString& value)
{
    bool ok = false;
    const short level = value.toShort(&ok);
    return ok ? std::optional<qint16>(level) : std::nullopt;
}

// The tokens of one command line, read in order.
struct Tokens {
    const CommandLine& cmdline;
    int at = 0;

    QString current() const { return cmdline.arg(at).value(); }
    bool hasNext() const { return at + 1 < cmdline.argc; }
    // The next token as the current option's value, whatever it looks like; empty after the last token (with
    // all twenty tokens stored, an option in the last place would otherwise read past the store).
    QString takeValue()
    {
        ++at;
        return at < cmdline.argc ? current() : QString();
    }
};

void refuse(StartupState& state, const QString& why)
{
    if (state.wrongUse.isEmpty())
        state.wrongUse = why;
}

void request(StartupState& state, Request request, const QString& store = {})
{
    if (state.request != Request::Start)
        return;
    state.request = request;
    state.listedStore = store;
}

// A GNU option that takes a value, from "=" or else from the next token; false when `name` is none of them.
bool readValueOption(const QString& name, std::optional<QString> value, Tokens& tokens, StartupState& state)
{
    const auto valueOf = [&](const char* what) -> std::optional<QString> {
        if (!value && tokens.hasNext())
            value = tokens.takeValue();
        if (value && !value->isEmpty())
            return value;
        refuse(state, QStringLiteral("the option %1 needs %2").arg(name, QLatin1String(what)));
        return std::nullopt;
    };
    if (name == QLatin1String("--ini")) {
        if (const auto file = valueOf("a file name"))
            state.iniPath = *file;
    } else if (name == QLatin1String("--debug")) {
        const auto text = valueOf("a debug level");
        const auto level = text ? debugLevelOf(*text) : std::nullopt;
        if (level)
            state.debugLevel = *level;
        else if (text)
            refuse(state,
                QStringLiteral("the option --debug needs a whole number from -32768 to 32767, not \"%1\"").arg(*text));
    } else if (name == QLatin1String("--list-folders")) {
        if (const auto store = valueOf("a store name"))
            request(state, Request::ListFolders, *store);
    } else {
        return false;
    }
    return true;
}

// A GNU option without a value: --autorun or a request.
void readFlagOption(const QString& name, const std::optional<QString>& value, StartupState& state)
{
    static const QList<std::pair<QLatin1String, Request>> requests = {
        { QLatin1String("--help"), Request::Help },
        { QLatin1String("--version"), Request::Version },
        { QLatin1String("--list-stores"), Request::ListStores },
    };
    const auto named = std::find_if(requests.begin(), requests.end(), [&](const auto& r) { return r.first == name; });
    const bool autorun = name == QLatin1String("--autorun");
    if (!autorun && named == requests.end())
        refuse(state, QLatin1String("unknown option ") + name);
    else if (value)
        refuse(state, QStringLiteral("the option %1 takes no value").arg(name));
    else if (autorun)
        state.unattended = true;
    else
        request(state, named->second);
}

// A GNU spelling, "--name" or "--name=value".
void readLongOption(Tokens& tokens, StartupState& state)
{
    const QString token = tokens.current();
    const qsizetype equals = token.indexOf(u'=');
    const QString name = token.left(equals);
    std::optional<QString> value;
    if (equals >= 0)
        value = token.mid(equals + 1);
    if (!readValueOption(name, value, tokens, state))
        readFlagOption(name, value, state);
}

// The slash form: "/autorun", "/ini FILE", "/dbg N" (or with a dash), any case; anything else is positional.
void readSlashOption(Tokens& tokens, StartupState& state)
{
    const QString token = tokens.current();
    const QString word = token.toLower();
    if (word == QLatin1String("-autorun") || word == QLatin1String("/autorun"))
        state.unattended = true;
    else if (word == QLatin1String("-ini") || word == QLatin1String("/ini"))
        state.iniPath = tokens.takeValue();
    else if (word == QLatin1String("-dbg") || word == QLatin1String("/dbg"))
        state.debugLevel = debugLevelOf(tokens.takeValue()).value_or(0);
    else
        state.positional << token;
}

// Reads the tokens of `cmdline`; the first `ownTokens` of them are the command line's own, the rest typed.
StartupState readTokens(const CommandLine& cmdline, int ownTokens)
{
    StartupState state;
    state.discardedTokens = cmdline.discarded;
    bool optionsEnded = false;
    for (Tokens tokens { cmdline }; tokens.at < cmdline.argc; ++tokens.at) {
        if (tokens.at == ownTokens)
            optionsEnded = false;
        const QString token = tokens.current();
        if (optionsEnded)
            state.positional << token;
        else if (token == QLatin1String("--"))
            optionsEnded = true;
        else if (token.startsWith(QLatin1String("--")))
            readLongOption(tokens, state);
        else
            readSlashOption(tokens, state);
    }
    return state;
}
} // namespace

StartupState readCommandLine(Person& person, const QString& commandLine, bool shiftHeld)
{
    QString extra;
    if (shiftHeld) {
        const QString answer = person.inputBox(QCoreApplication::translate("Startup", "Enter debug level and options"));
        if (!answer.isEmpty())
            extra = QLatin1String(" -dbg ") + answer;
    }
    if (extra.isEmpty())
        return readCommandLine(commandLine);

    CommandLine own;
    own.setText(commandLine);
    CommandLine cmdline;
    cmdline.setText(commandLine + extra);
    return readTokens(cmdline, own.argc);
}

StartupState readCommandLine(const QString& commandLine)
{
    CommandLine cmdline;
    cmdline.setText(commandLine);
    return readTokens(cmdline, cmdline.argc);
}

QStringList usageLines()
{
    const QString product = QString::fromUtf16(kProductName);
    return { QCoreApplication::translate("Startup", "Usage: "),
        product + QLatin1String(" [MailFolder] [Directory] [/ini inifile]"),
        product + QLatin1String(" MailFolder Directory [/ini inifile] /autorun"),
        product + QLatin1String(" [MailFolder] [Directory] [--ini inifile] [--debug level]"),
        product + QLatin1String(" MailFolder Directory [--ini inifile] --autorun"),
        product + QLatin1String(" --list-stores, --list-folders store, --help or --version") };
}

int showUsage(Person& person, const QString& problem)
{
    QStringList lines = usageLines();
    if (!problem.isEmpty())
        lines.prepend(problem);
    person.message(lines.join(QLatin1String("\r\n")));
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
    if (!state.wrongUse.isEmpty())
        return showUsage(session.person(), state.wrongUse);
    if (state.discardedTokens > 0) {
        session.person().message(QCoreApplication::translate(
            "Startup", "The command line holds %1 tokens; only the first %2 are read, so nothing is done.")
                                     .arg(CommandLine::kMaxTokens + state.discardedTokens)
                                     .arg(CommandLine::kMaxTokens));
        return 2;
    }
    // Written to, the name would be another directory than the one given: U+FFFD stands for the bytes.
    if (positional.size() == 2 && state.notUtf8.contains(positional[1])) {
        session.person().message(QCoreApplication::translate(
            "Startup", "The 'Save to' directory \"%1\" cannot be used: its name is not valid UTF-8.")
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

// SPDX-License-Identifier: MIT
#include "mail/imap/account.h"

#include "mail/imap/keyring.h"
#include "mail/profile.h"

#include <QHash>
#include <QProcess>
#include <QSet>
#include <QUrl>

namespace quillbox::mail::imap {

namespace {

// The passwords a person typed, kept in memory for the rest of the program's run (a search and a save each
// open the store anew) and nowhere else.
QHash<QString, QByteArray>& askedPasswords()
{
    static QHash<QString, QByteArray> passwords;
    return passwords;
}

QString keyOf(const Account& account)
{
    return account.user + u'@' + account.host + u':' + QString::number(account.port);
}

PasswordPrompt& passwordPrompt()
{
    static PasswordPrompt prompt;
    return prompt;
}

KeepQuestion& keepQuestion()
{
    static KeepQuestion question;
    return question;
}

std::unique_ptr<Keyring>& keyring()
{
    static std::unique_ptr<Keyring> kept = secretServiceKeyring();
    return kept;
}

Error invalid(const QString& what, const QString& why)
{
    return Error { Error::Code::Invalid, what, why };
}

// The first line the command `commandLine` writes, run without a shell; `setting` names its profile line.
Result<QByteArray> outputOf(const Account& account, const QString& setting, const QString& commandLine)
{
    QStringList arguments = QProcess::splitCommand(commandLine);
    const QString what = account.store + u'.' + setting;
    if (arguments.isEmpty())
        return invalid(what, QStringLiteral("the command is empty"));
    QProcess process;
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    const QString program = arguments.takeFirst();
    process.start(program, arguments, QIODevice::ReadOnly);
    if (!process.waitForFinished(account.timeoutSeconds * 1000)) {
        process.kill();
        process.waitForFinished(1000);
        return Error { Error::Code::Unreadable, what,
            QStringLiteral("the command %1 did not end: %2").arg(program, process.errorString()) };
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return Error { Error::Code::Unreadable, what,
            QStringLiteral("the command %1 failed with status %2").arg(program).arg(process.exitCode()) };
    QByteArray output = process.readAllStandardOutput();
    const qsizetype end = output.indexOf('\n');
    if (end >= 0)
        output.truncate(end);
    if (output.endsWith('\r'))
        output.chop(1);
    if (output.isEmpty())
        return Error { Error::Code::Unreadable, what, QStringLiteral("the command %1 wrote nothing").arg(program) };
    return output;
}

} // namespace

void forgetAskedPassword(const Account& account)
{
    askedPasswords().remove(keyOf(account));
}

bool Account::loopback() const
{
    return host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0 || host.startsWith(QLatin1String("127."))
        || host == QLatin1String("::1");
}

bool isAccountLocation(const QString& location)
{
    return location.startsWith(QLatin1String("imaps://"), Qt::CaseInsensitive)
        || location.startsWith(QLatin1String("imap://"), Qt::CaseInsensitive);
}

QString normalFingerprint(const QString& text)
{
    QString hex;
    for (const QChar c : text) {
        if (c == u':' || c == u' ')
            continue;
        if (!((c >= u'0' && c <= u'9') || (c.toUpper() >= u'A' && c.toUpper() <= u'F')))
            return {};
        hex += c.toUpper();
    }
    return hex.size() == 64 ? hex : QString();
}

QString shownFingerprint(const QString& hex)
{
    QStringList pairs;
    for (qsizetype i = 0; i + 1 < hex.size(); i += 2)
        pairs << hex.mid(i, 2);
    return pairs.join(u':');
}

Result<Account> parseAccount(const QString& storeName, const QString& location, const QMap<QString, QString>& settings)
{
    // A user name is often a mail address: every "@" but the last belongs to it.
    QString address = location;
    const qsizetype authority = address.indexOf(QLatin1String("://")) + 3;
    const qsizetype end = address.indexOf(u'/', authority);
    const qsizetype at = address.lastIndexOf(u'@', end < 0 ? -1 : end);
    for (qsizetype i = authority; i < at; ++i)
        if (address[i] == u'@')
            address.replace(i, 1, QLatin1String("%40"));
    const QUrl url(address, QUrl::StrictMode);
    // What a message shows of the address: never a password written into it.
    const QString shown = url.isValid() ? url.toString(QUrl::RemovePassword) : storeName;
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != QLatin1String("imaps") && scheme != QLatin1String("imap")))
        return invalid(shown, QStringLiteral("not an address of the form imaps://user@host[:port]"));
    if (url.host().isEmpty() || url.userName().isEmpty())
        return invalid(shown, QStringLiteral("the address names no user or no server (imaps://user@host)"));
    if (!url.password().isEmpty())
        return invalid(shown,
            QStringLiteral("a password does not belong in the address; set %1.PasswordCommand instead").arg(storeName));
    if ((!url.path().isEmpty() && url.path() != QLatin1String("/")) || url.hasQuery() || url.hasFragment())
        return invalid(shown, QStringLiteral("the address has more than user, server and port"));
    Account account;
    account.store = storeName;
    account.user = url.userName(QUrl::FullyDecoded);
    account.host = url.host();
    account.security = scheme == QLatin1String("imaps") ? Account::Security::Tls : Account::Security::StartTls;
    account.port = quint16(url.port(account.security == Account::Security::Tls ? 993 : 143));
    account.passwordCommand = settings.value(QStringLiteral("passwordcommand"));
    account.tokenCommand = settings.value(QStringLiteral("tokencommand"));
    const QString pinned = settings.value(QStringLiteral("fingerprint"));
    account.fingerprint = normalFingerprint(pinned);
    if (!pinned.isEmpty() && account.fingerprint.isEmpty())
        return invalid(storeName + QLatin1String(".Fingerprint"),
            QStringLiteral("not a SHA-256 fingerprint (64 hex digits, pairs may be separated by colons)"));
    if (settings.contains(QStringLiteral("timeout"))) {
        bool number = false;
        account.timeoutSeconds = settings.value(QStringLiteral("timeout")).toInt(&number);
        if (!number || account.timeoutSeconds < 1)
            return invalid(storeName + QLatin1String(".Timeout"), QStringLiteral("not a number of seconds"));
    }
    return account;
}

void setPasswordPrompt(PasswordPrompt prompt, KeepQuestion keep)
{
    passwordPrompt() = std::move(prompt);
    keepQuestion() = std::move(keep);
}

void setKeyring(std::unique_ptr<Keyring> kept)
{
    keyring() = std::move(kept);
}

void secretAccepted(const Account& account, const Secret& secret)
{
    static QSet<QString> offered;
    if (secret.source != Secret::Source::Person || !keyring() || !keepQuestion() || offered.contains(keyOf(account)))
        return;
    offered.insert(keyOf(account));
    if (keepQuestion()(QStringLiteral("Keep the password for %1@%2 in the desktop's keyring, so that it is not "
                                      "asked for again?")
                           .arg(account.user, account.host)))
        keyring()->keep(account, secret.text);
}

Result<Secret> secretOf(const Account& account)
{
    if (!account.tokenCommand.isEmpty()) {
        auto token = outputOf(account, QStringLiteral("TokenCommand"), account.tokenCommand);
        if (!token)
            return token.error();
        return Secret { std::move(*token), Secret::Source::TokenCommand };
    }
    if (keyring())
        if (QByteArray kept = keyring()->password(account); !kept.isEmpty())
            return Secret { std::move(kept), Secret::Source::Keyring };
    if (!account.passwordCommand.isEmpty()) {
        auto password = outputOf(account, QStringLiteral("PasswordCommand"), account.passwordCommand);
        if (!password)
            return password.error();
        return Secret { std::move(*password), Secret::Source::PasswordCommand };
    }
    const QString who = account.user + u'@' + account.host;
    if (const auto known = askedPasswords().constFind(keyOf(account)); known != askedPasswords().cend())
        return Secret { *known, Secret::Source::Person };
    if (passwordPrompt()) {
        const QString answer
            = passwordPrompt()(QStringLiteral("Password for %1 (store \"%2\"):").arg(who, account.store));
        if (!answer.isEmpty()) {
            askedPasswords().insert(keyOf(account), answer.toUtf8());
            return Secret { answer.toUtf8(), Secret::Source::Person };
        }
    }
    return Error { Error::Code::Unreadable, account.store,
        QStringLiteral("no password for %1: set %2.PasswordCommand=<command that prints it> (or %2.TokenCommand= for "
                       "OAuth 2) in [Stores] of %3, or open the store in the window to be asked")
            .arg(who, account.store, profilePath()) };
}

} // namespace quillbox::mail::imap

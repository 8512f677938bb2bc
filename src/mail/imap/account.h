// SPDX-License-Identifier: MIT
#pragma once
// An IMAP account of the profile: its address ("imaps://user@host[:port]", or "imap://" with STARTTLS
// required), its settings (lines "<store>.<Setting>=" of [Stores]) and where its password or token comes from.

#include "core/result.h"

#include <QByteArray>
#include <QMap>
#include <QString>
#include <functional>
#include <memory>

namespace quillbox::mail::imap {

struct Account {
    /// How the connection is protected: TLS from the first byte, or STARTTLS, which is required unless the
    /// server is on this computer (a loopback address), where a server without it is spoken to in the clear.
    enum class Security { Tls, StartTls };

    QString store; ///< the store's name, for messages
    QString user;
    QString host;
    quint16 port = 993;
    Security security = Security::Tls;
    QString passwordCommand; ///< a command whose first line of output is the password
    QString tokenCommand; ///< a command whose first line of output is an OAuth 2 access token
    QString fingerprint; ///< the pinned SHA-256 fingerprint of the server's certificate, upper-case hex
    int timeoutSeconds = 60; ///< the longest wait for the network, each time

    /// Whether the server is this computer.
    bool loopback() const;
};

/// Whether `location` is an account's address rather than a path.
bool isAccountLocation(const QString& location);

/// The account of the store `storeName` at `location` with the store's `settings` (keys in lower case:
/// "passwordcommand", "tokencommand", "fingerprint", "timeout"). Error Invalid names what is wrong.
Result<Account> parseAccount(const QString& storeName, const QString& location, const QMap<QString, QString>& settings);

/// The fingerprint `text` as upper-case hex without separators ("AB:cd:01" is "ABCD01"); empty when it is none.
QString normalFingerprint(const QString& text);

/// `hex` (upper-case, no separators) as colon-separated pairs, as certificate tools show a fingerprint.
QString shownFingerprint(const QString& hex);

class Keyring;

/// Asks a person for a password with `prompt`; an empty answer means none was given.
using PasswordPrompt = std::function<QString(const QString& prompt)>;
/// Asks a person a question with Yes and No; true for Yes.
using KeepQuestion = std::function<bool(const QString& question)>;
/// The prompt that IMAP stores ask a password with when neither the keyring nor a password command gives one;
/// with none set (or an empty answer), the store cannot be opened and says what to set. `keep` asks, after
/// the first login with a password so asked, whether to keep it in the keyring; with none, it is not kept.
void setPasswordPrompt(PasswordPrompt prompt, KeepQuestion keep = {});
/// The keyring that passwords are looked up in and kept in from now on (by default the desktop's Secret
/// Service; null: none).
void setKeyring(std::unique_ptr<Keyring> keyring);

/// What the account logs in with.
struct Secret {
    enum class Source { TokenCommand, Keyring, PasswordCommand, Person };
    QByteArray text;
    Source source = Source::PasswordCommand;
    bool token() const { return source == Source::TokenCommand; } ///< an OAuth 2 access token, not a password
};

/// The account's token from its token command, else its password from the keyring, else from its password
/// command, else from the person through the password prompt (once per program run and account; kept in
/// memory only). The commands run without a shell and within the account's time limit. The Error says why
/// there is none and, where no command is set, which line to set.
Result<Secret> secretOf(const Account& account);

/// Tells that the server took `secret` for `account`: a password the person typed is offered, once per
/// program run and account, to be kept in the keyring.
void secretAccepted(const Account& account, const Secret& secret);

/// Forgets the password the person gave for `account` (the server refused it): the next secretOf asks again.
void forgetAskedPassword(const Account& account);

} // namespace quillbox::mail::imap

// SPDX-License-Identifier: MIT
#pragma once
// A private Dovecot IMAP server for tests: configuration, user database, mail folders and a self-signed
// certificate in a temporary folder, listening on 127.0.0.1 on free ports, stopped with the object. Never
// the system's service. As root, the mail belongs to the user nobody and Dovecot runs its helpers as its
// own users; as anyone else, everything runs as that user.

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>

struct mailimap;

namespace quillbox::test {

class Dovecot {
public:
    static constexpr char kUser[] = "alice";
    static constexpr char kPassword[] = "s3cret-pass";

    /// Makes the folder and the certificate and starts the server; failed() tells when it could not start.
    Dovecot();
    ~Dovecot();
    Dovecot(const Dovecot&) = delete;
    Dovecot& operator=(const Dovecot&) = delete;

    /// Why the server is not running, empty when it is.
    const QString& failed() const { return m_failure; }
    quint16 plainPort() const { return m_plainPort; } ///< IMAP with STARTTLS offered
    quint16 tlsPort() const { return m_tlsPort; } ///< IMAP over TLS from the first byte
    /// The certificate's SHA-256 fingerprint as colon-separated upper-case hex pairs.
    QString fingerprint() const { return m_fingerprint; }
    /// The profile location of the test user's account on the TLS port.
    QString location() const;
    /// The server's folder holding the user's mail (Maildir++), to look at flags.
    QString mailDir() const;

    /// Creates the folder `mailbox` (its name on the server: modified UTF-7, levels separated by ".");
    /// returns why not, empty when done.
    QString create(const QByteArray& mailbox);
    /// Deletes the folder `mailbox` and its messages; returns why not, empty when done.
    QString remove(const QByteArray& mailbox);
    /// APPENDs `message` to `mailbox` with INTERNALDATE `received` and no flags; returns why not, empty when
    /// done.
    QString append(const QByteArray& mailbox, const QByteArray& message, const QDateTime& received);
    /// APPENDs each message that `next` gives (false when there are no more) to `mailbox` over one
    /// connection; returns why not, empty when done.
    QString appendAll(
        const QByteArray& mailbox, const std::function<bool(QByteArray& message, QDateTime& received)>& next);
    /// The server's certificate (PEM), for clients that are told to trust it.
    QString certificate() const { return m_dir.path() + QLatin1String("/cert.pem"); }
    /// Kills the server and every process of it at once, as a crash or a dropped network would.
    void kill();

private:
    QString start();
    QString run(const QString& program, const QStringList& arguments) const;
    QString command(const std::function<QString(mailimap*)>& act) const;

    QTemporaryDir m_dir;
    QString m_failure;
    QString m_fingerprint;
    quint16 m_plainPort = 0;
    quint16 m_tlsPort = 0;
    int m_pid = -1;
};

} // namespace quillbox::test

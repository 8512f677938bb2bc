// SPDX-License-Identifier: MIT
#include "support/dovecot.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>

#include <arpa/inet.h>
#include <csignal>
#include <fcntl.h>
#include <grp.h>
#include <libetpan/libetpan.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

namespace quillbox::test {

namespace {

// A port on 127.0.0.1 that nothing listens on now: the kernel's pick for a socket bound to port 0.
quint16 freePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    quint16 port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), size) == 0
        && ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

bool writeFile(const QString& path, const QByteArray& text)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
}

QString groupName(gid_t gid)
{
    const group* entry = ::getgrgid(gid);
    return entry ? QString::fromLocal8Bit(entry->gr_name) : QString();
}

QString userName(uid_t uid)
{
    const passwd* entry = ::getpwuid(uid);
    return entry ? QString::fromLocal8Bit(entry->pw_name) : QString();
}

} // namespace

Dovecot::Dovecot()
{
    m_failure = start();
}

Dovecot::~Dovecot()
{
    kill();
}

QString Dovecot::location() const
{
    return QStringLiteral("imaps://%1@127.0.0.1:%2").arg(QLatin1String(kUser)).arg(m_tlsPort);
}

QString Dovecot::mailDir() const
{
    return m_dir.path() + QLatin1String("/home/Maildir");
}

QString Dovecot::run(const QString& program, const QStringList& arguments) const
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return program + QLatin1String(": ") + QString::fromLocal8Bit(process.readAll()) + process.errorString();
    return {};
}

QString Dovecot::start()
{
    const QString dovecot = QStringLiteral("/usr/sbin/dovecot");
    if (!m_dir.isValid())
        return QStringLiteral("no temporary folder");
    if (!QFileInfo::exists(dovecot))
        return QStringLiteral("Dovecot is not installed (scripts/setup.sh installs dovecot-imapd)");
    const QString dir = m_dir.path();
    const QString certificate = dir + QLatin1String("/cert.pem"), key = dir + QLatin1String("/key.pem");
    if (QString why = run(QStringLiteral("openssl"),
            { "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-days", "2",
                "-subj", "/CN=localhost", "-keyout", key, "-out", certificate });
        !why.isEmpty())
        return why;
    QProcess digest;
    digest.start(QStringLiteral("openssl"), { "x509", "-in", certificate, "-noout", "-fingerprint", "-sha256" });
    digest.waitForFinished(60000);
    m_fingerprint = QString::fromLatin1(digest.readAllStandardOutput()).section(u'=', 1).trimmed();

    // As root, Dovecot refuses to open mail as root: the mail belongs to nobody, and its helpers run as
    // the users the package made. As anyone else, everything is that user's.
    const bool root = ::getuid() == 0;
    const uid_t mailUid = root ? 65534 : ::getuid();
    const gid_t mailGid = root ? 65534 : ::getgid();
    const QString self = userName(::getuid());
    const QString home = dir + QLatin1String("/home");
    for (const char* sub : { "/home/Maildir/cur", "/home/Maildir/new", "/home/Maildir/tmp", "/run", "/state" })
        QDir().mkpath(dir + QLatin1String(sub));
    if (root && ::chown(home.toLocal8Bit().constData(), mailUid, mailGid) != 0)
        return QStringLiteral("cannot give the mail folder to nobody");
    if (root)
        for (const char* sub : { "/home/Maildir", "/home/Maildir/cur", "/home/Maildir/new", "/home/Maildir/tmp" })
            if (::chown((dir + QLatin1String(sub)).toLocal8Bit().constData(), mailUid, mailGid) != 0)
                return QStringLiteral("cannot give the mail folder to nobody");
    // Dovecot's helpers must reach the configuration and the run folder through the temporary folder.
    QFile::setPermissions(dir,
        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner | QFileDevice::ReadGroup
            | QFileDevice::ExeGroup | QFileDevice::ReadOther | QFileDevice::ExeOther);

    m_plainPort = freePort();
    m_tlsPort = freePort();
    if (m_plainPort == 0 || m_tlsPort == 0 || m_plainPort == m_tlsPort)
        return QStringLiteral("no free port on 127.0.0.1");
    const QByteArray passwd = QStringLiteral("%1:{PLAIN}%2:%3:%4::%5::\n")
                                  .arg(QLatin1String(kUser), QLatin1String(kPassword))
                                  .arg(mailUid)
                                  .arg(mailGid)
                                  .arg(home)
                                  .toUtf8();
    const QString internalUser = root ? QStringLiteral("dovecot") : self;
    const QString loginUser = root ? QStringLiteral("dovenull") : self;
    const QByteArray config = QStringLiteral(R"(protocols = imap
listen = 127.0.0.1
base_dir = %1/run
state_dir = %1/state
log_path = %1/dovecot.log
instance_name = quillbox-test-%2
default_internal_user = %3
default_login_user = %4
default_internal_group = %7
first_valid_uid = 1
ssl = yes
ssl_cert = <%1/cert.pem
ssl_key = <%1/key.pem
disable_plaintext_auth = no
auth_mechanisms = plain login
# A refused login is answered at once: the tests try wrong passwords on purpose.
auth_failure_delay = 0
login_trusted_networks = 127.0.0.0/8
passdb {
  driver = passwd-file
  args = %1/passwd
}
userdb {
  driver = passwd-file
  args = %1/passwd
}
mail_location = maildir:~/Maildir
mail_fsync = never
service imap-login {
  chroot =
  inet_listener imap {
    address = 127.0.0.1
    port = %5
  }
  inet_listener imaps {
    address = 127.0.0.1
    port = %6
    ssl = yes
  }
}
service anvil {
  chroot =
}
service stats {
  chroot =
}
)")
                                  .arg(dir)
                                  .arg(m_tlsPort)
                                  .arg(internalUser, loginUser)
                                  .arg(m_plainPort)
                                  .arg(m_tlsPort)
                                  .arg(root ? QStringLiteral("dovecot") : groupName(::getgid()))
                                  .toUtf8();
    if (!writeFile(dir + QLatin1String("/passwd"), passwd) || !writeFile(dir + QLatin1String("/dovecot.conf"), config))
        return QStringLiteral("cannot write the configuration");

    const QByteArray program = dovecot.toLocal8Bit();
    const QByteArray configPath = (dir + QLatin1String("/dovecot.conf")).toLocal8Bit();
    m_pid = ::fork();
    if (m_pid == 0) {
        ::setpgid(0, 0); // its own process group, so that kill() reaches every process of it
        ::prctl(PR_SET_PDEATHSIG, SIGKILL); // and gone with the test, however that ends
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 0);
        ::dup2(null, 1);
        ::dup2(null, 2);
        ::execl(program.constData(), program.constData(), "-F", "-c", configPath.constData(), nullptr);
        ::_exit(127);
    }
    if (m_pid < 0)
        return QStringLiteral("cannot start Dovecot");
    ::setpgid(m_pid, m_pid);
    // Ready when a greeting comes on the port.
    for (int attempt = 0; attempt < 200; ++attempt) {
        if (command([](mailimap*) { return QString(); }).isEmpty())
            return {};
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            QFile log(dir + QLatin1String("/dovecot.log"));
            log.open(QIODevice::ReadOnly);
            return QStringLiteral("Dovecot ended at start: ") + QString::fromLocal8Bit(log.readAll());
        }
        QThread::msleep(50);
    }
    return QStringLiteral("Dovecot did not answer on port %1").arg(m_plainPort);
}

void Dovecot::kill()
{
    if (m_pid <= 0)
        return;
    ::kill(-m_pid, SIGKILL);
    ::waitpid(m_pid, nullptr, 0);
    m_pid = -1;
}

QString Dovecot::command(const std::function<QString(mailimap*)>& act) const
{
    mailimap* imap = mailimap_new(0, nullptr);
    mailimap_set_timeout(imap, 20);
    QString why;
    int r = mailimap_socket_connect(imap, "127.0.0.1", m_plainPort);
    if (r != MAILIMAP_NO_ERROR && r != MAILIMAP_NO_ERROR_NON_AUTHENTICATED)
        why = QStringLiteral("no connection (%1)").arg(r);
    else if (mailimap_login(imap, kUser, kPassword) != MAILIMAP_NO_ERROR)
        why = QStringLiteral("login refused");
    else
        why = act(imap);
    if (why.isEmpty())
        mailimap_logout(imap);
    mailimap_free(imap);
    return why;
}

QString Dovecot::create(const QByteArray& mailbox)
{
    return command([&](mailimap* imap) {
        const int r = mailimap_create(imap, mailbox.constData());
        return r == MAILIMAP_NO_ERROR ? QString() : QStringLiteral("CREATE %1 failed (%2)").arg(mailbox).arg(r);
    });
}

QString Dovecot::remove(const QByteArray& mailbox)
{
    return command([&](mailimap* imap) {
        const int r = mailimap_delete(imap, mailbox.constData());
        return r == MAILIMAP_NO_ERROR ? QString() : QStringLiteral("DELETE %1 failed (%2)").arg(mailbox).arg(r);
    });
}

QString Dovecot::append(const QByteArray& mailbox, const QByteArray& message, const QDateTime& received)
{
    bool given = false;
    return appendAll(mailbox, [&](QByteArray& next, QDateTime& time) {
        if (given)
            return false;
        next = message;
        time = received;
        return given = true;
    });
}

QString Dovecot::appendAll(
    const QByteArray& mailbox, const std::function<bool(QByteArray& message, QDateTime& received)>& next)
{
    return command([&](mailimap* imap) {
        QByteArray message;
        QDateTime received;
        while (next(message, received)) {
            const int offset = received.offsetFromUtc() / 60;
            mailimap_date_time* date = mailimap_date_time_new(received.date().day(), received.date().month(),
                received.date().year(), received.time().hour(), received.time().minute(), received.time().second(),
                (offset / 60) * 100 + offset % 60);
            const int r
                = mailimap_append(imap, mailbox.constData(), nullptr, date, message.constData(), message.size());
            mailimap_date_time_free(date);
            if (r != MAILIMAP_NO_ERROR)
                return QStringLiteral("APPEND to %1 failed (%2)").arg(QString::fromUtf8(mailbox)).arg(r);
        }
        return QString();
    });
}

} // namespace quillbox::test

// SPDX-License-Identifier: MIT
// bench_imap: an IMAP account on a Dovecot of its own on 127.0.0.1, filled with the generated store's
// messages by APPEND; the search of the account and its "EML" save, timed against mbsync (isync) pulling the
// same account into an empty Maildir, and the peak memory of each.
//
//   bench_imap [--count N] [--keep]
//
// The messages come from quillbox-genmaildir (flat, 8 KiB on average, one in ten with an attachment). The
// server, its certificate and every copy live in one temporary folder, removed at the end unless --keep.
#include "app/headlessperson.h"
#include "benchutil.h"
#include "mail/search.h"
#include "output/saverun.h"
#include "support/dovecot.h"

#include <QDirIterator>
#include <QTemporaryDir>

using namespace quillbox;
using namespace quillbox::bench;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption countOption(QStringLiteral("count"), QStringLiteral("Messages (default 10000)."),
        QStringLiteral("n"), QStringLiteral("10000"));
    const QCommandLineOption keepOption(QStringLiteral("keep"), QStringLiteral("Keep the temporary folder."));
    parser.addOptions({ countOption, keepOption });
    parser.addHelpOption();
    parser.process(app);
    const qint64 count = parser.value(countOption).toLongLong();
    printCommand();

    QTemporaryDir work;
    work.setAutoRemove(!parser.isSet(keepOption));
    const QString source = work.filePath(QStringLiteral("source"));
    if (!ensureStore(source, count, 1,
            { QStringLiteral("--size"), QStringLiteral("8192"), QStringLiteral("--attachments"),
                QStringLiteral("10") }))
        return 1;
    QStringList files;
    QDirIterator it(source, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = it.next();
        if (file.contains(QLatin1String("/cur/")) || file.contains(QLatin1String("/new/")))
            files << file;
    }
    files.sort();

    test::Dovecot server;
    if (!server.failed().isEmpty()) {
        std::fprintf(stderr, "bench_imap: %s\n", qPrintable(server.failed()));
        return 1;
    }
    QElapsedTimer clock;
    clock.start();
    qsizetype next = 0;
    const QDateTime first(QDate(2020, 1, 1), QTime(12, 0));
    const QString appended = server.appendAll("INBOX", [&](QByteArray& message, QDateTime& received) {
        if (next == files.size())
            return false;
        QFile file(files[next]);
        if (!file.open(QIODevice::ReadOnly))
            return false;
        message = file.readAll().replace("\r\n", "\n").replace("\n", "\r\n");
        received = first.addSecs(600 * next++);
        return true;
    });
    if (!appended.isEmpty()) {
        std::fprintf(stderr, "bench_imap: %s\n", qPrintable(appended));
        return 1;
    }
    std::printf("appended: %lld messages in %.1f s\n", qint64(files.size()), double(clock.elapsed()) / 1000.0);

    const QString passwordFile = work.filePath(QStringLiteral("password"));
    QFile password(passwordFile);
    if (!password.open(QIODevice::WriteOnly) || password.write(test::Dovecot::kPassword) < 0)
        return 1;
    password.close();
    const QString profile = work.filePath(QStringLiteral("profile.ini"));
    QFile profileFile(profile);
    if (!profileFile.open(QIODevice::WriteOnly))
        return 1;
    profileFile.write(QStringLiteral("[Stores]\nWork=%1\nWork.PasswordCommand=cat %2\nWork.Fingerprint=%3\n")
                          .arg(server.location(), passwordFile, server.fingerprint())
                          .toUtf8());
    profileFile.close();
    qputenv("QUILLBOX_PROFILE", profile.toLocal8Bit());

    HeadlessPerson person;
    // Every file named by date and subject, every field of the list clipped as the defaults of the window do.
    const Settings settings { .dateFormat = QStringLiteral("yyyy-mm-dd HH:MM:SS"),
        .textFormat = {},
        .fnFormat = QStringLiteral("%6 %3"),
        .since = {},
        .before = {},
        .clipAddress = QStringLiteral("50"),
        .clipSubject = QStringLiteral("50"),
        .fnOutput = QStringLiteral("eml") };
    ResultList list;
    // The first search is the server's first look at the headers; the second finds them in its cache.
    for (const char* when : { "first", "again" }) {
        const Timing search
            = best(1, RUSAGE_SELF, [&] { searchMailFolder(person, settings, QStringLiteral("\\\\Work"), list); });
        std::printf("search (%s): %d rows in %.2f s (%.0f messages/s), cpu %.2f s\n", when, list.count(), search.wall,
            double(list.count()) / search.wall, search.cpu);
    }
    SaveSummary summary;
    const Timing save = best(1, RUSAGE_SELF, [&] {
        summary = saveRun(person, settings, QStringLiteral("\\\\Work"), list, work.filePath(QStringLiteral("eml")));
    });
    std::printf("save eml: %lld of %lld written in %.2f s (%.0f messages/s), cpu %.2f s\n", summary.written,
        summary.rows, save.wall, double(summary.written) / save.wall, save.cpu);
    std::printf("peak memory (search and save, this process): %.1f MiB\n", peakMiB());

    // mbsync pulls the same account into an empty Maildir.
    const QString mbsyncConfig = work.filePath(QStringLiteral("mbsyncrc"));
    QFile config(mbsyncConfig);
    if (!config.open(QIODevice::WriteOnly))
        return 1;
    config.write(QStringLiteral("IMAPAccount work\nHost localhost\nPort %1\nUser %2\nPassCmd \"cat %3\"\n"
                                "SSLType IMAPS\nCertificateFile %4\n\n"
                                "IMAPStore remote\nAccount work\n\n"
                                "MaildirStore local\nPath %5/\nInbox %5/INBOX\n\n"
                                "Channel pull\nFar :remote:\nNear :local:\nPatterns *\nSync Pull\nCreate Near\n"
                                "SyncState *\n")
                     .arg(server.tlsPort())
                     .arg(QLatin1String(test::Dovecot::kUser), passwordFile, server.certificate(),
                         work.filePath(QStringLiteral("mbsync")))
                     .toUtf8());
    config.close();
    QDir().mkpath(work.filePath(QStringLiteral("mbsync")));
    QProcess mbsync;
    mbsync.setProcessChannelMode(QProcess::ForwardedChannels);
    clock.restart();
    const double cpuBefore = cpuSeconds(RUSAGE_CHILDREN);
    // GNU time tells mbsync's own peak memory; this process's children include the store generator.
    const QString peakFile = work.filePath(QStringLiteral("mbsync-peak"));
    mbsync.start(QStringLiteral("/usr/bin/time"),
        { QStringLiteral("-f"), QStringLiteral("%M"), QStringLiteral("-o"), peakFile, QStringLiteral("mbsync"),
            QStringLiteral("-q"), QStringLiteral("-c"), mbsyncConfig, QStringLiteral("pull") });
    if (!mbsync.waitForFinished(-1) || mbsync.exitCode() != 0) {
        std::fprintf(stderr, "bench_imap: mbsync failed\n");
        return 1;
    }
    const double mbsyncWall = double(clock.nsecsElapsed()) / 1e9;
    QFile peak(peakFile);
    const double mbsyncPeak = peak.open(QIODevice::ReadOnly) ? peak.readAll().trimmed().toDouble() / 1024.0 : 0.0;
    std::printf("mbsync pull: %.2f s (%.0f messages/s), cpu %.2f s, peak memory %.1f MiB\n", mbsyncWall,
        double(files.size()) / mbsyncWall, cpuSeconds(RUSAGE_CHILDREN) - cpuBefore, mbsyncPeak);
    std::printf("save eml / mbsync pull: %.2f\n", save.wall / mbsyncWall);
    std::printf("load: %s", loadAverage().constData());
    return summary.ok() ? 0 : 1;
}

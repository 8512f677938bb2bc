// SPDX-License-Identifier: MIT
#pragma once
// What the benchmarks share: CPU time, the best of repeated runs, peak memory, the lines that say how
// the figures were made, a walk over a store, and the generated Maildir store that several benchmarks read.

#include "core/settings.h"
#include "mail/store.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <algorithm>
#include <cstdio>
#include <sys/resource.h>
#include <type_traits>

namespace quillbox::bench {

/// The settings the benchmarks name files with: date and time, sender, subject, each clipped at 50.
inline Settings namingSettings()
{
    Settings settings;
    settings.dateFormat = QStringLiteral("yymmdd HHMMSS");
    settings.fnFormat = QStringLiteral("%1 %2 %3");
    settings.clipAddress = QStringLiteral("50");
    settings.clipSubject = QStringLiteral("50");
    return settings;
}

/// Runs `program` with `arguments` and waits for it; true when it ended normally with status 0. Its standard
/// output goes to ours unless `quiet`; its standard error always does.
inline bool runProgram(const QString& program, const QStringList& arguments, bool quiet = false)
{
    QProcess process;
    process.setProcessChannelMode(quiet ? QProcess::ForwardedErrorChannel : QProcess::ForwardedChannels);
    process.start(program, arguments);
    return process.waitForFinished(-1) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

/// User plus system time so far, in seconds, of this process (RUSAGE_SELF), of the calling thread
/// (RUSAGE_THREAD) or of its finished and waited-for children (RUSAGE_CHILDREN).
inline double cpuSeconds(int who)
{
    rusage usage {};
    getrusage(who, &usage);
    auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

/// The best wall-clock time and the best CPU time of a measurement, in seconds, each taken apart.
struct Timing {
    double wall = 1e30;
    double cpu = 1e30;
};

/// Runs `run` `repeat` times and keeps the best wall-clock and the best CPU time (of `who`, as for
/// cpuSeconds()); on a busy machine the CPU time is the steadier figure. `run` is called as run() or, if
/// it takes one, as run(i) with the run's number from 0. `afterEach` is called after each run, untimed.
template <class Run, class After = void (*)()>
Timing best(
    int repeat, int who, Run&& run, After&& afterEach = [] {})
{
    Timing timing;
    for (int i = 0; i < repeat; ++i) {
        const double cpuBefore = cpuSeconds(who);
        QElapsedTimer timer;
        timer.start();
        if constexpr (std::is_invocable_v<Run&, int>)
            run(i);
        else
            run();
        timing.wall = std::min(timing.wall, double(timer.nsecsElapsed()) / 1e9);
        timing.cpu = std::min(timing.cpu, cpuSeconds(who) - cpuBefore);
        afterEach();
    }
    return timing;
}

/// The most memory this process has held so far (ru_maxrss), in MiB.
inline double peakMiB()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) / 1024.0;
}

/// The line of /proc/loadavg, newline included, or "unknown\n".
inline QByteArray loadAverage()
{
    QFile load(QStringLiteral("/proc/loadavg"));
    return load.open(QIODevice::ReadOnly) ? load.readLine() : QByteArray("unknown\n");
}

/// Prints the "uptime:" line: what `uptime` says of the machine's load, with which figures on a shared
/// machine are to be read.
inline void printUptime()
{
    QProcess uptime;
    uptime.start(QStringLiteral("uptime"), QStringList());
    uptime.waitForFinished();
    std::printf("uptime: %s", uptime.readAllStandardOutput().constData());
}

/// Prints the "command:" line (with TZ: glibc looks at /etc/localtime again for every local-time
/// conversion when TZ is unset, which weighs on every figure) and the "build:" line.
inline void printCommand()
{
    std::printf("command: TZ=%s %s\n",
        qEnvironmentVariableIsSet("TZ") ? qPrintable(qEnvironmentVariable("TZ")) : "(unset)",
        qPrintable(QCoreApplication::arguments().join(u' ')));
#ifdef NDEBUG
    std::printf("build: optimised (NDEBUG)\n");
#else
    std::printf("build: debug (figures are not representative)\n");
#endif
}

/// Visits every item of `folder` and of every folder below it through the store model, without building
/// rows; returns the number of items.
inline qint64 walkStore(const mail::Folder& folder)
{
    qint64 items = 0;
    (void)folder.items([&](const mail::ItemSummary&) { ++items; });
    if (auto children = folder.folders())
        for (const auto& child : *children)
            items += walkStore(*child);
    return items;
}

/// The options that choose the generated store: --store DIR, --count N (default 100000), --folders N
/// (default 200). Without --store the store is $TMPDIR/quillbox-bench-<count>x<folders>.
class StoreOptions {
public:
    void addTo(QCommandLineParser& parser) const { parser.addOptions({ m_store, m_count, m_folders }); }
    qint64 count(const QCommandLineParser& parser) const
    {
        return parser.isSet(m_count) ? parser.value(m_count).toLongLong() : 100'000;
    }
    int folders(const QCommandLineParser& parser) const
    {
        return parser.isSet(m_folders) ? parser.value(m_folders).toInt() : 200;
    }
    QString dir(const QCommandLineParser& parser) const
    {
        return parser.isSet(m_store)
            ? QDir(parser.value(m_store)).absolutePath()
            : QDir::tempPath() + QStringLiteral("/quillbox-bench-%1x%2").arg(count(parser)).arg(folders(parser));
    }

private:
    const QCommandLineOption m_store { QStringLiteral("store"),
        QStringLiteral("The store's directory (generated when missing)."), QStringLiteral("dir") };
    const QCommandLineOption m_count { QStringLiteral("count"),
        QStringLiteral("Messages to generate (default 100000)."), QStringLiteral("n") };
    const QCommandLineOption m_folders { QStringLiteral("folders"),
        QStringLiteral("Folders to generate (default 200)."), QStringLiteral("n") };
};

/// The options of the benchmarks that save a store: those of StoreOptions and --out DIR, where the
/// destination goes (default: beside the store).
class SaveOptions : public StoreOptions {
public:
    void addTo(QCommandLineParser& parser) const
    {
        StoreOptions::addTo(parser);
        parser.addOption(m_out);
    }
    /// A fresh directory's path below --out, named after `what` and this process.
    QString destination(const QCommandLineParser& parser, const char* what) const
    {
        const QString out
            = parser.isSet(m_out) ? QDir(parser.value(m_out)).absolutePath() : QFileInfo(dir(parser)).absolutePath();
        return out
            + QStringLiteral("/quillbox-bench-%1-%2").arg(QLatin1String(what)).arg(QCoreApplication::applicationPid());
    }

private:
    const QCommandLineOption m_out { QStringLiteral("out"),
        QStringLiteral("Where the destination goes (default: beside the store)."), QStringLiteral("dir") };
};

/// The settings the benchmarks save with: names "%1 %2 %3" in the date format "yymmdd HHMMSS", clips of 50,
/// the output type `type`.
inline Settings saveSettings(const QString& type)
{
    Settings settings;
    settings.dateFormat = QStringLiteral("yymmdd HHMMSS");
    settings.fnFormat = QStringLiteral("%1 %2 %3");
    settings.clipAddress = settings.clipSubject = QStringLiteral("50");
    settings.fnOutput = type;
    return settings;
}

/// The shape of the generated store the benchmarks read by default: nested folders, eight below each,
/// three levels deep, messages of 8 KiB on average, one in ten with an attachment.
inline const QStringList kNestedShape { QStringLiteral("--fanout"), QStringLiteral("8"), QStringLiteral("--depth"),
    QStringLiteral("3"), QStringLiteral("--size"), QStringLiteral("8192"), QStringLiteral("--attachments"),
    QStringLiteral("10") };

/// Makes sure the generated Maildir store of `count` messages in `folders` folders, of the shape that the
/// generator arguments `shape` give, is in `dir`: reused when an earlier run finished writing it there
/// (the file `dir`.complete says so), else written by quillbox-genmaildir (QUILLBOX_GENMAILDIR, the
/// generator's path, is defined for the benchmark). False, told on standard error, when `dir` holds
/// something else or the generator fails.
inline bool ensureStore(const QString& dir, qint64 count, int folders, const QStringList& shape = kNestedShape)
{
    const QByteArray self = QCoreApplication::applicationName().toLocal8Bit();
    const QString completeMark = dir + QLatin1String(".complete");
    if (QFileInfo::exists(completeMark))
        return true;
    if (QDir(dir).exists() && !QDir(dir).isEmpty()) {
        std::fprintf(stderr, "%s: %s is not empty and was not generated completely; remove it\n", self.constData(),
            qPrintable(dir));
        return false;
    }
#ifndef QUILLBOX_GENMAILDIR
    Q_UNUSED(count)
    Q_UNUSED(folders)
    Q_UNUSED(shape)
    std::fprintf(
        stderr, "%s: built without quillbox-genmaildir; pass --store with an existing store\n", self.constData());
    return false;
#else
    const QStringList arguments = QStringList { QStringLiteral("--out"), dir, QStringLiteral("--count"),
        QString::number(count), QStringLiteral("--folders"), QString::number(folders) }
        + shape;
    std::printf("generating: %s %s\n", QUILLBOX_GENMAILDIR, qPrintable(arguments.join(u' ')));
    std::fflush(stdout);
    QProcess generator;
    generator.setProcessChannelMode(QProcess::ForwardedChannels);
    generator.start(QStringLiteral(QUILLBOX_GENMAILDIR), arguments);
    if (!generator.waitForFinished(-1) || generator.exitStatus() != QProcess::NormalExit || generator.exitCode() != 0) {
        std::fprintf(stderr, "%s: quillbox-genmaildir failed\n", self.constData());
        return false;
    }
    return QFile(completeMark).open(QIODevice::WriteOnly);
#endif
}

} // namespace quillbox::bench

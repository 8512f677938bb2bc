// SPDX-License-Identifier: MIT
// bench_save: the save run of a whole generated Maildir store, as .eml, .txt and .msg, timed against the
// floor of copying the same message files with `cp -r` into a fresh directory on the same disk.
//
//   bench_save [--store DIR] [--count N] [--folders N] [--out DIR] [--types eml,txt,msg] [--folder-option]
//              [--repeat N] [--threads N] [--keep]
//
// The store is the one bench_search uses: written by quillbox-genmaildir into DIR (default
// $TMPDIR/quillbox-bench-<count>x<folders>) unless an earlier run left it complete there, and kept. The
// copies go into fresh directories below --out (default beside the store, so on the same disk; /dev/shm
// keeps the disk's swings out of the figures) and are removed at the end, or after each output type on a
// tmpfs, which holds them in memory. The store is read once before timing, so every figure is a warm-cache
// figure. The lines start with the command and the load average, and end with the load average again.
// The floor is timed again before each output type, so that a change in the machine's load (it is shared)
// weighs on both sides of each ratio; each figure is the best of --repeat runs.
#include "app/headlessperson.h"
#include "benchutil.h"
#include "core/maildate.h"
#include "output/saverun.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>

#include <algorithm>
#include <cstdio>
#include <linux/magic.h>
#include <sys/resource.h>
#include <sys/vfs.h>
#include <unistd.h>

using namespace quillbox;

namespace {

bool onTmpfs(const QString& dir)
{
    struct statfs info { };
    return ::statfs(QFile::encodeName(dir).constData(), &info) == 0 && info.f_type == TMPFS_MAGIC;
}

struct Timing {
    double wall = 1e30;
    double cpu = 1e30; ///< user and system time
    double user = 1e30;
};

// The CPU times of this process (or of its finished children) so far.
Timing cpuTimes(int who)
{
    rusage usage {};
    getrusage(who, &usage);
    const double user = double(usage.ru_utime.tv_sec) + double(usage.ru_utime.tv_usec) / 1e6;
    const double system = double(usage.ru_stime.tv_sec) + double(usage.ru_stime.tv_usec) / 1e6;
    return Timing { 0, user + system, user };
}

// The best wall time and the best CPU time of `repeat` runs of `run` (given the run's number). Each run
// writes into a fresh directory and nothing is deleted until the end: ext4 makes a new file slowly while it
// still remembers many recently deleted ones, which would slow whichever side came after a deletion. The
// written data is synced after each run, untimed, so that no run inherits another's writeback.
template <class Run> Timing best(int repeat, int who, Run&& run)
{
    Timing timing;
    for (int i = 0; i < repeat; ++i) {
        QElapsedTimer timer;
        timer.start();
        const Timing before = cpuTimes(who);
        run(i);
        const Timing after = cpuTimes(who);
        timing.wall = std::min(timing.wall, double(timer.nsecsElapsed()) / 1e9);
        timing.cpu = std::min(timing.cpu, after.cpu - before.cpu);
        timing.user = std::min(timing.user, after.user - before.user);
        ::sync();
    }
    return timing;
}

} // namespace

int main(int argc, char** argv)
{
    readLocalTimeZoneOnce(); // as the program does
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const bench::StoreOptions storeOptions;
    storeOptions.addTo(parser);
    const QCommandLineOption outOption(QStringLiteral("out"),
        QStringLiteral("Where the copies go (default: beside the store)."), QStringLiteral("dir"));
    const QCommandLineOption typesOption(
        QStringLiteral("types"), QStringLiteral("Output types to time (default eml,txt,msg)."), QStringLiteral("list"));
    const QCommandLineOption folderOption(
        QStringLiteral("folder-option"), QStringLiteral("Save into sub-directories per folder."));
    const QCommandLineOption repeatOption(QStringLiteral("repeat"),
        QStringLiteral("Timed runs of each, the best counts (default 2)."), QStringLiteral("n"));
    const QCommandLineOption threadsOption(QStringLiteral("threads"),
        QStringLiteral("Worker threads of the save run (default: one per processor but one)."), QStringLiteral("n"));
    const QCommandLineOption keepOption(QStringLiteral("keep"), QStringLiteral("Keep the copies (to look at them)."));
    parser.addOptions({ outOption, typesOption, folderOption, repeatOption, threadsOption, keepOption });
    parser.process(app);
    const qint64 count = storeOptions.count(parser);
    const int folderCount = storeOptions.folders(parser);
    const QString store = storeOptions.dir(parser);
    const QString out
        = parser.isSet(outOption) ? QDir(parser.value(outOption)).absolutePath() : QFileInfo(store).absolutePath();
    const int repeat = std::max(1, parser.isSet(repeatOption) ? parser.value(repeatOption).toInt() : 2);
    const int threads = parser.isSet(threadsOption) ? parser.value(threadsOption).toInt() : -1;
    const QStringList types
        = parser.isSet(typesOption) ? parser.value(typesOption).split(u',') : QStringList { "eml", "txt", "msg" };

    if (!bench::ensureStore(store, count, folderCount))
        return 1;
    const QString scratch = out + QStringLiteral("/quillbox-bench-save-%1").arg(QCoreApplication::applicationPid());
    const QString copy = scratch + QStringLiteral("/copy-before-%1-%2");
    if (!QDir().mkpath(scratch)) {
        std::fprintf(stderr, "bench_save: cannot make %s\n", qPrintable(scratch));
        return 1;
    }

    // A first copy brings the store into the page cache.
    bench::runProgram(QStringLiteral("cp"), { QStringLiteral("-r"), store, scratch + QStringLiteral("/warm-up") });
    ::sync();
    const bool inMemory = onTmpfs(scratch) && !parser.isSet(keepOption);
    if (inMemory)
        QDir(scratch + QStringLiteral("/warm-up")).removeRecursively();

    HeadlessPerson person;
    Settings settings = bench::namingSettings();
    settings.useFnFolder = parser.isSet(folderOption) ? 1 : 0;
    const QString mailFolder = QStringLiteral("\\\\Bench");
    auto openNamespace = [&] { return mail::Namespace::fromStores({ { QStringLiteral("Bench"), store } }); };
    ResultList list;
    const Timing search
        = best(1, RUSAGE_SELF, [&](int) { searchMailFolder(person, settings, mailFolder, list, openNamespace); });

    bench::printCommand();
    std::printf("load average: %s", bench::loadAverage().constData());
    std::printf("store: %s: %d rows listed\n", qPrintable(store), list.count());
    std::printf("settings: FnFormat \"%s\", DateFormat \"%s\", folder option %s\n", qPrintable(settings.fnFormat),
        qPrintable(settings.dateFormat), settings.useFnFolder ? "on" : "off");
    std::printf("search of %s: %.3f s (CPU %.3f s); peak memory after it: %.1f MiB\n", qPrintable(mailFolder),
        search.wall, search.cpu, bench::peakMiB());
    std::printf("floor: cp -r %s %s, timed before each save run; best of %d runs each, wall and CPU apart\n",
        qPrintable(store), qPrintable(copy.arg(QStringLiteral("TYPE"), QStringLiteral("N"))), repeat);
    std::fflush(stdout);

    int status = person.messagesShown() == 0 ? 0 : 1;
    for (const QString& type : types) {
        bool copied = true;
        const Timing floor = best(repeat, RUSAGE_CHILDREN, [&](int i) {
            copied &= bench::runProgram(QStringLiteral("cp"), { QStringLiteral("-r"), store, copy.arg(type).arg(i) });
        });
        if (!copied) {
            std::fprintf(stderr, "bench_save: cp -r failed\n");
            return 1;
        }
        settings.fnOutput = type;
        SaveSummary summary;
        const Timing save = best(repeat, RUSAGE_SELF, [&](int i) {
            const QString destination = scratch + QStringLiteral("/%1-%2").arg(type).arg(i);
            summary = saveRun(
                person, settings, mailFolder, list, destination, openNamespace, output::Disk::system(), threads);
        });
        const double limit = type == u"eml" ? 1.0 : type == u"txt" ? 1.5 : 2.0;
        std::printf("%s: save run %7.3f s (CPU %7.3f s, user %7.3f s), floor %7.3f s (CPU %7.3f s, user %7.3f s): "
                    "%.2f of the floor (target <= %.1f), CPU %.2f; %lld written, %lld failed; %.0f mails/s\n",
            qPrintable(type), save.wall, save.cpu, save.user, floor.wall, floor.cpu, floor.user, save.wall / floor.wall,
            limit, save.cpu / floor.cpu, summary.written, summary.failed, double(list.count()) / save.wall);
        std::fflush(stdout);
        if (!summary.ok())
            status = 1;
        if (inMemory)
            for (int i = 0; i < repeat; ++i) {
                QDir(copy.arg(type).arg(i)).removeRecursively();
                QDir(scratch + QStringLiteral("/%1-%2").arg(type).arg(i)).removeRecursively();
            }
    }
    std::printf("peak memory (ru_maxrss): %.1f MiB (target < 300)\n", bench::peakMiB());
    std::printf("load average: %s", bench::loadAverage().constData());
    if (parser.isSet(keepOption)) {
        std::printf("kept: %s\n", qPrintable(scratch));
    } else {
        std::printf("removing %s\n", qPrintable(scratch));
        QDir(scratch).removeRecursively();
    }
    return status;
}

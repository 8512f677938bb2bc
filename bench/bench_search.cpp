// SPDX-License-Identifier: MIT
// bench_search: the search of a whole generated Maildir store into the result list, timed against two
// yardsticks on the same store: the floor of listing every folder and reading the first 8 KiB of every
// message file, and mblaze (mlist of every folder | mpick -t 'date >= "2010-01-01"' | mscan).
//
//   bench_search [--store DIR] [--count N] [--folders N] [--repeat N] [--threads N] [--search-only]
//   bench_search --maildirpp-folders N [--store DIR] [--repeat N]
//
// The store is written by quillbox-genmaildir into DIR (default $TMPDIR/quillbox-bench-<count>x<folders>)
// unless an earlier run left it complete there; it is kept for the next run. Each figure is the best of
// --repeat runs after one untimed pass that warms the page cache. The search reads headers on --threads
// worker threads besides its own (default: one per processor but one), and once more on its own thread
// alone for comparison. With --maildirpp-folders the store is N
// Maildir++ folders in one directory (".a", ".a.b", ... ten below each, one small message each, default
// DIR $TMPDIR/quillbox-bench-maildirpp-N): the walk must stay linear in the number of folders.
#include "benchutil.h"

#include "app/headlessperson.h"
#include "core/maildate.h"
#include "mail/search.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>

#include <algorithm>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

using namespace quillbox;
using namespace quillbox::bench;

namespace {

struct Store {
    QString root;
    QStringList folders; // every directory that holds cur/ or new/, the root first
};

Store findFolders(const QString& root)
{
    Store store { root, {} };
    auto isFolder = [](const QString& dir) {
        return QFileInfo(dir + QLatin1String("/cur")).isDir() || QFileInfo(dir + QLatin1String("/new")).isDir();
    };
    if (isFolder(root))
        store.folders << root;
    QDirIterator it(root, QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString dir = it.next();
        const QString name = it.fileName();
        if (name != QLatin1String("cur") && name != QLatin1String("new") && name != QLatin1String("tmp")
            && isFolder(dir))
            store.folders << dir;
    }
    return store;
}

// Lists cur/ and new/ of every folder and reads the first 8 KiB of each message file: the least any
// search that looks at every message's headers has to do. Returns the number of messages read.
qint64 readFloor(const Store& store)
{
    static char buffer[8192];
    qint64 messages = 0;
    for (const QString& folder : store.folders) {
        for (const char* sub : { "/cur", "/new" }) {
            const QByteArray dirPath = QFile::encodeName(folder) + sub;
            DIR* dir = opendir(dirPath.constData());
            if (!dir)
                continue;
            const int dirFd = dirfd(dir);
            while (const dirent* entry = readdir(dir)) {
                if (entry->d_name[0] == '.')
                    continue;
                const int fd = openat(dirFd, entry->d_name, O_RDONLY | O_CLOEXEC);
                if (fd < 0)
                    continue;
                if (read(fd, buffer, sizeof buffer) > 0)
                    ++messages;
                close(fd);
            }
            closedir(dir);
        }
    }
    return messages;
}

const char kMblazeScript[] = "mlist \"$@\" | mpick -t 'date >= \"2010-01-01\"' | mscan | wc -l";

// Runs the mblaze pipeline over every folder; returns the number of lines mscan wrote, or -1.
qint64 runMblaze(const Store& store)
{
    QProcess shell;
    shell.setProcessChannelMode(QProcess::SeparateChannels);
    shell.start(QStringLiteral("/bin/sh"),
        QStringList { QStringLiteral("-c"), QLatin1String(kMblazeScript), QStringLiteral("sh") } + store.folders);
    if (!shell.waitForFinished(-1) || shell.exitCode() != 0)
        return -1;
    return shell.readAllStandardOutput().trimmed().toLongLong();
}

} // namespace

int main(int argc, char** argv)
{
    readLocalTimeZoneOnce(); // as the program does
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const StoreOptions storeOptions;
    storeOptions.addTo(parser);
    const QCommandLineOption repeatOption(QStringLiteral("repeat"),
        QStringLiteral("Timed runs of each, the best counts (default 3)."), QStringLiteral("n"));
    parser.addOption(repeatOption);
    const QCommandLineOption plusOption(QStringLiteral("maildirpp-folders"),
        QStringLiteral("Search a store of this many Maildir++ folders in one directory instead."), QStringLiteral("n"));
    parser.addOption(plusOption);
    const QCommandLineOption threadsOption(QStringLiteral("threads"),
        QStringLiteral("Worker threads of the search (default: one per processor but one)."), QStringLiteral("n"));
    parser.addOption(threadsOption);
    const QCommandLineOption searchOnlyOption(
        QStringLiteral("search-only"), QStringLiteral("Only the threaded search, --repeat times (to profile it)."));
    parser.addOption(searchOnlyOption);
    parser.process(app);
    const int threads = parser.isSet(threadsOption) ? parser.value(threadsOption).toInt() : -1;
    const int plusFolders = parser.value(plusOption).toInt();
    const qint64 count = plusFolders > 0 ? plusFolders : storeOptions.count(parser);
    const int folderCount = plusFolders > 0 ? plusFolders : storeOptions.folders(parser);
    const int repeat = std::max(1, parser.isSet(repeatOption) ? parser.value(repeatOption).toInt() : 3);
    const QString dir = plusFolders > 0 && !parser.isSet(QStringLiteral("store"))
        ? QDir::tempPath() + QStringLiteral("/quillbox-bench-maildirpp-%1").arg(plusFolders)
        : storeOptions.dir(parser);
    const QStringList plusShape { QStringLiteral("--layout"), QStringLiteral("maildir++"), QStringLiteral("--fanout"),
        QStringLiteral("10"), QStringLiteral("--depth"), QStringLiteral("5"), QStringLiteral("--size"),
        QStringLiteral("1024"), QStringLiteral("--attachments"), QStringLiteral("0") };

    if (!ensureStore(dir, count, folderCount, plusFolders > 0 ? plusShape : kNestedShape))
        return 1;

    const Store store = findFolders(dir);
    const qint64 messages = readFloor(store); // warms the cache
    const QString path = QStringLiteral("\\\\Bench");
    auto openNamespace = [&] { return mail::Namespace::fromStores({ { QStringLiteral("Bench"), dir } }); };
    HeadlessPerson person;
    Settings settings;
    settings.dateFormat = QStringLiteral("yymmdd HHMMSS");
    ResultList list;
    searchMailFolder(person, settings, path, list, openNamespace); // warms the cache and the backend's code paths
    if (parser.isSet(searchOnlyOption)) {
        const Timing search = best(
            repeat, RUSAGE_SELF, [&] { searchMailFolder(person, settings, path, list, openNamespace, {}, threads); });
        printCommand();
        std::printf("search: %.3f s wall, %.3f s cpu, %d rows\n", search.wall, search.cpu, list.count());
        return 0;
    }
    qint64 mblazeLines = runMblaze(store);

    const Timing floor = best(repeat, RUSAGE_SELF, [&] { readFloor(store); });
    const Timing search = best(
        repeat, RUSAGE_SELF, [&] { searchMailFolder(person, settings, path, list, openNamespace, {}, threads); });
    const Timing alone
        = best(repeat, RUSAGE_SELF, [&] { searchMailFolder(person, settings, path, list, openNamespace, {}, 0); });
    const Timing walk = best(repeat, RUSAGE_SELF, [&] {
        const mail::Namespace ns = openNamespace();
        if (auto top = ns.topFolder(QStringLiteral("Bench")))
            walkStore(**top);
    });
    const Timing mblaze = best(repeat, RUSAGE_CHILDREN, [&] { mblazeLines = runMblaze(store); });
    const double peak = peakMiB();

    printCommand();
    std::printf("store: %s: %lld messages in %lld folders; load average %s", qPrintable(dir), messages,
        qint64(store.folders.size()), loadAverage().constData());
    std::printf("best of %d warm runs each:                         wall s     cpu s\n", repeat);
    auto line = [](const char* what, const Timing& t) { std::printf("%-48s %9.3f %9.3f\n", what, t.wall, t.cpu); };
    line("floor: list folders, read 8 KiB of every message", floor);
    line(qPrintable(QStringLiteral("search: %1 into the result list (%2 rows)").arg(path).arg(list.count())), search);
    line("  the same on the search's own thread alone", alone);
    line("  of which the store walk alone (no rows)", walk);
    line(qPrintable(QStringLiteral("mblaze (%1 lines, cpu of all its processes)").arg(mblazeLines)), mblaze);
    std::printf("mblaze: sh -c '%s' sh <every folder>\n", kMblazeScript);
    std::printf(
        "search / floor:  %.2f wall, %.2f cpu (target <= 1.3)\n", search.wall / floor.wall, search.cpu / floor.cpu);
    std::printf(
        "search / mblaze: %.2f wall, %.2f cpu (target < 1)\n", search.wall / mblaze.wall, search.cpu / mblaze.cpu);
    std::printf("search speed: %.0f messages/s wall, %.0f per cpu second (target >= 60000 wall)\n",
        double(messages) / search.wall, double(messages) / search.cpu);
    std::printf("peak memory (ru_maxrss): %.1f MiB (target < 300)\n", peak);
    if (plusFolders > 0)
        std::printf("Maildir++: %lld folders in one directory searched in %.3f s wall (target < 2 for 10000)\n",
            qint64(store.folders.size()), search.wall);
    return person.messagesShown() == 0 ? 0 : 1;
}

// SPDX-License-Identifier: MIT
// bench_pst: the listing of Outlook data files, the part of a search that reads the store, in items per
// second: each pass opens every file as a new store (as each search does) and visits every item of every
// folder below its top folder; passes repeat until at least --items items were visited. The same passes
// are timed through the whole search into the result list. Then the save run writes every listed mail of
// the files once as a directory (FnOutput "dir": message text, HTML and attachments, default name
// templates), timed beside libpff's own `pffexport -m all`, which writes the same files once into a
// directory per item. Both write into fresh directories below one scratch directory, so on one disk; the
// written data is synced after each run, untimed, so that no run inherits another's writeback.
//
//   bench_pst [--items N] [--repeat N] [--no-pffexport] [--no-save] [--out DIR] [file.pst ...]
//
// With no files: the three largest sample files of the tests (tests/data/pst). TZ is set as the program
// sets it, so that the figures are the program's.
#include "benchutil.h"
#include "core/maildate.h"

#include "app/headlessperson.h"
#include "mail/pst/pststore.h"
#include "mail/search.h"
#include "output/saverun.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <unistd.h>
#include <vector>

using namespace quillbox;
using namespace quillbox::bench;

namespace {

// One pass: every file opened as a new store and listed whole. -1 when a file cannot be listed.
qint64 listOnce(const QStringList& files)
{
    qint64 items = 0;
    for (const QString& file : files) {
        auto store = mail::openPstStore(QStringLiteral("Bench"), file);
        if (!store)
            return -1;
        auto top = (*store)->topFolder();
        if (!top)
            return -1;
        items += walkStore(**top);
    }
    return items;
}

QStringList largestSamples()
{
    QDir dir(QStringLiteral(QUILLBOX_PST_SAMPLES));
    const QFileInfoList files
        = dir.entryInfoList({ QStringLiteral("*.pst"), QStringLiteral("*.ost") }, QDir::Files, QDir::Size);
    QStringList paths;
    for (const QFileInfo& file : files.mid(0, 3))
        paths << file.absoluteFilePath();
    return paths;
}

} // namespace

int main(int argc, char** argv)
{
    readLocalTimeZoneOnce(); // as the program does
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption itemsOption(QStringLiteral("items"),
        QStringLiteral("Repeat the passes until this many items were listed (default 10000)."), QStringLiteral("n"));
    const QCommandLineOption repeatOption(QStringLiteral("repeat"),
        QStringLiteral("Timed runs of each measurement, the best counts (default 3)."), QStringLiteral("n"));
    const QCommandLineOption noPffexportOption(
        QStringLiteral("no-pffexport"), QStringLiteral("Do not time pffexport."));
    const QCommandLineOption noSaveOption(QStringLiteral("no-save"), QStringLiteral("Do not time the save run."));
    const QCommandLineOption outOption(QStringLiteral("out"),
        QStringLiteral("Where the save run and pffexport write (default: the temporary directory)."),
        QStringLiteral("dir"));
    parser.addOptions({ itemsOption, repeatOption, noPffexportOption, noSaveOption, outOption });
    parser.addPositionalArgument(QStringLiteral("files"), QStringLiteral("Outlook data files (.pst, .ost)."));
    parser.process(app);
    const qint64 wanted = parser.isSet(itemsOption) ? parser.value(itemsOption).toLongLong() : 10'000;
    const int repeat = std::max(1, parser.isSet(repeatOption) ? parser.value(repeatOption).toInt() : 3);
    const QStringList files = parser.positionalArguments().isEmpty() ? largestSamples() : parser.positionalArguments();
    if (files.isEmpty()) {
        std::fprintf(stderr, "bench_pst: no files\n");
        return 1;
    }

    const qint64 perPass = listOnce(files); // also warms the page cache
    if (perPass <= 0) {
        std::fprintf(stderr, "bench_pst: the files cannot be listed, or hold no items\n");
        return 1;
    }
    const qint64 passes = (wanted + perPass - 1) / perPass;
    const Timing listing = best(repeat, RUSAGE_SELF, [&] {
        for (qint64 i = 0; i < passes; ++i)
            listOnce(files);
    });

    // The whole search: every file as a store of one namespace, each top folder searched into the list.
    QList<std::pair<QString, QString>> stores;
    for (int i = 0; i < files.size(); ++i)
        stores.append({ QStringLiteral("Bench%1").arg(i), files[i] });
    HeadlessPerson person;
    Settings settings;
    settings.dateFormat = QStringLiteral("yymmdd HHMMSS");
    ResultList list;
    qint64 rows = 0;
    const Timing search = best(repeat, RUSAGE_SELF, [&] {
        rows = 0;
        for (qint64 i = 0; i < passes; ++i)
            for (const auto& store : stores) {
                searchMailFolder(person, settings, QStringLiteral("\\\\") + store.first, list,
                    [&] { return mail::Namespace::fromStores(stores); });
                rows += list.count();
            }
    });

    // One scratch directory for both writers, so that both write to one disk; every run gets fresh
    // directories in it, and nothing is removed before the end (ext4 makes new files slowly while it still
    // remembers many just deleted).
    const QString outBase = parser.isSet(outOption) ? parser.value(outOption) : QDir::tempPath();
    QTemporaryDir scratch(outBase + QStringLiteral("/quillbox-bench-pst-XXXXXX"));
    if (!scratch.isValid()) {
        std::fprintf(stderr, "bench_pst: cannot make a directory in %s\n", qPrintable(outBase));
        return 1;
    }
    ::sync();

    // The save run: each file searched once into its own list, then every list saved as directories.
    std::vector<std::unique_ptr<ResultList>> lists;
    qint64 saveRows = 0;
    SaveSummary saveTotal;
    Timing save;
    const bool timeSave = !parser.isSet(noSaveOption);
    if (timeSave) {
        settings.fnFormat = QStringLiteral("%1 %2 %3");
        settings.clipAddress = QStringLiteral("50");
        settings.clipSubject = QStringLiteral("50");
        settings.fnOutput = QStringLiteral("DIR");
        for (const auto& store : stores) {
            lists.push_back(std::make_unique<ResultList>());
            searchMailFolder(person, settings, QStringLiteral("\\\\") + store.first, *lists.back(),
                [&] { return mail::Namespace::fromStores(stores); });
            saveRows += lists.back()->count();
        }
        save = best(
            repeat, RUSAGE_SELF,
            [&](int run) {
                saveTotal = SaveSummary {};
                for (qsizetype i = 0; i < stores.size(); ++i) {
                    const SaveSummary summary = saveRun(person, settings, QStringLiteral("\\\\") + stores[i].first,
                        *lists[size_t(i)], scratch.filePath(QStringLiteral("dir-%1/%2").arg(run).arg(i)),
                        [&] { return mail::Namespace::fromStores(stores); });
                    saveTotal.rows += summary.rows;
                    saveTotal.written += summary.written;
                    saveTotal.failed += summary.failed;
                    if (!saveTotal.firstFailure)
                        saveTotal.firstFailure = summary.firstFailure;
                    if (!saveTotal.stoppedBy)
                        saveTotal.stoppedBy = summary.stoppedBy;
                }
            },
            [] { ::sync(); });
    }

    Timing pffexport;
    bool pffexportRan = false;
    if (!parser.isSet(noPffexportOption)) {
        pffexportRan = true;
        pffexport = best(
            repeat, RUSAGE_CHILDREN,
            [&](int run) {
                // pffexport makes its target, not the directories above it.
                pffexportRan = pffexportRan && QDir().mkpath(scratch.filePath(QStringLiteral("pffexport-%1").arg(run)));
                for (int i = 0; i < files.size() && pffexportRan; ++i) {
                    QProcess process;
                    process.start(QStringLiteral("pffexport"),
                        { QStringLiteral("-m"), QStringLiteral("all"), QStringLiteral("-q"), QStringLiteral("-t"),
                            scratch.filePath(QStringLiteral("pffexport-%1/%2").arg(run).arg(i)), files[i] });
                    pffexportRan = process.waitForFinished(-1) && process.exitStatus() == QProcess::NormalExit
                        && process.exitCode() == 0;
                    if (!pffexportRan)
                        std::fprintf(stderr, "%s", process.readAllStandardError().constData());
                }
            },
            [] { ::sync(); });
    }

    printCommand();
    std::printf("files (%lld items a pass, %lld passes, each file opened anew in each pass):\n", perPass, passes);
    for (const QString& file : files)
        std::printf("  %s (%lld bytes)\n", qPrintable(file), QFileInfo(file).size());
    const double items = double(perPass * passes);
    std::printf(
        "best of %d runs:                                       wall s     cpu s   items/s wall   items/s cpu\n",
        repeat);
    auto line = [&](const QString& what, const Timing& t, double count) {
        std::printf(
            "%-52s %9.3f %9.3f %14.0f %13.0f\n", qPrintable(what), t.wall, t.cpu, count / t.wall, count / t.cpu);
    };
    line(QStringLiteral("listing: items() of every folder (%1 items)").arg(qint64(items)), listing, items);
    line(QStringLiteral("search into the result list (%1 rows of mail)").arg(rows), search, items);
    std::printf("listing speed: %.0f items/s wall, search speed: %.0f items/s wall (target >= 20000)\n",
        items / listing.wall, items / search.wall);
    if (timeSave)
        line(QStringLiteral("save run \"dir\", each file once (%1 mails)").arg(saveRows), save, double(saveRows));
    if (pffexportRan)
        line(QStringLiteral("pffexport -m all -q, each file once (%1 items)").arg(perPass), pffexport, double(perPass));
    else if (!parser.isSet(noPffexportOption))
        std::printf("pffexport: could not be run (Debian package pff-tools)\n");
    std::printf("written below %s (one disk for both)\n", qPrintable(scratch.path()));
    int status = 0;
    if (timeSave) {
        std::printf(
            "save run: %lld of %lld mails written, %lld failed", saveTotal.written, saveTotal.rows, saveTotal.failed);
        if (saveTotal.firstFailure)
            std::printf("; the first: %s", qPrintable(saveTotal.firstFailure->describe()));
        if (saveTotal.stoppedBy)
            std::printf("; stopped by: %s", qPrintable(saveTotal.stoppedBy->describe()));
        std::printf("\n");
        if (saveTotal.written != saveRows || saveTotal.stoppedBy)
            status = 1;
    }
    if (timeSave && pffexportRan)
        std::printf("save run / pffexport: %.2f wall, %.2f CPU (target <= 1)\n", save.wall / pffexport.wall,
            save.cpu / pffexport.cpu);
    std::printf("peak memory (ru_maxrss): %.1f MiB\n", peakMiB());
    return status;
}

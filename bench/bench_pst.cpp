// SPDX-License-Identifier: MIT
// bench_pst: the listing of Outlook data files, the part of a search that reads the store, in items per
// second: each pass opens every file as a new store (as each search does) and visits every item of every
// folder below its top folder; passes repeat until at least --items items were visited. The same passes
// are timed through the whole search into the result list, and libpff's own `pffexport -m all` is timed
// on the same files once, as a yardstick for the save run that comes later.
//
//   bench_pst [--items N] [--repeat N] [--no-pffexport] [file.pst ...]
//
// With no files: the three largest sample files of the tests (tests/data/pst).
#include "benchutil.h"

#include "app/headlessperson.h"
#include "mailstore/pst/pststore.h"
#include "mailstore/search.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

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
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption itemsOption(QStringLiteral("items"),
        QStringLiteral("Repeat the passes until this many items were listed (default 10000)."), QStringLiteral("n"));
    const QCommandLineOption repeatOption(QStringLiteral("repeat"),
        QStringLiteral("Timed runs of each measurement, the best counts (default 3)."), QStringLiteral("n"));
    const QCommandLineOption noPffexportOption(
        QStringLiteral("no-pffexport"), QStringLiteral("Do not time pffexport."));
    parser.addOptions({ itemsOption, repeatOption, noPffexportOption });
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
    settings.DateFormat = QStringLiteral("yymmdd HHMMSS");
    ResultList list;
    qint64 rows = 0;
    const Timing search = best(repeat, RUSAGE_SELF, [&] {
        rows = 0;
        for (qint64 i = 0; i < passes; ++i)
            for (const auto& store : stores) {
                SearchMailFolder(person, settings, QStringLiteral("\\\\") + store.first, list,
                    [&] { return mail::Namespace::fromStores(stores); });
                rows += list.count();
            }
    });

    Timing pffexport;
    bool pffexportRan = false;
    if (!parser.isSet(noPffexportOption)) {
        QTemporaryDir target;
        pffexportRan = target.isValid();
        pffexport = best(1, RUSAGE_CHILDREN, [&] {
            for (int i = 0; i < files.size() && pffexportRan; ++i) {
                QProcess process;
                process.start(QStringLiteral("pffexport"),
                    { QStringLiteral("-m"), QStringLiteral("all"), QStringLiteral("-q"), QStringLiteral("-t"),
                        target.filePath(QString::number(i)), files[i] });
                pffexportRan = process.waitForFinished(-1) && process.exitStatus() == QProcess::NormalExit
                    && process.exitCode() == 0;
            }
        });
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
    std::printf("listing speed: %.0f items/s wall (target >= 20000)\n", items / listing.wall);
    if (pffexportRan) {
        std::printf("pffexport -m all -q -t <tmp> <file>, each file once:  %9.3f %9.3f %14.0f %13.0f\n", pffexport.wall,
            pffexport.cpu, double(perPass) / pffexport.wall, double(perPass) / pffexport.cpu);
    } else if (!parser.isSet(noPffexportOption)) {
        std::printf("pffexport: could not be run (Debian package pff-tools)\n");
    }
    return 0;
}

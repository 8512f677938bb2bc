// SPDX-License-Identifier: MIT
// bench_archive: saving a whole generated Maildir store again into a destination that holds it already
// (SkipSaved), timed against the search of the same store: every mail is recorded in the manifest with
// its files in place, so the run reads no mail and writes none, only the manifest and index.csv.
//
//   bench_archive [--store DIR] [--count N] [--folders N] [--out DIR] [--type txt] [--repeat N] [--keep]
//
// The store is the one bench_search and bench_save use (see benchutil.h). The first run writes every mail
// into a fresh directory below --out (default beside the store) and is timed once; each later run is timed
// as the best of --repeat. The destination is removed at the end, unless --keep leaves it for the next
// run (whose first run then finds every mail saved already). Figures on a shared machine are
// indicative: the load average is printed with them.
#include "app/headlessperson.h"
#include "benchutil.h"
#include "mail/search.h"
#include "output/saverun.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <cstdio>

using namespace quillbox;
using namespace quillbox::bench;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const SaveOptions options;
    options.addTo(parser);
    const QCommandLineOption typeOption(
        QStringLiteral("type"), QStringLiteral("Output type (default txt)."), QStringLiteral("type"));
    const QCommandLineOption repeatOption(QStringLiteral("repeat"),
        QStringLiteral("Timed runs of the search and of the second save, the best counts (default 3)."),
        QStringLiteral("n"));
    const QCommandLineOption keepOption(
        QStringLiteral("keep"), QStringLiteral("Leave the destination, with its manifest, for the next run."));
    parser.addOptions({ typeOption, repeatOption, keepOption });
    parser.process(app);
    const bool keep = parser.isSet(keepOption);
    const QString store = options.dir(parser);
    if (!ensureStore(store, options.count(parser), options.folders(parser)))
        return 1;
    // A kept destination has a name without the process number, so that the next run finds it.
    const QString dest = keep ? QFileInfo(options.destination(parser, "archive")).absolutePath()
            + QStringLiteral("/quillbox-bench-archive-kept")
                              : options.destination(parser, "archive");
    const int repeat = std::max(1, parser.isSet(repeatOption) ? parser.value(repeatOption).toInt() : 3);

    HeadlessPerson person;
    Settings settings = saveSettings(parser.isSet(typeOption) ? parser.value(typeOption) : QStringLiteral("txt"));
    settings.skipSaved = 1;
    const QString mailFolder = QStringLiteral("\\\\Bench");
    auto openNamespace = [&] { return mail::Namespace::fromStores({ { QStringLiteral("Bench"), store } }); };
    ResultList list;
    walkStore(**openNamespace().topFolder(QStringLiteral("Bench"))); // warms the cache
    const Timing search
        = best(repeat, RUSAGE_SELF, [&] { searchMailFolder(person, settings, mailFolder, list, openNamespace); });
    const auto save = [&] { return saveRun(person, settings, mailFolder, list, dest, openNamespace); };
    SaveSummary first;
    const Timing firstRun = best(1, RUSAGE_SELF, [&] { first = save(); });
    SaveSummary again;
    const Timing second = best(repeat, RUSAGE_SELF, [&] { again = save(); });
    if (!keep)
        QDir(dest).removeRecursively();

    printCommand();
    printUptime();
    std::printf(
        "store: %s: %d rows listed; output type %s\n", qPrintable(store), list.count(), qPrintable(settings.fnOutput));
    std::printf("search: %.3f s (CPU %.3f s), best of %d\n", search.wall, search.cpu, repeat);
    std::printf("first run: %.3f s (CPU %.3f s): %lld written, %lld failed\n", firstRun.wall, firstRun.cpu,
        first.written, first.failed);
    std::printf("second run (SkipSaved): %.3f s (CPU %.3f s), best of %d: %lld written, %lld already saved\n",
        second.wall, second.cpu, repeat, again.written, again.alreadySaved);
    std::printf("second run / search: %.2f wall, %.2f CPU (target at most 1.10)\n", second.wall / search.wall,
        second.cpu / search.cpu);
    return again.written == 0 && again.alreadySaved == list.count() ? 0 : 1;
}

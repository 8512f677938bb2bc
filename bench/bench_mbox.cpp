// SPDX-License-Identifier: MIT
// bench_mbox: one mbox file of generated messages, searched whole and saved as .eml, against the floor of
// reading the file once (`cat FILE >/dev/null`, warm cache) and against `git mailsplit`, which splits an
// mbox into one file per message.
//
//   bench_mbox [--store DIR] [--count N] [--out DIR] [--repeat N] [--keep] [--search-only]
//
// The messages are those of the generated Maildir store (quillbox-genmaildir, one folder, the generator's
// mix), written once into DIR.mbox with mboxrd quoting and kept beside the store. The saved and the split
// files go below --out (default beside the store; /dev/shm keeps the disk's swings, and a file system slow
// to make files after many deletions, out of the figures). Every figure is the best of --repeat runs, wall
// and CPU (user and system) apart; the machine's load average is printed with them.
#include "app/headlessperson.h"
#include "benchutil.h"
#include "output/saverun.h"

#include <QDirIterator>

#include <cstdio>
#include <sys/resource.h>
#include <unistd.h>

using namespace quillbox;

namespace {

// Writes every message file of the Maildir tree `store` into the mbox file `path`, in name order, each
// after a separator line, its "From " lines quoted as mboxrd does.
bool writeMbox(const QString& store, const QString& path)
{
    QStringList files;
    QDirIterator it(store, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next();
    files.sort();
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    for (const QString& name : files) {
        QFile in(name);
        if (!in.open(QIODevice::ReadOnly))
            return false;
        QByteArray text = in.readAll();
        for (qsizetype at = 0; at < text.size(); at = text.indexOf('\n', at) + 1) {
            qsizetype quotes = at;
            while (quotes < text.size() && text[quotes] == '>')
                ++quotes;
            if (text.mid(quotes, 5) == "From ")
                text.insert(at, '>');
            if (text.indexOf('\n', at) < 0)
                break;
        }
        if (!text.endsWith('\n'))
            text += '\n';
        out.write("From bench@example.org Thu Mar  5 10:00:00 2026\n" + text + '\n');
    }
    return out.flush();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const bench::SaveOptions storeOptions; // --store, --count and --out; the messages are written into one folder
    QCommandLineParser parser;
    parser.addHelpOption();
    storeOptions.addTo(parser);
    const QCommandLineOption repeatOption(QStringLiteral("repeat"),
        QStringLiteral("Timed runs of each, the best counts (default 3)."), QStringLiteral("n"));
    const QCommandLineOption keepOption(
        QStringLiteral("keep"), QStringLiteral("Keep the saved and the split files (to look at them)."));
    const QCommandLineOption searchOnlyOption(QStringLiteral("search-only"),
        QStringLiteral("Search only: no save, no git mailsplit (to profile the search)."));
    parser.addOptions({ repeatOption, keepOption, searchOnlyOption });
    parser.process(app);
    const qint64 count = storeOptions.count(parser);
    const int repeat = std::max(1, parser.isSet(repeatOption) ? parser.value(repeatOption).toInt() : 3);
    const QString store = parser.isSet(QStringLiteral("store"))
        ? storeOptions.dir(parser)
        : QDir::tempPath() + QStringLiteral("/quillbox-bench-%1x1").arg(count);
    const QString mbox = store + QLatin1String(".mbox");
    if (!bench::ensureStore(store, count, 1))
        return 1;
    if (!QFileInfo::exists(mbox + QLatin1String(".complete"))) {
        std::printf("writing: %s\n", qPrintable(mbox));
        std::fflush(stdout);
        if (!writeMbox(store, mbox) || !QFile(mbox + QLatin1String(".complete")).open(QIODevice::WriteOnly)) {
            std::fprintf(stderr, "bench_mbox: cannot write %s\n", qPrintable(mbox));
            return 1;
        }
    }
    const QString scratch = storeOptions.destination(parser, "mbox");
    QDir().mkpath(scratch);

    const QString cat = QStringLiteral("cat %1 >/dev/null").arg(mbox);
    bench::runProgram(QStringLiteral("sh"), { QStringLiteral("-c"), cat }); // into the page cache
    const bench::Timing floor = bench::best(repeat, RUSAGE_CHILDREN, [&] {
        bench::runProgram(QStringLiteral("sh"), { QStringLiteral("-c"), cat });
    });

    HeadlessPerson person;
    Settings settings = bench::namingSettings();
    settings.fnOutput = QStringLiteral("EML");
    const QString folder = QStringLiteral("\\\\Bench\\") + QFileInfo(mbox).completeBaseName();
    auto openNamespace = [&] { return mail::Namespace::fromStores({ { QStringLiteral("Bench"), mbox } }); };
    ResultList list;
    int searched = 0;
    const bench::Timing search = bench::best(
        repeat, RUSAGE_SELF, [&] { searchMailFolder(person, settings, folder, list, openNamespace); },
        // Each search starts on an empty list, as the first of a session and a command-line run do: freeing
        // the last search's rows (some 30 ms for 100,000) is no part of searching the file. The last rows stay
        // for the save.
        [&] {
            if (++searched < repeat)
                list.clear();
        });
    const double searchPeak = bench::peakMiB();
    if (parser.isSet(searchOnlyOption)) {
        bench::printCommand();
        std::printf("search of %s: %.3f s (CPU %.3f s): %.2f of the floor (%.3f s), %d rows\n", qPrintable(folder),
            search.wall, search.cpu, search.wall / floor.wall, floor.wall, list.count());
        return 0;
    }

    SaveSummary summary;
    double writingCpu = 1e30; // of the thread that writes the files in order, which bounds the wall time
    const bench::Timing save = bench::best(
        repeat, RUSAGE_SELF,
        [&](int i) {
            const double before = bench::cpuSeconds(RUSAGE_THREAD);
            summary = saveRun(person, settings, folder, list, scratch + QStringLiteral("/eml-%1").arg(i), openNamespace,
                output::Disk::system());
            writingCpu = std::min(writingCpu, bench::cpuSeconds(RUSAGE_THREAD) - before);
        },
        [] { ::sync(); });
    bool split = true;
    const bench::Timing mailsplit = bench::best(
        repeat, RUSAGE_CHILDREN,
        [&](int i) {
            const QString dir = scratch + QStringLiteral("/mailsplit-%1").arg(i);
            QDir().mkpath(dir);
            split &= bench::runProgram(
                QStringLiteral("git"), { QStringLiteral("mailsplit"), QLatin1String("-o") + dir, mbox }, true);
        },
        [] { ::sync(); });

    bench::printCommand();
    std::printf("load average: %s", bench::loadAverage().constData());
    std::printf("file: %s, %.1f MiB, %d rows listed\n", qPrintable(mbox), double(QFileInfo(mbox).size()) / 1048576.0,
        list.count());
    std::printf("floor: %s: %.3f s\n", qPrintable(cat), floor.wall);
    std::printf("search of %s: %.3f s (CPU %.3f s): %.2f of the floor (target <= 2), %.0f messages/s (target >= "
                "100000); peak memory after it %.1f MiB\n",
        qPrintable(folder), search.wall, search.cpu, search.wall / floor.wall, list.count() / search.wall, searchPeak);
    std::printf("eml: save run %.3f s (CPU %.3f s, of which the writing thread %.3f s), %lld written, %lld failed; git "
                "mailsplit -o%s/mailsplit-N %s: "
                "%.3f s (CPU %.3f s)%s: %.2f of it (target <= 1), CPU %.2f\n",
        save.wall, save.cpu, writingCpu, summary.written, summary.failed, qPrintable(scratch), qPrintable(mbox),
        mailsplit.wall, mailsplit.cpu, split ? "" : " (failed)", save.wall / mailsplit.wall, save.cpu / mailsplit.cpu);
    std::printf("peak memory (ru_maxrss): %.1f MiB (target < 300)\n", bench::peakMiB());
    if (parser.isSet(keepOption))
        std::printf("kept: %s\n", qPrintable(scratch));
    else
        QDir(scratch).removeRecursively();
    return summary.ok() && split ? 0 : 1;
}

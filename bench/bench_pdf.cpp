// SPDX-License-Identifier: MIT
// bench_pdf: a save run as PDF of the first N mails (default 1,000) of the generated Maildir store, with
// the time per mail. PDF files are laid out by Qt's text engine on the offscreen platform, one mail after
// another.
//
//   bench_pdf [--store DIR] [--count N] [--folders N] [--mails N] [--out DIR]
//
// The store is the one bench_search and bench_save use (see benchutil.h); the files go into a fresh
// directory below --out (default beside the store), removed at the end. Figures on a shared machine are
// indicative: the load average is printed with them.
#include "app/headlessperson.h"
#include "benchutil.h"
#include "mail/search.h"
#include "output/pdf/pdfbuilder.h"
#include "output/pdfoutput.h"
#include "output/saverun.h"

#include <QDirIterator>
#include <QGuiApplication>

#include <cstdio>

using namespace quillbox;
using namespace quillbox::bench;

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const SaveOptions options;
    options.addTo(parser);
    const QCommandLineOption mailsOption(
        QStringLiteral("mails"), QStringLiteral("Mails to save (default 1000)."), QStringLiteral("n"));
    parser.addOption(mailsOption);
    parser.process(app);
    const QString store = options.dir(parser);
    if (!ensureStore(store, options.count(parser), options.folders(parser)))
        return 1;
    const QString dest = options.destination(parser, "pdf");
    const int mails = parser.isSet(mailsOption) ? parser.value(mailsOption).toInt() : 1000;

    output::setPdfBuilder(
        [](const mail::MailItem& email, const QLocale& locale) { return pdf::pdfContent(email, locale); });
    HeadlessPerson person;
    const Settings settings = saveSettings(QStringLiteral("PDF"));
    const QString mailFolder = QStringLiteral("\\\\Bench");
    auto openNamespace = [&] { return mail::Namespace::fromStores({ { QStringLiteral("Bench"), store } }); };
    ResultList all;
    searchMailFolder(person, settings, mailFolder, all, openNamespace);
    ResultList list;
    for (int i = 0; i < std::min(mails, all.count()); ++i)
        list.appendRow(all.row(i));
    SaveSummary summary;
    const Timing run
        = best(1, RUSAGE_SELF, [&] { summary = saveRun(person, settings, mailFolder, list, dest, openNamespace); });
    qint64 bytes = 0;
    for (QDirIterator it(dest, { QStringLiteral("*.pdf") }, QDir::Files, QDirIterator::Subdirectories); it.hasNext();)
        bytes += QFileInfo(it.next()).size();
    QDir(dest).removeRecursively();

    printCommand();
    printUptime();
    std::printf("store: %s: %d mails saved as PDF (%lld written, %lld failed), %.1f MiB of PDF\n", qPrintable(store),
        list.count(), summary.written, summary.failed, double(bytes) / 1048576.0);
    std::printf("PDF run: %.3f s (CPU %.3f s): %.1f ms per mail (CPU %.1f ms)\n", run.wall, run.cpu,
        run.wall * 1000 / std::max(1, list.count()), run.cpu * 1000 / std::max(1, list.count()));
    return summary.ok() ? 0 : 1;
}

// SPDX-License-Identifier: MIT
// bench_msg: the CPU time of building .msg files in memory (msg::msgBytes), per mail, over the first --mails
// mails of the generated Maildir store, and for one mail with --recipients recipients.
//
//   bench_msg [--store DIR] [--count N] [--folders N] [--mails N] [--recipients N] [--repeat N]
//
// The store is the one bench_search and bench_save use (see benchutil.h). The mails are read from the store
// and parsed before timing (a first, untimed build does that), so the figures are the writer's, plus what
// the store model does when the writer asks it for recipients, attachments and headers. Each figure is the
// best of --repeat runs.
#include "benchutil.h"
#include "core/maildate.h"

#include "output/msg/msgwriter.h"
#include "support/fakemail.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>
#include <memory>
#include <vector>

using namespace quillbox;

namespace {

// Up to `limit` mail items of `folder` and the folders below it, in the store's order.
void collectMails(mail::Store& store, const mail::Folder& folder, qsizetype limit,
    std::vector<std::unique_ptr<mail::MailItem>>& mails)
{
    QStringList ids;
    (void)folder.items([&](const mail::ItemSummary& summary) {
        if (summary.itemClass == mail::kClassMail)
            ids << summary.entryID;
    });
    for (const QString& id : ids) {
        if (qsizetype(mails.size()) >= limit)
            return;
        if (auto item = store.item(id))
            mails.push_back(std::move(*item));
    }
    if (auto children = folder.folders())
        for (const auto& child : *children)
            collectMails(store, *child, limit, mails);
}

test::MailData mailWithRecipients(int count)
{
    test::MailData m;
    m.summary.creationTime = m.summary.sentOn = m.summary.receivedTime = QDateTime::currentDateTime();
    m.summary.sent = true;
    m.summary.senderEmailAddress = QStringLiteral("alice@example.org");
    m.summary.subject = QStringLiteral("To everyone");
    m.plainBody = QStringLiteral("Hello all.\r\n");
    for (int i = 0; i < count; ++i)
        m.recipients.append({ QStringLiteral("Person %1").arg(i), QStringLiteral("person%1@example.org").arg(i),
            i % 3 == 0 ? mail::Recipient::Type::Cc : mail::Recipient::Type::To });
    return m;
}

// Builds every mail of `mails` once; false, told on standard error, when one fails.
bool buildAll(const std::vector<std::unique_ptr<mail::MailItem>>& mails, qint64& bytes)
{
    bytes = 0;
    for (const auto& item : mails) {
        const Result<QByteArray> file = msg::msgBytes(*item);
        if (!file) {
            std::fprintf(stderr, "bench_msg: %s\n", qPrintable(file.error().describe()));
            return false;
        }
        bytes += file->size();
    }
    return true;
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
    const QCommandLineOption mailsOption(
        QStringLiteral("mails"), QStringLiteral("Mails of the store to build (default 5000)."), QStringLiteral("n"));
    const QCommandLineOption recipientsOption(QStringLiteral("recipients"),
        QStringLiteral("Recipients of the one large mail (default 16000)."), QStringLiteral("n"));
    const QCommandLineOption repeatOption(QStringLiteral("repeat"),
        QStringLiteral("Timed runs of each, the best counts (default 5)."), QStringLiteral("n"));
    parser.addOptions({ mailsOption, recipientsOption, repeatOption });
    parser.process(app);
    const QString dir = storeOptions.dir(parser);
    const qsizetype limit = parser.isSet(mailsOption) ? parser.value(mailsOption).toLongLong() : 5000;
    const int recipients = parser.isSet(recipientsOption) ? parser.value(recipientsOption).toInt() : 16000;
    const int repeat = std::max(1, parser.isSet(repeatOption) ? parser.value(repeatOption).toInt() : 5);

    if (!bench::ensureStore(dir, storeOptions.count(parser), storeOptions.folders(parser)))
        return 1;
    auto store = mail::openStore(QStringLiteral("Bench"), dir);
    if (!store) {
        std::fprintf(stderr, "bench_msg: %s\n", qPrintable(store.error().describe()));
        return 1;
    }
    auto top = (*store)->topFolder();
    if (!top) {
        std::fprintf(stderr, "bench_msg: %s\n", qPrintable(top.error().describe()));
        return 1;
    }
    std::vector<std::unique_ptr<mail::MailItem>> mails;
    collectMails(**store, **top, limit, mails);
    qint64 bytes = 0;
    if (mails.empty() || !buildAll(mails, bytes)) // also parses every mail, untimed
        return 1;

    bench::printCommand();
    std::printf("store: %s: %zu mails, %.1f KiB of .msg per mail\n", qPrintable(dir), mails.size(),
        double(bytes) / double(mails.size()) / 1024.0);
    bool ok = true;
    const bench::Timing perMail = bench::best(repeat, RUSAGE_SELF, [&] { ok &= buildAll(mails, bytes); });
    std::printf("store mails: %.1f us CPU per mail (%.1f us wall), best of %d runs (target <= 60 us CPU)\n",
        perMail.cpu / double(mails.size()) * 1e6, perMail.wall / double(mails.size()) * 1e6, repeat);

    const test::FakeMailItem large(mailWithRecipients(recipients));
    qsizetype largeSize = 0;
    const bench::Timing one = bench::best(repeat, RUSAGE_SELF, [&] {
        const Result<QByteArray> file = msg::msgBytes(large);
        ok &= file.ok();
        largeSize = file ? file->size() : 0;
    });
    std::printf("%d recipients: %.3f s CPU (%.3f s wall), %.1f MiB, best of %d runs (target < 0.5 s)\n", recipients,
        one.cpu, one.wall, double(largeSize) / (1 << 20), repeat);
    std::printf("peak memory (ru_maxrss): %.1f MiB\n", bench::peakMiB());
    return ok ? 0 : 1;
}

// SPDX-License-Identifier: MIT
// bench_bounds: what one outsized mail costs to save, in time and peak memory, per output type; and how long
// a store of many Maildir++ folders takes to list. Each must stay linear in the mail (or the store).
//
//   bench_bounds [--cases LIST] [--scratch DIR] [--timeout S] [--maildirpp-folders N] [--keep]
//
// The cases (default all): recipients16k (.msg), recipients700k (.msg, .eml, .txt, .rtf, dir), attachments100k (.msg,
// .eml, .txt, dir), nested40 (a 30 MiB attachment wrapped in 40 levels of message/rfc822, each level holding
// the one below whole: .msg, .eml, .txt, dir), maildirpp (--maildirpp-folders Maildir++ folders, default
// 10000, listed by the search). Each mail is written as a one-message Maildir store below --scratch (default
// $TMPDIR), and each output type is saved by a fresh run of this program (--save TYPE --store DIR --out DIR)
// so that its peak memory is its own; a save that does not end within --timeout seconds (default 300) is
// killed and told as such. The scratch directory is removed at the end, the mails and the copies
// with it, unless --keep is given (to look at them, or to run --save alone under a profiler).
#include "benchutil.h"

#include "app/headlessperson.h"
#include "core/maildate.h"
#include "output/saverun.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>

#include <cstdio>
#include <functional>

using namespace quillbox;

namespace {

const QString kMailFolder = QStringLiteral("\\\\Bench");

NamespaceFactory storeAt(const QString& dir)
{
    return [dir] { return mail::Namespace::fromStores({ { QStringLiteral("Bench"), dir } }); };
}

// Writes the message that `write` streams into `file` as the one mail of a Maildir store at `dir`.
bool writeStore(const QString& dir, const std::function<void(QFile&)>& write)
{
    for (const char* sub : { "cur", "new", "tmp" })
        if (!QDir().mkpath(dir + u'/' + QLatin1String(sub)))
            return false;
    QFile file(dir + QStringLiteral("/cur/1700000000.1.bench:2,S"));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    write(file);
    return file.error() == QFileDevice::NoError;
}

void writeHeader(QFile& file, const QByteArray& subject)
{
    file.write("From: Alice <alice@example.org>\r\nSubject: " + subject
        + "\r\nDate: Tue, 14 Nov 2023 10:00:00 +0000\r\nMessage-ID: <" + subject.toLower().replace(' ', '.')
        + "@example.org>\r\nMIME-Version: 1.0\r\n");
}

void writeRecipients(QFile& file, int count)
{
    writeHeader(file, "To everyone");
    file.write("To: ");
    for (int i = 0; i < count; ++i)
        file.write(QByteArray("Person ") + QByteArray::number(i) + " <person" + QByteArray::number(i) + "@example.org>"
            + (i + 1 < count ? ",\r\n " : "\r\n"));
    file.write("Content-Type: text/plain; charset=utf-8\r\n\r\nHello all.\r\n");
}

void writeAttachments(QFile& file, int count)
{
    writeHeader(file, "Many files");
    file.write("To: bob@example.org\r\nContent-Type: multipart/mixed; boundary=\"b\"\r\n\r\n--b\r\n"
               "Content-Type: text/plain\r\n\r\nSee the files.\r\n");
    for (int i = 0; i < count; ++i)
        file.write("--b\r\nContent-Type: application/octet-stream\r\nContent-Disposition: attachment; filename=\"f"
            + QByteArray::number(i) + ".bin\"\r\nContent-Transfer-Encoding: base64\r\n\r\nAAECAwQFBgc=\r\n");
    file.write("--b--\r\n");
}

// `levels` mails, each attaching the one below as message/rfc822; the innermost attaches `megabytes` MiB.
void writeNested(QFile& file, int levels, int megabytes)
{
    for (int level = 0; level < levels; ++level) {
        const QByteArray boundary = "level" + QByteArray::number(level);
        writeHeader(file, "Level " + QByteArray::number(level));
        file.write("To: bob@example.org\r\nContent-Type: multipart/mixed; boundary=\"" + boundary + "\"\r\n\r\n--"
            + boundary + "\r\nContent-Type: text/plain\r\n\r\nOne level down.\r\n--" + boundary
            + "\r\nContent-Type: message/rfc822\r\nContent-Disposition: attachment; filename=\"level"
            + QByteArray::number(level + 1) + ".eml\"\r\n\r\n");
    }
    writeHeader(file, "Innermost");
    file.write("To: bob@example.org\r\nContent-Type: multipart/mixed; boundary=\"inner\"\r\n\r\n--inner\r\n"
               "Content-Type: text/plain\r\n\r\nThe data.\r\n--inner\r\nContent-Type: application/octet-stream\r\n"
               "Content-Disposition: attachment; filename=\"data.bin\"\r\nContent-Transfer-Encoding: base64\r\n\r\n");
    QByteArray chunk(57 * 1024, '\0');
    for (qsizetype i = 0; i < chunk.size(); ++i)
        chunk[i] = char(i * 7 + i / 57);
    QByteArray lines;
    for (qsizetype at = 0; at < chunk.size(); at += 57)
        lines += chunk.mid(at, 57).toBase64() + "\r\n";
    const qint64 chunks = qint64(megabytes) * (1 << 20) / chunk.size();
    for (qint64 i = 0; i < chunks; ++i)
        file.write(lines);
    file.write("--inner--\r\n");
    for (int level = levels - 1; level >= 0; --level)
        file.write("\r\n--level" + QByteArray::number(level) + "--\r\n");
}

// The child's part: lists the store and saves its mails as `type` into `out`; prints one line of figures.
int saveOnce(const QString& type, const QString& store, const QString& out)
{
    HeadlessPerson person;
    Settings settings = bench::namingSettings();
    settings.fnOutput = type;
    ResultList list;
    SaveSummary summary;
    const bench::Timing timing = bench::best(1, RUSAGE_SELF, [&] {
        searchMailFolder(person, settings, kMailFolder, list, storeAt(store));
        summary = saveRun(person, settings, kMailFolder, list, out, storeAt(store), output::Disk::system(), 0);
    });
    // The peak is the save's own: the count of the bytes written below lists the files, 100,000 of them for
    // the directory of a mail of as many attachments.
    const double peak = bench::peakMiB();
    qint64 bytes = 0;
    for (QDirIterator files(out, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories); files.hasNext();)
        bytes += files.nextFileInfo().size();
    std::printf("%7.3f s wall, %7.3f s CPU, peak %7.1f MiB, %lld of %lld written, %.1f MiB out\n", timing.wall,
        timing.cpu, peak, summary.written, summary.rows, double(bytes) / (1 << 20));
    return summary.ok() ? 0 : 1;
}

struct Case {
    QString name;
    QString what;
    QStringList types;
    std::function<void(QFile&)> write;
};

} // namespace

int main(int argc, char** argv)
{
    readLocalTimeZoneOnce(); // as the program does
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption casesOption(QStringLiteral("cases"),
        QStringLiteral("Cases to run (default recipients16k,recipients700k,attachments100k,nested40,maildirpp)."),
        QStringLiteral("list"));
    const QCommandLineOption scratchOption(QStringLiteral("scratch"),
        QStringLiteral("Where the mails are made (default $TMPDIR)."), QStringLiteral("dir"));
    const QCommandLineOption timeoutOption(QStringLiteral("timeout"),
        QStringLiteral("Seconds one save may take before it is killed (default 300)."), QStringLiteral("s"));
    const QCommandLineOption plusOption(QStringLiteral("maildirpp-folders"),
        QStringLiteral("Maildir++ folders of the listing case (default 10000)."), QStringLiteral("n"));
    const QCommandLineOption saveOption(
        QStringLiteral("save"), QStringLiteral("(child) Save the store's mail as this type."), QStringLiteral("type"));
    const QCommandLineOption storeOption(
        QStringLiteral("store"), QStringLiteral("(child) The store."), QStringLiteral("dir"));
    const QCommandLineOption outOption(
        QStringLiteral("out"), QStringLiteral("(child) Where the copy goes."), QStringLiteral("dir"));
    const QCommandLineOption keepOption(QStringLiteral("keep"), QStringLiteral("Keep the mails and the copies."));
    parser.addOptions(
        { casesOption, scratchOption, timeoutOption, plusOption, saveOption, storeOption, outOption, keepOption });
    parser.process(app);
    if (parser.isSet(saveOption))
        return saveOnce(parser.value(saveOption), parser.value(storeOption), parser.value(outOption));

    const QStringList cases = parser.isSet(casesOption)
        ? parser.value(casesOption).split(u',')
        : QStringList { "recipients16k", "recipients700k", "attachments100k", "nested40", "maildirpp" };
    const bool keep = parser.isSet(keepOption);
    const int timeout = parser.isSet(timeoutOption) ? parser.value(timeoutOption).toInt() : 300;
    const int plusFolders = parser.isSet(plusOption) ? parser.value(plusOption).toInt() : 10000;
    const QString scratch
        = (parser.isSet(scratchOption) ? QDir(parser.value(scratchOption)).absolutePath() : QDir::tempPath())
        + QStringLiteral("/quillbox-bench-bounds-%1").arg(QCoreApplication::applicationPid());
    const QStringList all { "msg", "eml", "txt", "dir" };
    const QList<Case> known {
        { "recipients16k", "16,000 recipients", { "msg" }, [](QFile& f) { writeRecipients(f, 16'000); } },
        { "recipients700k", "700,000 recipients", { "msg", "eml", "txt", "rtf", "dir" },
            [](QFile& f) { writeRecipients(f, 700'000); } },
        { "attachments100k", "100,000 attachments", all, [](QFile& f) { writeAttachments(f, 100'000); } },
        { "nested40", "30 MiB nested 40 levels as message/rfc822", all, [](QFile& f) { writeNested(f, 40, 30); } },
    };

    bench::printCommand();
    std::printf("load average %s", bench::loadAverage().constData());
    int status = 0;
    for (const Case& c : known) {
        if (!cases.contains(c.name))
            continue;
        const QString store = scratch + u'/' + c.name;
        if (!writeStore(store, c.write)) {
            std::fprintf(stderr, "bench_bounds: cannot write %s\n", qPrintable(store));
            return 1;
        }
        const qint64 size = QFileInfo(store + QStringLiteral("/cur/1700000000.1.bench:2,S")).size();
        for (const QString& type : c.types) {
            QProcess child;
            child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            const QString out = scratch + QStringLiteral("/out-%1-%2").arg(c.name, type);
            child.start(QCoreApplication::applicationFilePath(), { "--save", type, "--store", store, "--out", out });
            const bool ended = child.waitForFinished(timeout * 1000);
            if (!ended) {
                child.kill();
                child.waitForFinished(-1);
            }
            const QByteArray line = ended ? child.readAllStandardOutput().trimmed() : QByteArray("did not end");
            std::printf("%-42s (%6.1f MiB) as %-3s: %s%s\n", qPrintable(c.what), double(size) / (1 << 20),
                qPrintable(type), line.constData(),
                ended ? (child.exitCode() == 0 ? "" : " (failed)")
                      : qPrintable(QStringLiteral(" in %1 s, killed").arg(timeout)));
            std::fflush(stdout);
            if (!ended || child.exitCode() != 0)
                status = 1;
            if (!keep)
                QDir(out).removeRecursively();
        }
        if (!keep)
            QDir(store).removeRecursively();
    }
    if (cases.contains(u"maildirpp")) {
        const QString store = scratch + QStringLiteral("/maildirpp");
        const QStringList shape { "--layout", "maildir++", "--fanout", "10", "--depth", "5", "--size", "1024",
            "--attachments", "0" };
        if (!bench::ensureStore(store, plusFolders, plusFolders, shape))
            return 1;
        HeadlessPerson person;
        Settings settings;
        settings.dateFormat = QStringLiteral("yymmdd HHMMSS");
        ResultList list;
        searchMailFolder(person, settings, kMailFolder, list, storeAt(store)); // warms the cache
        const bench::Timing search = bench::best(
            3, RUSAGE_SELF, [&] { searchMailFolder(person, settings, kMailFolder, list, storeAt(store)); });
        std::printf("%d Maildir++ folders listed: %.3f s wall, %.3f s CPU, best of 3 (%d rows)\n", plusFolders,
            search.wall, search.cpu, list.count());
    }
    if (keep)
        std::printf("kept: %s\n", qPrintable(scratch));
    else
        QDir(scratch).removeRecursively();
    return status;
}

// SPDX-License-Identifier: MIT
// Dates, file names and exported lines for one result row; the figure that matters is BM_Row's items/s,
// the rows per second on one core (three dates as the search formats them, then the name as the save
// run builds it). Run from the source folder:
//   cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release
//   cmake --build build/release --target bench_names && build/release/bench/bench_names
#include "benchutil.h"
#include "core/maildate.h"
#include "output/filename.h"
#include "output/textline.h"

#include <benchmark/benchmark.h>

using namespace quillbox;

namespace {

const char* const kPatterns[]
    = { "yymmdd HHMMSS", "yyyymmdd HHMMSS", "dd/mm/yyyy HH:MM:SS", "mm/dd/yyyy HH:MM:SS", "dd Mmm yy HH:MM" };

struct Times {
    QDateTime sent = QDateTime(QDate(2009, 8, 12), QTime(14, 30, 5));
    QDateTime received = QDateTime(QDate(2009, 8, 12), QTime(14, 31, 7));
    QDateTime latest = QDateTime(QDate(2009, 8, 12), QTime(14, 31, 7));
};

ResultRow sampleRow()
{
    const Times times;
    return ResultRow { .sent = times.sent,
        .from = QStringLiteral("alice@example.org"),
        .subject = QStringLiteral("Re: Quarterly report for the board, draft 3"),
        .to = QStringLiteral("Bob Jones; Carol Smith"),
        .received = times.received,
        .entryId = QStringLiteral("00000000A1B2C3D4E5F60718293A4B5C6D7E8F9024000000"),
        .folder = QStringLiteral("\\\\Mailbox\\Inbox\\Projects"),
        .latestTime = times.latest,
        .sentText = QStringLiteral("090812 143005"),
        .receivedText = QStringLiteral("090812 143107"),
        .latestTimeText = QStringLiteral("090812 143107") };
}

Settings defaultSettings()
{
    Settings settings = bench::namingSettings();
    settings.textFormat = QStringLiteral("%1 %2 %3");
    return settings;
}

// The three dates of one row with each offered pattern (the argument is its index).
void BM_FormatMailDate(benchmark::State& state)
{
    const Times times;
    const QString pattern = QString::fromUtf8(kPatterns[state.range(0)]);
    const QLocale locale = QLocale::system();
    for (auto _ : state) {
        benchmark::DoNotOptimize(formatMailDate(times.sent, pattern, locale));
        benchmark::DoNotOptimize(formatMailDate(times.received, pattern, locale));
        benchmark::DoNotOptimize(formatMailDate(times.latest, pattern, locale));
    }
    state.SetLabel(kPatterns[state.range(0)]);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FormatMailDate)->DenseRange(0, 4);

void BM_ExpandFileName(benchmark::State& state)
{
    const ResultRow row = sampleRow();
    const Settings settings = defaultSettings();
    for (auto _ : state)
        benchmark::DoNotOptimize(expandFileName(settings.fnFormat, row, settings));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ExpandFileName);

void BM_MakeSafeFileName(benchmark::State& state)
{
    const QString name = *expandFileName(QStringLiteral("%1 %2 %3"), sampleRow(), defaultSettings());
    for (auto _ : state)
        benchmark::DoNotOptimize(makeSafeFileName(name));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_MakeSafeFileName);

void BM_BuildTextLine(benchmark::State& state)
{
    const ResultRow row = sampleRow();
    const QString pattern = QStringLiteral("%1 %2 %3");
    for (auto _ : state)
        benchmark::DoNotOptimize(buildTextLine(pattern, row));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BuildTextLine);

// One result row: its three dates formatted, its name expanded and made safe.
void BM_Row(benchmark::State& state)
{
    const Times times;
    const Settings settings = defaultSettings();
    const QLocale locale = QLocale::system();
    ResultRow row = sampleRow();
    for (auto _ : state) {
        row.sentText = formatMailDate(times.sent, settings.dateFormat, locale);
        row.receivedText = formatMailDate(times.received, settings.dateFormat, locale);
        row.latestTimeText = formatMailDate(times.latest, settings.dateFormat, locale);
        const Result<QString> name = expandFileName(settings.fnFormat, row, settings);
        benchmark::DoNotOptimize(makeSafeFileName(*name));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Row);

} // namespace

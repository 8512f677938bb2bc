// SPDX-License-Identifier: MIT
#include "mail/search.h"

#include "core/maildate.h"
#include "core/workerthreads.h"
#include "mail/folderpath.h"
#include "mail/openfailure.h"

#include <QCoreApplication>
#include <QLocale>
#include <algorithm>

namespace quillbox {

namespace {
const QDateTime kDefaultSince(QDate(1900, 1, 1), QTime(0, 0));
const QDateTime kDefaultBefore(QDate(2099, 12, 31), QTime(0, 0));

QDate readTwoDigitYear(const QLocale& locale, const QString& text, const QString& format)
{
    QDate date = locale.toDate(text, format);
    // Qt reads "yy" as 1900-1999; people who type "1/2/09" mean 2009.
    if (date.isValid() && date.year() < 1930)
        date = date.addYears(100);
    return date;
}

// The date of a text that holds a date alone, in one of the forms readDateSetting accepts.
QDate readDateOnly(const QString& text)
{
    QDate date = QDate::fromString(text, Qt::ISODate);
    if (date.isValid())
        return date;
    const QLocale locale = QLocale::system();
    const QString shortFormat = locale.dateFormat(QLocale::ShortFormat);
    if (shortFormat.contains(QLatin1String("yyyy")))
        return locale.toDate(text, shortFormat);
    date = readTwoDigitYear(locale, text, shortFormat);
    if (date.isValid())
        return date;
    QString fourDigits = shortFormat;
    return locale.toDate(text, fourDigits.replace(QLatin1String("yy"), QLatin1String("yyyy")));
}

bool isTimeOfDay(const QString& text)
{
    const QLocale locale = QLocale::system();
    for (const QString& format : { locale.timeFormat(QLocale::ShortFormat), locale.timeFormat(QLocale::LongFormat) })
        if (locale.toTime(text, format).isValid())
            return true;
    // The locale's own forms may want a narrow space before AM/PM, which nobody types.
    for (const char* format : { "H:mm", "H:mm:ss", "h:mm AP", "h:mm:ss AP", "h:mmAP", "h:mm:ssAP" })
        if (QTime::fromString(text, QLatin1String(format)).isValid())
            return true;
    return false;
}

// An item's times, each read once (WallClock), and whether the store has it (mail::isKnownTime()).
struct ItemTimes {
    explicit ItemTimes(const mail::ItemSummary& item)
        : creation(item.creationTime)
        , sent(item.sentOn)
        , received(item.receivedTime)
    {
    }
    /// The stores' "no date" (mail::noDate()), read once.
    static const WallClock& none()
    {
        static const QDateTime date = mail::noDate();
        static const WallClock clock(date);
        return clock;
    }
    static bool known(const WallClock& t) { return t.value.isValid() && compareTimes(t, none()) != 0; }
    WallClock creation, sent, received;
    bool creationKnown = known(creation), sentKnown = known(sent), receivedKnown = known(received);
};

// Which of the item's times getLatestTime() gives; null where none of them counts.
const WallClock* latestTimeOf(const mail::ItemSummary& item, const ItemTimes& times)
{
    // A time the store lacks (1 January 4501) would be the latest of all and put the mail
    // outside every date window, so that it could never be listed: it does not count.
    const WallClock* latest = nullptr;
    const auto consider = [&](const WallClock& t, bool known) {
        if (known && (!latest || compareTimes(t, *latest) > 0))
            latest = &t;
    };
    consider(times.creation, times.creationKnown);
    if (item.sent)
        consider(times.sent, times.sentKnown);
    consider(times.received, times.receivedKnown);
    return latest;
}

// addResultRow() with the locale, the item's times read and its latest time (latestTimeOf()) at hand: a
// search reads the one once per folder and the others once per mail.
void appendRow(const QString& dateFormat, const QLocale& locale, const QString& folderPath,
    const mail::ItemSummary& item, const ItemTimes& times, const WallClock* latest, std::vector<ResultRow>& rows)
{
    ResultRow& row = rows.emplace_back(ResultRow { .from = item.senderEmailAddress,
        .subject = item.subject,
        .to = item.to,
        .entryId = item.entryID,
        .folder = folderPath });
    // A time the store does not have is no value and is written as nothing, in the list as in file names.
    const auto put = [&](const WallClock& t, bool known, QDateTime& value, QString& text) {
        if (!known)
            return false;
        value = t.value;
        text = formatMailDate(t, dateFormat, locale);
        return true;
    };
    const bool sent = put(times.sent, times.sentKnown, row.sent, row.sentText);
    const bool received = put(times.received, times.receivedKnown, row.received, row.receivedText);
    if (!latest)
        return;
    row.latestTime = latest->value;
    // The text shows the date and the time the value holds, so a time that holds those of the sent or
    // received time (the same moment, more often than not) has its text.
    const auto sameText = [latest](const WallClock& t) { return latest->date == t.date && latest->time == t.time; };
    row.latestTimeText = sent && sameText(times.sent) ? row.sentText
        : received && sameText(times.received)        ? row.receivedText
                                                      : formatMailDate(*latest, dateFormat, locale);
}
} // namespace

SearchOutcome searchMailFolder(Person& person, const Settings& settings, const QString& path, ResultList& list,
    const NamespaceFactory& openNamespace, const mail::Walk::Listener& onSkip, int workerThreads,
    const SearchWatch& watch)
{
    SearchOutcome outcome;
    const mail::Namespace ns = openNamespace();
    const Result<std::unique_ptr<mail::Folder>> folder = findFolderFromPath(person, ns, path);
    list.clear();
    mail::Walk walk(onSkip);
    WorkerThreads workers(workerThreads < 0 ? WorkerThreads::spareProcessors() : workerThreads);
    walk.useWorkers(&workers);
    const Status searched
        = folder ? searchFolder(settings, **folder, list, walk, watch, &outcome) : Status(folder.error());
    if (!searched) {
        // What is wrong with a store that cannot be opened, in plain words, below the message; the library's
        // own words in the details.
        person.detailedMessage(
            withPlainOpenFailure(
                QCoreApplication::translate("Search", "Can't access the specified Mail Folder."), searched.error()),
            searched.error().describe());
    }
    if (walk.firstUnread()) {
        person.message(
            QCoreApplication::translate("Search", "%1 folders and %2 messages could not be read. The first: %3")
                .arg(walk.unreadFolders())
                .arg(walk.unreadMessages())
                .arg(walk.firstUnread()->describe()));
    }
    outcome.notMail = walk.notMail();
    outcome.found = searched.ok();
    return outcome;
}

namespace {

// Appends the rows of `folder` alone and hands back its sub-folders; `failure` becomes the folder's first
// Error. The sub-folders are read even when its items could not be, and the other way round.
std::vector<std::unique_ptr<mail::Folder>> searchOneFolder(
    const Settings& settings, const mail::Folder& folder, ResultList& list, mail::Walk& walk, Status& failure)
{
    const QDateTime since = readDateSetting(settings.since, kDefaultSince);
    const QDateTime before = readDateSetting(settings.before, kDefaultBefore);
    const WallClock sinceClock(since), beforeClock(before);
    QString folderPath;
    std::vector<ResultRow> rows;
    walk.setWindow(since, before);
    walk.expectItems(0);
    const QLocale locale = QLocale::system();
    const Status read = folder.items(
        [&](const mail::ItemSummary& item) {
            const ItemTimes times(item);
            const WallClock* latest = latestTimeOf(item, times);
            const WallClock& latestTime = latest ? *latest : ItemTimes::none();
            if (compareTimes(latestTime, sinceClock) < 0 || compareTimes(latestTime, beforeClock) > 0)
                return;
            if (item.itemClass != mail::kClassMail) {
                walk.leaveOutNotMail();
                return;
            }
            if (folderPath.isNull())
                folderPath = folder.folderPath();
            // A large folder's rows are not moved each time they outgrow their room; room made and not used
            // is address space, not memory, but a wild guess must not ask for more than the machine has.
            if (rows.capacity() == 0)
                rows.reserve(std::min<std::size_t>(walk.expectedItems(), 1 << 20));
            appendRow(settings.dateFormat, locale, folderPath, item, times, latest, rows);
        },
        walk);
    // The rows read before a failure are kept too.
    list.appendRows(std::move(rows));
    auto children = folder.folders(walk);
    failure = !read ? read : children ? success() : Status(children.error());
    return children ? std::move(*children) : std::vector<std::unique_ptr<mail::Folder>>();
}

} // namespace

Status searchFolder(const Settings& settings, const mail::Folder& folder, ResultList& list, mail::Walk& walk,
    const SearchWatch& watch, SearchOutcome* outcome)
{
    int read = 0;
    const auto tell = [&] {
        ++read;
        if (watch.onFolder)
            watch.onFolder(read, list.count());
    };
    // Depth-first with a stack of its own rather than recursion: a tree may be deeper than the call stack.
    struct Level {
        std::vector<std::unique_ptr<mail::Folder>> folders;
        std::size_t next = 0;
    };
    std::vector<Level> levels;
    Status failure = success();
    levels.push_back({ searchOneFolder(settings, folder, list, walk, failure) });
    tell();
    const Status own = failure;
    while (!levels.empty() && !watch.stopped()) {
        Level& level = levels.back();
        if (level.next == level.folders.size()) {
            levels.pop_back();
            continue;
        }
        const mail::Folder& child = *level.folders[level.next++];
        levels.push_back({ searchOneFolder(settings, child, list, walk, failure) });
        tell();
        if (!failure)
            walk.skip(mail::Walk::Skip::Folder, failure.error());
    }
    if (outcome) {
        outcome->folders = read;
        outcome->stopped = std::any_of(
            levels.begin(), levels.end(), [](const Level& level) { return level.next < level.folders.size(); });
    }
    return own;
}

QDateTime readDateSetting(const QString& text, const QDateTime& defaultValue)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return defaultValue;
    QDate date = readDateOnly(trimmed);
    if (!date.isValid())
        date = QDateTime::fromString(trimmed, Qt::ISODate).date();
    // A date followed by a time of day: the date may itself hold spaces ("12. 8. 2009"), so try each split.
    for (qsizetype at = trimmed.indexOf(u' '); !date.isValid() && at > 0; at = trimmed.indexOf(u' ', at + 1)) {
        const QDate head = readDateOnly(trimmed.left(at));
        if (head.isValid() && isTimeOfDay(trimmed.mid(at + 1).trimmed()))
            date = head;
    }
    return date.isValid() ? QDateTime(date, QTime(0, 0)) : defaultValue;
}

QDateTime getLatestTime(const mail::ItemSummary& item)
{
    const ItemTimes times(item);
    const WallClock* latest = latestTimeOf(item, times);
    return latest ? latest->value : mail::noDate();
}

void addResultRow(
    const Settings& settings, const QString& folderPath, const mail::ItemSummary& item, std::vector<ResultRow>& rows)
{
    const ItemTimes times(item);
    appendRow(settings.dateFormat, QLocale::system(), folderPath, item, times, latestTimeOf(item, times), rows);
}

} // namespace quillbox

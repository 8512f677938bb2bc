// SPDX-License-Identifier: MIT
// quillbox-genmaildir: writes a Maildir store of any size, for tests and benchmarks.
//
// The store is a tree of folders: the root (whose own messages form "Inbox") and below it
// up to --fanout sub-folders per folder, --depth levels deep, breadth first, at most
// --folders folders in all. Folders are nested directories, or Maildir++ dot-folders with
// --layout maildir++. The --count messages are shared out evenly, the first folders taking
// one more when the count does not divide. Each message has the headers a delivered mail has
// (Return-Path, two Received, Date, From, To, sometimes Cc, Subject, Message-ID, MIME-Version,
// Content-Type), a date between 2005 and 2024, and a size around --size bytes (half to one
// and a half times it); --attachments percent of them carry a base64 attachment.
//
// The same arguments give the same files, byte for byte: every message draws from its own
// random stream, seeded from --seed and its number. Files are written with O_EXCL, so an
// existing file is never replaced; the output directory must be missing or empty.

#include <QByteArray>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QString>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <optional>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <variant>
#include <vector>

namespace {

struct Options {
    QString outDir;
    qint64 count = 1000;
    int fanout = 4;
    int depth = 2;
    qint64 folders = 0; ///< 0: the whole tree that fanout and depth give
    int attachmentPercent = 10;
    int size = 8192;
    quint64 seed = 1;
    bool maildirPlusPlus = false;
};

/// SplitMix64: fast, and the same numbers on every platform (the standard
/// distributions are not specified bit for bit).
class Random {
public:
    explicit Random(quint64 seed)
        : m_state(seed)
    {
    }
    quint64 next()
    {
        quint64 z = (m_state += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    /// A number in [0, n); the modulo bias is far too small to matter here.
    qint64 below(qint64 n) { return qint64(next() % quint64(n)); }
    bool percent(int p) { return below(100) < p; }
    template <class T, size_t N> const T& pick(const T (&items)[N]) { return items[below(qint64(N))]; }

private:
    quint64 m_state;
};

constexpr const char* kFolderWords[] = { "Projects", "Clients", "Invoices", "Travel", "Family", "Receipts",
    "Newsletters", "Reports", "Meetings", "Support", "Contracts", "Photos", "Hiring", "Suppliers", "Überweisungen",
    "Réunions", "Документы", "請求書", "Événements", "R&D" };
constexpr const char* kFirstNames[]
    = { "Alex", "Bea", "Carlos", "Dana", "Emeka", "Fatima", "Gus", "Hana", "Ivo", "Jürgen", "Kiri", "Lena", "Mateo",
          "Nadia", "Oskar", "Priya", "Quinn", "Rosa", "Søren", "Tomás", "Uma", "Viktor", "Wen", "Zoë" };
constexpr const char* kLastNames[] = { "Abbott", "Berg", "Costa", "Dubois", "Eriksen", "Fischer", "García", "Hale",
    "Ito", "Jansen", "Kowalski", "Lindqvist", "Moreau", "Novak", "O'Neill", "Park", "Quist", "Rossi", "Schäfer",
    "Tanaka", "Umarov", "Vance", "Weiß", "Young" };
constexpr const char* kDomains[] = { "example.org", "example.com", "example.net" };
constexpr const char* kTopics[] = { "Quarterly report", "Meeting notes", "Travel plans", "Invoice 4711",
    "Project update", "Budget review", "Team lunch", "Server maintenance", "Holiday rota", "Contract draft",
    "Release schedule", "Customer feedback", "Office move", "Training day", "Press release" };
constexpr const char* kTopicsUnicode[] = { "Grüße aus München", "Café-Treffen am Freitag", "Réunion d'équipe",
    "Отчёт за квартал", "会議の議事録", "Übersicht der Ausgaben", "Zoë's résumé", "Preisliste 2€ günstiger" };
constexpr const char* kSubjectPrefixes[] = { "", "", "", "", "Re: ", "Re: ", "Fwd: ", "AW: " };
constexpr std::string_view kWords[] = { "the", "a", "and", "of", "to", "in", "we", "please", "send", "report",
    "meeting", "tomorrow", "office", "budget", "project", "thanks", "draft", "plan", "next", "week", "review",
    "numbers", "team", "call", "agenda", "minutes", "update", "client", "invoice", "travel", "schedule", "notes",
    "question", "answer", "soon", "later", "today", "morning", "afternoon", "attached", "document", "version", "final",
    "changes", "Grüße", "Straße", "café", "naïve", "résumé", "façade", "€", "déjà", "Öl", "smörgåsbord" };
constexpr const char* kFlags[] = { "S", "S", "S", "S", "RS", "FS", "" };
constexpr int kZones[] = { 0, 60, 120, -300, -240, -420, 330, 540, 600, -180 }; // minutes east of UTC

struct AttachmentType {
    const char* extension;
    const char* mimeType;
};
constexpr AttachmentType kAttachmentTypes[]
    = { { "pdf", "application/pdf" }, { "jpg", "image/jpeg" }, { "zip", "application/zip" }, { "png", "image/png" },
          { "docx", "application/vnd.openxmlformats-officedocument.wordprocessingml.document" } };
constexpr const char* kAttachmentStems[]
    = { "report", "scan", "photo", "invoice", "notes", "Übersicht", "Straßenplan" };

constexpr qint64 kFirstDate = 1104537600; // 2005-01-01 00:00:00 UTC
constexpr qint64 kLastDate = 1735689600; // 2025-01-01 00:00:00 UTC
constexpr const char* kHost = "gen.example.org";

/// "Mon, 04 Mar 2024 09:15:00 +0100" for the UTC time `utc` seen at `offset` minutes east.
QByteArray rfc5322Date(qint64 utc, int offset)
{
    static const char* const days[] = { "Thu", "Fri", "Sat", "Sun", "Mon", "Tue", "Wed" }; // 1970-01-01: Thursday
    static const char* const months[]
        = { "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec" };
    const qint64 local = utc + qint64(offset) * 60;
    const qint64 dayNumber = local / 86400; // all dates are after 1970: no negative division
    const qint64 seconds = local % 86400;
    // Civil date from the day number (H. Hinnant's days-to-civil).
    const qint64 z = dayNumber + 719468;
    const qint64 era = z / 146097;
    const qint64 doe = z - era * 146097;
    const qint64 yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const qint64 doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const qint64 mp = (5 * doy + 2) / 153;
    const qint64 day = doy - (153 * mp + 2) / 5 + 1;
    const qint64 month = mp < 10 ? mp + 3 : mp - 9;
    const qint64 year = yoe + era * 400 + (month <= 2 ? 1 : 0);
    const int absOffset = offset < 0 ? -offset : offset;
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%s, %02lld %s %lld %02lld:%02lld:%02lld %c%02d%02d", days[dayNumber % 7],
        static_cast<long long>(day), months[month - 1], static_cast<long long>(year),
        static_cast<long long>(seconds / 3600), static_cast<long long>(seconds / 60 % 60),
        static_cast<long long>(seconds % 60), offset < 0 ? '-' : '+', absOffset / 60, absOffset % 60);
    return QByteArray(buffer);
}

bool isAsciiAlnum(unsigned char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool isAscii(const QByteArray& text)
{
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

/// `utf8` as RFC 2047 encoded words (B or Q), each at most about 70 characters, split only
/// between characters, folded onto continuation lines.
QByteArray encodedWords(const QByteArray& utf8, bool base64)
{
    QByteArray out;
    qsizetype start = 0;
    while (start < utf8.size()) {
        qsizetype end = start;
        qsizetype encodedLength = 0;
        while (end < utf8.size()) {
            qsizetype next = end + 1; // the whole UTF-8 sequence, never a part of it
            while (next < utf8.size() && (static_cast<unsigned char>(utf8[next]) & 0xC0) == 0x80)
                ++next;
            qsizetype grown = 0;
            if (base64) {
                grown = (next - start + 2) / 3 * 4 - encodedLength;
            } else {
                for (qsizetype i = end; i < next; ++i) {
                    const auto u = static_cast<unsigned char>(utf8[i]);
                    grown += isAsciiAlnum(u) || u == ' ' ? 1 : 3;
                }
            }
            if (end > start && encodedLength + grown > 56)
                break;
            encodedLength += grown;
            end = next;
        }
        const QByteArray chunk = utf8.mid(start, end - start);
        if (!out.isEmpty())
            out += "\n ";
        if (base64) {
            out += "=?UTF-8?B?" + chunk.toBase64() + "?=";
        } else {
            out += "=?UTF-8?Q?";
            for (char c : chunk) {
                const auto u = static_cast<unsigned char>(c);
                if (c == ' ')
                    out += '_';
                else if (isAsciiAlnum(u))
                    out += c;
                else
                    out += '=' + QByteArray::number(u, 16).toUpper().rightJustified(2, '0');
            }
            out += "?=";
        }
        start = end;
    }
    return out;
}

/// The IMAP modified UTF-7 form of a folder name, as Maildir++ directory names hold it.
QByteArray modifiedUtf7(const QString& name)
{
    QByteArray out;
    QByteArray run; // UTF-16 big-endian of the pending non-ASCII characters
    auto flush = [&] {
        if (run.isEmpty())
            return;
        out += '&' + run.toBase64(QByteArray::OmitTrailingEquals).replace('/', ',') + '-';
        run.clear();
    };
    for (QChar c : name) { // UTF-16 code units, as the encoding wants them
        if (c.unicode() >= 0x20 && c.unicode() <= 0x7E) {
            flush();
            out += c == u'&' ? QByteArray("&-") : QByteArray(1, char(c.unicode()));
        } else {
            run += char(c.unicode() >> 8);
            run += char(c.unicode() & 0xFF);
        }
    }
    flush();
    return out;
}

struct Person {
    QByteArray name; // UTF-8
    QByteArray address;
};

/// The name in lower-case ASCII letters for an address: accents dropped, "ß" as "ss".
QByteArray addressPart(const char* name)
{
    const QString decomposed = QString::fromUtf8(name).normalized(QString::NormalizationForm_KD);
    QByteArray out;
    for (QChar c : decomposed) {
        if (c == u'ß')
            out += "ss";
        else if (c == u'ø')
            out += 'o';
        else if (c.isLetter() && c.unicode() < 0x80)
            out += char(c.toLower().unicode());
    }
    return out;
}

Person randomPerson(Random& random)
{
    static const auto table = [](const auto& names) {
        std::vector<std::pair<QByteArray, QByteArray>> out;
        for (const char* name : names)
            out.emplace_back(name, addressPart(name));
        return out;
    };
    static const auto firstNames = table(kFirstNames);
    static const auto lastNames = table(kLastNames);
    const auto& first = firstNames[size_t(random.below(qint64(firstNames.size())))];
    const auto& last = lastNames[size_t(random.below(qint64(lastNames.size())))];
    return { first.first + ' ' + last.first, first.second + '.' + last.second + '@' + random.pick(kDomains) };
}

QByteArray mailbox(const Person& person)
{
    if (!isAscii(person.name))
        return encodedWords(person.name, false) + " <" + person.address + '>';
    if (person.name.contains('\''))
        return '"' + person.name + "\" <" + person.address + '>';
    return person.name + " <" + person.address + '>';
}

/// Lines of words, at most 72 columns, in paragraphs, until about `bytes` more are written.
void appendText(QByteArray& out, Random& random, qsizetype bytes)
{
    const qsizetype end = out.size() + bytes;
    qsizetype lineStart = out.size();
    int lines = 0;
    while (out.size() < end) {
        const std::string_view word = random.pick(kWords);
        const qsizetype column = out.size() - lineStart;
        if (column > 0 && column + 1 + qsizetype(word.size()) > 72) {
            out += '\n';
            if (++lines % 6 == 0)
                out += '\n';
            lineStart = out.size();
        } else if (column > 0) {
            out += ' ';
        }
        out.append(word.data(), qsizetype(word.size()));
    }
    out += '\n';
}

QByteArray base64Lines(const QByteArray& data)
{
    const QByteArray encoded = data.toBase64();
    QByteArray out;
    out.reserve(encoded.size() + encoded.size() / 76 + 2);
    for (qsizetype i = 0; i < encoded.size(); i += 76)
        out += encoded.mid(i, 76) + '\n';
    return out;
}

struct Message {
    QByteArray fileName; ///< "<delivery>.<unique>.<host>" plus ":2,<flags>" in cur/
    bool isNew = false; ///< belongs in new/
    qint64 delivered = 0; ///< UTC seconds, also the file's modification time
    QByteArray data;
};

Message makeMessage(const Options& options, qint64 index)
{
    Random random(options.seed * 0x9E3779B97F4A7C15ULL ^ (quint64(index) + 1) * 0xD1B54A32D192ED03ULL);
    random.next();

    // A day's margin keeps the Date header inside 2005 to 2024 in every zone.
    const qint64 sent = kFirstDate + 86400 + random.below(kLastDate - kFirstDate - 2 * 86400);
    const int zone = random.pick(kZones);
    const qint64 relayed = sent + 1 + random.below(120);
    const qint64 delivered = relayed + 1 + random.below(30);

    const Person from = randomPerson(random);
    std::vector<Person> to(size_t(1 + random.below(3)));
    for (Person& person : to)
        person = randomPerson(random);
    std::vector<Person> cc(random.percent(30) ? size_t(1 + random.below(2)) : 0);
    for (Person& person : cc)
        person = randomPerson(random);

    QByteArray subject = random.pick(kSubjectPrefixes);
    if (random.percent(25)) {
        subject = encodedWords(subject + random.pick(kTopicsUnicode), random.percent(50));
    } else {
        subject += random.pick(kTopics);
    }

    const QByteArray domain = from.address.mid(from.address.indexOf('@') + 1);
    const QByteArray relay = "mx" + QByteArray::number(1 + random.below(4)) + '.' + domain;
    const QByteArray relayIp = "192.0.2." + QByteArray::number(1 + random.below(254));
    const QByteArray clientIp = "198.51.100." + QByteArray::number(1 + random.below(254));
    const QByteArray queueId = QByteArray::number(random.next() & 0xFFFFFFFFFFULL, 16).toUpper();

    QByteArray data; // headers, then the body
    data.reserve(options.size * 3 / 2 + 4096);
    data += "Return-Path: <" + from.address + ">\n";
    data += "Received: from " + relay + " (" + relay + " [" + relayIp + "])\n\tby mail.example.org (Postfix) "
        + "with ESMTPS id " + queueId + "\n\tfor <" + to.front().address + ">; " + rfc5322Date(delivered, 0) + '\n';
    data += "Received: from [" + clientIp + "] (unknown [" + clientIp + "])\n\tby " + relay
        + " (Postfix) with ESMTPSA id " + queueId.toLower() + "\n\tfor <" + to.front().address + ">; "
        + rfc5322Date(relayed, zone) + '\n';
    data += "Date: " + rfc5322Date(sent, zone) + '\n';
    data += "From: " + mailbox(from) + '\n';
    auto addressList = [](const char* name, const std::vector<Person>& people) {
        QByteArray line = name;
        for (size_t i = 0; i < people.size(); ++i)
            line += (i ? ",\n " : " ") + mailbox(people[i]);
        return line + '\n';
    };
    data += addressList("To:", to);
    if (!cc.empty())
        data += addressList("Cc:", cc);
    data += "Subject: " + subject + '\n';
    data += "Message-ID: <" + QByteArray::number(random.next(), 36) + '.' + QByteArray::number(index) + '@' + domain
        + ">\n";
    data += "MIME-Version: 1.0\n";

    const qsizetype target = options.size / 2 + random.below(options.size + 1);
    const bool attachment = (index + 1) * options.attachmentPercent / 100 > index * options.attachmentPercent / 100;
    const QByteArray greeting = "Hi " + to.front().name.left(to.front().name.indexOf(' ')) + ",\n\n";
    const QByteArray signature = "\n-- \n" + from.name + '\n';

    if (!attachment) {
        data += "Content-Type: text/plain; charset=UTF-8\nContent-Transfer-Encoding: 8bit\n\n";
        data += greeting;
        appendText(data, random, target - data.size() - signature.size());
        data += signature;
    } else {
        const QByteArray boundary = "=_gen_" + QByteArray::number(index) + '_' + QByteArray::number(random.next(), 36);
        data += "Content-Type: multipart/mixed;\n boundary=\"" + boundary + "\"\n\n";
        const qsizetype room = std::max<qsizetype>(target - data.size() - 600, 256);
        QByteArray content(room * 3 / 5 * 3 / 4, Qt::Uninitialized);
        for (qsizetype i = 0; i < content.size(); i += 8) {
            const quint64 bits = random.next();
            std::memcpy(content.data() + i, &bits, size_t(std::min<qsizetype>(8, content.size() - i)));
        }
        const AttachmentType& type = random.pick(kAttachmentTypes);
        const QByteArray name
            = QByteArray(random.pick(kAttachmentStems)) + '-' + QByteArray::number(index) + '.' + type.extension;
        const QByteArray nameParameter
            = isAscii(name) ? "filename=\"" + name + '"' : "filename*=UTF-8''" + name.toPercentEncoding("", "", '%');
        data += "This is a multi-part message in MIME format.\n\n--" + boundary
            + "\nContent-Type: text/plain; charset=UTF-8\nContent-Transfer-Encoding: 8bit\n\n" + greeting;
        appendText(data, random, room * 2 / 5);
        data += signature + "\n--" + boundary + "\nContent-Type: " + type.mimeType
            + "\nContent-Disposition: attachment; " + nameParameter + "\nContent-Transfer-Encoding: base64\n\n"
            + base64Lines(content) + "\n--" + boundary + "--\n";
    }

    Message message;
    message.delivered = delivered;
    message.isNew = random.percent(5);
    message.fileName = QByteArray::number(delivered) + ".M" + QByteArray::number(random.below(1000000)) + 'P'
        + QByteArray::number(1000 + random.below(60000)) + 'Q' + QByteArray::number(index + 1) + '.' + kHost;
    if (!message.isNew)
        message.fileName += QByteArray(":2,") + random.pick(kFlags);
    message.data = std::move(data);
    return message;
}

struct Folder {
    QStringList path; ///< the folder names from the root down; empty for the root
    QByteArray dir; ///< relative to the store's root, empty for the root
};

/// The folder tree, breadth first: the root, then its children, then theirs.
std::vector<Folder> planFolders(const Options& options)
{
    Random random(options.seed ^ 0xF01DE125ULL);
    std::vector<Folder> folders { Folder {} };
    const size_t limit = options.folders > 0 ? size_t(options.folders) : std::numeric_limits<size_t>::max();
    for (size_t parent = 0; parent < folders.size() && folders.size() < limit; ++parent) {
        if (folders[parent].path.size() >= options.depth)
            break; // breadth first: every later folder is at least as deep
        for (int child = 0; child < options.fanout && folders.size() < limit; ++child) {
            Folder folder;
            // The ordinal keeps sibling names apart (a word may repeat among siblings); no word
            // holds a "." or "/", which would add a level.
            folder.path = folders[parent].path;
            folder.path << QString::fromUtf8(random.pick(kFolderWords)) + u' ' + QString::number(child + 1);
            if (options.maildirPlusPlus) {
                for (const QString& name : folder.path)
                    folder.dir += '.' + modifiedUtf7(name);
            } else {
                folder.dir = folder.path.join(u'/').toUtf8();
            }
            folders.push_back(folder);
        }
    }
    return folders;
}

bool writeAll(int fd, const QByteArray& data)
{
    const char* p = data.constData();
    qsizetype left = data.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, p, size_t(left));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += written;
        left -= written;
    }
    return true;
}

/// Writes a new file (never replacing one) and sets its modification time; on failure
/// returns the reason.
std::optional<QString> writeNewFile(const QByteArray& path, const QByteArray& data, qint64 mtime)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    const timespec times[2] = { { time_t(mtime), 0 }, { time_t(mtime), 0 } };
    const bool written = writeAll(fd, data) && ::futimens(fd, times) == 0;
    const int writeError = errno;
    if (::close(fd) != 0 && written)
        return QString::fromLocal8Bit(std::strerror(errno));
    if (!written)
        return QString::fromLocal8Bit(std::strerror(writeError));
    return std::nullopt;
}

int fail(const QString& text)
{
    std::fprintf(stderr, "quillbox-genmaildir: %s\n", qUtf8Printable(text));
    return 1;
}

int generate(const Options& options)
{
    const QDir out(options.outDir);
    if (out.exists() && !out.isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System))
        return fail(QStringLiteral("%1 is not empty; give a new or empty directory").arg(options.outDir));

    const std::vector<Folder> folders = planFolders(options);
    const QByteArray root = QFile::encodeName(out.absolutePath()) + '/';
    for (const Folder& folder : folders) {
        for (const char* sub : { "/cur", "/new", "/tmp" }) {
            const QString path = QFile::decodeName(root + folder.dir + sub);
            if (!QDir().mkpath(path))
                return fail(QStringLiteral("cannot create %1").arg(path));
        }
    }

    const qint64 perFolder = options.count / qint64(folders.size());
    const qint64 remainder = options.count % qint64(folders.size());
    qint64 index = 0;
    for (size_t f = 0; f < folders.size(); ++f) {
        const QByteArray dir = root + (folders[f].dir.isEmpty() ? QByteArray() : folders[f].dir + '/');
        const qint64 n = perFolder + (qint64(f) < remainder ? 1 : 0);
        for (qint64 i = 0; i < n; ++i, ++index) {
            const Message message = makeMessage(options, index);
            const QByteArray path = dir + (message.isNew ? "new/" : "cur/") + message.fileName;
            if (const auto error = writeNewFile(path, message.data, message.delivered))
                return fail(QStringLiteral("cannot write %1: %2").arg(QFile::decodeName(path), *error));
        }
    }
    std::printf("%lld messages in %zu folders written to %s\n", static_cast<long long>(options.count), folders.size(),
        qUtf8Printable(options.outDir));
    return 0;
}

/// The options, or the reason they are wrong.
std::variant<Options, QString> parseOptions(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Writes a Maildir store of any size. The same arguments give "
                                                    "the same files."));
    parser.addHelpOption();
    const QCommandLineOption outOption(QStringList { "o", "out" },
        QStringLiteral("The directory to write the store to; missing or empty."), QStringLiteral("dir"));
    const QCommandLineOption countOption(
        QStringList { "n", "count" }, QStringLiteral("Messages in all (default 1000)."), QStringLiteral("number"));
    const QCommandLineOption fanoutOption(
        QStringLiteral("fanout"), QStringLiteral("Sub-folders per folder (default 4)."), QStringLiteral("number"));
    const QCommandLineOption depthOption(QStringLiteral("depth"),
        QStringLiteral("Levels of folders below the root (default 2)."), QStringLiteral("number"));
    const QCommandLineOption foldersOption(QStringLiteral("folders"),
        QStringLiteral("At most this many folders, the root included (default: the whole tree)."),
        QStringLiteral("number"));
    const QCommandLineOption attachmentsOption(QStringLiteral("attachments"),
        QStringLiteral("Percent of messages with an attachment (default 10)."), QStringLiteral("percent"));
    const QCommandLineOption sizeOption(QStringLiteral("size"),
        QStringLiteral("Average message size in bytes (default 8192)."), QStringLiteral("bytes"));
    const QCommandLineOption seedOption(
        QStringLiteral("seed"), QStringLiteral("Seed of the random choices (default 1)."), QStringLiteral("number"));
    const QCommandLineOption layoutOption(QStringLiteral("layout"),
        QStringLiteral("Folders as nested directories (nested, the default) or Maildir++ dot-folders (maildir++)."),
        QStringLiteral("kind"));
    parser.addOptions({ outOption, countOption, fanoutOption, depthOption, foldersOption, attachmentsOption, sizeOption,
        seedOption, layoutOption });
    if (!parser.parse(arguments))
        return parser.errorText();
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(); // exits

    Options options;
    options.outDir = parser.value(outOption);
    if (options.outDir.isEmpty())
        return QStringLiteral("--out is missing");
    auto number = [&](const QCommandLineOption& option, qint64 fallback, qint64 min, qint64 max,
                      qint64& value) -> std::optional<QString> {
        if (!parser.isSet(option)) {
            value = fallback;
            return std::nullopt;
        }
        bool ok = false;
        value = parser.value(option).toLongLong(&ok);
        if (!ok || value < min || value > max)
            return QStringLiteral("--%1 must be a number from %2 to %3")
                .arg(option.names().constLast())
                .arg(min)
                .arg(max);
        return std::nullopt;
    };
    qint64 count, fanout, depth, folders, attachments, size, seed;
    for (const auto& error :
        { number(countOption, 1000, 0, 100'000'000, count), number(fanoutOption, 4, 0, 1000, fanout),
            number(depthOption, 2, 0, 50, depth), number(foldersOption, 0, 1, 10'000'000, folders),
            number(attachmentsOption, 10, 0, 100, attachments), number(sizeOption, 8192, 512, 64 << 20, size),
            number(seedOption, 1, 0, std::numeric_limits<qint64>::max(), seed) }) {
        if (error)
            return *error;
    }
    options.count = count;
    options.fanout = int(fanout);
    options.depth = int(depth);
    options.folders = folders;
    options.attachmentPercent = int(attachments);
    options.size = int(size);
    options.seed = quint64(seed);
    const QString layout = parser.value(layoutOption);
    if (layout == QLatin1String("maildir++"))
        options.maildirPlusPlus = true;
    else if (!layout.isEmpty() && layout != QLatin1String("nested"))
        return QStringLiteral("--layout must be nested or maildir++");
    return options;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const auto parsed = parseOptions(QCoreApplication::arguments());
    if (const QString* error = std::get_if<QString>(&parsed))
        return fail(*error + QStringLiteral(" (see --help)"));
    return generate(std::get<Options>(parsed));
}

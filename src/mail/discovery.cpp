// SPDX-License-Identifier: MIT
#include "mail/discovery.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QTextStream>

#include <optional>

namespace quillbox::mail {

namespace {

using Section = std::pair<QString, QList<std::pair<QString, QString>>>;

QString valueOf(const Section& section, QLatin1String key)
{
    for (const auto& [name, value] : section.second)
        if (name.compare(key, Qt::CaseInsensitive) == 0)
            return value;
    return {};
}

bool isDir(const QString& path)
{
    return !path.isEmpty() && QFileInfo(path).isDir();
}

// The string literal that `text` starts with ("..." or '...', with JavaScript's escapes), or nullopt.
std::optional<QString> takeString(QStringView& text)
{
    if (text.isEmpty() || (text.front() != u'"' && text.front() != u'\''))
        return std::nullopt;
    const QChar quote = text.front();
    QString value;
    for (qsizetype i = 1; i < text.size(); ++i) {
        QChar c = text[i];
        if (c == quote) {
            text = text.mid(i + 1);
            return value;
        }
        if (c == u'\\' && i + 1 < text.size()) {
            c = text[++i];
            const qsizetype digits = c == u'u' ? 4 : c == u'x' ? 2 : 0;
            if (digits && i + digits < text.size()) {
                bool ok = false;
                const ushort code = text.mid(i + 1, digits).toUShort(&ok, 16);
                if (ok) {
                    c = QChar(code);
                    i += digits;
                }
            } else if (c == u'n') {
                c = u'\n';
            }
        }
        value += c;
    }
    return std::nullopt;
}

// The preferences of a prefs.js file: each `user_pref("name", value);` line, the value a string, number
// or truth value as it stands. Lines that are not such a call are passed over.
QHash<QString, QString> readPrefs(const QString& path)
{
    QHash<QString, QString> prefs;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return prefs;
    QTextStream in(&file);
    QString line;
    while (in.readLineInto(&line, 1 << 16)) {
        QStringView text = QStringView(line).trimmed();
        if (!text.startsWith(QLatin1String("user_pref(")))
            continue;
        text = text.mid(10).trimmed();
        const std::optional<QString> name = takeString(text);
        text = text.trimmed();
        if (!name || !text.startsWith(u','))
            continue;
        text = text.mid(1).trimmed();
        if (const std::optional<QString> value = takeString(text))
            prefs.insert(*name, *value);
        else
            prefs.insert(*name, text.left(text.indexOf(u')')).trimmed().toString());
    }
    return prefs;
}

/// One Thunderbird profile folder, by its name in profiles.ini.
struct Profile {
    QString name;
    QString dir;
};

// The profile folders that profiles.ini in `root` names, each once: [ProfileN] sections (Path relative to
// `root` when IsRelative is 1) and the default profile of each [Install...] section.
QList<Profile> thunderbirdProfiles(const QString& root)
{
    QList<Profile> profiles;
    QStringList seen;
    for (const Section& section : readIniSections(root + QLatin1String("/profiles.ini"))) {
        const bool install = section.first.startsWith(QLatin1String("Install"), Qt::CaseInsensitive);
        if (!install && !section.first.startsWith(QLatin1String("Profile"), Qt::CaseInsensitive))
            continue;
        const QString path = valueOf(section, QLatin1String(install ? "Default" : "Path"));
        if (path.isEmpty())
            continue;
        const bool relative
            = install ? QDir::isRelativePath(path) : valueOf(section, QLatin1String("IsRelative")) != u'0';
        const QString dir = relative ? root + u'/' + path : path;
        const QString canonical = QFileInfo(dir).canonicalFilePath();
        if (!isDir(dir) || canonical.isEmpty() || seen.contains(canonical))
            continue;
        seen << canonical;
        const QString name = valueOf(section, QLatin1String("Name"));
        profiles.append({ name.isEmpty() ? QFileInfo(dir).fileName() : name, dir });
    }
    return profiles;
}

// The account folders of one profile: each mail server of prefs.js with a folder (news servers keep no
// mail), then every folder under Mail/ and ImapMail/ that no server named, so that a profile whose
// prefs.js cannot be read still shows its mail.
QList<FoundStore> thunderbirdAccounts(const Profile& profile)
{
    const QHash<QString, QString> prefs = readPrefs(profile.dir + QLatin1String("/prefs.js"));
    QList<FoundStore> found;
    QStringList covered;
    const QLatin1String prefix("mail.server.");
    for (auto it = prefs.cbegin(); it != prefs.cend(); ++it) {
        // Thunderbird writes each account's folder twice, absolute and relative to the profile.
        const bool relative = it.key().endsWith(QLatin1String(".directory-rel"));
        if (!it.key().startsWith(prefix) || !(relative || it.key().endsWith(QLatin1String(".directory"))))
            continue;
        const QString server = it.key().chopped(relative ? 14 : 10);
        if (prefs.value(server + QLatin1String(".type")) == QLatin1String("nntp"))
            continue;
        QString dir = prefs.value(server + QLatin1String(".directory-rel"));
        dir = dir.startsWith(QLatin1String("[ProfD]")) ? profile.dir + u'/' + dir.mid(7)
                                                       : prefs.value(server + QLatin1String(".directory"));
        const QString canonical = QFileInfo(dir).canonicalFilePath();
        if (!isDir(dir) || canonical.isEmpty() || covered.contains(canonical))
            continue;
        covered << canonical;
        const QString contract = prefs.value(server + QLatin1String(".storeContractID"));
        const FoundStore::Kind kind = contract.contains(QLatin1String("maildirstore")) ? FoundStore::Kind::Maildir
            : contract.contains(QLatin1String("berkeleystore"))                        ? FoundStore::Kind::Mbox
                                                                                       : FoundStore::Kind::ByContent;
        const QString name = prefs.value(server + QLatin1String(".name"), QFileInfo(dir).fileName());
        found.append({ name, QDir::cleanPath(dir), kind });
    }
    std::sort(found.begin(), found.end(),
        [](const FoundStore& a, const FoundStore& b) { return a.name.compare(b.name, Qt::CaseInsensitive) < 0; });
    for (const char* accounts : { "/Mail", "/ImapMail" }) {
        const QDir dir(profile.dir + QLatin1String(accounts));
        for (const QFileInfo& entry : dir.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
            const QString canonical = entry.canonicalFilePath();
            if (!canonical.isEmpty() && !covered.contains(canonical)) {
                covered << canonical;
                found.append({ entry.fileName(), QDir::cleanPath(entry.filePath()), FoundStore::Kind::ByContent });
            }
        }
    }
    return found;
}

// `name`, or with the profile's name or a number after it when `taken` has it already.
QString freeName(const QString& name, const QString& profile, const QStringList& taken)
{
    QString free = name;
    if (taken.contains(free, Qt::CaseInsensitive) && !profile.isEmpty())
        free = QStringLiteral("%1 (%2)").arg(name, profile);
    for (int n = 2; taken.contains(free, Qt::CaseInsensitive); ++n)
        free = QStringLiteral("%1 (%2)").arg(name).arg(n);
    return free;
}

} // namespace

SearchRoots SearchRoots::ofEnvironment()
{
    const QString home = QDir::homePath();
    const QString data = qEnvironmentVariable("XDG_DATA_HOME");
    return { home, data.isEmpty() ? home + QLatin1String("/.local/share") : data, qEnvironmentVariable("MAIL") };
}

QList<FoundStore> discoverStores(const SearchRoots& roots)
{
    QList<FoundStore> found;
    QStringList names;
    const auto add = [&](FoundStore store, const QString& profile = {}) {
        store.name = freeName(store.name.replace(u'\\', u'_'), profile, names); // "\\" separates folder names
        names << store.name;
        found << store;
    };
    for (const char* root : { "/.thunderbird", "/.var/app/org.mozilla.Thunderbird/.thunderbird",
             "/snap/thunderbird/common/.thunderbird", "/.icedove" }) {
        for (const Profile& profile : thunderbirdProfiles(roots.home + QLatin1String(root)))
            for (FoundStore account : thunderbirdAccounts(profile)) {
                account.name = QLatin1String("Thunderbird - ") + account.name;
                add(account, profile.name);
            }
    }
    const std::pair<QString, FoundStore> places[] = {
        { roots.dataHome + QLatin1String("/evolution/mail/local"),
            { QStringLiteral("Evolution"), {}, FoundStore::Kind::Maildir } },
        { roots.dataHome + QLatin1String("/local-mail"), { QStringLiteral("KMail"), {}, FoundStore::Kind::Maildir } },
        { roots.home + QLatin1String("/Maildir"), { QStringLiteral("Maildir"), {}, FoundStore::Kind::Maildir } },
        { roots.home + QLatin1String("/mail"), { QStringLiteral("Mail"), {}, FoundStore::Kind::ByContent } },
    };
    for (const auto& [dir, store] : places)
        if (isDir(dir))
            add({ store.name, QDir::cleanPath(dir), store.kind });
    // An empty spool holds no mail: the usual state of one whose mail has been read.
    if (!roots.mailSpool.isEmpty() && QFileInfo(roots.mailSpool).isFile() && QFileInfo(roots.mailSpool).size() > 0)
        add({ QStringLiteral("Mail Spool"), roots.mailSpool, FoundStore::Kind::ByContent });
    return found;
}

QList<std::pair<QString, QList<std::pair<QString, QString>>>> readIniSections(const QString& path)
{
    QList<Section> sections;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return sections;
    QTextStream in(&file);
    QString line;
    while (in.readLineInto(&line, 1 << 16)) {
        const QString text = line.trimmed();
        if (text.startsWith(u'[') && text.contains(u']')) {
            sections.append({ text.mid(1, text.indexOf(u']') - 1).trimmed(), {} });
            continue;
        }
        const qsizetype eq = text.indexOf(u'=');
        if (sections.isEmpty() || eq <= 0 || text.startsWith(u';') || text.startsWith(u'#'))
            continue;
        sections.last().second.append({ text.left(eq).trimmed(), text.mid(eq + 1).trimmed() });
    }
    return sections;
}

bool discoveryEnabled(const QString& profilePath)
{
    for (const Section& section : readIniSections(profilePath))
        if (section.first.compare(QLatin1String("Options"), Qt::CaseInsensitive) == 0
            && valueOf(section, QLatin1String("Discover")) == u'0')
            return false;
    return true;
}

} // namespace quillbox::mail

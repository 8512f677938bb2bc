// SPDX-License-Identifier: MIT
#include "mail/profile.h"

#include "core/paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

namespace quillbox::mail {

QString profilePath()
{
    const QString named = qEnvironmentVariable("QUILLBOX_PROFILE");
    if (!named.isEmpty())
        return named;
    return configHome() + QLatin1String("/Quillbox/profile.ini");
}

QStringList sampleStoreCandidates()
{
    QStringList candidates;
    const QString exeDir = QCoreApplication::applicationDirPath();
    if (!exeDir.isEmpty())
        candidates << QDir::cleanPath(exeDir + QLatin1String("/../share/quillbox/samples/Sample Mailbox"));
#ifdef QUILLBOX_SOURCE_SAMPLES
    candidates << QStringLiteral(QUILLBOX_SOURCE_SAMPLES "/Sample Mailbox");
#endif
    return candidates;
}

namespace {

// The lines of section [Stores] as (key, value) pairs, in file order; see readProfileStores.
Result<QList<std::pair<QString, QString>>> readStoresSection(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return Error { Error::Code::Unreadable, path, file.errorString() };
    QList<std::pair<QString, QString>> lines;
    bool inStores = false;
    QTextStream in(&file);
    QString line;
    while (in.readLineInto(&line)) {
        const QString text = line.trimmed();
        if (text.startsWith(u'[')) {
            const qsizetype end = text.indexOf(u']');
            const QString section = text.mid(1, end < 0 ? -1 : end - 1).trimmed();
            inStores = section.compare(QLatin1String("Stores"), Qt::CaseInsensitive) == 0;
            continue;
        }
        const qsizetype eq = text.indexOf(u'=');
        if (!inStores || text.startsWith(u';') || eq <= 0)
            continue;
        const QString name = text.left(eq).trimmed();
        QString location = text.mid(eq + 1).trimmed();
        if (location.size() >= 2 && location.startsWith(u'"') && location.endsWith(u'"'))
            location = location.mid(1, location.size() - 2);
        if (!location.isEmpty())
            lines.append({ name, location });
    }
    return lines;
}

// Whether `key` is the name of a setting of a store ("Work.PasswordCommand") rather than of a store.
bool isStoreSetting(const QString& key)
{
    static const QStringList settings { QStringLiteral("PasswordCommand"), QStringLiteral("TokenCommand"),
        QStringLiteral("Fingerprint"), QStringLiteral("Timeout") };
    const qsizetype dot = key.lastIndexOf(u'.');
    return dot > 0 && settings.contains(key.mid(dot + 1), Qt::CaseInsensitive);
}

} // namespace

Result<QList<std::pair<QString, QString>>> readProfileStores(const QString& path)
{
    auto lines = readStoresSection(path);
    if (!lines)
        return lines.error();
    const QString profileDir = QFileInfo(path).absolutePath();
    QList<std::pair<QString, QString>> stores;
    for (const auto& [name, location] : *lines) {
        if (isStoreSetting(name))
            continue;
        // A relative location is taken from the profile's folder, not from wherever the program was started;
        // an account's address stays as it is.
        const bool address = location.contains(QLatin1String("://"));
        stores.append({ name, address ? location : QDir::cleanPath(QDir(profileDir).absoluteFilePath(location)) });
    }
    return stores;
}

QMap<QString, QString> readStoreSettings(const QString& path, const QString& storeName)
{
    QMap<QString, QString> settings;
    const auto lines = readStoresSection(path);
    if (!lines)
        return settings;
    const QString prefix = storeName + u'.';
    for (const auto& [key, value] : *lines)
        if (isStoreSetting(key) && key.startsWith(prefix, Qt::CaseInsensitive))
            settings.insert(key.mid(prefix.size()).toLower(), value);
    return settings;
}

} // namespace quillbox::mail

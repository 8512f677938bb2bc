// SPDX-License-Identifier: MIT
// Feeds arbitrary folder paths to getFolderFromPath over two small Maildir stores written into a temporary
// directory at start-up (one with Maildir++ folders, one with nested directories), and checks what must
// hold for every path:
// - the person is told "Error: folder path should start with \\" exactly when the path does not start
//   with "\\", and is told nothing else;
// - a folder found is one of the stores' folders, and its own path is the path given, less one "\" at
//   the very end, without regard to case;
// - a path that is a folder's path in that sense always finds a folder.
// Half the inputs are a known folder's path with the letter case changed and perhaps a "\" added, as
// the input's bits say; the other half are the input's text as it stands.
#include "fuzzcheck.h"
#include "mail/folderpath.h"

#include <QDir>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>

using namespace quillbox;
using quillbox::fuzz::check;

namespace {

// Counts what it is told; every question is answered with nothing.
class CountingPerson : public Person {
public:
    QStringList messages;
    void message(const QString& text) override { messages << text; }
    WarningAnswer warning(const QString&, const QString& text) override
    {
        messages << text;
        return WarningAnswer::Abort;
    }
    QString inputBox(const QString&) override { return {}; }
    std::optional<QString> pickMailFolder() override { return std::nullopt; }
    QString chooseDirectory(const QString&, const QString&) override { return {}; }
    void openDocument(const QString&) override { }
    std::unique_ptr<Progress> progress(const QString&, qint64) override { return nullptr; }
};

struct Stores {
    QTemporaryDir dir { QDir::tempPath() + QStringLiteral("/quillbox-fuzz-XXXXXX") };
    mail::Namespace ns;
    QStringList paths; // every folder's own path
};

void makeMaildir(const QString& path)
{
    for (const char* sub : { "cur", "new", "tmp" })
        check(QDir().mkpath(path + u'/' + QLatin1String(sub)));
}

void collectPaths(const mail::Folder& folder, QStringList& paths)
{
    paths << folder.folderPath();
    if (auto children = folder.folders())
        for (const auto& child : *children)
            collectPaths(*child, paths);
}

// Written once; the directory goes when the fuzzer exits normally.
Stores& stores()
{
    static Stores s;
    static const bool ready = [] {
        check(s.dir.isValid());
        const QString mailbox = s.dir.filePath(QStringLiteral("mailbox"));
        for (const char* folder : { "", "/.Sent", "/.sent", "/.Archive", "/.Archive.2020", "/.Archive.2020.Q1",
                 "/.Entw&APw-rfe", "/.Inbox Old", "/.Trailing " })
            makeMaildir(mailbox + QLatin1String(folder));
        const QString nested = s.dir.filePath(QStringLiteral("nested"));
        for (const char* folder : { "", "/Projects", "/Projects/Alpha", "/Projects/Beta.Gamma" })
            makeMaildir(nested + QLatin1String(folder));
        s.ns = mail::Namespace::fromStores(
            { { QStringLiteral("Mailbox"), mailbox }, { QStringLiteral("Nested Store"), nested } });
        for (const char* name : { "Mailbox", "Nested Store" }) {
            auto top = s.ns.topFolder(QLatin1String(name));
            check(top.ok());
            collectPaths(**top, s.paths);
        }
        return s.paths.size() > 10;
    }();
    check(ready);
    return s;
}

bool isKnownPath(const QString& path)
{
    for (const QString& known : stores().paths)
        if (known.compare(path, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

// A known path with its letter case changed where the input's bits say, and a "\" added on request.
QString knownPathVariant(const uint8_t* data, size_t size)
{
    const QStringList& paths = stores().paths;
    QString path = paths[data[0] % paths.size()];
    for (qsizetype i = 0; i < path.size(); ++i) {
        const size_t bit = size_t(i) + 8;
        if (bit / 8 < size && (data[bit / 8] >> (bit % 8) & 1))
            path[i] = path[i].isUpper() ? path[i].toLower() : path[i].toUpper();
    }
    if (data[0] & 0x80)
        path += u'\\';
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const bool variant = data[0] & 0x40;
    const QString path = variant ? knownPathVariant(data + 1, size - 1)
                                 : QString::fromUtf8(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));

    CountingPerson person;
    const std::unique_ptr<mail::Folder> folder = getFolderFromPath(person, stores().ns, path);

    const bool rooted = path.startsWith(QLatin1String("\\\\"));
    if (rooted)
        check(person.messages.isEmpty());
    else
        check(person.messages == QStringList { QStringLiteral("Error: folder path should start with \\\\") });

    QString meant = path;
    if (meant.size() > 2 && meant.endsWith(u'\\'))
        meant.chop(1);
    if (folder) {
        check(rooted);
        check(stores().paths.contains(folder->folderPath()));
        check(folder->folderPath().compare(meant, Qt::CaseInsensitive) == 0);
    }
    if (rooted && isKnownPath(meant))
        check(folder != nullptr);
    if (variant)
        check(folder != nullptr);
    return 0;
}

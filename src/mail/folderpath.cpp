// SPDX-License-Identifier: MIT
#include "mail/folderpath.h"

#include <utility>

namespace quillbox {

namespace {
// Splits the next name off `rest`: everything before the first backslash. `rest` keeps what follows it.
QString takeName(QString& rest)
{
    const qsizetype p = rest.indexOf(u'\\');
    if (p < 0)
        return std::exchange(rest, QString());
    QString name = rest.left(p);
    rest.remove(0, p + 1);
    return name;
}
} // namespace

std::unique_ptr<mail::Folder> getFolderFromPath(Person& person, const mail::Namespace& ns, const QString& path)
{
    if (!path.startsWith(QLatin1String("\\\\"))) {
        person.message(QStringLiteral("Error: folder path should start with \\\\"));
        return nullptr;
    }
    QString rest = path.mid(2);
    const QString storeName = takeName(rest);
    if (storeName.isEmpty())
        return nullptr;
    auto top = ns.topFolder(storeName);
    if (!top)
        return nullptr;
    std::unique_ptr<mail::Folder> folder = std::move(*top);
    while (folder && !rest.isEmpty()) {
        const QString name = takeName(rest);
        // Checked here, not left to the store: a store might hold a folder with an empty name.
        if (name.isEmpty())
            return nullptr;
        folder = folder->folder(name);
    }
    return folder;
}

} // namespace quillbox

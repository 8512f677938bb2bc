// SPDX-License-Identifier: MIT
#include "mail/folderpath.h"

#include <QCoreApplication>
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
    Result<std::unique_ptr<mail::Folder>> folder = findFolderFromPath(person, ns, path);
    return folder ? std::move(*folder) : nullptr;
}

Result<std::unique_ptr<mail::Folder>> findFolderFromPath(Person& person, const mail::Namespace& ns, const QString& path)
{
    const Error notThere { Error::Code::NotFound, {}, {} };
    if (!path.startsWith(QLatin1String("\\\\"))) {
        person.message(QCoreApplication::translate("Search", "Error: folder path should start with \\\\"));
        return notThere;
    }
    QString rest = path.mid(2);
    const QString storeName = takeName(rest);
    if (storeName.isEmpty())
        return notThere;
    auto top = ns.topFolder(storeName);
    if (!top)
        return top.error();
    std::unique_ptr<mail::Folder> folder = std::move(*top);
    while (folder && !rest.isEmpty()) {
        const QString name = takeName(rest);
        // Checked here, not left to the store: a store might hold a folder with an empty name.
        if (name.isEmpty())
            return notThere;
        folder = folder->folder(name);
    }
    if (!folder)
        return notThere;
    return folder;
}

} // namespace quillbox

// SPDX-License-Identifier: MIT
#pragma once
// Walks over a store of the store model, for the tests of the stores and of what is made of their mails.

#include "mail/store.h"

#include <memory>
#include <vector>

namespace quillbox::test {

/// The folder below the top of `store` that `path` names, its names joined by '\' ("Inbox\Sub"; "" is the
/// top); null when one is missing.
inline std::unique_ptr<mail::Folder> folderAt(mail::Store& store, const QString& path)
{
    auto top = store.topFolder();
    std::unique_ptr<mail::Folder> folder = top ? std::move(*top) : nullptr;
    for (const QString& name : path.split(u'\\', Qt::SkipEmptyParts))
        folder = folder ? folder->folder(name) : nullptr;
    return folder;
}

/// An item as a walk lists it: the FolderPath of its folder, and its summary.
struct ListedItem {
    QString folder;
    mail::ItemSummary summary;
};

/// The search's walk: a folder's items, then each of its sub-folders with everything below it. Each folder's
/// path goes to `folders` as it is entered; the first failure ends the walk.
inline Status walk(const mail::Folder& folder, std::vector<ListedItem>& items, QStringList* folders = nullptr)
{
    const QString path = folder.folderPath();
    if (folders)
        *folders << path;
    if (Status listed = folder.items([&](const mail::ItemSummary& s) { items.push_back({ path, s }); }); !listed)
        return listed;
    auto children = folder.folders();
    if (!children)
        return children.error();
    for (const auto& child : *children)
        if (Status deeper = walk(*child, items, folders); !deeper)
            return deeper;
    return success();
}

} // namespace quillbox::test

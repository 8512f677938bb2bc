// SPDX-License-Identifier: MIT
#pragma once
// An in-memory mail store for tests of the code above the store model: a tree of folders with
// item summaries, and switches that make a folder fail to read.

#include "mail/store.h"

#include <functional>
#include <optional>
#include <vector>

namespace quillbox::test {

/// One folder of a fake store and everything below it.
struct FakeFolder {
    QString name;
    std::vector<mail::ItemSummary> items;
    std::vector<FakeFolder> folders;
    /// items() visits this many items, then fails (Unreadable).
    std::optional<size_t> itemsFailAfter;
    /// folders() fails (Unreadable).
    bool foldersFail = false;
    /// Called when items() starts, before the first item: lets a test change things between folders.
    std::function<void()> onItems;
};

/// A store whose top-level folder is `root` (the store takes the root's name). The store and every folder
/// it hands out refer to `root`, which must outlive them. Items cannot be fetched by entry identifier.
class FakeStore : public mail::Store {
public:
    explicit FakeStore(const FakeFolder& root)
        : m_root(root)
    {
    }
    QString name() const override { return m_root.name; }
    QString location() const override { return QStringLiteral("fake:") + m_root.name; }
    QString kind() const override { return QStringLiteral("test store"); }
    Result<std::unique_ptr<mail::Folder>> topFolder() override;
    bool owns(const QString&) const override { return false; }
    Result<std::unique_ptr<mail::MailItem>> item(const QString& entryID) override;

private:
    const FakeFolder& m_root;
};

/// A namespace over one fake store per root, in order.
mail::Namespace fakeNamespace(const std::vector<const FakeFolder*>& roots);

} // namespace quillbox::test

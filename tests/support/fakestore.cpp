// SPDX-License-Identifier: MIT
#include "support/fakestore.h"

namespace quillbox::test {

namespace {
class FakeFolderView : public mail::Folder {
public:
    FakeFolderView(const FakeFolder& data, QString path, QString fullPath)
        : m_data(data)
        , m_path(std::move(path))
        , m_fullPath(std::move(fullPath))
    {
    }

    QString name() const override { return m_data.name; }
    QString folderPath() const override { return m_path; }
    QString fullFolderPath() const override { return m_fullPath; }

    Result<std::vector<std::unique_ptr<mail::Folder>>> folders(mail::Walk&) const override
    {
        if (m_data.foldersFail)
            return Error { Error::Code::Unreadable, m_path, QStringLiteral("sub-folders cannot be read") };
        std::vector<std::unique_ptr<mail::Folder>> children;
        for (const FakeFolder& child : m_data.folders)
            children.push_back(
                std::make_unique<FakeFolderView>(child, m_path + u'\\' + child.name, m_fullPath + u'/' + child.name));
        return children;
    }

    Status items(const std::function<void(const mail::ItemSummary&)>& visit, mail::Walk&) const override
    {
        if (m_data.onItems)
            m_data.onItems();
        size_t visited = 0;
        for (const mail::ItemSummary& item : m_data.items) {
            if (m_data.itemsFailAfter && visited == *m_data.itemsFailAfter)
                break;
            visit(item);
            ++visited;
        }
        if (m_data.itemsFailAfter)
            return Error { Error::Code::Unreadable, m_path, QStringLiteral("item cannot be read") };
        return success();
    }

private:
    const FakeFolder& m_data;
    QString m_path;
    QString m_fullPath;
};
} // namespace

Result<std::unique_ptr<mail::Folder>> FakeStore::topFolder()
{
    const QString path = QStringLiteral("\\\\") + m_root.name;
    return std::unique_ptr<mail::Folder>(std::make_unique<FakeFolderView>(m_root, path, path));
}

Result<std::unique_ptr<mail::MailItem>> FakeStore::item(const QString& entryID)
{
    return Error { Error::Code::NotFound, entryID, QStringLiteral("the fake store does not hand out items") };
}

mail::Namespace fakeNamespace(const std::vector<const FakeFolder*>& roots)
{
    std::vector<std::unique_ptr<mail::Store>> stores;
    for (const FakeFolder* root : roots)
        stores.push_back(std::make_unique<FakeStore>(*root));
    return mail::Namespace::fromOpenStores(std::move(stores));
}

} // namespace quillbox::test

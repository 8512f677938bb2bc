// SPDX-License-Identifier: MIT
#include "mail/pst/pff.h"

#include <QFile>
#include <QSet>

#include <algorithm>
#include <vector>

namespace quillbox::mail::pst {

QString takeErrorText(libpff_error_t* error)
{
    if (!error)
        return QStringLiteral("libpff gave no reason");
    std::vector<char> text(16 * 1024, '\0');
    if (libpff_error_backtrace_sprint(error, text.data(), text.size()) < 0)
        libpff_error_sprint(error, text.data(), text.size());
    text.back() = '\0';
    libpff_error_free(&error);
    const QString reason = QString::fromLocal8Bit(text.data()).trimmed();
    return reason.isEmpty() ? QStringLiteral("libpff gave no reason") : reason;
}

Result<std::shared_ptr<PffFile>> PffFile::open(const QString& path)
{
    libpff_file_t* file = nullptr;
    libpff_error_t* error = nullptr;
    if (libpff_file_initialize(&file, &error) != 1)
        return Error { Error::Code::Unreadable, path, takeErrorText(error) };
    const QByteArray name = QFile::encodeName(path);
    if (libpff_file_open(file, name.constData(), LIBPFF_OPEN_READ, &error) != 1) {
        const QString reason = takeErrorText(error);
        libpff_file_free(&file, nullptr);
        return Error { Error::Code::Unreadable, path, reason };
    }
    return std::shared_ptr<PffFile>(new PffFile(file, path));
}

PffFile::~PffFile()
{
    libpff_file_close(m_file, nullptr);
    libpff_file_free(&m_file, nullptr);
}

PffItem::~PffItem()
{
    libpff_item_free(&m_item, nullptr);
}

// libpff reads an item's properties as one table: when one of them is beyond it, none can be read.
Status checkReadable(const PffItem& item)
{
    int sets = 0;
    libpff_error_t* error = nullptr;
    if (libpff_item_get_number_of_record_sets(item.get(), &sets, &error) != 1)
        return Error { Error::Code::Unreadable, item.file()->path(), takeErrorText(error) };
    return success();
}

Result<std::shared_ptr<PffItem>> pffItem(const std::shared_ptr<PffFile>& file, quint32 nid)
{
    libpff_item_t* item = nullptr;
    libpff_error_t* error = nullptr;
    const int found = libpff_file_get_item_by_identifier(file->get(), nid, &item, &error);
    if (found == 1) {
        auto held = std::make_shared<PffItem>(file, item);
        if (Status readable = checkReadable(*held); !readable)
            return readable.error();
        return held;
    }
    if (found == 0)
        return Error { Error::Code::NotFound, file->path(), QStringLiteral("no item %1 in the file").arg(nid) };
    return Error { Error::Code::Unreadable, file->path(), takeErrorText(error) };
}

namespace {

// What one of libpff's value accessors gave: the value when it found one (`found` is 1).
std::optional<PropertyValue> foundValue(
    int found, uint32_t type, const uint8_t* data, size_t size, libpff_error_t*& error)
{
    if (found != 1) {
        discardError(error);
        return std::nullopt;
    }
    return PropertyValue { quint16(type), QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)) };
}

} // namespace

std::optional<PropertyValue> PffProperties::value(quint16 id) const
{
    uint32_t type = 0;
    uint8_t* data = nullptr;
    size_t size = 0;
    libpff_error_t* error = nullptr;
    // The set-indexed accessor is deprecated, but it is the one whose value stays owned by the item in
    // every libpff release; the record-set API hands out entries whose ownership changed between releases.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    const int found = libpff_item_get_entry_value(
        m_item->get(), m_set, id, &type, &data, &size, LIBPFF_ENTRY_VALUE_FLAG_MATCH_ANY_VALUE_TYPE, &error);
#pragma GCC diagnostic pop
    return foundValue(found, type, data, size, error);
}

std::optional<PropertyValue> PffProperties::namedValue(QByteArrayView utf8Name) const
{
    uint32_t type = 0;
    uint8_t* data = nullptr;
    size_t size = 0;
    libpff_error_t* error = nullptr;
    // Deprecated as value()'s accessor is, for the same reason.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    const int found = libpff_item_get_entry_value_by_utf8_name(m_item->get(), m_set,
        reinterpret_cast<uint8_t*>(const_cast<char*>(utf8Name.data())), size_t(utf8Name.size()), &type, &data, &size,
        &error);
#pragma GCC diagnostic pop
    return foundValue(found, type, data, size, error);
}

Result<std::vector<quint32>> PffListing::children(quint32 nid, bool folders) const
{
    auto folder = pffItem(m_file, nid);
    if (!folder)
        return folder.error();
    libpff_error_t* error = nullptr;
    int count = 0;
    const int counted = folders ? libpff_folder_get_number_of_sub_folders((*folder)->get(), &count, &error)
                                : libpff_folder_get_number_of_sub_messages((*folder)->get(), &count, &error);
    if (counted != 1)
        return Error { Error::Code::Unreadable, m_file->path(), takeErrorText(error) };
    std::vector<quint32> found;
    for (int i = 0; i < count; ++i) {
        libpff_item_t* child = nullptr;
        const int got = folders ? libpff_folder_get_sub_folder((*folder)->get(), i, &child, &error)
                                : libpff_folder_get_sub_message((*folder)->get(), i, &child, &error);
        if (got != 1) {
            discardError(error); // a damaged entry: left out, like a damaged message
            continue;
        }
        uint32_t identifier = 0;
        if (libpff_item_get_identifier(child, &identifier, nullptr) == 1)
            found.push_back(identifier);
        libpff_item_free(&child, nullptr);
    }
    return found;
}

Result<std::vector<quint32>> PffListing::subFolders(quint32 nid) const
{
    return children(nid, true);
}

Result<std::vector<quint32>> PffListing::messages(quint32 nid) const
{
    return children(nid, false);
}

Result<std::unique_ptr<PropertyBag>> PffListing::properties(quint32 nid) const
{
    auto item = pffItem(m_file, nid);
    if (!item)
        return item.error();
    return std::unique_ptr<PropertyBag>(std::make_unique<PffProperties>(std::move(*item)));
}

// libpff does not say which folder holds an item: the tree is walked once, from the root.
std::optional<quint32> PffListing::parentOf(quint32 nid) const
{
    if (!m_parents) {
        std::vector<std::pair<quint32, quint32>> parents;
        QSet<quint32> seen { kRootFolderNid };
        std::vector<quint32> pending { kRootFolderNid };
        while (!pending.empty()) {
            const quint32 folder = pending.back();
            pending.pop_back();
            for (bool folders : { true, false }) {
                auto listed = children(folder, folders);
                if (!listed)
                    continue;
                for (quint32 child : *listed) {
                    if (seen.contains(child))
                        continue;
                    seen.insert(child);
                    parents.emplace_back(child, folder);
                    if (folders)
                        pending.push_back(child);
                }
            }
        }
        std::sort(parents.begin(), parents.end());
        m_parents = std::move(parents);
    }
    const auto it = std::lower_bound(m_parents->begin(), m_parents->end(), std::make_pair(nid, quint32(0)));
    if (it == m_parents->end() || it->first != nid)
        return std::nullopt;
    return it->second;
}

} // namespace quillbox::mail::pst

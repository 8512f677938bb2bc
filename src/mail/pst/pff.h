// SPDX-License-Identifier: MIT
#pragma once
// libpff behind small owning types: the open file, its items, their properties, its errors as text,
// and a Listing for files our own node reader does not list.

#include "mail/pst/listing.h"

#include <QString>

#include <libpff.h>
#include <memory>

namespace quillbox::mail::pst {

/// An open libpff file. Items keep it open for as long as they live.
class PffFile {
public:
    /// Opens `path` read-only; on failure the Error's detail is libpff's own account (its error backtrace).
    static Result<std::shared_ptr<PffFile>> open(const QString& path);
    ~PffFile();
    PffFile(const PffFile&) = delete;
    PffFile& operator=(const PffFile&) = delete;

    libpff_file_t* get() const { return m_file; }
    const QString& path() const { return m_path; }

private:
    PffFile(libpff_file_t* file, QString path)
        : m_file(file)
        , m_path(std::move(path))
    {
    }
    libpff_file_t* m_file;
    QString m_path;
};

/// One libpff item (message, folder, recipients, attachment), freed when the last holder lets go.
class PffItem {
public:
    /// `owner` is kept alive with the item: the attachment an attached message was read from.
    PffItem(std::shared_ptr<PffFile> file, libpff_item_t* item, std::shared_ptr<const PffItem> owner = {})
        : m_file(std::move(file))
        , m_owner(std::move(owner))
        , m_item(item)
    {
    }
    ~PffItem();
    PffItem(const PffItem&) = delete;
    PffItem& operator=(const PffItem&) = delete;

    libpff_item_t* get() const { return m_item; }
    const std::shared_ptr<PffFile>& file() const { return m_file; }

private:
    std::shared_ptr<PffFile> m_file;
    std::shared_ptr<const PffItem> m_owner;
    libpff_item_t* m_item;
};

/// An Error with libpff's reason when libpff cannot read the properties of `item`.
Status checkReadable(const PffItem& item);

/// The item with node identifier `nid`; an Error when libpff cannot read its properties.
Result<std::shared_ptr<PffItem>> pffItem(const std::shared_ptr<PffFile>& file, quint32 nid);

/// The properties of one record set of an item: set 0 of a message, folder or attachment, or one row of
/// a recipient table.
class PffProperties final : public PropertyBag {
public:
    explicit PffProperties(std::shared_ptr<PffItem> item, int set = 0)
        : m_item(std::move(item))
        , m_set(set)
    {
    }
    std::optional<PropertyValue> value(quint16 id) const override;
    /// The value of the named property whose name (a string, as the file's name-to-id map holds it) is
    /// `utf8Name`; nothing when the item has none.
    std::optional<PropertyValue> namedValue(QByteArrayView utf8Name) const;

private:
    std::shared_ptr<PffItem> m_item;
    int m_set;
};

/// Frees the error of a failed call whose reason is not reported (`error` may be null).
inline void discardError(libpff_error_t*& error)
{
    if (error)
        libpff_error_free(&error);
}

/// libpff's error text for a failed call: the backtrace, innermost call first, one call a line. Frees `error`.
QString takeErrorText(libpff_error_t* error);

/// The folder listing through libpff, for files NodeDatabase does not read.
class PffListing final : public Listing {
public:
    explicit PffListing(std::shared_ptr<PffFile> file)
        : m_file(std::move(file))
    {
    }
    Result<std::vector<quint32>> subFolders(quint32 nid) const override;
    Result<std::vector<quint32>> messages(quint32 nid) const override;
    Result<std::unique_ptr<PropertyBag>> properties(quint32 nid) const override;
    std::optional<quint32> parentOf(quint32 nid) const override;

private:
    Result<std::vector<quint32>> children(quint32 nid, bool folders) const;

    std::shared_ptr<PffFile> m_file;
    mutable std::optional<std::vector<std::pair<quint32, quint32>>> m_parents; // (child, parent), by child
};

} // namespace quillbox::mail::pst

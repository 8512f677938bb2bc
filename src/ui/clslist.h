// SPDX-License-Identifier: MIT
#pragma once

#include <QStringList>

namespace quillbox {

/// A growable list of texts, indexed from 0. It holds any number of entries.
class clsList {
public:
    /// Appends `s`.
    void Add(const QString& s);

    /// The entry at index `N`; an empty text when `N` is negative or at or beyond Count (no error).
    [[nodiscard]] QString item(qsizetype N) const;

    /// Removes all entries and gives their storage back.
    void Clear();

    /// The number of entries.
    [[nodiscard]] qsizetype Count() const { return m_items.size(); }

private:
    QStringList m_items;
};

} // namespace quillbox

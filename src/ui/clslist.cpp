// SPDX-License-Identifier: MIT
#include "ui/clslist.h"

namespace quillbox {

void clsList::Add(const QString& s)
{
    m_items.append(s);
}

QString clsList::item(qsizetype N) const
{
    return N >= 0 && N < m_items.size() ? m_items.at(N) : QString();
}

void clsList::Clear()
{
    m_items = QStringList();
}

} // namespace quillbox

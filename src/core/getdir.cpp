// SPDX-License-Identifier: MIT
#include "core/getdir.h"

namespace quillbox {

QString GetDir(Person& person, const QString& title)
{
    QString dir = person.chooseDirectory(title);
    if (!dir.isEmpty() && !dir.endsWith(u'/'))
        dir += u'/';
    return dir;
}

void BrowseTo(Person& person, const QString& target)
{
    person.openDocument(target);
}

} // namespace quillbox

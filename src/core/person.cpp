// SPDX-License-Identifier: MIT
#include "core/person.h"

namespace quillbox {

QString getDir(Person& person, const QString& title)
{
    QString dir = person.chooseDirectory(title);
    if (!dir.isEmpty() && !dir.endsWith(u'/'))
        dir += u'/';
    return dir;
}

} // namespace quillbox

// SPDX-License-Identifier: MIT
#include "core/person.h"

namespace quillbox {

QString getDir(Person& person, const QString& title, const QString& start)
{
    QString dir = person.chooseDirectory(title, start);
    if (!dir.isEmpty() && !dir.endsWith(u'/'))
        dir += u'/';
    return dir;
}

} // namespace quillbox

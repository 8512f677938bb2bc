// SPDX-License-Identifier: MIT
#include "core/paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace quillbox {

QString rememberedStatePath()
{
    return configHome() + QLatin1String("/Quillbox/window.ini");
}

QString configHome()
{
    const QString xdg = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!xdg.isEmpty() && QDir::isAbsolutePath(xdg))
        return QDir::cleanPath(xdg);
    return QDir::cleanPath(QDir::homePath() + QLatin1String("/.config"));
}

QString programFolder()
{
    const QString exeDir = QCoreApplication::applicationDirPath();
    if (!exeDir.isEmpty() && QFileInfo(exeDir).isWritable())
        return exeDir;
    return configHome() + QLatin1String("/Quillbox");
}

QString defaultIniPath()
{
    return programFolder() + QLatin1String("/Quillbox.ini");
}

} // namespace quillbox

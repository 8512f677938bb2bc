// SPDX-License-Identifier: MIT
#include "output/listtotext.h"

#include "core/paths.h"
#include "output/textline.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

namespace quillbox {

namespace {
Status writeList(const Settings& settings, const ResultList& list, const QString& path)
{
    const auto failed = [&path](const QString& reason) { return Error { Error::Code::WriteFailed, path, reason }; };
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder))
        return failed(QStringLiteral("cannot create the folder %1").arg(QDir::toNativeSeparators(folder)));
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return failed(file.errorString());
    for (int i = 0; i < list.count(); ++i) {
        const QByteArray line = buildTextLine(settings.textFormat, list.row(i)).toUtf8() + "\r\n";
        if (file.write(line) != line.size())
            return failed(file.errorString());
    }
    if (!file.commit())
        return failed(file.errorString());
    return success();
}
} // namespace

QString listFilePath()
{
    return programFolder() + QLatin1String("/list.txt");
}

Status exportListToText(Person& person, const Settings& settings, const ResultList& list, const QString& path)
{
    Status written = writeList(settings, list, path);
    if (!written) {
        person.message(QCoreApplication::translate("ListExport", "Can't write the list to %1: %2.")
                           .arg(QDir::toNativeSeparators(path), written.error().detail));
        return written;
    }
    person.openDocument(path);
    return written;
}

} // namespace quillbox

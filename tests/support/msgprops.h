// SPDX-License-Identifier: MIT
#pragma once
// The MAPI properties of .msg files read back with olefile (tests/support/msgprops.py), for the properties
// msgreader does not report: tags as "1035001F", strings as text, numbers as numbers, binaries as hex.

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <gtest/gtest.h>

namespace quillbox::test {

/// A python3 that has olefile: the one on PATH (which may be a python of its own), else the system's.
inline QString pythonWithOlefile()
{
    for (const QString& python :
        { QStandardPaths::findExecutable(QStringLiteral("python3")), QStringLiteral("/usr/bin/python3") }) {
        QProcess process;
        process.start(python, { QStringLiteral("-c"), QStringLiteral("import olefile") });
        if (!python.isEmpty() && process.waitForFinished() && process.exitCode() == 0)
            return python;
    }
    return {};
}

/// What msgprops.py finds in each of `paths` ("props", "named", "recipients", "attachments"), in order; nothing,
/// with a test failure, when olefile is missing or the reader fails.
inline QList<QJsonObject> readMsgProperties(const QStringList& paths)
{
    const QString python = pythonWithOlefile();
    if (python.isEmpty()) {
        ADD_FAILURE() << "python3-olefile is not installed (run scripts/setup.sh)";
        return {};
    }
    QProcess process;
    process.start(python, QStringList { QStringLiteral(SOURCE_DIR "/tests/support/msgprops.py") } + paths);
    if (!process.waitForFinished(300000) || process.exitCode() != 0) {
        ADD_FAILURE() << "msgprops.py failed: " << process.readAllStandardError().toStdString();
        return {};
    }
    QList<QJsonObject> objects;
    for (const QByteArray& line : process.readAllStandardOutput().split('\n'))
        if (!line.isEmpty())
            objects << QJsonDocument::fromJson(line).object();
    EXPECT_EQ(objects.size(), paths.size());
    return objects;
}

} // namespace quillbox::test

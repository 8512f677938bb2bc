// SPDX-License-Identifier: MIT
#pragma once
// .msg files read back with a real reader, @kenjiuno/msgreader under node (tests/support/readmsg.js).

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <gtest/gtest.h>
#include <optional>

namespace quillbox::test {

inline QString sha256(const QByteArray& bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

/// What the reader finds in each of `paths`, in order; nothing, with a test failure that says why, when node
/// or the reader is missing or the reader gives up on a file.
inline QList<QJsonObject> readWithMsgReader(const QStringList& paths)
{
    const QString node = QStandardPaths::findExecutable(QStringLiteral("node"));
    if (node.isEmpty()) {
        ADD_FAILURE() << "node is not installed; the .msg files cannot be read back (run scripts/setup.sh)";
        return {};
    }
    QProcess process;
    process.start(node, QStringList { QStringLiteral(SOURCE_DIR "/tests/support/readmsg.js") } + paths);
    if (!process.waitForFinished(300000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        const QString err = QString::fromUtf8(process.readAllStandardError());
        ADD_FAILURE() << "tests/support/readmsg.js failed"
                      << (err.contains(QLatin1String("Cannot find module"))
                                 ? " (@kenjiuno/msgreader is not in tests/node_modules: run scripts/setup.sh)"
                                 : "")
                      << ": " << qPrintable(err);
        return {};
    }
    QList<QJsonObject> objects;
    for (const QByteArray& line : process.readAllStandardOutput().split('\n'))
        if (!line.isEmpty())
            objects << QJsonDocument::fromJson(line).object();
    EXPECT_EQ(objects.size(), paths.size()) << "readmsg.js printed no JSON object for some file";
    return objects;
}

/// The same for one file; nothing when it could not be read.
inline std::optional<QJsonObject> readWithMsgReader(const QString& path)
{
    const QList<QJsonObject> objects = readWithMsgReader(QStringList { path });
    return objects.size() == 1 ? std::optional(objects.first()) : std::nullopt;
}

} // namespace quillbox::test

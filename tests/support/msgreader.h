// SPDX-License-Identifier: MIT
#pragma once
// Reads a written .msg file back with @kenjiuno/msgreader, the reader the .msg writer is checked against.

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <gtest/gtest.h>

#include <optional>

namespace quillbox::test {

/// What @kenjiuno/msgreader reads from `path`; nothing, with a test failure that says why, when node
/// or the reader is missing or the reader gives up.
inline std::optional<QJsonObject> readWithMsgReader(const QString& path)
{
    const QString node = QStandardPaths::findExecutable(QStringLiteral("node"));
    if (node.isEmpty()) {
        ADD_FAILURE() << "node is not installed; the .msg files cannot be read back (run scripts/setup.sh)";
        return std::nullopt;
    }
    QProcess process;
    process.start(node, { QStringLiteral(SOURCE_DIR "/tests/support/readmsg.js"), path });
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        const QString err = QString::fromUtf8(process.readAllStandardError());
        ADD_FAILURE() << "tests/support/readmsg.js failed"
                      << (err.contains(QLatin1String("Cannot find module"))
                                 ? " (@kenjiuno/msgreader is not installed in tests/node_modules: run scripts/setup.sh)"
                                 : "")
                      << ": " << qPrintable(err);
        return std::nullopt;
    }
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(process.readAllStandardOutput(), &parseError);
    if (!doc.isObject()) {
        ADD_FAILURE() << "readmsg.js printed no JSON object: " << qPrintable(parseError.errorString());
        return std::nullopt;
    }
    return doc.object();
}

} // namespace quillbox::test

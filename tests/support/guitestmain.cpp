// SPDX-License-Identifier: MIT
// The main() of the widget tests: Qt's offscreen platform unless another is asked for.
#include <QApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "support/testenv.h"

int main(int argc, char** argv)
{
    quillbox::test::setFixedEnvironment();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // What the windows remember between runs stays inside the test's own folder.
    const QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

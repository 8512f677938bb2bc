// SPDX-License-Identifier: MIT
// The main() of every core test: a QCoreApplication (for the executable's folder and
// Qt's locale and time-zone data) around GoogleTest.
#include <QCoreApplication>
#include <gtest/gtest.h>

#include "support/testenv.h"

int main(int argc, char** argv)
{
    quillbox::test::setFixedEnvironment();
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

// SPDX-License-Identifier: MIT
// Start-up: reads the command line and runs the program. Filled in step by step.
#include <QCoreApplication>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    return 0;
}

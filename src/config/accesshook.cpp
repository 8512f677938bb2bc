// SPDX-License-Identifier: MIT
#include "config/accesshook.h"

#include "core/commandline.h"

#include <QProcess>

namespace quillbox {

namespace {
Status runAccess(const AccessSettings& access, const QString& arguments)
{
    if (access.program.isEmpty())
        return success();
    return startDetached(accessCommandLine(access.program, arguments));
}
} // namespace

Status startDetached(const QString& commandLine)
{
    CommandLine tokens;
    tokens.setText(commandLine);
    if (tokens.argc == 0)
        return Error { Error::Code::Invalid, commandLine, QStringLiteral("no program named") };
    QStringList arguments;
    for (int i = 1; i < tokens.argc; ++i)
        arguments << tokens.arg(i).value();

    QProcess process;
    process.setProgram(tokens.arg(0).value());
    process.setArguments(arguments);
    if (!process.startDetached())
        return Error { Error::Code::NotFound, process.program(), process.errorString() };
    return success();
}

Status runAllowAccess(const AccessSettings& access)
{
    return runAccess(access, access.allowArguments);
}

Status runDisallowAccess(const AccessSettings& access)
{
    return runAccess(access, access.disallowArguments);
}

} // namespace quillbox

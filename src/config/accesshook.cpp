// SPDX-License-Identifier: MIT
#include "config/accesshook.h"

#include "core/tokenizer.h"

#include <QProcess>

namespace quillbox {

namespace {
Status runAccess(const AccessSettings& access, const QString& arguments)
{
    if (access.program.isEmpty())
        return success();
    return StartDetached(AccessCommandLine(access.program, arguments));
}
} // namespace

Status StartDetached(const QString& commandLine)
{
    clsCmdline tokens;
    tokens.setCmdline(commandLine);
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

Status RunAllowAccess(const AccessSettings& access)
{
    return runAccess(access, access.allowArguments);
}

Status RunDisallowAccess(const AccessSettings& access)
{
    return runAccess(access, access.disallowArguments);
}

} // namespace quillbox

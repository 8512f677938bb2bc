// SPDX-License-Identifier: MIT
#pragma once
// Starting the access program: the outside program named in the registry that is told before and after
// each search and save run that the mail store is about to be used, and that it is no longer used.

#include "config/registry.h"
#include "core/result.h"

#include <QString>

namespace quillbox {

/// Starts the program of `commandLine` and returns at once, without waiting for it and without a shell.
/// The line is split like the program's own command line (CommandLine): the first token, its quotes
/// removed, is the program; the others, each with its quotes removed, are its arguments (up to 19).
/// Error (Code::NotFound, the program as path) when nothing could be started; Code::Invalid for a line
/// without a token.
Status startDetached(const QString& commandLine);

/// Starts the access program with the allow arguments (accessCommandLine). With no access program
/// configured nothing is started and the result is success.
Status runAllowAccess(const AccessSettings& access);

/// The same with the disallow arguments.
Status runDisallowAccess(const AccessSettings& access);

} // namespace quillbox

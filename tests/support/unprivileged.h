// SPDX-License-Identifier: MIT
#pragma once
// Parts of tests that need file permissions to bind: root reads and writes files whatever their modes say,
// and the tests run as root in CI.

#include <QStringList>
#include <functional>

namespace quillbox::test {

/// Runs `part` as a user whom file permissions bind. When this process is not root, here and at once. As
/// root, in a child process that has become the user nobody (uid and gid 65534), after the folders `owned`
/// and everything in them have been given to that user (so build in them what the part needs first). The
/// part's assertions report as usual; the test fails when the part failed or could not be run.
void runUnprivileged(const QStringList& owned, const std::function<void()>& part);

} // namespace quillbox::test

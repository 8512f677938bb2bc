// SPDX-License-Identifier: MIT
#include "support/unprivileged.h"

#include <QFile>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ftw.h>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

namespace quillbox::test {

namespace {

constexpr uid_t kNobody = 65534;

int giveToNobody(const char* path, const struct stat*, int, FTW*)
{
    return ::lchown(path, kNobody, kNobody);
}

} // namespace

void runUnprivileged(const QStringList& owned, const std::function<void()>& part)
{
    if (::geteuid() != 0) {
        part();
        return;
    }
    for (const QString& folder : owned)
        ASSERT_EQ(::nftw(QFile::encodeName(folder).constData(), giveToNobody, 16, FTW_PHYS), 0)
            << folder.toStdString() << ": " << std::strerror(errno);
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0) << "fork: " << std::strerror(errno);
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setresgid(kNobody, kNobody, kNobody) != 0
            || ::setresuid(kNobody, kNobody, kNobody) != 0) {
            std::perror("becoming the user nobody");
            std::_Exit(2);
        }
        part();
        std::fflush(stdout);
        std::fflush(stderr);
        std::_Exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "the part run as the user nobody failed (wait status " << status << "); its output is above";
}

} // namespace quillbox::test

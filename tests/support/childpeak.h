// SPDX-License-Identifier: MIT
#pragma once
// The peak memory of a piece of work, measured in a child process so that it is the work's own.

#include <QtGlobal>

#include <functional>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace quillbox::test {

// How far the peak memory of a child process grows while it runs `run`, in bytes, after `warmUp` has brought
// in the code and the allocator's first blocks; -1 when `run` fails.
inline qint64 peakGrowthInChild(const std::function<void()>& warmUp, const std::function<bool()>& run)
{
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return -1;
    const pid_t child = ::fork();
    if (child == 0) {
        warmUp();
        rusage before {}, after {};
        ::getrusage(RUSAGE_SELF, &before);
        const bool ok = run();
        ::getrusage(RUSAGE_SELF, &after);
        const qint64 growth = ok ? qint64(after.ru_maxrss - before.ru_maxrss) * 1024 : -1;
        const bool sent = ::write(pipeFds[1], &growth, sizeof growth) == sizeof growth;
        ::_exit(sent ? 0 : 1);
    }
    ::close(pipeFds[1]);
    qint64 growth = -1;
    if (child < 0 || ::read(pipeFds[0], &growth, sizeof growth) != sizeof growth)
        growth = -1;
    ::close(pipeFds[0]);
    if (child > 0)
        ::waitpid(child, nullptr, 0);
    return growth;
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif
#else
constexpr bool kAddressSanitizer = false;
#endif

} // namespace quillbox::test

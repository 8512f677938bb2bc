// SPDX-License-Identifier: MIT
// Feeds arbitrary text to the command-line tokenizer and checks what must hold for every input:
// the token count stays within 0..20, stored tokens are never empty, unused places read empty,
// indices outside the store are refused, and the arguments split off the input at NUL bytes come
// back unchanged through JoinArguments and the tokenizer.
#include "app/cmdline.h"

#include <cstdint>
#include <cstdlib>

using quillbox::clsCmdline;

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));

    clsCmdline cmdline;
    cmdline.setCmdline(QString::fromUtf8(bytes));
    check(cmdline.argc >= 0 && cmdline.argc <= clsCmdline::kMaxTokens);
    for (int i = 0; i < clsCmdline::kMaxTokens; ++i) {
        const QString token = cmdline.argv(i).value();
        check(i < cmdline.argc ? !token.isEmpty() : token.isEmpty());
        check(cmdline.arg(i).value() == clsCmdline::RmQuotes(token));
    }
    check(!cmdline.argv(-1).ok() && !cmdline.argv(clsCmdline::kMaxTokens).ok());

    QStringList args;
    for (const QByteArray& part : bytes.split('\0'))
        args << QString::fromLocal8Bit(part);
    args = args.mid(0, clsCmdline::kMaxTokens);
    cmdline.setCmdline(quillbox::JoinArguments(args));
    check(cmdline.argc == args.size());
    for (int i = 0; i < cmdline.argc; ++i)
        check(cmdline.arg(i).value() == args[i]);
    return 0;
}

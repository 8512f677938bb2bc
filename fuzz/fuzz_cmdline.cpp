// SPDX-License-Identifier: MIT
// Feeds arbitrary text to the command-line tokenizer and checks what must hold for every input:
// the token count stays within 0..20, stored tokens are never empty, unused places read empty,
// indices outside the store are refused, and the arguments split off the input at NUL bytes come
// back unchanged through joinArguments and the tokenizer. Read as a start-up state, no token is lost, and
// the GNU spellings either refuse in words or leave a request that can be answered.
#include "app/startup.h"
#include "fuzzcheck.h"

#include <cstdint>
#include <cstdlib>

using quillbox::CommandLine;
using quillbox::fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));

    CommandLine cmdline;
    cmdline.setText(QString::fromUtf8(bytes));
    check(cmdline.argc >= 0 && cmdline.argc <= CommandLine::kMaxTokens);
    for (int i = 0; i < CommandLine::kMaxTokens; ++i) {
        const QString token = cmdline.argv(i).value();
        check(i < cmdline.argc ? !token.isEmpty() : token.isEmpty());
        check(cmdline.arg(i).value() == CommandLine::removeQuotes(token));
    }
    check(!cmdline.argv(-1).ok() && !cmdline.argv(CommandLine::kMaxTokens).ok());

    const quillbox::StartupState state = quillbox::readCommandLine(QString::fromUtf8(bytes));
    check(state.positional.size() <= cmdline.argc && state.discardedTokens == cmdline.discarded);
    check(state.wrongUse.isEmpty() || state.wrongUse.startsWith(QLatin1String("the option --"))
        || state.wrongUse.startsWith(QLatin1String("unknown option --")));
    check(state.request != quillbox::Request::ListFolders || !state.listedStore.isEmpty());

    QStringList args;
    for (const QByteArray& part : bytes.split('\0'))
        args << QString::fromLocal8Bit(part);
    args = args.mid(0, CommandLine::kMaxTokens);
    cmdline.setText(quillbox::joinArguments(args));
    check(cmdline.argc == args.size());
    for (int i = 0; i < cmdline.argc; ++i)
        check(cmdline.arg(i).value() == args[i]);
    return 0;
}

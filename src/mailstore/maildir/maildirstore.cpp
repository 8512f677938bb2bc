// SPDX-License-Identifier: MIT
#include "mailstore/maildir/maildirstore.h"

namespace quillbox::mail {

Result<std::unique_ptr<Store>> openMaildirStore(const QString &name, const QString &rootDir)
{
    Q_UNUSED(name);
    return Error { Error::Code::NotAStore, rootDir, QStringLiteral("the Maildir backend is not built yet") };
}

} // namespace quillbox::mail

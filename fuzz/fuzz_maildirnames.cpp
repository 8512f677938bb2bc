// SPDX-License-Identifier: MIT
// Feeds arbitrary bytes to the readers of names in a Maildir tree and checks what must hold for every input:
// - decodeModifiedUtf7 reads a name without "&" as its UTF-8;
// - folderNamesOf gives at least one name, none empty;
// - splitMessageName's unique part is the start of the file name, and the flags follow ":2," (or ";2,")
//   at its end;
// - an entry identifier decodes to a reference that encodes to the same identifier (but for the case of
//   its hex digits, and a store name that is no UTF-8), and an identifier built from the input's fields
//   either decodes to them or is refused.
#include "fuzzcheck.h"
#include "mail/maildir/maildirnames.h"

#include <cstdint>
#include <cstdlib>

using namespace quillbox::mail::maildir;
using quillbox::fuzz::check;

namespace {

bool sameRef(const EntryRef& a, const EntryRef& b)
{
    return a.store == b.store && a.folderDir == b.folderDir && a.subdir == b.subdir && a.fileName == b.fileName;
}

// An identifier that decodes names what it names again once encoded (a store name that is no UTF-8 is
// read with replacement characters, so the identifier itself may change).
void checkEntryID(const QString& entryID)
{
    const auto ref = decodeEntryID(entryID);
    if (!ref)
        return;
    const QString encoded = encodeEntryID(*ref);
    const auto again = decodeEntryID(encoded);
    check(again && sameRef(*again, *ref) && again->unique == ref->unique);
    if (ref->store.toUtf8() == QByteArray::fromHex(entryID.toLatin1()).split('\0').value(1))
        check(encoded.compare(entryID, Qt::CaseInsensitive) == 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const QString name = decodeModifiedUtf7(bytes);
    if (!bytes.contains('&'))
        check(name == QString::fromUtf8(bytes));
    if (bytes != ".") // the directory itself, never a folder's entry
        for (const QString& folder : folderNamesOf(bytes))
            check(!folder.isEmpty() || bytes.isEmpty());

    const MessageName message = splitMessageName(bytes);
    check(bytes.startsWith(message.unique));
    if (!message.flags.isEmpty())
        check(bytes.endsWith(message.flags) && bytes.sliced(message.unique.size() + 1).startsWith("2,"));

    checkEntryID(QString::fromLatin1(bytes));
    const QList<QByteArray> fields = bytes.split('\n');
    if (fields.size() >= 4) {
        const EntryRef ref { QString::fromUtf8(fields[0]), fields[1], {}, fields[2], fields[3] };
        const QString entryID = encodeEntryID(ref);
        const auto back = decodeEntryID(entryID);
        if (back)
            check(sameRef(*back, ref));
        checkEntryID(entryID);
    }
    return 0;
}

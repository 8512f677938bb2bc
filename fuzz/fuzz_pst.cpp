// SPDX-License-Identifier: MIT
// Feeds arbitrary Outlook data files to the PST backend: each input is written to a file and opened as a
// store, its folders are walked and listed, and every item listed is read whole (bodies, recipients,
// details, attachments with their names and types, and attached items). Nothing but the absence of
// crashes, hangs and sanitizer reports is checked, with two exceptions that must hold for every file: an
// item listed is owned by the store that listed it, and the entry identifiers of the store and of one of
// its nodes decode back to that node.
#include "fuzzcheck.h"
#include "mail/pst/properties.h"
#include "mail/pst/pststore.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>

using namespace quillbox;
using quillbox::fuzz::check;
using namespace quillbox::mail;

namespace {

constexpr int kMaxItems = 200; // per input, so that a file of many items stays quick

void readItem(const MailItem& item, int depth)
{
    (void)item.senderName();
    (void)item.recipients();
    (void)item.plainBody();
    (void)item.htmlBody();
    (void)item.rtfBody();
    (void)item.transportHeaders();
    (void)item.details(); // the named properties (categories) too
    const auto attachments = item.attachments();
    if (!attachments.ok() || depth > 2)
        return;
    for (const auto& attachment : *attachments) {
        (void)attachment->fileName(); // an OLE object's picture is looked for here
        (void)attachment->mimeType();
        (void)attachment->data();
        if (const auto embedded = attachment->embeddedMessage())
            readItem(*embedded, depth + 1);
    }
}

void walkFolder(Store& store, const Folder& folder, Walk& walk, int& items, int depth)
{
    (void)folder.folderPath();
    (void)folder.items(
        [&](const ItemSummary& summary) {
            if (++items > kMaxItems)
                return;
            check(store.owns(summary.entryID));
            if (const auto item = store.item(summary.entryID); item.ok())
                readItem(**item, 0);
        },
        walk);
    const auto folders = folder.folders(walk);
    if (!folders.ok() || depth > 20)
        return;
    for (const auto& child : *folders)
        walkFolder(store, *child, walk, items, depth + 1);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/quillbox-fuzz-XXXXXX"));
    const QString path = dir.filePath(QStringLiteral("fuzz.pst"));
    QFile file(path);
    check(file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        && file.write(reinterpret_cast<const char*>(data), qint64(size)) == qint64(size));
    file.close();

    const QByteArray recordKey(reinterpret_cast<const char*>(data), qsizetype(std::min<std::size_t>(size, 16)));
    check(pst::nodeOfEntryID(pst::entryIDOf(recordKey, 0x200024), recordKey) == 0x200024u);
    (void)pst::nodeOfEntryID(QString::fromLatin1(reinterpret_cast<const char*>(data), qsizetype(size)), recordKey);

    auto store = openPstStore(QStringLiteral("Fuzz"), path);
    if (!store.ok())
        return 0;
    (void)(*store)->item(QStringLiteral("00000000"));
    const auto top = (*store)->topFolder();
    if (!top.ok())
        return 0;
    Walk walk;
    int items = 0;
    walkFolder(**store, **top, walk, items, 0);
    return 0;
}

// SPDX-License-Identifier: MIT
#include "app/listing.h"

#include "app/headlessperson.h"

namespace quillbox {

namespace {

void addFolders(const mail::Folder& folder, mail::Walk& walk, Listing& listing)
{
    listing.lines << folder.folderPath();
    auto children = folder.folders(walk);
    if (!children) {
        listing.problems << children.error().describe();
        return;
    }
    for (const auto& child : *children)
        addFolders(*child, walk, listing);
}

} // namespace

Listing listStores(const mail::Namespace& ns)
{
    Listing listing;
    for (const auto& store : ns.stores())
        listing.lines << QStringList { store->name(), store->kind(), store->location() }.join(u'\t');
    for (const Error& failure : ns.failures())
        listing.problems << failure.describe();
    for (const auto& [name, why] : ns.foundFailures())
        listing.notes << foundStoreNotOpened(name, why);
    return listing;
}

Listing listFolders(const mail::Namespace& ns, const QString& store)
{
    Listing listing;
    const QString name = store.startsWith(QLatin1String("\\\\")) ? store.mid(2) : store;
    auto top = ns.topFolder(name);
    if (!top) {
        listing.problems << top.error().describe();
        return listing;
    }
    mail::Walk walk([&listing](mail::Walk::Skip kind, const Error& why) {
        if (kind == mail::Walk::Skip::Folder)
            listing.problems << why.describe();
    });
    addFolders(**top, walk, listing);
    return listing;
}

QString foundStoreNotOpened(const QString& name, const Error& why)
{
    return QStringLiteral("The store \"%1\" found on this computer cannot be opened: %2").arg(name, why.describe());
}

int writeListing(const Listing& listing, std::FILE* out, std::FILE* err)
{
    for (const QString& line : listing.lines)
        writeText(out, line + u'\n');
    for (const QString& problem : listing.problems + listing.notes)
        writeProgramLine(err, problem);
    return listing.status();
}

} // namespace quillbox

// SPDX-License-Identifier: MIT
// Folder paths, and the namespace and profile they are resolved against.
#include "mail/folderpath.h"

#include "mail/profile.h"
#include "support/fakestore.h"
#include "support/scriptedperson.h"
#include "support/testenv.h"
#include "support/testfiles.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace quillbox;
using namespace quillbox::test;

namespace {

FakeFolder folder(const QString& name, std::vector<FakeFolder> below = {})
{
    FakeFolder f;
    f.name = name;
    f.folders = std::move(below);
    return f;
}

// "Mailbox" holds "Inbox" and "Inbox " side by side, and a folder with an empty name that itself holds
// an "Inbox": an empty name in a path must not reach it.
const FakeFolder kMailbox = folder(QStringLiteral("Mailbox"),
    { folder(QStringLiteral("Inbox"), { folder(QStringLiteral("Sub")) }), folder(QStringLiteral("Inbox ")),
        folder(QString(), { folder(QStringLiteral("Inbox")) }) });
const FakeFolder kArchive = folder(QStringLiteral("Archive"), { folder(QStringLiteral("Inbox")) });

// The FolderPath of the folder `path` resolves to ("" for none); what the person was told goes to `told`.
QString resolved(const mail::Namespace& ns, const QString& path, QStringList* told = nullptr)
{
    ScriptedPerson person;
    const auto found = getFolderFromPath(person, ns, path);
    if (told)
        *told = person.messages();
    return found ? found->folderPath() : QString();
}

} // namespace

TEST(getFolderFromPath, ResolvesOrRejects)
{
    struct Case {
        const char* why;
        QString path, folder; // the FolderPath of the folder found; empty for none
    };
    const Case found[] = {
        { "store only names its top-level folder", R"(\\Mailbox)", R"(\\Mailbox)" },
        { "one level down", R"(\\Mailbox\Inbox)", R"(\\Mailbox\Inbox)" },
        { "two levels down", R"(\\Mailbox\Inbox\Sub)", R"(\\Mailbox\Inbox\Sub)" },
        { "second store", R"(\\Archive\Inbox)", R"(\\Archive\Inbox)" },
        { "one trailing backslash is ignored", R"(\\Mailbox\Inbox\)", R"(\\Mailbox\Inbox)" },
        { "store with trailing backslash", R"(\\Mailbox\)", R"(\\Mailbox)" },
        { "names match without regard to case", R"(\\mailbox\INBOX\sub)", R"(\\Mailbox\Inbox\Sub)" },
        { "a trailing space belongs to the name", R"(\\Mailbox\Inbox )", R"(\\Mailbox\Inbox )" },
        { "double separator is an empty name", R"(\\Mailbox\\Inbox)", "" },
        { "two trailing backslashes end in an empty name", R"(\\Mailbox\Inbox\\)", "" },
        { "third leading backslash is an empty store name", R"(\\\Mailbox)", "" },
        { "nothing after the two backslashes", R"(\\)", "" },
        { "unknown store", R"(\\Nowhere)", "" },
        { "unknown folder", R"(\\Mailbox\Outbox)", "" },
        { "unknown folder below a known one", R"(\\Mailbox\Inbox\Sub\Deeper)", "" },
        { "a space after the store name belongs to it", R"(\\Mailbox \Inbox)", "" },
    };
    const mail::Namespace ns = fakeNamespace({ &kMailbox, &kArchive });
    QStringList told;
    for (const Case& c : found) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ(resolved(ns, c.path, &told), c.folder);
        EXPECT_EQ(told, QStringList());
    }
    // A path that does not start with two backslashes is refused with a message.
    for (const char* path :
        { R"(Mailbox\Inbox)", R"(\Mailbox\Inbox)", R"( \\Mailbox)", "", R"(\)", "//Mailbox/Inbox" }) {
        EXPECT_EQ(resolved(ns, QString::fromUtf8(path), &told), QString()) << path;
        EXPECT_EQ(told, QStringList { QStringLiteral("Error: folder path should start with \\\\") });
    }
    EXPECT_EQ(resolved(mail::Namespace::fromStores({}), QStringLiteral(R"(\\Mailbox)"), &told), QString());
    EXPECT_TRUE(told.isEmpty()) << "no stores: nothing is found, quietly";
}

TEST(OpenStore, RefusesWhatIsNoStore)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    writeFile(dir.filePath("notes.txt"), "!BD not quite"); // no Outlook signature
    writeFile(dir.filePath("empty"), {});
    const std::pair<const char*, Error::Code> cases[] = { { "notes.txt", Error::Code::NotAStore },
        { "empty", Error::Code::NotAStore }, { "gone", Error::Code::NotFound } };
    for (const auto& [name, code] : cases) {
        auto store = mail::openStore(QStringLiteral("Name"), dir.filePath(name));
        ASSERT_FALSE(store) << name;
        EXPECT_EQ(store.error().code, code) << name;
        EXPECT_EQ(store.error().path, dir.filePath(name));
    }
}

TEST(Namespace, FindsStoresWithoutRegardToCase)
{
    const mail::Namespace ns = fakeNamespace({ &kMailbox, &kArchive });
    auto top = ns.topFolder(QStringLiteral("ARCHIVE"));
    ASSERT_TRUE(top);
    EXPECT_EQ((*top)->folderPath(), QStringLiteral(R"(\\Archive)"));
    EXPECT_EQ(ns.topFolder(QStringLiteral("Archiv")).error().code, Error::Code::NotFound);
    EXPECT_FALSE(ns.topFolder(QString()));
    EXPECT_EQ(ns.getItemFromID(QStringLiteral("00AB")).error().code, Error::Code::NotFound);
}

TEST(Profile, ReadsTheStoresSection)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString profile = dir.filePath("profile.ini");
    writeFile(profile,
        "\xEF\xBB\xBF[Other]\nElsewhere=/not/this\n[ stores ]\r\n; Work=/commented/out\n"
        "  Home Mail =  /srv/mail/home  \r\nQuoted=\"/srv/with space \"\nRelative=maildirs/archive\n=/no/name\n"
        "Empty=\njust a line\n[After]\nLate=/not/this/either\n");
    auto stores = mail::readProfileStores(profile);
    ASSERT_TRUE(stores);
    const QList<std::pair<QString, QString>> expected { { "Home Mail", "/srv/mail/home" },
        { "Quoted", "/srv/with space " }, { "Relative", dir.filePath("maildirs/archive") } };
    EXPECT_EQ(*stores, expected);
}

TEST(Profile, StoresThatCannotBeOpenedAreLeftOutWithTheReason)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ASSERT_TRUE(QDir(dir.path()).mkpath("Mail/cur"));
    ASSERT_TRUE(QDir(dir.path()).mkpath("Old/new"));
    writeFile(dir.filePath("notes.txt"), "not a store");
    writeFile(dir.filePath("profile.ini"),
        "[Stores]\nNotes=notes.txt\nHome=Mail\nGone=/nonexistent/quillbox/store\nOld Mail=Old\n");
    const ScopedEnv env = programFilesIn(dir.path());
    const mail::Namespace ns = mail::Namespace::fromProfile();
    ASSERT_EQ(ns.stores().size(), 2u);
    EXPECT_EQ(ns.stores()[0]->name(), QStringLiteral("Home"));
    EXPECT_EQ(ns.stores()[1]->name(), QStringLiteral("Old Mail"));
    EXPECT_TRUE(ns.topFolder(QStringLiteral("old mail")));
    ASSERT_EQ(ns.failures().size(), 2);
    EXPECT_EQ(ns.failures()[0].path, dir.filePath("notes.txt"));
    EXPECT_EQ(ns.failures()[0].code, Error::Code::NotAStore);
    EXPECT_EQ(ns.failures()[1].code, Error::Code::NotFound);
}

TEST(Profile, WithoutAProfileFileTheSampleStoreIsOpened)
{
    const QString sample = QStringLiteral(SOURCE_DIR "/samples/Sample Mailbox");
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const ScopedEnv env = programFilesIn(dir.path()); // no profile.ini there
    const ScopedEnv nothingFound { { "HOME", dir.path() }, { "XDG_DATA_HOME", dir.path() }, { "MAIL", QString() } };
    const mail::Namespace ns = mail::Namespace::fromProfile();
    ASSERT_EQ(ns.stores().size(), 1u) << (ns.failures().isEmpty() ? "" : ns.failures()[0].describe().toStdString());
    EXPECT_EQ(ns.stores()[0]->name(), QStringLiteral("Sample Mailbox"));
    EXPECT_EQ(QFileInfo(ns.stores()[0]->location()).canonicalFilePath(), QFileInfo(sample).canonicalFilePath());
}

namespace {

void collectPaths(const mail::Folder& folder, QStringList& paths)
{
    paths << folder.folderPath();
    auto children = folder.folders();
    ASSERT_TRUE(children) << children.error().describe().toStdString();
    for (const auto& child : *children)
        collectPaths(*child, paths);
}

} // namespace

TEST(SampleStore, FolderTreeAndPathsIntoIt)
{
    const mail::Namespace ns = mail::Namespace::fromStores(
        { { QStringLiteral("Sample Mailbox"), QStringLiteral(SOURCE_DIR "/samples/Sample Mailbox") } });
    const QString s = QStringLiteral(R"(\\Sample Mailbox)");
    auto top = ns.topFolder(QStringLiteral("Sample Mailbox"));
    ASSERT_TRUE(top);
    QStringList paths;
    collectPaths(**top, paths);
    paths.sort();
    EXPECT_EQ(paths,
        (QStringList { s, s + R"(\Archive)", s + R"(\Archive\2012)", s + R"(\Archive\2020)", s + R"(\Drafts)",
            s + R"(\Entwürfe)", s + R"(\Inbox)", s + R"(\Projects)", s + R"(\Projects\Garden Club)",
            s + R"(\Projects\Quillbox)", s + R"(\Projects\Quillbox\2019)", s + R"(\R&D)", s + R"(\Sent)" }));

    const std::pair<QString, QString> cases[]
        = { { R"(\\sample mailbox\PROJECTS\garden club\)", s + R"(\Projects\Garden Club)" }, // any case, a trailing '\'
              { R"(\\Sample Mailbox\Archive\2012)", s + R"(\Archive\2012)" }, // a Maildir++ level
              { R"(\\Sample Mailbox\entwürfe)", s + R"(\Entwürfe)" }, // a name decoded from modified UTF-7
              { R"(\\Sample Mailbox\Inbox)", s + R"(\Inbox)" }, // the root's own messages
              { R"(\\Sample Mailbox\Archive\2013)", QString() }, { s, s } };
    QStringList told;
    for (const auto& [path, folder] : cases) {
        EXPECT_EQ(resolved(ns, path, &told), folder) << path.toStdString();
        EXPECT_TRUE(told.isEmpty());
    }
}

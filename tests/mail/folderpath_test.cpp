// SPDX-License-Identifier: MIT
// Folder paths, and the namespace and profile they are resolved against.
#include "mail/folderpath.h"

#include "mail/profile.h"
#include "support/fakestore.h"
#include "support/scriptedperson.h"
#include "support/testfiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace quillbox;
using namespace quillbox::test;

namespace {

const QString kStartMessage = QStringLiteral("Error: folder path should start with \\\\");

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

// Points QUILLBOX_PROFILE at a file for the life of the object.
class ProfileEnvironment {
public:
    explicit ProfileEnvironment(const QString& path)
        : m_old(qgetenv("QUILLBOX_PROFILE"))
    {
        qputenv("QUILLBOX_PROFILE", path.toUtf8());
    }
    ~ProfileEnvironment()
    {
        if (m_old.isEmpty())
            qunsetenv("QUILLBOX_PROFILE");
        else
            qputenv("QUILLBOX_PROFILE", m_old);
    }

private:
    QByteArray m_old;
};

} // namespace

TEST(getFolderFromPath, ResolvesOrRejects)
{
    struct Case {
        const char* why;
        QString path;
        QString folder; // the FolderPath of the folder found; empty for none
        bool startMessage;
    };
    const Case cases[] = {
        { "store only names its top-level folder", R"(\\Mailbox)", R"(\\Mailbox)", false },
        { "one level down", R"(\\Mailbox\Inbox)", R"(\\Mailbox\Inbox)", false },
        { "two levels down", R"(\\Mailbox\Inbox\Sub)", R"(\\Mailbox\Inbox\Sub)", false },
        { "second store", R"(\\Archive\Inbox)", R"(\\Archive\Inbox)", false },
        { "one trailing backslash is ignored", R"(\\Mailbox\Inbox\)", R"(\\Mailbox\Inbox)", false },
        { "store with trailing backslash", R"(\\Mailbox\)", R"(\\Mailbox)", false },
        { "names match without regard to case", R"(\\mailbox\INBOX\sub)", R"(\\Mailbox\Inbox\Sub)", false },
        { "a trailing space belongs to the name", R"(\\Mailbox\Inbox )", R"(\\Mailbox\Inbox )", false },
        { "double separator is an empty name", R"(\\Mailbox\\Inbox)", QString(), false },
        { "two trailing backslashes end in an empty name", R"(\\Mailbox\Inbox\\)", QString(), false },
        { "third leading backslash is an empty store name", R"(\\\Mailbox)", QString(), false },
        { "nothing after the two backslashes", R"(\\)", QString(), false },
        { "unknown store", R"(\\Nowhere)", QString(), false },
        { "unknown folder", R"(\\Mailbox\Outbox)", QString(), false },
        { "unknown folder below a known one", R"(\\Mailbox\Inbox\Sub\Deeper)", QString(), false },
        { "a space after the store name belongs to it", R"(\\Mailbox \Inbox)", QString(), false },
        { "no leading backslashes", R"(Mailbox\Inbox)", QString(), true },
        { "one leading backslash", R"(\Mailbox\Inbox)", QString(), true },
        { "a space before the backslashes", R"( \\Mailbox)", QString(), true },
        { "empty text", QString(), QString(), true },
        { "a single backslash", R"(\)", QString(), true },
        { "forward slashes", "//Mailbox/Inbox", QString(), true },
    };
    const mail::Namespace ns = fakeNamespace({ &kMailbox, &kArchive });
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        ScriptedPerson person;
        const auto found = getFolderFromPath(person, ns, c.path);
        EXPECT_EQ(found ? found->folderPath() : QString(), c.folder);
        EXPECT_EQ(person.messages(), c.startMessage ? QStringList { kStartMessage } : QStringList());
    }
}

TEST(getFolderFromPath, NoStoresResolvesNothingQuietly)
{
    ScriptedPerson person;
    EXPECT_EQ(getFolderFromPath(person, mail::Namespace::fromStores({}), QStringLiteral(R"(\\Mailbox)")), nullptr);
    EXPECT_TRUE(person.messages().isEmpty());
}

TEST(OpenStore, RefusesWhatIsNoStore)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    writeFile(dir.filePath("notes.txt"), "!BD not quite");
    writeFile(dir.filePath("empty"), {});

    struct Case {
        const char* why;
        QString location;
        Error::Code code;
    };
    const Case cases[] = {
        { "a file without the Outlook signature", dir.filePath("notes.txt"), Error::Code::NotAStore },
        { "an empty file", dir.filePath("empty"), Error::Code::NotAStore },
        { "nothing there", dir.filePath("gone"), Error::Code::NotFound },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        auto store = mail::openStore(QStringLiteral("Name"), c.location);
        ASSERT_FALSE(store);
        EXPECT_EQ(store.error().code, c.code);
        EXPECT_EQ(store.error().path, c.location);
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
        "\xEF\xBB\xBF[Other]\n"
        "Elsewhere=/not/this\n"
        "[ stores ]\r\n"
        "; Work=/commented/out\n"
        "  Home Mail =  /srv/mail/home  \r\n"
        "Quoted=\"/srv/with space \"\n"
        "Relative=maildirs/archive\n"
        "=/no/name\n"
        "Empty=\n"
        "just a line\n"
        "[After]\n"
        "Late=/not/this/either\n");
    auto stores = mail::readProfileStores(profile);
    ASSERT_TRUE(stores);
    const QList<std::pair<QString, QString>> expected {
        { "Home Mail", "/srv/mail/home" },
        { "Quoted", "/srv/with space " },
        { "Relative", dir.filePath("maildirs/archive") },
    };
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
    const ProfileEnvironment env(dir.filePath("profile.ini"));
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
    if (!QFileInfo(sample).isDir())
        GTEST_SKIP() << "no sample store in the source tree";
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const ProfileEnvironment env(dir.filePath("no-profile.ini"));
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
    ScriptedPerson person;
    const auto top = getFolderFromPath(person, ns, QStringLiteral(R"(\\Sample Mailbox)"));
    ASSERT_TRUE(top);
    QStringList paths;
    collectPaths(*top, paths);
    paths.sort();
    const QString s = QStringLiteral(R"(\\Sample Mailbox)");
    EXPECT_EQ(paths,
        (QStringList { s, s + R"(\Archive)", s + R"(\Archive\2012)", s + R"(\Archive\2020)", s + R"(\Drafts)",
            s + R"(\Entwürfe)", s + R"(\Inbox)", s + R"(\Projects)", s + R"(\Projects\Garden Club)",
            s + R"(\Projects\Quillbox)", s + R"(\Projects\Quillbox\2019)", s + R"(\R&D)", s + R"(\Sent)" }));

    struct Case {
        const char* why;
        QString path;
        QString folder;
    };
    const Case cases[] = {
        { "any case, a space in a name, a trailing backslash", R"(\\sample mailbox\PROJECTS\garden club\)",
            s + R"(\Projects\Garden Club)" },
        { "a Maildir++ level", R"(\\Sample Mailbox\Archive\2012)", s + R"(\Archive\2012)" },
        { "a name decoded from modified UTF-7", R"(\\Sample Mailbox\entwürfe)", s + R"(\Entwürfe)" },
        { "the root's own messages", R"(\\Sample Mailbox\Inbox)", s + R"(\Inbox)" },
        { "no such level", R"(\\Sample Mailbox\Archive\2013)", QString() },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        const auto found = getFolderFromPath(person, ns, c.path);
        EXPECT_EQ(found ? found->folderPath() : QString(), c.folder);
    }
    EXPECT_TRUE(person.messages().isEmpty());
}

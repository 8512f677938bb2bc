// SPDX-License-Identifier: MIT
// Finding the mail on this computer, with HOME in a temporary folder holding each layout that mail
// clients leave, and the namespace that adds what was found to the profile's stores.
#include "mail/discovery.h"
#include "mail/store.h"
#include "support/qtprinters.h"
#include "support/storewalk.h"
#include "support/testenv.h"
#include "support/testfiles.h"

#include <QDateTime>
#include <QDirIterator>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <functional>
#include <unistd.h>

using namespace quillbox;
using mail::FoundStore;
using quillbox::test::copyTree;
using quillbox::test::writeFile;

namespace {

const QString kSampleHome = QStringLiteral(SOURCE_DIR "/samples/thunderbird-home");
const QByteArray kMessage = "From a@example.org Thu Mar  5 10:00:00 2026\nSubject: hello\n\nbody\n";

void makeProfile(const QString& dir, const QByteArray& prefs)
{
    writeFile(dir + QLatin1String("/prefs.js"), prefs);
}

void link(const QString& target, const QString& at)
{
    ASSERT_EQ(::symlink(QFile::encodeName(target).constData(), QFile::encodeName(at).constData()), 0);
}

// Every file under `dir` with its size and modification time, and the directories: what a reader must
// leave as it found it.
QStringList snapshot(const QString& dir)
{
    QStringList entries;
    QDirIterator it(
        dir, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        entries << info.filePath() + u' ' + QString::number(info.size()) + u' '
                + QString::number(info.lastModified().toMSecsSinceEpoch());
    }
    entries.sort();
    return entries;
}

} // namespace

TEST(Discovery, FindsEachLayoutUnderHome)
{
    struct Case {
        const char* why;
        std::function<void(const QString& home)> make;
        QList<FoundStore> expected; // locations relative to home
    };
    const QString tb = QStringLiteral(".thunderbird/k3x9.default-release");
    const Case cases[] = {
        { "the sample profile: an [Install] section, a second profile without accounts, Local Folders in mbox, "
          "an IMAP account kept as Maildir",
            [](const QString& home) { copyTree(kSampleHome, home); },
            { { "Thunderbird - Local Folders", tb + "/Mail/Local Folders", FoundStore::Kind::Mbox },
                { "Thunderbird - work@example.org", tb + "/ImapMail/imap.example.org", FoundStore::Kind::Maildir } } },
        { "an absolute profile path in the Flatpak folder; an account folder given only absolutely",
            [](const QString& home) {
                writeFile(home + "/.var/app/org.mozilla.Thunderbird/.thunderbird/profiles.ini",
                    "[Profile0]\nName=flat\nIsRelative=0\nPath=" + home.toUtf8() + "/elsewhere/p\n");
                makeProfile(home + "/elsewhere/p",
                    "user_pref(\"mail.server.server3.directory\", \"" + home.toUtf8()
                        + "/elsewhere/p/Mail/Local Folders\");\nuser_pref(\"mail.server.server3.name\", "
                          "\"Caf\\u00E9 \\\"Local\\\"\");\n");
                writeFile(home + "/elsewhere/p/Mail/Local Folders/Inbox", kMessage);
            },
            { { "Thunderbird - Café \"Local\"", "elsewhere/p/Mail/Local Folders", FoundStore::Kind::ByContent } } },
        { "the snap and Icedove folders; a prefs.js of garbage leaves the folders under Mail/ and ImapMail/",
            [](const QString& home) {
                writeFile(home + "/snap/thunderbird/common/.thunderbird/profiles.ini", "[Profile0]\nPath=p\n");
                makeProfile(home + "/snap/thunderbird/common/.thunderbird/p", QByteArray("\0\xff user_pref(\"x\n", 16));
                writeFile(home + "/snap/thunderbird/common/.thunderbird/p/Mail/Local Folders/Inbox", kMessage);
                writeFile(home + "/.icedove/profiles.ini", "[Profile0]\nPath=q\nIsRelative=1\n");
                QDir().mkpath(home + "/.icedove/q/ImapMail/imap.example.org/INBOX/cur");
            },
            { { "Thunderbird - Local Folders", "snap/thunderbird/common/.thunderbird/p/Mail/Local Folders",
                  FoundStore::Kind::ByContent },
                { "Thunderbird - imap.example.org", ".icedove/q/ImapMail/imap.example.org",
                    FoundStore::Kind::ByContent } } },
        { "two profiles with an account of the same name, given only relative to the profile, its \"\\\" "
          "replaced; a news server left out",
            [](const QString& home) {
                writeFile(home + "/.thunderbird/profiles.ini",
                    "[Profile0]\nName=one\nPath=a\n[Profile1]\nName=two\nPath=b\n");
                for (const char* p : { "a", "b" }) {
                    makeProfile(home + "/.thunderbird/" + p,
                        "user_pref(\"mail.server.server1.directory-rel\", \"[ProfD]Mail/Local Folders\");\n"
                        "user_pref(\"mail.server.server1.name\", \"Home \\\\ Local\");\n"
                        "user_pref(\"mail.server.server2.directory-rel\", \"[ProfD]News/news.example.org\");\n"
                        "user_pref(\"mail.server.server2.type\", \"nntp\");\n");
                    QDir().mkpath(home + "/.thunderbird/" + p + "/Mail/Local Folders");
                    QDir().mkpath(home + "/.thunderbird/" + p + "/News/news.example.org");
                }
            },
            { { "Thunderbird - Home _ Local", ".thunderbird/a/Mail/Local Folders", FoundStore::Kind::ByContent },
                { "Thunderbird - Home _ Local (two)", ".thunderbird/b/Mail/Local Folders",
                    FoundStore::Kind::ByContent } } },
        { "Evolution, KMail, ~/Maildir, ~/mail and the spool",
            [](const QString& home) {
                for (const char* dir : { "/.local/share/evolution/mail/local/cur", "/.local/share/local-mail/inbox/cur",
                         "/Maildir/cur", "/mail" })
                    QDir().mkpath(home + dir);
                writeFile(home + "/spool", kMessage);
            },
            { { "Evolution", ".local/share/evolution/mail/local", FoundStore::Kind::Maildir },
                { "KMail", ".local/share/local-mail", FoundStore::Kind::Maildir },
                { "Maildir", "Maildir", FoundStore::Kind::Maildir }, { "Mail", "mail", FoundStore::Kind::ByContent },
                { "Mail Spool", "spool", FoundStore::Kind::ByContent } } },
        { "broken sources cost nothing else: a profiles.ini of garbage, profiles that are missing or a link loop, "
          "an account folder that is not there",
            [](const QString& home) {
                writeFile(home + "/.thunderbird/profiles.ini", QByteArray("\x00\x01[Profile0\n=\n\xfe\xff", 10));
                writeFile(home + "/.icedove/profiles.ini",
                    "[Profile0]\nPath=gone\n[Profile1]\nPath=loop\n[Profile2]\nPath=real\n[Install1]\nDefault=/"
                    "nowhere\n");
                link(home + "/.icedove/loop", home + "/.icedove/loop");
                makeProfile(
                    home + "/.icedove/real", "user_pref(\"mail.server.server1.directory\", \"/nonexistent/x\");\n");
                QDir().mkpath(home + "/Maildir/cur");
            },
            { { "Maildir", "Maildir", FoundStore::Kind::Maildir } } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        QTemporaryDir home;
        c.make(home.path());
        const QString spool = home.filePath(QStringLiteral("spool"));
        const QList<FoundStore> found = mail::discoverStores({ home.path(),
            home.filePath(QStringLiteral(".local/share")), QFileInfo::exists(spool) ? spool : QString() });
        QList<FoundStore> expected = c.expected;
        for (FoundStore& store : expected)
            store.location = home.filePath(store.location);
        EXPECT_EQ(found.size(), expected.size());
        for (qsizetype i = 0; i < std::min(found.size(), expected.size()); ++i) {
            EXPECT_EQ(found[i].name, expected[i].name);
            EXPECT_EQ(found[i].location, expected[i].location);
            EXPECT_EQ(found[i].kind, expected[i].kind) << found[i].name.toStdString();
        }
    }
}

TEST(Discovery, TheNamespaceAddsFoundStoresAfterTheProfilesAndOnlyReadsThem)
{
    struct Case {
        const char* why;
        const char* profile; // nullptr: no profile file
        bool sampleHome;
        QStringList stores; // name and the kind of store
        const char* spool = nullptr; // $MAIL's content; nullptr: no $MAIL
        QStringList notOpened = {}; // found stores that could not be opened
    };
    const Case cases[] = {
        { "no profile: the found stores instead of the sample store", nullptr, true,
            { "Thunderbird - Local Folders|mbox", "Thunderbird - work@example.org|Maildir" } },
        { "a store of the profile wins over a found one of the same name",
            "[Stores]\nthunderbird - local folders=local\n", true,
            { "thunderbird - local folders|Maildir", "Thunderbird - work@example.org|Maildir" } },
        { "a found store the profile lists already is not added twice",
            "[Stores]\nMine=home/.thunderbird/k3x9.default-release/Mail/Local Folders\n", true,
            { "Mine|mbox", "Thunderbird - work@example.org|Maildir" } },
        { "Discover=0 keeps to the profile", "[Options]\nDiscover=0\n[Stores]\nLocal=local\n", true,
            { "Local|Maildir" } },
        { "nothing found and no profile: the sample store", nullptr, false, { "Sample Mailbox|Maildir" } },
        { "a spool that is no mbox is told and costs nothing found elsewhere", nullptr, true,
            { "Thunderbird - Local Folders|mbox", "Thunderbird - work@example.org|Maildir" }, "not mail\n",
            { "Mail Spool" } },
        { "an empty spool holds no mail: nothing to tell", nullptr, true,
            { "Thunderbird - Local Folders|mbox", "Thunderbird - work@example.org|Maildir" }, "" },
        { "a spool of mail", nullptr, false, { "Mail Spool|mbox" }, kMessage.constData() },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        QTemporaryDir dir;
        const QString home = dir.filePath(QStringLiteral("home"));
        QDir().mkpath(home);
        QDir().mkpath(dir.filePath(QStringLiteral("local/cur")));
        if (c.sampleHome)
            copyTree(kSampleHome, home);
        if (c.profile)
            writeFile(dir.filePath(QStringLiteral("profile.ini")), c.profile);
        const QString spool = c.spool ? dir.filePath(QStringLiteral("spool")) : QString();
        if (c.spool)
            writeFile(spool, c.spool);
        const QStringList before = snapshot(home);
        const test::ScopedEnv env { { "QUILLBOX_PROFILE", dir.filePath(QStringLiteral("profile.ini")) },
            { "HOME", home }, { "XDG_DATA_HOME", home + QLatin1String("/.local/share") }, { "MAIL", spool } };
        const mail::Namespace ns = mail::Namespace::fromProfile();
        QStringList stores;
        for (const auto& store : ns.stores()) {
            stores << store->name() + u'|' + store->kind();
            std::vector<test::ListedItem> items;
            auto top = store->topFolder();
            ASSERT_TRUE(top);
            ASSERT_TRUE(test::walk(**top, items));
            for (const auto& item : items)
                EXPECT_TRUE(ns.getItemFromID(item.summary.entryID)) << item.summary.subject.toStdString();
        }
        EXPECT_EQ(stores, c.stores);
        QStringList notOpened;
        for (const auto& [name, why] : ns.foundFailures())
            notOpened << name;
        EXPECT_EQ(notOpened, c.notOpened);
        EXPECT_TRUE(ns.failures().isEmpty()) << "a found store is no failure of the profile";
        EXPECT_EQ(snapshot(home), before);
    }
}

TEST(Discovery, ReadsIniSectionsAndTheDiscoverOption)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("profile.ini"));
    struct Case {
        QByteArray text;
        bool enabled;
    };
    for (const Case& c : { Case { "[Options]\nDiscover=0\n", false }, Case { "[options]\n discover = 0 \n", false },
             Case { "[Options]\nDiscover=1\n", true }, Case { "[Stores]\nDiscover=0\n", true },
             Case { "[Options]\n;Discover=0\n", true }, Case { "Discover=0\n", true } }) {
        writeFile(path, c.text);
        EXPECT_EQ(mail::discoveryEnabled(path), c.enabled) << c.text.toStdString();
    }
    EXPECT_TRUE(mail::discoveryEnabled(dir.filePath(QStringLiteral("missing.ini"))));
}

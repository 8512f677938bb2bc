// SPDX-License-Identifier: MIT
// IMAP accounts against a real Dovecot started for the tests on 127.0.0.1: the folder tree, the search's
// rows against the same mail in a Maildir store, the saved files against the APPENDed bytes, the server's
// flags, logging in, certificates and a server that goes away in the middle of a save.
#include "mail/imap/account.h"
#include "mail/search.h"
#include "output/saverun.h"
#include "support/dovecot.h"
#include "support/qtprinters.h"
#include "support/scriptedperson.h"
#include "support/testenv.h"
#include "support/testfiles.h"

#include <QDirIterator>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace quillbox {
namespace {

using test::berlin;
using test::Dovecot;

// A message as a mail client would send it, with CR LF line ends as IMAP carries them.
QByteArray message(int n, const QString& date, const QByteArray& extra = {})
{
    QByteArray text = "From: \"Sender " + QByteArray::number(n) + "\" <sender" + QByteArray::number(n)
        + "@example.org>\r\nTo: Bob <bob@example.org>, carol@example.org\r\nSubject: =?UTF-8?Q?Gr=C3=BC=C3=9Fe?= "
        + QByteArray::number(n) + "\r\n";
    if (!date.isEmpty())
        text += "Date: " + date.toLatin1() + "\r\n";
    text += "Message-ID: <" + QByteArray::number(n) + "@example.org>\r\n" + extra
        + "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=utf-8\r\n\r\nBody of message " + QByteArray::number(n)
        + "\r\n";
    return text;
}

struct Appended {
    QByteArray mailbox;
    QByteArray bytes;
    QDateTime received;
};

Settings searchSettings(const char* since = "", const char* before = "")
{
    Settings settings;
    settings.dateFormat = QStringLiteral("yyyy-mm-dd HH:MM:SS");
    settings.since = QString::fromLatin1(since);
    settings.before = QString::fromLatin1(before);
    settings.clipAddress = QStringLiteral("50");
    settings.clipSubject = QStringLiteral("50");
    settings.fnOutput = QStringLiteral("eml");
    settings.fnFormat = QStringLiteral("%6");
    return settings;
}

// The flags of every message of the server's Maildir, by its unique name.
QMap<QString, QString> serverFlags(const QString& mailDir)
{
    QMap<QString, QString> flags;
    QDirIterator it(mailDir, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (!path.contains(QLatin1String("/cur/")) && !path.contains(QLatin1String("/new/")))
            continue;
        const QString name = it.fileName();
        flags.insert(name.section(u':', 0, 0), name.section(u':', 1));
    }
    return flags;
}

class ImapTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_server = new Dovecot;
        if (!s_server->failed().isEmpty())
            return;
        for (const char* mailbox : { "Archive.2020", "Entw&APw-rfe", "Archive.2020.Q1" })
            s_server->create(mailbox);
        s_appended.clear();
        const QDateTime first = berlin(2021, 3, 10, 9, 0);
        for (int n = 1; n <= 6; ++n) {
            const QDateTime received = first.addDays(n);
            const QString date = received.addSecs(-600).toString(Qt::RFC2822Date);
            s_appended.push_back({ n <= 4 ? "INBOX" : "Entw&APw-rfe", message(n, date), received });
        }
        // A message without a Date header, and one whose Content-Type says a report.
        s_appended.push_back({ "Archive.2020", message(7, {}), first.addDays(20) });
        s_appended.push_back({ "Archive.2020.Q1", message(8, first.toString(Qt::RFC2822Date), "X-Note: report\r\n"),
            first.addDays(21) });
        for (const Appended& mail : s_appended)
            s_server->append(mail.mailbox, mail.bytes, mail.received);
    }
    static void TearDownTestSuite()
    {
        delete s_server;
        s_server = nullptr;
    }

    void SetUp() override
    {
        ASSERT_TRUE(s_server->failed().isEmpty()) << s_server->failed().toStdString();
        ASSERT_TRUE(m_dir.isValid());
        writePassword(QString::fromLatin1(Dovecot::kPassword));
        writeProfile(s_server->location(), s_server->fingerprint());
    }

    QString path(const QString& name) const { return m_dir.filePath(name); }

    void writePassword(const QString& password) { test::writeFile(path("password"), password.toUtf8() + "\n"); }

    void writeProfile(const QString& location, const QString& fingerprint, const QString& extra = {})
    {
        QString text
            = QStringLiteral("[Stores]\nWork=%1\nWork.PasswordCommand=cat \"%2\"\n").arg(location, path("password"));
        if (!fingerprint.isEmpty())
            text += QStringLiteral("Work.Fingerprint=%1\n").arg(fingerprint);
        test::writeFile(path("profile.ini"), (text + extra).toUtf8());
    }

    // The cells of the rows of a search of `folder` with `settings` into `list`, what the person was told
    // in `person`.
    QList<QStringList> search(
        const QString& folder, const Settings& settings, test::ScriptedPerson& person, ResultList& list)
    {
        const test::ScopedEnv env { { "QUILLBOX_PROFILE", path("profile.ini") } };
        searchMailFolder(person, settings, folder, list);
        QList<QStringList> rows;
        for (int i = 0; i < list.count(); ++i)
            rows << list.row(i).texts();
        return rows;
    }

    static Dovecot* s_server;
    static std::vector<Appended> s_appended;
    QTemporaryDir m_dir;
};

Dovecot* ImapTest::s_server = nullptr;
std::vector<Appended> ImapTest::s_appended;

// The folder tree: nested levels, a level that is only a node (\Noselect), a name in modified UTF-7.
TEST_F(ImapTest, FolderTreeFromList)
{
    const test::ScopedEnv env { { "QUILLBOX_PROFILE", path("profile.ini") } };
    const mail::Namespace ns = mail::Namespace::fromProfile();
    ASSERT_EQ(ns.stores().size(), 1u);
    EXPECT_EQ(ns.stores().front()->kind(), QStringLiteral("IMAP"));
    auto top = ns.topFolder(QStringLiteral("work"));
    ASSERT_TRUE(top) << top.error().describe().toStdString();
    QStringList tree;
    std::function<void(const mail::Folder&)> walk = [&](const mail::Folder& folder) {
        int count = 0;
        EXPECT_TRUE(folder.items([&](const mail::ItemSummary&) { ++count; }));
        tree << folder.folderPath() + u' ' + QString::number(count);
        auto children = folder.folders();
        ASSERT_TRUE(children);
        for (const auto& child : *children)
            walk(*child);
    };
    walk(**top);
    tree.sort();
    EXPECT_EQ(tree,
        QStringList({ "\\\\Work 0", "\\\\Work\\Archive 0", "\\\\Work\\Archive\\2020 1", "\\\\Work\\Archive\\2020\\Q1 1",
            "\\\\Work\\Entwürfe 2", "\\\\Work\\Inbox 4" }));
}

} // namespace
} // namespace quillbox

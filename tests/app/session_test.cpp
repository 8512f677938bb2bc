// SPDX-License-Identifier: MIT
// The start-up sequence on a session, without a window, with a scripted person: what it runs, what it
// tells, and the exit status it ends with.
#include "app/session.h"
#include "app/startup.h"
#include "support/qtprinters.h"
#include "support/scriptedperson.h"
#include "support/testenv.h"
#include "support/testfiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTranslator>
#include <gtest/gtest.h>

using namespace quillbox;
using test::ScriptedPerson;

namespace {

const QString kInbox = QStringLiteral("\\\\Sample Mailbox\\Inbox");

} // namespace

TEST(runStartup, RunsAndEndsWithItsStatus)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    test::writeFile(dir.filePath("profile.ini"), "[Stores]\nSample Mailbox=" SOURCE_DIR "/samples/Sample Mailbox\n");
    test::writeFile(dir.filePath("txt.ini"), "[Options]\nFnOutput=TXT\n");
    test::writeFile(dir.filePath("future.ini"), "[Options]\nSince=2100-01-01\n");
    QDir().mkpath(dir.filePath("unreadable.ini"));
    const test::ScopedEnv env = test::programFilesIn(dir.path());
    const QString out = dir.filePath("out");
    const QString usage = usageLines().join(QLatin1String("\r\n"));
    const QStringList ran { "busy", "idle", "busy", "idle" }; // the search, then the save

    struct Case {
        const char* why;
        StartupState state;
        std::optional<int> status;
        QStringList messages;
        bool shown;
        QStringList busy;
    };
    const Case cases[] = {
        { "three positional arguments: usage before showing", { { kInbox, out, "c" }, {}, 0, true }, 2, { usage },
            false, {} },
        { "autorun with one positional argument: usage after showing", { { kInbox }, {}, 0, true }, 2, { usage }, true,
            {} },
        { "autorun alone", { {}, {}, 0, true }, 2, { usage }, true, {} },
        { "a --option that cannot be read: its reason and the usage before showing, the debug level unset",
            { { kInbox, out }, {}, 2, true, 0, {}, Request::Start, {}, "unknown option --x" }, 2,
            { "unknown option --x\r\n" + usage }, false, {} },
        { "without autorun nothing runs", { { kInbox, out }, "txt.ini", 3, false }, std::nullopt, {}, true, {} },
        { "a clean run", { { kInbox, out }, "txt.ini", 0, true }, 0, {}, true, ran },
        { "one message box is enough", { { kInbox, out }, "future.ini", 0, true }, 1,
            { "There are no emails in the list." }, true, ran },
        { "a message box during the run", { { QStringLiteral("\\\\Sample Mailbox\\Nope"), out }, "txt.ini", 0, true },
            1, { "Can't access the specified Mail Folder.", "There are no emails in the list." }, true, ran },
        { "a warning box before the run (a settings file that cannot be read)",
            { { kInbox, out }, "unreadable.ini", 0, true }, 1, {}, true, ran },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        QDir(out).removeRecursively();
        ScriptedPerson person;
        Session session(person);
        QStringList busy;
        QObject::connect(&session, &Session::busyChanged,
            [&busy](bool on) { busy << (on ? QStringLiteral("busy") : QStringLiteral("idle")); });
        StartupState state = c.state;
        if (!state.iniPath.isEmpty())
            state.iniPath = dir.filePath(state.iniPath);
        int shows = 0;

        EXPECT_EQ(runStartup(session, state, [&shows] { ++shows; }), c.status);
        EXPECT_EQ(person.messages(), c.messages);
        EXPECT_EQ(shows, c.shown ? 1 : 0);
        EXPECT_EQ(busy, c.busy);
        EXPECT_EQ(session.debugLevel(), c.shown ? c.state.debugLevel : 0);
        EXPECT_EQ(person.warnings().isEmpty(), state.iniPath != dir.filePath("unreadable.ini"));
        if (state.iniPath == dir.filePath("txt.ini")) {
            EXPECT_EQ(session.options().settings().fnOutput, QLatin1String("TXT"));
        }
        // Every listed mail is saved when the run goes as far as the save; nothing is saved otherwise.
        const qsizetype saved = QDir(out).entryList(QDir::Files).size();
        EXPECT_EQ(saved, c.busy.isEmpty() ? 0 : session.resultList().count());
        if (c.status == 0) {
            EXPECT_GT(saved, 10);
        }
    }
}

// The sample Inbox holds a meeting request and a delivery report: the search tells how many items it left out
// for not being mail, as information, which is no message box and leaves the exit status alone.
TEST(Session, ItemsThatAreNotMailAreCountedAsInformation)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    test::writeFile(dir.filePath("profile.ini"), "[Stores]\nSample Mailbox=" SOURCE_DIR "/samples/Sample Mailbox\n");
    const test::ScopedEnv env = test::programFilesIn(dir.path());
    const std::pair<QString, QString> cases[] = {
        { QString(), QStringLiteral("2 items that are not e-mail were not listed") },
        { QStringLiteral("2100-01-01"), QString() }, // outside the date window they would not be listed anyway
    };
    for (const auto& [since, text] : cases) {
        SCOPED_TRACE(qPrintable(since));
        ScriptedPerson person;
        Session session(person);
        session.options().settings().since = since;
        session.search(kInbox);
        EXPECT_EQ(session.notMailText(), text);
        EXPECT_EQ(session.messagesShown(), 0);
    }
}

// A save run off the session's thread, as the window makes it, tells its information as information: no box
// that counts, the same as on the session's own thread.
TEST(Session, InformationFromABackgroundRunStaysInformation)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    test::writeFile(dir.filePath("profile.ini"), "[Stores]\nSample Mailbox=" SOURCE_DIR "/samples/Sample Mailbox\n");
    const test::ScopedEnv env = test::programFilesIn(dir.path());
    for (const bool background : { false, true }) {
        SCOPED_TRACE(background ? "in the background" : "on the session's thread");
        ScriptedPerson person;
        Session session(person);
        session.setInBackground(background);
        session.options().settings().fnOutput = QStringLiteral("EML");
        session.options().settings().skipSaved = 1;
        session.search(kInbox);
        const QString out = dir.filePath(background ? "background" : "foreground");
        session.save(kInbox, out);
        const qsizetype saved = session.resultList().count();
        EXPECT_EQ(person.informations(), QStringList { QStringLiteral("%1 new, 0 already saved.").arg(saved) });
        EXPECT_EQ(session.messagesShown(), 0);
        EXPECT_TRUE(person.messages().isEmpty());
    }
}

// A search in the background lists the same rows in the same order and tells the same messages as one on the
// session's thread; there a path that names no folder leaves the last rows listed, where the unattended search
// empties the list.
TEST(Session, BackgroundSearchListsAndTellsTheSameAndKeepsTheLastRowsOnAMistypedPath)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    test::writeFile(dir.filePath("profile.ini"), "[Stores]\nSample Mailbox=" SOURCE_DIR "/samples/Sample Mailbox\n");
    const test::ScopedEnv env = test::programFilesIn(dir.path());
    const QString paths[] = { QStringLiteral("\\\\Sample Mailbox"), QStringLiteral("\\\\Sample Mailbox\\Inbx"),
        QStringLiteral("Sample Mailbox\\Inbox") };
    QStringList told[2];
    QStringList rows[2];
    for (const bool background : { false, true }) {
        SCOPED_TRACE(background ? "in the background" : "on the session's thread");
        ScriptedPerson person;
        Session session(person);
        session.setInBackground(background);
        int progress = 0;
        QObject::connect(&session, &Session::searchProgress, [&progress](int folders, int) { progress = folders; });
        for (const QString& path : paths) {
            session.search(path);
            for (int i = 0; i < session.resultList().count(); ++i)
                rows[background] << session.resultList().row(i).entryId;
            rows[background] << QStringLiteral("--");
        }
        told[background] = person.messages();
        EXPECT_EQ(progress > 1, background) << "the background search counts the folders it reads";
        EXPECT_FALSE(session.lastSearch()->found);
    }
    EXPECT_EQ(told[0], told[1]);
    const QStringList whole = rows[0].mid(0, rows[0].indexOf(QStringLiteral("--")) + 1);
    ASSERT_GT(whole.size(), 10);
    EXPECT_EQ(rows[0], whole + QStringList({ "--", "--" })) << "unattended: a failed search empties the list";
    EXPECT_EQ(rows[1], whole + whole + whole) << "in the window: the last rows stay";
}

namespace {

/// Translates every text into itself in capitals, followed by "!" and its context.
class ShoutingTranslator : public QTranslator {
public:
    bool isEmpty() const override { return false; }
    QString translate(const char* context, const char* source, const char*, int) const override
    {
        return QString::fromUtf8(source).toUpper() + u'!' + QLatin1String(context);
    }
};

} // namespace

// The messages of the layers below the window go through Qt's translation, each under its context.
TEST(Session, MessagesOfEveryLayerAreTranslated)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    test::writeFile(dir.filePath("profile.ini"), "[Stores]\nSample Mailbox=" SOURCE_DIR "/samples/Sample Mailbox\n");
    const test::ScopedEnv env = test::programFilesIn(dir.path());
    ScriptedPerson person;
    Session session(person);
    ShoutingTranslator shouting;
    QCoreApplication::installTranslator(&shouting);
    session.search(QStringLiteral("Inbox")); // mail
    session.save(kInbox, QString()); // output
    session.search(kInbox);
    const QString notMail = session.notMailText(); // app
    QCoreApplication::removeTranslator(&shouting);
    EXPECT_EQ(person.messages(),
        (QStringList { "ERROR: FOLDER PATH SHOULD START WITH \\\\!Search",
            "CAN'T ACCESS THE SPECIFIED MAIL FOLDER.!Search", "THE 'SAVE TO' BOX IS BLANK!SaveRun" }));
    EXPECT_EQ(notMail, QLatin1String("2 ITEMS THAT ARE NOT E-MAIL WERE NOT LISTED!Session"));
}

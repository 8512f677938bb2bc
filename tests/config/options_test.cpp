// SPDX-License-Identifier: MIT
#include "config/options.h"

#include "core/paths.h"
#include "support/scriptedperson.h"
#include "support/testfiles.h"
#include "support/unprivileged.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace quillbox;
using quillbox::test::readFile;
using quillbox::test::ScriptedPerson;
using quillbox::test::writeFile;

namespace {

// The settings as "Key=value" lines in the file's key order, to compare whole sets at once.
QStringList describe(const Settings& s)
{
    const auto n = [](int state) { return QString::number(state); };
    const std::pair<const char*, QString> fields[] = { { "UseDate", n(s.useDate) }, { "UseFrom", n(s.useFrom) },
        { "UseSubject", n(s.useSubject) }, { "UseFnDate", n(s.useFnDate) }, { "UseFnFrom", n(s.useFnFrom) },
        { "UseFnSubject", n(s.useFnSubject) }, { "UseFnFolder", n(s.useFnFolder) }, { "DateFormat", s.dateFormat },
        { "TextFormat", s.textFormat }, { "FnFormat", s.fnFormat }, { "Since", s.since }, { "Before", s.before },
        { "ClipAddress", s.clipAddress }, { "ClipSubject", s.clipSubject }, { "FnOutput", s.fnOutput },
        { "SkipSaved", n(s.skipSaved) }, { "WriteIndex", n(s.writeIndex) }, { "SetFileTimes", n(s.setFileTimes) } };
    QStringList lines;
    for (const auto& [key, value] : fields)
        lines << QLatin1StringView(key) + u'=' + value;
    return lines;
}

const QStringList kDefaults
    = { "UseDate=1", "UseFrom=1", "UseSubject=1", "UseFnDate=1", "UseFnFrom=1", "UseFnSubject=1", "UseFnFolder=0",
          "DateFormat=yymmdd HHMMSS", "TextFormat=%1 %2 %3", "FnFormat=%1 %2 %3", "Since=", "Before=", "ClipAddress=50",
          "ClipSubject=50", "FnOutput=MSG", "SkipSaved=0", "WriteIndex=0", "SetFileTimes=0" };

class OptionsFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        path = dir.filePath(QStringLiteral("Quillbox.ini"));
        options.ini().setFileName(path);
    }

    QTemporaryDir dir;
    QString path;
    ScriptedPerson person;
    Options options { person };
};

TEST_F(OptionsFile, StartsOnTheDefaultFileWithoutReadingIt)
{
    Options fresh(person);
    EXPECT_EQ(fresh.ini().fileName(), defaultIniPath());
    EXPECT_EQ(describe(fresh.settings()), describe(Settings {}));
}

TEST_F(OptionsFile, DefaultFileInThePerUserFolderIsCreatedOnSave)
{
    const QByteArray previous = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.path()));
    // The program's own folder is the settings folder when it is writable: as root (or the owner of the
    // build) it is, so the test runs as a user who may not write there.
    test::runUnprivileged({ dir.path() }, [&] {
        const QString file = defaultIniPath();
        if (!file.startsWith(dir.path()))
            GTEST_SKIP() << "the test's own folder is writable, so it is the program's folder";
        Options fresh(person);
        fresh.loadSettings();
        EXPECT_FALSE(QFileInfo::exists(QFileInfo(file).path()));
        fresh.saveSettings();
        EXPECT_TRUE(readFile(file).startsWith("[Options]\n"));
        EXPECT_TRUE(person.messages().isEmpty());
    });
    qputenv("XDG_CONFIG_HOME", previous);
}

TEST_F(OptionsFile, MissingFileGivesTheDefaultsAndTheFirstSaveWritesAllEighteenKeysInOrder)
{
    options.loadSettings();
    EXPECT_EQ(describe(options.settings()), kDefaults);
    EXPECT_FALSE(QFileInfo::exists(path));
    options.saveSettings();
    EXPECT_EQ(readFile(path),
        "[Options]\nUseDate=1\nUseFrom=1\nUseSubject=1\nUseFnDate=1\nUseFnFrom=1\nUseFnSubject=1\nUseFnFolder=0\n"
        "DateFormat=yymmdd HHMMSS\nTextFormat=\"%1 %2 %3\"\nFnFormat=%1 %2 %3\nSince=\nBefore=\nClipAddress=50\n"
        "ClipSubject=50\nFnOutput=MSG\nSkipSaved=0\nWriteIndex=0\nSetFileTimes=0\n");
    EXPECT_TRUE(person.messages().isEmpty());
    EXPECT_TRUE(person.warnings().isEmpty());
}

TEST_F(OptionsFile, SaveReplacesKeysInPlaceAndKeepsTheRestOfTheFile)
{
    writeFile(path, "; my settings\r\n[Other]\r\nx=1\r\n\r\n[options]\r\nfnoutput = TXT\r\n; end\r\n");
    options.loadSettings();
    EXPECT_EQ(options.settings().fnOutput, QStringLiteral("TXT"));
    options.settings().fnOutput = QStringLiteral("RTF");
    options.saveSettings();
    EXPECT_EQ(readFile(path),
        "; my settings\r\n[Other]\r\nx=1\r\n\r\n[options]\r\nfnoutput=RTF\r\n; end\r\nUseDate=1\r\nUseFrom=1\r\n"
        "UseSubject=1\r\nUseFnDate=1\r\nUseFnFrom=1\r\nUseFnSubject=1\r\nUseFnFolder=0\r\nDateFormat=yymmdd HHMMSS\r\n"
        "TextFormat=\"%1 %2 %3\"\r\nFnFormat=%1 %2 %3\r\nSince=\r\nBefore=\r\nClipAddress=50\r\nClipSubject=50\r\n"
        "SkipSaved=0\r\nWriteIndex=0\r\nSetFileTimes=0\r\n");
}

TEST_F(OptionsFile, SaveAndLoadRoundTrip)
{
    Settings& s = options.settings();
    s = Settings { 2, 0, 1, 0, 2, 1, 1, QStringLiteral("dd Mmm yy HH:MM"), QStringLiteral("  %3 - %1  "),
        QStringLiteral("  %1  "), QStringLiteral(" 1/2/2020 "), QStringLiteral("31/12/2020"), QStringLiteral("25"),
        QStringLiteral("90"), QStringLiteral("RTF") };
    options.saveSettings();
    const QStringList saved = describe(s);
    s = Settings {}; // edits since the save, as Cancel discards them
    options.loadSettings();

    QStringList expected = saved;
    expected[9] = QStringLiteral("FnFormat=%1"); // unquoted texts lose their blanks at both ends
    expected[10] = QStringLiteral("Since=1/2/2020");
    EXPECT_EQ(describe(s), expected) << "TextFormat is quoted and keeps them";
}

TEST_F(OptionsFile, EmptyValuesReadBackAsDefaultsButSinceAndBeforeStayEmpty)
{
    options.loadSettings();
    Settings& s = options.settings();
    s.dateFormat = s.textFormat = s.fnFormat = s.clipAddress = s.clipSubject = s.fnOutput = QString();
    s.since = QStringLiteral("2020-01-01");
    s.before = QStringLiteral("2021-01-01");
    options.saveSettings();
    s.since = s.before = QString();
    options.saveSettings();
    EXPECT_TRUE(readFile(path).contains("\nTextFormat=\"\"\n"));

    s = Settings {};
    options.loadSettings();
    EXPECT_EQ(describe(s), kDefaults);
}

TEST_F(OptionsFile, CheckStatesFromTheirStoredText)
{
    // UseDate, UseFnDate and UseFnFolder take the number their text starts with (none: 0), rounded half to
    // even; the other boxes need a whole number as their whole text. Anything else, or a state outside
    // 0..2, gives the box's default.
    const std::tuple<const char*, const char*, int> cases[] = { { "UseDate", "abc", 0 }, { "UseDate", "1abc", 1 },
        { "UseDate", "\" 2x\"", 2 }, { "UseDate", "0.5", 0 }, { "UseDate", "1.5", 2 }, { "UseDate", "5e-1", 0 },
        { "UseDate", "3", 1 }, { "UseDate", "2.6", 1 }, { "UseDate", "-1", 1 }, { "UseDate", "-x", 0 },
        { "UseFnFolder", "2", 2 }, { "UseFnFolder", "7", 0 }, { "UseFnDate", "0zero", 0 }, { "UseFrom", "0", 0 },
        { "UseSubject", "\" 2 \"", 2 }, { "UseFnFrom", "0abc", 1 }, { "UseFnSubject", "no", 1 },
        { "UseFrom", "0.0", 1 }, { "UseSubject", "3", 1 }, { "SkipSaved", " 1 ", 1 }, { "WriteIndex", "1abc", 0 },
        { "SetFileTimes", "2", 2 }, { "SkipSaved", "3", 0 } };
    for (const auto& [key, stored, expected] : cases) {
        SCOPED_TRACE(std::string(key) + '=' + stored);
        writeFile(path, "[Options]\n" + QByteArray(key) + '=' + stored + "\nFnOutput=TXT\n");
        options.loadSettings();
        const QStringList loaded = describe(options.settings());
        EXPECT_TRUE(loaded.contains(QLatin1String(key) + u'=' + QString::number(expected)))
            << loaded.join(u' ').toStdString();
        EXPECT_EQ(loaded[14], QStringLiteral("FnOutput=TXT")) << "loading went on after the key";
    }
}

TEST_F(OptionsFile, StoredTextsAreUsedAsTheyAre)
{
    writeFile(path, "[Options]\nDateFormat=yyyy\nTextFormat=%2\nFnFormat=%3 \"x\"\nClipAddress=abc\nFnOutput=eml\n");
    options.loadSettings();
    // TextFormat is the stored template, not one rebuilt from the boxes.
    EXPECT_EQ(describe(options.settings()).mid(7, 8),
        (QStringList { "DateFormat=yyyy", "TextFormat=%2", "FnFormat=%3 \"x\"", "Since=", "Before=", "ClipAddress=abc",
            "ClipSubject=50", "FnOutput=eml" }));
}

TEST_F(OptionsFile, CustomIniIsTakenFromTheCurrentFolderAndCreatedOnlyOnSave)
{
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("sub")));
    options.useCustomIni(QStringLiteral("sub/custom.ini"));
    QDir::setCurrent(previous);

    const QString custom = dir.filePath(QStringLiteral("sub/custom.ini"));
    EXPECT_EQ(options.ini().fileName(), custom);
    EXPECT_EQ(describe(options.settings()), kDefaults);
    EXPECT_FALSE(QFileInfo::exists(custom));
    options.saveSettings();
    EXPECT_TRUE(readFile(custom).startsWith("[Options]\nUseDate=1\n"));
    EXPECT_FALSE(QFileInfo::exists(path)) << "the file in use before is not touched";

    writeFile(path, "[Options]\nSince=1.1.2020\n");
    options.useCustomIni(path);
    EXPECT_EQ(options.settings().since, QStringLiteral("1.1.2020")) << "an existing file is loaded";
}

TEST_F(OptionsFile, UnwritableFileIsReportedByNameAndTheSettingsStay)
{
    struct Case {
        const char* why;
        QString file;
        const char* reason;
        bool needsPermissions;
    };
    const Case cases[] = {
        { "missing folder", dir.filePath(QStringLiteral("gone/Quillbox.ini")), "No such file or directory", false },
        { "read-only file", path, "the file is not writable", true },
    };
    test::runUnprivileged({ dir.path() }, [&] {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.why);
            if (c.needsPermissions) {
                writeFile(c.file, "[Options]\nFnOutput=TXT\n");
                ASSERT_TRUE(QFile::setPermissions(c.file, QFile::ReadOwner));
            }
            person.clear();
            options.ini().setFileName(c.file);
            options.settings().fnOutput = QStringLiteral("DIR");
            options.saveSettings();
            EXPECT_EQ(person.messages(),
                QStringList { QStringLiteral("Can't save the settings to ") + c.file + QStringLiteral(": ")
                    + QString::fromUtf8(c.reason) + u'.' });
            EXPECT_EQ(options.settings().fnOutput, QStringLiteral("DIR"));
            if (c.needsPermissions) {
                EXPECT_EQ(readFile(c.file), "[Options]\nFnOutput=TXT\n");
                QFile::setPermissions(c.file, QFile::ReadOwner | QFile::WriteOwner);
            } else {
                EXPECT_FALSE(QFileInfo::exists(c.file));
            }
        }
    });
}

TEST_F(OptionsFile, UnreadableFileAsksPerKeyAndGivesTheDefaults)
{
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("Quillbox.ini")));
    options.settings().fnOutput = QStringLiteral("TXT");
    options.loadSettings();
    EXPECT_EQ(person.warnings().size(), 18);
    EXPECT_TRUE(person.warnings().value(0).startsWith(QStringLiteral("ViriravEZI, Sub GetKeyValue|")));
    EXPECT_EQ(describe(options.settings()), kDefaults);
}

TEST(Rebuild, TemplatesFromTheirGroupsBoxes)
{
    struct Case {
        const char* why;
        int date, from, subject;
        const char* expected;
    };
    const Case cases[] = {
        { "all three", 1, 1, 1, "%1 %2 %3" },
        { "date and subject: one space between", 1, 0, 1, "%1 %3" },
        { "from alone: no blanks at the ends", 0, 1, 0, "%2" },
        { "none: empty", 0, 0, 0, "" },
        { "greyed counts as ticked", 2, 0, 2, "%1 %3" },
    };
    ScriptedPerson person;
    Options options(person);
    Settings& s = options.settings();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        s.textFormat = s.fnFormat = QStringLiteral("typed by hand");
        s.useDate = c.date, s.useFrom = c.from, s.useSubject = c.subject;
        s.useFnDate = s.useFnFrom = s.useFnSubject = 0;
        s.useFnFolder = 1;
        options.rebuildTextFormat();
        EXPECT_EQ(s.textFormat, QString::fromUtf8(c.expected));
        EXPECT_EQ(s.fnFormat, QStringLiteral("typed by hand")) << "the other group's template stays";

        s.useFnDate = c.date, s.useFnFrom = c.from, s.useFnSubject = c.subject;
        s.useDate = s.useFrom = s.useSubject = 0;
        options.rebuildFnFormat();
        EXPECT_EQ(s.fnFormat, QString::fromUtf8(c.expected)) << "the folder box plays no part";
        EXPECT_EQ(s.textFormat, QString::fromUtf8(c.expected));
    }
}

} // namespace

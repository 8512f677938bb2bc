// SPDX-License-Identifier: MIT
#include "config/inifile.h"

#include "support/scriptedperson.h"
#include "support/testfiles.h"
#include "support/unprivileged.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>
#include <random>
#include <sys/stat.h>

using namespace quillbox;
using quillbox::test::readFile;
using quillbox::test::ScriptedPerson;
using quillbox::test::writeFile;

namespace {

ino_t inode(const QString& path)
{
    struct stat st { };
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : 0;
}

class IniFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        path = dir.filePath(QStringLiteral("test.ini"));
        ini.setFileName(path);
    }
    void TearDown() override
    {
        if (QFileInfo::exists(path))
            QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    }

    QString get(const char* section, const char* key, const char* defaultValue = "")
    {
        return ini.getKey(QString::fromUtf8(section), QString::fromUtf8(key), QString::fromUtf8(defaultValue));
    }
    bool add(const char* section, const char* key, const char* value)
    {
        return ini.addKey(QString::fromUtf8(section), QString::fromUtf8(key), QString::fromUtf8(value));
    }

    QTemporaryDir dir;
    QString path;
    ScriptedPerson person;
    IniFile ini { person };
};

TEST_F(IniFileTest, ReadsValuesAsTheProfileRulesGive)
{
    struct Case {
        const char* why;
        QByteArray file;
        const char *section, *key, *expected; // getKey with the default "<default>"
    };
    const Case cases[] = {
        { "quotes removed, the blanks inside them kept", "[S]\nk=\" a b \"\n", "S", "k", " a b " },
        { "a pair of quotes around nothing reads as empty", "[S]\nk=\"\"\n", "S", "k", "<default>" },
        { "blanks around an unquoted value dropped", "[S]\n  k \t=   v  x \t \n", "S", "k", "v  x" },
        { "only one pair of quotes removed", "[S]\nk=\"\"a\"\"\n", "S", "k", "\"a\"" },
        { "an unmatched quote stays", "[S]\nk=\"abc\n", "S", "k", "\"abc" },
        { "blanks outside the quotes dropped first", "[S]\nk =  \" x\"  \n", "S", "k", " x" },
        { "section and key match without regard to case", "[OPTIONS]\nUSEDATE=2\n", "options", "UseDate", "2" },
        { "the first of two equal keys counts", "[S]\nk=1\nK=2\n", "S", "k", "1" },
        { "the first of two equal sections counts", "[S]\nk=1\n[s]\nk=2\n", "S", "k", "1" },
        { "a key in another section is not seen", "[A]\nk=1\n[S]\nj=2\n", "S", "k", "<default>" },
        { "a key before any section belongs to none", "k=1\n[S]\n", "S", "k", "<default>" },
        { "a comment is not a key", "[S]\n;k=1\n", "S", "k", "<default>" },
        { "a key without \"=\" has no value", "[S]\nk\n", "S", "k", "<default>" },
        { "\"=\" inside the value belongs to it", "[S]\nk=a=b\n", "S", "k", "a=b" },
        { "CR LF line ends", "[S]\r\nk=v\r\nj=w\r\n", "S", "k", "v" },
        { "no line end after the last line", "[S]\nk=v", "S", "k", "v" },
        { "byte-order mark before the first header", "\xEF\xBB\xBF[S]\nk=v\n", "S", "k", "v" },
        { "blanks inside the brackets of a header", "[  S  ]\nk=v\n", "S", "k", "v" },
        { "text after a header's bracket", "[S] ; the settings\nk=v\n", "S", "k", "v" },
        { "a NUL ends the line's text", QByteArray("[S]\nk=ab\0cd\n", 12), "S", "k", "ab" },
        { "UTF-8 text", QString::fromUtf8("[S]\nk=Grüße\n").toUtf8(), "S", "k", "Grüße" },
        { "bytes that are not UTF-8 elsewhere do not matter", "\xFF\xFE\x80\n[S]\nk=v\n", "S", "k", "v" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        writeFile(path, c.file);
        EXPECT_EQ(get(c.section, c.key, "<default>"), QString::fromUtf8(c.expected));
    }
    EXPECT_TRUE(person.warnings().isEmpty());

    // getKeyValue leaves the caller's text when there is no value.
    for (const QByteArray& file : { QByteArray(), QByteArray("[S]\nk=  \n"), QByteArray("[S]\nk=\"\"\n") }) {
        SCOPED_TRACE(file.isNull() ? "no file" : file.toStdString());
        QFile::remove(path);
        if (!file.isNull())
            writeFile(path, file);
        QString value = QStringLiteral("as passed");
        ini.getKeyValue(QStringLiteral("S"), QStringLiteral("k"), value);
        EXPECT_EQ(value, QStringLiteral("as passed"));
    }
}

TEST_F(IniFileTest, LongValuesAreCutTo4094Characters)
{
    const QByteArray long5000(5000, 'x');
    writeFile(path, "[S]\nk=" + long5000 + "\nq=\"" + long5000 + "\"\n");
    EXPECT_EQ(get("S", "k"), QString(4094, u'x'));
    EXPECT_EQ(get("S", "q"), QString(4094, u'x')) << "cut after unquoting";
    // A character outside the BMP across the limit is dropped whole, not halved.
    writeFile(path, "[S]\nk=" + QByteArray(4093, 'y') + "\xF0\x9F\x98\x80\n");
    EXPECT_EQ(get("S", "k"), QString(4093, u'y'));
}

TEST_F(IniFileTest, ListsEndWithOneEmptyElement)
{
    writeFile(path, "[A]\nb=2\n; comment\na = \"1\" \nflag\nB=3\n=orphan\n\n[C]\n[a]\nz=9\n[]\nq=1\n[Empty]\n");
    QStringList list { QStringLiteral("stale") };
    ini.getSection(QStringLiteral("a"), list);
    EXPECT_EQ(list, (QStringList { "b=2", "a=\"1\"", "flag", "B=3", "=orphan", "" }));
    ini.getAllKeys(QStringLiteral("A"), list);
    EXPECT_EQ(list, (QStringList { "b", "a", "" })) << "no comment, no key without \"=\", no repeated or empty name";
    ini.getAllSections(list);
    EXPECT_EQ(list, (QStringList { "A", "C", "Empty", "" })) << "each name once, none empty";

    ini.getSection(QStringLiteral("Empty"), list);
    EXPECT_EQ(list, QStringList { QString() });
    ini.getAllKeys(QStringLiteral("Missing"), list);
    EXPECT_EQ(list, QStringList { QString() });
    QFile::remove(path);
    ini.getSection(QStringLiteral("A"), list);
    EXPECT_EQ(list, QStringList { QString() });
}

TEST_F(IniFileTest, ListsHoldOnlyWhatFitsTheirBuffer)
{
    struct Case {
        const char* why;
        QStringList names; // section names, or key names of section [S]
        bool sections;
        QStringList expected;
    };
    QStringList nine;
    for (int i = 0; i < 9; ++i)
        nine << QString::number(i) + QString(29, u's');
    const Case cases[] = {
        { "252 characters, a NUL and the closing NUL fill the 254 declared", { QString(252, u'a') }, true,
            { QString(252, u'a'), "" } },
        { "a 253-character name does not fit", { QString(253, u'a') }, true, { "" } },
        { "a name that does not fit whole is left out with all after it", nine, true,
            QStringList(nine.mid(0, 8)) << QString() },
        { "key names fill the 4095 declared", { QString(4093, u'k') }, false, { QString(4093, u'k'), "" } },
        { "a 4094-character key name does not fit", { QString(4094, u'k') }, false, { "" } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        QByteArray file = c.sections ? QByteArray() : QByteArray("[S]\n");
        for (const QString& name : c.names)
            file += (c.sections ? '[' + name.toUtf8() + "]\n" : name.toUtf8() + "=1\n");
        writeFile(path, file);
        QStringList list;
        if (c.sections)
            ini.getAllSections(list);
        else
            ini.getAllKeys(QStringLiteral("S"), list);
        EXPECT_EQ(list, c.expected);
    }
}

TEST_F(IniFileTest, WritesKeysAsTheProfileRulesGive)
{
    struct Case {
        const char* why;
        QByteArray before; // "<none>": no file
        const char *section, *key;
        std::optional<QString> value;
        QByteArray after;
    };
    const QString v = QStringLiteral("v");
    const Case cases[] = {
        { "a missing file is created", "<none>", "Options", "UseDate", QStringLiteral("1"), "[Options]\nUseDate=1\n" },
        { "an existing key is replaced in place and keeps its spelling", "[S]\n; c\nKEY = old \nz=1\n", "s", "key",
            QStringLiteral("new"), "[S]\n; c\nKEY=new\nz=1\n" },
        { "a new key goes after the section's last line, before the blank line", "[S]\na=1\n; c\n\n[T]\nb=2\n", "S",
            "k", v, "[S]\na=1\n; c\nk=v\n\n[T]\nb=2\n" },
        { "a new section goes at the end", "[S]\na=1\n", "T", "k", v, "[S]\na=1\n[T]\nk=v\n" },
        { "the value is written as given", "", "S", "k", QStringLiteral("  \"x\" "), "[S]\nk=  \"x\" \n" },
        { "CR LF lines stay CR LF and new lines get CR LF", "[S]\r\na=1\r\n", "S", "k", v, "[S]\r\na=1\r\nk=v\r\n" },
        { "a file without a final line end keeps lacking it", "[S]\na=1", "S", "k", v, "[S]\na=1\nk=v" },
        { "each line keeps its own line end, a replaced one too", "[S]\na=1\r\nb=2\r\nc=1\n", "S", "b",
            QStringLiteral("3"), "[S]\na=1\r\nb=3\r\nc=1\n" },
        { "the byte-order mark stays", "\xEF\xBB\xBF[S]\n", "S", "k", v, "\xEF\xBB\xBF[S]\nk=v\n" },
        { "bytes that are not UTF-8 stay", "; \xFF\xFE\n[S]\n", "S", "k", QStringLiteral("\u00e9"),
            "; \xFF\xFE\n[S]\nk=\xC3\xA9\n" },
        { "line breaks in a value become spaces", "", "S", "k", QStringLiteral("a\r\nb\nc\rd"), "[S]\nk=a b c d\n" },
        { "a NUL ends the value", "", "S", "k", QString::fromUtf16(u"ab\0cd", 5), "[S]\nk=ab\n" },
        { "no value deletes every entry of the key in the section", "[S]\nk=1\nj=2\nK=3\n[T]\nk=4\n", "S", "k",
            std::nullopt, "[S]\nj=2\n[T]\nk=4\n" },
        { "deleting a missing key leaves the file as it is", "[S]\nj=2", "S", "k", std::nullopt, "[S]\nj=2" },
        { "deleting from a missing file creates none", "<none>", "S", "k", std::nullopt, "<missing>" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        QFile::remove(path);
        if (c.before != "<none>")
            writeFile(path, c.before);
        ini.writeKeyValue(QString::fromUtf8(c.section), QString::fromUtf8(c.key), c.value);
        EXPECT_FALSE(ini.lastWriteError());
        EXPECT_EQ(readFile(path), c.after);
    }
}

TEST_F(IniFileTest, AWriteThatChangesNothingLeavesTheFileAlone)
{
    writeFile(path, "[S]\nk=v\n");
    const ino_t before = inode(path);
    EXPECT_FALSE(add("s", "K", "v"));
    EXPECT_EQ(inode(path), before);
    EXPECT_FALSE(add("S", "k", "w"));
    EXPECT_NE(inode(path), before) << "a change replaces the file by renaming a new one over it";
}

TEST_F(IniFileTest, WriteSectionReplacesTheSectionsLines)
{
    writeFile(path, "[S]\na=1\n; c\nb=2\n\n[T]\nc=3\n");
    const char16_t entries[] = u"x=1\0y=2\0\0ignored\0";
    ini.writeSection(QStringLiteral("s"), QString::fromUtf16(entries, std::size(entries) - 1));
    EXPECT_EQ(readFile(path), "[S]\nx=1\ny=2\n\n[T]\nc=3\n");
    ini.writeSection(QStringLiteral("T"), QString());
    EXPECT_EQ(readFile(path), "[S]\nx=1\ny=2\n\n[T]\n");
    ini.writeSection(QStringLiteral("U"), QStringLiteral("z=last text without its NUL"));
    EXPECT_EQ(readFile(path), "[S]\nx=1\ny=2\n\n[T]\n[U]\nz=last text without its NUL\n");
    EXPECT_FALSE(ini.lastWriteError());
}

TEST_F(IniFileTest, AddKeyAndDeleteKeyFlagFailure)
{
    writeFile(path, "[S]\nk=1\nj=2\n");
    EXPECT_FALSE(ini.deleteKey(QStringLiteral("S"), QStringLiteral("k")));
    EXPECT_EQ(readFile(path), "[S]\nj=2\n");
    EXPECT_FALSE(add("S", "n", "3"));
    EXPECT_EQ(readFile(path), "[S]\nj=2\nn=3\n");

    ini.setFileName(dir.filePath(QStringLiteral("no such folder/test.ini")));
    EXPECT_TRUE(add("S", "n", "3"));
    ASSERT_TRUE(ini.lastWriteError());
    EXPECT_EQ(ini.lastWriteError()->path, ini.fileName());
    EXPECT_EQ(ini.lastWriteError()->detail, QStringLiteral("No such file or directory"));
    EXPECT_FALSE(ini.deleteKey(QStringLiteral("S"), QStringLiteral("n"))) << "nothing to delete, nothing written";
    EXPECT_FALSE(ini.lastWriteError());

    ini.setFileName(dir.path());
    EXPECT_TRUE(add("S", "n", "3")) << "a folder";
    ini.setFileName(QString());
    EXPECT_TRUE(add("S", "n", "3")) << "no name";
    EXPECT_TRUE(person.warnings().isEmpty()) << "writes never ask";
}

TEST_F(IniFileTest, ReadOnlyFileIsNotWritten)
{
    writeFile(path, "[S]\nk=1\n");
    test::runUnprivileged({ dir.path() }, [&] {
        ASSERT_TRUE(QFile::setPermissions(path, QFile::ReadOwner));
        EXPECT_TRUE(add("S", "n", "3"));
        EXPECT_TRUE(ini.deleteKey(QStringLiteral("S"), QStringLiteral("k")));
        ASSERT_TRUE(ini.lastWriteError());
        EXPECT_EQ(ini.lastWriteError()->path, path);
        ini.writeSection(QStringLiteral("S"), QStringLiteral("a=1"));
        EXPECT_TRUE(ini.lastWriteError());
        EXPECT_EQ(readFile(path), "[S]\nk=1\n");
        EXPECT_FALSE(add("S", "k", "1")) << "nothing to change";
    });
}

TEST_F(IniFileTest, FileWithoutReadPermissionAsks)
{
    writeFile(path, "[S]\nk=1\n");
    test::runUnprivileged({ dir.path() }, [&] {
        ASSERT_TRUE(QFile::setPermissions(path, QFile::WriteOwner));
        EXPECT_EQ(get("S", "k", "d"), QStringLiteral("d"));
        EXPECT_EQ(
            person.warnings(), QStringList { QStringLiteral("ViriravEZI, Sub GetKeyValue|5, Permission denied") });
    });
}

// A file that exists but cannot be read: a folder of that name works for every user, root included.
class UnreadableIni : public IniFileTest {
protected:
    void SetUp() override
    {
        IniFileTest::SetUp();
        ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("test.ini")));
    }
};

TEST_F(UnreadableIni, ReadsAskAndAbortOrIgnoreLeaveTheOutputs)
{
    QString value = QStringLiteral("as passed");
    QStringList list { QStringLiteral("as passed") };
    const std::pair<const char*, std::function<void()>> reads[] = {
        { "GetKeyValue", [&] { ini.getKeyValue(QStringLiteral("S"), QStringLiteral("k"), value); } },
        { "GetSection", [&] { ini.getSection(QStringLiteral("S"), list); } },
        { "GetAllKeys", [&] { ini.getAllKeys(QStringLiteral("S"), list); } },
        { "GetAllSections", [&] { ini.getAllSections(list); } },
    };
    for (const auto& [name, read] : reads) {
        for (const WarningAnswer answer : { WarningAnswer::Abort, WarningAnswer::Ignore }) {
            SCOPED_TRACE(name);
            person.clear();
            person.addWarningAnswer(answer);
            read();
            ASSERT_EQ(person.warnings().size(), 1);
            EXPECT_EQ(
                person.warnings()[0].section(u'|', 0, 0), QStringLiteral("ViriravEZI, Sub ") + QLatin1String(name));
            const QString text = person.warnings()[0].section(u'|', 1);
            EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d+, \\S.*$")).match(text).hasMatch())
                << text.toStdString();
            EXPECT_EQ(value, QStringLiteral("as passed"));
            EXPECT_EQ(list, QStringList { QStringLiteral("as passed") });
        }
    }
    EXPECT_EQ(get("S", "k", "dflt"), QStringLiteral("dflt"));
}

TEST_F(UnreadableIni, RetryReadsAgain)
{
    // Whoever answers the box puts the file right before pressing Retry.
    class FixingPerson : public ScriptedPerson {
    public:
        explicit FixingPerson(QString path)
            : m_path(std::move(path))
        {
        }
        WarningAnswer warning(const QString& title, const QString& text) override
        {
            ScriptedPerson::warning(title, text);
            QDir().rmdir(m_path);
            writeFile(m_path, "[S]\nk=fixed\n");
            return WarningAnswer::Retry;
        }

    private:
        QString m_path;
    };
    FixingPerson fixer(path);
    IniFile fixed(fixer);
    fixed.setFileName(path);
    EXPECT_EQ(fixed.getKey(QStringLiteral("S"), QStringLiteral("k"), {}), QStringLiteral("fixed"));
    EXPECT_EQ(fixer.warnings().size(), 1);
}

TEST_F(UnreadableIni, AWriteDoesNotReplaceAFileItCannotRead)
{
    ASSERT_TRUE(add("S", "k", "v"));
    EXPECT_EQ(ini.lastWriteError()->path, path);
    EXPECT_TRUE(QFileInfo(path).isDir());
    EXPECT_TRUE(person.warnings().isEmpty());
}

TEST_F(IniFileTest, BinaryGarbageReadsAndSurvivesAWrite)
{
    std::mt19937 random(20240601);
    QByteArray garbage(64 * 1024, '\0');
    for (char& byte : garbage)
        byte = static_cast<char>(random() % 256);
    garbage.replace('[', '(').replace(';', ':'); // no headers or comments by chance
    writeFile(path, garbage);

    QStringList list;
    ini.getAllSections(list);
    EXPECT_EQ(list, QStringList { QString() });
    EXPECT_EQ(get("S", "k", "d"), QStringLiteral("d"));
    ASSERT_FALSE(add("S", "k", "v"));
    EXPECT_TRUE(readFile(path).startsWith(garbage)) << "every byte of the file is kept";
    EXPECT_EQ(get("S", "k"), QStringLiteral("v"));
}

TEST_F(IniFileTest, TenMegabyteFile)
{
    QByteArray big = "[Big]\n";
    for (int i = 0; big.size() < 10 * 1024 * 1024; ++i)
        big += "key" + QByteArray::number(i) + " = value number " + QByteArray::number(i) + "\r\n";
    big += "[Options]\r\nUseDate=2\r\n";
    writeFile(path, big);
    EXPECT_EQ(get("options", "usedate"), QStringLiteral("2"));
    EXPECT_EQ(get("Big", "KEY200000"), QStringLiteral("value number 200000"));

    ASSERT_FALSE(add("Options", "UseDate", "1"));
    EXPECT_EQ(readFile(path), big.replace(big.size() - 3, 1, "1"));
}

} // namespace

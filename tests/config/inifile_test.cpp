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
    void makeReadOnly() { ASSERT_TRUE(QFile::setPermissions(path, QFile::ReadOwner)); }

    QTemporaryDir dir;
    QString path;
    ScriptedPerson person;
    IniFile ini { person };
};

struct ReadCase {
    const char* why;
    QByteArray file;
    const char* section;
    const char* key;
    const char* expected; // getKey with the default "<default>"
};

const ReadCase kReadCases[] = {
    { "quotes removed, the blanks inside them kept", "[S]\nk=\" a b \"\n", "S", "k", " a b " },
    { "a pair of quotes around nothing reads as empty", "[S]\nk=\"\"\n", "S", "k", "<default>" },
    { "blanks around an unquoted value dropped", "[S]\n  k \t=   v  x \t \n", "S", "k", "v  x" },
    { "only one pair of quotes removed", "[S]\nk=\"\"a\"\"\n", "S", "k", "\"a\"" },
    { "an unmatched quote stays", "[S]\nk=\"abc\n", "S", "k", "\"abc" },
    { "a lone quote stays", "[S]\nk=\"\n", "S", "k", "\"" },
    { "blanks outside the quotes dropped first", "[S]\nk =  \" x\"  \n", "S", "k", " x" },
    { "section and key match without regard to case", "[OPTIONS]\nUSEDATE=2\n", "options", "UseDate", "2" },
    { "the first of two equal keys counts", "[S]\nk=1\nK=2\n", "S", "k", "1" },
    { "the first of two equal sections counts", "[S]\nk=1\n[s]\nk=2\n", "S", "k", "1" },
    { "a key in another section is not seen", "[A]\nk=1\n[S]\nj=2\n", "S", "k", "<default>" },
    { "a key before any section belongs to none", "k=1\n[S]\n", "S", "k", "<default>" },
    { "a comment is not a key", "[S]\n;k=1\n", "S", "k", "<default>" },
    { "a key without \"=\" has no value", "[S]\nk\n", "S", "k", "<default>" },
    { "an empty value gives the default", "[S]\nk=\n", "S", "k", "<default>" },
    { "\"=\" inside the value belongs to it", "[S]\nk=a=b\n", "S", "k", "a=b" },
    { "CR LF line ends", "[S]\r\nk=v\r\nj=w\r\n", "S", "k", "v" },
    { "no line end after the last line", "[S]\nk=v", "S", "k", "v" },
    { "byte-order mark before the first header", "\xEF\xBB\xBF[S]\nk=v\n", "S", "k", "v" },
    { "blanks inside the brackets of a header", "[  S  ]\nk=v\n", "S", "k", "v" },
    { "text after a header's bracket", "[S] ; the settings\nk=v\n", "S", "k", "v" },
    { "a NUL ends the line's text", QByteArray("[S]\nk=ab\0cd\n", 12), "S", "k", "ab" },
    { "UTF-8 text",
        "[S]\nk=Gr\xC3\xBC\xC3\x9F"
        "e\n",
        "S", "k", "Grüße" },
    { "bytes that are not UTF-8 elsewhere do not matter", "\xFF\xFE\x80\n[S]\nk=v\n", "S", "k", "v" },
};

TEST_F(IniFileTest, ReadsValuesAsTheProfileRulesGive)
{
    for (const ReadCase& c : kReadCases) {
        SCOPED_TRACE(c.why);
        writeFile(path, c.file);
        EXPECT_EQ(ini.getKey(QString::fromUtf8(c.section), QString::fromUtf8(c.key), QStringLiteral("<default>")),
            QString::fromUtf8(c.expected));
    }
    EXPECT_TRUE(person.warnings().isEmpty());
}

TEST_F(IniFileTest, GetKeyValueLeavesTheCallersTextWhenThereIsNoValue)
{
    struct Case {
        const char* why;
        QByteArray file; // empty: no file
    };
    const Case cases[] = { { "missing file", {} }, { "missing section", "[A]\nk=1\n" }, { "missing key", "[S]\nj=1\n" },
        { "empty value", "[S]\nk=  \n" }, { "empty quotes", "[S]\nk=\"\"\n" } };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        QFile::remove(path);
        if (!c.file.isEmpty())
            writeFile(path, c.file);
        QString value = QStringLiteral("as passed");
        ini.getKeyValue(QStringLiteral("S"), QStringLiteral("k"), value);
        EXPECT_EQ(value, QStringLiteral("as passed"));
    }
}

TEST_F(IniFileTest, LongValuesAreCutTo4094Characters)
{
    const QString long5000(5000, u'x');
    writeFile(path, "[S]\nk=" + long5000.toUtf8() + "\nq=\"" + long5000.toUtf8() + "\"\n");
    EXPECT_EQ(ini.getKey(QStringLiteral("S"), QStringLiteral("k"), {}), QString(4094, u'x'));
    EXPECT_EQ(ini.getKey(QStringLiteral("S"), QStringLiteral("q"), {}), QString(4094, u'x')) << "cut after unquoting";

    // A character outside the BMP across the limit is dropped whole, not halved.
    const QString emoji = QString::fromUtf8("\xF0\x9F\x98\x80");
    writeFile(path, "[S]\nk=" + (QString(4093, u'y') + emoji).toUtf8() + "\n");
    EXPECT_EQ(ini.getKey(QStringLiteral("S"), QStringLiteral("k"), {}), QString(4093, u'y'));
}

TEST_F(IniFileTest, ListsEndWithOneEmptyElement)
{
    writeFile(path,
        "[A]\nb=2\n; comment\na = \"1\" \nflag\nB=3\n=orphan\n\n[C]\n[a]\nz=9\n[]\nq=1\n"
        "[Empty]\n");
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
    ini.getAllSections(list);
    EXPECT_EQ(list, QStringList { QString() });
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
    const QString n30(30, u's');
    QStringList nine;
    for (int i = 0; i < 9; ++i)
        nine << QString::number(i) + n30.left(29);
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

struct WriteCase {
    const char* why;
    QByteArray before; // "<none>": no file
    const char* section;
    const char* key;
    std::optional<QString> value;
    QByteArray after;
};

const WriteCase kWriteCases[] = {
    { "a missing file is created", "<none>", "Options", "UseDate", QStringLiteral("1"), "[Options]\nUseDate=1\n" },
    { "an existing key is replaced in place and keeps its spelling", "[S]\n; c\nKEY = old \nz=1\n", "s", "key",
        QStringLiteral("new"), "[S]\n; c\nKEY=new\nz=1\n" },
    { "a new key goes after the section's last line, before the blank line", "[S]\na=1\n; c\n\n[T]\nb=2\n", "S", "k",
        QStringLiteral("v"), "[S]\na=1\n; c\nk=v\n\n[T]\nb=2\n" },
    { "a new section goes at the end", "[S]\na=1\n", "T", "k", QStringLiteral("v"), "[S]\na=1\n[T]\nk=v\n" },
    { "the value is written as given", "", "S", "k", QStringLiteral("  \"x\" "), "[S]\nk=  \"x\" \n" },
    { "CR LF lines stay CR LF and new lines get CR LF", "[S]\r\na=1\r\n", "S", "k", QStringLiteral("v"),
        "[S]\r\na=1\r\nk=v\r\n" },
    { "a file without a final line end keeps lacking it", "[S]\na=1", "S", "k", QStringLiteral("v"), "[S]\na=1\nk=v" },
    { "the same with CR LF", "[S]\r\na=1", "S", "k", QStringLiteral("v"), "[S]\r\na=1\r\nk=v" },
    { "untouched lines keep their own line ends", "[S]\na=1\r\nb=2\n", "S", "b", QStringLiteral("3"),
        "[S]\na=1\r\nb=3\n" },
    { "a replaced line keeps its own line end", "[S]\nb=2\r\nc=1\n", "S", "b", QStringLiteral("3"),
        "[S]\nb=3\r\nc=1\n" },
    { "the byte-order mark stays", "\xEF\xBB\xBF[S]\n", "S", "k", QStringLiteral("v"), "\xEF\xBB\xBF[S]\nk=v\n" },
    { "bytes that are not UTF-8 stay", "; \xFF\xFE\n[S]\n", "S", "k", QStringLiteral("\u00e9"),
        "; \xFF\xFE\n[S]\nk=\xC3\xA9\n" },
    { "line breaks in a value become spaces", "", "S", "k", QStringLiteral("a\r\nb\nc\rd"), "[S]\nk=a b c d\n" },
    { "a line break cannot start a new section", "", "S", "k", QStringLiteral("x\n[Evil]\ny=1"),
        "[S]\nk=x [Evil] y=1\n" },
    { "a NUL ends the value", "", "S", "k", QString::fromUtf16(u"ab\0cd", 5), "[S]\nk=ab\n" },
    { "no value deletes every entry of the key in the section", "[S]\nk=1\nj=2\nK=3\n[T]\nk=4\n", "S", "k",
        std::nullopt, "[S]\nj=2\n[T]\nk=4\n" },
    { "deleting a missing key leaves the file as it is", "[S]\nj=2", "S", "k", std::nullopt, "[S]\nj=2" },
    { "deleting from a missing file creates none", "<none>", "S", "k", std::nullopt, "<missing>" },
};

TEST_F(IniFileTest, WritesKeysAsTheProfileRulesGive)
{
    for (const WriteCase& c : kWriteCases) {
        SCOPED_TRACE(c.why);
        QFile::remove(path);
        if (c.before != "<none>")
            writeFile(path, c.before);
        ini.writeKeyValue(QString::fromUtf8(c.section), QString::fromUtf8(c.key), c.value);
        EXPECT_FALSE(ini.lastWriteError());
        EXPECT_EQ(readFile(path), c.after);
    }
}

TEST_F(IniFileTest, WrittenValuesReadBack)
{
    ini.writeKeyValue(QStringLiteral("S"), QStringLiteral("a"), QStringLiteral("\" padded \""));
    ini.writeKeyValue(QStringLiteral("S"), QStringLiteral("b"), QStringLiteral(" padded "));
    ini.writeKeyValue(QStringLiteral("S"), QStringLiteral("c"), QStringLiteral("Grüße 😀"));
    EXPECT_EQ(ini.getKey(QStringLiteral("S"), QStringLiteral("a"), {}), QStringLiteral(" padded "));
    EXPECT_EQ(ini.getKey(QStringLiteral("S"), QStringLiteral("b"), {}), QStringLiteral("padded"));
    EXPECT_EQ(ini.getKey(QStringLiteral("S"), QStringLiteral("c"), {}), QStringLiteral("Grüße 😀"));
}

TEST_F(IniFileTest, AWriteThatChangesNothingLeavesTheFileAlone)
{
    writeFile(path, "[S]\nk=v\n");
    const ino_t before = inode(path);
    ini.writeKeyValue(QStringLiteral("s"), QStringLiteral("K"), QStringLiteral("v"));
    EXPECT_EQ(inode(path), before);
    ini.writeKeyValue(QStringLiteral("S"), QStringLiteral("k"), QStringLiteral("w"));
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
    EXPECT_FALSE(ini.addKey(QStringLiteral("S"), QStringLiteral("n"), QStringLiteral("3")));
    EXPECT_EQ(readFile(path), "[S]\nj=2\nn=3\n");

    ini.setFileName(dir.filePath(QStringLiteral("no such folder/test.ini")));
    EXPECT_TRUE(ini.addKey(QStringLiteral("S"), QStringLiteral("n"), QStringLiteral("3")));
    ASSERT_TRUE(ini.lastWriteError());
    EXPECT_EQ(ini.lastWriteError()->path, ini.fileName());
    EXPECT_EQ(ini.lastWriteError()->detail, QStringLiteral("No such file or directory"));
    EXPECT_FALSE(ini.deleteKey(QStringLiteral("S"), QStringLiteral("n"))) << "nothing to delete, nothing written";
    EXPECT_FALSE(ini.lastWriteError());

    ini.setFileName(dir.path());
    EXPECT_TRUE(ini.addKey(QStringLiteral("S"), QStringLiteral("n"), QStringLiteral("3"))) << "a folder";
    ini.setFileName(QString());
    EXPECT_TRUE(ini.addKey(QStringLiteral("S"), QStringLiteral("n"), QStringLiteral("3"))) << "no name";
    EXPECT_TRUE(person.warnings().isEmpty()) << "writes never ask";
}

TEST_F(IniFileTest, ReadOnlyFileIsNotWritten)
{
    writeFile(path, "[S]\nk=1\n");
    test::runUnprivileged({ dir.path() }, [&] {
        makeReadOnly();
        EXPECT_TRUE(ini.addKey(QStringLiteral("S"), QStringLiteral("n"), QStringLiteral("3")));
        EXPECT_TRUE(ini.deleteKey(QStringLiteral("S"), QStringLiteral("k")));
        ASSERT_TRUE(ini.lastWriteError());
        EXPECT_EQ(ini.lastWriteError()->path, path);
        ini.writeSection(QStringLiteral("S"), QStringLiteral("a=1"));
        EXPECT_TRUE(ini.lastWriteError());
        EXPECT_EQ(readFile(path), "[S]\nk=1\n");
        EXPECT_FALSE(ini.addKey(QStringLiteral("S"), QStringLiteral("k"), QStringLiteral("1"))) << "nothing to change";
    });
}

TEST_F(IniFileTest, FileWithoutReadPermissionAsks)
{
    writeFile(path, "[S]\nk=1\n");
    test::runUnprivileged({ dir.path() }, [&] {
        ASSERT_TRUE(QFile::setPermissions(path, QFile::WriteOwner));
        EXPECT_EQ(ini.getKey(QStringLiteral("S"), QStringLiteral("k"), QStringLiteral("d")), QStringLiteral("d"));
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
    struct Case {
        const char* why;
        std::function<void()> read;
        const char* title;
    };
    QString value = QStringLiteral("as passed");
    QStringList list { QStringLiteral("as passed") };
    const Case cases[] = {
        { "GetKeyValue", [&] { ini.getKeyValue(QStringLiteral("S"), QStringLiteral("k"), value); },
            "ViriravEZI, Sub GetKeyValue" },
        { "GetSection", [&] { ini.getSection(QStringLiteral("S"), list); }, "ViriravEZI, Sub GetSection" },
        { "GetAllKeys", [&] { ini.getAllKeys(QStringLiteral("S"), list); }, "ViriravEZI, Sub GetAllKeys" },
        { "GetAllSections", [&] { ini.getAllSections(list); }, "ViriravEZI, Sub GetAllSections" },
    };
    for (const Case& c : cases) {
        for (const WarningAnswer answer : { WarningAnswer::Abort, WarningAnswer::Ignore }) {
            SCOPED_TRACE(c.why);
            person.clear();
            person.addWarningAnswer(answer);
            c.read();
            ASSERT_EQ(person.warnings().size(), 1);
            const QString title = person.warnings()[0].section(u'|', 0, 0);
            const QString text = person.warnings()[0].section(u'|', 1);
            EXPECT_EQ(title, QString::fromUtf8(c.title));
            EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d+, \\S.*$")).match(text).hasMatch())
                << text.toStdString();
            EXPECT_EQ(value, QStringLiteral("as passed"));
            EXPECT_EQ(list, QStringList { QStringLiteral("as passed") });
        }
    }
    EXPECT_EQ(ini.getKey(QStringLiteral("S"), QStringLiteral("k"), QStringLiteral("dflt")), QStringLiteral("dflt"));
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
    ini.writeKeyValue(QStringLiteral("S"), QStringLiteral("k"), QStringLiteral("v"));
    ASSERT_TRUE(ini.lastWriteError());
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
    EXPECT_EQ(ini.getKey(QStringLiteral("S"), QStringLiteral("k"), QStringLiteral("d")), QStringLiteral("d"));

    ini.writeKeyValue(QStringLiteral("S"), QStringLiteral("k"), QStringLiteral("v"));
    ASSERT_FALSE(ini.lastWriteError());
    const QByteArray after = readFile(path);
    EXPECT_TRUE(after.startsWith(garbage)) << "every byte of the file is kept";
    EXPECT_EQ(ini.getKey(QStringLiteral("S"), QStringLiteral("k"), {}), QStringLiteral("v"));
}

TEST_F(IniFileTest, TenMegabyteFile)
{
    QByteArray big = "[Big]\n";
    for (int i = 0; big.size() < 10 * 1024 * 1024; ++i)
        big += "key" + QByteArray::number(i) + " = value number " + QByteArray::number(i) + "\r\n";
    big += "[Options]\r\nUseDate=2\r\n";
    writeFile(path, big);

    EXPECT_EQ(ini.getKey(QStringLiteral("options"), QStringLiteral("usedate"), {}), QStringLiteral("2"));
    EXPECT_EQ(
        ini.getKey(QStringLiteral("Big"), QStringLiteral("KEY200000"), {}), QStringLiteral("value number 200000"));

    QStringList keys;
    ini.getAllKeys(QStringLiteral("Big"), keys);
    ASSERT_GT(keys.size(), 2);
    EXPECT_EQ(keys.last(), QString());
    qsizetype used = 1;
    for (qsizetype i = 0; i + 1 < keys.size(); ++i) {
        EXPECT_EQ(keys[i], QStringLiteral("key") + QString::number(i));
        used += keys[i].size() + 1;
    }
    EXPECT_LE(used, IniFile::kListDeclared);
    const QString next = QStringLiteral("key") + QString::number(keys.size() - 1);
    EXPECT_GT(used + next.size() + 1, IniFile::kListDeclared) << "the buffer was filled";

    ini.writeKeyValue(QStringLiteral("Options"), QStringLiteral("UseDate"), QStringLiteral("1"));
    ASSERT_FALSE(ini.lastWriteError());
    QByteArray expected = big;
    expected.replace(expected.size() - 3, 1, "1");
    EXPECT_EQ(readFile(path), expected);
}

} // namespace

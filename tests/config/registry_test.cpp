// SPDX-License-Identifier: MIT
#include "config/registry.h"

#include "support/testenv.h"
#include "support/testfiles.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <random>

using namespace quillbox;

namespace {

// Points HKCU and HKLM at files in a temporary directory.
class RegistryFiles : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }

    QString userFile() const { return m_dir.filePath(QStringLiteral("user.reg")); }
    QString systemFile() const { return m_dir.filePath(QStringLiteral("system.reg")); }
    void writeUser(const QByteArray& bytes) { test::writeFile(userFile(), bytes); }
    void writeSystem(const QByteArray& bytes) { test::writeFile(systemFile(), bytes); }

    QTemporaryDir m_dir;
    const test::ScopedEnv m_env = test::programFilesIn(m_dir.path());
};

QString get(const char* path)
{
    return getRegValue(QString::fromUtf8(path));
}

// The bytes of a literal, zero bytes included.
template <size_t N> QByteArray bytes(const char (&literal)[N])
{
    return QByteArray(literal, N - 1);
}

} // namespace

TEST(splitRegPath, RootKeyAndValue)
{
    struct Case {
        const char *why, *path;
        RegRoot root;
        const char *key, *value;
    };
    const Case cases[] = {
        { "short machine root", "HKLM\\Software\\Gate\\Path", RegRoot::LocalMachine, "Software\\Gate", "Path" },
        { "trailing backslash names the default value", "hkcu\\Software\\Gate\\", RegRoot::CurrentUser,
            "Software\\Gate", "" },
        { "root in mixed case, key with further backslashes", "HkCu\\A\\B\\C\\D", RegRoot::CurrentUser, "A\\B\\C",
            "D" },
        { "two backslashes in a row leave the key empty", "HKLM\\\\Path", RegRoot::LocalMachine, "", "Path" },
        { "long root form selects nothing", "HKEY_CURRENT_USER\\Software\\Gate\\Path", RegRoot::None, "", "" },
        { "a blank before the root is part of it", " hklm\\Software\\Path", RegRoot::None, "", "" },
        { "no backslash names nothing", "Path", RegRoot::None, "", "" },
        { "one backslash names nothing", "HKLM\\Path", RegRoot::None, "", "" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        const RegPath expected { c.root, QString::fromUtf8(c.key), QString::fromUtf8(c.value) };
        EXPECT_EQ(splitRegPath(QString::fromUtf8(c.path)), expected);
    }
}

TEST_F(RegistryFiles, ValuesByTypeEscapeAndCase)
{
    writeUser(
        "REGEDIT4\r\n\r\n; a comment line\r\n[HKEY_CURRENT_USER\\Software\\Gate]\r\n@=\"default text\"\r\n"
        "\"Path\"=\"C:\\\\Program Files\\\\Gate\\\\gate.exe\"\r\n\"Quoted\"=\"say \\\"hi\\\"\"\r\n"
        "\"HandWritten\"=\"C:\\Tools\\gate\"\r\n\"Spaced\" = \"  around  \"\r\n"
        "\"Utf8\"=\"Gr\xc3\xbc\xc3\x9f\xc3\xa9\"\r\n\"Dword\"=dword:00000031\r\n"
        "\"DwordWide\"=dword:00343332\r\n\"HexString\"=hex:2f,6f,70,74,00\r\n\"HexNoZero\"=hex:2f,6f,70,74\r\n"
        "\"Multi\"=hex(7):6f,6e,65,00,74,77,6f,00,00\r\n\"Wrapped\"=hex:2f,75,73,72,2f,\\\r\n  62,69,6e,00\r\n"
        "\"Twice\"=\"first\"\r\n\"Twice\"=\"second\"\r\n\"Gone\"=\"here\"\r\n\"Gone\"=-\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\Software\\Gate]\r\n\"OtherRoot\"=\"not in this hive\"\r\n"
        "[HKCU\\Software\\Short]\r\n\"Short\"=\"short root in the file\"\r\n"
        "[HKEY_CURRENT_USER\\Software\\Gate\\Sub]\r\n\"Inner\"=\"sub-key\"\r\n"
        "[HKEY_CURRENT_USER\\Software\\Dropped]\r\n\"Value\"=\"dropped with its key\"\r\n"
        "[-HKEY_CURRENT_USER\\Software\\Dropped]\r\n[HKEY_CURRENT_USER\\Software\\Gate]\r\n\"Reopened\"=\"same key "
        "again\"\r\n");
    writeSystem("REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software\\Gate]\n\"Path\"=\"/opt/gate\"\n");

    struct Case {
        const char *why, *path, *expected;
    };
    const Case cases[] = {
        { "default value by @", "HKCU\\Software\\Gate\\", "default text" },
        { "doubled backslashes", "HKCU\\Software\\Gate\\Path", "C:\\Program Files\\Gate\\gate.exe" },
        { "escaped quotes", "HKCU\\Software\\Gate\\Quoted", "say \"hi\"" },
        { "a lone backslash stays as written", "HKCU\\Software\\Gate\\HandWritten", "C:\\Tools\\gate" },
        { "blanks around = are no part of the data", "HKCU\\Software\\Gate\\Spaced", "  around  " },
        { "UTF-8 text", "HKCU\\Software\\Gate\\Utf8", "Gr\xc3\xbc\xc3\x9f\xc3\xa9" },
        { "key and value name in another case", "hkcu\\SOFTWARE\\gate\\PATH", "C:\\Program Files\\Gate\\gate.exe" },
        { "dword: its low three bytes up to a zero", "HKCU\\Software\\Gate\\Dword", "1" },
        { "dword: the top byte is dropped", "HKCU\\Software\\Gate\\DwordWide", "234" },
        { "hex bytes of a string", "HKCU\\Software\\Gate\\HexString", "/opt" },
        { "hex bytes without a zero lose the last", "HKCU\\Software\\Gate\\HexNoZero", "/op" },
        { "multi-string gives its first string", "HKCU\\Software\\Gate\\Multi", "one" },
        { "hex continued on the next line", "HKCU\\Software\\Gate\\Wrapped", "/usr/bin" },
        { "the later of two wins", "HKCU\\Software\\Gate\\Twice", "second" },
        { "a deleted value", "HKCU\\Software\\Gate\\Gone", "" },
        { "a key line of the other root holds nothing here", "HKCU\\Software\\Gate\\OtherRoot", "" },
        { "HKCU as the root of a key line", "HKCU\\Software\\Short\\Short", "short root in the file" },
        { "a sub-key", "HKCU\\Software\\Gate\\Sub\\Inner", "sub-key" },
        { "a sub-key's value is not the parent's", "HKCU\\Software\\Gate\\Inner", "" },
        { "a deleted key", "HKCU\\Software\\Dropped\\Value", "" },
        { "a key given twice", "HKCU\\Software\\Gate\\Reopened", "same key again" },
        { "the machine file", "HKLM\\Software\\Gate\\Path", "/opt/gate" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ(get(c.path), QString::fromUtf8(c.expected));
    }
}

TEST_F(RegistryFiles, DataOfAtMost1024BytesIsRead)
{
    // A string's data counts its terminating zero: 1023 bytes of text fill the buffer exactly.
    const QByteArray fits(1023, 'a');
    const QByteArray tooLong(1024, 'b');
    QByteArray wideTooLong; // 1024 bytes in 512 characters
    for (int i = 0; i < 512; ++i)
        wideTooLong += "\xc3\xa9";
    const QByteArray escaped = QByteArray(1023, '\\'); // 2046 characters in the file, 1023 bytes of data
    const auto hexOf = [](int n) { // wrapped as regedit wraps
        QByteArray hex;
        for (int i = 0; i < n; ++i)
            hex += i + 1 < n ? (i % 25 == 24 ? "41,\\\n  " : "41,") : "00";
        return hex;
    };
    writeUser("REGEDIT4\n[HKEY_CURRENT_USER\\Software\\Big]\n\"Fits\"=\"" + fits + "\"\n\"TooLong\"=\"" + tooLong
        + "\"\n\"WideTooLong\"=\"" + wideTooLong + "\"\n\"Escaped\"=\"" + QByteArray(escaped).replace("\\", "\\\\")
        + "\"\n\"Hex1024\"=hex:" + hexOf(1024) + "\n\"Hex1025\"=hex:" + hexOf(1025) + "\n");

    struct Case {
        const char* why;
        const char* value;
        QByteArray expected;
    };
    const Case cases[] = {
        { "1023 bytes and the zero", "Fits", fits },
        { "1024 bytes and the zero", "TooLong", "" },
        { "bytes are counted, not characters (over)", "WideTooLong", "" },
        { "escapes are counted after unescaping", "Escaped", escaped },
        { "1024 hex bytes over wrapped lines", "Hex1024", QByteArray(1023, 'A') },
        { "1025 hex bytes", "Hex1025", "" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ(getRegValue(QStringLiteral("HKCU\\Software\\Big\\") + QString::fromUtf8(c.value)),
            QString::fromUtf8(c.expected));
    }
}

TEST_F(RegistryFiles, MalformedLinesAreSkippedAndTheRestStillCounts)
{
    writeUser(bytes(
        "REGEDIT4\n\"Orphan\"=\"before any key\"\n[HKEY_CURRENT_USER\\Software\\Gate]\n\"Unterminated\"=\"abc\n"
        "\"Bare\"=abc\n\"Trailing\"=\"a\"b\"\n\"EndsInEscape\"=\"C:\\\"\nUnquoted=\"x\"\n\"NoEquals\" \"x\"\n"
        "\"OddHex\"=hex:41,4,00\n\"BadHex\"=hex:41,zz,00\n\"HexTrailingComma\"=hex:41,42,\n\"BadType\"=hex(zz):41,00\n"
        "\"LongDword\"=dword:123456789\n\"EmptyDword\"=dword:\n\x01\x02\xff\xfe garbage \x00 with a zero\n"
        "\"Good\"=\"still read\"\n[HKEY_CURRENT_USER\\Software\\Gate\n\"Good\"=\"after a broken key line\"\n"
        "[HKEY_CURRENT_USER\\Software\\Other]\n\"Cut\"=hex:41,42,43\\\n"));
    const char* missing[] = { "Orphan", "Unterminated", "Bare", "Trailing", "EndsInEscape", "Unquoted", "NoEquals",
        "OddHex", "BadHex", "HexTrailingComma", "BadType", "LongDword", "EmptyDword" };
    for (const char* name : missing) {
        SCOPED_TRACE(name);
        EXPECT_EQ(getRegValue(QStringLiteral("HKCU\\Software\\Gate\\") + QLatin1String(name)), QString());
    }
    EXPECT_EQ(get("HKCU\\Software\\Gate\\Good"), QStringLiteral("still read"));
    EXPECT_EQ(get("HKCU\\Software\\Other\\Cut"), QString()) << "hex data cut off at the end of the file";
}

TEST_F(RegistryFiles, FilesThatHoldNothing)
{
    const QByteArray body = "[HKEY_CURRENT_USER\\Software\\Gate]\n\"Path\"=\"/opt/gate\"\n";
    QByteArray garbage(8192, '\0');
    std::mt19937 random(20240229);
    for (char& c : garbage)
        c = char(random());

    struct Case {
        const char* why;
        QByteArray file;
        const char* expected;
    };
    const Case cases[] = {
        { "sound file (the check itself)", "REGEDIT4\n" + body, "/opt/gate" },
        { "UTF-8 byte-order mark before the header", "\xef\xbb\xbfREGEDIT4\n" + body, "/opt/gate" },
        { "the UTF-16 export's header", "Windows Registry Editor Version 5.00\n" + body, "" },
        { "binary garbage after the header", "REGEDIT4\n" + garbage, "" },
        { "empty file", "", "" },
        { "a line of 100 KiB, then the value", "REGEDIT4\n" + QByteArray(100 * 1024, 'x') + '\n' + body, "/opt/gate" },
        { "the value's line runs over 100 KiB",
            "REGEDIT4\n" + body + "\"Path\"=\"" + QByteArray(100 * 1024, 'x') + "\"\n", "" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        writeUser(c.file);
        EXPECT_EQ(get("HKCU\\Software\\Gate\\Path"), QString::fromUtf8(c.expected));
    }
}

TEST_F(RegistryFiles, FilesThatAreNotRegularFilesHoldNothing)
{
    // /dev/zero would never end.
    for (const QString& file :
        { QStringLiteral("/dev/zero"), m_dir.path(), m_dir.filePath(QStringLiteral("missing.reg")) }) {
        qputenv("QUILLBOX_HKCU", QFile::encodeName(file));
        EXPECT_EQ(get("HKCU\\Software\\Gate\\Path"), QString()) << file.toStdString();
    }
}

TEST_F(RegistryFiles, ATruncatedFileNeverGivesPartOfAString)
{
    const QByteArray full = "REGEDIT4\r\n[HKEY_CURRENT_USER\\Software\\Gate]\r\n"
                            "\"Path\"=\"/opt/gate \\\"app\\\"/bin\"\r\n\"Next\"=\"x\"\r\n";
    const QString whole = QStringLiteral("/opt/gate \"app\"/bin");
    for (qsizetype n = 0; n <= full.size(); ++n) {
        writeUser(full.left(n));
        const QString got = get("HKCU\\Software\\Gate\\Path");
        if (!got.isEmpty()) {
            EXPECT_EQ(got, whole) << "file cut after " << n << " bytes";
        }
    }
    EXPECT_EQ(get("HKCU\\Software\\Gate\\Path"), whole);
}

TEST_F(RegistryFiles, UserFileDefaultsToTheConfigFolder)
{
    qunsetenv("QUILLBOX_HKCU");
    const test::ScopedEnv config { { "XDG_CONFIG_HOME", m_dir.path() } };
    ASSERT_TRUE(QDir(m_dir.path()).mkpath(QStringLiteral("Brindlewick")));
    test::writeFile(m_dir.filePath(QStringLiteral("Brindlewick/user.reg")),
        "REGEDIT4\n[HKEY_CURRENT_USER\\Software\\Gate]\n\"Path\"=\"from the config folder\"\n");
    EXPECT_EQ(get("HKCU\\Software\\Gate\\Path"), QStringLiteral("from the config folder"));
}

TEST_F(RegistryFiles, AccessSettingsInTwoSteps)
{
    const QByteArray programKey = "REGEDIT4\n[HKEY_CURRENT_USER\\Software\\Brindlewick\\Quillbox]\n";
    const QByteArray arguments = "\"AllowAccess\"=\" /open \\\"all\\\" \"\n\"DisallowAccess\"=\"/close\"\n";
    const QByteArray gateKeys = "[HKEY_CURRENT_USER\\Software\\Gate]\n@=\"/usr/bin/gate default\"\n"
                                "\"Path\"=\"/usr/bin/gate user\"\n";

    struct Case {
        const char* why;
        QByteArray user;
        AccessSettings expected;
    };
    const QString open = QStringLiteral(" /open \"all\" "), close = QStringLiteral("/close");
    const Case cases[] = {
        { "no user file", {}, {} },
        { "no AccessProg: the arguments are not read either", programKey + arguments, {} },
        { "machine value", programKey + "\"AccessProg\"=\"HKLM\\\\Software\\\\Gate\\\\Path\"\n" + arguments,
            { QStringLiteral("/opt/gate app/gate"), open, close } },
        { "user default value", programKey + "\"AccessProg\"=\"hkcu\\\\Software\\\\Gate\\\\\"\n" + arguments + gateKeys,
            { QStringLiteral("/usr/bin/gate default"), open, close } },
        { "program key in another case, no arguments",
            "REGEDIT4\n[HKEY_CURRENT_USER\\SOFTWARE\\brindlewick\\QUILLBOX]\n"
            "\"accessprog\"=\"HKCU\\\\Software\\\\Gate\\\\Path\"\n"
                + gateKeys,
            { QStringLiteral("/usr/bin/gate user"), {}, {} } },
        { "target value missing: no program",
            programKey + "\"AccessProg\"=\"HKLM\\\\Software\\\\Gate\\\\Missing\"\n" + arguments, { {}, open, close } },
    };
    writeSystem("REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software\\Gate]\n\"Path\"=\"/opt/gate app/gate\"\n");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        QFile::remove(userFile());
        if (!c.user.isNull())
            writeUser(c.user);
        EXPECT_EQ(readAccessSettings(), c.expected);
    }
}

TEST(accessCommandLine, QuotedProgramAndArgumentsAsRead)
{
    struct Case {
        const char *why, *program, *arguments, *expected;
    };
    const Case cases[] = {
        { "a path with spaces", "/opt/gate app/gate", "--allow", "\"/opt/gate app/gate\" --allow" },
        { "empty arguments leave one space", "/usr/bin/gate", "", "\"/usr/bin/gate\" " },
        { "arguments exactly as read", "/usr/bin/gate", " a  \"b c\" ", "\"/usr/bin/gate\"  a  \"b c\" " },
        { "a quote in the path is doubled", "/opt/say \"hi\"/gate", "x", "\"/opt/say \"\"hi\"\"/gate\" x" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ(accessCommandLine(QString::fromUtf8(c.program), QString::fromUtf8(c.arguments)),
            QString::fromUtf8(c.expected));
    }
}

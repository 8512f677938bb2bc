// SPDX-License-Identifier: MIT
// Feeds arbitrary files to the INI reader and the registry file reader, and checks what must hold for every
// file:
// - every section listed has its entries listed, each list ends with one empty element, and every key
//   listed with a value reads back through getKey (the default coming back only for an empty value);
// - a value written into the file reads back as written, and leaves the other sections' entries alone;
// - a registry value reads as text of fewer than 1024 bytes of UTF-8.
// The file is written into a temporary directory, once as the INI file and once as the user's registry.
#include "app/headlessperson.h"
#include "config/inifile.h"
#include "config/registry.h"
#include "fuzzcheck.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

using namespace quillbox;
using quillbox::fuzz::check;

namespace {

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    check(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size());
}

QStringList entriesOf(IniFile& ini, const QString& section)
{
    QStringList entries;
    ini.getSection(section, entries);
    check(!entries.isEmpty() && entries.last().isEmpty());
    return entries;
}

void checkIni(IniFile& ini)
{
    QStringList sections;
    ini.getAllSections(sections);
    check(!sections.isEmpty() && sections.last().isEmpty());
    sections.removeLast();
    QList<QStringList> before;
    for (const QString& section : sections) {
        before << entriesOf(ini, section);
        QStringList keys;
        ini.getAllKeys(section, keys);
        check(!keys.isEmpty() && keys.last().isEmpty());
        keys.removeLast();
        for (const QString& key : keys)
            (void)ini.getKey(section, key, QStringLiteral("default"));
    }
    const QString value = QStringLiteral("written \"value\"");
    ini.writeKeyValue(QStringLiteral("Fuzz"), QStringLiteral("Written"), value);
    if (ini.lastWriteError())
        return;
    check(ini.getKey(QStringLiteral("Fuzz"), QStringLiteral("Written"), {}) == value);
    for (qsizetype i = 0; i < sections.size(); ++i)
        if (sections[i].compare(QStringLiteral("Fuzz"), Qt::CaseInsensitive) != 0)
            check(entriesOf(ini, sections[i]) == before[i]);
}

void checkRegistry()
{
    for (const char* path : { "HKCU\\Software\\Brindlewick\\Quillbox\\AccessProg", "HKCU\\A\\", "hkcu\\a\\b\\c" })
        check(getRegValue(QString::fromLatin1(path)).toUtf8().size() < 1024);
    (void)readAccessSettings();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/quillbox-fuzz-XXXXXX"));
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const QString path = dir.filePath(QStringLiteral("fuzz.ini"));
    writeFile(path, bytes);
    HeadlessPerson person(stdout);
    IniFile ini(person);
    ini.setFileName(path);
    checkIni(ini);

    const QString reg = dir.filePath(QStringLiteral("user.reg"));
    writeFile(reg, bytes);
    qputenv("QUILLBOX_HKCU", reg.toLocal8Bit());
    checkRegistry();
    return 0;
}

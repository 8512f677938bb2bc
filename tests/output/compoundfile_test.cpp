// SPDX-License-Identifier: MIT
// The compound-file writer against libgsf (its reader, and the file its writer makes of the same entries)
// and olefile (tests/support/readcfb.py, which checks the directory's trees too), for tables and sample mails.
#include "core/gobjectptr.h"
#include "mail/store.h"
#include "output/msg/compoundfile.h"
#include "output/msg/msgwriter.h"
#include "support/msgprops.h"
#include "support/qtprinters.h"
#include "support/storewalk.h"
#include "support/testfiles.h"

#include <QCryptographicHash>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gmock/gmock.h>
#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-input-memory.h>
#include <gsf/gsf-outfile-msole.h>
#include <gsf/gsf-output-memory.h>
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <random>

using namespace quillbox;
using msg::CompoundFile;
using Storage = CompoundFile::Storage;

namespace {

// Every storage ("storage " and its class id in hex) and stream ("stream " and the SHA-256 of its bytes)
// by its path, the names joined by '/', the root "": the form readcfb.py prints.
using Tree = std::map<QString, QString>;

QString describe(bool storage, const QByteArray& content)
{
    return storage ? QStringLiteral("storage ") + QString::fromLatin1(content.toHex())
                   : QStringLiteral("stream ")
            + QString::fromLatin1(QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex());
}

QByteArray bytesOf(const guint8* data, size_t size)
{
    return QByteArray(reinterpret_cast<const char*>(data), qsizetype(size));
}

Tree expectedTree(const CompoundFile& file)
{
    const auto& entries = file.entries();
    std::vector<QString> paths(entries.size());
    Tree tree { { QString(), describe(true, bytesOf(file.rootClassId().data(), 16)) } };
    for (size_t i = 1; i < entries.size(); ++i) {
        const QString& parent = paths[size_t(entries[i].parent)];
        paths[i] = parent.isEmpty() ? entries[i].name : parent + u'/' + entries[i].name;
        tree[paths[i]] = describe(entries[i].isStorage, entries[i].isStorage ? QByteArray(16, 0) : entries[i].data);
    }
    return tree;
}

void readStorage(GsfInfile* storage, const QString& path, Tree& tree)
{
    guint8 classId[16];
    gsf_infile_msole_get_class_id(GSF_INFILE_MSOLE(storage), classId);
    tree[path] = describe(true, bytesOf(classId, 16));
    for (int i = 0; i < gsf_infile_num_children(storage); ++i) {
        GPtr<GsfInput> child(gsf_infile_child_by_index(storage, i));
        const QString name = QString::fromUtf8(gsf_infile_name_by_index(storage, i));
        const QString childPath = path.isEmpty() ? name : path + u'/' + name;
        if (gsf_infile_num_children(GSF_INFILE(child.get())) >= 0) {
            readStorage(GSF_INFILE(child.get()), childPath, tree);
        } else {
            const size_t size = size_t(gsf_input_size(child.get()));
            tree[childPath] = describe(false, size ? bytesOf(gsf_input_read(child.get(), size, nullptr), size) : "");
        }
    }
}

Tree readByLibgsf(const QByteArray& file)
{
    GPtr<GsfInput> input(gsf_input_memory_new(reinterpret_cast<const guint8*>(file.constData()), file.size(), FALSE));
    GError* error = nullptr;
    GPtr<GsfInfile> root(gsf_infile_msole_new(input.get(), &error));
    Tree tree;
    if (root)
        readStorage(root.get(), QString(), tree);
    else
        ADD_FAILURE() << "libgsf cannot read the file: " << (error ? error->message : "");
    g_clear_error(&error);
    return tree;
}

// The file libgsf's writer makes of the storages and streams of `file`, added in the same order.
QByteArray writtenByLibgsf(const CompoundFile& file)
{
    GPtr<GsfOutput> sink(gsf_output_memory_new());
    const auto& entries = file.entries();
    std::vector<GPtr<GsfOutfile>> storages(entries.size());
    storages[0].reset(gsf_outfile_msole_new(sink.get()));
    gsf_outfile_msole_set_class_id(GSF_OUTFILE_MSOLE(storages[0].get()), file.rootClassId().data());
    for (size_t i = 1; i < entries.size(); ++i) {
        GsfOutfile* parent = storages[size_t(entries[i].parent)].get();
        GsfOutput* child = gsf_outfile_new_child(parent, entries[i].name.toUtf8().constData(), entries[i].isStorage);
        if (entries[i].isStorage) {
            storages[i].reset(GSF_OUTFILE(child));
            continue;
        }
        const QByteArray& data = entries[i].data;
        gsf_output_write(child, size_t(data.size()), reinterpret_cast<const guint8*>(data.constData()));
        gsf_output_close(child);
        g_object_unref(child);
    }
    for (auto it = storages.rbegin(); it != storages.rend(); ++it) // storages before their parents
        if (*it)
            gsf_output_close(GSF_OUTPUT(it->get()));
    return bytesOf(gsf_output_memory_get_bytes(GSF_OUTPUT_MEMORY(sink.get())), size_t(gsf_output_size(sink.get())));
}

// Checks each file with libgsf at once, and keeps it for olefile, which reads them all in one run at the end.
class Checker {
public:
    void check(const CompoundFile& file, const QString& label)
    {
        SCOPED_TRACE(qPrintable(label));
        const Tree expected = expectedTree(file);
        ASSERT_EQ(readByLibgsf(writtenByLibgsf(file)), expected) << "libgsf's own file";
        const Result<QByteArray> bytes = CompoundFile(file).toBytes();
        ASSERT_TRUE(bytes.ok()) << qPrintable(bytes.error().describe());
        EXPECT_EQ(readByLibgsf(*bytes), expected);
        const QString path = m_dir.filePath(QString::number(m_files.size()));
        test::writeFile(path, *bytes);
        m_files[path] = { label, expected };
    }

    void checkWithOlefile()
    {
        const QString python = test::pythonWithOlefile();
        ASSERT_FALSE(python.isEmpty()) << "python3-olefile is not installed (run scripts/setup.sh)";
        QProcess process;
        process.start(python, QStringList { QStringLiteral(SOURCE_DIR "/tests/support/readcfb.py") } + paths());
        ASSERT_TRUE(process.waitForFinished(300000) && process.exitCode() == 0)
            << process.readAllStandardError().toStdString();
        const QJsonObject read = QJsonDocument::fromJson(process.readAllStandardOutput()).object();
        for (const auto& [path, file] : m_files) {
            SCOPED_TRACE(qPrintable(file.first));
            const QJsonObject found = read[path].toObject();
            EXPECT_EQ(found[u"problems"].toVariant().toStringList(), QStringList());
            const QJsonObject entries = found[u"entries"].toObject();
            Tree tree;
            for (auto it = entries.begin(); it != entries.end(); ++it)
                tree[it.key()] = it.value().toString();
            EXPECT_EQ(tree, file.second);
        }
    }

    QStringList paths() const
    {
        QStringList out;
        for (const auto& [path, file] : m_files)
            out << path;
        return out;
    }

private:
    QTemporaryDir m_dir;
    std::map<QString, std::pair<QString, Tree>> m_files; // by path: the label and what was added
};

QByteArray pseudoRandomBytes(qsizetype size, unsigned seed)
{
    std::mt19937 generator(seed);
    QByteArray out(size, Qt::Uninitialized);
    for (char& c : out)
        c = char(generator() & 0xFF);
    return out;
}

// Names that sort differently by length, case and code unit; no two are equal upper-cased.
const QStringList kNames = { "b", "A", "aa", "AB", "c", "Zz", "é", "ß", "_", "a_", "Ä0", "__properties_version1.0",
    "__substg1.0_0037001F", "__substg1.0_1000001F", "x😀", "~" };

void streams(CompoundFile& file, Storage parent, std::initializer_list<qsizetype> sizes)
{
    for (qsizetype size : sizes)
        file.addStream(parent, QStringLiteral("s%1").arg(size), pseudoRandomBytes(size, unsigned(size)));
}

void manyStreams(CompoundFile& file, int count, qsizetype size)
{
    for (int i = 0; i < count; ++i)
        file.addStream(Storage::Root, QString::number(i), pseudoRandomBytes(size, unsigned(i)));
}

struct Case {
    const char* why;
    std::function<void(CompoundFile&)> build;
};

const Case kCases[] = {
    { "the root alone", [](CompoundFile&) {} },
    { "streams at the mini-sector, sector and mini-stream limits, in the root and in a storage",
        [](CompoundFile& f) {
            for (Storage s : { Storage::Root, f.addStorage(Storage::Root, "sub") })
                streams(f, s, { 0, 1, 63, 64, 65, 511, 512, 513, 4095, 4096, 4097 });
        } },
    { "only an empty stream: no mini stream", [](CompoundFile& f) { streams(f, Storage::Root, { 0 }); } },
    { "only a large stream: no mini stream and no mini FAT",
        [](CompoundFile& f) { streams(f, Storage::Root, { 4096 }); } },
    { "4 entries fill one directory sector", [](CompoundFile& f) { manyStreams(f, 3, 10); } },
    { "8 entries fill two, a storage among them",
        [](CompoundFile& f) {
            streams(f, f.addStorage(Storage::Root, "sub"), { 1, 2, 3, 4, 5, 6 });
        } },
    { "128 mini sectors fill one mini FAT sector", [](CompoundFile& f) { manyStreams(f, 128, 64); } },
    { "129 need a second one", [](CompoundFile& f) { manyStreams(f, 129, 64); } },
    { "storages of 1 to 16 entries: every shape of tree, names of every kind",
        [](CompoundFile& f) {
            for (int count = 1; count <= 16; ++count) {
                const Storage s = f.addStorage(Storage::Root, QString::number(count));
                for (int i = 0; i < count; ++i)
                    f.addStream(s, kNames[i], pseudoRandomBytes(i * 100, unsigned(i)));
            }
        } },
    { "names of 31 UTF-16 units, one with a character outside the BMP",
        [](CompoundFile& f) {
            f.addStream(f.addStorage(Storage::Root, QString(31, u's')), QString(29, u'n') + "😀", "x");
        } },
    { "storages nested 8 deep",
        [](CompoundFile& f) {
            Storage s = Storage::Root;
            for (int depth = 0; depth < 8; ++depth) {
                s = f.addStorage(s, QStringLiteral("level %1").arg(depth));
                streams(f, s, { depth * 1000 });
            }
        } },
    { "1000 streams in one storage", [](CompoundFile& f) { manyStreams(f, 1000, 30); } },
    { "1000 streams added in many short sorted runs, to be merged",
        [](CompoundFile& f) {
            for (int i = 0; i < 1000; ++i)
                f.addStream(Storage::Root, QString::number(i * 389 % 1000), "x");
        } },
    // 13842 sectors of data and one of directory need exactly the 109 FAT sectors the header lists.
    { "the FAT fills the header's 109 places", [](CompoundFile& f) { streams(f, Storage::Root, { 13842 * 512 }); } },
    { "one byte more needs a DIFAT sector", [](CompoundFile& f) { streams(f, Storage::Root, { 13842 * 512 + 1 }); } },
    { "16 MiB need two DIFAT sectors",
        [](CompoundFile& f) {
            streams(f, Storage::Root, { 16 << 20, 100 });
        } },
};

} // namespace

TEST(CompoundFile, ReadersFindWhatWasAdded)
{
    Checker checker;
    for (const Case& c : kCases) {
        CompoundFile file({ 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16 });
        c.build(file);
        checker.check(file, QString::fromUtf8(c.why));
    }
    checker.checkWithOlefile();
}

TEST(CompoundFile, SameAsLibgsfForTheMsgFileOfEveryMailOfTheSampleStores)
{
    QStringList stores { QStringLiteral(SOURCE_DIR "/samples/Sample Mailbox") };
    for (const QFileInfo& file :
        QDir(QStringLiteral(TEST_DATA_DIR "/pst")).entryInfoList({ QStringLiteral("*.pst"), QStringLiteral("*.ost") }))
        stores << file.filePath();
    Checker checker;
    for (const QString& location : stores) {
        auto store = mail::openStore(QStringLiteral("Sample"), location);
        auto top = store ? (*store)->topFolder() : store.error();
        if (!top)
            continue; // a damaged sample store: its own tests check what it gives
        std::vector<test::ListedItem> items;
        (void)test::walk(**top, items);
        for (const test::ListedItem& listed : items)
            if (auto item = (*store)->item(listed.summary.entryID))
                if (const Result<CompoundFile> file = msg::msgCompoundFile(**item))
                    checker.check(*file, location + QStringLiteral(": ") + listed.summary.subject);
    }
    EXPECT_GT(checker.paths().size(), 200) << "the sample stores hold more than 200 items";
    checker.checkWithOlefile();
}

TEST(CompoundFile, NamesReadersCannotTakeAreRefused)
{
    struct NameCase {
        const char* why;
        QStringList names; // of streams in the root
        const char* error; // part of the error's detail; none when the names are fine
    };
    const NameCase cases[] = {
        { "31 UTF-16 units fit", { QString(31, u'a') }, nullptr },
        { "32 do not", { QString(32, u'a') }, "has 32 UTF-16 units" },
        { "a character outside the BMP counts twice", { QString(30, u'a') + "😀" }, "has 32 UTF-16 units" },
        { "no name", { QString() }, "has no name" },
        { "a slash", { "a/b" }, "contains '/'" },
        { "an exclamation mark", { "a!" }, "contains '!'" },
        { "the same name twice", { "Name", "Name" }, "name two entries of one storage" },
        { "names that differ in case only", { "Name", "NAME" }, "name two entries of one storage" },
        { "non-ASCII names that differ in case only", { "Ärger", "ärger" }, "name two entries of one storage" },
        { "names that upper-case alike only with full case mapping", { "ß", "S" }, nullptr },
    };
    for (const NameCase& c : cases) {
        SCOPED_TRACE(c.why);
        CompoundFile file({});
        for (const QString& name : c.names)
            file.addStream(Storage::Root, name, "x");
        const Result<QByteArray> bytes = std::move(file).toBytes();
        ASSERT_EQ(bytes.ok(), c.error == nullptr);
        if (c.error) {
            EXPECT_EQ(bytes.error().code, Error::Code::WriteFailed);
            EXPECT_THAT(bytes.error().detail.toStdString(), testing::HasSubstr(c.error));
        }
    }
}

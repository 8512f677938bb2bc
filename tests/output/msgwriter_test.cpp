// SPDX-License-Identifier: MIT
// The .msg writer, checked by our own walk over the file's layout (which readers rely on but rarely check)
// and by a real reader, @kenjiuno/msgreader, for what a person opening the file would see.
#include "core/gobjectptr.h"
#include "mail/maildir/maildirmessage.h"
#include "output/formats.h"
#include "output/msg/msgvalues.h"
#include "output/msg/msgwriter.h"
#include "support/childpeak.h"
#include "support/fakemail.h"
#include "support/msgprops.h"
#include "support/msgreader.h"
#include "support/qtprinters.h"
#include "support/storewalk.h"
#include "support/testenv.h"
#include "support/testfiles.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimeZone>
#include <QtEndian>
#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-input-memory.h>
#include <gsf/gsf-utils.h>
#include <gtest/gtest.h>

#include <functional>
#include <map>

// Readable failure output for the Qt values compared below.
void PrintTo(const QJsonValue& value, std::ostream* os)
{
    *os << QJsonDocument(QJsonArray { value }).toJson(QJsonDocument::Compact).toStdString();
}

using namespace quillbox;
using quillbox::mail::Recipient;
using quillbox::test::AttachmentData;
using quillbox::test::berlin;
using quillbox::test::FakeMailItem;
using quillbox::test::MailData;
using quillbox::test::readWithMsgReader;

namespace {

MailData emptyMail()
{
    MailData m;
    m.summary.creationTime = berlin(2023, 12, 24, 18, 0, 0);
    m.summary.sentOn = mail::noDate();
    m.summary.receivedTime = mail::noDate();
    m.summary.sent = false;
    return m;
}

MailData plainMail()
{
    MailData m;
    m.summary.creationTime = berlin(2024, 3, 1, 10, 0, 0);
    m.summary.sentOn = berlin(2024, 3, 1, 9, 58, 30);
    m.summary.receivedTime = berlin(2024, 3, 1, 9, 59, 45);
    m.summary.sent = true;
    m.summary.senderEmailAddress = QStringLiteral("alice@example.org");
    m.summary.subject = QStringLiteral("Quarterly figures");
    m.summary.to = QStringLiteral("Bob Miller");
    m.senderName = QStringLiteral("Alice Smith");
    m.displayCc = QStringLiteral("carol@example.org");
    m.recipients = { { QStringLiteral("Bob Miller"), QStringLiteral("bob@example.org"), Recipient::Type::To },
        { QString(), QStringLiteral("carol@example.org"), Recipient::Type::Cc },
        { QStringLiteral("Dave"), QStringLiteral("dave@example.org"), Recipient::Type::Bcc } };
    m.plainBody = QStringLiteral("Hello Bob,\r\nthe figures are attached.\r\n");
    m.htmlBody = QStringLiteral("<html><body><p>Hello Bob,</p></body></html>");
    m.attachments.push_back({ QStringLiteral("figures.csv"), QStringLiteral("text/csv"), "q1;q2\n10;20\n", {}, {} });
    return m;
}

MailData nonAsciiMail()
{
    MailData m = plainMail();
    m.summary.subject = QStringLiteral("Grüße aus Köln – 東京の会議 📅");
    m.summary.senderEmailAddress = QStringLiteral("jürgen@bücher.example");
    m.senderName = QStringLiteral("Jürgen Groß");
    m.summary.to = QStringLiteral("山田 太郎");
    m.recipients = { { QStringLiteral("山田 太郎"), QStringLiteral("taro@example.jp"), Recipient::Type::To } };
    m.plainBody = QStringLiteral("Schöne Grüße 😀\r\n日本語のテキスト\r\n");
    m.htmlBody = QStringLiteral("<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; "
                                "charset=iso-8859-1\"></head><body>Schöne Grüße 😀 日本語</body></html>");
    m.attachments = { { QStringLiteral("Bericht über Ärger 報告書.pdf"), QStringLiteral("application/pdf"),
        QByteArray("%PDF-1.4\0\xff\xfe", 11), {}, {} } };
    return m;
}

MailData mailWithEmbeddedMail()
{
    auto inner = std::make_shared<MailData>(plainMail());
    inner->summary.subject = QStringLiteral("The original message");
    inner->summary.sentOn = berlin(2024, 6, 28, 17, 30, 0); // summer time
    inner->attachments
        = { { QStringLiteral("inner.txt"), QStringLiteral("text/plain"), "inside the inner mail", {}, {} } };
    MailData m = plainMail();
    m.summary.subject = QStringLiteral("Fwd: The original message");
    m.attachments.push_back({ QStringLiteral("The original message.eml"), QStringLiteral("message/rfc822"),
        "From: alice@example.org\r\n\r\nbody", {}, inner });
    return m;
}

MailData rtfMailWithHeaders()
{
    MailData m = plainMail();
    m.htmlBody.clear();
    m.rtfBody = QByteArrayLiteral("{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Arial;}}\\f0 Hello \\'e4\\par}");
    m.transportHeaders = QStringLiteral("Received: from mx.example.org\r\nMessage-ID: <1@example.org>\r\n\r\n");
    return m;
}

QByteArray writeToMemory(const MailData& data)
{
    const Result<QByteArray> bytes = msg::msgBytes(FakeMailItem(data));
    EXPECT_TRUE(bytes.ok()) << qPrintable(bytes.ok() ? QString() : bytes.error().describe());
    return bytes.ok() ? *bytes : QByteArray();
}

// --- The structural walk -------------------------------------------------------------------------

enum class Owner { Top, Embedded, RecipientOrAttachment };

struct Child {
    bool storage = false;
    QByteArray bytes; // a stream's contents
    GPtr<GsfInfile> infile; // a storage
};

std::map<QString, Child> childrenOf(GsfInfile* storage)
{
    std::map<QString, Child> out;
    for (int i = 0; i < gsf_infile_num_children(storage); ++i) {
        Child child;
        GsfInput* input = gsf_infile_child_by_index(storage, i);
        if (GSF_IS_INFILE(input) && gsf_infile_num_children(GSF_INFILE(input)) >= 0) {
            child.storage = true;
            child.infile.reset(GSF_INFILE(input));
        } else {
            child.bytes.resize(gsf_input_size(input));
            if (!child.bytes.isEmpty())
                gsf_input_read(input, size_t(child.bytes.size()), reinterpret_cast<guint8*>(child.bytes.data()));
            g_object_unref(input);
        }
        out.emplace(QString::fromUtf8(gsf_infile_name_by_index(storage, i)), std::move(child));
    }
    return out;
}

quint32 le32(const QByteArray& bytes, qsizetype at)
{
    return qFromLittleEndian<quint32>(bytes.constData() + at);
}

QString hex8(quint32 v)
{
    return QStringLiteral("%1").arg(v, 8, 16, QLatin1Char('0')).toUpper();
}

// Checks one object's storage and everything below it; every fault is added to `problems`.
void checkStorage(GsfInfile* storage, Owner owner, const QString& where, QStringList& problems)
{
    const auto complain = [&](const QString& what) { problems << where + QLatin1String(": ") + what; };
    std::map<QString, Child> children = childrenOf(storage);

    const auto props = children.find(QStringLiteral("__properties_version1.0"));
    if (props == children.end() || props->second.storage)
        return complain(QStringLiteral("no property stream"));
    const QByteArray& stream = props->second.bytes;
    const qsizetype headerSize = owner == Owner::Top ? 32 : owner == Owner::Embedded ? 24 : 8;
    if (stream.size() < headerSize || (stream.size() - headerSize) % 16 != 0)
        return complain(QStringLiteral("property stream of %1 bytes").arg(stream.size()));

    QSet<QString> described;
    for (qsizetype at = headerSize; at < stream.size(); at += 16) {
        const quint32 tag = le32(stream, at), size = le32(stream, at + 8);
        const QString name = QStringLiteral("__substg1.0_") + hex8(tag);
        const auto value = children.find(name);
        const bool isStream = value != children.end() && !value->second.storage;
        described << name;
        switch (tag & 0xFFFF) {
        case 0x001F:
        case 0x0102: {
            if (!isStream) {
                complain(name + QStringLiteral(" is missing"));
                break;
            }
            const QByteArray& bytes = value->second.bytes;
            const bool unicode = (tag & 0xFFFF) == 0x001F;
            if (size != quint32(bytes.size()) + (unicode ? 2 : 0))
                complain(
                    QStringLiteral("%1: entry says %2 bytes, stream has %3").arg(name).arg(size).arg(bytes.size()));
            if (unicode && bytes.size() % 2 != 0)
                complain(name + QStringLiteral(" is not UTF-16"));
            else if (unicode
                && QStringView(reinterpret_cast<const char16_t*>(bytes.constData()), bytes.size() / 2)
                       .contains(QChar(0)))
                complain(name + QStringLiteral(" holds a NUL"));
            break;
        }
        case 0x000D:
            if (size != 0xFFFFFFFFu)
                complain(name + QStringLiteral(": an embedded message's size must be 0xFFFFFFFF"));
            if (value == children.end() || !value->second.storage)
                complain(name + QStringLiteral(" is not a storage"));
            else
                checkStorage(value->second.infile.get(), Owner::Embedded, where + u'/' + name, problems);
            break;
        case 0x0003:
        case 0x000B:
        case 0x0040:
            if (value != children.end())
                complain(name + QStringLiteral(": a fixed-size property with a stream"));
            if (le32(stream, at + 4) & ~0x7u)
                complain(name + QStringLiteral(": unknown flags"));
            break;
        default:
            complain(QStringLiteral("unexpected property type in %1").arg(hex8(tag)));
        }
    }
    for (const auto& [name, child] : children)
        if (name.startsWith(QLatin1String("__substg1.0_")) && !described.contains(name))
            complain(name + QStringLiteral(" has no entry in the property stream"));

    const auto nameIds = children.find(QStringLiteral("__nameid_version1.0"));
    if ((nameIds != children.end()) != (owner == Owner::Top))
        complain(QStringLiteral("the named-property storage belongs at the top only"));
    if (nameIds != children.end()) {
        const std::map<QString, Child> streams = childrenOf(nameIds->second.infile.get());
        for (const char* s : { "__substg1.0_00020102", "__substg1.0_00030102", "__substg1.0_00040102" })
            if (streams.count(QLatin1String(s)) == 0)
                complain(QStringLiteral("__nameid_version1.0 lacks ") + QLatin1String(s));
    }
    if (owner == Owner::RecipientOrAttachment)
        return;

    // Recipients and attachments are numbered from 0 without gaps, and the header counts them.
    const quint32 recipients = le32(stream, 16), attachments = le32(stream, 20);
    if (le32(stream, 8) < recipients || le32(stream, 12) < attachments)
        complain(QStringLiteral("next recipient or attachment number below the count"));
    for (const auto& [prefix, count] : { std::pair(QStringLiteral("__recip_version1.0_#"), recipients),
             std::pair(QStringLiteral("__attach_version1.0_#"), attachments) }) {
        const auto found = std::count_if(
            children.begin(), children.end(), [&](const auto& c) { return c.first.startsWith(prefix); });
        if (found != count)
            complain(QStringLiteral("%1 storages: header says %2, file has %3").arg(prefix).arg(count).arg(found));
        for (quint32 i = 0; i < count; ++i) {
            const auto it = children.find(prefix + hex8(i));
            if (it == children.end() || !it->second.storage)
                complain(prefix + hex8(i) + QStringLiteral(" is missing"));
            else
                checkStorage(it->second.infile.get(), Owner::RecipientOrAttachment, where + u'/' + it->first, problems);
        }
    }
}

GPtr<GsfInfile> openCompoundFile(const QByteArray& file, QString* why = nullptr)
{
    GPtr<GsfInput> input(gsf_input_memory_new(reinterpret_cast<const guint8*>(file.constData()), file.size(), FALSE));
    GError* error = nullptr;
    GPtr<GsfInfile> root(gsf_infile_msole_new(input.get(), &error));
    if (why && error)
        *why = QString::fromUtf8(error->message);
    g_clear_error(&error);
    return root;
}

// Opens `file` as a compound file; checks the root's class id and walks every storage.
QStringList structuralProblems(const QByteArray& file)
{
    QString why;
    GPtr<GsfInfile> root = openCompoundFile(file, &why);
    if (!root)
        return { QStringLiteral("not a compound file: ") + why };
    QStringList problems;
    guint8 classId[16];
    gsf_infile_msole_get_class_id(GSF_INFILE_MSOLE(root.get()), classId);
    const guint8 message[16] = { 0x0B, 0x0D, 0x02, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46 };
    if (memcmp(classId, message, 16) != 0)
        problems << QStringLiteral("root class id is not {00020D0B-0000-0000-C000-000000000046}");
    checkStorage(root.get(), Owner::Top, QStringLiteral("root"), problems);
    return problems;
}

// The message's own string property `tag` (type 001F), read from its stream; null when there is none.
QString topLevelString(const QByteArray& file, quint32 tag)
{
    GPtr<GsfInfile> root = openCompoundFile(file);
    const auto children = root ? childrenOf(root.get()) : std::map<QString, Child>();
    const auto it = children.find(QStringLiteral("__substg1.0_") + hex8(tag));
    if (it == children.end() || it->second.storage)
        return {};
    const QByteArray& bytes = it->second.bytes;
    return QString::fromUtf16(reinterpret_cast<const char16_t*>(bytes.constData()), bytes.size() / 2);
}

// --- The real reader -----------------------------------------------------------------------------

// Writes `data` as a .msg file in a temporary folder and reads it back with the real reader.
std::optional<QJsonObject> writeAndRead(const MailData& data)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("mail.msg"));
    const Status status = msg::writeMsgFile(FakeMailItem(data), path);
    EXPECT_TRUE(status.ok()) << qPrintable(status.ok() ? QString() : status.error().describe());
    return status.ok() ? test::readWithMsgReader(path) : std::nullopt;
}

QJsonValue textOrNull(const QString& text)
{
    return text.isEmpty() ? QJsonValue() : QJsonValue(text);
}

QJsonValue isoUtcOrNull(const QDateTime& time)
{
    if (!time.isValid() || time == mail::noDate())
        return QJsonValue();
    return time.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.000Z"));
}

// Compares what the reader found with the mail that was written, down into attached mails.
void expectReadBack(const MailData& m, const QJsonObject& o)
{
    EXPECT_EQ(o[u"messageClass"], QJsonValue(m.messageClass));
    EXPECT_EQ(o[u"subject"], QJsonValue(m.summary.subject));
    static const QRegularExpression replyOrForward(QStringLiteral("^(Re|Fwd|AW): "));
    EXPECT_EQ(o[u"normalizedSubject"], QJsonValue(QString(m.summary.subject).remove(replyOrForward)));
    EXPECT_EQ(o[u"senderEmail"], QJsonValue(m.summary.senderEmailAddress));
    EXPECT_EQ(o[u"senderName"], QJsonValue(m.senderName.isEmpty() ? m.summary.senderEmailAddress : m.senderName));
    EXPECT_EQ(o[u"body"], textOrNull(m.plainBody));
    EXPECT_EQ(o[u"bodyHtml"], textOrNull(msg::withUtf8Charset(m.htmlBody))) << "HTML declared as what it is: UTF-8";
    EXPECT_EQ(o[u"internetCodepage"], QJsonValue(65001));
    EXPECT_EQ(o[u"rtf"], textOrNull(QString::fromLatin1(m.rtfBody)));
    EXPECT_EQ(o[u"headers"], textOrNull(m.transportHeaders));
    EXPECT_EQ(o[u"creationTime"], isoUtcOrNull(m.summary.creationTime));
    EXPECT_EQ(o[u"clientSubmitTime"], isoUtcOrNull(m.summary.sentOn));
    EXPECT_EQ(o[u"messageDeliveryTime"], isoUtcOrNull(m.summary.receivedTime));

    const int flags = o[u"messageFlags"].toInt();
    EXPECT_EQ((flags & 0x08) != 0, !m.summary.sent) << "the unsent flag";
    EXPECT_EQ((flags & 0x10) != 0, !m.attachments.empty()) << "the has-attachments flag";

    const QJsonArray recipients = o[u"recipients"].toArray();
    EXPECT_EQ(recipients.size(), m.recipients.size());
    const char* types[] = { "", "to", "cc", "bcc" };
    for (qsizetype i = 0; i < std::min(recipients.size(), m.recipients.size()); ++i) {
        const Recipient& r = m.recipients[i];
        const QJsonObject got = recipients[i].toObject();
        EXPECT_EQ(got[u"name"], QJsonValue(r.name.isEmpty() ? r.address : r.name));
        EXPECT_EQ(got[u"email"], QJsonValue(r.address));
        EXPECT_EQ(got[u"smtpAddress"], QJsonValue(r.address));
        EXPECT_EQ(got[u"type"], QJsonValue(QLatin1String(types[int(r.type)])));
    }

    static const QRegularExpression dosName(
        QStringLiteral("^[A-Z0-9!#$%&'()@^_`{}~-]{1,8}(\\.[A-Z0-9!#$%&'()@^_`{}~-]{1,3})?$"));
    const QJsonArray attachments = o[u"attachments"].toArray();
    ASSERT_EQ(size_t(attachments.size()), m.attachments.size());
    for (size_t i = 0; i < m.attachments.size(); ++i) {
        const AttachmentData& a = m.attachments[i];
        const QJsonObject got = attachments[qsizetype(i)].toObject();
        SCOPED_TRACE(qPrintable(QStringLiteral("attachment ") + a.fileName));
        EXPECT_EQ(got[u"fileName"], textOrNull(a.fileName));
        EXPECT_EQ(got[u"displayName"],
            QJsonValue(a.fileName.isEmpty() && a.embedded ? a.embedded->summary.subject : a.fileName));
        EXPECT_EQ(got[u"mimeType"], textOrNull(a.mimeType));
        if (!a.fileName.isEmpty()) {
            EXPECT_TRUE(dosName.match(got[u"fileNameShort"].toString()).hasMatch())
                << qPrintable(got[u"fileNameShort"].toString());
        }
        if (a.embedded) {
            ASSERT_TRUE(got[u"embedded"].isObject()) << "the attached mail is not embedded";
            expectReadBack(*a.embedded, got[u"embedded"].toObject());
        } else {
            EXPECT_EQ(got[u"size"].toInteger(), a.data.size());
            EXPECT_EQ(got[u"sha256"], QJsonValue(test::sha256(a.data)));
        }
    }
}

const std::pair<const char*, MailData (*)()> kMails[] = {
    { "plain text and HTML, To, Cc and Bcc, one attachment", plainMail },
    { "umlauts, CJK and emoji in subject, names, bodies and attachment name; HTML declaring Latin-1", nonAsciiMail },
    { "empty subject, no sender, no recipients, no attachments, no bodies, no sent or received time", emptyMail },
    { "an attached mail that has its own recipients and attachment", mailWithEmbeddedMail },
    { "an RTF body and the transport headers", rtfMailWithHeaders },
};

} // namespace

TEST(MsgWriter, CompoundFileLayoutIsSoundAndTheReaderSeesWhatWasWritten)
{
    for (const auto& [why, make] : kMails) {
        SCOPED_TRACE(why);
        const MailData data = make();
        EXPECT_EQ(structuralProblems(writeToMemory(data)), QStringList());
        const auto read = writeAndRead(data);
        ASSERT_TRUE(read);
        expectReadBack(data, *read);
    }
}

namespace {

// Tag -> value as msgprops.py prints it: text, number, hex, or null for a property that must be absent.
using Expected = std::vector<std::pair<const char*, QJsonValue>>;

QString utf16Hex(const QString& text)
{
    return QString::fromLatin1(msg::toUtf16LE(text).toHex().toUpper());
}

struct DetailsCase {
    const char* why;
    MailData mail;
    Expected props;
    Expected firstRecipient;
    QStringList categories;
};

std::vector<DetailsCase> detailsCases()
{
    MailData full = plainMail();
    full.summary.subject = QStringLiteral("RE: Budget");
    mail::MessageDetails& d = full.details;
    d.messageId = QStringLiteral("<b2@example.org>");
    d.inReplyTo = QStringLiteral("<b1@example.org>");
    d.references = QStringLiteral("<b0@example.org> <b1@example.org>");
    d.importance = 2;
    d.priority = -1;
    d.conversationTopic = QStringLiteral("Budget");
    d.conversationIndex = QByteArray::fromHex("01D2A0");
    d.replyTo = { { QStringLiteral("Team"), QStringLiteral("team@example.org") } };
    d.sender = Recipient { QStringLiteral("Assistant"), QStringLiteral("assist@example.org") };
    d.categories = { QStringLiteral("Work"), QStringLiteral("Zürich") };
    d.read = false;
    d.flagStatus = 2;
    d.receivedBy = Recipient { QStringLiteral("Dave Desk"), QStringLiteral("dave@example.org") };
    d.receivedRepresenting
        = Recipient { QStringLiteral("Sales"), QString(), Recipient::Type::To, QStringLiteral("/o=Org/cn=sales") };
    d.replyRequested = true;

    MailData exchange = plainMail();
    exchange.details.from = Recipient { QStringLiteral("Ann Lee"), QString(), Recipient::Type::To,
        QStringLiteral("/o=Org/ou=Admin/cn=Recipients/cn=ann") };
    exchange.recipients = { { QStringLiteral("Bob"), QStringLiteral("bob@example.org"), Recipient::Type::To,
        QStringLiteral("/o=Org/cn=bob") } };
    exchange.summary.subject = QStringLiteral("10: results");
    exchange.details.replyTo = { { QStringLiteral("Rolf"), QString() } };

    MailData bare = emptyMail();
    bare.summary.subject = QStringLiteral("Fwd:no space");

    return {
        { "identifiers, importance, thread, reply-to, a delegate, categories, unread and flagged", full,
            { { "0037001F", QStringLiteral("RE: Budget") }, { "003D001F", QStringLiteral("RE: ") },
                { "0E1D001F", QStringLiteral("Budget") }, { "1035001F", d.messageId }, { "1042001F", d.inReplyTo },
                { "1039001F", d.references }, { "00170003", 2 }, { "00260003", -1 },
                { "0070001F", QStringLiteral("Budget") }, { "00710102", QStringLiteral("01D2A0") },
                { "0050001F", QStringLiteral("Team") }, { "10900003", 2 }, { "0E070003", 0x10 },
                { "0C1A001F", QStringLiteral("Assistant") }, { "0C1F001F", QStringLiteral("assist@example.org") },
                { "0042001F", QStringLiteral("Alice Smith") }, { "0065001F", QStringLiteral("alice@example.org") },
                { "0064001F", QStringLiteral("SMTP") }, { "0040001F", QStringLiteral("Dave Desk") },
                { "0076001F", QStringLiteral("dave@example.org") }, { "0075001F", QStringLiteral("SMTP") },
                { "0044001F", QStringLiteral("Sales") }, { "0078001F", QStringLiteral("/o=Org/cn=sales") },
                { "0077001F", QStringLiteral("EX") }, { "0C17000B", 1 } },
            {}, { QStringLiteral("Work"), QStringLiteral("Zürich") } },
        { "an Exchange sender without an SMTP address and an Exchange recipient with one; a reply-to name alone",
            exchange,
            { { "0C1E001F", QStringLiteral("EX") },
                { "0C1F001F", QStringLiteral("/o=Org/ou=Admin/cn=Recipients/cn=ann") },
                { "0C1A001F", QStringLiteral("Ann Lee") }, { "5D01001F", QJsonValue() },
                { "0064001F", QStringLiteral("EX") }, { "003D001F", QString() },
                { "0E1D001F", QStringLiteral("10: results") }, { "0050001F", QStringLiteral("Rolf") },
                { "004F0102", QJsonValue() }, { "0040001F", QJsonValue() }, { "0C17000B", QJsonValue() } },
            { { "3002001F", QStringLiteral("EX") }, { "3003001F", QStringLiteral("/o=Org/cn=bob") },
                { "39FE001F", QStringLiteral("bob@example.org") } },
            {} },
        { "a store that says nothing: read, no identifiers, no named properties", bare,
            { { "0E070003", 0x01 | 0x08 }, { "1035001F", QJsonValue() }, { "00170003", QJsonValue() },
                { "0050001F", QJsonValue() }, { "003D001F", QString() },
                { "0E1D001F", QStringLiteral("Fwd:no space") } },
            {}, {} },
    };
}

} // namespace

// Read back by olefile (msgprops.py): the properties msgreader does not report, and the categories through
// the named-property map.
TEST(MsgWriter, DetailsOfTheStoreStandUnderTheirTags)
{
    QTemporaryDir dir;
    const std::vector<DetailsCase> cases = detailsCases();
    QStringList paths;
    for (const DetailsCase& c : cases) {
        paths << dir.filePath(QString::number(paths.size()) + QStringLiteral(".msg"));
        ASSERT_TRUE(msg::writeMsgFile(FakeMailItem(c.mail), paths.last()).ok());
    }
    const QList<QJsonObject> read = test::readMsgProperties(paths);
    ASSERT_EQ(read.size(), qsizetype(cases.size()));
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].why);
        const QJsonObject props = read[qsizetype(i)][u"props"].toObject();
        for (const auto& [tag, value] : cases[i].props)
            EXPECT_EQ(props.value(QLatin1String(tag)), value.isNull() ? QJsonValue(QJsonValue::Undefined) : value)
                << tag;
        const QJsonObject recipient = read[qsizetype(i)][u"recipients"][0].toObject();
        for (const auto& [tag, value] : cases[i].firstRecipient)
            EXPECT_EQ(recipient.value(QLatin1String(tag)), value) << tag;
        EXPECT_EQ(read[qsizetype(i)][u"named"][u"Keywords"].toVariant().toStringList(), cases[i].categories);
    }
    // The reply-to entry is a one-off entry identifier that carries the name and the address.
    const QString entries = read[0][u"props"][u"004F0102"].toString();
    EXPECT_TRUE(entries.contains(utf16Hex(QStringLiteral("team@example.org")))) << qPrintable(entries);
    EXPECT_TRUE(entries.startsWith(QStringLiteral("01000000"))) << "one entry";
}

// A PST keeps categories in the named property "Keywords": the sample's mail that has two carries them into
// its .msg, the others carry none.
TEST(MsgWriter, CategoriesOfAPstMailCarryOver)
{
    auto store
        = mail::openStore(QStringLiteral("Lab"), QStringLiteral(TEST_DATA_DIR "/pst/tghanem_user1_test.lab.pst"));
    ASSERT_TRUE(store.ok());
    auto top = (*store)->topFolder();
    std::vector<test::ListedItem> items;
    ASSERT_TRUE(top.ok() && test::walk(**top, items).ok());
    QTemporaryDir dir;
    QStringList paths;
    for (const test::ListedItem& listed : items) {
        paths << dir.filePath(QString::number(paths.size()) + QStringLiteral(".msg"));
        auto item = (*store)->item(listed.summary.entryID);
        ASSERT_TRUE(item.ok() && msg::writeMsgFile(**item, paths.last()).ok());
    }
    const QList<QJsonObject> read = test::readMsgProperties(paths);
    ASSERT_EQ(read.size(), 6);
    for (qsizetype i = 0; i < read.size(); ++i) {
        const QStringList stored { QStringLiteral("Green category"), QStringLiteral("Yellow category") };
        const bool two = items[size_t(i)].summary.subject == u"TestWithYellowAndGreenCategories";
        EXPECT_EQ(read[i][u"named"][u"Keywords"].toVariant().toStringList(), two ? stored : QStringList());
    }
}

// An image the HTML shows by its Content-ID is marked so and hidden; a file that merely has one is not hidden.
TEST(MsgWriter, InlineImagesCarryTheirContentId)
{
    MailData m = plainMail();
    m.htmlBody = QStringLiteral("<p><img src=\"cid:logo@x\"></p>");
    m.attachments.clear();
    m.attachments.push_back(
        { QStringLiteral("logo.png"), QStringLiteral("image/png"), "PNG", {}, {}, QStringLiteral("logo@x"), true });
    m.attachments.push_back(
        { QStringLiteral("a.pdf"), QStringLiteral("application/pdf"), "PDF", {}, {}, QStringLiteral("pdf@x"), false });
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("inline.msg"));
    ASSERT_TRUE(msg::writeMsgFile(FakeMailItem(m), path).ok());
    const QList<QJsonObject> read = test::readMsgProperties({ path });
    ASSERT_EQ(read.size(), 1);
    const QJsonArray attachments = read[0][u"attachments"].toArray();
    ASSERT_EQ(attachments.size(), 2);
    const std::pair<const char*, QJsonValue> expected[2][3] = {
        { { "3712001F", QStringLiteral("logo@x") }, { "7FFE000B", 1 }, { "37140003", 4 } },
        { { "3712001F", QStringLiteral("pdf@x") }, { "7FFE000B", QJsonValue::Undefined },
            { "37140003", QJsonValue::Undefined } },
    };
    for (int i = 0; i < 2; ++i)
        for (const auto& [tag, value] : expected[i])
            EXPECT_EQ(attachments[i].toObject().value(QLatin1String(tag)), value) << i << " " << tag;
    const auto reader = readWithMsgReader(path);
    ASSERT_TRUE(reader);
    EXPECT_EQ((*reader)[u"attachments"][0][u"fileName"], QJsonValue(QStringLiteral("logo.png")));
}

// The reader above leaves out the display lists: they are read from their streams.
TEST(MsgWriter, DisplayListsAndNormalizedSubjectStandUnderTheirTags)
{
    const MailData m = plainMail();
    const QByteArray file = writeToMemory(m);
    const std::pair<quint32, QString> expected[] = { { 0x0E04001F, m.summary.to }, { 0x0E03001F, m.displayCc },
        { 0x0E02001F, QStringLiteral("Dave") }, { 0x0E1D001F, m.summary.subject } };
    for (const auto& [tag, text] : expected)
        EXPECT_EQ(topLevelString(file, tag), text) << hex8(tag).toStdString();
}

// The reader's times are checked in the table above; this one it gives only as it stands in the file.
TEST(MsgWriter, LastModificationTimeIsTheLatestKnownTimeInUtc)
{
    MailData m = emptyMail();
    m.summary.sentOn = berlin(2024, 7, 1, 12, 0, 5); // summer time, UTC+2
    const auto read = writeAndRead(m);
    ASSERT_TRUE(read);
    EXPECT_EQ((*read)[u"lastModificationTime"], QJsonValue(QStringLiteral("2024-07-01T10:00:05.000Z")));
}

TEST(MsgWriter, DeeplyNestedMailsAreCutOffAsBytes)
{
    // 40 mails, each attached to the one before.
    auto current = std::make_shared<MailData>(emptyMail());
    for (int level = 39; level >= 1; --level) {
        auto outer = std::make_shared<MailData>(emptyMail());
        outer->summary.subject = QString::number(level);
        outer->attachments.push_back({ QStringLiteral("level%1.eml").arg(level + 1), QStringLiteral("message/rfc822"),
            QByteArray("Subject: ") + QByteArray::number(level + 1), {}, current });
        current = outer;
    }
    EXPECT_EQ(structuralProblems(writeToMemory(*current)), QStringList());
    // A mail copied into memory (as the save run hands a PST item to another thread) goes as deep as the writer.
    EXPECT_EQ(writeToMemory(mail::copyMail(FakeMailItem(*current))), writeToMemory(*current));
    const auto read = writeAndRead(*current);
    ASSERT_TRUE(read);
    QJsonObject message = *read;
    int depth = 0;
    while (message[u"attachments"].toArray().first().toObject()[u"embedded"].isObject()) {
        message = message[u"attachments"].toArray().first().toObject()[u"embedded"].toObject();
        ++depth;
    }
    EXPECT_LT(depth, 39) << "nesting never stopped";
    EXPECT_GT(depth, 8) << "ordinary forwarding chains stay embedded";
    const QJsonObject cut = message[u"attachments"].toArray().first().toObject();
    EXPECT_EQ(cut[u"sha256"], QJsonValue(test::sha256(QByteArray("Subject: ") + QByteArray::number(depth + 2))))
        << "the cut-off mail is kept as its bytes";
}

// A .msg file is written as it is built: one of 10,000 recipients costs a small part of its size in memory
// (held whole, it cost more than its size), and readers find every recipient in it.
TEST(MsgWriter, ManyRecipientsAreWrittenAsBuiltNotHeldWhole)
{
    MailData m = plainMail();
    m.recipients.clear();
    for (int i = 0; i < 10000; ++i)
        m.recipients.append({ QStringLiteral("Person %1").arg(i), QStringLiteral("person%1@example.org").arg(i),
            Recipient::Type(1 + i % 3) });
    const FakeMailItem item(m);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("many.msg"));
    const qint64 growth = test::peakGrowthInChild([&] { (void)msg::writeMsgFile(FakeMailItem(plainMail()), path); },
        [&] { return msg::writeMsgFile(item, path).ok(); });
    const QByteArray file = test::readFile(path);
    ASSERT_GE(growth, 0);
    ASSERT_GT(file.size(), 10 << 20);
    // AddressSanitizer's quarantine keeps freed memory, so the peak says nothing there.
    if (!test::kAddressSanitizer) {
        EXPECT_LT(growth, file.size() * 2 / 3) << "written as it is built, the file is never held whole";
    }
    GPtr<GsfInfile> root = openCompoundFile(file);
    ASSERT_TRUE(root);
    int recipients = 0;
    for (int i = 0; i < gsf_infile_num_children(root.get()); ++i)
        recipients += QByteArrayView(gsf_infile_name_by_index(root.get(), i)).startsWith("__recip_version1.0_#");
    EXPECT_EQ(recipients, 10000);
    GPtr<GsfInput> last(gsf_infile_child_by_name(root.get(), "__recip_version1.0_#0000270F"));
    ASSERT_TRUE(last);
    QStringList problems;
    checkStorage(GSF_INFILE(last.get()), Owner::RecipientOrAttachment, QStringLiteral("last recipient"), problems);
    EXPECT_EQ(problems, QStringList());
    const QByteArray name = childrenOf(GSF_INFILE(last.get()))[QStringLiteral("__substg1.0_3001001F")].bytes;
    EXPECT_EQ(name, msg::toUtf16LE(QStringLiteral("Person 9999")));
}

// A Maildir mail to many people hands its recipients over one at a time, read from its header as the files
// are written: its .txt, .rtf and HTML cost a few times the mail, its .msg (thirty times the mail, with a
// storage for each recipient) what the compound file keeps of each entry. A list of the recipients, and the
// text built in pieces, cost over twelve times the mail.
TEST(MsgWriter, AMailToManyIsReadOneRecipientAtATime)
{
    QByteArray raw = "From: Alice <alice@example.org>\r\nSubject: To everyone\r\nTo: ";
    for (int i = 0; i < 100'000; ++i)
        raw += "Person " + QByteArray::number(i) + " <person" + QByteArray::number(i) + "@example.org>,\r\n ";
    raw += "last@example.org\r\nCc: Dora <dora@example.org>\r\nContent-Type: text/plain\r\n\r\nHello all.\r\n";
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("many.msg"));
    const QLocale locale = QLocale::c();
    const std::tuple<const char*, int, std::function<qsizetype(const mail::MailItem&)>> outputs[] = {
        { "msg", 9,
            [&](const mail::MailItem& item) {
                return msg::writeMsgFile(item, path).ok() ? qsizetype(QFileInfo(path).size()) : 0;
            } },
        { "txt", 4, [&](const mail::MailItem& item) { return formats::textContent(item, locale).size(); } },
        { "rtf", 4, [&](const mail::MailItem& item) { return formats::rtfContent(item, locale).size(); } },
        { "html", 9, [&](const mail::MailItem& item) { return formats::directoryHtml(item, locale).message.size(); } },
    };
    for (const auto& [type, times, write] : outputs) {
        SCOPED_TRACE(type);
        qsizetype written = 0;
        const qint64 growth = test::peakGrowthInChild(
            [&] { write(*mail::maildir::makeMessage("From: a@example.org\r\n\r\nHi\r\n", {}, {}, nullptr)); },
            [&] {
                written = write(*mail::maildir::makeMessage(raw, {}, {}, nullptr));
                return written > raw.size() / 2;
            });
        ASSERT_GE(growth, 0) << "the file holds less than the recipients";
        if (!test::kAddressSanitizer) {
            EXPECT_LT(growth, raw.size() * times) << "the recipients are never held as a list";
        }
    }
    const auto item = mail::maildir::makeMessage(raw, {}, {}, nullptr);
    const QList<Recipient> recipients = item->recipients();
    ASSERT_EQ(recipients.size(), 100'002);
    EXPECT_EQ(recipients[99'999].name, QStringLiteral("Person 99999"));
    EXPECT_EQ(recipients[100'000].address, QStringLiteral("last@example.org"));
    EXPECT_EQ(recipients[100'001].type, Recipient::Type::Cc);
    const QByteArray text = formats::textContent(*item, locale);
    EXPECT_TRUE(text.contains("\nTo:\tPerson 0 <person0@example.org>; Person 1 <person1@example.org>; "));
    EXPECT_TRUE(text.contains("; Person 99999 <person99999@example.org>; last@example.org\nCc:\tDora <dora@"));
}

TEST(MsgWriter, UnwritablePathIsReportedWithTheOsReason)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("missing/dir/mail.msg"));
    const Status status = msg::writeMsgFile(FakeMailItem(plainMail()), path);
    ASSERT_FALSE(status.ok());
    EXPECT_EQ(status.error().code, Error::Code::WriteFailed);
    EXPECT_EQ(status.error().path, path);
    EXPECT_EQ(status.error().detail, QStringLiteral("No such file or directory"));
}

TEST(MsgWriter, UnreadableSourceLeavesTheOldFileAndNoTemporaryFile)
{
    const Error unreadable { Error::Code::Unreadable, QStringLiteral("/stores/mail.pst"), QStringLiteral("bad block") };
    MailData badAttachment = mailWithEmbeddedMail();
    badAttachment.attachments.push_back({ QStringLiteral("broken.bin"), QString(), {}, unreadable, {} });
    MailData badEmbedded = mailWithEmbeddedMail();
    badEmbedded.attachments.back().embedded->attachmentsError = unreadable;
    MailData badList = plainMail();
    badList.attachmentsError = unreadable;
    const std::pair<const char*, MailData> cases[] = { { "an attachment's data cannot be read", badAttachment },
        { "an attached mail's attachments cannot be listed", badEmbedded },
        { "the attachments cannot be listed", badList } };
    for (const auto& [why, data] : cases) {
        SCOPED_TRACE(why);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("mail.msg"));
        test::writeFile(path, "the earlier file");
        const Status status = msg::writeMsgFile(FakeMailItem(data), path);
        ASSERT_FALSE(status.ok());
        const Result<QByteArray> copied = msg::msgBytes(mail::MemoryMailItem(mail::copyMail(FakeMailItem(data))));
        ASSERT_FALSE(copied.ok()) << "a copy keeps what could not be read";
        EXPECT_EQ(copied.error().describe(), status.error().describe());
        EXPECT_EQ(status.error().code, unreadable.code);
        EXPECT_EQ(status.error().path, unreadable.path);
        EXPECT_EQ(status.error().detail, unreadable.detail);
        EXPECT_EQ(test::readFile(path), QByteArray("the earlier file"));
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList { QStringLiteral("mail.msg") });

        EXPECT_TRUE(msg::writeMsgFile(FakeMailItem(plainMail()), path).ok()) << "a good mail replaces the file";
        EXPECT_EQ(structuralProblems(test::readFile(path)), QStringList());
    }
}

TEST(MsgValues, ShortFileName)
{
    const std::pair<const char*, const char*> cases[] = {
        { "report.pdf", "REPORT.PDF" }, // a name that fits is only upper-cased
        { "quarterly-figures.xlsx", "QUARTE~1.XLS" }, // a long base is cut and marked
        { "Bericht über Ärger.pdf", "BERICH~1.PDF" }, // spaces and non-ASCII letters are dropped
        { "../../etc/passwd", "PASSWD" }, // only the last path component counts
        { "C:\\temp\\a.txt", "A.TXT" }, // Windows separators too
        { "東京.txt", "ATTACH~1.TXT" }, // nothing usable left
        { "archive.tar.gz", "ARCHIV~1.GZ" }, // the last dot separates the extension
        { "", "" },
    };
    for (const auto& [longName, expected] : cases)
        EXPECT_EQ(msg::shortFileName(QString::fromUtf8(longName)), QString::fromUtf8(expected)) << longName;
}

TEST(MsgValues, WithUtf8Charset)
{
    const std::pair<const char*, const char*> cases[] = {
        { "<meta charset=\"windows-1252\"><p>x</p>", "<meta charset=\"utf-8\"><p>x</p>" },
        { "<META HTTP-EQUIV=Content-Type CONTENT=\"text/html; CHARSET=ISO-8859-1\">",
            "<META HTTP-EQUIV=Content-Type CONTENT=\"text/html; CHARSET=utf-8\">" },
        { "<meta charset='koi8-r'/>", "<meta charset='utf-8'/>" },
        { "<p>charset=latin1</p>", "<p>charset=latin1</p>" }, // outside a meta tag
        { "<meta name=\"x\" content=\"y\">", "<meta name=\"x\" content=\"y\">" }, // a meta tag without a charset
    };
    for (const auto& [html, expected] : cases)
        EXPECT_EQ(msg::withUtf8Charset(QString::fromUtf8(html)), QString::fromUtf8(expected)) << html;
}

TEST(MsgValues, ToFileTime)
{
    const auto utc = [](QDate date, QTime time) { return QDateTime(date, time, QTimeZone::utc()); };
    const std::pair<QDateTime, std::optional<quint64>> cases[]
        = { { utc(QDate(1970, 1, 1), QTime(0, 0)), 116444736000000000ull },
              { utc(QDate(1970, 1, 1), QTime(0, 0, 0, 1)), 116444736000010000ull }, // milliseconds are kept
              { utc(QDate(1601, 1, 1), QTime(0, 0)), 0ull }, { utc(QDate(1600, 12, 31), QTime(23, 59)), std::nullopt },
              { mail::noDate(), std::nullopt }, { QDateTime(), std::nullopt } };
    for (const auto& [time, expected] : cases)
        EXPECT_EQ(msg::toFileTime(time), expected) << time.toString(Qt::ISODateWithMs).toStdString();
}

// A signed mail becomes what Outlook writes for it: its class, and the signed entity whole as "smime.p7m",
// so that the signature can still be checked; the text shows the signed content and lists the signature.
// One without its signature part is kept the same way, and its text is still read.
TEST(MsgWriter, SignedMailKeepsTheSignedEntityWhole)
{
    const QByteArray body = "--s\r\nContent-Type: text/plain\r\n\r\nSigned words.\r\n"
                            "--s\r\nContent-Type: application/pkcs7-signature; name=smime.p7s\r\n"
                            "Content-Disposition: attachment; filename=smime.p7s\r\n\r\nU0lH\r\n--s--\r\n";
    const QByteArray lonePart = "--s\r\nContent-Type: text/plain\r\n\r\nSigned words.\r\n--s--\r\n";
    const QByteArray type = "multipart/signed; protocol=\"application/pkcs7-signature\"; boundary=s";
    QTemporaryDir dir;
    for (const QByteArray& signedBody : { body, lonePart }) {
        const QByteArray raw = "From: a@example.org\r\nSubject: signed\r\nMIME-Version: 1.0\r\nContent-Type: " + type
            + "\r\n\r\n" + signedBody;
        const auto item = mail::maildir::makeMessage(raw, {}, {}, nullptr);
        const QString path = dir.filePath(QStringLiteral("signed.msg"));
        ASSERT_TRUE(msg::writeMsgFile(*item, path).ok());
        const auto read = readWithMsgReader(path);
        ASSERT_TRUE(read);
        EXPECT_EQ((*read)[u"messageClass"], QJsonValue(QStringLiteral("IPM.Note.SMIME.MultipartSigned")));
        EXPECT_TRUE((*read)[u"body"].toString().contains(QStringLiteral("Signed words.")));
        const QJsonArray attachments = (*read)[u"attachments"].toArray();
        ASSERT_EQ(attachments.size(), 1);
        EXPECT_EQ(attachments[0][u"fileName"], QJsonValue(QStringLiteral("smime.p7m")));
        EXPECT_EQ(
            attachments[0][u"sha256"], QJsonValue(test::sha256("Content-Type: " + type + "\r\n\r\n" + signedBody)));
        const QString text = QString::fromUtf8(formats::textContent(*item, QLocale::c()));
        EXPECT_TRUE(text.contains(QStringLiteral("Signed words.")));
        EXPECT_EQ(text.contains(QStringLiteral("Attachments:\tsmime.p7s")), signedBody == body) << text.toStdString();
    }
}

// SPDX-License-Identifier: MIT
#include "mail/pst/properties.h"

#include "mail/charsets.h"

#include <QtEndian>

#include <algorithm>
#include <array>
#include <cctype>
#include <limits>

namespace quillbox::mail::pst {

namespace {

constexpr int kWindows1252 = 1252;
constexpr quint32 kMessageFlagUnsent = 0x08;

// FILETIME counts 100 ns from 1601-01-01 UTC; this many of them lie before 1970-01-01.
constexpr qint64 kFileTimeEpochOffset = 116444736000000000LL;
constexpr qint64 kFileTimeTicksPerMs = 10000;

// Code pages that do not describe 8-bit strings (UTF-16 and UTF-32), or none at all.
bool usableFor8Bit(int codePage)
{
    return codePage > 0 && codePage != 1200 && codePage != 1201 && codePage != 12000 && codePage != 12001;
}

bool isAscii(QByteArrayView bytes)
{
    return std::all_of(bytes.begin(), bytes.end(), [](char c) { return (uchar(c) & 0x80) == 0; });
}

QString fromUtf16LE(const QByteArray& bytes)
{
    QString text(bytes.size() / 2, Qt::Uninitialized);
    qFromLittleEndian<char16_t>(bytes.constData(), text.size(), text.data());
    return text;
}

void chopNuls(QString& text)
{
    qsizetype end = text.size();
    while (end > 0 && text.at(end - 1).isNull())
        --end;
    text.truncate(end);
}

struct ClassNumber {
    const char* messageClass;
    int number;
};

// Outlook's OlObjectClass numbers by message class, the more specific classes first.
constexpr std::array kClassNumbers {
    ClassNumber { "IPM.Note", kClassMail },
    ClassNumber { "REPORT", kClassReport },
    ClassNumber { "IPM.Schedule.Meeting.Request", kClassMeetingRequest },
    ClassNumber { "IPM.Schedule.Meeting.Canceled", 54 },
    ClassNumber { "IPM.Schedule.Meeting.Resp.Neg", 55 },
    ClassNumber { "IPM.Schedule.Meeting.Resp.Pos", 56 },
    ClassNumber { "IPM.Schedule.Meeting.Resp.Tent", 57 },
    ClassNumber { "IPM.Schedule.Meeting.Notification.Forward", 181 },
    ClassNumber { "IPM.Schedule.Meeting", kClassMeetingRequest },
    ClassNumber { "IPM.Appointment", 26 },
    ClassNumber { "IPM.Contact", 40 },
    ClassNumber { "IPM.DistList", 69 },
    ClassNumber { "IPM.TaskRequest.Accept", 51 },
    ClassNumber { "IPM.TaskRequest.Decline", 52 },
    ClassNumber { "IPM.TaskRequest.Update", 50 },
    ClassNumber { "IPM.TaskRequest", 49 },
    ClassNumber { "IPM.Task", 48 },
    ClassNumber { "IPM.StickyNote", 44 },
    ClassNumber { "IPM.Activity", 42 },
    ClassNumber { "IPM.Document", 41 },
    ClassNumber { "IPM.Remote", 47 },
    ClassNumber { "IPM.Sharing", 104 },
    ClassNumber { "IPM.Post", 45 },
};
// Outlook shows an item of a class it has no form for with the form of a posted note.
constexpr int kClassPost = 45;

// `messageClass` is `base` or one of its sub-classes ("base.*"); MAPI compares classes without regard to case.
bool isOfClass(const QString& messageClass, QLatin1StringView base)
{
    if (!messageClass.startsWith(base, Qt::CaseInsensitive))
        return false;
    return messageClass.size() == base.size() || messageClass.at(base.size()) == u'.';
}

} // namespace

QString TextDecoder::decode(QByteArrayView bytes, int codePage)
{
    if (isAscii(bytes))
        return QString::fromLatin1(bytes);
    QStringDecoder& decoder = decoderFor(codePage);
    decoder.resetState();
    QString text = decoder.decode(bytes);
    return text;
}

QStringDecoder& TextDecoder::decoderFor(int codePage)
{
    auto& slot = m_decoders[codePage];
    if (!slot)
        slot = std::make_unique<QStringDecoder>(codePageDecoder(codePage));
    return *slot;
}

std::optional<qint64> integerValue(const PropertyBag& bag, quint16 id)
{
    const auto value = bag.value(id);
    if (!value)
        return std::nullopt;
    const QByteArray& bytes = value->bytes;
    switch (value->type) {
    case PropType::Boolean:
        if (bytes.isEmpty())
            return std::nullopt;
        return bytes.at(0) != 0 ? 1 : 0;
    case PropType::Int16:
        if (bytes.size() < 2)
            return std::nullopt;
        return qFromLittleEndian<qint16>(bytes.constData());
    case PropType::Int32:
    case PropType::Error:
        if (bytes.size() < 4)
            return std::nullopt;
        return qFromLittleEndian<qint32>(bytes.constData());
    case PropType::Int64:
        if (bytes.size() < 8)
            return std::nullopt;
        return qFromLittleEndian<qint64>(bytes.constData());
    default:
        return std::nullopt;
    }
}

QDateTime timeValue(const PropertyBag& bag, quint16 id)
{
    const auto value = bag.value(id);
    if (!value || value->type != PropType::Time || value->bytes.size() < 8)
        return noDate();
    const quint64 ticks = qFromLittleEndian<quint64>(value->bytes.constData());
    static const qint64 noneMs = QDateTime(noDate().date(), noDate().time(), Qt::UTC).toMSecsSinceEpoch();
    if (ticks == 0 || ticks > quint64(std::numeric_limits<qint64>::max()))
        return noDate();
    const qint64 ms = (qint64(ticks) - kFileTimeEpochOffset) / kFileTimeTicksPerMs;
    if (ms >= noneMs)
        return noDate();
    return QDateTime::fromMSecsSinceEpoch(ms);
}

QByteArray binaryValue(const PropertyBag& bag, quint16 id)
{
    const auto value = bag.value(id);
    return value && value->type == PropType::Binary ? value->bytes : QByteArray();
}

TextReader::TextReader(const PropertyBag& bag, TextDecoder& decoder, const PropertyBag* codePageSource, bool forBody)
    : m_bag(bag)
    , m_decoder(decoder)
    , m_codePageSource(codePageSource ? *codePageSource : bag)
    , m_forBody(forBody)
{
}

int TextReader::codePage() const
{
    if (!m_codePage) {
        const auto own = integerValue(m_codePageSource, Prop::MessageCodepage);
        const auto internet = integerValue(m_codePageSource, Prop::InternetCodepage);
        const auto first = m_forBody ? internet : own;
        const auto second = m_forBody ? own : internet;
        if (first && usableFor8Bit(int(*first)))
            m_codePage = int(*first);
        else if (second && usableFor8Bit(int(*second)))
            m_codePage = int(*second);
        else
            m_codePage = kWindows1252;
    }
    return *m_codePage;
}

QString TextReader::operator()(quint16 id) const
{
    const auto value = m_bag.value(id);
    if (!value)
        return {};
    QString text;
    if (value->type == PropType::Unicode)
        text = fromUtf16LE(value->bytes);
    else if (value->type == PropType::String8)
        text = m_decoder.decode(value->bytes, codePage());
    chopNuls(text);
    return text;
}

QStringList TextReader::strings(const std::optional<PropertyValue>& value) const
{
    if (!value || (value->type != PropType::MultipleUnicode && value->type != PropType::MultipleString8))
        return {};
    const QByteArray& bytes = value->bytes;
    const auto offsetAt = [&](qsizetype i) { return qsizetype(qFromLittleEndian<quint32>(bytes.constData() + 4 * i)); };
    const qsizetype count = bytes.size() < 4 ? 0 : std::min(offsetAt(0), bytes.size() / 4 - 1);
    QStringList texts;
    for (qsizetype i = 1; i <= count; ++i) {
        const qsizetype start = offsetAt(i);
        const qsizetype end = i < count ? offsetAt(i + 1) : bytes.size();
        if (start < 4 * (count + 1) || end < start || end > bytes.size())
            break;
        const QByteArray item = bytes.sliced(start, end - start);
        QString text
            = value->type == PropType::MultipleUnicode ? fromUtf16LE(item) : m_decoder.decode(item, codePage());
        chopNuls(text);
        texts << text;
    }
    return texts;
}

int itemClassOf(const QString& messageClass)
{
    for (const ClassNumber& entry : kClassNumbers)
        if (isOfClass(messageClass, QLatin1StringView(entry.messageClass)))
            return entry.number;
    return kClassPost;
}

QString withoutSubjectMarker(const QString& subject)
{
    if (subject.startsWith(QChar(0x01)))
        return subject.mid(2);
    return subject;
}

ItemSummary summarize(const PropertyBag& bag, TextDecoder& decoder)
{
    const TextReader text(bag, decoder);
    ItemSummary summary;
    summary.itemClass = itemClassOf(text(Prop::MessageClass));
    summary.creationTime = timeValue(bag, Prop::CreationTime);
    summary.sentOn = timeValue(bag, Prop::ClientSubmitTime);
    summary.receivedTime = timeValue(bag, Prop::DeliveryTime);
    const auto flags = integerValue(bag, Prop::MessageFlags);
    summary.sent = !flags || (quint32(*flags) & kMessageFlagUnsent) == 0;
    summary.senderEmailAddress = text(Prop::SenderSmtpAddress);
    if (summary.senderEmailAddress.isEmpty())
        summary.senderEmailAddress = text(Prop::SenderEmailAddress);
    summary.subject = withoutSubjectMarker(text(Prop::Subject));
    summary.to = text(Prop::DisplayTo);
    return summary;
}

QString entryIDOf(const QByteArray& recordKey, quint32 nid)
{
    QByteArray raw(4, '\0');
    raw += recordKey;
    char node[4];
    qToLittleEndian(nid, node);
    raw.append(node, 4);
    return QString::fromLatin1(raw.toHex().toUpper());
}

std::optional<quint32> nodeOfEntryID(const QString& entryID, const QByteArray& recordKey)
{
    const qsizetype expected = 2 * (4 + recordKey.size() + 4);
    if (entryID.size() != expected)
        return std::nullopt;
    const bool hex = std::all_of(
        entryID.begin(), entryID.end(), [](QChar c) { return c.unicode() < 0x80 && std::isxdigit(c.unicode()); });
    if (!hex)
        return std::nullopt;
    const QByteArray raw = QByteArray::fromHex(entryID.toLatin1());
    if (qFromLittleEndian<quint32>(raw.constData()) != 0 || raw.mid(4, recordKey.size()) != recordKey)
        return std::nullopt;
    return qFromLittleEndian<quint32>(raw.constData() + 4 + recordKey.size());
}

} // namespace quillbox::mail::pst

// SPDX-License-Identifier: MIT
#include "mailfiles.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <gmime/gmime.h>

#include <cstring>
#include <memory>

namespace quillbox::samples {

std::map<QString, QByteArray> readTree(const QString& root)
{
    std::map<QString, QByteArray> files;
    const QDir base(root);
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile file(path);
        files[base.relativeFilePath(path)]
            = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
    }
    return files;
}

QStringList maildirFolders(const QString& root)
{
    QStringList folders;
    const QDir base(root);
    auto isFolder = [](const QString& dir) {
        return QDir(dir + QStringLiteral("/cur")).exists() || QDir(dir + QStringLiteral("/new")).exists();
    };
    if (isFolder(root))
        folders << QString();
    QDirIterator it(root, QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString name = it.fileName();
        if (name != u"cur" && name != u"new" && name != u"tmp" && isFolder(path))
            folders << base.relativeFilePath(path);
    }
    folders.sort();
    return folders;
}

QStringList folderMessages(const QString& root, const QString& folder)
{
    QStringList messages;
    for (const char* sub : { "cur", "new" }) {
        const QString relative = folder.isEmpty() ? QString::fromLatin1(sub) : folder + u'/' + QLatin1String(sub);
        for (const QString& name : QDir(root + u'/' + relative).entryList(QDir::Files | QDir::Hidden, QDir::Name))
            messages << relative + u'/' + name;
    }
    return messages;
}

namespace {

template <class T> using GPtr = std::unique_ptr<T, decltype(&g_object_unref)>;

std::optional<qint64> seconds(GDateTime* date)
{
    if (!date)
        return std::nullopt;
    const qint64 value = g_date_time_to_unix(date);
    g_date_time_unref(date);
    return value;
}

void collectAttachment(GMimeObject*, GMimeObject* part, gpointer data)
{
    if (!GMIME_IS_PART(part) || !g_mime_part_is_attachment(GMIME_PART(part)))
        return;
    Attachment attachment;
    attachment.fileName = QString::fromUtf8(g_mime_part_get_filename(GMIME_PART(part)));
    if (GMimeDataWrapper* content = g_mime_part_get_content(GMIME_PART(part))) {
        GPtr<GMimeStream> out(g_mime_stream_mem_new(), g_object_unref);
        g_mime_data_wrapper_write_to_stream(content, out.get());
        attachment.decodedSize = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(out.get()))->len;
    }
    static_cast<ParsedMessage*>(data)->attachments << attachment;
}

} // namespace

int ParsedMessage::count(const char* header) const
{
    const auto it = headerCounts.find(QString::fromLatin1(header));
    return it == headerCounts.end() ? 0 : it->second;
}

ParsedMessage parseMessage(const QByteArray& bytes)
{
    static const bool initialised = [] {
        g_mime_init();
        return true;
    }();
    (void)initialised;

    ParsedMessage result;
    GPtr<GMimeStream> stream(
        g_mime_stream_mem_new_with_buffer(bytes.constData(), size_t(bytes.size())), g_object_unref);
    GPtr<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()), g_object_unref);
    GMimeMessage* raw = g_mime_parser_construct_message(parser.get(), nullptr);
    if (!raw)
        return result;
    GPtr<GMimeMessage> message(raw, g_object_unref);
    result.parsed = true;

    GMimeHeaderList* headers = g_mime_object_get_header_list(GMIME_OBJECT(raw));
    for (int i = 0; i < g_mime_header_list_get_count(headers); ++i) {
        GMimeHeader* header = g_mime_header_list_get_header_at(headers, i);
        const QString name = QString::fromUtf8(g_mime_header_get_name(header));
        if (++result.headerCounts[name] == 1 && name.compare(u"Received", Qt::CaseInsensitive) == 0) {
            if (const char* semicolon = std::strrchr(g_mime_header_get_value(header), ';'))
                result.topReceived = seconds(g_mime_utils_header_decode_date(semicolon + 1));
        }
    }
    result.subject = QString::fromUtf8(g_mime_message_get_subject(raw));
    if (InternetAddressList* from = g_mime_message_get_from(raw); from && internet_address_list_length(from) > 0) {
        InternetAddress* first = internet_address_list_get_address(from, 0);
        if (INTERNET_ADDRESS_IS_MAILBOX(first))
            result.fromAddress = QString::fromUtf8(internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(first)));
    }
    if (InternetAddressList* to = g_mime_message_get_to(raw))
        result.toCount = internet_address_list_length(to);
    if (GDateTime* date = g_mime_message_get_date(raw))
        result.date = seconds(g_date_time_ref(date));
    if (GMimeObject* body = g_mime_message_get_mime_part(raw)) {
        // GMime files the top-level Content-* headers under the message's body part.
        GMimeHeaderList* partHeaders = g_mime_object_get_header_list(body);
        for (int i = 0; i < g_mime_header_list_get_count(partHeaders); ++i)
            ++result.headerCounts[QString::fromUtf8(
                g_mime_header_get_name(g_mime_header_list_get_header_at(partHeaders, i)))];
        char* type = g_mime_content_type_get_mime_type(g_mime_object_get_content_type(body));
        result.contentType = QString::fromUtf8(type).toLower();
        g_free(type);
    }
    g_mime_message_foreach(raw, collectAttachment, &result);
    return result;
}

std::optional<qint64> deliverySeconds(const QString& fileName)
{
    bool ok = false;
    const qint64 value = fileName.section(u'.', 0, 0).toLongLong(&ok);
    return ok ? std::optional<qint64>(value) : std::nullopt;
}

} // namespace quillbox::samples

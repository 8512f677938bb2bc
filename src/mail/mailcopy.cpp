// SPDX-License-Identifier: MIT
#include "mail/mailcopy.h"

namespace quillbox::mail {

qsizetype MailData::bytes() const
{
    qsizetype total
        = (plainBody.size() + htmlBody.size() + transportHeaders.size()) * 2 + rtfBody.size() + rawMessage.size();
    for (const AttachmentData& attachment : attachments)
        total += attachment.data.size() + (attachment.embedded ? attachment.embedded->bytes() : 0);
    return total;
}

MailData copyMail(const MailItem& item, CopiedParts parts, int depth)
{
    MailData data { item.summary(), item.messageClass(), item.senderName(), item.displayCc(), item.recipients(),
        item.plainBody(), item.htmlBody(), item.rtfBody(), item.transportHeaders(), item.rawMessage(), {}, {},
        item.details() };
    auto attachments = item.attachments();
    if (!attachments) {
        data.attachmentsError = attachments.error();
        return data;
    }
    for (const auto& attachment : *attachments) {
        AttachmentData copy { attachment->fileName(), attachment->mimeType(), {}, {}, {}, attachment->contentId(),
            attachment->isInline(), attachment->contentLocation() };
        if (parts == CopiedParts::NamesOnly) {
            if (const std::unique_ptr<MailItem> embedded = attachment->embeddedMessage()) {
                copy.embedded = std::make_shared<MailData>();
                copy.embedded->summary = embedded->summary();
            }
            data.attachments.push_back(std::move(copy));
            continue;
        }
        if (Result<QByteArray> bytes = attachment->data())
            copy.data = std::move(*bytes);
        else
            copy.error = bytes.error();
        if (depth > 0)
            if (const std::unique_ptr<MailItem> embedded = attachment->embeddedMessage())
                copy.embedded = std::make_shared<MailData>(copyMail(*embedded, parts, depth - 1));
        data.attachments.push_back(std::move(copy));
    }
    return data;
}

std::unique_ptr<MailItem> MemoryAttachment::embeddedMessage() const
{
    if (!m_data.embedded)
        return nullptr;
    return std::make_unique<MemoryMailItem>(*m_data.embedded);
}

Result<std::vector<std::unique_ptr<Attachment>>> MemoryMailItem::attachments() const
{
    if (m_data.attachmentsError)
        return *m_data.attachmentsError;
    std::vector<std::unique_ptr<Attachment>> out;
    for (const AttachmentData& attachment : m_data.attachments)
        out.push_back(std::make_unique<MemoryAttachment>(attachment));
    return out;
}

} // namespace quillbox::mail

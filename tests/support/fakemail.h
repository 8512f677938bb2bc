// SPDX-License-Identifier: MIT
#pragma once
// A mail item of the store model built from plain data, for tests of the writers: fill a MailData,
// then hand FakeMailItem(data) to the code under test. Attachments can fail to read, and an
// attachment can carry a whole MailData as its embedded mail.

#include "mail/store.h"

#include <memory>
#include <optional>
#include <vector>

namespace quillbox::test {

struct MailData;

struct AttachmentData {
    QString fileName;
    QString mimeType;
    QByteArray data;
    std::optional<Error> error; ///< what data() reports instead of the bytes
    std::shared_ptr<MailData> embedded; ///< set for an attached mail
    QString contentId = {};
    bool isInline = false;
};

struct MailData {
    mail::ItemSummary summary;
    QString messageClass = QStringLiteral("IPM.Note");
    QString senderName;
    QString displayCc;
    QList<mail::Recipient> recipients;
    QString plainBody;
    QString htmlBody;
    QByteArray rtfBody;
    QString transportHeaders;
    QByteArray rawMessage;
    std::vector<AttachmentData> attachments;
    std::optional<Error> attachmentsError; ///< what attachments() reports instead of the list
    mail::MessageDetails details;
};

class FakeAttachment : public mail::Attachment {
public:
    explicit FakeAttachment(AttachmentData data)
        : m_data(std::move(data))
    {
    }
    QString fileName() const override { return m_data.fileName; }
    QString mimeType() const override { return m_data.mimeType; }
    QString contentId() const override { return m_data.contentId; }
    bool isInline() const override { return m_data.isInline; }
    Result<QByteArray> data() const override
    {
        if (m_data.error)
            return *m_data.error;
        return m_data.data;
    }
    std::unique_ptr<mail::MailItem> embeddedMessage() const override;

private:
    AttachmentData m_data;
};

class FakeMailItem : public mail::MailItem {
public:
    explicit FakeMailItem(MailData data)
        : m_data(std::move(data))
    {
    }
    const mail::ItemSummary& summary() const override { return m_data.summary; }
    std::unique_ptr<mail::Folder> parent() const override { return nullptr; }
    QString messageClass() const override { return m_data.messageClass; }
    QString senderName() const override { return m_data.senderName; }
    QString displayCc() const override { return m_data.displayCc; }
    QList<mail::Recipient> recipients() const override { return m_data.recipients; }
    QString plainBody() const override { return m_data.plainBody; }
    QString htmlBody() const override { return m_data.htmlBody; }
    QByteArray rtfBody() const override { return m_data.rtfBody; }
    QString transportHeaders() const override { return m_data.transportHeaders; }
    QByteArray rawMessage() const override { return m_data.rawMessage; }
    mail::MessageDetails details() const override { return m_data.details; }
    Result<std::vector<std::unique_ptr<mail::Attachment>>> attachments() const override
    {
        if (m_data.attachmentsError)
            return *m_data.attachmentsError;
        std::vector<std::unique_ptr<mail::Attachment>> out;
        for (const AttachmentData& a : m_data.attachments)
            out.push_back(std::make_unique<FakeAttachment>(a));
        return out;
    }

private:
    MailData m_data;
};

inline std::unique_ptr<mail::MailItem> FakeAttachment::embeddedMessage() const
{
    if (!m_data.embedded)
        return nullptr;
    return std::make_unique<FakeMailItem>(*m_data.embedded);
}

} // namespace quillbox::test

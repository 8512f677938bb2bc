// SPDX-License-Identifier: MIT
#pragma once
// A mail item held whole in memory: everything its MailItem functions give, read once from another item
// (copyMail) or filled in directly. It shares nothing with a store, so that another thread may use it,
// as the save run does to build a mail's files while the store's own thread reads the next mail.

#include "mail/store.h"

#include <memory>
#include <optional>
#include <vector>

namespace quillbox::mail {

struct MailData;

struct AttachmentData {
    QString fileName;
    QString mimeType;
    QByteArray data;
    std::optional<Error> error; ///< what data() reports instead of the bytes
    std::shared_ptr<MailData> embedded; ///< set for an attached mail
    QString contentId = {};
    bool isInline = false;
    QString contentLocation = {};
};

struct MailData {
    ItemSummary summary;
    QString messageClass = QStringLiteral("IPM.Note");
    QString senderName;
    QString displayCc;
    QList<Recipient> recipients;
    QString plainBody;
    QString htmlBody;
    QByteArray rtfBody;
    QString transportHeaders;
    QByteArray rawMessage;
    std::vector<AttachmentData> attachments;
    std::optional<Error> attachmentsError; ///< what attachments() reports instead of the list
    MessageDetails details = {};

    /// The bytes held, bodies and attachments (attached mails' too), roughly.
    qsizetype bytes() const;
};

/// What copyMail reads of an item's attachments.
enum class CopiedParts {
    All, ///< the attachments, their bytes and attached mails
    /// what the text of a mail names of its attachments: their names, types and Content-IDs, and the
    /// subject of an attached mail, but no bytes (data() gives an empty array)
    NamesOnly,
};

/// Everything `item` gives, read now. Attached mails are read `depth` levels deep, as deep as any file made
/// of a mail goes; an attachment below that has no attached mail, only what data() gives for it.
MailData copyMail(const MailItem& item, CopiedParts parts = CopiedParts::All, int depth = 32);

class MemoryAttachment : public Attachment {
public:
    explicit MemoryAttachment(AttachmentData data)
        : m_data(std::move(data))
    {
    }
    QString fileName() const override { return m_data.fileName; }
    QString mimeType() const override { return m_data.mimeType; }
    QString contentId() const override { return m_data.contentId; }
    QString contentLocation() const override { return m_data.contentLocation; }
    bool isInline() const override { return m_data.isInline; }
    Result<QByteArray> data() const override
    {
        if (m_data.error)
            return *m_data.error;
        return m_data.data;
    }
    std::unique_ptr<MailItem> embeddedMessage() const override;

private:
    AttachmentData m_data;
};

/// The mail of a MailData; it has no parent folder.
class MemoryMailItem : public MailItem {
public:
    explicit MemoryMailItem(MailData data)
        : m_data(std::move(data))
    {
    }
    const ItemSummary& summary() const override { return m_data.summary; }
    std::unique_ptr<Folder> parent() const override { return nullptr; }
    QString messageClass() const override { return m_data.messageClass; }
    QString senderName() const override { return m_data.senderName; }
    QString displayCc() const override { return m_data.displayCc; }
    void forEachRecipient(const std::function<void(const Recipient&)>& visit) const override
    {
        for (const Recipient& recipient : m_data.recipients)
            visit(recipient);
    }
    QString plainBody() const override { return m_data.plainBody; }
    QString htmlBody() const override { return m_data.htmlBody; }
    QByteArray rtfBody() const override { return m_data.rtfBody; }
    QString transportHeaders() const override { return m_data.transportHeaders; }
    QByteArray rawMessage() const override { return m_data.rawMessage; }
    MessageDetails details() const override { return m_data.details; }
    Result<std::vector<std::unique_ptr<Attachment>>> attachments() const override;
    bool standsAlone() const override { return true; }

private:
    MailData m_data;
};

} // namespace quillbox::mail

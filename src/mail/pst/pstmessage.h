// SPDX-License-Identifier: MIT
#pragma once
// One message of an Outlook data file as a whole MailItem, read with libpff: bodies, recipients,
// attachments (an attached message is offered as a MailItem of its own).

#include "mail/pst/pff.h"
#include "mail/store.h"

#include <functional>

namespace quillbox::mail::pst {

/// The MailItem for libpff's message `message`. `entryID` is empty for an attached message; `parent`
/// gives the folder that holds it (none for an attached message).
std::unique_ptr<MailItem> makeMessage(std::shared_ptr<PffItem> message, std::shared_ptr<TextDecoder> decoder,
    const QString& entryID, std::function<std::unique_ptr<Folder>()> parent);

} // namespace quillbox::mail::pst

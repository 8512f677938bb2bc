// SPDX-License-Identifier: MIT
#pragma once
// A mail item of the store model built from plain data, for tests of the writers: fill a MailData,
// then hand FakeMailItem(data) to the code under test. Attachments can fail to read, and an
// attachment can carry a whole MailData as its embedded mail.

#include "mail/mailcopy.h"

namespace quillbox::test {

using AttachmentData = mail::AttachmentData;
using MailData = mail::MailData;
using FakeAttachment = mail::MemoryAttachment;
using FakeMailItem = mail::MemoryMailItem;

} // namespace quillbox::test

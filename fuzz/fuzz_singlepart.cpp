// SPDX-License-Identifier: MIT
// Feeds arbitrary message files to the Maildir item and checks that a message read directly, without
// GMime's tree, gives exactly what the full parse gives: the sender's name, the recipients, both bodies
// and the attachments. Inputs are the message as it stands; a message the direct reading declines is
// read by the parser either way, so only those it takes are compared.
#include "fuzzcheck.h"
#include "mail/maildir/maildirmessage.h"

#include <cstdint>
#include <cstdlib>

using namespace quillbox;
using quillbox::fuzz::check;
using namespace quillbox::mail;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray raw(reinterpret_cast<const char*>(data), qsizetype(size));
    if (!maildir::readsWithoutParser(raw))
        return 0;
    const auto direct = maildir::makeMessage(raw, {}, {}, nullptr, maildir::BodyReading::Direct);
    const auto parsed = maildir::makeMessage(raw, {}, {}, nullptr, maildir::BodyReading::Parser);
    check(direct->senderName() == parsed->senderName());
    check(direct->displayCc() == parsed->displayCc());
    check(direct->plainBody() == parsed->plainBody());
    check(direct->htmlBody() == parsed->htmlBody());
    const QList<Recipient> recipients = direct->recipients(), expected = parsed->recipients();
    check(recipients.size() == expected.size());
    for (qsizetype i = 0; i < recipients.size(); ++i)
        check(recipients[i].name == expected[i].name && recipients[i].address == expected[i].address
            && recipients[i].type == expected[i].type);
    const auto attachments = direct->attachments(), expectedAttachments = parsed->attachments();
    check(attachments.ok() && expectedAttachments.ok() && attachments->size() == expectedAttachments->size());
    return 0;
}

// SPDX-License-Identifier: MIT
// Feeds arbitrary message files to the Maildir item and checks that the readings without GMime's whole tree
// give exactly what the full parse gives: a message of one text part read directly, and any multipart read
// part by part (its parts found by their offsets, each parsed on its own). Compared: the sender's name, the
// recipients, both bodies and the attachments (names, types, Content-IDs, bytes, attached mails' subjects).
// A message a reading declines is read by the parser either way.
#include "fuzzcheck.h"
#include "mail/maildir/maildirmessage.h"

#include <cstdint>
#include <cstdlib>

using namespace quillbox;
using quillbox::fuzz::check;
using namespace quillbox::mail;

namespace {

void checkSameAsParser(const QByteArray& raw, maildir::BodyReading reading)
{
    const auto item = maildir::makeMessage(raw, {}, {}, nullptr, reading);
    const auto parsed = maildir::makeMessage(raw, {}, {}, nullptr, maildir::BodyReading::Parser);
    check(item->senderName() == parsed->senderName());
    check(item->displayCc() == parsed->displayCc());
    check(item->plainBody() == parsed->plainBody());
    check(item->htmlBody() == parsed->htmlBody());
    const QList<Recipient> recipients = item->recipients(), expected = parsed->recipients();
    check(recipients.size() == expected.size());
    for (qsizetype i = 0; i < recipients.size(); ++i)
        check(recipients[i].name == expected[i].name && recipients[i].address == expected[i].address
            && recipients[i].type == expected[i].type);
    const auto attachments = item->attachments(), expectedAttachments = parsed->attachments();
    check(attachments.ok() && expectedAttachments.ok() && attachments->size() == expectedAttachments->size());
    for (std::size_t i = 0; i < attachments->size(); ++i) {
        const Attachment &got = *(*attachments)[i], &want = *(*expectedAttachments)[i];
        check(got.fileName() == want.fileName() && got.mimeType() == want.mimeType()
            && got.contentId() == want.contentId() && got.contentLocation() == want.contentLocation()
            && got.isInline() == want.isInline() && *got.data() == *want.data());
        const auto mail = got.embeddedMessage(), expectedMail = want.embeddedMessage();
        check(bool(mail) == bool(expectedMail));
        if (mail)
            check(mail->summary().subject == expectedMail->summary().subject
                && mail->plainBody() == expectedMail->plainBody());
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray raw(reinterpret_cast<const char*>(data), qsizetype(size));
    if (maildir::readsWithoutParser(raw))
        checkSameAsParser(raw, maildir::BodyReading::Direct);
    checkSameAsParser(raw, maildir::BodyReading::Split);
    return 0;
}

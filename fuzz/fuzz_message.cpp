// SPDX-License-Identifier: MIT
// Feeds arbitrary message files to the Maildir item, read as the store reads them (directly where it
// can) and through GMime's full parse, and saves each through every output: .txt, .rtf, .html (the
// per-mail directory's page), .eml and .msg, and the data of each attachment and attached mail. Checks
// what must hold for every message:
// - the .txt and .html contents (the directory's message.html and index.html too) are valid UTF-8, the .rtf content is
// ASCII and an RTF document;
// - the .eml content is the message file byte for byte (the store holds it raw), but for an empty file;
// - the .msg file builds and is a whole number of 512-byte sectors;
// - an attached mail goes through the same outputs.
#include "fuzzcheck.h"
#include "mail/maildir/maildirmessage.h"
#include "output/formats.h"
#include "output/msg/msgwriter.h"

#include <QLocale>
#include <QStringDecoder>

#include <cstdint>
#include <cstdlib>

using namespace quillbox;
using quillbox::fuzz::check;

namespace {

bool validUtf8(const QByteArray& bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8);
    (void)decoder.decode(bytes);
    return !decoder.hasError();
}

void saveEveryWay(const mail::MailItem& item, const QByteArray* raw, int depth)
{
    const QLocale locale(QLocale::English, QLocale::UnitedStates);
    check(validUtf8(formats::textContent(item, locale)));
    check(validUtf8(formats::htmlContent(item, locale)));
    const formats::DirectoryHtml directory = formats::directoryHtml(item, locale);
    check(validUtf8(directory.message) && validUtf8(directory.index));
    check(directory.index.isEmpty() || directory.index.contains("<a href=\"message.html\">"));
    const QByteArray rtf = formats::rtfContent(item, locale);
    check(rtf.startsWith("{\\rtf"));
    for (char c : rtf)
        check(static_cast<unsigned char>(c) < 0x80);
    const auto eml = formats::emlContent(item);
    check(eml.ok() && (!raw || raw->isEmpty() || *eml == *raw));
    const auto msg = msg::msgBytes(item);
    check(msg.ok() && msg->size() % 512 == 0);
    const auto attachments = item.attachments();
    if (!attachments.ok() || depth > 2)
        return;
    for (const auto& attachment : *attachments) {
        (void)attachment->fileName();
        (void)attachment->data();
        if (const auto embedded = attachment->embeddedMessage())
            saveEveryWay(*embedded, nullptr, depth + 1);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray raw(reinterpret_cast<const char*>(data), qsizetype(size));
    using mail::maildir::BodyReading;
    for (BodyReading reading : { BodyReading::Direct, BodyReading::Parser })
        saveEveryWay(*mail::maildir::makeMessage(raw, {}, {}, nullptr, reading), &raw, 0);
    return 0;
}

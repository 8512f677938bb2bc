// SPDX-License-Identifier: MIT
#pragma once
// Conversions of the store model's values into what an Outlook message file holds.

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <optional>

namespace quillbox::msg {

/// `time` as a FILETIME (100-nanosecond intervals since 1 January 1601 UTC); nothing for an invalid
/// time, the store's "no date" (1 January 4501) and times before 1601.
std::optional<quint64> toFileTime(const QDateTime& time);

/// `text` as UTF-16LE without a terminator, the form of a Unicode string property's stream.
/// NUL characters are left out: readers take the first one as the end of the string.
QByteArray toUtf16LE(const QString& text);

/// A DOS 8.3 name for the attachment named `longName` (its last path component): upper-case ASCII,
/// at most 8 characters before the dot and 3 after; "~1" marks a name that had to be shortened or
/// changed. Empty for an empty name.
QString shortFileName(const QString& longName);

/// The 16-byte header of an RTF body stored uncompressed in PR_RTF_COMPRESSED: the sizes, the
/// "MELA" marker of the uncompressed form and a zero CRC (which that form does not check).
QByteArray uncompressedRtfHeader(quint32 rtfSize);

/// `html` with every charset that its <meta> tags declare replaced by "utf-8": the HTML body is
/// stored as UTF-8, and a reader believes the document's own declaration over the message's.
QString withUtf8Charset(const QString& html);

/// The prefix Outlook keeps apart from `subject` ("RE: ", "AW: ", "Fwd: "): one to three characters that
/// are neither digits nor white space, a colon and a space, at the start. Empty when there is none.
QString subjectPrefixOf(const QString& subject);

/// A one-off entry identifier, Unicode form: the address of someone who is in no address book, as
/// PR_REPLY_RECIPIENT_ENTRIES holds it.
QByteArray oneOffEntryId(const QString& name, const QString& addressType, const QString& address);

/// A FlatEntryList: the count, the size, then each entry identifier with its size, padded to 4 bytes.
QByteArray flatEntryList(const QList<QByteArray>& entryIds);

/// The CRC-32 (the zlib one) of `bytes`, with which the named-property map files a string name.
quint32 crc32(const QByteArray& bytes);

} // namespace quillbox::msg

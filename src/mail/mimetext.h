// SPDX-License-Identifier: MIT
#pragma once
// The few decoding steps the mail stores hand to GMime: RFC 2047 header text, address lists, dates GMime's own parser
// can read, and body text in any charset.

#include <QByteArray>
#include <QList>
#include <QString>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

typedef struct _InternetAddressList InternetAddressList;

namespace quillbox::mail {

/// Unstructured header text (Subject) with its encoded words decoded.
QString decodeHeaderText(std::string_view raw);

struct Address {
    QString name; ///< empty when the address has none
    QString address;
};
/// The mailboxes of an address list header; the members of a group stand for it, and a group without
/// members gives one entry with its name only ("undisclosed-recipients").
QList<Address> parseAddresses(const std::string& raw);
/// As parseAddresses(), but nullopt where GMime finds a fault in a text that is not blank: its message
/// parse keeps the addresses read up to the fault, which its parser of a lone list does not give.
std::optional<QList<Address>> parseWholeAddresses(const std::string& raw);
/// Calls `visit` with each address parseWholeAddresses() gives, one at a time, without holding them all:
/// a list of a plain form is read straight from `raw`, any other by GMime. False, and nothing visited,
/// where parseWholeAddresses() gives nullopt; an empty `visit` only checks.
bool forEachWholeAddress(std::string_view raw, const std::function<void(const Address&)>& visit);
QList<Address> addressesOf(InternetAddressList* list);
/// Calls `visit` with each address addressesOf() gives.
void forEachAddressOf(InternetAddressList* list, const std::function<void(const Address&)>& visit);
/// Display names joined by "; ", the address where a mailbox has no name.
QString displayNames(const QList<Address>& addresses);
/// Adds the display name of `address` to `names` as displayNames() joins them.
void appendDisplayName(QString& names, const Address& address);
/// The display names of the address list `raw` as displayNames(parseAddresses(raw)) gives them.
QString displayNamesOf(std::string_view raw);
/// The first address of the list `raw` that parseAddresses(raw) gives with an address (not a group
/// without members); empty when there is none.
QString firstAddressOf(std::string_view raw);

/// The unfolded value of the first header field `name` (matched without regard to case) of the header
/// block `block`, white space around it removed; nullopt when the block has no such field.
std::optional<std::string> headerField(std::string_view block, std::string_view name);

/// Seconds since the epoch of a date header; nullopt when it cannot be read.
std::optional<qint64> parseDate(std::string_view raw);

/// Body bytes in `charset` as text. A charset label is read as the WHATWG Encoding Standard reads it (see
/// labelDecoder()): an undecodable sequence becomes U+FFFD and the rest stays. Text without a charset is read as
/// UTF-8 where it is valid, else as GMime reads 8-bit header text (UTF-8, then windows-1252); a label the
/// standard does not list goes to iconv, and text iconv cannot read takes that way too.
QString decodeBody(const QByteArray& bytes, const QByteArray& charset);
/// An HTML part's bytes as text: in the part's `charset` where it declares one, else in the charset of the
/// document's <meta> tag before its body (<meta charset=...> or <meta http-equiv="Content-Type"
/// content="...; charset=...">), else as text without a charset.
QString decodeHtmlBody(const QByteArray& bytes, const QByteArray& charset);

} // namespace quillbox::mail

// SPDX-License-Identifier: MIT
#pragma once
// Charset labels and Windows code pages to decoders, read the way browsers and most mail programs read them:
// by the labels of the WHATWG Encoding Standard, with Qt's ICU decoders. A label names the encoding mail really
// uses under it, so "iso-8859-1" text is read as windows-1252 and "shift_jis" text with Microsoft's extensions.

#include <QByteArrayView>
#include <QStringDecoder>

namespace quillbox::mail {

/// A stateless decoder for the charset `label` (ASCII case and surrounding white space ignored) as the WHATWG
/// Encoding Standard reads it: "iso-8859-1", "latin1" and "us-ascii" are windows-1252, "iso-8859-9" is
/// windows-1254, "shift_jis" is windows-31j (code page 932), "euc-kr" and "ks_c_5601-1987" are windows-949,
/// "gb2312" is GBK, "tis-620" is windows-874, "utf-16" is UTF-16LE. An undecodable sequence becomes U+FFFD.
/// Invalid for a label the standard does not list, for the encodings ICU lacks (ISO-8859-16,
/// x-user-defined) and for those the standard reads as one replacement character (ISO-2022-KR, HZ-GB-2312),
/// which mail still carries and other decoders read.
[[nodiscard]] QStringDecoder labelDecoder(QByteArrayView label);

/// A stateless decoder for the Windows code page `codePage` (932, 1252, 28591, 65001, ...): the code page's
/// charset label read as labelDecoder() reads it, else ICU's "cpNNN" or "windows-NNN"; windows-1252 for a
/// code page ICU cannot read.
[[nodiscard]] QStringDecoder codePageDecoder(int codePage);

} // namespace quillbox::mail

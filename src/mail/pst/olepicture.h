// SPDX-License-Identifier: MIT
#pragma once
// The picture an OLE object holds. Outlook keeps a picture pasted into a rich-text mail as an OLE attachment
// (attach method 6): a compound file whose class is a static picture, or an object that caches how it looks.
// Such an attachment is worth more to a person as the picture than as the compound file.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>

namespace quillbox::mail::pst {

/// A picture file: its bytes, the extension of its format (without the dot) and its MIME type.
struct Picture {
    QByteArray bytes;
    QString extension;
    QString mimeType;
};

/// The picture of the OLE object stored as the compound file `storage` ([MS-CFB]), looked for in its root
/// storage's streams in this order: "CONTENTS" (a static picture's data), "\x03META" (the metafile beside a
/// "\x03PIC" header), "\x02OlePres000" (the cached presentation, [MS-OLEDS] OLEPresentationStream). A stream
/// holds a picture when it is a bitmap file, a device-independent bitmap (saved as a bitmap file: a
/// BITMAPFILEHEADER in front), a Windows metafile (placeable or not) or an enhanced metafile. Nothing when
/// none holds one or the compound file cannot be read; any bytes are read safely.
[[nodiscard]] std::optional<Picture> oleObjectPicture(QByteArrayView storage);

} // namespace quillbox::mail::pst

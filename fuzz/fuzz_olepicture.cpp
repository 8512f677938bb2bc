// SPDX-License-Identifier: MIT
// Feeds arbitrary bytes, as the compound file of an OLE attachment, to the search for the picture it holds,
// and checks what must hold for every input:
// - any bytes are read, damaged sector chains, directory trees in a loop and sizes beyond the file too;
// - a picture found is one of the three kinds, its bytes are not empty, and a bitmap is a bitmap file whose
//   header gives its own size and a pixel offset within it.
#include "fuzzcheck.h"
#include "mail/pst/olepicture.h"

#include <QtEndian>

#include <cstdint>
#include <cstdlib>

using namespace quillbox;
using quillbox::fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const std::optional<mail::pst::Picture> picture = mail::pst::oleObjectPicture(bytes);
    if (!picture)
        return 0;
    check(!picture->bytes.isEmpty());
    const QString& kind = picture->extension;
    check(kind == u"bmp" || kind == u"wmf" || kind == u"emf");
    check(picture->mimeType == QStringLiteral("image/") + kind);
    if (kind == u"bmp") {
        check(picture->bytes.size() > 14 && picture->bytes.startsWith("BM"));
        check(qFromLittleEndian<quint32>(picture->bytes.constData() + 10) >= 14);
    }
    return 0;
}

// SPDX-License-Identifier: MIT
#pragma once
// The PDF output type's seam. Laying out a mail on pages needs Qt Gui (fonts, QTextDocument, QPdfWriter),
// which the layers below the window do not load: the builder lives in its own library (output/pdf/) and
// the program installs it at start. Without one, "PDF" is an output type the save run does not know.

#include "core/result.h"

#include <QByteArray>
#include <QLocale>
#include <functional>

namespace quillbox::mail {
class MailItem;
}

namespace quillbox::output {

/// The bytes of a mail's PDF file: its header lines, its body and the list of its attachments.
using PdfBuilder = std::function<Result<QByteArray>(const mail::MailItem& email, const QLocale& locale)>;

/// Makes `builder` the one every later save run uses; an empty one takes it away.
void setPdfBuilder(PdfBuilder builder);
/// The builder installed, or an empty one.
const PdfBuilder& pdfBuilder();

} // namespace quillbox::output

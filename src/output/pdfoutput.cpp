// SPDX-License-Identifier: MIT
#include "output/pdfoutput.h"

namespace quillbox::output {

namespace {
PdfBuilder& installed()
{
    static PdfBuilder builder;
    return builder;
}
} // namespace

void setPdfBuilder(PdfBuilder builder)
{
    installed() = std::move(builder);
}

const PdfBuilder& pdfBuilder()
{
    return installed();
}

} // namespace quillbox::output

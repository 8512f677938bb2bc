// SPDX-License-Identifier: MIT
#include "core/gmime.h"

#include <gmime/gmime.h>

namespace quillbox {

GMimeParserOptions* parserOptions()
{
    static GMimeParserOptions* options = [] {
        g_mime_init();
        GMimeParserOptions* lenient = g_mime_parser_options_new();
        static const char* fallback[] = { "UTF-8", "windows-1252", nullptr };
        g_mime_parser_options_set_fallback_charsets(lenient, fallback);
        g_mime_parser_options_set_rfc2047_compliance_mode(lenient, GMIME_RFC_COMPLIANCE_LOOSE);
        g_mime_parser_options_set_address_compliance_mode(lenient, GMIME_RFC_COMPLIANCE_LOOSE);
        g_mime_parser_options_set_parameter_compliance_mode(lenient, GMIME_RFC_COMPLIANCE_LOOSE);
        return lenient;
    }();
    return options;
}

} // namespace quillbox

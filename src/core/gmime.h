// SPDX-License-Identifier: MIT
#pragma once
// GMime, set up once for the whole program.

typedef struct _GMimeParserOptions GMimeParserOptions;

namespace quillbox {

/// Lenient parser options (8-bit text that is not UTF-8 is read as windows-1252). The first call
/// initialises GMime; every user of GMime calls this before anything else of it.
GMimeParserOptions* parserOptions();

} // namespace quillbox

// SPDX-License-Identifier: MIT
#pragma once
// Readable GoogleTest failure output for Qt texts: "text" rather than a dump of bytes. GoogleTest finds
// PrintTo by argument-dependent lookup, in the namespace of the printed type, so it stands in the global
// namespace with QString.

#include <QString>
#include <ostream>

inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}

// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QStringView>
#include <span>

namespace quillbox {

/// Expands a template of saved names and exported lines: for N = 1, 2, ... values.size(), in that order,
/// every "%" followed by the decimal digits of N in the current text is replaced by values[N - 1]; then
/// every "%%" becomes "%". Each step scans left to right without overlap and does not rescan what it
/// inserted, but later steps work on the whole text, inserted values included. So "%10" is value 1
/// followed by "0", a "%" followed by anything else stays, "%%1" is "%" and value 1, and a value holding
/// "%5" gets value 5 in its place.
[[nodiscard]] QString expandPlaceholders(const QString& pattern, std::span<const QStringView> values);

} // namespace quillbox

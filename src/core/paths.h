// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

namespace quillbox {

/// The program's folder: the executable's folder when it is writable, else
/// $XDG_CONFIG_HOME/Quillbox (created on first write). Never ends with "/".
QString programFolder();

/// The default settings file: "Quillbox.ini" in the program's folder.
QString defaultIniPath();

/// Where the windows keep what they remember between runs (size and place, columns, the last texts of the
/// boxes, the last folder a data file was added from): $XDG_CONFIG_HOME/Quillbox/window.ini.
QString rememberedStatePath();

/// The per-user configuration folder, $XDG_CONFIG_HOME or ~/.config. Never ends with "/".
QString configHome();

} // namespace quillbox

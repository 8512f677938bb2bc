// SPDX-License-Identifier: MIT
#pragma once

// Read-only registry values by textual path, and the access-program settings kept in them.
//
// The registry is two text files in the REGEDIT4 format, one per root:
//   HKEY_CURRENT_USER   $QUILLBOX_HKCU, else $XDG_CONFIG_HOME/Brindlewick/user.reg (~/.config/... by default)
//   HKEY_LOCAL_MACHINE  $QUILLBOX_HKLM, else /etc/Brindlewick/system.reg
//
// What a file may hold (anything else on a line makes that line malformed; it is skipped and the rest of
// the file still counts):
//   - first line "REGEDIT4" (after an optional UTF-8 byte-order mark); a file without it holds nothing
//   - blank lines and comment lines starting with ";"
//   - key lines "[HKEY_CURRENT_USER\Software\Brindlewick\Quillbox]": the root must be the file's own
//     ("HKEY_CURRENT_USER" or "HKCU" in user.reg, "HKEY_LOCAL_MACHINE" or "HKLM" in system.reg, any case);
//     the values below a key line of another root, or of a malformed one, belong to no key.
//     "[-KEY]" deletes the key with its sub-keys and everything read for them so far.
//   - value lines NAME=DATA, NAME being @ (the default value) or a quoted name ("" is the default value too):
//       "text"            a string; data = its UTF-8 bytes and a terminating zero byte
//       dword:1f          one to eight hex digits; data = four bytes, little-endian
//       hex:41,42,00      two hex digits per byte, comma-separated; "hex(N):" the same for any type N.
//                         A line ending in "\" continues on the next line, as regedit wraps long data.
//       -                 deletes the value
//     In quoted names and strings "\\" stands for "\" and "\"" for a quote; a backslash before any other
//     character stays as written, so a hand-written "C:\Tools\gate" reads as typed.
// The same value given again replaces the earlier one. Keys and value names match without regard to case.
// Lines longer than 64 KiB count as data too long for any value.

#include <QString>

namespace quillbox {

/// The registry roots a textual registry path can select.
enum class RegRoot { None, LocalMachine, CurrentUser };

/// A textual registry path ROOT\KEY\...\VALUE, taken apart.
struct RegPath {
    RegRoot root = RegRoot::None;
    QString key; ///< between the first and the last backslash; may hold further backslashes
    QString value; ///< after the last backslash; empty names the key's default value

    bool operator==(const RegPath&) const = default;
};

/// Splits `path` into root, key and value name. The root is the text before the first backslash: "hklm" or
/// "hkcu" in any case; anything else, the long forms "HKEY_LOCAL_MACHINE" and "HKEY_CURRENT_USER" included,
/// selects nothing. A path with fewer than two backslashes, or whose root selects nothing, gives
/// RegRoot::None with an empty key and value name.
[[nodiscard]] RegPath splitRegPath(const QString& path);

/// The registry file that holds `root` (see above); empty for RegRoot::None.
[[nodiscard]] QString registryFile(RegRoot root);

/// The data of the value named by `path`, as text; an empty text when anything fails. Never reports an error.
///
/// The value's data is read into a buffer of 1024 bytes: data longer than that gives an empty text, which
/// for a string means 1024 bytes of UTF-8 or more, its terminating zero byte making 1025. Otherwise the
/// value's type is not looked at: the data, without its last byte, is taken as UTF-8 text up to its first
/// zero byte (where a command line would end it anyway). So a string gives itself, "hex:" bytes of a string
/// with its zero give that string, "hex:" bytes without a zero lose their last byte, a multi-string gives its
/// first string, "dword:00000031" gives "1" (its low three bytes as text) and a dword of 0 an empty text.
/// The file is read anew on each call.
[[nodiscard]] QString getRegValue(const QString& path);

/// The access program's three texts, read once when the main window loads; all empty when not configured.
struct AccessSettings {
    QString program; ///< the access program's file path; empty: the hooks do nothing
    QString allowArguments; ///< the arguments before work on the mail store
    QString disallowArguments; ///< the arguments after work on the mail store

    bool operator==(const AccessSettings&) const = default;
};

/// The key of the program's own registry values, with its trailing backslash.
inline constexpr char16_t kProgramRegKey[] = u"HKCU\\Software\\Brindlewick\\Quillbox\\";

/// Reads the access settings in two steps: value AccessProg of the program's key holds the textual registry
/// path of the value that holds the program's file path. When AccessProg is empty or missing everything stays
/// empty; otherwise the program is getRegValue(AccessProg) and the arguments are the program key's values
/// AllowAccess and DisallowAccess.
[[nodiscard]] AccessSettings readAccessSettings();

/// The command line that starts the access program: a quote, `program`, a quote, one space, then `arguments`
/// exactly as read (so empty arguments leave the line ending in a space). A quote inside `program` is doubled,
/// which the command-line tokenizer reads back as one, so the program's path comes back whole.
/// Callers start nothing when `program` is empty.
[[nodiscard]] QString accessCommandLine(const QString& program, const QString& arguments);

} // namespace quillbox

// SPDX-License-Identifier: MIT
#pragma once

#include "core/result.h"

#include <QString>
#include <QStringList>
#include <optional>

namespace quillbox {

class Person;

/// One INI file and its operations. Every operation goes to the file itself: nothing is cached, so each
/// read sees the file's current content and each write reaches the file at once.
///
/// The file is UTF-8 text (a byte-order mark is skipped), with LF or CR LF line ends. Lines are read as:
/// - `[Name]`: a section header; the name is the text up to the first "]", without surrounding blanks;
/// - a line whose first non-blank character is ";": a comment, ignored;
/// - `key=value`: an entry; key and value lose their surrounding blanks. A line without "=" is an entry
///   with that name and no value. Entries before the first header belong to no section.
/// Section and key names match without regard to letter case; the first match counts.
/// A NUL byte ends the text of its line. A file that does not exist reads as an empty file.
///
/// Writes replace the whole file atomically (temporary file, then rename); lines they do not touch are
/// written back byte for byte, and the file keeps its line-end style (LF for a new file). A write that
/// would not change the file leaves it alone. Written texts are kept on one line: each line break
/// (CR LF, CR or LF) becomes one space, and a text ends at its first NUL character.
///
/// Reads that fail on a file that exists (no permission, I/O error) show the warning box
/// "ViriravEZI, Sub <operation>" with Abort, Retry and Ignore through the person given at construction:
/// Retry reads again, Abort and Ignore leave the outputs as the caller passed them.
class IniFile {
public:
    /// The read limits, in characters (UTF-16 code units): the size of each read's buffer, and the size
    /// declared to the read, which gives the longest text that comes back.
    static constexpr int kValueBuffer = 4095; ///< a value: at most 4094 characters
    static constexpr int kListBuffer = 4096, kListDeclared = 4095; ///< a section's entries or key names
    static constexpr int kSectionsBuffer = 255, kSectionsDeclared = 254; ///< the file's section names

    explicit IniFile(Person& person);

    /// The path of the INI file, used unchanged (a relative path is taken from the current directory).
    /// Empty after construction; with an empty path every read gives nothing and every write fails.
    QString fileName() const { return m_fileName; }
    void setFileName(const QString& path) { m_fileName = path; }

    /// The value of `key` in `section`, or `defaultValue` when the file, section or key is missing or the
    /// value is empty (an empty pair of quotes included).
    [[nodiscard]] QString getKey(const QString& section, const QString& key, const QString& defaultValue);

    /// Sets `keyValue` to the value of `key` in `section` when that value is not empty, and
    /// leaves it as passed otherwise. Blanks around the value are dropped; then one pair of double quotes
    /// that encloses the whole value is removed (the blanks inside stay). At most 4094 characters come
    /// back, fewer when the cut would split a surrogate pair.
    void getKeyValue(const QString& section, const QString& key, QString& keyValue);

    /// Writes `key=value` into the section: an existing key's line is replaced in place (the key keeps its
    /// spelling in the file), a new key goes after the section's last non-blank line, a new section is
    /// appended to the file, and the file is created when missing. With no value (std::nullopt) every
    /// entry of the key in the section is deleted instead. The outcome is left in lastWriteError().
    void writeKeyValue(const QString& section, const QString& key, const std::optional<QString>& keyValue);

    /// writeKeyValue; true when the write failed, false when it succeeded.
    [[nodiscard]] bool addKey(const QString& section, const QString& newKey, const std::optional<QString>& keyValue);

    /// Deletes the key from the section; true when the file could not be written, false on success
    /// (a key, section or file that is not there counts as deleted and leaves the file alone).
    [[nodiscard]] bool deleteKey(const QString& section, const QString& keyToDelete);

    /// Replaces the section's lines (all but the blank lines that end it) with the entries of `text`:
    /// texts each ended by a NUL, the list ended by one more NUL (a last text without its NUL counts too).
    /// A missing section is appended to the file. The outcome is left in lastWriteError().
    void writeSection(const QString& sectionName, const QString& text);

    /// Fills `keyList` with the section's entries as "key=value" (the value as stored, quotes and
    /// all; "key" alone for an entry without "="), in file order, then one empty element.
    void getSection(const QString& section, QStringList& keyList);

    /// Fills `keyList` with the names of the section's keys that have a value ("="), each name once,
    /// in file order, then one empty element.
    void getAllKeys(const QString& section, QStringList& keyList);

    /// Fills `sectionList` with the names of the file's sections, each once, in file order, then one
    /// empty element.
    ///
    /// The three list reads return what fits in their buffer (section names: 253 characters with their
    /// NUL separators); an entry that does not fit whole is left out with all entries after it. A missing
    /// file or section gives one empty element.
    void getAllSections(QStringList& sectionList);

    /// Why the last write (writeKeyValue, addKey, deleteKey, writeSection) failed, or nothing when it
    /// succeeded. The error names the file and gives the system's reason.
    const std::optional<Error>& lastWriteError() const { return m_lastWriteError; }

private:
    struct Document;
    enum class ListKind { Entries, Keys, Sections };

    // Reads and parses the file; on failure asks the person, Retry reads again. Nothing on Abort/Ignore.
    std::optional<Document> readForCaller(const QString& operation);
    void readList(const QString& operation, ListKind kind, const QString& section, QStringList& out);
    std::optional<Document> readForWrite();
    void commit(const Document& before, const Document& after);

    Person& m_person;
    QString m_fileName;
    std::optional<Error> m_lastWriteError;
};

} // namespace quillbox

// SPDX-License-Identifier: MIT
#pragma once
// Names of saved files and directories: one safe path component each, no longer than a file system
// takes, and never the same twice within one save run.

#include <QHash>
#include <QSet>
#include <QString>
#include <utility>

namespace quillbox::output {

/// The longest name a file system takes, in bytes of UTF-8.
inline constexpr qsizetype kMaxNameBytes = 255;

/// `name` as one path component that shows what it holds: "/", control characters (C0, DEL, C1) and the
/// bidirectional controls (U+202A to U+202E, U+2066 to U+2069) become "_", and so does a dot at the start
/// (no hidden names); "", "." and ".." become `fallback`. Nothing else changes.
QString safeComponent(const QString& name, const QString& fallback);

/// stem + suffix + extension, the stem cut at its end so that the whole takes at most kMaxNameBytes
/// bytes of UTF-8. Whole characters are kept or dropped, never a part of one (a surrogate pair is one).
QString fitName(const QString& stem, const QString& suffix = {}, const QString& extension = {});

/// A file name split before its extension: "report.pdf" gives "report" and ".pdf". The extension is the
/// part from the last dot when that dot is not the first character and the part is at most 16 characters
/// long without a blank; otherwise the name has none (".profile", "v1.2 draft", "a.<300 characters>").
std::pair<QString, QString> splitExtension(const QString& name);

/// The names one save run has given out, per directory (a path relative to the destination). What is
/// unique is decided from this record alone, never from what the disk holds, so the same list saved
/// again gets the same names and replaces the same files. Names, and the directories they are given out
/// in, are compared by the bytes written for them (two texts that encode alike name one file) and without
/// regard to case, because a destination on a file system that ignores case would otherwise merge two.
class NameBook {
public:
    /// The first of stem + extension, stem + " (2)" + extension, stem + " (3)" + extension, ..., each made
    /// to fit by fitName(), that `dir` has not given out yet; it is given out now.
    QString claim(const QString& dir, const QString& stem, const QString& extension = {});

    /// Records `name` as given out in `dir`, whether or not it was before: a folder's directory, which
    /// every mail of that folder shares, so that no mail's own directory gets its name afterwards.
    void share(const QString& dir, const QString& name);

private:
    static QString key(const QString& name);

    QHash<QString, QSet<QString>> m_given; // directory -> names given out, by key()
    QHash<QString, int> m_nextNumber; // directory + "/" + stem + extension -> the number to try next
};

} // namespace quillbox::output

// SPDX-License-Identifier: MIT
#include "output/outputnames.h"

#include <QFile>

#include <algorithm>

namespace quillbox::output {

namespace {

// The bytes `text` takes in UTF-8 from `at` to the end of the character that starts there, and that
// character's length in UTF-16 code units. A lone surrogate is counted as the replacement character.
std::pair<int, int> nextCharacter(const QString& text, qsizetype at)
{
    const char16_t c = text[at].unicode();
    if (QChar::isHighSurrogate(c) && at + 1 < text.size() && QChar::isLowSurrogate(text[at + 1].unicode()))
        return { 4, 2 };
    if (c < 0x80)
        return { 1, 1 };
    if (c < 0x800)
        return { 2, 1 };
    return { 3, 1 };
}

qsizetype utf8Length(const QString& text)
{
    qsizetype bytes = 0;
    for (qsizetype at = 0; at < text.size();) {
        const auto [size, units] = nextCharacter(text, at);
        bytes += size;
        at += units;
    }
    return bytes;
}

// The longest start of `text` that takes at most `maxBytes` bytes of UTF-8.
QString cutToBytes(const QString& text, qsizetype maxBytes)
{
    qsizetype bytes = 0;
    qsizetype at = 0;
    while (at < text.size()) {
        const auto [size, units] = nextCharacter(text, at);
        if (bytes + size > maxBytes)
            break;
        bytes += size;
        at += units;
    }
    return text.left(at);
}

} // namespace

namespace {

// Characters a name does not keep: "/" (a path separator), control characters (C0 with NUL, DEL, C1),
// and the bidirectional controls, which make a name read differently from the bytes it holds (an RLO
// shows "photo_gpj.exe" as "photo_exe.jpg").
bool isUnsafeInName(char16_t c)
{
    return c == u'/' || c < 0x20 || (c >= 0x7F && c <= 0x9F) || (c >= 0x202A && c <= 0x202E)
        || (c >= 0x2066 && c <= 0x2069);
}

} // namespace

QString safeComponent(const QString& name, const QString& fallback)
{
    if (name.isEmpty() || name == u"." || name == u"..")
        return fallback;
    QString safe = name;
    for (QChar& c : safe)
        if (isUnsafeInName(c.unicode()))
            c = u'_';
    if (safe.startsWith(u'.')) // a hidden file: out of sight in a listing
        safe[0] = u'_';
    return safe;
}

QString fitName(const QString& stem, const QString& suffix, const QString& extension)
{
    const QString tail = suffix + extension;
    const qsizetype room = kMaxNameBytes - utf8Length(tail);
    if (room < 0)
        return cutToBytes(stem + tail, kMaxNameBytes);
    if (stem.size() * 3 <= room) // no code unit takes more than three bytes: it fits whole, no need to count
        return stem + tail;
    return cutToBytes(stem, room) + tail;
}

std::pair<QString, QString> splitExtension(const QString& name)
{
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot <= 0 || name.size() - dot > 16 || name.indexOf(u' ', dot) >= 0)
        return { name, QString() };
    return { name.left(dot), name.mid(dot) };
}

QString NameBook::key(const QString& name)
{
    // Folding ASCII is lowering A to Z; the general folding takes many times longer, and a save asks for the
    // key of every name it gives.
    if (std::all_of(name.begin(), name.end(), [](QChar c) { return c.unicode() < 0x80; })) {
        QString folded(name.size(), Qt::Uninitialized);
        std::transform(name.begin(), name.end(), folded.begin(),
            [](QChar c) { return c >= u'A' && c <= u'Z' ? QChar(c.unicode() + (u'a' - u'A')) : c; });
        return folded;
    }
    // Texts that differ only where the file system's encoding cannot tell them apart (a lone surrogate
    // is written as "?") name one file.
    return QString::fromUtf8(QFile::encodeName(name)).toCaseFolded();
}

QString NameBook::claim(const QString& dir, const QString& stem, const QString& extension)
{
    QSet<QString>& given = m_given[key(dir)];
    // Gives out `candidate` when it is free.
    const auto take = [&given](const QString& candidate) {
        const qsizetype before = given.size();
        given.insert(key(candidate));
        return given.size() > before;
    };
    QString name = fitName(stem, {}, extension);
    if (take(name))
        return name;
    // Remembering where the numbers got to keeps a run of many equal names (an empty template names
    // every mail alike) from trying " (2)", " (3)", ... again for every mail.
    int& number = m_nextNumber[key(dir + u'/' + stem + extension)];
    for (number = std::max(number, 2);; ++number) {
        name = fitName(stem, QStringLiteral(" (%1)").arg(number), extension);
        if (take(name)) {
            ++number;
            return name;
        }
    }
}

void NameBook::share(const QString& dir, const QString& name)
{
    m_given[key(dir)].insert(key(name));
}

} // namespace quillbox::output

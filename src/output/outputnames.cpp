// SPDX-License-Identifier: MIT
#include "output/outputnames.h"

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

QString safeComponent(const QString& name, const QString& fallback)
{
    if (name.isEmpty() || name == u"." || name == u"..")
        return fallback;
    QString safe = name;
    safe.replace(u'/', u'_');
    safe.replace(QChar(u'\0'), u'_');
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

QString NameBook::claim(const QString& dir, const QString& stem, const QString& extension)
{
    QSet<QString>& given = m_given[dir];
    QString name = fitName(stem, {}, extension);
    if (!given.contains(name.toCaseFolded())) {
        given.insert(name.toCaseFolded());
        return name;
    }
    // Remembering where the numbers got to keeps a run of many equal names (an empty template names
    // every mail alike) from trying " (2)", " (3)", ... again for every mail.
    int& number = m_nextNumber[dir + u'/' + stem.toCaseFolded() + extension.toCaseFolded()];
    for (number = std::max(number, 2);; ++number) {
        name = fitName(stem, QStringLiteral(" (%1)").arg(number), extension);
        if (!given.contains(name.toCaseFolded())) {
            given.insert(name.toCaseFolded());
            ++number;
            return name;
        }
    }
}

void NameBook::share(const QString& dir, const QString& name)
{
    m_given[dir].insert(name.toCaseFolded());
}

} // namespace quillbox::output

// SPDX-License-Identifier: MIT
#include "config/options.h"

#include "core/paths.h"
#include "core/person.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <cmath>

namespace quillbox {

namespace {

const QString kSection = QStringLiteral("Options");

enum class Parse { LeadingNumber, WholeText };

struct StateKey {
    const char16_t* key;
    int Settings::*field;
    int fallback;
    Parse parse;
};

struct TextKey {
    const char16_t* key;
    QString Settings::*field;
    const char16_t* fallback;
    bool quoted;
};

// The check boxes come first and the texts after them, so that the file holds the keys in this order.
const StateKey kStateKeys[] = {
    { u"UseDate", &Settings::useDate, 1, Parse::LeadingNumber },
    { u"UseFrom", &Settings::useFrom, 1, Parse::WholeText },
    { u"UseSubject", &Settings::useSubject, 1, Parse::WholeText },
    { u"UseFnDate", &Settings::useFnDate, 1, Parse::LeadingNumber },
    { u"UseFnFrom", &Settings::useFnFrom, 1, Parse::WholeText },
    { u"UseFnSubject", &Settings::useFnSubject, 1, Parse::WholeText },
    { u"UseFnFolder", &Settings::useFnFolder, 0, Parse::LeadingNumber },
};

const TextKey kTextKeys[] = {
    { u"DateFormat", &Settings::dateFormat, u"yymmdd HHMMSS", false },
    { u"TextFormat", &Settings::textFormat, u"%1 %2 %3", true },
    { u"FnFormat", &Settings::fnFormat, u"%1 %2 %3", false },
    { u"Since", &Settings::since, u"", false },
    { u"Before", &Settings::before, u"", false },
    { u"ClipAddress", &Settings::clipAddress, u"50", false },
    { u"ClipSubject", &Settings::clipSubject, u"50", false },
    { u"FnOutput", &Settings::fnOutput, u"MSG", false },
};

// Written after the texts, so that a file of the earlier keys keeps its order.
const StateKey kArchiveKeys[] = {
    { u"SkipSaved", &Settings::skipSaved, 0, Parse::WholeText },
    { u"WriteIndex", &Settings::writeIndex, 0, Parse::WholeText },
    { u"SetFileTimes", &Settings::setFileTimes, 0, Parse::WholeText },
};

// The decimal number at the start of `text` after leading blanks (sign, digits, decimal point,
// exponent), or 0 when the text does not start with one.
double leadingNumber(const QString& text)
{
    const auto isDigit = [&](qsizetype i) { return i < text.size() && text[i] >= u'0' && text[i] <= u'9'; };
    qsizetype i = 0;
    while (i < text.size() && (text[i] == u' ' || text[i] == u'\t'))
        ++i;
    const qsizetype start = i;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-'))
        ++i;
    const qsizetype digitsStart = i;
    while (isDigit(i))
        ++i;
    qsizetype digits = i - digitsStart;
    if (i < text.size() && text[i] == u'.') {
        const qsizetype fraction = ++i;
        while (isDigit(i))
            ++i;
        digits += i - fraction;
    }
    if (digits == 0)
        return 0;
    if (i < text.size() && (text[i] == u'e' || text[i] == u'E')) {
        qsizetype e = i + 1;
        if (e < text.size() && (text[e] == u'+' || text[e] == u'-'))
            ++e;
        if (isDigit(e)) {
            while (isDigit(e))
                ++e;
            i = e;
        }
    }
    return text.sliced(start, i - start).toDouble();
}

// The check state that `text` gives, or nothing when it is not a number from 0 to 2.
std::optional<int> checkState(const QString& text, Parse parse)
{
    double number = 0;
    if (parse == Parse::LeadingNumber) {
        number = std::nearbyint(leadingNumber(text)); // halves to even
    } else {
        bool ok = false;
        number = text.trimmed().toInt(&ok);
        if (!ok)
            return std::nullopt;
    }
    if (!(number >= 0 && number <= 2))
        return std::nullopt;
    return static_cast<int>(number);
}

QString rebuild(int date, int from, int subject)
{
    QString format;
    if (date != 0)
        format += QLatin1StringView("%1 ");
    if (from != 0)
        format += QLatin1StringView("%2 ");
    if (subject != 0)
        format += QLatin1StringView("%3 ");
    return format.trimmed();
}

} // namespace

Options::Options(Person& person)
    : m_person(person)
    , m_ini(person)
{
    m_ini.setFileName(defaultIniPath());
}

void Options::loadSettings()
{
    const auto loadState = [this](const StateKey& k) {
        const QString fallback = QString::number(k.fallback);
        const QString text = m_ini.getKey(kSection, QString::fromUtf16(k.key), fallback);
        m_settings.*k.field = checkState(text, k.parse).value_or(k.fallback);
    };
    for (const StateKey& k : kStateKeys)
        loadState(k);
    for (const TextKey& k : kTextKeys)
        m_settings.*k.field = m_ini.getKey(kSection, QString::fromUtf16(k.key), QString::fromUtf16(k.fallback));
    for (const StateKey& k : kArchiveKeys)
        loadState(k);
}

void Options::saveSettings()
{
    // The program's folder may be the per-user one, which is made on first use; any other missing folder
    // is the person's to fix and is reported.
    if (m_ini.fileName() == defaultIniPath())
        QDir().mkpath(QFileInfo(m_ini.fileName()).absolutePath());
    const auto write = [this](const char16_t* key, const QString& value) {
        m_ini.writeKeyValue(kSection, QString::fromUtf16(key), value);
        const auto& error = m_ini.lastWriteError();
        if (error) {
            m_person.message(QCoreApplication::translate("Options", "Can't save the settings to %1: %2.")
                                 .arg(QDir::toNativeSeparators(error->path), error->detail));
        }
        return !error;
    };
    for (const StateKey& k : kStateKeys) {
        if (!write(k.key, QString::number(m_settings.*k.field)))
            return;
    }
    for (const TextKey& k : kTextKeys) {
        const QString& text = m_settings.*k.field;
        if (!write(k.key, k.quoted ? u'"' + text + u'"' : text))
            return;
    }
    for (const StateKey& k : kArchiveKeys) {
        if (!write(k.key, QString::number(m_settings.*k.field)))
            return;
    }
}

void Options::useCustomIni(const QString& path)
{
    m_ini.setFileName(path.isEmpty() || QDir::isAbsolutePath(path) ? path : QDir::current().absoluteFilePath(path));
    loadSettings();
}

void Options::rebuildTextFormat()
{
    m_settings.textFormat = rebuild(m_settings.useDate, m_settings.useFrom, m_settings.useSubject);
}

bool Options::isBoxTemplate(const QString& format)
{
    for (int boxes = 0; boxes < 8; ++boxes) {
        if (format == rebuild(boxes & 1, boxes & 2, boxes & 4))
            return true;
    }
    return false;
}

void Options::rebuildFnFormat()
{
    m_settings.fnFormat = rebuild(m_settings.useFnDate, m_settings.useFnFrom, m_settings.useFnSubject);
}

} // namespace quillbox

// SPDX-License-Identifier: MIT
#include "app/headlessperson.h"

namespace quillbox {

namespace {
class SilentProgress : public Progress {
public:
    void setStatus(const QString&) override { }
    void setValue(qint64) override { }
};
} // namespace

void writeText(std::FILE* out, const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), out);
    std::fflush(out);
}

void writeProgramLine(std::FILE* out, const QString& text)
{
    writeText(out, QString::fromUtf16(kProductName) + QLatin1String(": ") + text + u'\n');
}

void HeadlessPerson::writeLine(const QString& text)
{
    // One line per box: line breaks inside the text would split it.
    QString line = text;
    line.replace(QLatin1String("\r\n"), QLatin1String(" | "));
    line.replace(u'\n', QLatin1String(" | "));
    writeProgramLine(m_out, line);
}

void HeadlessPerson::message(const QString& text)
{
    ++m_messages;
    writeLine(text);
}

void HeadlessPerson::information(const QString& text)
{
    writeLine(text);
}

void HeadlessPerson::detailedMessage(const QString& text, const QString& details)
{
    message(text);
    if (!details.isEmpty())
        writeLine(details);
}

WarningAnswer HeadlessPerson::warning(const QString& title, const QString& text)
{
    ++m_messages;
    writeLine(title + QLatin1String(": ") + text);
    return WarningAnswer::Ignore;
}

QString HeadlessPerson::inputBox(const QString&)
{
    return {};
}

std::optional<QString> HeadlessPerson::pickMailFolder()
{
    return std::nullopt;
}

QString HeadlessPerson::chooseDirectory(const QString&, const QString&)
{
    return {};
}

void HeadlessPerson::openDocument(const QString&)
{
}

std::unique_ptr<Progress> HeadlessPerson::progress(const QString&, qint64)
{
    return std::make_unique<SilentProgress>();
}

} // namespace quillbox

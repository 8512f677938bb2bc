// SPDX-License-Identifier: MIT
#include "ui/guiperson.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QUrl>
#include <QVBoxLayout>
#include <QWidget>
#include <cstdio>

namespace quillbox {

namespace {
    QString applicationTitle() { return QString::fromUtf16(kProductName); }

    void debugLine(int level, const QString &text)
    {
        if (level > 0)
            std::fprintf(stderr, "Quillbox: %s\n", text.toUtf8().constData());
    }

    /// A small window with a bar and a status line, repainted at every change
    /// because the save run does not return to the event loop while it runs.
    class WidgetProgress : public Progress {
    public:
        WidgetProgress(const QString &caption, qint64 maximum)
        {
            m_window.setObjectName(QStringLiteral("frmProgress"));
            m_window.setWindowTitle(caption);
            m_bar = new QProgressBar(&m_window);
            m_bar->setObjectName(QStringLiteral("ProgressBar1"));
            m_bar->setRange(0, int(std::min<qint64>(maximum, INT_MAX)));
            m_status = new QLabel(&m_window);
            m_status->setObjectName(QStringLiteral("txtStatus"));
            auto *layout = new QVBoxLayout(&m_window);
            layout->addWidget(m_bar);
            layout->addWidget(m_status);
            m_window.resize(320, 90);
            m_window.show();
            QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        }
        void setStatus(const QString &text) override
        {
            m_status->setText(text);
            QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        }
        void setValue(qint64 value) override
        {
            m_bar->setValue(int(std::min<qint64>(value, INT_MAX)));
            QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        }

    private:
        QWidget m_window;
        QProgressBar *m_bar = nullptr;
        QLabel *m_status = nullptr;
    };
} // namespace

void GuiPerson::message(const QString &text)
{
    debugLine(m_debugLevel, text);
    QMessageBox box(QMessageBox::NoIcon, applicationTitle(), text, QMessageBox::Ok);
    box.exec();
}

WarningAnswer GuiPerson::warning(const QString &title, const QString &text)
{
    debugLine(m_debugLevel, title + QLatin1String(": ") + text);
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore);
    switch (box.exec()) {
    case QMessageBox::Abort:
        return WarningAnswer::Abort;
    case QMessageBox::Retry:
        return WarningAnswer::Retry;
    default:
        return WarningAnswer::Ignore;
    }
}

QString GuiPerson::inputBox(const QString &prompt)
{
    bool ok = false;
    const QString text = QInputDialog::getText(nullptr, applicationTitle(), prompt, QLineEdit::Normal, QString(), &ok);
    return ok ? text : QString();
}

std::optional<QString> GuiPerson::pickMailFolder()
{
    if (!m_picker)
        return std::nullopt;
    return m_picker();
}

QString GuiPerson::chooseDirectory(const QString &title)
{
    return QFileDialog::getExistingDirectory(nullptr, title);
}

void GuiPerson::openDocument(const QString &target)
{
    const QUrl url = target.contains(QLatin1String("://")) ? QUrl(target) : QUrl::fromLocalFile(target);
    QDesktopServices::openUrl(url);
}

std::unique_ptr<Progress> GuiPerson::progress(const QString &caption, qint64 maximum)
{
    return std::make_unique<WidgetProgress>(caption, maximum);
}

} // namespace quillbox

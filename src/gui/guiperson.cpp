// SPDX-License-Identifier: MIT
#include "gui/guiperson.h"

#include "gui/anchorlayout.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QFileDialog>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QScreen>
#include <QUrl>
#include <QWidget>
#include <cstdio>

namespace quillbox {

namespace {
QString applicationTitle()
{
    return QString::fromUtf16(kProductName);
}

void debugLine(int level, const QString& text)
{
    if (level > 0)
        std::fprintf(stderr, "Quillbox: %s\n", text.toUtf8().constData());
}

// frmProgress has no buttons, for a save run cannot be cancelled; the window goes when the run ends.
class ProgressWindow : public QWidget {
protected:
    void closeEvent(QCloseEvent* event) override { event->ignore(); }
};

/// The progress window: the run's caption (design caption "Progress"), the bar ProgressBar1 and the
/// status line txtStatus, shown without an owner. The save run does not return to the event loop
/// while it runs, so every change repaints the window; input events stay queued until the run ends.
class WidgetProgress : public Progress {
public:
    WidgetProgress(const QString& caption, qint64 maximum)
    {
        m_window.setObjectName(QStringLiteral("frmProgress"));
        m_window.setWindowFlags(
            Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::MSWindowsFixedSizeDialogHint);
        m_window.setWindowTitle(caption.isEmpty() ? QObject::tr("Progress") : caption);
        m_bar = new QProgressBar(&m_window);
        m_bar->setObjectName(QStringLiteral("ProgressBar1"));
        m_bar->setTextVisible(false);
        m_bar->setRange(0, int(std::min<qint64>(maximum, INT_MAX)));
        m_bar->setValue(0);
        m_bar->setGeometry(twipsToPixels(120), twipsToPixels(120), twipsToPixels(4560), twipsToPixels(330));
        m_status = new QLabel(&m_window);
        m_status->setObjectName(QStringLiteral("txtStatus"));
        const int statusHeight = std::max(twipsToPixels(285), m_status->sizeHint().height());
        m_status->setGeometry(twipsToPixels(120), twipsToPixels(570), twipsToPixels(4560), statusHeight);
        m_window.setFixedSize(twipsToPixels(4800), m_status->geometry().bottom() + 1 + twipsToPixels(180));
        if (const QScreen* screen = QGuiApplication::primaryScreen())
            m_window.move(screen->availableGeometry().center() - m_window.rect().center());
        m_window.show();
        repaint();
    }
    void setStatus(const QString& text) override
    {
        m_status->setText(text);
        repaint();
    }
    void setValue(qint64 value) override
    {
        m_bar->setValue(int(std::min<qint64>(value, INT_MAX)));
        repaint();
    }

private:
    static void repaint() { QApplication::processEvents(QEventLoop::ExcludeUserInputEvents); }

    ProgressWindow m_window;
    QProgressBar* m_bar = nullptr;
    QLabel* m_status = nullptr;
};
} // namespace

void GuiPerson::message(const QString& text)
{
    detailedMessage(text, {});
}

// Not modal: it tells, it asks nothing, and an unattended run goes on while it is shown.
void GuiPerson::information(const QString& text)
{
    debugLine(m_debugLevel, text);
    auto* box = new QMessageBox(QMessageBox::Information, applicationTitle(), text, QMessageBox::Ok);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->show();
}

void GuiPerson::detailedMessage(const QString& text, const QString& details)
{
    debugLine(m_debugLevel, text);
    QMessageBox box(QMessageBox::NoIcon, applicationTitle(), text, QMessageBox::Ok);
    if (!details.isEmpty()) {
        debugLine(m_debugLevel, details);
        box.setDetailedText(details);
    }
    box.exec();
}

WarningAnswer GuiPerson::warning(const QString& title, const QString& text)
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

QString GuiPerson::inputBox(const QString& prompt)
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

QString GuiPerson::chooseDirectory(const QString& title)
{
    return QFileDialog::getExistingDirectory(nullptr, title);
}

void GuiPerson::openDocument(const QString& target)
{
    const QUrl url = target.contains(QLatin1String("://")) ? QUrl(target) : QUrl::fromLocalFile(target);
    QDesktopServices::openUrl(url);
}

std::unique_ptr<Progress> GuiPerson::progress(const QString& caption, qint64 maximum)
{
    return std::make_unique<WidgetProgress>(caption, maximum);
}

} // namespace quillbox

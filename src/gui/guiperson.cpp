// SPDX-License-Identifier: MIT
#include "gui/guiperson.h"

#include "gui/anchorlayout.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QUrl>
#include <QWidget>
#include <atomic>
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

/// The directory chooser, which also takes a folder that does not exist yet: the save run makes it. Qt's own
/// dialog, as a native one would refuse such a folder; Qt's own greys Open for it and says "Directory not found",
/// so the dialog lets Open stay pressable and takes the folder.
class DestinationDialog : public QFileDialog {
public:
    DestinationDialog(const QString& title, const QString& at)
        : QFileDialog(nullptr, title, at)
    {
        setFileMode(QFileDialog::Directory);
        setOptions(QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
        if (auto* buttons = findChild<QDialogButtonBox*>())
            m_open = buttons->button(QDialogButtonBox::Open);
        if (m_open)
            m_open->installEventFilter(this);
    }

protected:
    void accept() override
    {
        if (isNewFolder())
            QDialog::accept();
        else
            QFileDialog::accept();
    }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == m_open && event->type() == QEvent::EnabledChange && !m_open->isEnabled() && isNewFolder())
            m_open->setEnabled(true); // at once: Qt's own check has just run, and the person may press Open now
        return QFileDialog::eventFilter(watched, event);
    }

private:
    // The one folder chosen does not exist, and the nearest folder above it that does is a directory.
    bool isNewFolder() const
    {
        const QStringList chosen = selectedFiles();
        if (chosen.size() != 1 || QFileInfo::exists(chosen.constFirst()))
            return false;
        // No file stands in the way of making it.
        for (QString above = QFileInfo(QDir::cleanPath(chosen.constFirst())).path(); !QFileInfo(above).isDir();
             above = QFileInfo(above).path())
            if (QFileInfo::exists(above))
                return false;
        return true;
    }

    QPushButton* m_open = nullptr;
};

/// The progress window: the run's caption (design caption "Progress"), the bar ProgressBar1, the status
/// line txtStatus and the button cmdCancel, shown without an owner. Cancel, Escape and the window's close
/// button ask the run to stop; the window itself goes when the run ends.
class ProgressWindow : public QDialog {
public:
    std::atomic<bool> cancelRequested = false;

    void requestCancel()
    {
        cancelRequested = true;
        if (m_cancel) {
            m_cancel->setEnabled(false);
            m_cancel->setText(QCoreApplication::translate("ProgressWindow", "Stopping..."));
        }
    }
    void setCancelButton(QPushButton* button) { m_cancel = button; }

protected:
    void closeEvent(QCloseEvent* event) override
    {
        requestCancel();
        event->ignore();
    }
    void reject() override { requestCancel(); }

private:
    QPushButton* m_cancel = nullptr;
};

class WidgetProgress : public Progress {
public:
    WidgetProgress(const QString& caption, qint64 maximum)
    {
        m_window.setObjectName(QStringLiteral("frmProgress"));
        m_window.setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint
            | Qt::MSWindowsFixedSizeDialogHint);
        m_window.setWindowTitle(
            caption.isEmpty() ? QCoreApplication::translate("ProgressWindow", "Progress") : caption);
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
        auto* cancel = new QPushButton(QCoreApplication::translate("ProgressWindow", "Cancel"), &m_window);
        cancel->setObjectName(QStringLiteral("cmdCancel"));
        cancel->setAutoDefault(false);
        const QSize buttonSize(std::max(twipsToPixels(975), cancel->sizeHint().width()),
            std::max(twipsToPixels(375), cancel->sizeHint().height()));
        cancel->setGeometry(twipsToPixels(4680) - buttonSize.width(),
            m_status->geometry().bottom() + 1 + twipsToPixels(60), buttonSize.width(), buttonSize.height());
        QObject::connect(cancel, &QPushButton::clicked, &m_window, [this] { m_window.requestCancel(); });
        m_window.setCancelButton(cancel);
        m_window.setFixedSize(twipsToPixels(4800), cancel->geometry().bottom() + 1 + twipsToPixels(120));
        if (const QScreen* screen = QGuiApplication::primaryScreen())
            m_window.move(screen->availableGeometry().center() - m_window.rect().center());
        m_window.show();
    }
    void setStatus(const QString& text) override { m_status->setText(text); }
    void setValue(qint64 value) override { m_bar->setValue(int(std::min<qint64>(value, INT_MAX))); }
    bool cancelled() const override { return m_window.cancelRequested; }

private:
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
    // A box that carries a library's or the system's words tells of a failure.
    QMessageBox box(details.isEmpty() ? QMessageBox::Information : QMessageBox::Critical, applicationTitle(), text,
        QMessageBox::Ok);
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

bool GuiPerson::question(const QString& text)
{
    debugLine(m_debugLevel, text);
    QMessageBox box(QMessageBox::Question, applicationTitle(), text, QMessageBox::Yes | QMessageBox::No);
    box.setDefaultButton(QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes;
}

namespace {

QString askText(const QString& prompt, QLineEdit::EchoMode echo)
{
    bool ok = false;
    const QString text = QInputDialog::getText(nullptr, applicationTitle(), prompt, echo, QString(), &ok);
    return ok ? text : QString();
}

} // namespace

QString GuiPerson::inputBox(const QString& prompt)
{
    return askText(prompt, QLineEdit::Normal);
}

QString GuiPerson::password(const QString& prompt)
{
    return askText(prompt, QLineEdit::Password);
}

std::optional<QString> GuiPerson::pickMailFolder()
{
    if (!m_picker)
        return std::nullopt;
    return m_picker();
}

QString GuiPerson::chooseDirectory(const QString& title, const QString& start)
{
    // A destination the save run will make does not exist yet: the chooser opens at the folder above it, with
    // the rest of the path in its name box, so that Open takes the destination as it stands.
    QString at = start;
    while (!at.isEmpty() && !QFileInfo(at).isDir() && QDir::cleanPath(at) != QDir::rootPath())
        at = QFileInfo(QDir::cleanPath(at)).path();
    DestinationDialog dialog(title, at);
    if (!at.isEmpty() && at != start)
        dialog.selectFile(QDir(at).relativeFilePath(start));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

void GuiPerson::openDocument(const QString& target)
{
    const bool local = !target.contains(QLatin1String("://"));
    if (local && !QFileInfo::exists(target)) {
        detailedMessage(QCoreApplication::translate("GuiPerson", "Can't open %1: it is not there.").arg(target), {});
        return;
    }
    if (!QDesktopServices::openUrl(local ? QUrl::fromLocalFile(target) : QUrl(target)))
        detailedMessage(
            QCoreApplication::translate("GuiPerson", "Can't open %1: no program on this desktop opens it.").arg(target),
            {});
}

std::unique_ptr<Progress> GuiPerson::progress(const QString& caption, qint64 maximum)
{
    return std::make_unique<WidgetProgress>(caption, maximum);
}

} // namespace quillbox

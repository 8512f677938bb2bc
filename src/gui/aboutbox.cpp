// SPDX-License-Identifier: MIT
#include "gui/aboutbox.h"

#include "core/person.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace quillbox {

AboutBox::AboutBox(QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("frmAbout"));
    const QString product = QString::fromUtf16(kProductName);
    setWindowTitle(tr("About %1").arg(product));

    auto* icon = new QLabel(this);
    icon->setPixmap(QPixmap(QStringLiteral(":/quillbox/quillbox.png")));
    icon->setAlignment(Qt::AlignTop);

    auto* title = new QLabel(product, this);
    title->setObjectName(QStringLiteral("lblTitle"));
    QFont big = title->font();
    big.setPointSizeF(big.pointSizeF() * 1.6);
    big.setBold(true);
    title->setFont(big);
    auto* version = new QLabel(tr("Version %1").arg(QLatin1String(QUILLBOX_VERSION)), this);
    version->setObjectName(QStringLiteral("lblVersion"));
    auto* description = new QLabel(
        tr("Copies e-mail from Maildir folders and Outlook data files into .msg, .txt, .rtf and .eml files."), this);
    description->setObjectName(QStringLiteral("lblDescription"));
    description->setWordWrap(true);

    auto* text = new QVBoxLayout;
    text->addWidget(title);
    text->addWidget(version);
    text->addSpacing(8);
    text->addWidget(description);
    text->addStretch();
    auto* top = new QHBoxLayout;
    top->addWidget(icon);
    top->addSpacing(12);
    top->addLayout(text, 1);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(buttons);
    setFixedWidth(380);
}

} // namespace quillbox

// SPDX-License-Identifier: MIT
#pragma once

#include <QDialog>

namespace quillbox {

/// The about box "frmAbout": the product's name, version and what it does, with OK. Shown modally.
class AboutBox : public QDialog {
    Q_OBJECT
public:
    explicit AboutBox(QWidget* parent = nullptr);
};

} // namespace quillbox

// SPDX-License-Identifier: MIT
#pragma once

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLineEdit;

namespace quillbox {

class Options;
struct Settings;

/// The options dialog "frmOptions": the editor of the live settings.
///
/// Shown modeless and without an owner. It edits options.settings() in place: every change of a control
/// writes its field at once, so a search, save or export started while the dialog is open sees the edit.
/// A click on a Date, From or Subject box rebuilds its group's template (rebuildTextFormat /
/// rebuildFnFormat) and shows it; a click on "Folder" rebuilds nothing. A click only clears or ticks a
/// box; a greyed box (state 2) comes only from the settings file.
///
/// OK (also Enter, unless the focus is on Cancel) hides the dialog and saves the settings. Cancel (also
/// Escape) hides it and reloads the settings from the file, which discards every edit since the last load
/// or save. Closing the window any other way counts as Cancel. Showing the dialog does not read the file:
/// the controls show the live settings as they stand.
class OptionsDialog : public QDialog {
    Q_OBJECT
public:
    explicit OptionsDialog(Options& options, QWidget* parent = nullptr);

    Options& options() { return m_options; }

public Q_SLOTS:
    /// Puts the live settings into the controls, without writing anything back. For the main window after
    /// it calls loadSettings() or useCustomIni() while the dialog is shown.
    void refreshFromSettings();

    /// OK: hides the dialog, then saves the settings.
    void accept() override;
    /// Cancel: hides the dialog, then reloads the settings from the file and shows them.
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    // A click on a Date, From or Subject box: the group's template is rebuilt and shown.
    void rebuildFnFormat();
    void rebuildTextFormat();

    struct CheckBinding {
        QCheckBox* box;
        int Settings::*field;
    };
    struct TextBinding {
        QLineEdit* edit;
        QString Settings::*field;
    };
    struct ComboBinding {
        QComboBox* combo;
        QString Settings::*field;
    };

    Options& m_options;
    QLineEdit* m_txtFn = nullptr;
    QLineEdit* m_textFormat = nullptr;
    QList<CheckBinding> m_checks;
    QList<TextBinding> m_texts;
    QList<ComboBinding> m_combos;
    bool m_refreshing = false;
};

} // namespace quillbox

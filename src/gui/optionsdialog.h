// SPDX-License-Identifier: MIT
#pragma once

#include <QDialog>
#include <QHash>

class QCalendarWidget;
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

    /// The output types of the Output list, in its order: MSG, TXT, DIR, EML, RTF.
    static QStringList outputTypes();
    /// Why the live settings cannot be used, naming the field (a Since or Before that is no date, a clip
    /// that is no number of characters, an output type the program does not write); empty when they can.
    /// `field` is set to the control of the first wrong value.
    QString wrongValue(QWidget** field) const;

public Q_SLOTS:
    /// Puts the live settings into the controls, without writing anything back. For the main window after
    /// it calls loadSettings() or useCustomIni() while the dialog is shown.
    void refreshFromSettings();

    /// OK: hides the dialog, then saves the settings. With a wrong value (wrongValue()) it says which in a
    /// warning box instead, and stays open with the focus on that field.
    void accept() override;
    /// Cancel: hides the dialog, then reloads the settings from the file and shows them.
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // A click on a Date, From or Subject box: the group's template is rebuilt and shown.
    void rebuildFnFormat();
    void rebuildTextFormat();
    // A button at the right end of a date box that opens a calendar for it.
    void addCalendar(QLineEdit* box, const char* name);
    void showCalendar(QLineEdit* box);
    // A template typed by hand is replaced only when the person says so.
    bool mayReplaceTemplate(const QString& format);

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
    QHash<QObject*, QCheckBox*> m_labelBoxes; ///< each check box's label, which ticks it when clicked
    QList<QObject*> m_dateBoxes; ///< the boxes with a calendar button
    QCalendarWidget* m_calendar = nullptr; ///< the calendar pop-up, made when first asked for
    QLineEdit* m_calendarBox = nullptr; ///< the date box the calendar is open for
};

} // namespace quillbox

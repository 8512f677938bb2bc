// SPDX-License-Identifier: MIT
#include "gui/optionsdialog.h"

#include "mail/search.h"
#include "output/filename.h"
#include "output/saverun.h"

#include "config/options.h"
#include "gui/anchorlayout.h"

#include <QAbstractItemView>
#include <QCalendarWidget>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QStyledItemDelegate>
#include <QToolButton>
#include <algorithm>

namespace quillbox {

namespace {

// Positions and sizes are given in twips.
QRect twipRect(int left, int top, int width, int height)
{
    return QRect(twipsToPixels(left), twipsToPixels(top), twipsToPixels(width), twipsToPixels(height));
}

constexpr int kLabelGap = 4; // pixels between a label and the control it names

// A click only clears or ticks the box; the greyed state comes from the settings file alone,
// and counts as ticked, so a click on a greyed box clears it.
class StateBox : public QCheckBox {
public:
    using QCheckBox::QCheckBox;

protected:
    void nextCheckState() override { setCheckState(checkState() == Qt::Unchecked ? Qt::Checked : Qt::Unchecked); }
};

// Settings hold 0 cleared, 1 ticked, 2 greyed; Qt numbers the last two the other way round.
Qt::CheckState toCheckState(int state)
{
    switch (state) {
    case 0:
        return Qt::Unchecked;
    case 2:
        return Qt::PartiallyChecked;
    default:
        return Qt::Checked;
    }
}

int fromCheckState(Qt::CheckState state)
{
    switch (state) {
    case Qt::Unchecked:
        return 0;
    case Qt::PartiallyChecked:
        return 2;
    default:
        return 1;
    }
}

QLabel* addLabel(QWidget* frame, const QString& text, int left, int top)
{
    auto* label = new QLabel(text, frame);
    label->move(twipsToPixels(left), twipsToPixels(top));
    label->resize(label->sizeHint());
    return label;
}

// The twip layout was drawn for a small system font. Labels that stand in a column to the left of their
// controls share one left edge: the twips' one when every text fits, else as far left as the longest text
// needs, down to `minLeft`; when a label still does not fit, the controls of the column give up their left edge
// alike (their right edges stay), so that they stay aligned. Each label is centred on its control's height.
// Nothing overlaps and no text is cut.
void fitLabelColumn(const QList<std::pair<QLabel*, QWidget*>>& rows, int minLeft)
{
    int left = rows.first().first->x();
    for (const auto& [label, control] : rows)
        left = std::min(left, control->x() - label->width() - kLabelGap);
    left = std::max(left, minLeft);
    int needed = 0;
    for (const auto& [label, control] : rows) {
        label->move(left, control->geometry().center().y() - label->height() / 2);
        needed = std::max(needed, left + label->width() + kLabelGap);
    }
    for (const auto& [label, control] : rows) {
        if (needed > control->x()) {
            QRect bounds = control->geometry();
            bounds.setLeft(needed);
            control->setGeometry(bounds);
        }
    }
}

// A label over a control moves up, down to `minTop`, when its text is taller than the twips leave.
void fitLabelAbove(QLabel* label, QWidget* control, int minTop)
{
    label->move(label->x(), std::max(minTop, std::min(label->y(), control->y() - label->height())));
}

// A control keeps its twip position and width, and is given at least the height its style needs.
void place(QWidget* control, const QRect& rect)
{
    QRect bounds = rect;
    bounds.setHeight(std::max(rect.height(), control->sizeHint().height()));
    control->setGeometry(bounds);
}

// The Output list shows each code with its readable label (the item's accessible text) beside it; the item's
// own text stays the code, which is what a choice puts into the box.
class LabelledItemDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        if (const QString shown = index.data(Qt::AccessibleTextRole).toString(); !shown.isEmpty())
            option->text = shown;
    }
};

} // namespace

QStringList OptionsDialog::outputTypes()
{
    // Those that were offered first keep their places.
    return { QStringLiteral("MSG"), QStringLiteral("TXT"), QStringLiteral("DIR"), QStringLiteral("EML"),
        QStringLiteral("RTF"), QStringLiteral("PDF"), QStringLiteral("ATT") };
}

OptionsDialog::OptionsDialog(Options& options, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
    , m_options(options)
{
    setObjectName(QStringLiteral("frmOptions"));
    setWindowTitle(tr("Options"));
    setModal(false);
    // The frames' captions sit on their top edge, so that the controls the layout puts right below the
    // edge stay inside the frame.
    setStyleSheet(QStringLiteral("QGroupBox { border: 1px solid palette(mid); border-radius: 2px; margin-top: 0.5em; }"
                                 "QGroupBox::title { subcontrol-origin: margin; left: 6px; padding: 0 2px;"
                                 " background-color: palette(window); }"));

    const auto frame = [this](const QString& caption, int left, int top, int width, int height) {
        auto* box = new QGroupBox(caption, this);
        box->setGeometry(twipRect(left, top, width, height));
        return box;
    };
    // Each check box is drawn just wide enough for the box; its text is a separate label to the right.
    const auto check
        = [this](QWidget* frame, const char* name, const QString& text, int left, int top, int Settings::*field) {
              auto* box = new StateBox(frame);
              box->setObjectName(QLatin1String(name));
              box->setGeometry(twipRect(left, top, 255, 255));
              QLabel* label = addLabel(frame, text, left + 270, top);
              // A click on the label ticks or clears its box, as on the box itself.
              label->installEventFilter(this);
              m_labelBoxes.insert(label, box);
              label->move(label->x(), box->geometry().center().y() - label->height() / 2);
              m_checks.append({ box, field });
              connect(box, &QCheckBox::stateChanged, this, [this, field](int state) {
                  if (!m_refreshing)
                      m_options.settings().*field = fromCheckState(Qt::CheckState(state));
              });
              return box;
          };
    const auto text = [this](QWidget* frame, const char* name, const QRect& rect, QString Settings::*field) {
        auto* edit = new QLineEdit(frame);
        edit->setObjectName(QLatin1String(name));
        place(edit, rect);
        m_texts.append({ edit, field });
        connect(edit, &QLineEdit::textChanged, this, [this, field](const QString& value) {
            if (!m_refreshing)
                m_options.settings().*field = value;
        });
        return edit;
    };
    const auto combo = [this](QWidget* frame, const char* name, const QRect& rect, const QStringList& entries,
                           QString Settings::*field) {
        auto* box = new QComboBox(frame);
        box->setObjectName(QLatin1String(name));
        box->setEditable(true);
        // Any text is taken as typed: no completion from the list, and nothing typed joins the list.
        box->setCompleter(nullptr);
        box->setInsertPolicy(QComboBox::NoInsert);
        box->addItems(entries);
        place(box, rect);
        m_combos.append({ box, field });
        connect(box, &QComboBox::editTextChanged, this, [this, field](const QString& value) {
            if (!m_refreshing)
                m_options.settings().*field = value;
        });
        return box;
    };

    QGroupBox* fileName = frame(tr("Saved Mail Filename"), 120, 120, 7455, 1875);
    QCheckBox* ckFnDate = check(fileName, "ckFnDate", tr("Date"), 120, 360, &Settings::useFnDate);
    QCheckBox* ckFnFrom = check(fileName, "ckFnFrom", tr("From"), 960, 360, &Settings::useFnFrom);
    QCheckBox* ckFnSubject = check(fileName, "ckFnSubject", tr("Subject"), 1800, 360, &Settings::useFnSubject);
    QCheckBox* ckFnFolder = check(fileName, "ckFnFolder", tr("Folder"), 3360, 360, &Settings::useFnFolder);
    QLineEdit* fileNameBox = text(fileName, "txtFn", twipRect(120, 960, 4455, 285), &Settings::fnFormat);
    fitLabelAbove(
        addLabel(fileName, tr("Custom Filename Format"), 120, 720), fileNameBox, ckFnDate->geometry().bottom() + 1);
    const QStringList addressClips { QStringLiteral("20"), QStringLiteral("25"), QStringLiteral("30"),
        QStringLiteral("35"), QStringLiteral("40"), QStringLiteral("50"), QStringLiteral("60") };
    const QStringList subjectClips { QStringLiteral("20"), QStringLiteral("30"), QStringLiteral("40"),
        QStringLiteral("50"), QStringLiteral("70"), QStringLiteral("90") };
    const QStringList outputs = outputTypes();
    QComboBox* clipAddress
        = combo(fileName, "ClipAddress", twipRect(6480, 150, 855, 315), addressClips, &Settings::clipAddress);
    QComboBox* clipSubject
        = combo(fileName, "ClipSubject", twipRect(6480, 555, 855, 315), subjectClips, &Settings::clipSubject);
    QComboBox* outputType = combo(fileName, "cboFnOutput", twipRect(6480, 960, 855, 315), outputs, &Settings::fnOutput);
    const QStringList outputLabels { tr("Outlook message (.msg)"), tr("Plain text (.txt)"),
        tr("A directory per mail: text, HTML and attachments"), tr("Internet mail (.eml)"), tr("Rich text (.rtf)"),
        tr("PDF document (.pdf)"), tr("Only the attachments, each named after its mail") };
    for (int i = 0; i < outputLabels.size(); ++i) {
        outputType->setItemData(i, outputLabels[i], Qt::ToolTipRole);
        outputType->setItemData(i, outputs[i] + QStringLiteral(" \u2013 ") + outputLabels[i], Qt::AccessibleTextRole);
    }
    outputType->setToolTip(outputLabels.join(u'\n'));
    outputType->setItemDelegate(new LabelledItemDelegate(outputType));
    outputType->view()->setMinimumWidth(outputType->view()->sizeHintForColumn(0) + 2 * kLabelGap);
    // With a larger font the three combo boxes would grow into each other: each keeps above the next.
    const QList<QComboBox*> rightColumn { clipAddress, clipSubject, outputType };
    for (qsizetype i = 0; i + 1 < rightColumn.size(); ++i) {
        QRect bounds = rightColumn[i]->geometry();
        bounds.setBottom(std::min(bounds.bottom(), rightColumn[i + 1]->y() - 2));
        rightColumn[i]->setGeometry(bounds);
    }
    // The right-hand labels may move left as far as the end of the template box.
    const int rightColumnMin = fileNameBox->geometry().right() + 1 + 2 * kLabelGap;
    fitLabelColumn({ { addLabel(fileName, tr("Clip Addresses to"), 5160, 150), clipAddress },
                       { addLabel(fileName, tr("Clip Subject to"), 5160, 555), clipSubject },
                       { addLabel(fileName, tr("Output"), 5160, 960), outputType } },
        rightColumnMin);

    QGroupBox* exported = frame(tr("Exported Text"), 120, 2100, 4695, 1875);
    QCheckBox* useDate = check(exported, "UseDate", tr("Date"), 120, 360, &Settings::useDate);
    QCheckBox* useFrom = check(exported, "UseFrom", tr("From"), 960, 360, &Settings::useFrom);
    QCheckBox* useSubject = check(exported, "UseSubject", tr("Subject"), 1800, 360, &Settings::useSubject);
    QLineEdit* textFormat = text(exported, "TextFormat", twipRect(120, 960, 4455, 285), &Settings::textFormat);
    fitLabelAbove(
        addLabel(exported, tr("Custom Textline Format"), 120, 720), textFormat, useDate->geometry().bottom() + 1);

    QGroupBox* select = frame(tr("Select Email"), 4920, 2100, 2655, 1875);
    QLineEdit* sinceBox = text(select, "txtSince", twipRect(720, 360, 1815, 285), &Settings::since);
    QLineEdit* beforeBox = text(select, "txtBefore", twipRect(720, 960, 1815, 285), &Settings::before);
    addCalendar(sinceBox, "cmdSinceCalendar");
    addCalendar(beforeBox, "cmdBeforeCalendar");
    fitLabelColumn({ { addLabel(select, tr("Since"), 120, 360), sinceBox },
                       { addLabel(select, tr("Before"), 120, 960), beforeBox } },
        twipsToPixels(120));

    QGroupBox* dates = frame(tr("Date Format"), 120, 4080, 4695, 855);
    QComboBox* dateFormat = combo(dates, "DateFormat", twipRect(120, 360, 2175, 315),
        { QStringLiteral("dd/mm/yyyy HH:MM:SS"), QStringLiteral("mm/dd/yyyy HH:MM:SS"),
            QStringLiteral("yyyymmdd HHMMSS"), QStringLiteral("dd Mmm yy HH:MM"), QStringLiteral("yymmdd HHMMSS") },
        &Settings::dateFormat);
    // Wide enough for every entry.
    dateFormat->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    dateFormat->resize(std::max(dateFormat->width(), dateFormat->sizeHint().width()), dateFormat->height());

    QGroupBox* archiving = frame(tr("Archiving"), 120, 5040, 7455, 615);
    QCheckBox* skipSaved = check(archiving, "ckSkipSaved", tr("Only new mail"), 120, 270, &Settings::skipSaved);
    QCheckBox* writeIndex = check(archiving, "ckWriteIndex", tr("Index"), 2520, 270, &Settings::writeIndex);
    QCheckBox* setFileTimes = check(archiving, "ckSetFileTimes", tr("File times"), 4920, 270, &Settings::setFileTimes);

    auto* okButton = new QPushButton(tr("OK"), this);
    okButton->setObjectName(QStringLiteral("cmdOk"));
    okButton->setGeometry(twipRect(5520, 4560, 975, 375));
    okButton->setDefault(true);
    auto* cancelButton = new QPushButton(tr("Cancel"), this);
    cancelButton->setObjectName(QStringLiteral("cmdCancel"));
    cancelButton->setGeometry(twipRect(6600, 4560, 975, 375));
    connect(okButton, &QPushButton::clicked, this, &OptionsDialog::accept);
    connect(cancelButton, &QPushButton::clicked, this, &OptionsDialog::reject);

    // What the placeholders of both templates stand for: two lines in a smaller type under each template (smaller
    // still where a large font would not fit them into the template's width), and its tool tip.
    const QStringList placeholders { tr("%1 Sent, %2 From, %3 Subject, %4 To,"),
        tr("%5 Received, %6 EntryID, %7 Folder, %8 LatestTime") };
    for (QLineEdit* box : { fileNameBox, textFormat }) {
        box->setToolTip(placeholders.join(u' '));
        QFont small = font();
        for (const double scale : { 0.85, 0.8, 0.75, 0.7 }) {
            small.setPointSizeF(font().pointSizeF() * scale);
            const QFontMetrics metrics(small);
            if (std::ranges::all_of(placeholders,
                    [&](const QString& line) { return metrics.horizontalAdvance(line) + 4 <= box->width(); }))
                break;
        }
        int top = box->geometry().bottom() + 3;
        for (const QString& line : placeholders) {
            auto* label = new QLabel(line, box->parentWidget());
            label->setObjectName(box->objectName() + QStringLiteral("Placeholders"));
            label->setFont(small);
            label->setForegroundRole(QPalette::PlaceholderText);
            label->move(box->x(), top);
            label->resize(label->sizeHint());
            top += label->height();
        }
    }

    m_txtFn = fileNameBox;
    m_textFormat = textFormat;
    for (QCheckBox* box : { ckFnDate, ckFnFrom, ckFnSubject })
        connect(box, &QCheckBox::clicked, this, &OptionsDialog::rebuildFnFormat);
    for (QCheckBox* box : { useDate, useFrom, useSubject })
        connect(box, &QCheckBox::clicked, this, &OptionsDialog::rebuildTextFormat);

    const QList<QWidget*> tabOrder { ckFnDate, ckFnFrom, ckFnSubject, ckFnFolder, fileNameBox, clipAddress, clipSubject,
        outputType, useDate, useFrom, useSubject, textFormat, sinceBox, beforeBox, dateFormat, skipSaved, writeIndex,
        setFileTimes, okButton, cancelButton };
    for (qsizetype i = 1; i < tabOrder.size(); ++i)
        setTabOrder(tabOrder[i - 1], tabOrder[i]);

    setFixedSize(twipsToPixels(7665), twipsToPixels(5730));
    refreshFromSettings();
}

void OptionsDialog::addCalendar(QLineEdit* box, const char* name)
{
    // The button takes its room from the box's right end; it keeps out of the tab order, and F4 or Alt+Down
    // in the box opens the calendar as in a drop-down list.
    const int side = box->height();
    auto* button = new QToolButton(box->parentWidget());
    button->setObjectName(QLatin1String(name));
    button->setText(QStringLiteral("\u25BE"));
    button->setToolTip(tr("Pick the date on a calendar"));
    button->setFocusPolicy(Qt::NoFocus);
    button->setGeometry(box->geometry().right() + 1 - side, box->y(), side, side);
    box->resize(box->width() - side - 1, box->height());
    m_dateBoxes.append(box);
    box->installEventFilter(this);
    connect(button, &QToolButton::clicked, this, [this, box] { showCalendar(box); });
}

void OptionsDialog::showCalendar(QLineEdit* box)
{
    if (!m_calendar) {
        // A pop-up of the dialog's own: it closes on a click outside it, and a chosen date goes into its box in
        // the ISO form, which reads the same in every locale.
        m_calendar = new QCalendarWidget(this);
        m_calendar->setObjectName(QStringLiteral("calDate"));
        m_calendar->setWindowFlags(Qt::Popup);
        m_calendar->setGridVisible(true);
        const auto choose = [this](QDate date) {
            m_calendar->hide();
            if (m_calendarBox)
                m_calendarBox->setText(date.toString(Qt::ISODate));
        };
        connect(m_calendar, &QCalendarWidget::clicked, this, choose);
        connect(m_calendar, &QCalendarWidget::activated, this, choose);
    }
    m_calendarBox = box;
    const QDateTime typed = readDateSetting(box->text(), QDateTime());
    m_calendar->setSelectedDate(typed.isValid() ? typed.date() : QDate::currentDate());
    m_calendar->adjustSize();
    m_calendar->move(box->mapToGlobal(QPoint(0, box->height())));
    m_calendar->show();
    m_calendar->setFocus();
}

void OptionsDialog::refreshFromSettings()
{
    const QScopedValueRollback guard(m_refreshing, true);
    const Settings& settings = m_options.settings();
    for (const CheckBinding& binding : std::as_const(m_checks))
        binding.box->setCheckState(toCheckState(settings.*binding.field));
    for (const TextBinding& binding : std::as_const(m_texts))
        binding.edit->setText(settings.*binding.field);
    for (const ComboBinding& binding : std::as_const(m_combos))
        binding.combo->setEditText(settings.*binding.field);
}

bool OptionsDialog::mayReplaceTemplate(const QString& format)
{
    if (Options::isBoxTemplate(format))
        return true;
    QMessageBox box(QMessageBox::Question, windowTitle(),
        tr("Replace your own template \"%1\" with the one the boxes give?").arg(format),
        QMessageBox::Yes | QMessageBox::No, this);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

void OptionsDialog::rebuildFnFormat()
{
    if (!mayReplaceTemplate(m_options.settings().fnFormat))
        return;
    m_options.rebuildFnFormat();
    const QScopedValueRollback guard(m_refreshing, true);
    m_txtFn->setText(m_options.settings().fnFormat);
}

void OptionsDialog::rebuildTextFormat()
{
    if (!mayReplaceTemplate(m_options.settings().textFormat))
        return;
    m_options.rebuildTextFormat();
    const QScopedValueRollback guard(m_refreshing, true);
    m_textFormat->setText(m_options.settings().textFormat);
}

QString OptionsDialog::wrongValue(QWidget** field) const
{
    const Settings& settings = m_options.settings();
    const QLocale locale = QLocale::system();
    const QDate example(QDate::currentDate().year(), 2, 28);
    const QString dateForms = tr("Type a date as %1 or %2, or leave the box empty.")
                                  .arg(example.toString(Qt::ISODate), locale.toString(example, QLocale::ShortFormat));
    const std::pair<QString Settings::*, const char*> dates[]
        = { { &Settings::since, "txtSince" }, { &Settings::before, "txtBefore" } };
    for (const auto& [member, name] : dates) {
        const QString& value = settings.*member;
        if (!value.trimmed().isEmpty() && !readDateSetting(value, QDateTime()).isValid()) {
            *field = findChild<QWidget*>(QLatin1String(name));
            const QString label = member == &Settings::since ? tr("Since") : tr("Before");
            return tr("%1: \"%2\" is not a date. %3").arg(label, value, dateForms);
        }
    }
    if (const Status clips = checkClips(settings); !clips) {
        const bool address = clips.error().path == QLatin1String("ClipAddress");
        *field = findChild<QWidget*>(address ? QStringLiteral("ClipAddress") : QStringLiteral("ClipSubject"));
        return tr("%1: \"%2\" is not a number of characters. Pick one of the list or type a whole number.")
            .arg(address ? tr("Clip Addresses to") : tr("Clip Subject to"),
                address ? settings.clipAddress : settings.clipSubject);
    }
    if (!outputType(settings.fnOutput)) {
        *field = findChild<QWidget*>(QStringLiteral("cboFnOutput"));
        return tr("Output: \"%1\" is not a type this program writes. Pick one of %2.")
            .arg(settings.fnOutput, outputTypes().join(QLatin1String(", ")));
    }
    return {};
}

void OptionsDialog::accept()
{
    // What no search or save could use is refused here, naming its field, and the dialog stays open.
    QWidget* field = nullptr;
    if (const QString wrong = wrongValue(&field); !wrong.isEmpty()) {
        QMessageBox box(QMessageBox::Warning, windowTitle(), wrong, QMessageBox::Ok, this);
        box.exec();
        if (field)
            field->setFocus();
        return;
    }
    QDialog::accept();
    m_options.saveSettings();
}

void OptionsDialog::reject()
{
    QDialog::reject();
    m_options.loadSettings();
    refreshFromSettings();
}

bool OptionsDialog::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress && m_dateBoxes.contains(watched)) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_F4 || (key->key() == Qt::Key_Down && key->modifiers() & Qt::AltModifier)) {
            showCalendar(static_cast<QLineEdit*>(watched));
            return true;
        }
    }
    if (event->type() == QEvent::MouseButtonRelease) {
        if (QCheckBox* box = m_labelBoxes.value(watched)) {
            box->click();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void OptionsDialog::showEvent(QShowEvent* event)
{
    refreshFromSettings();
    QDialog::showEvent(event);
}

} // namespace quillbox

/* The rate editor window: its controls, the table loaded once from the rate
 * file, a rule shown in and read back from the edits, save, new and delete,
 * the key filters and change handlers of the edits, the import and export of
 * decks, and the note on closing. */
#include "RateFrm.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QTimeEdit>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

#include "Audit.h"
#include "FileDialog.h"
#include "Gbk.h"
#include "Modal.h"
#include "Question.h"
#include "RateDeck.h"
#include "RateFile.h"
#include "RateImport.h"
#include "SaveFile.h"
#include "Money.h"

namespace {

enum class KeyKind {
  Digit,
  Point,
  Backspace,
  Passing, /* moves the cursor or the focus, or a shortcut: never filtered */
  Refused,
};

KeyKind ClassifyKey(const QKeyEvent *key)
{
  switch (key->key()) {
  case Qt::Key_Backspace:
    return KeyKind::Backspace;
  case Qt::Key_Tab:
  case Qt::Key_Backtab:
  case Qt::Key_Return:
  case Qt::Key_Enter:
  case Qt::Key_Escape:
  case Qt::Key_Delete:
    return KeyKind::Passing;
  default:
    break;
  }
  // Pasting would bring in any text at all; the filters keep the keys too.
  if (key->matches(QKeySequence::Paste))
    return KeyKind::Refused;
  if (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
    return KeyKind::Passing;
  const QString text = key->text();
  if (text.isEmpty())
    return KeyKind::Passing;
  if (text.size() == 1 && text[0] >= QLatin1Char('0') && text[0] <= QLatin1Char('9'))
    return KeyKind::Digit;
  if (text == QLatin1String("."))
    return KeyKind::Point;
  return KeyKind::Refused;
}

/* An edit that takes only what its key filter lets through: no paste from a
 * context menu, no drops, no input method composing other characters. */
QLineEdit *NewFilteredEdit(const char *name, QWidget *parent, QObject *filter)
{
  auto *edit = new QLineEdit(parent);
  edit->setObjectName(QLatin1String(name));
  edit->setContextMenuPolicy(Qt::NoContextMenu);
  edit->setAcceptDrops(false);
  edit->setAttribute(Qt::WA_InputMethodEnabled, false);
  edit->installEventFilter(filter);
  return edit;
}

QTreeWidgetItem *RuleRow(const RateInfo &rule)
{
  auto *row = new QTreeWidgetItem;
  if (IsDefaultRule(rule)) {
    row->setText(0, QStringLiteral(DEFAULT_RULE_CAPTION));
  } else {
    row->setText(0, FromGbk(FIELD_TEXT(rule.m_name)));
    row->setText(1, QString::fromLatin1(FIELD_TEXT(rule.m_prefix)));  // digits only
  }
  return row;
}

QFileDialog *DeckDialog(QWidget *parent, const char *name, QFileDialog::AcceptMode mode)
{
  auto *dialog = new QFileDialog(parent);
  dialog->setObjectName(QLatin1String(name));
  UseChineseFileDialog(dialog);
  dialog->setAcceptMode(mode);
  dialog->setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
  dialog->setNameFilters({QStringLiteral("CSV文件 (*.csv)"), QStringLiteral("所有文件 (*)")});
  dialog->setDefaultSuffix(QStringLiteral("csv"));
  // Asked through the dialog seam or not at all: the overwrite question
  // would be a box of the file dialog's own.
  dialog->setOption(QFileDialog::DontConfirmOverwrite);
  return dialog;
}

}  // namespace

TRateForm::TRateForm(QWidget *parent)
    : QWidget(parent, Qt::Window), m_path(QDir::current().filePath(QStringLiteral(RATE_FILE)))
{
  setObjectName(QStringLiteral("RateForm"));
  setWindowTitle(QStringLiteral("费率设置"));

  RateTable = new QTreeWidget(this);
  RateTable->setObjectName(QStringLiteral("RateTable"));
  RateTable->setColumnCount(2);
  RateTable->setHeaderLabels({QStringLiteral("国家/城市/地区"), QStringLiteral("区号/代码")});
  RateTable->setRootIsDecorated(false);
  RateTable->setUniformRowHeights(true);
  RateTable->setAllColumnsShowFocus(true);
  RateTable->setSelectionBehavior(QAbstractItemView::SelectRows);
  RateTable->setSelectionMode(QAbstractItemView::SingleSelection);
  RateTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
  RateTable->header()->setStretchLastSection(false);
  RateTable->setMinimumWidth(131 + 135 + 24);

  NameEdit = new QLineEdit(this);
  NameEdit->setObjectName(QStringLiteral("NameEdit"));
  NameEdit->setMaxLength(RATE_TEXT_MAX);
  PrefixEdit = NewFilteredEdit("PrefixEdit", this, this);
  PrefixEdit->setMaxLength(RATE_TEXT_MAX);
  ChargeEdit = NewFilteredEdit("ChargeEdit", this, this);
  UnitEdit = NewFilteredEdit("UnitEdit", this, this);
  UnitEdit->setMaxLength(COUNT_EDIT_MAX);
  MinTimeEdit = NewFilteredEdit("MinTimeEdit", this, this);
  MinTimeEdit->setMaxLength(COUNT_EDIT_MAX);
  MinFeeEdit = NewFilteredEdit("MinFeeEdit", this, this);
  FreePeriodEdit = NewFilteredEdit("FreePeriodEdit", this, this);
  FreePeriodEdit->setMaxLength(COUNT_EDIT_MAX);

  auto *rule = new QGridLayout;
  rule->addWidget(new QLabel(QStringLiteral("国家/城市/地区"), this), 0, 0);
  rule->addWidget(NameEdit, 0, 1, 1, 3);
  rule->addWidget(new QLabel(QStringLiteral("区号/代码"), this), 1, 0);
  rule->addWidget(PrefixEdit, 1, 1, 1, 3);
  rule->addWidget(new QLabel(QStringLiteral("手续费"), this), 2, 0);
  rule->addWidget(ChargeEdit, 2, 1);
  rule->addWidget(new QLabel(QStringLiteral("计费间隔"), this), 2, 2);
  rule->addWidget(UnitEdit, 2, 3);

  auto *periodBox = new QGroupBox(this);
  auto *periods = new QGridLayout(periodBox);
  for (int n = 0; n < MAX_PERIODS; n++) {
    const QString number = QString::number(n + 1);
    CheckBox[n] = new QCheckBox(QStringLiteral("时段") + number, periodBox);
    CheckBox[n]->setObjectName(QStringLiteral("CheckBox") + number);
    Period[n] = new QTimeEdit(periodBox);
    Period[n]->setObjectName(QStringLiteral("Period") + number);
    Period[n]->setDisplayFormat(QStringLiteral("H:mm:ss"));
    Period[n]->setEnabled(false);
    RateEdit[n] = NewFilteredEdit("", periodBox, this);
    RateEdit[n]->setObjectName(QStringLiteral("Rate%1Edit").arg(n + 1));
    periods->addWidget(CheckBox[n], n, 0);
    periods->addWidget(Period[n], n, 1);
    periods->addWidget(new QLabel(QStringLiteral("费率") + number, periodBox), n, 2);
    periods->addWidget(RateEdit[n], n, 3);
  }

  auto *package = new QGridLayout;
  package->addWidget(new QLabel(QStringLiteral("3+1时长"), this), 0, 0);
  package->addWidget(MinTimeEdit, 0, 1);
  package->addWidget(new QLabel(QStringLiteral("费率"), this), 0, 2);
  package->addWidget(MinFeeEdit, 0, 3);
  package->addWidget(new QLabel(QStringLiteral("免收费时长"), this), 1, 0);
  package->addWidget(FreePeriodEdit, 1, 1);

  SaveBtn = new QPushButton(QStringLiteral("保存"), this);
  SaveBtn->setObjectName(QStringLiteral("SaveBtn"));
  SaveBtn->setEnabled(false);
  Button2 = new QPushButton(QStringLiteral("新建"), this);
  Button2->setObjectName(QStringLiteral("Button2"));
  Button3 = new QPushButton(QStringLiteral("删除"), this);
  Button3->setObjectName(QStringLiteral("Button3"));
  Button3->setEnabled(false);
  ConfirmBtn = new QPushButton(QStringLiteral("退出"), this);
  ConfirmBtn->setObjectName(QStringLiteral("ConfirmBtn"));
  ImportBtn = new QPushButton(QStringLiteral("导入..."), this);
  ImportBtn->setObjectName(QStringLiteral("ImportBtn"));
  ExportBtn = new QPushButton(QStringLiteral("导出..."), this);
  ExportBtn->setObjectName(QStringLiteral("ExportBtn"));
  OpenDialog1 = DeckDialog(this, "OpenDialog1", QFileDialog::AcceptOpen);
  OpenDialog1->setWindowTitle(QStringLiteral("导入费率"));
  SaveDialog1 = DeckDialog(this, "SaveDialog1", QFileDialog::AcceptSave);
  SaveDialog1->setWindowTitle(QStringLiteral("导出费率"));
  SaveDialog1->selectFile(QStringLiteral("费率.csv"));
  ImportDlg = new TRateImportDlg(this);

  auto *buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(SaveBtn);
  buttons->addWidget(Button2);
  buttons->addWidget(Button3);
  buttons->addWidget(ConfirmBtn);
  auto *editor = new QVBoxLayout;
  editor->addLayout(rule);
  editor->addWidget(periodBox);
  editor->addLayout(package);
  editor->addStretch();
  editor->addLayout(buttons);
  auto *deck = new QHBoxLayout;
  deck->addWidget(ImportBtn);
  deck->addWidget(ExportBtn);
  deck->addStretch();
  auto *table = new QVBoxLayout;
  table->addWidget(RateTable, 1);
  table->addLayout(deck);
  auto *layout = new QHBoxLayout(this);
  layout->addLayout(table, 1);
  layout->addLayout(editor);

  connect(RateTable, &QTreeWidget::itemSelectionChanged, this, &TRateForm::RateTableClick);
  connect(SaveBtn, &QPushButton::clicked, this, &TRateForm::SaveBtnClick);
  connect(Button2, &QPushButton::clicked, this, &TRateForm::Button2Click);
  connect(Button3, &QPushButton::clicked, this, &TRateForm::Button3Click);
  connect(ConfirmBtn, &QPushButton::clicked, this, &TRateForm::ConfirmBtnClick);
  connect(ImportBtn, &QPushButton::clicked, this, &TRateForm::ImportBtnClick);
  connect(ExportBtn, &QPushButton::clicked, this, &TRateForm::ExportBtnClick);
  connect(NameEdit, &QLineEdit::textChanged, this, &TRateForm::NameEditChange);
  connect(PrefixEdit, &QLineEdit::textChanged, this, &TRateForm::PrefixEditChange);
  for (QLineEdit *money : {ChargeEdit, RateEdit[0], RateEdit[1], RateEdit[2], RateEdit[3], MinFeeEdit})
    connect(money, &QLineEdit::textChanged, this, &TRateForm::RateEditChange);
  for (QLineEdit *count : {UnitEdit, MinTimeEdit, FreePeriodEdit})
    connect(count, &QLineEdit::textChanged, this, &TRateForm::NumberEditChange);
  for (QTimeEdit *picker : Period)
    connect(picker, &QTimeEdit::timeChanged, this, &TRateForm::PeriodChange);
  connect(CheckBox[0], &QCheckBox::clicked, this, &TRateForm::CheckBox1Click);
  connect(CheckBox[1], &QCheckBox::clicked, this, &TRateForm::CheckBox2Click);
  connect(CheckBox[2], &QCheckBox::clicked, this, &TRateForm::CheckBox3Click);
  connect(CheckBox[3], &QCheckBox::clicked, this, &TRateForm::CheckBox4Click);
}

void TRateForm::showEvent(QShowEvent *event)
{
  QWidget::showEvent(event);
  if (!event->spontaneous())
    FormShow();
}

void TRateForm::closeEvent(QCloseEvent *event)
{
  // The close box asks as 退出 does. A close of the program's own (another
  // operator taking over) drops the edits: the new operator may not save them.
  if (event->spontaneous() && !LeaveEdits()) {
    event->ignore();
    return;
  }
  FormClose();
  event->accept();
}

bool TRateForm::eventFilter(QObject *watched, QEvent *event)
{
  if (event->type() == QEvent::KeyPress) {
    auto *edit = qobject_cast<QLineEdit *>(watched);
    auto *key = static_cast<QKeyEvent *>(event);
    if (edit == ChargeEdit || edit == MinFeeEdit ||
        std::find(std::begin(RateEdit), std::end(RateEdit), edit) != std::end(RateEdit))
      return RateEditKeyPress(edit, key);
    if (edit == PrefixEdit || edit == UnitEdit || edit == MinTimeEdit || edit == FreePeriodEdit)
      return NumberEditKeyPress(edit, key);
  }
  return QWidget::eventFilter(watched, event);
}

void TRateForm::FormShow()
{
  RateTable->setColumnWidth(0, 131);
  RateTable->setColumnWidth(1, 135);
  if (m_rules.empty())
    LoadRates();
  m_current = 0;
  ShowRate(m_rules[0]);
  RateTable->setCurrentItem(RateTable->topLevelItem(0));
  Button3->setEnabled(false);
}

void TRateForm::FormClose()
{
  // Unsaved edits go; the rows keep what was saved.
  ShowMessage(this, QStringLiteral(RATE_CLOSE_NOTE), QStringLiteral("请注意"), QMessageBox::Information);
}

void TRateForm::LoadRates()
{
  QList<RateInfo> rules;
  int unreadable = 0;
  const bool opened = ReadRateFile(m_path, &rules, &unreadable);
  m_rules = rules;
  FillTable();
  if (!opened) {
    AppendRow(DefaultRule());
    return;
  }
  if (rules.isEmpty()) {
    AppendRow(DefaultRule());
    ShowMessage(this, QStringLiteral("费率文件中没有可用的费率，现以默认费率开始"), QStringLiteral("请注意"));
  } else if (unreadable > 0) {
    ShowMessage(this, QStringLiteral("费率文件中有%1行无法读取，已略过；保存时这些行不再写入").arg(unreadable),
                QStringLiteral("请注意"));
  }
  // Written by an earlier release, which let them through: the operator
  // learns which rules never price a call.
  const QList<QByteArray> repeated = RepeatedPrefixes(m_rules);
  if (!repeated.isEmpty()) {
    QStringList shown;
    for (qsizetype i = 0; i < repeated.size() && i < 10; i++)
      shown << QString::fromLatin1(repeated[i]);
    QString list = shown.join(QStringLiteral("、"));
    if (repeated.size() > shown.size())
      list += QStringLiteral("等%1个").arg(repeated.size());
    ShowMessage(this,
                (repeated.size() == 1 ? QStringLiteral("区号/代码%1有不止一条费率，计费只用其中的第一条；"
                                                       "请删除或修改多余的费率")
                                      : QStringLiteral("区号/代码%1各有不止一条费率，计费只用其中的第一条；"
                                                       "请删除或修改多余的费率"))
                    .arg(list),
                QStringLiteral("请注意"));
  }
}

bool TRateForm::SaveRates()
{
  QString reason;
  if (WriteRateFile(m_path, m_rules, &reason))
    return true;
  ShowSaveFailure(this, RATE_FILE, reason, QStringLiteral("费率没有保存。"));
  return false;
}

void TRateForm::AppendRow(const RateInfo &rule)
{
  RateTable->addTopLevelItem(RuleRow(rule));
  m_rules.push_back(rule);
}

void TRateForm::FillTable()
{
  // One insertion for the lot: a row at a time costs the view a model change
  // each, which a deck of tens of thousands of rules makes felt.
  QList<QTreeWidgetItem *> rows;
  rows.reserve(m_rules.size());
  for (const RateInfo &rule : m_rules)
    rows.append(RuleRow(rule));
  const QSignalBlocker quiet(RateTable);
  RateTable->clear();
  RateTable->addTopLevelItems(rows);
}

int TRateForm::SelectedRow() const
{
  const QList<QTreeWidgetItem *> selected = RateTable->selectedItems();
  return selected.isEmpty() ? -1 : RateTable->indexOfTopLevelItem(selected.first());
}

void TRateForm::ShowRate(const RateInfo &rule)
{
  const bool isDefault = IsDefaultRule(rule);
  NameEdit->setText(isDefault ? QStringLiteral(DEFAULT_RULE_CAPTION) : FromGbk(FIELD_TEXT(rule.m_name)));
  PrefixEdit->setText(isDefault ? QString() : FromGbk(FIELD_TEXT(rule.m_prefix)));
  NameEdit->setEnabled(!isDefault);
  PrefixEdit->setEnabled(!isDefault);
  ChargeEdit->setText(CentsText(CentsOf(rule.m_handling_charge)));
  UnitEdit->setText(QString::number(rule.m_min_bill_time));
  MinTimeEdit->setText(QString::number(rule.m_tao_price.m_category));
  MinFeeEdit->setText(CentsText(CentsOf(rule.m_tao_price.m_price)));
  for (int n = 0; n < MAX_PERIODS; n++) {
    const period_price &p = rule.m_period_price[n];
    const bool inUse = p.m_time[0] != '\0';
    Period[n]->setTime(inUse ? PeriodStartTime(p) : QTime(0, 0, 0));
    Period[n]->setEnabled(inUse);
    CheckBox[n]->setChecked(inUse);
    RateEdit[n]->setText(CentsText(CentsOf(p.m_price)));
  }
  FreePeriodEdit->setText(QString::number(rule.m_invalid_timeval));
  SaveBtn->setEnabled(false);
}

bool TRateForm::ReadRate(const RateInfo &edited, RateInfo *rule)
{
  RateInfo r{};
  if (IsDefaultRule(edited)) {
    STORE_TEXT(r.m_name, DEFAULT_RULE_NAME);
  } else {
    const std::optional<QByteArray> name = ToGbk(NameEdit->text());
    const std::optional<QByteArray> prefix = ToGbk(PrefixEdit->text());
    if (!name || !prefix) {
      ShowMessage(this, QStringLiteral("国家/城市/地区中有无法保存的字符"), QStringLiteral("错误"));
      return false;
    }
    STORE_TEXT(r.m_name, *name);
    STORE_TEXT(r.m_prefix, *prefix);
  }
  r.m_namelen = static_cast<int>(qstrlen(r.m_name));
  r.m_prefixlen = static_cast<int>(qstrlen(r.m_prefix));

  // What is saved is what the edits show: an amount is taken as typed or
  // refused with the reason, never rounded, and an emptied edit is no 0.
  auto refused = [this](const QString &fault) {
    if (fault.isEmpty())
      return false;
    ShowMessage(this, fault, QStringLiteral("错误"));
    return true;
  };
  if (refused(MoneyEditFault(ChargeEdit->text(), QStringLiteral("手续费"), &r.m_handling_charge)) ||
      refused(CountEditFault(UnitEdit->text(), QStringLiteral("计费间隔"), &r.m_min_bill_time)) ||
      refused(CountEditFault(MinTimeEdit->text(), QStringLiteral("3+1时长"), &r.m_tao_price.m_category)) ||
      refused(MoneyEditFault(MinFeeEdit->text(), QStringLiteral("3+1费率"), &r.m_tao_price.m_price)))
    return false;
  for (int n = 0; n < MAX_PERIODS; n++) {
    period_price &p = r.m_period_price[n];
    const bool inUse = CheckBox[n]->isChecked();
    if (inUse) {
      STORE_TEXT(p.m_time, Period[n]->time().toString(QStringLiteral("H:mm:ss")).toLatin1());
      p.m_timelen = static_cast<int>(qstrlen(p.m_time));
    }
    // Kept for a period out of use too: ticking it again brings its price
    // back. Such a period is not written, so an empty price is no fault.
    if (!inUse && RateEdit[n]->text().isEmpty())
      continue;
    if (refused(MoneyEditFault(RateEdit[n]->text(), QStringLiteral("费率%1").arg(n + 1), &p.m_price)))
      return false;
  }
  SortPeriods(&r);
  if (refused(CountEditFault(FreePeriodEdit->text(), QStringLiteral("免收费时长"), &r.m_invalid_timeval)))
    return false;
  *rule = r;
  return true;
}

void TRateForm::RateTableClick()
{
  const int row = SelectedRow();
  if (row >= 0 && row != m_current) {
    if (!LeaveEdits()) {
      // The operator stays with his edits, and the selection with them.
      const QSignalBlocker quiet(RateTable);
      if (m_current >= 0)
        RateTable->setCurrentItem(RateTable->topLevelItem(m_current));
      else
        RateTable->clearSelection();
      Button3->setEnabled(m_current > 0);
      return;
    }
    // A new rule saved just now has selected its own row: the row clicked
    // is selected again, and shown by the call that selection makes.
    if (SelectedRow() != row) {
      RateTable->setCurrentItem(RateTable->topLevelItem(row));
      return;
    }
    ShowRate(m_rules[row]);
    m_current = row;
  }
  Button3->setEnabled(row > 0);
}

void TRateForm::SaveBtnClick()
{
  SaveEdits();
}

bool TRateForm::SaveEdits()
{
  if (m_current < 0 && NameEdit->text().isEmpty())
    return false;
  const RateInfo edited = m_current >= 0 ? m_rules[m_current] : RateInfo{};
  // The name marks the default rule in the file: a second one would take the
  // first one's place when the engine loads it.
  if (!IsDefaultRule(edited) && NameEdit->text() == QLatin1String(DEFAULT_RULE_NAME)) {
    ShowMessage(this, QStringLiteral("“.default”不能用作国家/城市/地区"), QStringLiteral("错误"));
    return false;
  }
  RateInfo rule;
  if (!ReadRate(edited, &rule))
    return false;
  // A line the engine cannot read would end its loading of the file there.
  const QString fault = RateRuleFault(rule);
  if (!fault.isEmpty()) {
    ShowMessage(this, fault, QStringLiteral("错误"));
    return false;
  }
  // The engine takes the first rule of a prefix; a second one would never
  // price a call.
  if (!IsDefaultRule(rule)) {
    const int other = RowOfPrefix(m_rules, FIELD_TEXT(rule.m_prefix), m_current);
    if (other >= 0) {
      ShowMessage(this,
                  QStringLiteral("区号/代码%1已用于“%2”，一个区号只能有一条费率")
                      .arg(QString::fromLatin1(FIELD_TEXT(rule.m_prefix)), RateTable->topLevelItem(other)->text(0)),
                  QStringLiteral("错误"));
      return false;
    }
  }
  const bool added = m_current < 0;
  if (m_current >= 0) {
    RateTable->topLevelItem(m_current)->setText(1, PrefixEdit->text());
    m_rules[m_current] = rule;
  } else {
    AppendRow(rule);
    m_current = RuleCount() - 1;
    RateTable->setCurrentItem(RateTable->topLevelItem(m_current));
  }
  RateTable->topLevelItem(m_current)->setText(0, NameEdit->text());
  const bool saved = SaveRates();
  if (saved)
    Audit(AUDIT_RATE, RateChangeDetail(added ? nullptr : &edited, &rule));
  ShowRate(m_rules[m_current]);
  return saved;
}

void TRateForm::Button2Click()
{
  if (!LeaveEdits())
    return;
  ShowRate(NewRuleTemplate());
  m_current = -1;
  // Clicking the row that was selected shows its rule again.
  RateTable->clearSelection();
}

void TRateForm::Button3Click()
{
  const int row = SelectedRow();
  if (row <= 0)
    return;
  const RateInfo &doomed = m_rules[row];
  const QString what = IsDefaultRule(doomed) ? QStringLiteral(DEFAULT_RULE_CAPTION)
                                             : QStringLiteral("费率“%1”（区号/代码%2）")
                                                   .arg(FromGbk(FIELD_TEXT(doomed.m_name)),
                                                        QString::fromLatin1(FIELD_TEXT(doomed.m_prefix)));
  if (!AskDelete(this, QStringLiteral("要删除%1吗？").arg(what), QStringLiteral("删除费率")))
    return;
  RateInfo deleted;
  {
    // The row goes with its rule; no row is shown while they part.
    const QSignalBlocker quiet(RateTable);
    deleted = m_rules[row];
    m_rules.erase(m_rules.begin() + row);
    delete RateTable->takeTopLevelItem(row);
    RateTable->clearSelection();
  }
  m_current = -1;
  Button3->setEnabled(false);
  if (SaveRates())
    Audit(AUDIT_RATE, RateChangeDetail(&deleted, nullptr));
  ShowRate(NewRuleTemplate());
}

void TRateForm::ConfirmBtnClick()
{
  if (LeaveEdits())
    close();
}

bool TRateForm::LeaveEdits()
{
  if (!SaveBtn->isEnabled())
    return true;
  switch (AskUnsaved(this, QStringLiteral("费率有修改还没有保存，要保存吗？"), windowTitle())) {
  case UnsavedChoice::Save:
    if (m_current < 0 && NameEdit->text().isEmpty()) {
      ShowMessage(this, QStringLiteral("新费率还没有填写国家/城市/地区，无法保存"), QStringLiteral("错误"));
      return false;
    }
    return SaveEdits();
  case UnsavedChoice::Discard:
    // Gone from the edits too, whatever follows.
    ShowRate(m_current >= 0 ? m_rules[m_current] : NewRuleTemplate());
    return true;
  case UnsavedChoice::Stay:
    break;
  }
  return false;
}

bool TRateForm::RateEditKeyPress(QLineEdit *edit, QKeyEvent *key)
{
  switch (ClassifyKey(key)) {
  case KeyKind::Digit:
  case KeyKind::Backspace:
  case KeyKind::Passing:
    return false;
  case KeyKind::Point:
    return edit->text().contains(QLatin1Char('.'));
  case KeyKind::Refused:
    break;
  }
  return true;
}

bool TRateForm::NumberEditKeyPress(QLineEdit *, QKeyEvent *key)
{
  switch (ClassifyKey(key)) {
  case KeyKind::Digit:
  case KeyKind::Backspace:
  case KeyKind::Passing:
    return false;
  case KeyKind::Point:
  case KeyKind::Refused:
    break;
  }
  return true;
}

void TRateForm::RateEditChange()
{
  // An emptied edit stays empty: a text put back in it would be typed into.
  SaveBtn->setEnabled(true);
}

void TRateForm::NumberEditChange()
{
  SaveBtn->setEnabled(true);
}

void TRateForm::NameEditChange()
{
  SaveBtn->setEnabled(true);
}

void TRateForm::PrefixEditChange()
{
  SaveBtn->setEnabled(true);
}

void TRateForm::PeriodChange()
{
  SaveBtn->setEnabled(true);
}

void TRateForm::CheckBoxClick(int n)
{
  Period[n]->setEnabled(CheckBox[n]->isChecked());
  SaveBtn->setEnabled(true);
}

void TRateForm::CheckBox1Click()
{
  CheckBoxClick(0);
}
void TRateForm::CheckBox2Click()
{
  CheckBoxClick(1);
}
void TRateForm::CheckBox3Click()
{
  CheckBoxClick(2);
}
void TRateForm::CheckBox4Click()
{
  CheckBoxClick(3);
}

void TRateForm::ImportBtnClick()
{
  // The import shows the current row's rule anew.
  if (!LeaveEdits())
    return;
  if (ShowModal(OpenDialog1) != QDialog::Accepted)
    return;
  const QStringList chosen = OpenDialog1->selectedFiles();
  if (!chosen.isEmpty() && !chosen.first().isEmpty())
    ImportDeck(chosen.first());
}

bool TRateForm::ImportDeck(const QString &path)
{
  QFile file(path);
  const QString name = QFileInfo(path).fileName();
  if (!file.open(QIODevice::ReadOnly)) {
    ShowMessage(this, QStringLiteral("无法读取文件 %1").arg(name), QStringLiteral("错误"));
    return false;
  }
  if (file.size() > DECK_FILE_MAX) {
    ShowMessage(this, QStringLiteral("文件 %1 太大，不是费率表").arg(name), QStringLiteral("错误"));
    return false;
  }
  const DeckPlan plan = PlanDeck(file.readAll(), m_rules);
  ImportDlg->ShowPlan(path, plan, m_rules);
  if (ShowModal(ImportDlg) != QDialog::Accepted || !ImportDlg->OKBtn->isEnabled())
    return false;

  QList<RateInfo> rules = ApplyDeck(m_rules, plan);
  QString reason;
  if (!WriteRateFile(m_path, rules, &reason)) {
    ShowSaveFailure(this, RATE_FILE, reason, QStringLiteral("费率没有导入。"));
    return false;
  }
  // The rules a deck replaced keep their rows: each one before and after.
  for (int row : plan.replacedRows)
    Audit(AUDIT_RATE, RateChangeDetail(&m_rules[row], &rules[row]));
  m_rules = std::move(rules);
  Audit(AUDIT_RATE_IMPORT,
        QStringLiteral("%1：新增%2条，替换%3条").arg(name).arg(plan.added.size()).arg(plan.replacements.size()));
  FillTable();
  // Rows keep their places: the one shown stays shown, with its new rule.
  if (m_current >= 0) {
    ShowRate(m_rules[m_current]);
    RateTable->setCurrentItem(RateTable->topLevelItem(m_current));
  }
  ShowMessage(this,
              QStringLiteral("已导入%1条费率：新增%2条，替换%3条。")
                  .arg(plan.added.size() + plan.replacements.size())
                  .arg(plan.added.size())
                  .arg(plan.replacements.size()),
              QStringLiteral("导入费率"), QMessageBox::Information);
  return true;
}

void TRateForm::ExportBtnClick()
{
  if (ShowModal(SaveDialog1) != QDialog::Accepted)
    return;
  const QStringList chosen = SaveDialog1->selectedFiles();
  if (!chosen.isEmpty() && !chosen.first().isEmpty())
    ExportDeck(chosen.first());
}

bool TRateForm::ExportDeck(const QString &path)
{
  int lossy = 0;
  const QByteArray deck = FormatDeck(m_rules, &lossy);
  QString reason;
  if (!ReplaceFile(path, deck, &reason)) {
    ShowSaveFailure(this, QFileInfo(path).fileName(), reason, QStringLiteral("费率没有导出。"));
    return false;
  }
  const bool withDefault = std::any_of(m_rules.begin(), m_rules.end(), IsDefaultRule);
  QString text =
      (withDefault ? QStringLiteral("已导出%1条费率（含默认费率）到 %2。") : QStringLiteral("已导出%1条费率到 %2。"))
          .arg(RuleCount())
          .arg(QDir::toNativeSeparators(path));
  if (lossy > 0)
    text += QStringLiteral("\n其中%1条有多个时段、3+1时长或免收费时长，文件中只有时段1的价格；"
                           "再导入时，这些费率只保留时段1的价格。")
                .arg(lossy);
  ShowMessage(this, text, QStringLiteral("导出费率"), QMessageBox::Information);
  return true;
}

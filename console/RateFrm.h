/* The rate editor: the shop's rate rules in a table, one rule in the edits
 * beside it, saved to "rateinfo" at every save and delete. The table is read
 * from the file the first time the editor opens in a run and kept in memory
 * afterwards; the engine reads the file only when it starts, which the editor
 * says every time it closes. Row 0 (normally the default rule) stays. A rule
 * is saved as the edits show it or refused with the reason, one rule to a
 * prefix; a delete asks first, and so does leaving unsaved edits (another
 * row, a new rule, an import, closing). Rules also come in from a CSV deck
 * (a preview first, written on confirmation) and go out to one. */
#ifndef CONSOLE_RATEFRM_H
#define CONSOLE_RATEFRM_H

#include <QList>
#include <QWidget>

#include "quenta/rateinfo.h"

class QCheckBox;
class QCloseEvent;
class QFileDialog;
class QKeyEvent;
class QLineEdit;
class QPushButton;
class QShowEvent;
class QTimeEdit;
class QTreeWidget;
class TRateImportDlg;

#define RATE_CLOSE_NOTE "重新运行计费程序新费率方可生效"
#define COUNT_EDIT_MAX 10 /* digits of a count edit: every int fits */

class TRateForm : public QWidget {
  Q_OBJECT

public:
  explicit TRateForm(QWidget *parent = nullptr);

  /* The rule of table row i, as last saved. */
  const RateInfo &Rule(int row) const { return m_rules[row]; }
  int RuleCount() const { return static_cast<int>(m_rules.size()); }
  /* The row whose rule the edits show; -1 while a new rule is entered. */
  int CurrentRow() const { return m_current; }

  /* Imports the deck at path: reads it, shows the preview, and on
   * confirmation writes the rules it adds and replaces. True when written;
   * false, the operator told why, when it could not be read or written, and
   * when the import was cancelled. */
  bool ImportDeck(const QString &path);
  /* Writes the rules to a deck at path; false, the operator told, when the
   * file could not be written. */
  bool ExportDeck(const QString &path);
  /* Asks about edits not yet saved as the close box does (saving them when
   * the operator says so): true when the editor may go, false when the
   * operator chose to stay. */
  bool MayClose() { return LeaveEdits(); }

  QTreeWidget *RateTable;           /* "国家/城市/地区", "区号/代码" */
  QLineEdit *NameEdit;              /* display name; fixed for the default rule */
  QLineEdit *PrefixEdit;            /* dialled-number prefix; fixed for the default rule */
  QLineEdit *ChargeEdit;            /* "手续费", money */
  QLineEdit *UnitEdit;              /* "计费间隔", seconds */
  QCheckBox *CheckBox[MAX_PERIODS]; /* CheckBox1..4 "时段1".."时段4": period in use */
  QTimeEdit *Period[MAX_PERIODS];   /* Period1..4: start time of the period */
  QLineEdit *RateEdit[MAX_PERIODS]; /* Rate1Edit..Rate4Edit "费率1".."费率4", money */
  QLineEdit *MinTimeEdit;           /* "3+1时长": package seconds */
  QLineEdit *MinFeeEdit;            /* package price, money */
  QLineEdit *FreePeriodEdit;        /* "免收费时长": free limit, seconds */
  QPushButton *SaveBtn;             /* "保存": enabled by any change */
  QPushButton *Button2;             /* "新建" */
  QPushButton *Button3;             /* "删除": never for row 0 */
  QPushButton *ConfirmBtn;          /* "退出" */
  QPushButton *ImportBtn;           /* "导入...": a deck into the table */
  QPushButton *ExportBtn;           /* "导出...": the table to a deck */
  QFileDialog *OpenDialog1;         /* the deck to import, "*.csv" */
  QFileDialog *SaveDialog1;         /* where the deck is exported, "*.csv" */
  TRateImportDlg *ImportDlg;        /* the import's preview */

protected:
  void showEvent(QShowEvent *event) override;
  void closeEvent(QCloseEvent *event) override;
  bool eventFilter(QObject *watched, QEvent *event) override;

private:
  /* The table from the file; one default rule when the file is missing or
   * holds no rule. */
  void LoadRates();
  /* Rewrites the file from the table; false (and the operator told) when it
   * could not be written. */
  bool SaveRates();
  /* The rule into the edits. */
  void ShowRate(const RateInfo &rule);
  /* The edits into *rule, as a rule in place of edited (which says whether it
   * is the default rule). False, the operator told, when an edit holds no
   * number or the name cannot be stored. */
  bool ReadRate(const RateInfo &edited, RateInfo *rule);
  /* Appends a table row for the rule and its record. */
  void AppendRow(const RateInfo &rule);
  /* The table's rows anew from the records, all in one insertion. */
  void FillTable();
  int SelectedRow() const;
  /* The edits saved as 保存 saves them: true when the rule was saved and
   * written; false, the operator told why, when it was refused or could not
   * be written (and, silently, for a new rule without a name). */
  bool SaveEdits();
  /* Before the edits give way (to another row, a new rule, the editor
   * closing): true when they may, the unsaved ones saved or dropped as the
   * operator chose; false when he stays with them or they could not be
   * saved. */
  bool LeaveEdits();

  void FormShow();
  void FormClose();
  void RateTableClick();
  void SaveBtnClick();
  void Button2Click();
  void Button3Click();
  void ConfirmBtnClick();
  void ImportBtnClick();
  void ExportBtnClick();
  /* Key filters: true when the key is refused. */
  bool RateEditKeyPress(QLineEdit *edit, QKeyEvent *key);
  bool NumberEditKeyPress(QLineEdit *edit, QKeyEvent *key);
  void RateEditChange();
  void NumberEditChange();
  void NameEditChange();
  void PrefixEditChange();
  void PeriodChange();
  void CheckBox1Click();
  void CheckBox2Click();
  void CheckBox3Click();
  void CheckBox4Click();
  void CheckBoxClick(int n);

  QList<RateInfo> m_rules; /* one per table row, in row order */
  int m_current = -1;      /* row shown in the edits, or -1 */
  QString m_path;          /* "rateinfo" of the working directory */
};

#endif

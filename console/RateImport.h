/* The preview of a rate deck's import: what it adds, what it replaces, every
 * line it refuses with the reason, how the prices were converted; the rate
 * editor writes the rules only when the operator confirms here. */
#ifndef CONSOLE_RATEIMPORT_H
#define CONSOLE_RATEIMPORT_H

#include <QDialog>

#include "RateDeck.h"

class QLabel;
class QPushButton;
class QTreeWidget;

class TRateImportDlg : public QDialog {
  Q_OBJECT

public:
  explicit TRateImportDlg(QWidget *parent = nullptr);

  /* Shows the plan of the deck fileName (its name only is shown). "导入" is
   * enabled only when the plan adds or replaces a rule. */
  void ShowPlan(const QString &fileName, const DeckPlan &plan);

  QLabel *Title;                  /* the deck's name and encoding */
  QLabel *Summary;                /* the counts */
  QLabel *Note;                   /* how a line becomes a rule */
  QTreeWidget *LineList;          /* "行号", "说明": header, refused and rounded lines */
  QPushButton *OKBtn;             /* "导入": writes the rules */
  QPushButton *CancelBtn;         /* "取消" */
};

#endif

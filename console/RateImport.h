/* The preview of a rate deck's import: every rule it adds, every rule it
 * replaces with what changes, every line it refuses with the reason, how the
 * prices were converted; the rate editor writes the rules only when the
 * operator confirms here. */
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

  /* Shows the plan of the deck fileName (its name only is shown) for the
   * rules of the table. "导入" is enabled only when the plan adds or replaces
   * a rule. */
  void ShowPlan(const QString &fileName, const DeckPlan &plan, const QList<RateInfo> &rules);

  QLabel *Title;          /* the deck's name and encoding */
  QLabel *Summary;        /* the counts */
  QLabel *Note;           /* how a line becomes a rule */
  QTreeWidget *LineList;  /* "行号", "说明": every line but blank ones, in line order */
  QPushButton *OKBtn;     /* "导入": writes the rules */
  QPushButton *CancelBtn; /* "取消" */
};

#endif

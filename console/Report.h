/* The statistics report: the settled calls whose begin time lies in a range
 * (both ends inclusive), with the amount and the operator of each, their
 * total, and the list saved as a text file. The range starts as today from
 * midnight to now each time the window is shown; the list stays until the
 * next query. */
#ifndef CONSOLE_REPORT_H
#define CONSOLE_REPORT_H

#include <QList>
#include <QWidget>

#include "ReportFile.h"

class QDateEdit;
class QFileDialog;
class QLabel;
class QPushButton;
class QShowEvent;
class QTimeEdit;
class QTreeWidget;

class TReportFrm : public QWidget {
  Q_OBJECT

public:
  explicit TReportFrm(QWidget *parent = nullptr);

  /* Lists the settled calls that began from from to to (texts in the form of
   * the engine's begin times) and shows their total. */
  void RunReport(const QByteArray &from, const QByteArray &to);
  /* Writes the listed rows to the file; false, the operator told, when it
   * could not be written. */
  bool SaveReport(const QString &fileName);
  float ReportTotal() const { return m_total; }

  QDateEdit *FromDate;            /* "从": day ... */
  QTimeEdit *FromTime;            /* ... and time of the range's start */
  QDateEdit *ToDate;              /* "到": day ... */
  QTimeEdit *ToTime;              /* ... and time of its end */
  QPushButton *Button2;           /* "确定": runs the query */
  QTreeWidget *ReportTable;       /* "号码", "开始时间", "通话时长", "金额", "操作员" */
  QLabel *Info;                   /* "总计：" and the total */
  QPushButton *Button1;           /* "保存" */
  QFileDialog *SaveDialog1;       /* where the list is saved, "*.txt" */

protected:
  void showEvent(QShowEvent *event) override;

private:
  static void ReportRowArrived(void *record, void *param);

  void FormShow();
  void Button2Click();
  void Button1Click();

  QList<ReportRow> m_rows;        /* the table's rows, as the file gets them */
  float m_total = 0;              /* sum of the listed amounts */
};

#endif

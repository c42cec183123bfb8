/* The statistics report: the settled calls whose begin time lies in a range
 * (both ends inclusive), with the amount and the operator of each, their
 * total, and the list saved as a text file. The range starts as today from
 * midnight to now each time the window is shown; the list stays until the
 * next query.
 *
 * The calls may instead be grouped by line, rate rule, operator or day (one
 * row per group: calls, minutes, takings; the calls themselves are then not
 * listed, so a month of them costs one grouped query); a chart under the list
 * shows the takings of the range per day, or per hour when the range lies
 * within one day. The tab "交班记录" lists the handovers of the range beside
 * the bills of each shift (read when the tab is shown), the tab "操作记录"
 * the audit trail of the range (AuditTab.h), the tab "收款记录" the checkouts
 * of the range (CheckoutsTab.h). "导出CSV" and "导出Excel" save what the
 * current tab lists; the total under the tabs is the current tab's. The list
 * of calls names the booth (the line) of each call as well. */
#ifndef CONSOLE_REPORT_H
#define CONSOLE_REPORT_H

#include <QList>
#include <QStringList>
#include <QWidget>

#include "ReportFile.h"
#include "ReportGroups.h"
#include "ShiftRecord.h"

class QChartView;
class TAuditTab;
class StationState;
class TCheckoutsTab;
class QComboBox;
class QDateEdit;
class QCategoryAxis;
class QFileDialog;
class QLabel;
class QLineSeries;
class QPushButton;
class QShowEvent;
class QStackedWidget;
class QTabWidget;
class QTimeEdit;
class QTreeWidget;
class QTreeWidgetItem;
class QValueAxis;

#define CALL_COLUMNS (REPORT_COLUMNS + 1) /* the text file's, and the booth */
#define GROUP_COLUMNS 4
#define SHIFT_COLUMNS 11

class TReportFrm : public QWidget {
  Q_OBJECT

public:
  explicit TReportFrm(const StationState &station, QWidget *parent = nullptr);

  /* Lists the settled calls that began from from to to (texts in the form of
   * the engine's begin times), or their groups, shows their total, the chart
   * and the handovers of the range. */
  void RunReport(const QByteArray &from, const QByteArray &to);
  /* Writes the listed rows to the file; false, the operator told, when it
   * could not be written. */
  bool SaveReport(const QString &fileName);
  /* Writes what the current tab lists, with its heading, as a CSV file;
   * false, the operator told, when it could not be written. */
  bool SaveCsv(const QString &fileName);
  /* The same as an Excel workbook: numbers and ids as text, figures as
   * numbers (XlsxFile.h). */
  bool SaveExcel(const QString &fileName);
  /* The rows SaveCsv and SaveExcel write, heading first, columns in the
   * order shown. */
  QList<QStringList> CsvRows() const;
  Cents ReportTotal() const { return m_total; }
  ReportGrouping Grouping() const;
  /* The operator's names of the lines, for the groups by line. */
  void SetLineNames(const LineNames &names) { m_lineNames = names; }
  /* The chart's points of the last query. */
  const QList<ChartPoint> &ChartData() const { return m_chart; }

  QDateEdit *FromDate;          /* "从": day ... */
  QTimeEdit *FromTime;          /* ... and time of the range's start */
  QDateEdit *ToDate;            /* "到": day ... */
  QTimeEdit *ToTime;            /* ... and time of its end */
  QPushButton *Button2;         /* "确定": runs the query */
  QComboBox *GroupBy;           /* "分组": the captions of GroupingCaptions() */
  QTabWidget *ReportTabs;       /* "通话统计", "交班记录", "操作记录" */
  QStackedWidget *ListStack;    /* ReportTable, or GroupTable when grouped */
  QTreeWidget *ReportTable;     /* "号码", "开始时间", "通话时长", "金额", "操作员",
                                     "线路" (shown first) */
  QTreeWidget *GroupTable;      /* the group, "通话次数", "通话分钟", "金额" */
  QChartView *TakingsChart;     /* takings per day, or per hour */
  QTreeWidget *ShiftTable;      /* one row per handover, SHIFT_COLUMNS columns */
  QLabel *ShiftInfo;            /* the handovers' count and sums */
  TAuditTab *AuditPage;         /* the audit trail of the range */
  TCheckoutsTab *CheckoutsPage; /* "收款记录": the checkouts of the range */
  QLabel *Info;                 /* "总计：" and the total of the tab */
  QPushButton *CsvBtn;          /* "导出CSV" */
  QPushButton *ExcelBtn;        /* "导出Excel" */
  QPushButton *Button1;         /* "保存": the calls as a text file; not when grouped */
  QFileDialog *SaveDialog1;     /* where the list is saved, "*.txt" */
  QFileDialog *SaveDialog2;     /* where the CSV file goes, "*.csv" */
  QFileDialog *SaveDialog3;     /* where the workbook goes, "*.xlsx" */

protected:
  void showEvent(QShowEvent *event) override;

private:
  static void ReportRowArrived(void *record, void *param);

  void FormShow();
  void Button2Click();
  void Button1Click();
  /* The call's breakdown: how its price came about. */
  void ReportTableDoubleClick(QTreeWidgetItem *item);
  void CsvBtnClick();
  void ExcelBtnClick();
  void ShowTotal();
  void GroupByChange();
  void ListCalls(const QByteArray &from, const QByteArray &to, bool *ok);
  void ListGroups(const ReportSummary &summary);
  void ListShifts();
  void ReportTabsChange(int index);
  void DrawChart(const QByteArray &from, const QByteArray &to, const ReportSummary &summary);

  QList<ReportRow> m_rows; /* the table's rows, as the file gets them */
  Cents m_total = 0;       /* sum of the listed amounts */
  LineNames m_lineNames;
  ReportSummary m_summary; /* the groups and buckets of the last query */
  QList<ChartPoint> m_chart;
  bool m_queried = false;      /* a query has run since the window was shown */
  QByteArray m_from, m_to;     /* the range of the last query */
  Cents m_handed = 0;          /* the listed handovers' takings */
  bool m_shiftsListed = false; /* the handovers of that range are listed: they are
                                     read when their tab is shown, not with every query */
  QLineSeries *m_series = nullptr;
  QCategoryAxis *m_axisX = nullptr; /* a label on every point */
  QValueAxis *m_axisY = nullptr;
};

#endif

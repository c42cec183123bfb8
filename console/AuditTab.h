/* The report's tab "操作记录": the audit trail's entries over the report's
 * range (time, operator, action, particulars), narrowed to one operator and
 * one action when chosen; read when the tab is shown or a filter changes. */
#ifndef CONSOLE_AUDITTAB_H
#define CONSOLE_AUDITTAB_H

#include <QByteArray>
#include <QList>
#include <QStringList>
#include <QWidget>

class QComboBox;
class QLabel;
class QTreeWidget;

#define AUDIT_COLUMNS 4

class TAuditTab : public QWidget {
  Q_OBJECT

public:
  explicit TAuditTab(QWidget *parent = nullptr);

  /* The range of the report's query; the list is read again when next shown. */
  void SetRange(const QByteArray &from, const QByteArray &to);
  /* Lists the range's entries unless they are listed already. */
  void ListIfStale();
  /* The list with its heading, as the CSV export writes it. */
  QList<QStringList> CsvRows() const;

  QComboBox *AuditOperator; /* "操作员": "全部", or a name (typed or chosen) */
  QComboBox *AuditAction;   /* "操作": "全部", or one of AuditActions() */
  QTreeWidget *AuditTable;  /* "时间", "操作员", "操作", "详情" */
  QLabel *AuditInfo;        /* how many entries are listed */

private:
  void ListEntries();
  void FilterChange();

  QByteArray m_from, m_to;
  bool m_ranged = false; /* a query has given the range */
  bool m_listed = false; /* the list shows the range and the filters */
};

#endif

/* The report's query conditions, its rows and its text file. */
#include "ReportFile.h"

#include "Calls.h"
#include "Gbk.h"
#include "RateFile.h"
#include "SaveFile.h"

ReportRow ReportRowOf(const report_info &info)
{
  ReportRow row;
  row.number = FIELD_TEXT(info.m_cdr.desnum);
  row.start = FIELD_TEXT(info.m_cdr.bdate);
  // A call that ended before it began (the clock was set back) lasted nothing.
  row.seconds = QByteArray::number(qMax(info.m_bill.m_calltime, 0));
  row.cents = CentsOf(info.m_bill.m_count);
  row.amount = CentsText(row.cents).toLatin1();
  row.admin = FIELD_TEXT(info.m_bill.m_admin);
  row.machine = FIELD_TEXT(info.m_cdr.machineid);
  row.line = info.m_cdr.lineid;
  return row;
}

QList<QByteArray> ReportConditions(const QByteArray &from, const QByteArray &to)
{
  return {"cdrtbl.bdate>=" + SqlText(from), "cdrtbl.bdate<=" + SqlText(to), "billtbl.callid=cdrtbl.callid"};
}

QByteArray ReportFileText(const QList<ReportRow> &rows)
{
  QByteArray text = *ToGbk(QStringLiteral(REPORT_HEADING)) + '\n';
  for (const ReportRow &r : rows)
    text += r.number + ", " + r.start + ", " + r.seconds + ", " + r.amount + ", " + r.admin + '\n';
  return text;
}

bool WriteReportFile(const QString &path, const QList<ReportRow> &rows)
{
  return ReplaceFile(path, ReportFileText(rows), nullptr);
}

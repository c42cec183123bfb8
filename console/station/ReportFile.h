/* The statistics report without its window: the conditions of the join query
 * over a time range, one listed row per settled call, and the text file the
 * list is saved as (GBK, a heading and one line per row, fields joined by a
 * comma and a blank; the total is not written). */
#ifndef CONSOLE_REPORTFILE_H
#define CONSOLE_REPORTFILE_H

#include <QByteArray>
#include <QDate>
#include <QList>
#include <QString>
#include <QTime>

#include "quenta/records.h"

#include "Money.h"

#define REPORT_COLUMNS 5
#define REPORT_HEADING "号码, 起始时间, 通话时长, 金额, 管理员"

/* One listed call, each text as the table shows it, in GBK. */
struct ReportRow {
  QByteArray number;  /* dialled number */
  QByteArray start;   /* begin time of the call */
  QByteArray seconds; /* duration in seconds, decimal, never negative */
  QByteArray amount;  /* the bill, two decimals: the text of cents */
  QByteArray admin;   /* operator who settled it */
  QByteArray machine; /* the line the call was made on: gateway machine ... */
  int line = 0;       /* ... and line on it (the booth) */
  Cents cents = 0;    /* the bill, rounded to the fen once: what the total adds */
};

/* The row of one joined call and bill. */
ReportRow ReportRowOf(const report_info &info);

/* The condition fragments of the query, both ends inclusive, with the join
 * condition; the caller ends the list with a null pointer. */
QList<QByteArray> ReportConditions(const QByteArray &from, const QByteArray &to);

/* The file's bytes: the heading, then one line per row. */
QByteArray ReportFileText(const QList<ReportRow> &rows);

/* Replaces the file with the report; the old file stays whole until the new
 * one is complete. False when it could not be written. */
bool WriteReportFile(const QString &path, const QList<ReportRow> &rows);

#endif

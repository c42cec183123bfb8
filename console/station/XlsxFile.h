/* Tables saved as Excel workbooks (.xlsx), one sheet, the heading first in
 * bold and frozen. A spreadsheet keeps what it is given: dialled numbers, ids,
 * times and names go in as text cells (a number keeps its leading zeros, a
 * text that starts with "=" stays a text), while the figures of a column whose
 * heading names an amount, a count, seconds or minutes go in as numbers that
 * add up, amounts shown with two decimals. */
#ifndef CONSOLE_XLSXFILE_H
#define CONSOLE_XLSXFILE_H

#include <QList>
#include <QString>
#include <QStringList>

enum class CellKind {
  Text,
  Amount,  /* yuan, two decimals: "金额", "押金", "话费" ... */
  Count,   /* whole numbers: "通话次数", "账单笔数", "通话时长" in seconds */
  Minutes, /* one decimal: "通话分钟" */
};

/* What the cells under a column heading hold. */
CellKind CellKindOf(const QString &heading);

/* Replaces the file with a workbook of the rows (the heading first) on one
 * sheet named sheet; the old file stays whole until the new one is complete.
 * A figure that is not a plain decimal ("", "—") goes in as text. False, and
 * *reason in the operator's words, when it could not be written. */
bool WriteXlsxFile(const QString &path, const QString &sheet, const QList<QStringList> &rows, QString *reason);

#endif

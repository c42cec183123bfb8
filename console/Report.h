/* The statistics report: the settled calls of a date range, their total, and
 * the list saved as a text file. */
#ifndef CONSOLE_REPORT_H
#define CONSOLE_REPORT_H

#include <QWidget>

class TReportFrm : public QWidget {
  Q_OBJECT

public:
  explicit TReportFrm(QWidget *parent = nullptr);
};

#endif

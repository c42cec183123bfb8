/* The ReportFrm window. */
#include "Report.h"

TReportFrm::TReportFrm(QWidget *parent)
  : QWidget(parent, Qt::Window)
{
  setObjectName(QStringLiteral("ReportFrm"));
  setWindowTitle(QStringLiteral("报表统计"));
  resize(640, 480);
}

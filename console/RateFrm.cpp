/* The RateForm window. */
#include "RateFrm.h"

TRateForm::TRateForm(QWidget *parent)
  : QWidget(parent, Qt::Window)
{
  setObjectName(QStringLiteral("RateForm"));
  setWindowTitle(QStringLiteral("费率设置"));
  resize(640, 480);
}

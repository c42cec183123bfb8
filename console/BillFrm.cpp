/* The BillForm window. */
#include "BillFrm.h"

TBillForm::TBillForm(QWidget *parent)
  : QDialog(parent)
{
  setObjectName(QStringLiteral("BillForm"));
  setWindowTitle(QStringLiteral("结帐"));
  resize(560, 400);
}

/* The checkout dialog: a line's unsettled calls, their prices and the total,
 * the money received and the change. */
#ifndef CONSOLE_BILLFRM_H
#define CONSOLE_BILLFRM_H

#include <QDialog>

class TBillForm : public QDialog {
  Q_OBJECT

public:
  explicit TBillForm(QWidget *parent = nullptr);
};

#endif

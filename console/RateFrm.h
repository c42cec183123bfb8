/* The rate editor: the shop's rate rules, edited and saved to "rateinfo". */
#ifndef CONSOLE_RATEFRM_H
#define CONSOLE_RATEFRM_H

#include <QWidget>

class TRateForm : public QWidget {
  Q_OBJECT

public:
  explicit TRateForm(QWidget *parent = nullptr);
};

#endif

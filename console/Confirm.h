/* The question asked before the program ends. */
#ifndef CONSOLE_CONFIRM_H
#define CONSOLE_CONFIRM_H

#include <QDialog>

class QPushButton;

class TConfirmDlg : public QDialog {
  Q_OBJECT

public:
  explicit TConfirmDlg(QWidget *parent = nullptr);

  QPushButton *OKBtn;             /* "确认": the program may end */
  QPushButton *CancelBtn;         /* "取消": it goes on */
};

#endif

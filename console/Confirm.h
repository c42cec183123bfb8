/* The question asked before the program ends. */
#ifndef CONSOLE_CONFIRM_H
#define CONSOLE_CONFIRM_H

#include <QDialog>

class QLabel;
class QPushButton;

class TConfirmDlg : public QDialog {
  Q_OBJECT

public:
  explicit TConfirmDlg(QWidget *parent = nullptr);

  /* Calls that quitting now would lose: with any, Warning says so and
   * CancelBtn becomes the default button; with none, Warning is hidden. */
  void SetUnsavedCalls(unsigned calls);

  QLabel *Warning;        /* in red, below the question: what quitting loses */
  QPushButton *OKBtn;     /* "确认": the program may end */
  QPushButton *CancelBtn; /* "取消": it goes on */
};

#endif

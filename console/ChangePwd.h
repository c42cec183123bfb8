/* The new password for an operator chosen in the operator manager, typed
 * twice. The fields keep what was typed the last time. */
#ifndef CONSOLE_CHANGEPWD_H
#define CONSOLE_CHANGEPWD_H

#include <QDialog>

class QLineEdit;
class QPushButton;

class TPasswordDlg : public QDialog {
  Q_OBJECT

public:
  explicit TPasswordDlg(QWidget *parent = nullptr);

  QLineEdit *Password;    /* "密    码：", shown as "*" */
  QLineEdit *Password2;   /* "密码确认：", shown as "*" */
  QPushButton *OKBtn;     /* "确定", default: ends with OK */
  QPushButton *CancelBtn; /* "取消": ends with Cancel */
};

#endif

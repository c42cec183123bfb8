/* The operator's own password change: the old password, then the new one
 * twice. The main window captions it with the operator's name each time it
 * shows it, and checks what was typed; the fields keep what was typed the
 * last time. */
#ifndef CONSOLE_CHANGEPWD2_H
#define CONSOLE_CHANGEPWD2_H

#include <QDialog>

class QLineEdit;
class QPushButton;

class TChangePwdDlg : public QDialog {
  Q_OBJECT

public:
  explicit TChangePwdDlg(QWidget *parent = nullptr);

  QLineEdit *OrigPassword; /* "原密码：", shown as "*" */
  QLineEdit *Password;     /* "新密码：", shown as "*" */
  QLineEdit *Password2;    /* "密码确认：", shown as "*" */
  QPushButton *OKBtn;      /* "确定", default: ends with OK */
  QPushButton *CancelBtn;  /* "取消": ends with Cancel */
};

#endif

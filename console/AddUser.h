/* A new operator for the password file: name, password and its confirmation.
 * The operator manager empties the fields before it shows the dialog and
 * checks what was typed when it ends with OK. */
#ifndef CONSOLE_ADDUSER_H
#define CONSOLE_ADDUSER_H

#include <QDialog>

class QLineEdit;
class QPushButton;

class TAddUserDlg : public QDialog {
  Q_OBJECT

public:
  explicit TAddUserDlg(QWidget *parent = nullptr);

  QLineEdit *Username;    /* "操作员" */
  QLineEdit *Password;    /* "密  码", shown as "*" */
  QLineEdit *Password2;   /* "密码确认", shown as "*" */
  QPushButton *OKBtn;     /* "确定", default: ends with OK */
  QPushButton *CancelBtn; /* "取消": ends with Cancel */
};

#endif

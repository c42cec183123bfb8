/* The operator login: a name and a password, checked by the main window
 * against the password file. */
#ifndef CONSOLE_LOGIN_H
#define CONSOLE_LOGIN_H

#include <QDialog>

#include "FieldDialog.h"

class QLineEdit;
class QPushButton;

class TLoginDlg : public QDialog {
  Q_OBJECT

public:
  explicit TLoginDlg(QWidget *parent = nullptr);

  QLineEdit *Username;  /* "操作员" */
  QLineEdit *Password;  /* "密  码", shown as "*" */
  QPushButton *OKBtn;   /* "确定", default: ends with OK */
  QPushButton *Button1; /* "取消": ends with Cancel */

protected:
  void showEvent(QShowEvent *event) override;

private:
  void FormShow();
};

#endif

/* A new operator for the password file: name, password and its confirmation. */
#ifndef CONSOLE_ADDUSER_H
#define CONSOLE_ADDUSER_H

#include <QDialog>

class TAddUserDlg : public QDialog {
  Q_OBJECT

public:
  explicit TAddUserDlg(QWidget *parent = nullptr);
};

#endif

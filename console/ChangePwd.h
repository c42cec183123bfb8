/* The new password for an operator chosen in the operator manager. */
#ifndef CONSOLE_CHANGEPWD_H
#define CONSOLE_CHANGEPWD_H

#include <QDialog>

class TPasswordDlg : public QDialog {
  Q_OBJECT

public:
  explicit TPasswordDlg(QWidget *parent = nullptr);
};

#endif

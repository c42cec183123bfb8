/* The operator's own password change: the old password, then the new one twice.
 * Its caption names the operator and is set each time it is shown. */
#ifndef CONSOLE_CHANGEPWD2_H
#define CONSOLE_CHANGEPWD2_H

#include <QDialog>

class TChangePwdDlg : public QDialog {
  Q_OBJECT

public:
  explicit TChangePwdDlg(QWidget *parent = nullptr);
};

#endif

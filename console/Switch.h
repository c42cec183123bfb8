/* The shift change: shows the takings of the shift that ends and what its
 * cash drawer should hold, takes the cash counted in it, and lets the next
 * operator log in. The main window fills the texts and checks the login. */
#ifndef CONSOLE_SWITCH_H
#define CONSOLE_SWITCH_H

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

class TSwitchDlg : public QDialog {
  Q_OBJECT

public:
  explicit TSwitchDlg(QWidget *parent = nullptr);

  QLabel *Title;        /* the shift's takings */
  QLabel *Drawer;       /* what the drawer should hold, deposits apart */
  QLineEdit *Counted;   /* "实点现金": the cash counted; empty: not counted */
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

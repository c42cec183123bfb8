/* The shop settings: the name, address and telephone that head every receipt,
 * the line that ends it, and whether a line is denied as soon as its
 * checkout is confirmed. The administrator's; the main window fills it from
 * "shopinfo" and writes what it holds back there on OK. */
#ifndef CONSOLE_SHOPDLG_H
#define CONSOLE_SHOPDLG_H

#include <QDialog>

#include "ShopInfo.h"

class QCheckBox;
class QLineEdit;
class QPushButton;

class TShopDlg : public QDialog {
  Q_OBJECT

public:
  explicit TShopDlg(QWidget *parent = nullptr);

  /* Shows the settings in the fields. */
  void SetInfo(const ShopInfo &info);
  /* The settings as the fields hold them, over info (its other lines kept). */
  ShopInfo Info(ShopInfo info) const;

  QLineEdit *ShopName;          /* "店名" */
  QLineEdit *Address;           /* "地址" */
  QLineEdit *Phone;             /* "电话" */
  QLineEdit *Footer;            /* "小票结尾" */
  QCheckBox *DenyAfterCheckout; /* "结帐后禁止呼叫" */
  QPushButton *OKBtn;           /* "确定", default: ends with OK */
  QPushButton *CancelBtn;       /* "取消" */
};

#endif

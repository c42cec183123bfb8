/* The reprint: the last receipt that went out, shown as it will print again
 * (marked as a reprint) before the operator sends it. The checkout hands
 * every receipt it prints (after the checkout is stored, with its running
 * number) over to here. */
#ifndef CONSOLE_RECEIPTDLG_H
#define CONSOLE_RECEIPTDLG_H

#include <QDialog>

#include "Receipt.h"

class QPrinter;
class QPrintPreviewWidget;
class QPushButton;
class QShowEvent;

class TReceiptDlg : public QDialog {
  Q_OBJECT

public:
  explicit TReceiptDlg(QWidget *parent = nullptr);
  ~TReceiptDlg() override;

  /* The receipt a reprint gives from now on. Kept in memory only: after a
   * restart the customer it was for has gone, and his calls and bills are in
   * the database. */
  void Keep(const Receipt &receipt);
  bool HasReceipt() const { return m_kept; }
  /* The kept receipt as it prints again. */
  Receipt Reprint() const;

  QPrintPreviewWidget *Preview; /* the receipt on its page */
  QPushButton *OKBtn;           /* "打印", default: ends with OK */
  QPushButton *CancelBtn;       /* "关闭" */

protected:
  void showEvent(QShowEvent *event) override;

private:
  void FormShow();
  void PreviewPaint(QPrinter *printer);

  QPrinter *m_printer; /* the page the preview shows */
  Receipt m_receipt;
  bool m_kept = false;
};

#endif

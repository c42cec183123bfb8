/* The customer's receipt of a checkout: the shop's heading, the line, the
 * operator and the time, every call with its amount, then the total, the
 * deposit when there was one, the money paid and the change or, settled for
 * less, what is owed (with a deposit: what was handed back or is still owed),
 * and the shop's closing line. Laid out for a
 * narrow receipt printer (58 or 80 mm paper) and readable on A4 as well:
 * the text is at most 72 mm wide, centred on a wider page. Plain functions;
 * a receipt is painted on any paged device (a printer, a PDF writer). */
#ifndef CONSOLE_RECEIPT_H
#define CONSOLE_RECEIPT_H

#include <QDateTime>
#include <QMarginsF>
#include <QPageSize>
#include <QString>

#include <vector>

#include "Money.h"

class QPagedPaintDevice;

#define RECEIPT_DIR "receipts" /* under the working directory: receipts kept as PDF files */

struct ReceiptCall {
  QString number;  /* the dialled number */
  QString start;   /* the begin time as the engine gives it */
  int seconds = 0; /* the duration billed */
  Cents amount = 0;
  QString breakdown; /* how the amount came about (rule, stretches, package,
                                     handling charge), one part a line; empty: left out */
};

struct Receipt {
  QString shopName; /* empty texts are left out */
  QString address;
  QString phone;
  QString footer;
  QString lineName;
  QString operatorName;
  QDateTime time; /* when the customer paid */
  std::vector<ReceiptCall> calls;
  Cents total = 0;
  Cents deposit = 0;    /* left before the calls, counted as paid; 0: none */
  Cents paid = 0;       /* paid at the checkout */
  Cents change = 0;     /* deposit + paid - total: handed back, or owed when negative */
  bool reprint = false; /* printed again later: the receipt says so */
  qint64 number = 0;    /* the checkout's running number (单号); 0: none yet */
  Cents refunded = 0;   /* handed back since by refunds (a reprint shows it) */
};

/* The receipt as rich text (the text a printer gets). */
QString ReceiptHtml(const Receipt &receipt);

/* Paints the receipt on the device, over as many pages as it needs. False
 * when the device cannot be painted on (a printer that refused the job). */
bool PaintReceipt(QPagedPaintDevice *device, const Receipt &receipt);

/* The page of a receipt kept as a PDF file: 80 mm paper as long as the
 * receipt, and its margins. */
QPageSize ReceiptPageSize(const Receipt &receipt);
QMarginsF ReceiptMargins(); /* millimetres */

/* Writes the receipt as a PDF file on its own page size. False, and *reason
 * (when given) in the operator's words, when it could not be written. */
bool WriteReceiptPdf(const QString &path, const Receipt &receipt, QString *reason = nullptr);

/* A file name in folder for a receipt of that time not yet taken:
 * "小票-20261209-140305.pdf", then "小票-20261209-140305-2.pdf", ... */
QString ReceiptPdfPath(const QString &folder, const QDateTime &time);

#endif

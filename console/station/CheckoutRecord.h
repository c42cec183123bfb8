/* The checkouts the engine keeps ("checkouttbl") and their refunds, as the
 * report lists them: a checkout read back with its calls, its receipt rebuilt
 * from the record for a reprint, and a refund of it. Plain functions. */
#ifndef CONSOLE_CHECKOUTRECORD_H
#define CONSOLE_CHECKOUTRECORD_H

#include <QByteArray>
#include <QList>
#include <QString>

#include "Money.h"
#include "Receipt.h"
#include "ReportGroups.h"
#include "ShopInfo.h"

/* One confirmed checkout. */
struct CheckoutRow {
  qint64 number = 0; /* the running number (单号) */
  QByteArray date;   /* when it was confirmed, the engine's time text */
  QString admin;     /* who took the money */
  QByteArray machineId;
  int lineId = 0;
  Cents due = 0;     /* the calls' amounts */
  Cents deposit = 0; /* counted as paid */
  Cents paid = 0;
  Cents change = 0;
  Cents owed = 0;     /* left unpaid */
  Cents refunded = 0; /* handed back since */
  QList<QByteArray> callIds;
  Cents Refundable() const { return due - owed - refunded; }
};

/* The checkouts confirmed within from..to (both inclusive), oldest first.
 * False when the engine refused the query. */
bool QueryCheckouts(const QByteArray &from, const QByteArray &to, QList<CheckoutRow> *rows);

/* The checkout with that number; false when there is none or it cannot be read. */
bool FindCheckout(qint64 number, CheckoutRow *row);

/* The operator's name of a line: its name in the line map, else "机器 线路#n"
 * as the report's groups name it. */
QString CheckoutLineName(const LineNames &names, const QByteArray &machineId, int lineId);

/* A receipt with the shop's heading and closing line, the line and the
 * operator, and nothing else yet. */
Receipt ShopReceipt(const ShopInfo &shop, const QString &lineName, const QString &operatorName);

/* The customer's receipt of the checkout again, from its record and the bills
 * of its calls: marked as a reprint, with its number, the time it was paid
 * and what was refunded since. */
Receipt ReprintOf(const CheckoutRow &row, const ShopInfo &shop, const QString &lineName);

/* Refunds amount of the checkout as given by admin for reason: true, and
 * *number the refund's number, when it was stored; false and *why in the
 * operator's words when not (more than is left, no such checkout, the engine
 * refused). */
bool RefundCheckout(qint64 checkout, Cents amount, const QString &admin, const QString &reason, qint64 *number,
                    QString *why);

/* One refund as its slip (退款单) shows it. */
struct RefundSlip {
  qint64 number = 0;   /* the refund's own number */
  qint64 checkout = 0; /* the checkout it refunds */
  QDateTime time;
  QString admin;
  QString reason;
  Cents amount = 0;
  Cents settled = 0;        /* what the customer had paid for the checkout */
  Cents refundedBefore = 0; /* refunded of it earlier */
};

/* The slip as rich text, headed by the shop's name, for a receipt printer. */
QString RefundSlipHtml(const RefundSlip &slip, const ShopInfo &shop);

/* Writes the slip as a PDF file in folder ("退款单-20261209-140305.pdf", then
 * "...-2.pdf"); false and *reason when it could not be written. */
bool WriteRefundSlipPdf(const QString &folder, const QString &html, const QDateTime &time, QString *path,
                        QString *reason);

#endif

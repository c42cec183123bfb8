/* The checkout of one line: gathering, storing, the receipt. */
#include "LineCheckout.h"

#include <QDateTime>

#include <cstdio>

#include "quenta/quenta.h"

#include "LineText.h"
#include "CheckoutRecord.h"
#include "PriceDetail.h"

int LineCheckout::PricedCalls() const
{
  int priced = 0;
  for (const CheckoutCall &call : calls)
    priced += call.bill ? 1 : 0;
  return priced;
}

bool GatherLineCheckout(const QByteArray &machineId, int lineId, Cents deposit, LineCheckout *checkout)
{
  *checkout = LineCheckout();
  checkout->machineId = machineId;
  checkout->lineId = lineId;
  checkout->deposit = deposit;
  if (!CollectUnsettledCalls(machineId, lineId, &checkout->calls))
    return false;
  for (const CheckoutCall &call : checkout->calls) {
    if (call.bill)
      checkout->total += CentsOf(call.bill->m_count);
    else
      checkout->unpriced = true;
  }
  return true;
}

QString BreakdownOf(const CheckoutCall &call)
{
  if (!call.bill)
    return QString();
  return CallBreakdown(
      QByteArray(call.cdr.callid, qstrnlen(call.cdr.callid, sizeof call.cdr.callid)),
      QByteArray(call.bill->m_period_record, qstrnlen(call.bill->m_period_record, sizeof call.bill->m_period_record)),
      CentsOf(call.bill->m_count));
}

Receipt ReceiptOf(const ShopInfo &shop, const QString &lineName, const QString &operatorName,
                  const std::vector<CheckoutCall> &calls)
{
  Receipt receipt = ShopReceipt(shop, lineName, operatorName);
  for (const CheckoutCall &call : calls) {
    // Only what is settled is on it: an unpriced call stays to be paid.
    if (call.bill)
      receipt.calls.push_back({EngineText(call.cdr.desnum), EngineText(call.cdr.bdate), call.bill->m_calltime,
                               CentsOf(call.bill->m_count), BreakdownOf(call)});
  }
  return receipt;
}

int StoreLineCheckout(const LineCheckout &checkout, const QString &operatorName, Cents paid, const CheckoutMoney &money,
                      checkout_info *co)
{
  *co = checkout_info{};
  const QByteArray name = OperatorForBill(operatorName);
  std::snprintf(co->m_admin, sizeof co->m_admin, "%s", name.constData());
  std::snprintf(co->m_machineid, sizeof co->m_machineid, "%s", checkout.machineId.constData());
  co->m_lineid = checkout.lineId;
  co->m_due = checkout.total;
  co->m_deposit = checkout.deposit;
  co->m_paid = paid;
  co->m_change = money.change;
  co->m_owed = money.owed;
  return StoreCheckout(co, checkout.calls);
}

Cents SettledAmount(const checkout_info &co)
{
  return co.m_due - co.m_owed;
}

CheckoutFigures FiguresOf(const LineCheckout &checkout, Cents paid, bool stored)
{
  // The trail keeps the figures the customer was shown, and whether they
  // were settled.
  CheckoutFigures figures;
  figures.due = checkout.total;
  figures.deposit = checkout.deposit;
  figures.paid = paid;
  figures.calls = checkout.PricedCalls();
  if (!stored) {
    figures.unsaved = figures.calls;
    figures.unsavedAmount = checkout.total;
  }
  return figures;
}

Receipt StoredReceipt(Receipt receipt, const LineCheckout &checkout, const checkout_info &co, bool breakdowns)
{
  receipt.number = co.m_number;
  const QDateTime when = QDateTime::fromString(QString::fromLatin1(co.m_date), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
  receipt.time = when.isValid() ? when : QDateTime::currentDateTime();
  receipt.total = checkout.total;
  receipt.deposit = checkout.deposit;
  receipt.paid = co.m_paid;
  receipt.change = checkout.deposit + co.m_paid - checkout.total;
  if (!breakdowns) {
    for (ReceiptCall &call : receipt.calls)
      call.breakdown.clear();
  }
  return receipt;
}

QString CheckoutFailureText(int result)
{
  if (result == QUENTA_CHECKOUT_STALE)
    return QStringLiteral("结帐没有保存：其中有通话已经在别处结帐了。这次什么都没有结帐，"
                          "也没有计入本班收入，请重新结帐。");
  return QStringLiteral("结帐没有保存（数据库出错，详见 app.log）。这次什么都没有结帐，"
                        "也没有计入本班收入，请稍后重新结帐。");
}

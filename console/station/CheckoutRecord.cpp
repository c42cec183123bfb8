/* Reading checkouts back, rebuilding their receipts, refunding them. */
#include "CheckoutRecord.h"

#include "quenta/quenta.h"

#include "Gbk.h"
#include "LineText.h"
#include "RateFile.h"

namespace {

CheckoutRow RowOf(const checkout_info &c)
{
  CheckoutRow row;
  row.number = c.m_number;
  row.date = FIELD_TEXT(c.m_date);
  row.admin = FromGbk(FIELD_TEXT(c.m_admin));
  row.machineId = FIELD_TEXT(c.m_machineid);
  row.lineId = c.m_lineid;
  row.due = c.m_due;
  row.deposit = c.m_deposit;
  row.paid = c.m_paid;
  row.change = c.m_change;
  row.owed = c.m_owed;
  row.refunded = c.m_refunded;
  return row;
}

void CheckoutArrived(void *record, void *param)
{
  const auto *c = static_cast<const checkout_info *>(record);
  CheckoutRow row = RowOf(*c);
  if (c->m_callids)
    row.callIds = QByteArray(c->m_callids).split('\n');
  row.callIds.removeAll(QByteArray());
  static_cast<QList<CheckoutRow> *>(param)->append(row);
}

/* The first row of a select on one call. */
template <typename Record>
bool FirstOf(int (*select)(const char *const *, USER_CALLBACK, void *), const QByteArray &callId, Record *out)
{
  QByteArray quoted = callId;
  quoted.replace('\'', "''");
  const QByteArray cond = "callid='" + quoted + "'";
  const char *conds[] = {cond.constData(), nullptr};
  struct Found {
    Record *out;
    bool found;
  } found{out, false};
  select(conds, [](void *r, void *p) {
    auto *f = static_cast<Found *>(p);
    if (!f->found)
      *f->out = *static_cast<const Record *>(r);
    f->found = true;
  }, &found);
  return found.found;
}

} // namespace

bool QueryCheckouts(const QByteArray &from, const QByteArray &to, QList<CheckoutRow> *rows)
{
  rows->clear();
  return quenta_selectCheckouts(from.constData(), to.constData(), nullptr, CheckoutArrived, rows) == 0;
}

bool FindCheckout(qint64 number, CheckoutRow *row)
{
  checkout_info c{};
  QByteArray ids(64 * 1024, '\0');
  if (quenta_getCheckout(number, &c, ids.data(), static_cast<int>(ids.size())) != 1)
    return false;
  *row = RowOf(c);
  row->callIds = QByteArray(ids.constData()).split('\n');
  row->callIds.removeAll(QByteArray());
  return true;
}

QString CheckoutLineName(const LineNames &names, const QByteArray &machineId, int lineId)
{
  const QString name = names.value({machineId, lineId});
  return name.isEmpty() ? QStringLiteral("%1 线路#%2").arg(EngineText(machineId.constData())).arg(lineId + 1)
                        : name;
}

Receipt ReprintOf(const CheckoutRow &row, const ShopInfo &shop, const QString &lineName)
{
  Receipt receipt;
  receipt.shopName = shop.name;
  receipt.address = shop.address;
  receipt.phone = shop.phone;
  receipt.footer = shop.footer;
  receipt.lineName = lineName;
  receipt.operatorName = row.admin;
  receipt.time = QDateTime::fromString(QString::fromLatin1(row.date), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
  for (const QByteArray &id : row.callIds) {
    cdr_info cdr{};
    bill_info bill{};
    const bool hasCall = FirstOf(quenta_selectCDRTable, id, &cdr);
    // The bill the checkout stored, not a price of today's rates.
    if (!FirstOf(quenta_selectBillTable, id, &bill))
      continue;
    receipt.calls.push_back({hasCall ? EngineText(cdr.desnum) : QString(), hasCall ? EngineText(cdr.bdate) : QString(),
                             bill.m_calltime, CentsOf(bill.m_count), QString()});
  }
  receipt.total = row.due;
  receipt.deposit = row.deposit;
  receipt.paid = row.paid;
  // What was handed back, or (negative) what the customer still owes.
  receipt.change = row.change - row.owed;
  receipt.reprint = true;
  receipt.number = row.number;
  receipt.refunded = row.refunded;
  return receipt;
}

bool RefundCheckout(qint64 checkout, Cents amount, const QString &admin, const QString &reason, qint64 *number,
                    QString *why)
{
  const std::optional<QByteArray> name = ToGbk(admin), text = ToGbk(reason);
  if (!name || !text) {
    *why = QStringLiteral("原因中有无法保存的字符");
    return false;
  }
  refund_info r{};
  STORE_TEXT(r.m_admin, *name);
  STORE_TEXT(r.m_reason, *text);
  r.m_checkout = checkout;
  r.m_amount = amount;
  switch (quenta_refund(&r)) {
  case 0:
    *number = r.m_number;
    return true;
  case QUENTA_REFUND_TOO_MUCH:
    *why = QStringLiteral("退款不能超过该单实收未退的金额");
    return false;
  case QUENTA_REFUND_NO_CHECKOUT:
    *why = QStringLiteral("没有单号为 %1 的收款记录").arg(checkout);
    return false;
  default:
    *why = QStringLiteral("退款没有保存，请查看 app.log");
    return false;
  }
}

/* Reading checkouts back, rebuilding their receipts, refunding them. */
#include "CheckoutRecord.h"

#include <QBuffer>
#include <QDir>
#include <QPdfWriter>
#include <QTextDocument>

#include "quenta/quenta.h"

#include "Calls.h"
#include "Gbk.h"
#include "LineText.h"
#include "RateFile.h"
#include "SaveFile.h"

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
  const QByteArray cond = "callid=" + SqlText(callId);
  const char *conds[] = {cond.constData(), nullptr};
  struct Found {
    Record *out;
    bool found;
  } found{out, false};
  select(
      conds,
      [](void *r, void *p) {
        auto *f = static_cast<Found *>(p);
        if (!f->found)
          *f->out = *static_cast<const Record *>(r);
        f->found = true;
      },
      &found);
  return found.found;
}

}  // namespace

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
  return name.isEmpty() ? QStringLiteral("%1 线路#%2").arg(EngineText(machineId.constData())).arg(lineId + 1) : name;
}

Receipt ShopReceipt(const ShopInfo &shop, const QString &lineName, const QString &operatorName)
{
  Receipt receipt;
  receipt.shopName = shop.name;
  receipt.address = shop.address;
  receipt.phone = shop.phone;
  receipt.footer = shop.footer;
  receipt.lineName = lineName;
  receipt.operatorName = operatorName;
  return receipt;
}

Receipt ReprintOf(const CheckoutRow &row, const ShopInfo &shop, const QString &lineName)
{
  Receipt receipt = ShopReceipt(shop, lineName, row.admin);
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

QString RefundSlipHtml(const RefundSlip &slip, const ShopInfo &shop)
{
  const auto row = [](const QString &label, const QString &value) {
    return QStringLiteral("<tr><td>%1</td><td align=\"right\">%2</td></tr>").arg(label, value.toHtmlEscaped());
  };
  QString html = QStringLiteral("<div align=\"center\"><b>%1</b><br>退款单</div><table width=\"100%\">")
                     .arg(shop.name.toHtmlEscaped());
  html += row(QStringLiteral("退款单号"), QString::number(slip.number));
  html += row(QStringLiteral("原收款单号"), QString::number(slip.checkout));
  html += row(QStringLiteral("时间"), slip.time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
  html += row(QStringLiteral("经办"), slip.admin);
  html += row(QStringLiteral("原实收"), AmountText(slip.settled));
  if (slip.refundedBefore != 0)
    html += row(QStringLiteral("此前已退"), AmountText(slip.refundedBefore));
  html += row(QStringLiteral("<b>本次退款</b>"), AmountText(slip.amount));
  html += row(QStringLiteral("原因"), slip.reason);
  html += QStringLiteral("</table>");
  if (!shop.footer.isEmpty())
    html += QStringLiteral("<div align=\"center\">%1</div>").arg(shop.footer.toHtmlEscaped());
  return html;
}

bool WriteRefundSlipPdf(const QString &folder, const QString &html, const QDateTime &time, QString *path,
                        QString *reason)
{
  QBuffer buffer;
  buffer.open(QIODevice::WriteOnly);
  {
    QPdfWriter writer(&buffer);
    writer.setTitle(QStringLiteral("退款单"));
    writer.setPageLayout(QPageLayout(QPageSize(QSizeF(80, 120), QPageSize::Millimeter), QPageLayout::Portrait,
                                     QMarginsF(4, 4, 4, 4), QPageLayout::Millimeter));
    QTextDocument doc;
    doc.setHtml(html);
    doc.print(&writer);
  }
  if (!QDir().mkpath(folder))
    return RefuseWrite(reason, QStringLiteral("无法建立文件夹 %1").arg(folder));
  const QString stem = QStringLiteral("退款单-") + time.toString(QStringLiteral("yyyyMMdd-HHmmss"));
  const QDir dir(folder);
  QString name = stem + QStringLiteral(".pdf");
  for (int n = 2; QFileInfo::exists(dir.filePath(name)); n++)
    name = stem + QStringLiteral("-%1.pdf").arg(n);
  *path = dir.filePath(name);
  return ReplaceFile(*path, buffer.data(), reason);
}

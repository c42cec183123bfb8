/* The console's questions to the engine about calls, and settling them. The
 * select callbacks run while the engine holds its database lock: they copy
 * and count, nothing more. */
#include "Calls.h"

#include <QStringEncoder>

#include "quenta/quenta.h"
#include "utils/text.h"

#include "Gbk.h"

namespace {

/* The three conditions of a line's unsettled calls, kept alive for one call. */
struct LineConditions {
  QByteArray machine;
  QByteArray line;
  const char *list[4];

  LineConditions(const QByteArray &machineId, int lineId)
      : machine("machineid=" + SqlText(machineId)),
        line("lineid=" + QByteArray::number(lineId)), list{machine.constData(), line.constData(), "flag=0", nullptr}
  {
  }
};

void CountRow(void *, void *param)
{
  ++*static_cast<int *>(param);
}

void CopyCdr(void *record, void *param)
{
  static_cast<std::vector<cdr_info> *>(param)->push_back(*static_cast<const cdr_info *>(record));
}

using SelectFunction = int (*)(const char *const *conds, USER_CALLBACK cb, void *param);

/* Rows of the call in a table ("cdrtbl" or "billtbl", by its select): their
 * number, or -1 when it could not be asked. */
int CountRowsOfCall(SelectFunction select, const char *callid)
{
  const QByteArray cond = "callid=" + SqlText(QByteArray(callid));
  const char *conds[] = {cond.constData(), nullptr};
  int n = 0;
  if (select(conds, CountRow, &n) != 0)
    return -1;
  return n;
}

int CountBills(const char *callid)
{
  return CountRowsOfCall(quenta_selectBillTable, callid);
}

/* False when the engine could not mark it. */
bool MarkSettled(const QByteArray &machineId, int lineId, const char *callid)
{
  const QByteArray machine = "machineid=" + SqlText(machineId);
  const QByteArray line = "lineid=" + QByteArray::number(lineId);
  const QByteArray call = "callid=" + SqlText(QByteArray(callid));
  const char *conds[] = {machine.constData(), line.constData(), call.constData(), nullptr};
  const char *sets[] = {"flag=1", nullptr};
  return quenta_updateCDRTable(conds, sets) == 0;
}

}  // namespace

QByteArray SqlText(const QByteArray &text)
{
  return QByteArray::fromStdString(utils::sql_quote(text.constData(), static_cast<size_t>(text.size())));
}

int CountUnsettledCalls(const QByteArray &machineId, int lineId)
{
  LineConditions conds(machineId, lineId);
  int n = 0;
  if (quenta_selectCDRTable(conds.list, CountRow, &n) != 0)
    return -1;
  return n;
}

bool CollectUnsettledCalls(const QByteArray &machineId, int lineId, std::vector<CheckoutCall> *calls)
{
  calls->clear();
  LineConditions conds(machineId, lineId);
  std::vector<cdr_info> cdrs;
  if (quenta_selectCDRTable(conds.list, CopyCdr, &cdrs) != 0)
    return false;
  for (const cdr_info &cdr : cdrs) {
    // Without knowing whether a call was billed already, no call can be
    // offered: the records cannot be read.
    const int bills = CountBills(cdr.callid);
    if (bills < 0) {
      calls->clear();
      return false;
    }
    if (bills > 0) {
      // Paid already; should the mark fail again, the next checkout tries anew.
      MarkSettled(machineId, lineId, cdr.callid);
      continue;
    }
    CheckoutCall call{cdr, std::nullopt};
    if (const bill_info *bill = quenta_getbill(cdr.callid)) {
      call.bill = *bill;
    } else {
      // The engine has no bill both when no rate prices the call and when
      // the call cannot be read; asking for its row again tells them apart.
      const int rows = CountRowsOfCall(quenta_selectCDRTable, cdr.callid);
      if (rows < 0) {
        calls->clear();
        return false;
      }
      if (rows == 0)
        continue;  // gone since the select: nothing left to settle
    }
    calls->push_back(call);
  }
  return true;
}

std::optional<bill_info> PriceCallSoFar(const char *dialled, const char *begin, const QByteArray &end)
{
  bill_info bill;
  if (quenta_priceCall(dialled, begin, end.constData(), &bill) != 0)
    return std::nullopt;
  return bill;
}

int StoreCheckout(checkout_info *co, const std::vector<CheckoutCall> &calls)
{
  std::vector<bill_info> bills;
  for (const CheckoutCall &call : calls) {
    if (call.bill)
      bills.push_back(*call.bill);
  }
  return quenta_checkout(co, bills.data(), static_cast<int>(bills.size()));
}

QByteArray OperatorForBill(const QString &name)
{
  QByteArray gbk = ToGbk(name).value_or(QByteArray());
  if (gbk.isEmpty() && !name.isEmpty()) {
    // Not reachable through a login, which needs a GBK name; keep what can be kept.
    QStringEncoder encoder("GBK");
    gbk = encoder.encode(name);
  }
  return GbkCut(gbk, ADMIN_LEN - 1);
}

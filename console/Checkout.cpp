/* The checkout of one line: its unsettled calls priced in the checkout dialog
 * (with the receipt the dialog can print), and on the operator's OK, call by
 * call, the bill stored, then the call marked settled, its money added to the
 * shift and the shift record rewritten (the calls that could not be settled
 * are named to the operator); a deposit of the line counts as
 * paid and is handed back; then, when the shop wants it, the line denied
 * until the next customer is let in. */
#include "MainFrm.h"

#include <QLabel>
#include <QLineEdit>
#include <QStringList>
#include <QTreeWidget>

#include "quenta/quenta.h"

#include "Audit.h"
#include "BillFrm.h"
#include "BillText.h"
#include "Calls.h"
#include "Forms.h"
#include "Modal.h"
#include "ShopInfo.h"

namespace {

/* The shop's heading and the line, operator and calls of the receipt. */
Receipt ReceiptOf(const ShopInfo &shop, const QString &lineName, const QString &operatorName,
                  const std::vector<CheckoutCall> &calls)
{
  Receipt receipt;
  receipt.shopName = shop.name;
  receipt.address = shop.address;
  receipt.phone = shop.phone;
  receipt.footer = shop.footer;
  receipt.lineName = lineName;
  receipt.operatorName = operatorName;
  for (const CheckoutCall &call : calls) {
    // Only what is settled is on it: an unpriced call stays to be paid.
    if (call.bill)
      receipt.calls.push_back({EngineText(call.cdr.desnum), EngineText(call.cdr.bdate),
                               call.bill->m_calltime, CentsOf(call.bill->m_count), QString()});
  }
  return receipt;
}

/* One call of a list the operator is shown: number, start and amount. */
QString CallLine(const CheckoutCall &call)
{
  return QStringLiteral("%1  %2  %3").arg(EngineText(call.cdr.desnum), EngineText(call.cdr.bdate),
                                          AmountText(CentsOf(call.bill->m_count)));
}

/* What the operator is told of the calls a checkout could not settle. */
QString SettleFailureText(const QStringList &noBill, const QStringList &notMarked)
{
  QStringList parts;
  if (!noBill.isEmpty())
    parts << QStringLiteral("以下通话的账单未能保存，仍未结帐，也没有计入本班收入，请稍后重新结帐：\n") +
                 noBill.join(QLatin1Char('\n'));
  if (!notMarked.isEmpty())
    parts << QStringLiteral("以下通话已保存账单并计入本班收入，但未能标记为已结帐；"
                            "下次结帐时会自动标记，不会重复收费：\n") +
                 notMarked.join(QLatin1Char('\n'));
  return parts.join(QStringLiteral("\n\n"));
}

} // namespace

void TMainForm::Checkout(int row)
{
  if (row < 0 || row >= LineCount())
    return;
  LineEntry *entry = m_lines[row].get();

  std::vector<CheckoutCall> calls;
  if (!CollectUnsettledCalls(entry->machineId, entry->lineId, &calls)) {
    // Not "nothing to pay": the calls could not be read, and the button
    // keeps saying so.
    ShowMessage(this, QStringLiteral("无法读取通话记录"), QStringLiteral("错误"));
    return;
  }
  if (calls.empty()) {
    entry->unsettled = false;
    SetBillButton(row, false);
    entry->unsettledAmount.reset();
    ShowAmounts(row);
    return;
  }

  TBillForm *dialog = Forms.BillForm;
  dialog->BillTable->clear();
  Cents total = 0;
  bool unpriced = false;
  for (const CheckoutCall &call : calls) {
    auto *item = new QTreeWidgetItem(dialog->BillTable);
    item->setText(0, EngineText(call.cdr.desnum));
    item->setText(1, EngineText(call.cdr.bdate));
    if (call.bill) {
      item->setText(2, DurationText(call.bill->m_calltime));
      // Rounded to the fen once: the total is the sum of the amounts shown.
      const Cents amount = CentsOf(call.bill->m_count);
      item->setText(3, AmountText(amount));
      total += amount;
    } else {
      // Shown, so the customer sees every call, but neither counted nor
      // settled: it waits for a rate that prices it.
      item->setText(3, QStringLiteral("无法计费"));
      unpriced = true;
    }
  }
  dialog->TotalAmout->setText(AmountText(total));
  dialog->SetTotal(total);
  const Cents deposit = DepositOf(row).value_or(0);
  dialog->SetDeposit(deposit);
  // Read now, so that the receipt and the denial follow the settings of the
  // moment, also when they were written by hand.
  ShopInfo shop;
  ReadShopInfo(StationFile(SHOPINFO_FILE), &shop);
  dialog->SetReceipt(ReceiptOf(shop, entry->name, m_operator, calls));
  if (unpriced)
    ShowMessage(this, QStringLiteral("有通话无法计费，请检查费率设置"), QStringLiteral("错误"));

  if (ShowModal(dialog) != QDialog::Accepted)
    return;  // nothing stored; the button keeps its look

  const QByteArray operatorName = OperatorForBill(m_operator);
  QStringList noBill, notMarked;
  Cents unsavedAmount = 0;
  QString recordFailure;
  for (const CheckoutCall &call : calls) {
    if (!call.bill)
      continue;
    // The shift counts what its bills show; a call whose bill could not be
    // stored is still to be settled, and counts when it is. A stored bill
    // counts even when its call could not be marked: the shift history sums
    // the bills, and the call's next checkout only marks it.
    const Settled settled = SettleCall(entry->machineId, entry->lineId, *call.bill, operatorName);
    if (settled == Settled::NoBill) {
      noBill << CallLine(call);
      unsavedAmount += CentsOf(call.bill->m_count);
      continue;
    }
    if (settled == Settled::NotMarked)
      notMarked << CallLine(call);
    // The record follows every stored bill, so that a crash in the middle
    // leaves the shift holding exactly the bills stored so far.
    m_shiftTotal += CentsOf(call.bill->m_count);
    QString reason;
    recordFailure = StoreShiftRecord(&reason) ? QString() : reason;
  }
  // The trail keeps the figures the customer was shown, and what of them was
  // actually settled.
  CheckoutFigures figures;
  figures.due = total;
  figures.deposit = deposit;
  figures.paid = ParseMoney(dialog->Money->text()).value_or(0);
  for (const CheckoutCall &call : calls)
    figures.calls += call.bill ? 1 : 0;
  figures.unsaved = static_cast<int>(noBill.size());
  figures.unsavedAmount = unsavedAmount;
  figures.unmarked = static_cast<int>(notMarked.size());
  Audit(AUDIT_CHECKOUT, CheckoutDetail(entry->name, figures));
  if (!noBill.isEmpty() || !notMarked.isEmpty())
    ShowMessage(this, SettleFailureText(noBill, notMarked), QStringLiteral("错误"));
  if (!recordFailure.isEmpty())
    ShowShiftRecordFailure(recordFailure);
  UpdateStatusBar();
  // The rows stay put while the dialog is open, but the entry is what counts.
  row = FindLine(entry->machineId, entry->lineId);
  // The deposit went into this settlement: what it left was handed back.
  if (deposit > 0)
    ClearDeposit(row);
  // The customer has paid and goes: the line makes no calls until the
  // operator lets the next one in (a command that cannot be sent is told,
  // as from the line's menu).
  if (shop.denyAfterCheckout)
    DenyLine(row, QStringLiteral("（结帐后）"));

  // Calls that ended while the dialog was open were not part of it.
  entry->unsettled = HasUnsettledCalls(*entry);
  SetBillButton(row, entry->unsettled);
  RefreshAmountDue(row);
}

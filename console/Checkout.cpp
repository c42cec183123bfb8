/* The checkout of one line: its unsettled calls priced in the checkout dialog
 * (with the receipt the dialog can print), and on the operator's OK, call by
 * call, the bill stored, the call marked settled, its money added to the
 * shift and the shift record rewritten; a deposit of the line counts as
 * paid and is handed back; then, when the shop wants it, the line denied
 * until the next customer is let in. */
#include "MainFrm.h"

#include <QLabel>
#include <QLineEdit>
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
                               call.bill->m_calltime, call.bill->m_count});
  }
  return receipt;
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
  float total = 0;
  bool unpriced = false;
  std::vector<bill_info> bills;
  for (const CheckoutCall &call : calls) {
    auto *item = new QTreeWidgetItem(dialog->BillTable);
    item->setText(0, EngineText(call.cdr.desnum));
    item->setText(1, EngineText(call.cdr.bdate));
    if (call.bill) {
      item->setText(2, DurationText(call.bill->m_calltime));
      item->setText(3, AmountText(call.bill->m_count));
      total += call.bill->m_count;
      bills.push_back(*call.bill);
    } else {
      // Shown, so the customer sees every call, but neither counted nor
      // settled: it waits for a rate that prices it.
      item->setText(3, QStringLiteral("无法计费"));
      unpriced = true;
    }
  }
  dialog->TotalAmout->setText(AmountText(total));
  dialog->SetTotal(total);
  const float deposit = DepositOf(row).value_or(0.0f);
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
  bool unstored = false;
  QString recordFailure;
  for (const bill_info &bill : bills) {
    // The shift counts what its bills show; a call whose bill could not be
    // stored is still to be settled, and counts when it is.
    if (!SettleCall(entry->machineId, entry->lineId, bill, operatorName)) {
      unstored = true;
      continue;
    }
    // The record follows every stored bill, so that a crash in the middle
    // leaves the shift holding exactly the bills stored so far.
    m_shiftTotal += bill.m_count;
    QString reason;
    recordFailure = StoreShiftRecord(&reason) ? QString() : reason;
  }
  // The trail keeps the figures as the dialog showed them to the customer.
  Audit(AUDIT_CHECKOUT,
        CheckoutDetail(entry->name, static_cast<int>(bills.size()), dialog->TotalAmout->text(),
                       deposit > 0 ? dialog->DepositAmount->text() : QString(), dialog->Money->text(),
                       dialog->ChangeCaption->text().remove(QStringLiteral("：")), dialog->Change->text()) +
            (unstored ? QStringLiteral("；有账单未能保存，相关通话仍未结帐") : QString()));
  if (unstored)
    ShowMessage(this, QStringLiteral("有账单未能保存，相关通话仍未结帐"), QStringLiteral("错误"));
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

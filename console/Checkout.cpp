/* The checkout of one line: its unsettled calls priced in the checkout
 * dialog, and on the operator's OK one checkout stored by the engine in one
 * transaction (the bills, the calls' settled flags and the checkout record
 * with its running number: all of it or nothing), what the customer settled
 * added to the shift and the shift record rewritten; a deposit of the line
 * counts as paid and is handed back; the receipt, when asked for, printed
 * with the checkout's number; then, when the shop wants it, the line denied
 * until the next customer is let in. A checkout the engine refused settles
 * nothing, and the operator is told. */
#include "MainFrm.h"

#include <cstdio>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QStringList>
#include <QTreeWidget>

#include "quenta/quenta.h"

#include "Audit.h"
#include "BillFrm.h"
#include "BillText.h"
#include "Calls.h"
#include "CheckoutRecord.h"
#include "Forms.h"
#include "Modal.h"
#include "PriceDetail.h"
#include "Question.h"
#include "ReceiptDlg.h"
#include "ReceiptPrint.h"
#include "ShopInfo.h"

namespace {

/* How the call's amount came about, under the name of the rule whose price
 * the engine froze for it (looking the call up froze it). */
QString BreakdownOf(const CheckoutCall &call)
{
  if (!call.bill)
    return QString();
  return CallBreakdown(QByteArray(call.cdr.callid, qstrnlen(call.cdr.callid, sizeof call.cdr.callid)),
                       QByteArray(call.bill->m_period_record,
                                  qstrnlen(call.bill->m_period_record, sizeof call.bill->m_period_record)),
                       CentsOf(call.bill->m_count));
}

/* The shop's heading and the line, operator and calls of the receipt (each
 * with its breakdown, which the receipt keeps only when asked for). */
Receipt ReceiptOf(const ShopInfo &shop, const QString &lineName, const QString &operatorName,
                  const std::vector<CheckoutCall> &calls)
{
  Receipt receipt = ShopReceipt(shop, lineName, operatorName);
  for (const CheckoutCall &call : calls) {
    // Only what is settled is on it: an unpriced call stays to be paid.
    if (call.bill)
      receipt.calls.push_back({EngineText(call.cdr.desnum), EngineText(call.cdr.bdate),
                               call.bill->m_calltime, CentsOf(call.bill->m_count), BreakdownOf(call)});
  }
  return receipt;
}

/* What the dialog says of a call still going on at the checkout. */
QString CallInProgressText(const LineEntry &entry)
{
  if (!entry.runningCost)
    return QString();
  return QStringLiteral("这条线路正在通话中，本次话费到现在为%1。这个通话还没有结束，不在这次结帐之内，"
                        "挂机后再结帐。")
      .arg(entry.runningText.isEmpty() ? AmountText(*entry.runningCost) : entry.runningText);
}

/* What the operator is told of a checkout the engine did not store. */
QString CheckoutFailureText(int result)
{
  if (result == QUENTA_CHECKOUT_STALE)
    return QStringLiteral("结帐没有保存：其中有通话已经在别处结帐了。这次什么都没有结帐，"
                          "也没有计入本班收入，请重新结帐。");
  return QStringLiteral("结帐没有保存（数据库出错，详见 app.log）。这次什么都没有结帐，"
                        "也没有计入本班收入，请稍后重新结帐。");
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
      item->setData(0, BILL_BREAKDOWN_ROLE, BreakdownOf(call));
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

  dialog->SetLine(entry->name, CallInProgressText(*entry));
  if (ShowModal(dialog) != QDialog::Accepted)
    return;  // nothing stored; the button keeps its look

  const CheckoutMoney money = dialog->Outcome();
  checkout_info co{};
  const QByteArray operatorName = OperatorForBill(m_operator);
  std::snprintf(co.m_admin, sizeof co.m_admin, "%s", operatorName.constData());
  std::snprintf(co.m_machineid, sizeof co.m_machineid, "%s", entry->machineId.constData());
  co.m_lineid = entry->lineId;
  co.m_due = total;
  co.m_deposit = deposit;
  co.m_paid = dialog->Paid();
  co.m_change = money.change;
  co.m_owed = money.owed;
  const int stored = StoreCheckout(&co, calls);

  // The trail keeps the figures the customer was shown, and whether they
  // were settled.
  CheckoutFigures figures;
  figures.due = total;
  figures.deposit = deposit;
  figures.paid = dialog->Paid();
  for (const CheckoutCall &call : calls)
    figures.calls += call.bill ? 1 : 0;
  if (stored != 0) {
    figures.unsaved = figures.calls;
    figures.unsavedAmount = total;
    Audit(AUDIT_CHECKOUT, CheckoutDetail(entry->name, figures));
    ShowMessage(this, CheckoutFailureText(stored), QStringLiteral("错误"));
    // Whatever settled the calls meanwhile, the row shows what is left.
    row = FindLine(entry->machineId, entry->lineId);
    entry->unsettled = HasUnsettledCalls(*entry);
    SetBillButton(row, entry->unsettled);
    RefreshAmountDue(row);
    return;
  }
  Audit(AUDIT_CHECKOUT, CheckoutDetail(entry->name, figures));
  // The shift counts what the customer settled, as the checkout record has it.
  m_shiftTotal += co.m_due - co.m_owed;
  QString recordFailure;
  if (!StoreShiftRecord(&recordFailure))
    ShowShiftRecordFailure(recordFailure);
  UpdateStatusBar();

  if (dialog->PrintWanted()) {
    Receipt receipt = dialog->ReceiptCalls();
    receipt.number = co.m_number;
    const QDateTime when = QDateTime::fromString(QString::fromLatin1(co.m_date),
                                                 QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    receipt.time = when.isValid() ? when : QDateTime::currentDateTime();
    receipt.total = total;
    receipt.deposit = deposit;
    receipt.paid = co.m_paid;
    receipt.change = deposit + co.m_paid - total;
    if (!dialog->BreakdownOnReceipt->isChecked()) {
      for (ReceiptCall &call : receipt.calls)
        call.breakdown.clear();
    }
    if (PrintReceipt(this, receipt, StationFile(RECEIPT_DIR)))
      Forms.ReceiptDlg->Keep(receipt);
  }

  // The rows stay put while the dialog is open, but the entry is what counts.
  row = FindLine(entry->machineId, entry->lineId);
  // The deposit went into this settlement: what it left was handed back.
  if (deposit > 0)
    ClearDeposit(row);
  // The customer has paid and goes: the line makes no calls until the
  // operator lets the next one in (a command that cannot be sent is told,
  // as from the line's menu). A call still going on is cut only when the
  // operator says so.
  if (shop.denyAfterCheckout &&
      (!entry->runningCost ||
       AskOperator(this,
                   QStringLiteral("线路“%1”还在通话中，现在禁止呼叫会立即挂断这个通话。\n要禁止呼叫吗？")
                       .arg(entry->name),
                   QStringLiteral("禁止呼叫"), QStringLiteral("挂断并禁止"), QStringLiteral("不禁止"))))
    DenyLine(row, QStringLiteral("（结帐后）"));

  // Calls that ended while the dialog was open were not part of it.
  entry->unsettled = HasUnsettledCalls(*entry);
  SetBillButton(row, entry->unsettled);
  RefreshAmountDue(row);
}

/* The checkout dialog of one line (what is settled and how is
 * LineCheckout.h): its unsettled calls priced in the checkout dialog, and on the operator's OK one checkout stored by the engine in one
 * transaction (the bills, the calls' settled flags and the checkout record
 * with its running number: all of it or nothing), what the customer settled
 * added to the shift and the shift record rewritten; a deposit of the line
 * counts as paid and is handed back; the receipt, when asked for, printed
 * with the checkout's number; then, when the shop wants it, the line denied
 * until the next customer is let in. A checkout the engine refused settles
 * nothing, and the operator is told. */
#include "MainFrm.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QTreeWidget>

#include "Audit.h"
#include "BillFrm.h"
#include "BillText.h"
#include "Forms.h"
#include "Modal.h"
#include "Question.h"
#include "ReceiptDlg.h"
#include "ReceiptPrint.h"
#include "LineCheckout.h"
#include "ShopInfo.h"

namespace {

/* What the dialog says of a call still going on at the checkout. */
QString CallInProgressText(const LineEntry &entry)
{
  if (!entry.runningCost)
    return QString();
  return QStringLiteral("这条线路正在通话中，本次话费到现在为%1。这个通话还没有结束，不在这次结帐之内，"
                        "挂机后再结帐。")
      .arg(entry.runningText.isEmpty() ? AmountText(*entry.runningCost) : entry.runningText);
}

}  // namespace

void TMainForm::Checkout(int row)
{
  const LineEntry *line = m_lines->Line(row);
  if (!line)
    return;
  // The rows may move and grow while the dialog is open: the line is known
  // by its ids, and its row looked up again afterwards.
  const LineEntry entry = *line;

  LineCheckout checkout;
  if (!GatherLineCheckout(entry.machineId, entry.lineId, m_lines->DepositOf(row).value_or(0), &checkout)) {
    // Not "nothing to pay": the calls could not be read, and the button
    // keeps saying so.
    ShowMessage(this, QStringLiteral("无法读取通话记录"), QStringLiteral("错误"));
    return;
  }
  if (checkout.calls.empty()) {
    m_lines->MarkSettled(row);
    return;
  }

  TBillForm *dialog = Forms.BillForm;
  dialog->BillTable->clear();
  for (const CheckoutCall &call : checkout.calls) {
    auto *item = new QTreeWidgetItem(dialog->BillTable);
    item->setText(0, EngineText(call.cdr.desnum));
    item->setText(1, EngineText(call.cdr.bdate));
    if (call.bill) {
      item->setText(2, DurationText(call.bill->m_calltime));
      // Rounded to the fen once: the total is the sum of the amounts shown.
      item->setText(3, AmountText(CentsOf(call.bill->m_count)));
      item->setData(0, BILL_BREAKDOWN_ROLE, BreakdownOf(call));
    } else {
      // Shown, so the customer sees every call, but neither counted nor
      // settled: it waits for a rate that prices it.
      item->setText(3, QStringLiteral("无法计费"));
    }
  }
  const Cents total = checkout.total;
  const Cents deposit = checkout.deposit;
  dialog->TotalAmout->setText(AmountText(total));
  dialog->SetTotal(total);
  dialog->SetDeposit(deposit);
  // Read now, so that the receipt and the denial follow the settings of the
  // moment, also when they were written by hand.
  ShopInfo shop;
  ReadShopInfo(StationFile(SHOPINFO_FILE), &shop);
  dialog->SetReceipt(ReceiptOf(shop, entry.name, OperatorName(), checkout.calls));
  if (checkout.unpriced)
    ShowMessage(this, QStringLiteral("有通话无法计费，请检查费率设置"), QStringLiteral("错误"));

  dialog->SetLine(entry.name, CallInProgressText(entry));
  if (ShowModal(dialog) != QDialog::Accepted)
    return;  // nothing stored; the button keeps its look

  checkout_info co;
  const int stored = StoreLineCheckout(checkout, OperatorName(), dialog->Paid(), dialog->Outcome(), &co);
  Audit(AUDIT_CHECKOUT, CheckoutDetail(entry.name, FiguresOf(checkout, dialog->Paid(), stored == 0)));
  if (stored != 0) {
    ShowMessage(this, CheckoutFailureText(stored), QStringLiteral("错误"));
    // Whatever settled the calls meanwhile, the row shows what is left.
    row = m_lines->FindLine(entry.machineId, entry.lineId);
    if (row >= 0)
      m_lines->RefreshUnsettled(row);
    return;
  }
  // The shift counts what the customer settled, as the checkout record has it.
  m_shiftTotal += SettledAmount(co);
  QString recordFailure;
  if (!StoreShiftRecord(&recordFailure))
    ShowShiftRecordFailure(recordFailure);
  UpdateStatusBar();

  if (dialog->PrintWanted()) {
    const Receipt receipt =
        StoredReceipt(dialog->ReceiptCalls(), checkout, co, dialog->BreakdownOnReceipt->isChecked());
    if (PrintReceipt(this, receipt, StationFile(RECEIPT_DIR)))
      Forms.ReceiptDlg->Keep(receipt);
  }

  row = m_lines->FindLine(entry.machineId, entry.lineId);
  if (row < 0)
    return;
  // The deposit went into this settlement: what it left was handed back.
  if (deposit > 0)
    ClearDeposit(row);
  // The customer has paid and goes: the line makes no calls until the
  // operator lets the next one in (a command that cannot be sent is told,
  // as from the line's menu). A call still going on is cut only when the
  // operator says so.
  if (shop.denyAfterCheckout &&
      (!m_lines->Line(row)->runningCost ||
       AskOperator(
           this, QStringLiteral("线路“%1”还在通话中，现在禁止呼叫会立即挂断这个通话。\n要禁止呼叫吗？").arg(entry.name),
           QStringLiteral("禁止呼叫"), QStringLiteral("挂断并禁止"), QStringLiteral("不禁止")))) {
    row = m_lines->FindLine(entry.machineId, entry.lineId);
    DenyLine(row, QStringLiteral("（结帐后）"));
  }

  // Calls that ended while the dialog was open were not part of it.
  row = m_lines->FindLine(entry.machineId, entry.lineId);
  if (row >= 0)
    m_lines->RefreshUnsettled(row);
}

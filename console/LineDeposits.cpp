/* The deposits of the line monitor: "收押金" and "退押金" in the pop-up menu,
 * the file that keeps them across restarts, and the watch at every poll that
 * warns when a line has used most of its deposit and denies it once the
 * deposit is used up. The checkout counts a deposit as paid (Checkout.cpp). */
#include "MainFrm.h"

#include <QApplication>
#include <QTreeWidget>

#include "Audit.h"
#include "BillText.h"
#include "DepositDlg.h"
#include "Forms.h"
#include "Modal.h"
#include "SaveFile.h"

std::optional<Cents> TMainForm::DepositOf(int row) const
{
  const LineEntry *entry = Line(row);
  if (!entry)
    return std::nullopt;
  const qsizetype i = FindDeposit(m_deposits, entry->machineId, entry->lineId);
  if (i < 0)
    return std::nullopt;
  return m_deposits[i].amount;
}

void TMainForm::AddDeposit(int row, Cents amount)
{
  LineEntry &entry = *m_lines[row];
  const qsizetype i = FindDeposit(m_deposits, entry.machineId, entry.lineId);
  if (i < 0)
    m_deposits.append({entry.machineId, entry.lineId, amount});
  else
    m_deposits[i].amount += amount;
  // More money is a deposit afresh: its thresholds are crossed anew, and
  // the row shows it at once.
  entry.depositLevel = DEPOSIT_NONE;
  StoreDeposits(QStringLiteral("押金已记在程序里，但程序重新启动后会丢失。"));
  WatchDeposit(row);
}

void TMainForm::ClearDeposit(int row)
{
  const LineEntry &entry = *m_lines[row];
  const qsizetype i = FindDeposit(m_deposits, entry.machineId, entry.lineId);
  if (i < 0)
    return;
  m_deposits.removeAt(i);
  StoreDeposits(QStringLiteral("押金已从程序里清除，但程序重新启动后会重新出现。"));
  WatchDeposit(row);
}

void TMainForm::StoreDeposits(const QString &consequence)
{
  QString reason;
  if (WriteDeposits(StationFile(DEPOSITS_FILE), m_deposits, &reason))
    return;
  qWarning("cannot write the deposits %s", qPrintable(StationFile(DEPOSITS_FILE)));
  ShowSaveFailure(this, DEPOSITS_FILE, reason, consequence);
}

void TMainForm::LoadDeposits()
{
  QString reason;
  if (!ReadDeposits(StationFile(DEPOSITS_FILE), &m_deposits, &reason)) {
    qWarning("cannot read the deposits %s", qPrintable(StationFile(DEPOSITS_FILE)));
    ShowMessage(this,
                QStringLiteral("无法读取文件 %1：%2\n记下的押金没有读出，请核对后重新启动程序。")
                    .arg(QLatin1String(DEPOSITS_FILE), reason),
                QStringLiteral("错误"));
  }
  for (int row = 0; row < LineCount(); row++)
    WatchDeposit(row);
}

void TMainForm::WatchDeposit(int row)
{
  LineEntry &entry = *m_lines[row];
  DepositCheck check = CheckDeposit(entry.depositLevel, DepositOf(row).value_or(0),
                                    AmountDue(entry.unsettledAmount, entry.runningCost));
  // A line the engine has not reported since the start has no address to
  // deny (a deposit read at login): it waits, warned, for the poll that does.
  if (check.deny && entry.shownState == LINE_NOT_SHOWN)
    check = {DEPOSIT_LOW, check.beep, false};
  if (check.level == entry.depositLevel)
    return;
  // The level first: a denial that cannot be sent is told in a message box,
  // and the polls that run meanwhile find the line handled.
  entry.depositLevel = check.level;
  TintRow(row);
  ShowAmounts(row);
  if (check.beep)
    QApplication::beep();
  if (check.deny)
    DenyLine(row, QStringLiteral("（押金用完）"));
}

void TMainForm::LineDepositClick()
{
  const int row = SelectedLine();
  if (row < 0)
    return;
  TDepositDlg *dlg = Forms.DepositDlg;
  dlg->AskDeposit(m_lines[row]->name, DepositOf(row).value_or(0));
  for (;;) {
    if (ShowModal(dlg) != QDialog::Accepted)
      return;
    if (const std::optional<Cents> amount = dlg->TypedAmount()) {
      AddDeposit(row, *amount);
      Audit(AUDIT_DEPOSIT, QStringLiteral("线路“%1”收%2，押金共%3")
                               .arg(m_lines[row]->name, AmountText(*amount),
                                    AmountText(DepositOf(row).value_or(0))));
      return;
    }
    ShowMessage(dlg, QStringLiteral("请输入押金金额（0.01元至%1元）").arg(CentsText(DEPOSIT_MAX * 100 - 1)),
                QStringLiteral("错误"));
  }
}

void TMainForm::LineRefundClick()
{
  const int row = SelectedLine();
  const std::optional<Cents> deposit = DepositOf(row);
  if (!deposit)
    return;
  const LineEntry &entry = *m_lines[row];
  TDepositDlg *dlg = Forms.DepositDlg;
  dlg->AskRefund(entry.name, *deposit, AmountDue(entry.unsettledAmount, entry.runningCost));
  if (ShowModal(dlg) == QDialog::Accepted) {
    ClearDeposit(row);
    Audit(AUDIT_REFUND, QStringLiteral("线路“%1”退还押金%2").arg(entry.name, AmountText(*deposit)));
  }
}

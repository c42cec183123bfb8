/* The deposits of the line monitor: "收押金" and "退押金" in the pop-up menu,
 * the file that keeps them across restarts, and the watch at every poll that
 * beeps when a line has used most of its deposit and denies it once the
 * deposit is used up (the line table keeps the deposits and the levels). The
 * checkout counts a deposit as paid (Checkout.cpp). */
#include "MainFrm.h"

#include <QApplication>

#include "Audit.h"
#include "BillText.h"
#include "DepositDlg.h"
#include "Forms.h"
#include "Modal.h"
#include "SaveFile.h"

void TMainForm::AddDeposit(int row, Cents amount)
{
  if (!m_lines->Line(row))
    return;
  m_lines->AddDeposit(row, amount);
  StoreDeposits(QStringLiteral("押金已记在程序里，但程序重新启动后会丢失。"));
  WatchDeposit(row);
}

void TMainForm::ClearDeposit(int row)
{
  if (!m_lines->DepositOf(row))
    return;
  m_lines->ClearDeposit(row);
  StoreDeposits(QStringLiteral("押金已从程序里清除，但程序重新启动后会重新出现。"));
  WatchDeposit(row);
}

void TMainForm::StoreDeposits(const QString &consequence)
{
  QString reason;
  if (m_lines->SaveDeposits(StationFile(DEPOSITS_FILE), &reason))
    return;
  qWarning("cannot write the deposits %s", qPrintable(StationFile(DEPOSITS_FILE)));
  ShowSaveFailure(this, DEPOSITS_FILE, reason, consequence);
}

void TMainForm::LoadDeposits()
{
  QString reason;
  if (!m_lines->LoadDeposits(StationFile(DEPOSITS_FILE), &reason)) {
    qWarning("cannot read the deposits %s", qPrintable(StationFile(DEPOSITS_FILE)));
    ShowMessage(this,
                QStringLiteral("无法读取文件 %1：%2\n记下的押金没有读出，请核对后重新启动程序。")
                    .arg(QLatin1String(DEPOSITS_FILE), reason),
                QStringLiteral("错误"));
  }
  for (int row = 0; row < m_lines->LineCount(); row++)
    WatchDeposit(row);
}

void TMainForm::WatchDeposit(int row)
{
  // The table takes the level first: a denial that cannot be sent is told in
  // a message box, and the polls that run meanwhile find the line handled.
  const DepositCheck check = m_lines->WatchDeposit(row);
  if (check.beep)
    QApplication::beep();
  if (check.deny)
    DenyLine(row, QStringLiteral("（押金用完）"));
}

void TMainForm::TakeDeposit(int row)
{
  const LineEntry *entry = m_lines->Line(row);
  if (!entry)
    return;
  TDepositDlg *dlg = Forms.DepositDlg;
  dlg->AskDeposit(entry->name, m_lines->DepositOf(row).value_or(0));
  for (;;) {
    if (ShowModal(dlg) != QDialog::Accepted)
      return;
    if (const std::optional<Cents> amount = dlg->TypedAmount()) {
      AddDeposit(row, *amount);
      Audit(AUDIT_DEPOSIT,
            QStringLiteral("线路“%1”收%2，押金共%3")
                .arg(m_lines->Line(row)->name, AmountText(*amount), AmountText(m_lines->DepositOf(row).value_or(0))));
      return;
    }
    ShowMessage(dlg, QStringLiteral("请输入押金金额（0.01元至%1元）").arg(CentsText(DEPOSIT_MAX * 100 - 1)),
                QStringLiteral("错误"));
  }
}

void TMainForm::RefundDeposit(int row)
{
  const std::optional<Cents> deposit = m_lines->DepositOf(row);
  if (!deposit)
    return;
  const LineEntry &entry = *m_lines->Line(row);
  const QString name = entry.name;
  TDepositDlg *dlg = Forms.DepositDlg;
  dlg->AskRefund(name, *deposit, AmountDue(entry.unsettledAmount, entry.runningCost));
  if (ShowModal(dlg) == QDialog::Accepted) {
    ClearDeposit(row);
    Audit(AUDIT_REFUND, QStringLiteral("线路“%1”退还押金%2").arg(name, AmountText(*deposit)));
  }
}

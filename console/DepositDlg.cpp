/* The deposit dialog: taking a deposit and handing one back. */
#include "DepositDlg.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include "BillText.h"
#include "MoneyField.h"

TDepositDlg::TDepositDlg(QWidget *parent) : QDialog(parent)
{
  setObjectName(QStringLiteral("DepositDlg"));
  setWindowTitle(QStringLiteral("收押金"));

  Question = new QLabel(this);
  Question->setObjectName(QStringLiteral("Question"));
  MoneyCaption = new QLabel(this);
  MoneyCaption->setObjectName(QStringLiteral("MoneyCaption"));
  Money = MoneyField(this, "Money");
  // The amount is read out to the customer: large figures, as at the checkout.
  QFont big = font();
  big.setPointSize(big.pointSize() + 6);
  big.setBold(true);
  Money->setFont(big);
  OKBtn = new QPushButton(QStringLiteral("确定"), this);
  OKBtn->setObjectName(QStringLiteral("OKBtn"));
  OKBtn->setDefault(true);
  CancelBtn = new QPushButton(QStringLiteral("取消"), this);
  CancelBtn->setObjectName(QStringLiteral("CancelBtn"));

  auto *field = new QGridLayout;
  field->addWidget(MoneyCaption, 0, 0, Qt::AlignRight);
  field->addWidget(Money, 0, 1);
  field->setColumnMinimumWidth(1, 180);
  auto *buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(OKBtn);
  buttons->addWidget(CancelBtn);
  auto *layout = new QVBoxLayout(this);
  layout->addWidget(Question);
  layout->addSpacing(8);
  layout->addLayout(field);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  connect(OKBtn, &QPushButton::clicked, this, &QDialog::accept);
  connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
}

void TDepositDlg::AskDeposit(const QString &lineName, Cents held)
{
  setWindowTitle(QStringLiteral("收押金"));
  QString question = QStringLiteral("线路：%1").arg(lineName);
  if (held > 0)
    question += QStringLiteral("\n已收押金：%1，再收的金额会加在一起。").arg(AmountText(held));
  Question->setText(question);
  MoneyCaption->setText(held > 0 ? QStringLiteral("再收押金：") : QStringLiteral("押金金额："));
  MoneyCaption->show();
  Money->show();
  OKBtn->setText(QStringLiteral("确定"));
}

void TDepositDlg::AskRefund(const QString &lineName, Cents deposit, Cents due)
{
  setWindowTitle(QStringLiteral("退押金"));
  QString question = QStringLiteral("确定退还线路“%1”的押金吗？\n请退还顾客：%2").arg(lineName, AmountText(deposit));
  // The whole deposit goes back: what the calls cost is settled by a checkout.
  if (due > 0)
    question += QStringLiteral("\n这条线路还有%1话费未结帐，退押金后仍要结帐。").arg(AmountText(due));
  Question->setText(question);
  MoneyCaption->hide();
  Money->hide();
  OKBtn->setText(QStringLiteral("退还"));
}

std::optional<Cents> TDepositDlg::TypedAmount() const
{
  // Fen are what counts: 0.001 is no deposit.
  const std::optional<Cents> amount = ParseMoney(Money->text());
  if (!amount || *amount <= 0 || *amount >= Cents(DEPOSIT_MAX) * 100)
    return std::nullopt;
  return amount;
}

void TDepositDlg::showEvent(QShowEvent *event)
{
  QDialog::showEvent(event);
  if (event->spontaneous() || Money->isHidden())
    return;
  Money->clear();
  Money->setFocus();
}

/* The checkout dialog: its table, the total and the deposit, the money
 * field, the change (or what a deposit leaves to hand back or to pay) that
 * follows every change of the money typed, and the receipt printed from it. */
#include "BillFrm.h"

#include <QDateTime>
#include <QDir>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "BillText.h"
#include "MoneyField.h"
#include "ReceiptPrint.h"

namespace {

const int kBillColumnWidths[BILL_COLUMNS] = {160, 240, 105, 100};

} // namespace

TBillForm::TBillForm(QWidget *parent)
  : QDialog(parent), m_receiptDir(QDir::current().filePath(QStringLiteral(RECEIPT_DIR)))
{
  setObjectName(QStringLiteral("BillForm"));
  setWindowTitle(QStringLiteral("结帐"));
  resize(640, 420);

  BillTable = new QTreeWidget(this);
  BillTable->setObjectName(QStringLiteral("BillTable"));
  BillTable->setColumnCount(BILL_COLUMNS);
  BillTable->setHeaderLabels({QStringLiteral("号码"), QStringLiteral("起始时间"),
                              QStringLiteral("通话时长"), QStringLiteral("金额")});
  BillTable->setRootIsDecorated(false);
  BillTable->header()->setStretchLastSection(false);
  BillTable->setUniformRowHeights(true);
  BillTable->setAllColumnsShowFocus(true);
  BillTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
  BillTable->setSelectionMode(QAbstractItemView::NoSelection);
  BillTable->setFocusPolicy(Qt::NoFocus);
  BillTable->setStyleSheet(QStringLiteral(
      "QTreeView::item { border-right: 1px solid palette(midlight);"
      " border-bottom: 1px solid palette(midlight); }"));

  // The amounts are read out to the customer: large figures.
  QFont big = font();
  big.setPointSize(big.pointSize() + 6);
  big.setBold(true);
  TotalAmout = new QLabel(this);
  TotalAmout->setObjectName(QStringLiteral("TotalAmout"));
  TotalAmout->setFont(big);
  DepositAmount = new QLabel(this);
  DepositAmount->setObjectName(QStringLiteral("DepositAmount"));
  DepositAmount->setFont(big);
  Money = MoneyField(this, "Money");
  Money->setFont(big);
  Change = new QLabel(this);
  Change->setObjectName(QStringLiteral("Change"));
  Change->setFont(big);
  OKBtn = new QPushButton(QStringLiteral("结帐"), this);
  OKBtn->setObjectName(QStringLiteral("OKBtn"));
  OKBtn->setDefault(true);
  CancelBtn = new QPushButton(QStringLiteral("取消"), this);
  CancelBtn->setObjectName(QStringLiteral("CancelBtn"));
  PrintBtn = new QPushButton(QStringLiteral("打印小票"), this);
  PrintBtn->setObjectName(QStringLiteral("PrintBtn"));
  // Enter in the money field settles; printing takes a click of its own.
  PrintBtn->setAutoDefault(false);

  auto *amounts = new QGridLayout;
  DepositCaption = new QLabel(QStringLiteral("押金："), this);
  DepositCaption->setObjectName(QStringLiteral("DepositCaption"));
  MoneyCaption = new QLabel(this);
  MoneyCaption->setObjectName(QStringLiteral("MoneyCaption"));
  ChangeCaption = new QLabel(this);
  ChangeCaption->setObjectName(QStringLiteral("ChangeCaption"));
  amounts->addWidget(new QLabel(QStringLiteral("应付金额："), this), 0, 0, Qt::AlignRight);
  amounts->addWidget(TotalAmout, 0, 1);
  amounts->addWidget(DepositCaption, 1, 0, Qt::AlignRight);
  amounts->addWidget(DepositAmount, 1, 1);
  amounts->addWidget(MoneyCaption, 2, 0, Qt::AlignRight);
  amounts->addWidget(Money, 2, 1);
  amounts->addWidget(ChangeCaption, 3, 0, Qt::AlignRight);
  amounts->addWidget(Change, 3, 1);
  amounts->setColumnStretch(1, 1);
  auto *buttons = new QVBoxLayout;
  buttons->addStretch();
  buttons->addWidget(PrintBtn);
  buttons->addSpacing(12);
  buttons->addWidget(OKBtn);
  buttons->addWidget(CancelBtn);
  auto *bottom = new QHBoxLayout;
  bottom->addLayout(amounts, 1);
  bottom->addSpacing(24);
  bottom->addLayout(buttons);
  auto *layout = new QVBoxLayout(this);
  layout->addWidget(BillTable, 1);
  layout->addLayout(bottom);

  connect(OKBtn, &QPushButton::clicked, this, &QDialog::accept);
  connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
  connect(Money, &QLineEdit::textChanged, this, &TBillForm::MoneyChange);
  connect(PrintBtn, &QPushButton::clicked, this, &TBillForm::PrintBtnClick);
}

void TBillForm::showEvent(QShowEvent *event)
{
  QDialog::showEvent(event);
  if (!event->spontaneous())
    FormShow();
}

void TBillForm::FormShow()
{
  for (int i = 0; i < BILL_COLUMNS; i++)
    BillTable->setColumnWidth(i, kBillColumnWidths[i]);
  const bool deposit = m_deposit > 0;
  DepositCaption->setVisible(deposit);
  DepositAmount->setVisible(deposit);
  DepositAmount->setText(deposit ? AmountText(m_deposit) : QString());
  MoneyCaption->setText(deposit ? QStringLiteral("补交金额：") : QStringLiteral("已付金额："));
  ChangeCaption->setText(QStringLiteral("找零："));
  Money->setText(QStringLiteral("0.00"));
  Money->setFocus();
  // The first figure typed replaces the zero instead of joining it.
  Money->selectAll();
  Change->setText(QStringLiteral("0.00"));
  // With a deposit the customer may pay nothing more: what it leaves shows at once.
  if (deposit)
    MoneyChange();
}

void TBillForm::MoneyChange()
{
  if (m_deposit <= 0) {
    if (std::optional<QString> change = ChangeText(Money->text(), m_total))
      Change->setText(*change);
    return;
  }
  const std::optional<Cents> paid =
      Money->text().isEmpty() ? std::optional<Cents>(0) : ParseMoney(Money->text());
  if (!paid)
    return;  // a lone point: the last figures stand until a digit follows
  const Settlement settled = SettlementOf(m_total, m_deposit, *paid);
  ChangeCaption->setText(settled.caption + QStringLiteral("："));
  Change->setText(AmountText(settled.amount));
}

void TBillForm::PrintBtnClick()
{
  Receipt receipt = m_receipt;
  receipt.time = QDateTime::currentDateTime();
  receipt.total = m_total;
  // As the change shows it: nothing typed yet is nothing paid.
  receipt.paid = ParseMoney(Money->text()).value_or(0);
  receipt.deposit = qMax(m_deposit, Cents(0));
  receipt.change = receipt.deposit + receipt.paid - m_total;
  if (PrintReceipt(this, receipt, m_receiptDir))
    emit receiptPrinted(receipt);
}

/* The checkout dialog: its table, the total and the deposit, the money
 * field, the change (or what is still owed, or what a deposit leaves to hand
 * back or to pay) that follows every change of the money typed, and the
 * question asked before settling for less than is due. */
#include "BillFrm.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "BillText.h"
#include "Modal.h"
#include "MoneyField.h"
#include "Question.h"

namespace {

const int kBillColumnWidths[BILL_COLUMNS] = {160, 240, 105, 100};

}  // namespace

TBillForm::TBillForm(QWidget *parent) : QDialog(parent)
{
  setObjectName(QStringLiteral("BillForm"));
  setWindowTitle(QStringLiteral("结帐"));
  resize(640, 420);

  BillTable = new QTreeWidget(this);
  BillTable->setObjectName(QStringLiteral("BillTable"));
  BillTable->setColumnCount(BILL_COLUMNS);
  BillTable->setHeaderLabels(
      {QStringLiteral("号码"), QStringLiteral("起始时间"), QStringLiteral("通话时长"), QStringLiteral("金额")});
  BillTable->setRootIsDecorated(false);
  BillTable->header()->setStretchLastSection(false);
  BillTable->setUniformRowHeights(true);
  BillTable->setAllColumnsShowFocus(true);
  BillTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
  // A call is chosen to show its breakdown; the keyboard stays in the money field.
  BillTable->setSelectionMode(QAbstractItemView::SingleSelection);
  BillTable->setFocusPolicy(Qt::NoFocus);
  BillTable->setStyleSheet(QStringLiteral("QTreeView::item { border-right: 1px solid palette(midlight);"
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
  PrintBtn = new QPushButton(QStringLiteral("结帐并打印"), this);
  PrintBtn->setObjectName(QStringLiteral("PrintBtn"));
  // Enter in the money field settles; printing takes a click of its own.
  PrintBtn->setAutoDefault(false);
  DetailBtn = new QPushButton(QStringLiteral("计费明细"), this);
  DetailBtn->setObjectName(QStringLiteral("DetailBtn"));
  DetailBtn->setAutoDefault(false);
  BreakdownOnReceipt = new QCheckBox(QStringLiteral("小票附计费明细"), this);
  BreakdownOnReceipt->setObjectName(QStringLiteral("BreakdownOnReceipt"));
  CallInProgress = new QLabel(this);
  CallInProgress->setObjectName(QStringLiteral("CallInProgress"));
  CallInProgress->setWordWrap(true);
  CallInProgress->setStyleSheet(QStringLiteral("color: #c00000;"));
  CallInProgress->hide();

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
  buttons->addWidget(DetailBtn);
  buttons->addStretch();
  buttons->addWidget(BreakdownOnReceipt);
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
  layout->addWidget(CallInProgress);
  layout->addLayout(bottom);

  connect(OKBtn, &QPushButton::clicked, this, &TBillForm::OKBtnClick);
  connect(PrintBtn, &QPushButton::clicked, this, &TBillForm::PrintBtnClick);
  connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
  connect(Money, &QLineEdit::textChanged, this, &TBillForm::MoneyChange);
  connect(Money, &QLineEdit::textEdited, this, &TBillForm::MoneyEdited);
  connect(DetailBtn, &QPushButton::clicked, this, &TBillForm::ShowBreakdown);
  connect(BillTable, &QTreeWidget::itemDoubleClicked, this, &TBillForm::BillTableDoubleClick);
}

void TBillForm::BillTableDoubleClick(QTreeWidgetItem *item)
{
  BillTable->setCurrentItem(item);
  ShowBreakdown();
}

void TBillForm::OKBtnClick()
{
  Settle(false);
}

void TBillForm::PrintBtnClick()
{
  Settle(true);
}

void TBillForm::MoneyEdited()
{
  m_typed = true;
}

void TBillForm::ShowBreakdown()
{
  const QTreeWidgetItem *item = BillTable->currentItem();
  if (!item && BillTable->topLevelItemCount() == 1)
    item = BillTable->topLevelItem(0);
  if (!item) {
    ShowMessage(this, QStringLiteral("请先在上面的列表中点选一个通话"), QStringLiteral("计费明细"),
                QMessageBox::Information);
    return;
  }
  const QString breakdown = item->data(0, BILL_BREAKDOWN_ROLE).toString();
  ShowMessage(this,
              QStringLiteral("号码：%1\n开始：%2\n时长：%3\n\n%4")
                  .arg(item->text(0), item->text(1), item->text(2),
                       breakdown.isEmpty() ? QStringLiteral("这个通话没有适用的费率，无法计费") : breakdown),
              QStringLiteral("计费明细"), QMessageBox::Information);
}

void TBillForm::SetLine(const QString &lineName, const QString &callInProgress)
{
  setWindowTitle(QStringLiteral("结帐 - %1").arg(lineName));
  CallInProgress->setText(callInProgress);
  CallInProgress->setVisible(!callInProgress.isEmpty());
}

void TBillForm::keyPressEvent(QKeyEvent *event)
{
  // The field shows 0.00 until the operator types: an Enter before that is
  // a habit, not a payment, and settles nothing.
  if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && !m_typed) {
    Money->setFocus();
    Money->selectAll();
    return;
  }
  QDialog::keyPressEvent(event);
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
  m_typed = false;
  m_paid = 0;
  m_settled = {0, 0};
  m_print = false;
  BreakdownOnReceipt->setChecked(false);
  BillTable->setCurrentItem(nullptr);
  Money->setFocus();
  // The first figure typed replaces the zero instead of joining it.
  Money->selectAll();
  // Nothing paid yet: what is due (or what a deposit leaves) shows at once.
  MoneyChange();
}

void TBillForm::MoneyChange()
{
  const std::optional<Cents> paid = Money->text().isEmpty() ? std::optional<Cents>(0) : ParseMoney(Money->text());
  if (!paid)
    return;  // a lone point: the last figures stand until a digit follows
  if (m_deposit <= 0) {
    // Too little is not a negative change: it is what the customer still owes.
    const bool short_ = *paid < m_total;
    ChangeCaption->setText(short_ ? QStringLiteral("还差：") : QStringLiteral("找零："));
    Change->setText(AmountText(short_ ? m_total - *paid : *paid - m_total));
    return;
  }
  const Settlement settled = SettlementOf(m_total, m_deposit, *paid);
  ChangeCaption->setText(settled.caption + QStringLiteral("："));
  Change->setText(AmountText(settled.amount));
}

void TBillForm::Settle(bool print)
{
  const std::optional<Cents> paid = Money->text().isEmpty() ? std::optional<Cents>(0) : ParseMoney(Money->text());
  if (!paid) {
    ShowMessage(this, QStringLiteral("请输入顾客付的金额"), QStringLiteral("结帐"));
    Money->setFocus();
    return;
  }
  const CheckoutMoney settled = CheckoutMoneyOf(m_total, qMax(m_deposit, Cents(0)), *paid);
  if (settled.owed > 0 &&
      !AskOperator(this, QStringLiteral("还差%1，确定结帐吗？\n结帐后差额记为顾客欠款。").arg(AmountText(settled.owed)),
                   QStringLiteral("结帐"), QStringLiteral("确定结帐"), QStringLiteral("继续收款"))) {
    Money->setFocus();
    Money->selectAll();
    return;
  }
  m_paid = *paid;
  m_settled = settled;
  m_print = print;
  accept();
}

/* The report's list of checkouts, their reprint and refund. */
#include "CheckoutsTab.h"

#include <QCheckBox>
#include <QDialog>
#include <QDir>
#include <QPrintDialog>
#include <QPrinter>
#include <QTextDocument>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "Audit.h"
#include "FieldDialog.h"
#include "Modal.h"
#include "MoneyField.h"
#include "Passwd.h"
#include "ReceiptPrint.h"
#include "StationState.h"

namespace {

const int kCheckoutWidths[CHECKOUT_COLUMNS] = {150, 60, 80, 120, 70, 70, 70, 70, 70, 70};
const int kFirstAmount = 4; /* the amounts' columns follow the texts */
const int kOwedColumn = 8;
const QColor kOwedText(190, 0, 0);
const int kNumberRole = Qt::UserRole;

QString AmountCell(Cents cents)
{
  return cents == 0 ? QString() : CentsText(cents);
}

/* The refund's amount and reason, asked of the administrator. */
struct RefundForm {
  QDialog dialog;
  QLabel *heading;
  QLineEdit *amount;
  QLineEdit *reason;
  QCheckBox *printSlip;

  explicit RefundForm(QWidget *parent) : dialog(parent)
  {
    dialog.setObjectName(QStringLiteral("RefundDlg"));
    dialog.setWindowTitle(QStringLiteral("退款"));
    heading = new QLabel(&dialog);
    heading->setObjectName(QStringLiteral("RefundTitle"));
    amount = MoneyField(&dialog, "RefundAmount");
    reason = new QLineEdit(&dialog);
    reason->setObjectName(QStringLiteral("RefundReason"));
    reason->setMaxLength(80);
    printSlip = new QCheckBox(QStringLiteral("打印退款单"), &dialog);
    printSlip->setObjectName(QStringLiteral("PrintSlip"));
    auto *top = new QWidget(&dialog);
    auto *topLayout = new QVBoxLayout(top);
    topLayout->setContentsMargins(0, 0, 0, 0);
    topLayout->addWidget(heading);
    topLayout->addWidget(printSlip);
    LayOutFieldDialog(&dialog, {{QStringLiteral("退款金额"), amount}, {QStringLiteral("退款原因"), reason}},
                      DialogButton(&dialog, QStringLiteral("确定"), "OKBtn", true),
                      DialogButton(&dialog, QStringLiteral("取消"), "Button1"), top);
  }
};

/* The slip to the printer, or into a PDF file beside the receipts on a
 * machine without one; the operator is told where it went or why not. */
void PrintRefundSlip(QWidget *parent, const QString &folder, const QString &html, const QDateTime &time)
{
  const QString caption = QStringLiteral("打印退款单");
  if (!HavePrinter()) {
    QString path, reason;
    if (WriteRefundSlipPdf(folder, html, time, &path, &reason))
      ShowMessage(parent,
                  QStringLiteral("没有可用的打印机，退款单已保存为 PDF 文件：\n%1").arg(QDir::toNativeSeparators(path)),
                  caption, QMessageBox::Information);
    else
      ShowMessage(parent, QStringLiteral("没有可用的打印机，退款单也无法保存为 PDF 文件：%1").arg(reason),
                  QStringLiteral("错误"), QMessageBox::Critical);
    return;
  }
  QPrinter printer(QPrinter::HighResolution);
  printer.setDocName(QStringLiteral("退款单"));
  QPrintDialog dialog(&printer, parent);
  dialog.setObjectName(QStringLiteral("PrintDialog"));
  dialog.setWindowTitle(caption);
  if (ShowModal(&dialog) != QDialog::Accepted)
    return;
  QTextDocument doc;
  doc.setHtml(html);
  doc.print(&printer);
}

}  // namespace

TCheckoutsTab::TCheckoutsTab(const StationState &station, QWidget *parent) : QWidget(parent), m_station(station)
{
  setObjectName(QStringLiteral("CheckoutsPage"));
  CheckoutTable = new QTreeWidget(this);
  CheckoutTable->setObjectName(QStringLiteral("CheckoutTable"));
  CheckoutTable->setColumnCount(CHECKOUT_COLUMNS);
  CheckoutTable->setHeaderLabels({QStringLiteral("时间"), QStringLiteral("单号"), QStringLiteral("操作员"),
                                  QStringLiteral("线路"), QStringLiteral("应收"), QStringLiteral("押金"),
                                  QStringLiteral("实收"), QStringLiteral("找零"), QStringLiteral("欠款"),
                                  QStringLiteral("已退款")});
  CheckoutTable->setRootIsDecorated(false);
  CheckoutTable->setUniformRowHeights(true);
  CheckoutTable->setAllColumnsShowFocus(true);
  CheckoutTable->setSelectionBehavior(QAbstractItemView::SelectRows);
  CheckoutTable->setSelectionMode(QAbstractItemView::SingleSelection);
  CheckoutTable->setStyleSheet(QStringLiteral("QTreeView::item { border-right: 1px solid palette(midlight);"
                                              " border-bottom: 1px solid palette(midlight); }"));
  for (int c = 0; c < CHECKOUT_COLUMNS; c++) {
    CheckoutTable->setColumnWidth(c, kCheckoutWidths[c]);
    if (c >= kFirstAmount || c == 1)
      CheckoutTable->headerItem()->setTextAlignment(c, Qt::AlignRight | Qt::AlignVCenter);
  }
  CheckoutInfo = new QLabel(this);
  CheckoutInfo->setObjectName(QStringLiteral("CheckoutInfo"));
  ReprintBtn = new QPushButton(QStringLiteral("重打小票"), this);
  ReprintBtn->setObjectName(QStringLiteral("ReprintBtn"));
  RefundBtn = new QPushButton(QStringLiteral("退款..."), this);
  RefundBtn->setObjectName(QStringLiteral("RefundBtn"));

  auto *bottom = new QHBoxLayout;
  bottom->addWidget(CheckoutInfo);
  bottom->addStretch();
  bottom->addWidget(ReprintBtn);
  bottom->addWidget(RefundBtn);
  auto *layout = new QVBoxLayout(this);
  layout->addWidget(CheckoutTable, 1);
  layout->addLayout(bottom);
  SelectionChange();

  connect(ReprintBtn, &QPushButton::clicked, this, &TCheckoutsTab::ReprintBtnClick);
  connect(RefundBtn, &QPushButton::clicked, this, &TCheckoutsTab::RefundBtnClick);
  connect(CheckoutTable, &QTreeWidget::itemDoubleClicked, this, &TCheckoutsTab::CheckoutTableDoubleClick);
  connect(CheckoutTable, &QTreeWidget::itemSelectionChanged, this, &TCheckoutsTab::SelectionChange);
}

void TCheckoutsTab::SetRange(const QByteArray &from, const QByteArray &to, const LineNames &names)
{
  m_from = from;
  m_to = to;
  m_lineNames = names;
  m_ranged = true;
  m_listed = false;
  CheckoutTable->clear();
  CheckoutInfo->clear();
}

void TCheckoutsTab::ListIfStale()
{
  if (m_ranged && !m_listed)
    ListCheckouts();
}

void TCheckoutsTab::ListCheckouts()
{
  m_listed = true;
  CheckoutTable->clear();
  QList<CheckoutRow> rows;
  const bool ok = QueryCheckouts(m_from, m_to, &rows);
  Cents sums[CHECKOUT_COLUMNS - kFirstAmount] = {};
  QList<QTreeWidgetItem *> items;
  items.reserve(rows.size() + 1);
  for (const CheckoutRow &r : rows) {
    const Cents amounts[] = {r.due, r.deposit, r.paid, r.change, r.owed, r.refunded};
    QStringList texts = {QString::fromLatin1(r.date), QString::number(r.number), r.admin,
                         CheckoutLineName(m_lineNames, r.machineId, r.lineId)};
    for (int i = 0; i < CHECKOUT_COLUMNS - kFirstAmount; i++) {
      // The due amount always shows, the others only when there is one.
      texts.append(i == 0 ? CentsText(amounts[i]) : AmountCell(amounts[i]));
      sums[i] += amounts[i];
    }
    auto *item = new QTreeWidgetItem(texts);
    item->setData(0, kNumberRole, r.number);
    if (r.owed > 0)
      item->setForeground(kOwedColumn, kOwedText);
    items.append(item);
  }
  QStringList total = {QStringLiteral("合计"), QString(), QString(), QString()};
  for (Cents sum : sums)
    total.append(CentsText(sum));
  auto *totalItem = new QTreeWidgetItem(total);
  QFont bold = totalItem->font(0);
  bold.setBold(true);
  for (int c = 0; c < CHECKOUT_COLUMNS; c++)
    totalItem->setFont(c, bold);
  if (sums[kOwedColumn - kFirstAmount] > 0)
    totalItem->setForeground(kOwedColumn, kOwedText);
  items.append(totalItem);
  for (QTreeWidgetItem *item : items)
    for (int c = 1; c < CHECKOUT_COLUMNS; c++)
      if (c == 1 || c >= kFirstAmount)
        item->setTextAlignment(c, Qt::AlignRight | Qt::AlignVCenter);
  CheckoutTable->addTopLevelItems(items);
  QString text = QStringLiteral("共 %1 笔收款").arg(rows.size());
  if (!ok)
    text += QStringLiteral("　（收款记录查询失败）");
  CheckoutInfo->setText(text);
  SelectionChange();
}

QList<QStringList> TCheckoutsTab::CsvRows() const
{
  QList<QStringList> rows;
  const QTreeWidgetItem *heading = CheckoutTable->headerItem();
  QStringList texts;
  for (int c = 0; c < CHECKOUT_COLUMNS; c++)
    texts.append(heading->text(c));
  rows.append(texts);
  for (int i = 0; i < CheckoutTable->topLevelItemCount(); i++) {
    texts.clear();
    for (int c = 0; c < CHECKOUT_COLUMNS; c++)
      texts.append(CheckoutTable->topLevelItem(i)->text(c));
    rows.append(texts);
  }
  return rows;
}

void TCheckoutsTab::SelectionChange()
{
  const QTreeWidgetItem *item = CheckoutTable->currentItem();
  const bool chosen = item && item->isSelected() && item->data(0, kNumberRole).isValid();
  ReprintBtn->setEnabled(chosen);
  RefundBtn->setEnabled(chosen);
}

bool TCheckoutsTab::SelectedCheckout(CheckoutRow *row)
{
  const QTreeWidgetItem *item = CheckoutTable->currentItem();
  if (!item || !item->data(0, kNumberRole).isValid())
    return false;
  const qint64 number = item->data(0, kNumberRole).toLongLong();
  if (FindCheckout(number, row))
    return true;
  ShowMessage(this, QStringLiteral("单号 %1 的收款记录读不出来").arg(number), QStringLiteral("错误"));
  return false;
}

void TCheckoutsTab::CheckoutTableDoubleClick(QTreeWidgetItem *item)
{
  if (item && item->data(0, kNumberRole).isValid())
    ReprintBtnClick();
}

void TCheckoutsTab::ReprintBtnClick()
{
  CheckoutRow row;
  if (!SelectedCheckout(&row))
    return;
  ShopInfo shop;
  ReadShopInfo(m_station.File(SHOPINFO_FILE), &shop);
  const Receipt receipt = ReprintOf(row, shop, CheckoutLineName(m_lineNames, row.machineId, row.lineId));
  if (PrintReceipt(this, receipt, m_station.File(RECEIPT_DIR)))
    Audit(AUDIT_REPRINT, QStringLiteral("单号 %1").arg(row.number));
}

void TCheckoutsTab::RefundBtnClick()
{
  CheckoutRow row;
  if (!SelectedCheckout(&row))
    return;
  const QString admin = m_station.OperatorName();
  if (!IsAdministrator(admin)) {
    ShowMessage(this, QStringLiteral("只有管理员可以退款"), QStringLiteral("退款"));
    return;
  }
  if (row.Refundable() <= 0) {
    ShowMessage(this, QStringLiteral("单号 %1 已没有可退的金额").arg(row.number), QStringLiteral("退款"));
    return;
  }
  RefundForm form(this);
  form.heading->setText(
      QStringLiteral("单号 %1　实收 %2　已退 %3　最多可退 %4")
          .arg(row.number)
          .arg(AmountText(row.due - row.owed), AmountText(row.refunded), AmountText(row.Refundable())));
  for (;;) {
    if (ShowModal(&form.dialog) != QDialog::Accepted)
      return;
    const std::optional<Cents> amount = ParseMoney(form.amount->text());
    const QString reason = form.reason->text().trimmed();
    QString refusal;
    if (!amount || *amount <= 0)
      refusal = QStringLiteral("请输入退款金额");
    else if (*amount > row.Refundable())
      refusal = QStringLiteral("最多可退 %1").arg(AmountText(row.Refundable()));
    else if (reason.isEmpty())
      refusal = QStringLiteral("请填写退款原因");
    if (!refusal.isEmpty()) {
      ShowMessage(&form.dialog, refusal, QStringLiteral("退款"));
      continue;
    }
    qint64 number = 0;
    QString why;
    if (!RefundCheckout(row.number, *amount, admin, reason, &number, &why)) {
      ShowMessage(this, QStringLiteral("没有退款：%1").arg(why), QStringLiteral("错误"));
      return;
    }
    Audit(AUDIT_CHECKOUT_REFUND, QStringLiteral("单号 %1 退款 %2（退款单 %3），原因：%4")
                                     .arg(row.number)
                                     .arg(AmountText(*amount))
                                     .arg(number)
                                     .arg(reason));
    if (form.printSlip->isChecked()) {
      RefundSlip slip;
      slip.number = number;
      slip.checkout = row.number;
      slip.time = QDateTime::currentDateTime();
      slip.admin = admin;
      slip.reason = reason;
      slip.amount = *amount;
      slip.settled = row.due - row.owed;
      slip.refundedBefore = row.refunded;
      ShopInfo shop;
      ReadShopInfo(m_station.File(SHOPINFO_FILE), &shop);
      PrintRefundSlip(this, m_station.File(RECEIPT_DIR), RefundSlipHtml(slip, shop), slip.time);
    }
    break;
  }
  ListCheckouts();
}

/* The report window: the range pickers, the join query through the engine,
 * the table and its total, and saving the list. */
#include "Report.h"

#include <QDateEdit>
#include <QDateTime>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QShowEvent>
#include <QTimeEdit>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <vector>

#include "quenta/quenta.h"

#include "Gbk.h"
#include "Modal.h"
#include "ShiftLog.h"

namespace {

const int kColumnWidths[REPORT_COLUMNS] = {150, 200, 80, 60, 100};

QDateEdit *NewDatePicker(const char *name, QWidget *parent)
{
  auto *picker = new QDateEdit(parent);
  picker->setObjectName(QLatin1String(name));
  picker->setDisplayFormat(QLocale().dateFormat(QLocale::LongFormat));
  picker->setCalendarPopup(true);
  return picker;
}

QTimeEdit *NewTimePicker(const char *name, QWidget *parent)
{
  auto *picker = new QTimeEdit(parent);
  picker->setObjectName(QLatin1String(name));
  picker->setDisplayFormat(QStringLiteral("H:mm:ss"));
  return picker;
}

} // namespace

TReportFrm::TReportFrm(QWidget *parent)
  : QWidget(parent, Qt::Window)
{
  setObjectName(QStringLiteral("ReportFrm"));
  setWindowTitle(QStringLiteral("报表统计"));
  resize(680, 480);

  FromDate = NewDatePicker("FromDate", this);
  FromTime = NewTimePicker("FromTime", this);
  ToDate = NewDatePicker("ToDate", this);
  ToTime = NewTimePicker("ToTime", this);
  Button2 = new QPushButton(QStringLiteral("确定"), this);
  Button2->setObjectName(QStringLiteral("Button2"));

  ReportTable = new QTreeWidget(this);
  ReportTable->setObjectName(QStringLiteral("ReportTable"));
  ReportTable->setColumnCount(REPORT_COLUMNS);
  ReportTable->setHeaderLabels({QStringLiteral("号码"), QStringLiteral("开始时间"),
                                QStringLiteral("通话时长"), QStringLiteral("金额"),
                                QStringLiteral("操作员")});
  ReportTable->setRootIsDecorated(false);
  ReportTable->setUniformRowHeights(true);
  ReportTable->setAllColumnsShowFocus(true);
  ReportTable->setSelectionBehavior(QAbstractItemView::SelectRows);
  ReportTable->setStyleSheet(QStringLiteral(
      "QTreeView::item { border-right: 1px solid palette(midlight);"
      " border-bottom: 1px solid palette(midlight); }"));

  Info = new QLabel(QStringLiteral("总计："), this);
  Info->setObjectName(QStringLiteral("Info"));
  Button1 = new QPushButton(QStringLiteral("保存"), this);
  Button1->setObjectName(QStringLiteral("Button1"));

  SaveDialog1 = new QFileDialog(this);
  SaveDialog1->setObjectName(QStringLiteral("SaveDialog1"));
  SaveDialog1->setAcceptMode(QFileDialog::AcceptSave);
  SaveDialog1->setFileMode(QFileDialog::AnyFile);
  SaveDialog1->setNameFilter(QStringLiteral("文本文件 (*.txt)"));
  SaveDialog1->setDefaultSuffix(QStringLiteral("txt"));
  // The operator is not asked before a file is replaced; the working
  // directory stays the station's whatever folder is chosen.
  SaveDialog1->setOption(QFileDialog::DontConfirmOverwrite);
  SaveDialog1->setSizeGripEnabled(true);

  auto *range = new QHBoxLayout;
  range->addWidget(new QLabel(QStringLiteral("从"), this));
  range->addWidget(FromDate);
  range->addWidget(FromTime);
  range->addSpacing(12);
  range->addWidget(new QLabel(QStringLiteral("到"), this));
  range->addWidget(ToDate);
  range->addWidget(ToTime);
  range->addSpacing(12);
  range->addWidget(Button2);
  range->addStretch();
  auto *bottom = new QHBoxLayout;
  bottom->addWidget(Info);
  bottom->addStretch();
  bottom->addWidget(Button1);
  auto *layout = new QVBoxLayout(this);
  layout->addLayout(range);
  layout->addWidget(ReportTable, 1);
  layout->addLayout(bottom);

  connect(Button2, &QPushButton::clicked, this, &TReportFrm::Button2Click);
  connect(Button1, &QPushButton::clicked, this, &TReportFrm::Button1Click);
}

void TReportFrm::showEvent(QShowEvent *event)
{
  QWidget::showEvent(event);
  if (!event->spontaneous())
    FormShow();
}

void TReportFrm::FormShow()
{
  for (int i = 0; i < REPORT_COLUMNS; i++)
    ReportTable->setColumnWidth(i, kColumnWidths[i]);
  const QDateTime now = QDateTime::currentDateTime();
  const QTime second = now.time();
  FromDate->setDate(now.date());
  FromTime->setTime(QTime(0, 0, 0));
  ToDate->setDate(now.date());
  ToTime->setTime(QTime(second.hour(), second.minute(), second.second()));
}

void TReportFrm::Button2Click()
{
  RunReport(ReportTimeText(FromDate->date(), FromTime->time()),
            ReportTimeText(ToDate->date(), ToTime->time()));
}

void TReportFrm::RunReport(const QByteArray &from, const QByteArray &to)
{
  const QList<QByteArray> conditions = ReportConditions(from, to);
  std::vector<const char *> list;
  for (const QByteArray &c : conditions)
    list.push_back(c.constData());
  list.push_back(nullptr);

  ReportTable->clear();
  m_rows.clear();
  m_total = 0;
  ReportTable->setUpdatesEnabled(false);
  const int rc = quenta_getReport(list.data(), &TReportFrm::ReportRowArrived, this);
  ReportTable->setUpdatesEnabled(true);
  Info->setText(QStringLiteral("总计：") + FormatMoney(m_total));
  if (rc != 0)
    ShowMessage(this, QStringLiteral("统计查询失败，所列通话可能不全"), QStringLiteral("错误"));
}

/* Runs inside quenta_getReport, with the engine's database lock held: it only
 * copies the row. */
void TReportFrm::ReportRowArrived(void *record, void *param)
{
  auto *self = static_cast<TReportFrm *>(param);
  const auto *info = static_cast<const report_info *>(record);
  const ReportRow row = ReportRowOf(*info);
  auto *item = new QTreeWidgetItem(self->ReportTable);
  item->setText(0, FromGbk(row.number));
  item->setText(1, FromGbk(row.start));
  item->setText(2, QString::fromLatin1(row.seconds));
  item->setText(3, QString::fromLatin1(row.amount));
  item->setText(4, FromGbk(row.admin));
  self->m_rows.append(row);
  self->m_total += info->m_bill.m_count;
}

void TReportFrm::Button1Click()
{
  if (ShowModal(SaveDialog1) != QDialog::Accepted)
    return;
  const QStringList chosen = SaveDialog1->selectedFiles();
  if (!chosen.isEmpty() && !chosen.first().isEmpty())
    SaveReport(chosen.first());
}

bool TReportFrm::SaveReport(const QString &fileName)
{
  if (WriteReportFile(fileName, m_rows))
    return true;
  ShowMessage(this, QStringLiteral("无法写入文件 %1").arg(fileName), QStringLiteral("错误"),
              QMessageBox::Critical);
  return false;
}

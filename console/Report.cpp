/* The report window: the range pickers, the join query through the engine,
 * the table and its total, saving the list; the groups, the chart, the
 * handovers and the CSV export. */
#include "Report.h"

#include <QCategoryAxis>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDateEdit>
#include <QDateTime>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineSeries>
#include <QLocale>
#include <QPushButton>
#include <QSet>
#include <QShowEvent>
#include <QSplitter>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTimeEdit>
#include <QTreeWidget>
#include <QValueAxis>
#include <QVBoxLayout>

#include <vector>

#include "quenta/quenta.h"

#include "AuditTab.h"
#include "CheckoutsTab.h"
#include "CsvFile.h"
#include "FileDialog.h"
#include "Gbk.h"
#include "LineText.h"
#include "Modal.h"
#include "PriceDetail.h"
#include "XlsxFile.h"

namespace {

const int kColumnWidths[CALL_COLUMNS] = {150, 200, 80, 60, 100, 140};
const int kGroupWidths[GROUP_COLUMNS] = {220, 90, 90, 100};
const int kShiftWidths[SHIFT_COLUMNS] = {150, 150, 80, 80, 80, 70, 80, 90, 80, 80, 80};
const QColor kDifferenceText(190, 0, 0);
const QColor kDifferenceBack(255, 228, 228);

QStringList CallHeading()
{
  return {QStringLiteral("号码"), QStringLiteral("开始时间"), QStringLiteral("通话时长"),
          QStringLiteral("金额"), QStringLiteral("操作员"),   QStringLiteral("线路")};
}

QStringList ShiftHeading()
{
  return {QStringLiteral("开始时间"), QStringLiteral("交班时间"), QStringLiteral("交班人"),
          QStringLiteral("交班金额"), QStringLiteral("接班人"),   QStringLiteral("账单笔数"),
          QStringLiteral("账单金额"), QStringLiteral("核对"),     QStringLiteral("应有现金"),
          QStringLiteral("实点现金"), QStringLiteral("现金差额")};
}

/* A list in the report's style: rows with grid lines, whole-row selection. */
QTreeWidget *NewList(const char *name, const QStringList &heading, QWidget *parent)
{
  auto *list = new QTreeWidget(parent);
  list->setObjectName(QLatin1String(name));
  list->setColumnCount(heading.size());
  list->setHeaderLabels(heading);
  list->setRootIsDecorated(false);
  list->setUniformRowHeights(true);
  list->setAllColumnsShowFocus(true);
  list->setSelectionBehavior(QAbstractItemView::SelectRows);
  list->setStyleSheet(QStringLiteral("QTreeView::item { border-right: 1px solid palette(midlight);"
                                     " border-bottom: 1px solid palette(midlight); }"));
  return list;
}

/* The handover's drawer in the last three columns: what it should have held,
 * what was counted, the difference in red when there is one; a shift that
 * ended without a handover says so in red. */
void ShowDrawer(QTreeWidgetItem *item, const ShiftRow &r)
{
  if (r.drawerKnown)
    item->setText(8, CentsText(r.expected));
  if (!r.handedOver) {
    item->setText(9, QStringLiteral("未交班"));
    item->setForeground(9, kDifferenceText);
  } else if (r.counted) {
    item->setText(9, CentsText(*r.counted));
    item->setText(10, DrawerDifferenceText(*r.counted, r.expected));
    if (*r.counted != r.expected) {
      item->setForeground(10, kDifferenceText);
      item->setBackground(10, kDifferenceBack);
    }
  } else if (r.drawerKnown) {
    item->setText(9, QStringLiteral("未点"));
  }
}

/* The texts of a row in the order the list shows its columns. */
QStringList ItemTexts(const QTreeWidget *list, const QTreeWidgetItem *item)
{
  QStringList texts;
  const QHeaderView *header = list->header();
  for (int v = 0; v < list->columnCount(); v++) {
    const int c = header->logicalIndex(v);
    if (!header->isSectionHidden(c))
      texts.append(item->text(c));
  }
  return texts;
}

/* The rows of a list, its heading first. */
QList<QStringList> ListRows(const QTreeWidget *list)
{
  QList<QStringList> rows;
  rows.append(ItemTexts(list, list->headerItem()));
  for (int i = 0; i < list->topLevelItemCount(); i++)
    rows.append(ItemTexts(list, list->topLevelItem(i)));
  return rows;
}

/* More than this many points and the labels stand upright. */
const int kLevelLabelsMax = 12;
/* Up to this many points each has its label; a longer range labels every
 * second, third ... point, as few as keep within it. */
const int kChartLabelsMax = 62;

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

}  // namespace

TReportFrm::TReportFrm(const StationState &station, QWidget *parent) : QWidget(parent, Qt::Window)
{
  setObjectName(QStringLiteral("ReportFrm"));
  setWindowTitle(QStringLiteral("报表统计"));
  resize(780, 620);

  FromDate = NewDatePicker("FromDate", this);
  FromTime = NewTimePicker("FromTime", this);
  ToDate = NewDatePicker("ToDate", this);
  ToTime = NewTimePicker("ToTime", this);
  Button2 = new QPushButton(QStringLiteral("确定"), this);
  Button2->setObjectName(QStringLiteral("Button2"));
  GroupBy = new QComboBox(this);
  GroupBy->setObjectName(QStringLiteral("GroupBy"));
  GroupBy->addItems(GroupingCaptions());

  ReportTable = NewList("ReportTable", CallHeading(), this);
  // The booth comes first, as on the line monitor; by index it comes last,
  // where the text file has no field.
  ReportTable->header()->moveSection(REPORT_COLUMNS, 0);
  GroupTable = NewList(
      "GroupTable", {QString(), QStringLiteral("通话次数"), QStringLiteral("通话分钟"), QStringLiteral("金额")}, this);
  for (int c = 1; c < GROUP_COLUMNS; c++)
    GroupTable->headerItem()->setTextAlignment(c, Qt::AlignRight | Qt::AlignVCenter);
  // The figures keep their widths beside the names, however wide the window.
  GroupTable->header()->setStretchLastSection(false);
  GroupTable->header()->setSectionResizeMode(0, QHeaderView::Stretch);
  ListStack = new QStackedWidget(this);
  ListStack->setObjectName(QStringLiteral("ListStack"));
  ListStack->addWidget(ReportTable);
  ListStack->addWidget(GroupTable);

  auto *chart = new QChart;
  chart->legend()->hide();
  chart->setMargins(QMargins(4, 4, 4, 4));
  m_series = new QLineSeries(chart);
  m_series->setPointsVisible(true);
  chart->addSeries(m_series);
  m_axisX = new QCategoryAxis(chart);
  m_axisX->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
  m_axisY = new QValueAxis(chart);
  m_axisY->setLabelFormat(QStringLiteral("%.2f"));
  m_axisY->setMin(0);
  chart->addAxis(m_axisX, Qt::AlignBottom);
  chart->addAxis(m_axisY, Qt::AlignLeft);
  m_series->attachAxis(m_axisX);
  m_series->attachAxis(m_axisY);
  TakingsChart = new QChartView(chart, this);
  TakingsChart->setObjectName(QStringLiteral("TakingsChart"));
  TakingsChart->setRenderHint(QPainter::Antialiasing);
  TakingsChart->setMinimumHeight(180);

  auto *calls = new QSplitter(Qt::Vertical, this);
  calls->setObjectName(QStringLiteral("CallsPage"));
  calls->addWidget(ListStack);
  calls->addWidget(TakingsChart);
  calls->setStretchFactor(0, 3);
  calls->setStretchFactor(1, 2);
  calls->setChildrenCollapsible(false);

  auto *shifts = new QWidget(this);
  shifts->setObjectName(QStringLiteral("ShiftsPage"));
  ShiftTable = NewList("ShiftTable", ShiftHeading(), shifts);
  ShiftInfo = new QLabel(shifts);
  ShiftInfo->setObjectName(QStringLiteral("ShiftInfo"));
  auto *shiftLayout = new QVBoxLayout(shifts);
  shiftLayout->addWidget(ShiftTable, 1);
  shiftLayout->addWidget(ShiftInfo);

  ReportTabs = new QTabWidget(this);
  ReportTabs->setObjectName(QStringLiteral("ReportTabs"));
  ReportTabs->addTab(calls, QStringLiteral("通话统计"));
  ReportTabs->addTab(shifts, QStringLiteral("交班记录"));
  AuditPage = new TAuditTab(this);
  ReportTabs->addTab(AuditPage, QStringLiteral("操作记录"));
  ReportTabs->addTab(CheckoutsPage = new TCheckoutsTab(station, this), QStringLiteral("收款记录"));

  Info = new QLabel(QStringLiteral("总计："), this);
  Info->setObjectName(QStringLiteral("Info"));
  CsvBtn = new QPushButton(QStringLiteral("导出CSV"), this);
  CsvBtn->setObjectName(QStringLiteral("CsvBtn"));
  ExcelBtn = new QPushButton(QStringLiteral("导出Excel"), this);
  ExcelBtn->setObjectName(QStringLiteral("ExcelBtn"));
  Button1 = new QPushButton(QStringLiteral("保存"), this);
  Button1->setObjectName(QStringLiteral("Button1"));

  SaveDialog1 = NewSaveDialog("SaveDialog1", QStringLiteral("保存统计"), QStringLiteral("文本文件 (*.txt)"),
                              QStringLiteral("txt"), this);
  SaveDialog2 = NewSaveDialog("SaveDialog2", QStringLiteral("导出CSV"), QStringLiteral("CSV 文件 (*.csv)"),
                              QStringLiteral("csv"), this);
  SaveDialog3 = NewSaveDialog("SaveDialog3", QStringLiteral("导出Excel"), QStringLiteral("Excel 工作簿 (*.xlsx)"),
                              QStringLiteral("xlsx"), this);

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
  range->addSpacing(12);
  range->addWidget(new QLabel(QStringLiteral("分组"), this));
  range->addWidget(GroupBy);
  range->addStretch();
  auto *bottom = new QHBoxLayout;
  bottom->addWidget(Info);
  bottom->addStretch();
  bottom->addWidget(CsvBtn);
  bottom->addWidget(ExcelBtn);
  bottom->addWidget(Button1);
  auto *layout = new QVBoxLayout(this);
  layout->addLayout(range);
  layout->addWidget(ReportTabs, 1);
  layout->addLayout(bottom);

  connect(Button2, &QPushButton::clicked, this, &TReportFrm::Button2Click);
  connect(Button1, &QPushButton::clicked, this, &TReportFrm::Button1Click);
  connect(CsvBtn, &QPushButton::clicked, this, &TReportFrm::CsvBtnClick);
  connect(ExcelBtn, &QPushButton::clicked, this, &TReportFrm::ExcelBtnClick);
  connect(GroupBy, &QComboBox::currentIndexChanged, this, &TReportFrm::GroupByChange);
  connect(ReportTabs, &QTabWidget::currentChanged, this, &TReportFrm::ReportTabsChange);
  connect(ReportTable, &QTreeWidget::itemDoubleClicked, this, &TReportFrm::ReportTableDoubleClick);
}

void TReportFrm::showEvent(QShowEvent *event)
{
  QWidget::showEvent(event);
  if (!event->spontaneous())
    FormShow();
}

void TReportFrm::FormShow()
{
  for (int i = 0; i < CALL_COLUMNS; i++)
    ReportTable->setColumnWidth(i, kColumnWidths[i]);
  for (int i = 0; i < GROUP_COLUMNS; i++)
    GroupTable->setColumnWidth(i, kGroupWidths[i]);
  for (int i = 0; i < SHIFT_COLUMNS; i++)
    ShiftTable->setColumnWidth(i, kShiftWidths[i]);
  m_queried = false;
  const QDateTime now = QDateTime::currentDateTime();
  const QTime second = now.time();
  FromDate->setDate(now.date());
  FromTime->setTime(QTime(0, 0, 0));
  ToDate->setDate(now.date());
  ToTime->setTime(QTime(second.hour(), second.minute(), second.second()));
  // No chart until a query has drawn one.
  m_chart.clear();
  m_series->clear();
  for (const QString &label : m_axisX->categoriesLabels())
    m_axisX->remove(label);
  m_axisX->setVisible(false);
  m_axisY->setVisible(false);
  TakingsChart->chart()->setTitle(QString());
}

void TReportFrm::Button2Click()
{
  RunReport(StationTime(QDateTime(FromDate->date(), FromTime->time())),
            StationTime(QDateTime(ToDate->date(), ToTime->time())));
}

ReportGrouping TReportFrm::Grouping() const
{
  return static_cast<ReportGrouping>(qMax(GroupBy->currentIndex(), 0));
}

void TReportFrm::GroupByChange()
{
  const bool grouped = Grouping() != GroupNone;
  ListStack->setCurrentWidget(grouped ? GroupTable : ReportTable);
  GroupTable->headerItem()->setText(0, GroupColumnCaption(Grouping()));
  // The text file is the list of calls; the groups go out as CSV.
  Button1->setEnabled(!grouped);
  if (m_queried)
    Button2Click();
}

void TReportFrm::RunReport(const QByteArray &from, const QByteArray &to)
{
  m_queried = true;
  ReportTable->clear();
  GroupTable->clear();
  m_rows.clear();
  m_total = 0;

  // One grouped query gives the groups and the chart's buckets; only the
  // ungrouped list fetches the calls one by one.
  ReportSummary &summary = m_summary;
  const ReportGrouping by = Grouping();
  bool ok = QueryReportSummary(from, to, by, m_lineNames, &summary);
  if (by == GroupNone) {
    ListCalls(from, to, &ok);
  } else {
    ListGroups(summary);
    m_total = summary.cents;
  }
  DrawChart(from, to, summary);
  m_from = from;
  m_to = to;
  m_shiftsListed = false;
  m_handed = 0;
  ShiftTable->clear();
  ShiftInfo->clear();
  if (ReportTabs->currentIndex() == 1)
    ListShifts();
  ShowTotal();
  AuditPage->SetRange(from, to);
  if (ReportTabs->currentWidget() == AuditPage)
    AuditPage->ListIfStale();
  CheckoutsPage->SetRange(from, to, m_lineNames);
  if (ReportTabs->currentWidget() == CheckoutsPage)
    CheckoutsPage->ListIfStale();
  if (!ok)
    ShowMessage(this, QStringLiteral("统计查询失败，所列通话可能不全"), QStringLiteral("错误"));
}

void TReportFrm::ListCalls(const QByteArray &from, const QByteArray &to, bool *ok)
{
  const QList<QByteArray> conditions = ReportConditions(from, to);
  std::vector<const char *> list;
  for (const QByteArray &c : conditions)
    list.push_back(c.constData());
  list.push_back(nullptr);

  ReportTable->setUpdatesEnabled(false);
  if (quenta_getReport(list.data(), &TReportFrm::ReportRowArrived, this) != 0)
    *ok = false;
  ReportTable->setUpdatesEnabled(true);
}

void TReportFrm::ListGroups(const ReportSummary &summary)
{
  QList<QTreeWidgetItem *> items;
  items.reserve(summary.groups.size());
  for (const GroupRow &g : summary.groups) {
    auto *item = new QTreeWidgetItem({g.name, QString::number(g.calls), MinutesText(g.seconds), CentsText(g.cents)});
    for (int c = 1; c < GROUP_COLUMNS; c++)
      item->setTextAlignment(c, Qt::AlignRight | Qt::AlignVCenter);
    items.append(item);
  }
  GroupTable->addTopLevelItems(items);
}

void TReportFrm::DrawChart(const QByteArray &from, const QByteArray &to, const ReportSummary &summary)
{
  m_chart = ChartPoints(from, to, summary.bucketCents);
  const bool hourly = ChartByHour(from, to);
  // The points stand one apart, each with its day (or hour) as its label.
  for (const QString &label : m_axisX->categoriesLabels())
    m_axisX->remove(label);
  m_axisX->setStartValue(-0.5);
  const bool years = !m_chart.isEmpty() && m_chart.first().start.date().year() != m_chart.last().start.date().year();
  const QString format = hourly  ? QStringLiteral("H时")
                         : years ? QStringLiteral("yyyy年M月d日")
                                 : QStringLiteral("M月d日");
  const qsizetype every = (m_chart.size() + kChartLabelsMax - 1) / kChartLabelsMax;
  QList<QPointF> points;
  points.reserve(m_chart.size());
  QSet<QString> labels;
  double top = 0;
  for (qsizetype i = 0; i < m_chart.size(); i++) {
    const double amount = static_cast<double>(m_chart[i].cents) / 100.0;
    points.append(QPointF(static_cast<qreal>(i), amount));
    top = qMax(top, amount);
    if (i % every != 0)
      continue;
    // The axis tells its labels apart by their texts: an hour met twice
    // (the clock set back) gets an invisible mark.
    QString label = m_chart[i].start.toString(format);
    while (labels.contains(label))
      label += QChar(0x200B);
    labels.insert(label);
    m_axisX->append(label, static_cast<qreal>(i));
  }
  m_series->replace(points);
  m_axisX->setRange(-0.5, qMax(0.5, static_cast<double>(m_chart.size()) - 0.5));
  m_axisX->setLabelsAngle(labels.size() > kLevelLabelsMax ? -90 : 0);
  m_axisX->setGridLineVisible(false);
  m_axisX->setVisible(true);
  m_axisY->setVisible(true);
  TakingsChart->chart()->setTitle(hourly ? QStringLiteral("每小时收入（元）") : QStringLiteral("每日收入（元）"));
  m_axisY->setRange(0, top > 0 ? top * 1.1 : 1.0);
  m_axisY->applyNiceNumbers();
}

void TReportFrm::ReportTabsChange(int index)
{
  if (index == 1 && m_queried && !m_shiftsListed)
    ListShifts();
  if (ReportTabs->widget(index) == AuditPage)
    AuditPage->ListIfStale();
  if (ReportTabs->widget(index) == CheckoutsPage)
    CheckoutsPage->ListIfStale();
  ShowTotal();
}

void TReportFrm::ShowTotal()
{
  // The calls' total belongs to the calls, the handovers' to theirs; the
  // other tabs count for themselves.
  const int index = ReportTabs->currentIndex();
  Info->setVisible(index <= 1);
  if (index == 0)
    Info->setText(QStringLiteral("总计：") + CentsText(m_total));
  else if (index == 1)
    Info->setText(QStringLiteral("交班金额总计：") + (m_shiftsListed ? CentsText(m_handed) : QString()));
}

void TReportFrm::ListShifts()
{
  m_shiftsListed = true;
  ShiftTable->clear();
  QList<ShiftRow> rows;
  const bool ok = QueryShifts(m_from, m_to, &rows);
  qint64 handed = 0, billed = 0;
  int differences = 0;
  for (const ShiftRow &r : rows) {
    auto *item =
        new QTreeWidgetItem(ShiftTable, {QString::fromLatin1(r.begin), QString::fromLatin1(r.end), r.outgoing,
                                         CentsText(r.takingsCents), r.incoming, QString::number(r.bills),
                                         CentsText(r.billCents), ShiftDifferenceText(r.takingsCents, r.billCents)});
    ShowDrawer(item, r);
    for (int c : {3, 5, 6, 8, 9, 10})
      item->setTextAlignment(c, Qt::AlignRight | Qt::AlignVCenter);
    if (r.takingsCents != r.billCents) {
      differences++;
      for (int c = 0; c < 8; c++) {
        item->setForeground(c, kDifferenceText);
        item->setBackground(c, kDifferenceBack);
      }
    }
    handed += r.takingsCents;
    billed += r.billCents;
  }
  m_handed = handed;
  QString text = QStringLiteral("交班 %1 次　交班金额合计：%2　账单金额合计：%3")
                     .arg(rows.size())
                     .arg(CentsText(handed), CentsText(billed));
  if (differences > 0)
    text += QStringLiteral("　其中 %1 次不符").arg(differences);
  if (!ok)
    text += QStringLiteral("　（交班记录查询失败）");
  ShiftInfo->setText(text);
  ShowTotal();
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
  item->setData(0, Qt::UserRole, QByteArray(info->m_cdr.callid));
  const char *period = info->m_bill.m_period_record;
  item->setData(0, Qt::UserRole + 1, QByteArray(period, qstrnlen(period, sizeof info->m_bill.m_period_record)));
  item->setData(0, Qt::UserRole + 2, row.cents);
  item->setText(REPORT_COLUMNS, LineCaption(row.machine, row.line, self->m_lineNames));
  self->m_rows.append(row);
  self->m_total += row.cents;
}

void TReportFrm::ReportTableDoubleClick(QTreeWidgetItem *item)
{
  if (!item)
    return;
  const QString text =
      CallBreakdown(item->data(0, Qt::UserRole).toByteArray(), item->data(0, Qt::UserRole + 1).toByteArray(),
                    item->data(0, Qt::UserRole + 2).toLongLong());
  ShowMessage(this, QStringLiteral("%1　%2\n%3").arg(item->text(0), item->text(1), text), QStringLiteral("计费明细"),
              QMessageBox::Information);
}

void TReportFrm::Button1Click()
{
  if (ShowModal(SaveDialog1) != QDialog::Accepted)
    return;
  const QStringList chosen = SaveDialog1->selectedFiles();
  if (!chosen.isEmpty() && !chosen.first().isEmpty())
    SaveReport(chosen.first());
}

void TReportFrm::CsvBtnClick()
{
  if (ShowModal(SaveDialog2) != QDialog::Accepted)
    return;
  const QStringList chosen = SaveDialog2->selectedFiles();
  if (!chosen.isEmpty() && !chosen.first().isEmpty())
    SaveCsv(chosen.first());
}

void TReportFrm::ExcelBtnClick()
{
  if (ShowModal(SaveDialog3) != QDialog::Accepted)
    return;
  const QStringList chosen = SaveDialog3->selectedFiles();
  if (!chosen.isEmpty() && !chosen.first().isEmpty())
    SaveExcel(chosen.first());
}

QList<QStringList> TReportFrm::CsvRows() const
{
  QWidget *page = ReportTabs->currentWidget();
  if (page == AuditPage)
    return AuditPage->CsvRows();
  if (page == CheckoutsPage)
    return CheckoutsPage->CsvRows();
  const int index = ReportTabs->currentIndex();
  if (index > 1) {
    // A tab of its own making: what its list shows.
    const auto *list = page ? page->findChild<QTreeWidget *>() : nullptr;
    return list ? ListRows(list) : QList<QStringList>();
  }
  const bool shifts = index == 1;
  const QTreeWidget *list = shifts ? ShiftTable : Grouping() == GroupNone ? ReportTable : GroupTable;
  QList<QStringList> rows = ListRows(list);
  if (!shifts && Grouping() != GroupNone)
    rows.append({QStringLiteral("总计"), QString::number(m_summary.calls), MinutesText(m_summary.seconds),
                 CentsText(m_summary.cents)});
  return rows;
}

bool TReportFrm::SaveCsv(const QString &fileName)
{
  QString reason;
  if (WriteCsvFile(fileName, CsvRows(), &reason))
    return true;
  ShowMessage(this, QStringLiteral("无法写入文件 %1：%2").arg(fileName, reason), QStringLiteral("错误"),
              QMessageBox::Critical);
  return false;
}

bool TReportFrm::SaveExcel(const QString &fileName)
{
  QString reason;
  if (WriteXlsxFile(fileName, ReportTabs->tabText(ReportTabs->currentIndex()), CsvRows(), &reason))
    return true;
  ShowMessage(this, QStringLiteral("无法写入文件 %1：%2").arg(fileName, reason), QStringLiteral("错误"),
              QMessageBox::Critical);
  return false;
}

bool TReportFrm::SaveReport(const QString &fileName)
{
  if (WriteReportFile(fileName, m_rows))
    return true;
  ShowMessage(this, QStringLiteral("无法写入文件 %1").arg(fileName), QStringLiteral("错误"), QMessageBox::Critical);
  return false;
}

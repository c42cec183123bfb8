/* The line monitor of the main window: one row per gateway line, refreshed
 * from the engine once a second, with its checkout button in the strip on the
 * left and what a call in progress costs so far; the line map; renaming and
 * moving rows; the pop-up menu, the digit keys that start a checkout, and
 * booth control (calls denied and permitted). The deposits are in
 * LineDeposits.cpp.
 *
 * Layout: the name editor, setting up, the poll and its callback, rows and
 * buttons, the line map, the handlers of the operator's actions, then booth
 * control. */
#include "MainFrm.h"

#include <QAction>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "quenta/quenta.h"

#include "Audit.h"
#include "BillText.h"
#include "Calls.h"
#include "Gbk.h"
#include "LineCommand.h"
#include "LineMap.h"
#include "Modal.h"
#include "Question.h"
#include "SaveFile.h"

namespace {

/* Control characters would break the line map's lines apart. */
QString CleanName(const QString &text)
{
  QString name = text;
  for (QChar &c : name) {
    if (c.unicode() < 0x20 || c.unicode() == 0x7f)
      c = QLatin1Char(' ');
  }
  return name;
}

} // namespace

/* ---- the name editor ---- */

QWidget *LineNameDelegate::createEditor(QWidget *parent, const QStyleOptionViewItem &,
                                        const QModelIndex &index) const
{
  if (index.column() != 0)
    return nullptr;
  auto *editor = new QLineEdit(parent);
  editor->setMaxLength(LINE_NAME_MAX);
  emit const_cast<LineNameDelegate *>(this)->editingStarted();
  return editor;
}

void LineNameDelegate::setModelData(QWidget *editor, QAbstractItemModel *,
                                    const QModelIndex &index) const
{
  emit const_cast<LineNameDelegate *>(this)->nameAccepted(
      index.row(), static_cast<QLineEdit *>(editor)->text());
}

void LineNameDelegate::destroyEditor(QWidget *editor, const QModelIndex &index) const
{
  QStyledItemDelegate::destroyEditor(editor, index);
  emit const_cast<LineNameDelegate *>(this)->editingEnded();
}

void LineNameDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                             const QModelIndex &index) const
{
  // The list's style sheet (its grid lines) leaves a cell's own background
  // unpainted: the tint goes down first.
  const QVariant tint = index.data(Qt::BackgroundRole);
  if (tint.canConvert<QBrush>())
    painter->fillRect(option.rect, tint.value<QBrush>());
  if (!(option.state & QStyle::State_Selected)) {
    QStyledItemDelegate::paint(painter, option, index);
    return;
  }
  // The style's selection would paint the desktop's highlighted text (white)
  // over the tint. The row keeps its tint and its text colour instead: a wash
  // of the selection colour over the cell and a frame along the row say it is
  // the selected one.
  const QColor highlight = option.palette.color(QPalette::Highlight);
  QColor wash = highlight;
  wash.setAlpha(70);
  painter->fillRect(option.rect, wash);
  QStyleOptionViewItem plain(option);
  plain.state &= ~QStyle::State_Selected;
  QStyledItemDelegate::paint(painter, plain, index);
  const QRect r = option.rect;
  painter->fillRect(QRect(r.left(), r.top(), r.width(), 2), highlight);
  painter->fillRect(QRect(r.left(), r.bottom() - 1, r.width(), 2), highlight);
}

QList<int> LineColumnWidths(const QTreeWidget *list)
{
  const QFontMetrics metrics(list->font());
  const QString samples[LINE_COLUMNS] = {
      DefaultLineName(12, 15),
      QStringLiteral("拨号中"),
      QStringLiteral("008613812345678"),
      QStringLiteral("2026-12-10 14:03:05（恢复）"),
      QStringLiteral("00:00:00"),
      AmountText(999999),
      QStringLiteral("无法计费"),
      DepositText(50000, 51230, DEPOSIT_USED_UP),
  };
  // Room for the cell's margins and grid line, as the style gives a cell.
  const int margins = 2 * (list->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, list) + 1) + 8;
  QList<int> widths;
  for (int column = 0; column < LINE_COLUMNS; column++) {
    const int heading = list->header()->sectionSizeHint(column);
    widths.append(qMax(heading, metrics.horizontalAdvance(samples[column]) + margins));
  }
  return widths;
}

QSize LineNameDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
  QSize size = QStyledItemDelegate::sizeHint(option, index);
  size.setHeight(qMax(size.height(), LINE_ROW_HEIGHT));
  return size;
}

/* ---- setting up ---- */

void TMainForm::SetUpLineMonitor()
{
  PopupMenu1 = new QMenu(this);
  PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
  LineBill = PopupMenu1->addAction(QStringLiteral("结帐"));
  LineBill->setObjectName(QStringLiteral("LineBill"));
  LineUp = PopupMenu1->addAction(QStringLiteral("上移"));
  LineUp->setObjectName(QStringLiteral("LineUp"));
  LineDown = PopupMenu1->addAction(QStringLiteral("下移"));
  LineDown->setObjectName(QStringLiteral("LineDown"));
  LineRename = PopupMenu1->addAction(QStringLiteral("改名"));
  LineRename->setObjectName(QStringLiteral("LineRename"));
  PopupMenu1->addSeparator();
  LineDeny = PopupMenu1->addAction(QStringLiteral("禁止呼叫"));
  LineDeny->setObjectName(QStringLiteral("LineDeny"));
  LinePermit = PopupMenu1->addAction(QStringLiteral("允许呼叫"));
  LinePermit->setObjectName(QStringLiteral("LinePermit"));
  PopupMenu1->addSeparator();
  LineDeposit = PopupMenu1->addAction(QStringLiteral("收押金"));
  LineDeposit->setObjectName(QStringLiteral("LineDeposit"));
  LineRefund = PopupMenu1->addAction(QStringLiteral("退押金"));
  LineRefund->setObjectName(QStringLiteral("LineRefund"));
  LineList->setContextMenuPolicy(Qt::CustomContextMenu);

  auto *names = new LineNameDelegate(LineList);
  LineList->setItemDelegate(names);
  LineList->setEditTriggers(QAbstractItemView::EditKeyPressed);

  // The buttons live below the strip's heading, so that a button whose row
  // has scrolled away under the column captions is cut off with it.
  m_billButtons = new QWidget(Panel1);
  m_billButtons->setObjectName(QStringLiteral("BillButtons"));
  auto *strip = static_cast<QVBoxLayout *>(Panel1->layout());
  strip->insertWidget(1, m_billButtons, 1);
  strip->setSpacing(0);

  LineList->installEventFilter(this);
  LineList->viewport()->installEventFilter(this);
  m_billButtons->installEventFilter(this);

  connect(LineList, &QWidget::customContextMenuRequested, this, [this](const QPoint &pos) {
    PopupMenu1->popup(LineList->viewport()->mapToGlobal(pos));
  });
  connect(PopupMenu1, &QMenu::aboutToShow, this, &TMainForm::PopupMenu1Popup);
  connect(LineBill, &QAction::triggered, this, &TMainForm::LineBillClick);
  connect(LineUp, &QAction::triggered, this, &TMainForm::LineUpClick);
  connect(LineDown, &QAction::triggered, this, &TMainForm::LineDownClick);
  connect(LineRename, &QAction::triggered, this, &TMainForm::LineRenameClick);
  connect(LineDeny, &QAction::triggered, this, &TMainForm::LineDenyClick);
  connect(LinePermit, &QAction::triggered, this, &TMainForm::LinePermitClick);
  connect(LineDeposit, &QAction::triggered, this, &TMainForm::LineDepositClick);
  connect(LineRefund, &QAction::triggered, this, &TMainForm::LineRefundClick);
  connect(names, &LineNameDelegate::editingStarted, this, &TMainForm::LineListEditing);
  connect(names, &LineNameDelegate::nameAccepted, this, &TMainForm::LineListEdited);
  connect(names, &LineNameDelegate::editingEnded, this, &TMainForm::LineListEditEnded);
  connect(LineList->verticalScrollBar(), &QScrollBar::valueChanged, this,
          &TMainForm::PlaceBillButtons);
}

bool TMainForm::eventFilter(QObject *watched, QEvent *event)
{
  if (watched == LineList && event->type() == QEvent::KeyPress) {
    if (LineListKeyPress(static_cast<QKeyEvent *>(event)))
      return true;
  } else if ((watched == LineList->viewport() || watched == m_billButtons) &&
             event->type() == QEvent::Resize) {
    PlaceBillButtons();
  }
  return QMainWindow::eventFilter(watched, event);
}

/* ---- the poll ---- */

void TMainForm::Timer1Timer()
{
  PollLines();
}

void TMainForm::PollLines()
{
  PollLines(QDateTime::currentDateTime());
}

void TMainForm::PollLines(const QDateTime &now)
{
  m_pollTime = now;
  m_pollEnd = StationTime(now);
  quenta_getStatusEx(UpdateLineCallback, this);
  // New rows are written to the map once per poll, not once per row.
  if (m_lineMapChanged) {
    m_lineMapChanged = false;
    SaveLineMap();
  }
  // Out of the engine's callback: a denial that cannot be sent is told in a
  // message box, whose event loop may run the next poll.
  for (int row = 0; row < LineCount(); row++)
    WatchDeposit(row);
  UpdateStatusBar();
}

void TMainForm::UpdateLineCallback(const char *machineid, int lineid, const char *state,
                                   const char *, const char *desnum, const char *bdate, int flag,
                                   void *param)
{
  static_cast<TMainForm *>(param)->UpdateLine(machineid ? machineid : "", lineid, state ? state : "",
                          desnum ? desnum : "", bdate ? bdate : "", flag);
}

void TMainForm::UpdateLine(const char *machineid, int lineid, const char *state,
                           const char *desnum, const char *bdate, int flag)
{
  const QByteArray machine = QByteArray(machineid).left(MACHINE_ID_MAX);
  int row = FindLine(machine, lineid);
  if (row < 0) {
    qsizetype position = m_machines.indexOf(machine);
    if (position < 0) {
      m_machines.append(machine);
      position = m_machines.size() - 1;
    }
    row = AddLine(DefaultLineName(static_cast<int>(position) + 1, lineid), machine, lineid);
    m_lineMapChanged = true;
  }
  LineEntry &entry = *m_lines[row];
  QTreeWidgetItem *item = LineList->topLevelItem(row);

  if (flag != 0) {
    entry.unsettled = true;
    SetBillButton(row, true);
    // The call that ended is one of them now, no longer the call in progress.
    entry.runningCost.reset();
    RefreshAmountDue(row);
  }

  const LineState now = StateOfLine(state, desnum);
  if (now.code == LINE_OTHER || now.code != entry.shownState) {
    item->setText(1, now.caption);
    const bool changed = now.code != entry.shownState;
    entry.shownState = now.code;
    if (changed)
      TintRow(row);
  }
  item->setText(2, EngineText(desnum));
  // A call the station was restarted during goes on from its real start.
  const bool recovered = bdate[0] != '\0' && quenta_callRecovered(machineid, lineid) == 1;
  item->setText(3, EngineText(bdate) + (recovered ? QStringLiteral("（恢复）") : QString()));

  if (entry.shownState == LINE_IN_CALL && bdate[0] != '\0') {
    item->setText(COLUMN_CALL_TIME, CallTimeText(bdate, m_pollTime).value_or(QString()));
    // The call will leave a record: the line is as good as unsettled, though
    // its button keeps its look until the call has ended.
    entry.unsettled = true;
    PriceRunningCall(entry, desnum, bdate);
  } else {
    item->setText(COLUMN_CALL_TIME, QString());
    entry.runningCost.reset();
    entry.runningText.clear();
    if (entry.unsettled)
      SetBillButton(row, true);
  }
  ShowAmounts(row);
}

void TMainForm::PriceRunningCall(LineEntry &entry, const char *desnum, const char *bdate)
{
  // A line connected without a number leaves no record: nothing to pay.
  if (desnum[0] == '\0') {
    entry.runningCost.reset();
    entry.runningText.clear();
    return;
  }
  // Priced as if the call ended at this poll: the checkout of a call that
  // ends in this second lists exactly this bill.
  const std::optional<bill_info> bill = PriceCallSoFar(desnum, bdate, m_pollEnd);
  if (bill) {
    entry.runningCost = CentsOf(bill->m_count);
    entry.runningText = AmountText(*entry.runningCost);
  } else {
    // Counted as nothing, as the checkout counts a call no rate prices.
    entry.runningCost = 0;
    entry.runningText = QStringLiteral("无法计费");
  }
}

void TMainForm::ShowAmounts(int row)
{
  LineEntry &entry = *m_lines[row];
  entry.amountDue = AmountDueText(entry.unsettledAmount, entry.runningCost);
  QTreeWidgetItem *item = LineList->topLevelItem(row);
  item->setText(COLUMN_AMOUNT_DUE, entry.amountDue);
  item->setText(COLUMN_RUNNING_COST, entry.runningText);
  const std::optional<Cents> deposit = DepositOf(row);
  item->setText(COLUMN_DEPOSIT,
                deposit ? DepositText(*deposit, AmountDue(entry.unsettledAmount, entry.runningCost),
                                      entry.depositLevel)
                        : QString());
}

void TMainForm::TintRow(int row)
{
  const LineEntry &entry = *m_lines[row];
  // The warning stands over every state, whose caption still says it.
  const bool warning = entry.depositLevel >= DEPOSIT_LOW;
  const QColor tint = warning ? DepositWarningTint() : StateTint(entry.shownState);
  // Black text on every state's tint, whatever the desktop's colours.
  const QColor text = warning ? DepositWarningText() : QColor(Qt::black);
  QTreeWidgetItem *item = LineList->topLevelItem(row);
  for (int column = 0; column < LINE_COLUMNS; column++) {
    item->setBackground(column, tint.isValid() ? QBrush(tint) : QBrush());
    item->setForeground(column, tint.isValid() ? QBrush(text) : QBrush());
  }
}

/* ---- rows and buttons ---- */

const LineEntry *TMainForm::Line(int row) const
{
  if (row < 0 || row >= LineCount())
    return nullptr;
  return m_lines[row].get();
}

int TMainForm::AddLine(const QString &name, const QByteArray &machineId, int lineId)
{
  const int row = LineCount();
  auto *item = new QTreeWidgetItem(LineList, QStringList{name, {}, {}, {}, {}, {}, {}, {}});
  item->setFlags(item->flags() | Qt::ItemIsEditable);

  auto entry = std::make_unique<LineEntry>();
  entry->machineId = machineId.left(MACHINE_ID_MAX);
  entry->lineId = lineId;
  entry->name = name;
  auto *button = new QPushButton(m_billButtons);
  button->setObjectName(QStringLiteral("BillButton%1").arg(row + 1));
  button->setFocusPolicy(Qt::NoFocus);
  connect(button, &QPushButton::clicked, this, [this, row] { BillButtonClick(row); });
  entry->button = button;
  m_lines.push_back(std::move(entry));
  PlaceBillButtons();
  button->show();

  LineEntry &e = *m_lines[row];
  e.unsettled = HasUnsettledCalls(e);
  SetBillButton(row, e.unsettled);
  if (e.unsettled)
    RefreshAmountDue(row);
  return row;
}

int TMainForm::FindLine(const QByteArray &machineId, int lineId) const
{
  const QByteArray machine = machineId.left(MACHINE_ID_MAX);
  for (int row = 0; row < LineCount(); row++) {
    const LineEntry &e = *m_lines[row];
    if (e.lineId == lineId && e.machineId == machine)
      return row;
  }
  return -1;
}

bool TMainForm::HasUnsettledCalls(const LineEntry &entry) const
{
  return CountUnsettledCalls(entry.machineId, entry.lineId) != 0;
}

void TMainForm::SetBillButton(int row, bool on)
{
  QPushButton *button = m_lines[row]->button;
  const QString text = on ? QStringLiteral("结帐") : QString::number(row + 1);
  // Every poll confirms the look of an unsettled line; only a change costs.
  if (button->text() == text)
    return;
  button->setText(text);
  QFont font(QStringLiteral("宋体"));
  font.setPointSize(14);
  button->setFont(font);
  QPalette colours = button->palette();
  colours.setColor(QPalette::ButtonText,
                   on ? QColor(Qt::red) : palette().color(QPalette::WindowText));
  button->setPalette(colours);
}

void TMainForm::RefreshAmountDue(int row)
{
  LineEntry &entry = *m_lines[row];
  std::vector<CheckoutCall> calls;
  if (!CollectUnsettledCalls(entry.machineId, entry.lineId, &calls))
    return;  // the engine could not be asked: keep what the column shows
  // Added in the checkout's order, so that the amount shown is the one it asks.
  Cents due = 0;
  for (const CheckoutCall &call : calls) {
    if (call.bill)
      due += CentsOf(call.bill->m_count);
  }
  entry.unsettledAmount = calls.empty() ? std::nullopt : std::optional<Cents>(due);
  ShowAmounts(row);
}

void TMainForm::PlaceBillButtons()
{
  if (!m_billButtons)
    return;
  // The strip's heading ends where the rows begin, whatever height the
  // list's column captions take in this style and font.
  const int rowsTop = Panel1->mapFrom(this, LineList->viewport()->mapTo(this, QPoint(0, 0))).y();
  const int heading = rowsTop - Panel2->geometry().top();
  if (heading > 0 && heading != Panel2->height())
    Panel2->setFixedHeight(heading);
  const int width = m_billButtons->width() - 2;
  for (int row = 0; row < LineCount(); row++) {
    const QRect rect = LineList->visualItemRect(LineList->topLevelItem(row));
    const QPoint top = m_billButtons->mapFrom(this, LineList->viewport()->mapTo(this, rect.topLeft()));
    m_lines[row]->button->setGeometry(1, top.y() + 1, width, BILL_BUTTON_HEIGHT);
  }
}

/* ---- the line map ---- */

void TMainForm::LoadLineMap()
{
  QList<LineMapEntry> entries;
  if (!ReadLineMap(StationFile(LINEMAP_FILE), &entries))
    return;
  for (const LineMapEntry &e : entries) {
    // A line listed twice would get a second row that no report ever reaches.
    if (FindLine(e.machineId, e.lineId) >= 0)
      continue;
    if (!m_machines.contains(e.machineId))
      m_machines.append(e.machineId);
    AddLine(e.name, e.machineId, e.lineId);
  }
}

void TMainForm::SaveLineMap()
{
  QList<LineMapEntry> entries;
  for (int row = 0; row < LineCount(); row++) {
    const LineEntry &e = *m_lines[row];
    entries.append({e.machineId, e.lineId, LineList->topLevelItem(row)->text(0)});
  }
  QString reason;
  if (WriteLineMap(StationFile(LINEMAP_FILE), entries, &reason))
    return;
  qWarning("cannot write the line map %s", qPrintable(StationFile(LINEMAP_FILE)));
  ShowSaveFailure(this, LINEMAP_FILE, reason,
                  QStringLiteral("线路的名称和顺序没有保存，程序重新启动后会恢复原样。"));
}

/* ---- the operator's actions ---- */

int TMainForm::SelectedLine() const
{
  const QList<QTreeWidgetItem *> selected = LineList->selectedItems();
  if (selected.isEmpty())
    return -1;
  return LineList->indexOfTopLevelItem(selected.first());
}

bool TMainForm::LineListKeyPress(QKeyEvent *event)
{
  if (m_editing)
    return false;
  const QString key = event->text();
  if (key.size() != 1 || key[0] < QLatin1Char('1') || key[0] > QLatin1Char('9'))
    return false;
  const int row = key[0].unicode() - '1';
  if (row < LineCount())
    Checkout(row);
  // Taken either way: the list would otherwise jump to a row whose name
  // begins with the digit.
  return true;
}

void TMainForm::LineRenameClick()
{
  const int row = SelectedLine();
  if (row < 0)
    return;
  QTreeWidgetItem *item = LineList->topLevelItem(row);
  LineList->setCurrentItem(item, 0);
  LineList->editItem(item, 0);
}

void TMainForm::LineListEditing()
{
  m_editing = true;
}

void TMainForm::LineListEdited(int row, const QString &text)
{
  m_editing = false;
  if (row < 0 || row >= LineCount())
    return;
  const QString name = CleanName(text);
  // A name of blanks would leave the line map with a line it cannot read back.
  if (name.trimmed().isEmpty())
    return;
  if (!ToGbk(name)) {
    ShowMessage(this, QStringLiteral("线路名称中有无法保存的字符"), QStringLiteral("错误"));
    return;
  }
  LineList->topLevelItem(row)->setText(0, name);
  m_lines[row]->name = name;
  SaveLineMap();
}

void TMainForm::LineListEditEnded()
{
  m_editing = false;
}

void TMainForm::SwapLines(int a, int b)
{
  std::swap(m_lines[a], m_lines[b]);
  // The buttons stay with their rows and serve whichever line is there now.
  std::swap(m_lines[a]->button, m_lines[b]->button);
  for (int row : {a, b}) {
    LineList->topLevelItem(row)->setText(0, m_lines[row]->name);
    ShowAmounts(row);
  }
  SaveLineMap();
  // The state column still shows the other line's state: the poll below
  // writes each row's own.
  m_lines[a]->shownState = LINE_NOT_SHOWN;
  m_lines[b]->shownState = LINE_NOT_SHOWN;
  TintRow(a);
  TintRow(b);
  PollLines();
  for (int row : {a, b}) {
    LineEntry &e = *m_lines[row];
    e.unsettled = HasUnsettledCalls(e);
    SetBillButton(row, e.unsettled);
  }
}

void TMainForm::LineUpClick()
{
  const int row = SelectedLine();
  if (row <= 0)
    return;
  SwapLines(row, row - 1);
  LineList->setCurrentItem(LineList->topLevelItem(row - 1));
}

void TMainForm::LineDownClick()
{
  const int row = SelectedLine();
  if (row < 0 || row >= LineCount() - 1)
    return;
  SwapLines(row, row + 1);
  LineList->setCurrentItem(LineList->topLevelItem(row + 1));
}

void TMainForm::PopupMenu1Popup()
{
  const int row = SelectedLine();
  LineRename->setEnabled(row >= 0);
  LineBill->setEnabled(row >= 0 && m_lines[row]->unsettled);
  LineUp->setEnabled(row > 0);
  LineDown->setEnabled(row >= 0 && row < LineCount() - 1);
  // A line the engine has not reported has no address to send a command to.
  const bool reported = row >= 0 && m_lines[row]->shownState != LINE_NOT_SHOWN;
  LineDeny->setEnabled(reported && m_lines[row]->shownState != LINE_DISABLED);
  LinePermit->setEnabled(reported);
  // A deposit is taken before the customer calls: the line may be anywhere.
  LineDeposit->setEnabled(row >= 0);
  LineRefund->setEnabled(row >= 0 && DepositOf(row).has_value());
}

void TMainForm::BillButtonClick(int row)
{
  Checkout(row);
}

void TMainForm::LineBillClick()
{
  const int row = SelectedLine();
  if (row >= 0)
    Checkout(row);
}

/* ---- booth control ---- */

bool TMainForm::SendLineCommand(int row, const QByteArray &command, const QString &action)
{
  if (row < 0 || row >= LineCount())
    return false;
  const LineEntry &entry = *m_lines[row];
  if (::SendLineCommand(entry.machineId, entry.lineId, command))
    return true;
  ShowMessage(this,
              QStringLiteral("未能向线路“%1”发送“%2”命令，请检查网络连接后重试。")
                  .arg(entry.name, action),
              QStringLiteral("错误"));
  return false;
}

bool TMainForm::DenyLine(int row, const QString &why)
{
  if (!SendLineCommand(row, LINE_DENY_COMMAND, QStringLiteral("禁止呼叫")))
    return false;
  Audit(AUDIT_DENY, QStringLiteral("线路“%1”").arg(m_lines[row]->name) + why);
  return true;
}

bool TMainForm::PermitLine(int row)
{
  if (!SendLineCommand(row, LINE_PERMIT_COMMAND, QStringLiteral("允许呼叫")))
    return false;
  Audit(AUDIT_PERMIT, QStringLiteral("线路“%1”").arg(m_lines[row]->name));
  return true;
}

void TMainForm::LineDenyClick()
{
  const int row = SelectedLine();
  if (row < 0)
    return;
  // The gateway cuts a call in progress at once: the customer's, perhaps
  // mid-sentence, so the operator says so first.
  if (m_lines[row]->runningCost &&
      !AskOperator(this,
                   QStringLiteral("线路“%1”正在通话中，禁止呼叫会立即挂断这个通话。\n确定禁止呼叫吗？")
                       .arg(m_lines[row]->name),
                   QStringLiteral("禁止呼叫"), QStringLiteral("挂断并禁止"), QStringLiteral("取消")))
    return;
  DenyLine(row);
}

void TMainForm::LinePermitClick()
{
  const int row = SelectedLine();
  if (row >= 0)
    PermitLine(row);
}

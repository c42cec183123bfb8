/* The line monitor's view: the list over the LineTable model, the checkout
 * buttons that follow its rows, the pop-up menu and the digit keys, and the
 * in-place editor of a row's name. */
#include "LineMonitor.h"

#include <QAction>
#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QTreeView>
#include <QVBoxLayout>

#include "BillText.h"

/* ---- the name editor ---- */

QWidget *LineNameDelegate::createEditor(QWidget *parent, const QStyleOptionViewItem &, const QModelIndex &index) const
{
  if (index.column() != 0)
    return nullptr;
  auto *editor = new QLineEdit(parent);
  editor->setMaxLength(LINE_NAME_MAX);
  emit const_cast<LineNameDelegate *>(this)->editingStarted();
  return editor;
}

void LineNameDelegate::setModelData(QWidget *editor, QAbstractItemModel *, const QModelIndex &index) const
{
  emit const_cast<LineNameDelegate *>(this)->nameAccepted(index.row(), static_cast<QLineEdit *>(editor)->text());
}

void LineNameDelegate::destroyEditor(QWidget *editor, const QModelIndex &index) const
{
  QStyledItemDelegate::destroyEditor(editor, index);
  emit const_cast<LineNameDelegate *>(this)->editingEnded();
}

void LineNameDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
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

QList<int> LineColumnWidths(const QTreeView *list)
{
  const QFontMetrics metrics(list->font());
  const QString samples[LINE_COLUMNS] = {
      DefaultLineName(12, 15),           QStringLiteral("拨号中"),
      QStringLiteral("008613812345678"), QStringLiteral("2026-12-10 14:03:05（恢复）"),
      QStringLiteral("00:00:00"),        AmountText(999999),
      QStringLiteral("无法计费"),        DepositText(50000, 51230, DEPOSIT_USED_UP),
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

/* ---- the view ---- */

TLineMonitor::TLineMonitor(LineTable *lines, QWidget *parent) : QWidget(parent), m_lines(lines)
{
  setObjectName(QStringLiteral("LineMonitor"));
  m_strip = new QFrame(this);
  m_strip->setObjectName(QStringLiteral("Panel1"));
  m_strip->setFixedWidth(BILL_STRIP_WIDTH);
  m_strip->setFrameShape(QFrame::StyledPanel);
  m_heading = new QLabel(QStringLiteral("结帐"), m_strip);
  m_heading->setObjectName(QStringLiteral("Panel2"));
  m_heading->setAlignment(Qt::AlignCenter);
  m_heading->setFrameShape(QFrame::Panel);
  m_heading->setFrameShadow(QFrame::Raised);
  // The buttons live below the strip's heading, so that a button whose row
  // has scrolled away under the column captions is cut off with it.
  m_billButtons = new QWidget(m_strip);
  m_billButtons->setObjectName(QStringLiteral("BillButtons"));
  auto *strip = new QVBoxLayout(m_strip);
  strip->setContentsMargins(0, 0, 0, 0);
  strip->setSpacing(0);
  strip->addWidget(m_heading);
  strip->addWidget(m_billButtons, 1);

  m_list = new QTreeView(this);
  m_list->setObjectName(QStringLiteral("LineList"));
  m_list->setModel(lines);
  // The cost of the call in progress reads beside its call time; by index it
  // comes last, so every other column keeps its place.
  m_list->header()->moveSection(COLUMN_RUNNING_COST, COLUMN_AMOUNT_DUE);
  m_list->setRootIsDecorated(false);
  m_list->setUniformRowHeights(true);
  m_list->setAllColumnsShowFocus(true);
  m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
  m_list->setSelectionMode(QAbstractItemView::SingleSelection);
  m_list->setStyleSheet(QStringLiteral("QTreeView::item { border-right: 1px solid palette(midlight);"
                                       " border-bottom: 1px solid palette(midlight); }"));
  QFont listFont(QStringLiteral("宋体"));
  listFont.setBold(true);
  m_list->setFont(listFont);
  // The strip's heading sits level with the list's column captions.
  m_heading->setFixedHeight(m_list->header()->sizeHint().height());
  auto *names = new LineNameDelegate(m_list);
  m_list->setItemDelegate(names);
  m_list->setEditTriggers(QAbstractItemView::EditKeyPressed);
  m_list->setContextMenuPolicy(Qt::CustomContextMenu);

  auto *body = new QHBoxLayout(this);
  body->setContentsMargins(0, 0, 0, 0);
  body->setSpacing(0);
  body->addWidget(m_strip);
  body->addWidget(m_list);

  m_menu = new QMenu(this);
  m_menu->setObjectName(QStringLiteral("PopupMenu1"));
  auto add = [this](const char *text, const char *name) {
    QAction *action = m_menu->addAction(QString::fromUtf8(text));
    action->setObjectName(QLatin1String(name));
    return action;
  };
  m_bill = add("结帐", "LineBill");
  m_up = add("上移", "LineUp");
  m_down = add("下移", "LineDown");
  m_rename = add("改名", "LineRename");
  m_menu->addSeparator();
  m_deny = add("禁止呼叫", "LineDeny");
  m_permit = add("允许呼叫", "LinePermit");
  m_menu->addSeparator();
  m_deposit = add("收押金", "LineDeposit");
  m_refund = add("退押金", "LineRefund");

  m_list->installEventFilter(this);
  m_list->viewport()->installEventFilter(this);
  m_billButtons->installEventFilter(this);

  connect(m_list, &QWidget::customContextMenuRequested, this,
          [this](const QPoint &pos) { m_menu->popup(m_list->viewport()->mapToGlobal(pos)); });
  connect(m_menu, &QMenu::aboutToShow, this, &TLineMonitor::MenuAboutToShow);
  auto onSelected = [this](QAction *action, void (TLineMonitor::*request)(int)) {
    connect(action, &QAction::triggered, this, [this, request] {
      const int row = SelectedLine();
      if (row >= 0)
        emit(this->*request)(row);
    });
  };
  onSelected(m_bill, &TLineMonitor::checkoutRequested);
  onSelected(m_deny, &TLineMonitor::denyRequested);
  onSelected(m_permit, &TLineMonitor::permitRequested);
  onSelected(m_deposit, &TLineMonitor::depositRequested);
  onSelected(m_refund, &TLineMonitor::refundRequested);
  connect(m_up, &QAction::triggered, this, [this] { Move(-1); });
  connect(m_down, &QAction::triggered, this, [this] { Move(1); });
  connect(m_rename, &QAction::triggered, this, &TLineMonitor::EditName);
  connect(names, &LineNameDelegate::editingStarted, this, [this] { m_editing = true; });
  connect(names, &LineNameDelegate::nameAccepted, this, [this](int row, const QString &name) {
    m_editing = false;
    emit renameRequested(row, name);
  });
  connect(names, &LineNameDelegate::editingEnded, this, [this] { m_editing = false; });

  // The buttons follow the rows: made and dropped with them, told by the
  // model what their line waits for, placed wherever the list shows the row.
  connect(lines, &QAbstractItemModel::rowsInserted, this,
          [this](const QModelIndex &, int first, int last) { RowsInserted(first, last); });
  connect(lines, &QAbstractItemModel::rowsRemoved, this, &TLineMonitor::RowsRemoved);
  connect(lines, &QAbstractItemModel::modelReset, this, &TLineMonitor::RowsRemoved);
  connect(lines, &QAbstractItemModel::rowsMoved, this, [this] { RowsChanged(0, m_lines->LineCount() - 1); });
  connect(lines, &QAbstractItemModel::layoutChanged, this, &TLineMonitor::PlaceBillButtons);
  connect(lines, &QAbstractItemModel::dataChanged, this,
          [this](const QModelIndex &from, const QModelIndex &to) { RowsChanged(from.row(), to.row()); });
  connect(m_list->verticalScrollBar(), &QScrollBar::valueChanged, this, &TLineMonitor::PlaceBillButtons);
  connect(m_list->header(), &QHeaderView::geometriesChanged, this, &TLineMonitor::PlaceBillButtons);
  RowsInserted(0, lines->LineCount() - 1);
}

QPushButton *TLineMonitor::BillButton(int row) const
{
  return row >= 0 && row < m_buttons.size() ? m_buttons[row] : nullptr;
}

void TLineMonitor::RowsInserted(int first, int last)
{
  // Rows are only ever appended: a new button goes at the end.
  Q_UNUSED(first);
  for (int row = static_cast<int>(m_buttons.size()); row <= last; row++) {
    auto *button = new QPushButton(m_billButtons);
    button->setObjectName(QStringLiteral("BillButton%1").arg(row + 1));
    button->setFocusPolicy(Qt::NoFocus);
    QFont font(QStringLiteral("宋体"));
    font.setPointSize(14);
    button->setFont(font);
    connect(button, &QPushButton::clicked, this, [this, row] { emit checkoutRequested(row); });
    m_buttons.append(button);
    ShowBillButton(row);
    button->show();
  }
  PlaceBillButtons();
}

void TLineMonitor::RowsRemoved()
{
  while (m_buttons.size() > m_lines->LineCount())
    delete m_buttons.takeLast();
  RowsChanged(0, m_lines->LineCount() - 1);
  PlaceBillButtons();
}

void TLineMonitor::RowsChanged(int first, int last)
{
  // The rows keep their height: only what the buttons say may change.
  for (int row = qMax(first, 0); row <= last && row < m_buttons.size(); row++)
    ShowBillButton(row);
}

void TLineMonitor::ShowBillButton(int row)
{
  QPushButton *button = m_buttons[row];
  const bool on = m_lines->data(m_lines->index(row, 0), LineTable::BillableRole).toBool();
  const QString text = on ? QStringLiteral("结帐") : QString::number(row + 1);
  // Every poll confirms the look of an unsettled line; only a change costs.
  if (button->text() == text)
    return;
  button->setText(text);
  QPalette colours = button->palette();
  colours.setColor(QPalette::ButtonText, on ? QColor(Qt::red) : palette().color(QPalette::WindowText));
  button->setPalette(colours);
}

void TLineMonitor::PlaceBillButtons()
{
  // The strip's heading ends where the rows begin, whatever height the
  // list's column captions take in this style and font.
  const int rowsTop = m_strip->mapFrom(this, m_list->viewport()->mapTo(this, QPoint(0, 0))).y();
  const int heading = rowsTop - m_heading->geometry().top();
  if (heading > 0 && heading != m_heading->height())
    m_heading->setFixedHeight(heading);
  const int width = m_billButtons->width() - 2;
  for (int row = 0; row < m_buttons.size(); row++) {
    const QRect rect = m_list->visualRect(m_lines->index(row, 0));
    const QPoint top = m_billButtons->mapFrom(this, m_list->viewport()->mapTo(this, rect.topLeft()));
    m_buttons[row]->setGeometry(1, top.y() + 1, width, BILL_BUTTON_HEIGHT);
  }
}

bool TLineMonitor::eventFilter(QObject *watched, QEvent *event)
{
  if (watched == m_list && event->type() == QEvent::KeyPress) {
    if (KeyPress(static_cast<QKeyEvent *>(event)))
      return true;
  } else if ((watched == m_list->viewport() || watched == m_billButtons) && event->type() == QEvent::Resize) {
    PlaceBillButtons();
  }
  return QWidget::eventFilter(watched, event);
}

bool TLineMonitor::KeyPress(QKeyEvent *event)
{
  if (m_editing)
    return false;
  const QString key = event->text();
  if (key.size() != 1 || key[0] < QLatin1Char('1') || key[0] > QLatin1Char('9'))
    return false;
  const int row = key[0].unicode() - '1';
  if (row < m_lines->LineCount())
    emit checkoutRequested(row);
  // Taken either way: the list would otherwise jump to a row whose name
  // begins with the digit.
  return true;
}

void TLineMonitor::FitColumns()
{
  const QList<int> widths = LineColumnWidths(m_list);
  for (int i = 0; i < LINE_COLUMNS; i++)
    m_list->setColumnWidth(i, widths[i]);
}

int TLineMonitor::SelectedLine() const
{
  const QModelIndexList selected = m_list->selectionModel()->selectedRows();
  return selected.isEmpty() ? -1 : selected.first().row();
}

void TLineMonitor::SelectLine(int row)
{
  m_list->setCurrentIndex(m_lines->index(row, 0));
}

void TLineMonitor::EditName()
{
  const int row = SelectedLine();
  if (row < 0)
    return;
  const QModelIndex name = m_lines->index(row, COLUMN_NAME);
  m_list->setCurrentIndex(name);
  m_list->edit(name);
}

void TLineMonitor::Move(int by)
{
  const int row = SelectedLine();
  const int other = row + by;
  if (row < 0 || other < 0 || other >= m_lines->LineCount())
    return;
  emit swapRequested(row, other);
  // The selection follows the moved line.
  SelectLine(other);
}

void TLineMonitor::MenuAboutToShow()
{
  const int row = SelectedLine();
  const LineEntry *line = m_lines->Line(row);
  m_rename->setEnabled(line != nullptr);
  m_bill->setEnabled(line != nullptr && line->unsettled);
  m_up->setEnabled(row > 0);
  m_down->setEnabled(line != nullptr && row < m_lines->LineCount() - 1);
  // A line the engine has not reported has no address to send a command to.
  const bool reported = line != nullptr && line->shownState != LINE_NOT_SHOWN;
  m_deny->setEnabled(reported && line->shownState != LINE_DISABLED);
  m_permit->setEnabled(reported);
  // A deposit is taken before the customer calls: the line may be anywhere.
  m_deposit->setEnabled(line != nullptr);
  m_refund->setEnabled(line != nullptr && m_lines->DepositOf(row).has_value());
}

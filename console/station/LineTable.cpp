/* The line monitor's rows: the poll and its callback, the rows' texts and
 * tints, the line map and the deposits. */
#include "LineTable.h"

#include <QBrush>

#include <utility>

#include "quenta/quenta.h"

#include "BillText.h"
#include "Calls.h"
#include "LineMap.h"

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

}  // namespace

LineTable::LineTable(QObject *parent) : QAbstractTableModel(parent) {}

int LineTable::rowCount(const QModelIndex &parent) const
{
  return parent.isValid() ? 0 : LineCount();
}

int LineTable::columnCount(const QModelIndex &parent) const
{
  return parent.isValid() ? 0 : LINE_COLUMNS;
}

QVariant LineTable::data(const QModelIndex &index, int role) const
{
  const LineEntry *entry = index.isValid() ? Line(index.row()) : nullptr;
  if (!entry)
    return QVariant();
  switch (role) {
  case Qt::DisplayRole:
  case Qt::EditRole:
    switch (index.column()) {
    case COLUMN_NAME:
      return entry->name;
    case COLUMN_STATE:
      return entry->stateText;
    case COLUMN_DIALLED:
      return entry->dialled;
    case COLUMN_START:
      return entry->startText;
    case COLUMN_CALL_TIME:
      return entry->callTime;
    case COLUMN_AMOUNT_DUE:
      return entry->amountDue;
    case COLUMN_RUNNING_COST:
      return entry->runningText;
    case COLUMN_DEPOSIT: {
      const std::optional<Cents> deposit = DepositOf(index.row());
      if (!deposit)
        return QString();
      return DepositText(*deposit, AmountDue(entry->unsettledAmount, entry->runningCost), entry->depositLevel);
    }
    default:
      return QVariant();
    }
  case Qt::BackgroundRole:
  case Qt::ForegroundRole: {
    // The warning stands over every state, whose caption still says it.
    const bool warning = entry->depositLevel >= DEPOSIT_LOW;
    const QColor tint = warning ? DepositWarningTint() : StateTint(entry->shownState);
    if (!tint.isValid())
      return QVariant();
    if (role == Qt::BackgroundRole)
      return QBrush(tint);
    // Black text on every state's tint, whatever the desktop's colours.
    return QBrush(warning ? DepositWarningText() : QColor(Qt::black));
  }
  case BillableRole:
    return entry->billable;
  default:
    return QVariant();
  }
}

QVariant LineTable::headerData(int section, Qt::Orientation orientation, int role) const
{
  static const char *const captions[LINE_COLUMNS] = {"线路",     "状态",     "呼出号码", "开始时间",
                                                     "通话时间", "应付金额", "本次话费", "押金"};
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= LINE_COLUMNS)
    return QVariant();
  return QString::fromUtf8(captions[section]);
}

Qt::ItemFlags LineTable::flags(const QModelIndex &index) const
{
  Qt::ItemFlags f = QAbstractTableModel::flags(index);
  if (index.isValid() && index.column() == COLUMN_NAME)
    f |= Qt::ItemIsEditable;
  return f;
}

const LineEntry *LineTable::Line(int row) const
{
  if (row < 0 || row >= LineCount())
    return nullptr;
  return &m_lines[row];
}

int LineTable::FindLine(const QByteArray &machineId, int lineId) const
{
  const QByteArray machine = machineId.left(MACHINE_ID_MAX);
  for (int row = 0; row < LineCount(); row++) {
    const LineEntry &e = m_lines[row];
    if (e.lineId == lineId && e.machineId == machine)
      return row;
  }
  return -1;
}

int LineTable::OnlineCount() const
{
  int online = 0;
  for (const LineEntry &line : m_lines)
    online += line.shownState != LINE_OFFLINE && line.shownState != LINE_NOT_SHOWN;
  return online;
}

LineNames LineTable::Names() const
{
  LineNames names;
  for (const LineEntry &entry : m_lines)
    names.insert({entry.machineId, entry.lineId}, entry.name);
  return names;
}

void LineTable::RowChanged(int row)
{
  emit dataChanged(index(row, 0), index(row, LINE_COLUMNS - 1));
}

int LineTable::AddLine(const QString &name, const QByteArray &machineId, int lineId)
{
  const int row = LineCount();
  LineEntry entry;
  entry.machineId = machineId.left(MACHINE_ID_MAX);
  entry.lineId = lineId;
  entry.name = name;
  beginInsertRows(QModelIndex(), row, row);
  m_lines.push_back(std::move(entry));
  endInsertRows();
  RefreshUnsettled(row);
  return row;
}

bool LineTable::Rename(int row, const QString &text)
{
  const QString name = CleanName(text);
  // A name of blanks would leave the line map with a line it cannot read back.
  if (row < 0 || row >= LineCount() || name.trimmed().isEmpty())
    return false;
  m_lines[row].name = name;
  emit dataChanged(index(row, COLUMN_NAME), index(row, COLUMN_NAME));
  return true;
}

void LineTable::SwapLines(int a, int b)
{
  if (a > b)
    std::swap(a, b);
  if (a < 0 || b >= LineCount() || b != a + 1)
    return;
  beginMoveRows(QModelIndex(), b, b, QModelIndex(), a);
  std::swap(m_lines[a], m_lines[b]);
  endMoveRows();
}

void LineTable::RefreshUnsettled(int row)
{
  if (!Line(row))
    return;
  LineEntry &entry = m_lines[row];
  entry.unsettled = CountUnsettledCalls(entry.machineId, entry.lineId) != 0;
  entry.billable = entry.unsettled;
  if (entry.unsettled) {
    RefreshAmountDue(row);
  } else {
    entry.unsettledAmount.reset();
    entry.amountDue = AmountDueText(entry.unsettledAmount, entry.runningCost);
  }
  RowChanged(row);
}

void LineTable::MarkSettled(int row)
{
  if (!Line(row))
    return;
  LineEntry &entry = m_lines[row];
  entry.unsettled = false;
  entry.billable = false;
  entry.unsettledAmount.reset();
  entry.amountDue = AmountDueText(entry.unsettledAmount, entry.runningCost);
  RowChanged(row);
}

void LineTable::RefreshAmountDue(int row)
{
  if (!Line(row))
    return;
  LineEntry &entry = m_lines[row];
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
  entry.amountDue = AmountDueText(entry.unsettledAmount, entry.runningCost);
  RowChanged(row);
}

/* ---- the poll ---- */

bool LineTable::Poll(const QDateTime &now)
{
  m_pollTime = now;
  m_pollEnd = StationTime(now);
  m_added = false;
  quenta_getStatusEx(StatusCallback, this);
  return std::exchange(m_added, false);
}

void LineTable::StatusCallback(const char *machineid, int lineid, const char *state, const char *, const char *desnum,
                               const char *bdate, int flag, void *param)
{
  static_cast<LineTable *>(param)->UpdateLine(machineid ? machineid : "", lineid, state ? state : "",
                                              desnum ? desnum : "", bdate ? bdate : "", flag);
}

void LineTable::UpdateLine(const char *machineid, int lineid, const char *state, const char *desnum, const char *bdate,
                           int flag)
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
    m_added = true;
  }
  LineEntry &entry = m_lines[row];

  if (flag != 0) {
    entry.unsettled = true;
    entry.billable = true;
    // The call that ended is one of them now, no longer the call in progress.
    entry.runningCost.reset();
    RefreshAmountDue(row);
  }

  const LineState now = StateOfLine(state, desnum);
  if (now.code == LINE_OTHER || now.code != entry.shownState) {
    entry.stateText = now.caption;
    entry.shownState = now.code;
  }
  entry.dialled = EngineText(desnum);
  // A call the station was restarted during goes on from its real start.
  const bool recovered = bdate[0] != '\0' && quenta_callRecovered(machineid, lineid) == 1;
  entry.startText = EngineText(bdate) + (recovered ? QStringLiteral("（恢复）") : QString());

  if (entry.shownState == LINE_IN_CALL && bdate[0] != '\0') {
    entry.callTime = CallTimeText(bdate, m_pollTime).value_or(QString());
    // The call will leave a record: the line is as good as unsettled, though
    // its button keeps its look until the call has ended.
    entry.unsettled = true;
    PriceRunningCall(entry, desnum, bdate);
  } else {
    entry.callTime.clear();
    entry.runningCost.reset();
    entry.runningText.clear();
    if (entry.unsettled)
      entry.billable = true;
  }
  entry.amountDue = AmountDueText(entry.unsettledAmount, entry.runningCost);
  RowChanged(row);
}

void LineTable::PriceRunningCall(LineEntry &entry, const char *desnum, const char *bdate)
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

/* ---- the line map ---- */

bool LineTable::LoadLineMap(const QString &path)
{
  QList<LineMapEntry> entries;
  if (!ReadLineMap(path, &entries))
    return false;
  for (const LineMapEntry &e : entries) {
    // A line listed twice would get a second row that no report ever reaches.
    if (FindLine(e.machineId, e.lineId) >= 0)
      continue;
    if (!m_machines.contains(e.machineId))
      m_machines.append(e.machineId);
    AddLine(e.name, e.machineId, e.lineId);
  }
  return true;
}

bool LineTable::SaveLineMap(const QString &path, QString *reason) const
{
  QList<LineMapEntry> entries;
  for (const LineEntry &e : m_lines)
    entries.append({e.machineId, e.lineId, e.name});
  return WriteLineMap(path, entries, reason);
}

/* ---- deposits ---- */

std::optional<Cents> LineTable::DepositOf(int row) const
{
  const LineEntry *entry = Line(row);
  if (!entry)
    return std::nullopt;
  const qsizetype i = FindDeposit(m_deposits, entry->machineId, entry->lineId);
  if (i < 0)
    return std::nullopt;
  return m_deposits[i].amount;
}

Cents LineTable::DepositsHeld() const
{
  Cents held = 0;
  for (const Deposit &d : m_deposits)
    held += d.amount;
  return held;
}

void LineTable::AddDeposit(int row, Cents amount)
{
  if (!Line(row))
    return;
  LineEntry &entry = m_lines[row];
  const qsizetype i = FindDeposit(m_deposits, entry.machineId, entry.lineId);
  if (i < 0)
    m_deposits.append({entry.machineId, entry.lineId, amount});
  else
    m_deposits[i].amount += amount;
  // More money is a deposit afresh: its thresholds are crossed anew.
  entry.depositLevel = DEPOSIT_NONE;
  RowChanged(row);
}

void LineTable::ClearDeposit(int row)
{
  if (!Line(row))
    return;
  const LineEntry &entry = m_lines[row];
  const qsizetype i = FindDeposit(m_deposits, entry.machineId, entry.lineId);
  if (i < 0)
    return;
  m_deposits.removeAt(i);
  RowChanged(row);
}

bool LineTable::LoadDeposits(const QString &path, QString *reason)
{
  const bool read = ReadDeposits(path, &m_deposits, reason);
  if (!m_lines.empty())
    emit dataChanged(index(0, COLUMN_DEPOSIT), index(LineCount() - 1, COLUMN_DEPOSIT));
  return read;
}

bool LineTable::SaveDeposits(const QString &path, QString *reason) const
{
  return WriteDeposits(path, m_deposits, reason);
}

DepositCheck LineTable::WatchDeposit(int row)
{
  if (!Line(row))
    return {DEPOSIT_NONE, false, false};
  LineEntry &entry = m_lines[row];
  DepositCheck check =
      CheckDeposit(entry.depositLevel, DepositOf(row).value_or(0), AmountDue(entry.unsettledAmount, entry.runningCost));
  // A line the engine has not reported since the start has no address to
  // deny (a deposit read at login): it waits, warned, for the poll that does.
  if (check.deny && entry.shownState == LINE_NOT_SHOWN)
    check = {DEPOSIT_LOW, check.beep, false};
  if (check.level == entry.depositLevel)
    return {check.level, false, false};
  entry.depositLevel = check.level;
  RowChanged(row);
  return check;
}

/* Reading and writing the deposits, their levels and the row's texts. */
#include "Deposits.h"

#include <QFile>

#include "LineMap.h"
#include "LineText.h"
#include "SaveFile.h"

namespace {

/* The line's fields: with quoted (the file began with QUOTED_FIELDS_MARK) as
 * the line map reads them, else its words; nothing when a quote is not closed. */
std::optional<QList<QByteArray>> Fields(const QByteArray &line, bool quoted)
{
  if (!quoted)
    return line.simplified().split(' ');
  QList<QByteArray> fields;
  qsizetype pos = 0;
  while (pos < line.size()) {
    const std::optional<QByteArray> field = NextField(line, &pos, true);
    if (field)
      fields.append(*field);
    else if (!line.mid(pos).trimmed().isEmpty())
      return std::nullopt;
    else
      break;
  }
  return fields;
}

/* One line of the file; false when it is not a deposit. */
bool ParseDepositLine(const QByteArray &line, bool quoted, Deposit *deposit)
{
  const std::optional<QList<QByteArray>> read = Fields(line, quoted);
  if (!read || read->size() != 3 || read->at(0).isEmpty())
    return false;
  const QList<QByteArray> &fields = *read;
  bool ok = false;
  const int lineId = fields[1].toInt(&ok);
  const std::optional<Cents> amount = ParseMoney(QString::fromLatin1(fields[2]));
  if (!ok || !amount || *amount <= 0)
    return false;
  deposit->machineId = fields[0].left(MACHINE_ID_MAX);
  deposit->lineId = lineId;
  deposit->amount = *amount;
  return true;
}

}  // namespace

bool ReadDeposits(const QString &path, QList<Deposit> *deposits, QString *reason)
{
  deposits->clear();
  QFile file(path);
  if (!OpenStationFile(&file, reason))
    return false;
  if (!file.isOpen())
    return true;
  bool quoted = false;
  for (bool first = true; !file.atEnd(); first = false) {
    const QByteArray line = file.readLine();
    Deposit d;
    if (first && IsQuotedFieldsMark(line))
      quoted = true;
    else if (ParseDepositLine(line, quoted, &d) && FindDeposit(*deposits, d.machineId, d.lineId) < 0)
      deposits->append(d);
  }
  return true;
}

bool WriteDeposits(const QString &path, const QList<Deposit> &deposits, QString *reason)
{
  QByteArray text;
  bool quoted = false;
  for (const Deposit &d : deposits) {
    quoted = quoted || NeedsQuotes(d.machineId);
    text += FileField(d.machineId) + ' ' + QByteArray::number(d.lineId) + ' ' + CentsText(d.amount).toLatin1() + '\n';
  }
  // Without a quoted field the file is as earlier releases wrote it.
  return ReplaceFile(path, quoted ? QUOTED_FIELDS_MARK "\n" + text : text, reason);
}

qsizetype FindDeposit(const QList<Deposit> &deposits, const QByteArray &machineId, int lineId)
{
  const QByteArray machine = machineId.left(MACHINE_ID_MAX);
  for (qsizetype i = 0; i < deposits.size(); i++) {
    if (deposits[i].lineId == lineId && deposits[i].machineId == machine)
      return i;
  }
  return -1;
}

DepositLevel DepositLevelOf(Cents deposit, Cents used)
{
  if (deposit <= 0)
    return DEPOSIT_NONE;
  if (used >= deposit)
    return DEPOSIT_USED_UP;
  if (used * 100 >= deposit * DEPOSIT_WARNING_PERCENT)
    return DEPOSIT_LOW;
  return DEPOSIT_LEFT;
}

DepositCheck CheckDeposit(DepositLevel shown, Cents deposit, Cents used)
{
  const DepositLevel now = DepositLevelOf(deposit, used);
  if (now == DEPOSIT_NONE)
    return {DEPOSIT_NONE, false, false};
  const DepositLevel level = qMax(now, shown);
  return {level, level >= DEPOSIT_LOW && shown < DEPOSIT_LOW, level == DEPOSIT_USED_UP && shown < DEPOSIT_USED_UP};
}

QString DepositText(Cents deposit, Cents used, DepositLevel level)
{
  if (level == DEPOSIT_NONE)
    return QString();
  const QString held = AmountText(deposit);
  const Cents rest = deposit - used;
  if (level == DEPOSIT_USED_UP) {
    if (rest < 0)
      return QStringLiteral("%1，押金用完，超出%2").arg(held, AmountText(-rest));
    return QStringLiteral("%1，押金用完").arg(held);
  }
  // The level holds once reached, while the figures may dip for a poll (a
  // call that has ended but is not yet stored): never a remainder below 0.
  const QString left = QStringLiteral("%1，余%2").arg(held, AmountText(qMax(rest, Cents(0))));
  return level == DEPOSIT_LOW ? left + QStringLiteral("，将用完") : left;
}

QColor DepositWarningTint()
{
  return QColor(0xB3, 0x26, 0x1E);
}

QColor DepositWarningText()
{
  return QColor(Qt::white);
}

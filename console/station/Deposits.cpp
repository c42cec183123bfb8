/* Reading and writing the deposits, their levels and the row's texts. */
#include "Deposits.h"

#include <QFile>

#include <cfloat>
#include <cmath>

#include "BillText.h"
#include "LineText.h"
#include "SaveFile.h"
#include "ShiftLog.h"

namespace {

/* An amount in whole fen, as "%.02f" shows it. */
long long Fen(float amount)
{
  return std::llround(static_cast<double>(amount) * 100);
}

/* One line of the file; false when it is not a deposit. */
bool ParseDepositLine(const QByteArray &line, Deposit *deposit)
{
  const QList<QByteArray> fields = line.simplified().split(' ');
  if (fields.size() != 3)
    return false;
  bool ok = false;
  const int lineId = fields[1].toInt(&ok);
  const std::optional<double> amount = ParseMoney(QString::fromLatin1(fields[2]));
  if (!ok || !amount || *amount <= 0 || *amount > FLT_MAX)
    return false;
  deposit->machineId = fields[0].left(MACHINE_ID_MAX);
  deposit->lineId = lineId;
  deposit->amount = static_cast<float>(*amount);
  return Fen(deposit->amount) > 0;
}

} // namespace

bool ReadDeposits(const QString &path, QList<Deposit> *deposits, QString *reason)
{
  deposits->clear();
  QFile file(path);
  if (!OpenStationFile(&file, reason))
    return false;
  if (!file.isOpen())
    return true;
  while (!file.atEnd()) {
    Deposit d;
    if (ParseDepositLine(file.readLine(), &d) && FindDeposit(*deposits, d.machineId, d.lineId) < 0)
      deposits->append(d);
  }
  return true;
}

bool WriteDeposits(const QString &path, const QList<Deposit> &deposits, QString *reason)
{
  QByteArray text;
  for (const Deposit &d : deposits)
    text += d.machineId + ' ' + QByteArray::number(d.lineId) + ' ' + FormatMoney(d.amount).toLatin1() + '\n';
  return ReplaceFile(path, text, reason);
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

DepositLevel DepositLevelOf(float deposit, float used)
{
  const long long held = Fen(deposit);
  const long long spent = Fen(used);
  if (held <= 0)
    return DEPOSIT_NONE;
  if (spent >= held)
    return DEPOSIT_USED_UP;
  if (spent * 100 >= held * DEPOSIT_WARNING_PERCENT)
    return DEPOSIT_LOW;
  return DEPOSIT_LEFT;
}

DepositCheck CheckDeposit(DepositLevel shown, float deposit, float used)
{
  const DepositLevel now = DepositLevelOf(deposit, used);
  if (now == DEPOSIT_NONE)
    return {DEPOSIT_NONE, false, false};
  const DepositLevel level = qMax(now, shown);
  return {level, level >= DEPOSIT_LOW && shown < DEPOSIT_LOW,
          level == DEPOSIT_USED_UP && shown < DEPOSIT_USED_UP};
}

QString DepositText(float deposit, float used, DepositLevel level)
{
  if (level == DEPOSIT_NONE)
    return QString();
  const QString held = AmountText(deposit);
  const long long rest = Fen(deposit) - Fen(used);
  if (level == DEPOSIT_USED_UP) {
    if (rest < 0)
      return QStringLiteral("%1，押金用完，超出%2").arg(held, AmountText(-rest / 100.0f));
    return QStringLiteral("%1，押金用完").arg(held);
  }
  // The level holds once reached, while the figures may dip for a poll (a
  // call that has ended but is not yet stored): never a remainder below 0.
  const QString left = QStringLiteral("%1，余%2").arg(held, AmountText(qMax(rest, 0LL) / 100.0f));
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

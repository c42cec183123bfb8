/* The handovers in the engine's shift table and the file "shiftstart". */
#include "ShiftRecord.h"

#include <QFile>

#include "quenta/quenta.h"

#include "Gbk.h"
#include "RateFile.h"
#include "ReportFile.h"
#include "SaveFile.h"

namespace {

const int kTimeLength = 19;       /* "%Y-%m-%d %H:%M:%S" */

void ShiftArrived(void *record, void *param)
{
  const auto *r = static_cast<const shift_report *>(record);
  ShiftRow row;
  row.begin = FIELD_TEXT(r->m_shift.m_bdate);
  row.end = FIELD_TEXT(r->m_shift.m_edate);
  row.outgoing = FromGbk(FIELD_TEXT(r->m_shift.m_outgoing));
  row.incoming = FromGbk(FIELD_TEXT(r->m_shift.m_incoming));
  row.takingsCents = CentsOf(r->m_shift.m_takings);
  row.bills = r->m_bills;
  row.billCents = r->m_cents;
  static_cast<QList<ShiftRow> *>(param)->append(row);
}

} // namespace

QByteArray StationTime(const QDateTime &moment)
{
  return ReportTimeText(moment.date(), moment.time());
}

bool ReadShiftStart(const QString &path, const QString &operatorName, QByteArray *when)
{
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly))
    return false;
  const QByteArray text = file.readAll();
  const std::optional<QByteArray> name = ToGbk(operatorName);
  if (!name || text.size() < kTimeLength + 1 || text[kTimeLength] != ' ' || text.mid(kTimeLength + 1) != *name)
    return false;
  const QByteArray moment = text.left(kTimeLength);
  if (!QDateTime::fromString(QString::fromLatin1(moment), QStringLiteral("yyyy-MM-dd HH:mm:ss")).isValid())
    return false;
  *when = moment;
  return true;
}

bool WriteShiftStart(const QString &path, const QString &operatorName, const QByteArray &when,
                     QString *reason)
{
  const std::optional<QByteArray> name = ToGbk(operatorName);
  if (!name)
    return RefuseWrite(reason, QStringLiteral("操作员名中有无法保存的字符"));
  return ReplaceFile(path, when + ' ' + *name, reason);
}

bool StoreHandover(const QByteArray &begin, const QByteArray &end, const QString &outgoing, Cents takings,
                   const QString &incoming)
{
  const std::optional<QByteArray> out = ToGbk(outgoing), in = ToGbk(incoming);
  if (!out || !in)
    return false;
  shift_info shift{};
  STORE_TEXT(shift.m_bdate, begin);
  STORE_TEXT(shift.m_edate, end);
  STORE_TEXT(shift.m_outgoing, *out);
  STORE_TEXT(shift.m_incoming, *in);
  shift.m_takings = FloatOf(takings);
  return quenta_saveShift(&shift) == 0;
}

bool QueryShifts(const QByteArray &from, const QByteArray &to, QList<ShiftRow> *rows)
{
  rows->clear();
  return quenta_selectShifts(from.constData(), to.constData(), ShiftArrived, rows) == 0;
}

QString ShiftDifferenceText(Cents takingsCents, Cents billCents)
{
  if (takingsCents == billCents)
    return QStringLiteral("相符");
  return takingsCents < billCents ? QStringLiteral("短款 ") + CentsText(billCents - takingsCents)
                                  : QStringLiteral("长款 ") + CentsText(takingsCents - billCents);
}

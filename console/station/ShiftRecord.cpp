/* The handovers in the engine's shift table and the file "shiftstart". */
#include "ShiftRecord.h"

#include <QFile>

#include "quenta/quenta.h"

#include "Gbk.h"
#include "RateFile.h"
#include "ReportFile.h"
#include "SaveFile.h"

namespace {

const int kTimeLength = 19; /* "%Y-%m-%d %H:%M:%S" */

void ShiftArrived(void *record, void *param)
{
  const auto *d = static_cast<const shift_drawer_report *>(record);
  const shift_report *r = &d->m_report;
  ShiftRow row;
  row.begin = FIELD_TEXT(r->m_shift.m_bdate);
  row.end = FIELD_TEXT(r->m_shift.m_edate);
  row.outgoing = FromGbk(FIELD_TEXT(r->m_shift.m_outgoing));
  row.incoming = FromGbk(FIELD_TEXT(r->m_shift.m_incoming));
  row.takingsCents = CentsOf(r->m_shift.m_takings);
  row.bills = r->m_bills;
  row.billCents = r->m_cents;
  row.handedOver = d->m_drawer.m_flags & SHIFT_HANDED_OVER;
  row.drawerKnown = d->m_drawer.m_flags & SHIFT_DRAWER_KNOWN;
  row.expected = d->m_drawer.m_expected;
  row.held = d->m_drawer.m_held;
  if (d->m_drawer.m_flags & SHIFT_COUNTED)
    row.counted = d->m_drawer.m_counted;
  static_cast<QList<ShiftRow> *>(param)->append(row);
}

struct DrawerQuery {
  ShiftDrawer *drawer;
  QByteArray admin;
};

void CheckoutArrived(void *record, void *param)
{
  const auto *c = static_cast<const checkout_info *>(record);
  auto *q = static_cast<DrawerQuery *>(param);
  if (FIELD_TEXT(c->m_admin) != q->admin)
    return;
  q->drawer->taken += c->m_paid + c->m_deposit - c->m_change;
  q->drawer->checkouts++;
}

void RefundArrived(void *record, void *param)
{
  static_cast<ShiftDrawer *>(param)->refunded += static_cast<const refund_info *>(record)->m_amount;
}

}  // namespace

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

bool WriteShiftStart(const QString &path, const QString &operatorName, const QByteArray &when, QString *reason)
{
  const std::optional<QByteArray> name = ToGbk(operatorName);
  if (!name)
    return RefuseWrite(reason, QStringLiteral("操作员名中有无法保存的字符"));
  return ReplaceFile(path, when + ' ' + *name, reason);
}

bool ReckonDrawer(const QByteArray &begin, const QByteArray &end, const QString &operatorName, ShiftDrawer *drawer)
{
  drawer->taken = drawer->refunded = 0;
  drawer->checkouts = 0;
  const std::optional<QByteArray> admin = ToGbk(operatorName);
  if (!admin)
    return false;
  // The engine cuts an operator's name as it stores it; the same cut here.
  DrawerQuery q{drawer, GbkCut(*admin, ADMIN_LEN - 1)};
  const bool checkouts =
      quenta_selectCheckouts(begin.constData(), end.constData(), q.admin.constData(), CheckoutArrived, &q) == 0;
  // A refund leaves the drawer on duty, whoever gave it.
  const bool refunds = quenta_selectRefunds(begin.constData(), end.constData(), nullptr, RefundArrived, drawer) == 0;
  return checkouts && refunds;
}

QString DrawerText(const ShiftDrawer &drawer)
{
  QString text = QStringLiteral("应有现金 %1").arg(AmountText(drawer.Expected()));
  if (drawer.refunded != 0)
    text += QStringLiteral("（收款 %1，退款 %2）").arg(AmountText(drawer.taken), AmountText(drawer.refunded));
  if (drawer.held != 0)
    text += QStringLiteral("，押金 %1另计").arg(AmountText(drawer.held));
  return text;
}

QString DrawerDifferenceText(Cents counted, Cents expected)
{
  const Cents difference = counted - expected;
  return difference > 0 ? QStringLiteral("+") + CentsText(difference) : CentsText(difference);
}

namespace {

/* The record of a shift from begin to end, handed from outgoing to incoming;
 * false when a name has no GBK form. */
bool ShiftOf(const QByteArray &begin, const QByteArray &end, const QString &outgoing, Cents takings,
             const QString &incoming, shift_info *shift)
{
  const std::optional<QByteArray> out = ToGbk(outgoing), in = ToGbk(incoming);
  if (!out || !in)
    return false;
  *shift = shift_info{};
  STORE_TEXT(shift->m_bdate, begin);
  STORE_TEXT(shift->m_edate, end);
  STORE_TEXT(shift->m_outgoing, *out);
  STORE_TEXT(shift->m_incoming, *in);
  shift->m_takings = FloatOf(takings);
  return true;
}

}  // namespace

bool StoreHandover(const QByteArray &begin, const QByteArray &end, const QString &outgoing, Cents takings,
                   const QString &incoming, const ShiftDrawer &drawer, std::optional<Cents> counted, bool handedOver)
{
  shift_info shift;
  if (!ShiftOf(begin, end, outgoing, takings, incoming, &shift))
    return false;
  shift_drawer kept{};
  kept.m_expected = drawer.Expected();
  kept.m_held = drawer.held;
  kept.m_flags = SHIFT_DRAWER_KNOWN | (handedOver ? SHIFT_HANDED_OVER : 0);
  if (counted) {
    kept.m_counted = *counted;
    kept.m_flags |= SHIFT_COUNTED;
  }
  return quenta_saveShiftDrawer(&shift, &kept) == 0;
}

bool StoreHandover(const QByteArray &begin, const QByteArray &end, const QString &outgoing, Cents takings,
                   const QString &incoming)
{
  shift_info shift;
  return ShiftOf(begin, end, outgoing, takings, incoming, &shift) && quenta_saveShift(&shift) == 0;
}

bool QueryShifts(const QByteArray &from, const QByteArray &to, QList<ShiftRow> *rows)
{
  rows->clear();
  return quenta_selectShiftDrawers(from.constData(), to.constData(), ShiftArrived, rows) == 0;
}

QString ShiftDifferenceText(Cents takingsCents, Cents billCents)
{
  if (takingsCents == billCents)
    return QStringLiteral("相符");
  return takingsCents < billCents ? QStringLiteral("短款 ") + CentsText(billCents - takingsCents)
                                  : QStringLiteral("长款 ") + CentsText(takingsCents - billCents);
}

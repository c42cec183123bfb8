/* The console's side of the audit trail: the waiting entries, the texts of
 * the particulars and the report's query. */
#include "Audit.h"

#include <QDateTime>
#include <QFile>
#include <QtGlobal>

#include "quenta/quenta.h"

#include "BillText.h"
#include "Gbk.h"
#include "RateFile.h"
#include "SaveFile.h"
#include "ShiftRecord.h"
#include "ShopInfo.h"

namespace {

struct Entry {
  QByteArray date;
  QByteArray admin, action, detail; /* GBK */
};

QString g_operator;
std::function<void(const QString &)> g_notice;
QList<Entry> g_waiting;
QString g_file;                 /* where the waiting entries are kept */
QList<QByteArray> g_unreadable; /* lines of it that held no entry, kept as they were */

/* GBK of a text; a character without a GBK form becomes "?" rather than lose
 * the entry (names that cannot be stored never get that far). */
QByteArray Gbk(const QString &text)
{
  if (const std::optional<QByteArray> bytes = ToGbk(text))
    return *bytes;
  QString plain;
  for (const QChar c : text)
    plain += ToGbk(QString(c)) ? c : QLatin1Char('?');
  return ToGbk(plain).value_or(QByteArray());
}

void Tell(const QString &what)
{
  qWarning("audit trail: %s", qPrintable(what));
  if (g_notice)
    g_notice(what);
}

QByteArray Escaped(QByteArray text)
{
  return text.replace('\\', "\\\\").replace('\t', "\\t").replace('\n', "\\n");
}

/* Undoes Escaped; false for an unknown escape. */
bool Unescaped(const QByteArray &text, QByteArray *out)
{
  out->clear();
  for (qsizetype i = 0; i < text.size(); i++) {
    if (text[i] != '\\') {
      out->append(text[i]);
      continue;
    }
    const char next = ++i < text.size() ? text[i] : '\0';
    if (next != '\\' && next != 't' && next != 'n')
      return false;
    out->append(next == 't' ? '\t' : next == 'n' ? '\n' : '\\');
  }
  return true;
}

void Tell(const QString &what);

/* The file from the waiting entries: removed when none waits. */
void KeepWaiting()
{
  if (g_file.isEmpty())
    return;
  if (g_waiting.isEmpty() && g_unreadable.isEmpty()) {
    QFile::remove(g_file);
    return;
  }
  QByteArray bytes;
  for (const QByteArray &line : g_unreadable)
    bytes += line + '\n';
  for (const Entry &e : g_waiting)
    bytes += e.date + '\t' + Escaped(e.admin) + '\t' + Escaped(e.action) + '\t' + Escaped(e.detail) + '\n';
  QString reason;
  if (!ReplaceFile(g_file, bytes, &reason))
    Tell(QStringLiteral("无法保存文件 %1：%2").arg(QLatin1String(AUDIT_PENDING_FILE), reason));
}

void AuditArrived(void *record, void *param)
{
  const auto *a = static_cast<const audit_info *>(record);
  static_cast<QList<AuditRow> *>(param)->append({FIELD_TEXT(a->m_date), FromGbk(FIELD_TEXT(a->m_admin)),
                                                 FromGbk(FIELD_TEXT(a->m_action)), FromGbk(FIELD_TEXT(a->m_detail))});
}

QString Or(const QString &text)
{
  return text.isEmpty() ? QStringLiteral("（空）") : text;
}

}  // namespace

QStringList AuditActions()
{
  QStringList actions;
  for (const char *a : {AUDIT_LOGIN, AUDIT_LOGIN_FAILED, AUDIT_CHECKOUT, AUDIT_DEPOSIT, AUDIT_REFUND, AUDIT_DENY,
                        AUDIT_PERMIT, AUDIT_RATE, AUDIT_RATE_IMPORT, AUDIT_USER_ADD, AUDIT_USER_DELETE, AUDIT_PASSWORD,
                        AUDIT_SHIFT, AUDIT_BACKUP, AUDIT_SHOP, AUDIT_CHECKOUT_REFUND, AUDIT_REPRINT})
    actions.append(QString::fromUtf8(a));
  return actions;
}

void SetAuditFile(const QString &path)
{
  g_file = path;
  g_waiting.clear();
  g_unreadable.clear();
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly))
    return;
  for (const QByteArray &line : file.readAll().split('\n')) {
    const QList<QByteArray> fields = line.split('\t');
    Entry e;
    // The day and the time apart: a moment in a clock change's gap is still one.
    const QString date = fields.size() == 4 ? QString::fromLatin1(fields[0]) : QString();
    const bool dated = date.size() == 19 && date[10] == QLatin1Char(' ') &&
                       QDate::fromString(date.left(10), QStringLiteral("yyyy-MM-dd")).isValid() &&
                       QTime::fromString(date.mid(11), QStringLiteral("HH:mm:ss")).isValid();
    if (dated && Unescaped(fields[1], &e.admin) && Unescaped(fields[2], &e.action) && Unescaped(fields[3], &e.detail) &&
        !e.admin.isEmpty() && !e.action.isEmpty()) {
      e.date = fields[0];
      g_waiting.append(e);
    } else if (!line.isEmpty()) {
      qWarning("audit trail: unreadable line in %s kept", qPrintable(path));
      g_unreadable.append(line);
    }
  }
}

void SetAuditOperator(const QString &name)
{
  g_operator = name;
}

void SetAuditNotice(std::function<void(const QString &)> notice)
{
  g_notice = std::move(notice);
}

int FlushAudit()
{
  const qsizetype before = g_waiting.size();
  while (!g_waiting.isEmpty()) {
    const Entry &e = g_waiting.first();
    if (quenta_auditAt(e.date.constData(), e.admin.constData(), e.action.constData(), e.detail.constData()) != 0)
      break;
    g_waiting.removeFirst();
  }
  if (g_waiting.size() != before)
    KeepWaiting();
  return static_cast<int>(g_waiting.size());
}

bool AuditAs(const QString &name, const char *action, const QString &detail)
{
  g_waiting.append({StationTime(QDateTime::currentDateTime()), Gbk(name.isEmpty() ? QStringLiteral("（空）") : name),
                    Gbk(QString::fromUtf8(action)), Gbk(detail)});
  const int left = FlushAudit();
  if (left > 0)
    KeepWaiting();
  if (left == 0)
    return true;
  // Before the first login has started the engine the entries wait without a
  // word: that login stores them.
  if (!g_operator.isEmpty())
    Tell(QStringLiteral("操作记录暂未保存（%1条待存）").arg(left));
  return false;
}

bool Audit(const char *action, const QString &detail)
{
  return AuditAs(g_operator, action, detail);
}

QString CheckoutDetail(const QString &line, const CheckoutFigures &f)
{
  QString text = QStringLiteral("线路“%1”%2个通话：应付%3").arg(line).arg(f.calls).arg(AmountText(f.due));
  if (f.deposit > 0) {
    const Settlement settled = SettlementOf(f.due, f.deposit, f.paid);
    text += QStringLiteral("，押金%1，补交%2，%3%4")
                .arg(AmountText(f.deposit), AmountText(f.paid), settled.caption, AmountText(settled.amount));
  } else {
    const Cents change = f.paid - f.due;
    text += QStringLiteral("，已付%1").arg(AmountText(f.paid)) +
            (change < 0 ? QStringLiteral("，欠%1").arg(AmountText(-change))
                        : QStringLiteral("，找零%1").arg(AmountText(change)));
  }
  if (f.unsaved > 0)
    text += QStringLiteral("；其中%1个通话（%2）账单未能保存，仍未结帐，实际结帐%3个通话共%4")
                .arg(f.unsaved)
                .arg(AmountText(f.unsavedAmount))
                .arg(f.calls - f.unsaved)
                .arg(AmountText(f.due - f.unsavedAmount));
  if (f.unmarked > 0)
    text += QStringLiteral("；%1个通话已保存账单但未能标记为已结帐").arg(f.unmarked);
  return text;
}

QString RuleText(const RateInfo &rule)
{
  QByteArray line = FormatRateLine(rule).trimmed();
  const qsizetype bar = line.indexOf('|');
  const QString name = IsDefaultRule(rule) ? QStringLiteral("默认费率") : FromGbk(FIELD_TEXT(rule.m_name));
  const QByteArray prefix = FIELD_TEXT(rule.m_prefix);
  // The line's own name and prefix stand in front of it.
  const QByteArray rest = bar < 0 ? line : line.mid(line.indexOf('|', bar + 1) + 1);
  return (IsDefaultRule(rule) || prefix.isEmpty() ? name : QStringLiteral("%1（%2）").arg(name, FromGbk(prefix))) +
         QStringLiteral("：") + FromGbk(rest);
}

QString RateChangeDetail(const RateInfo *before, const RateInfo *after)
{
  if (!before && after)
    return QStringLiteral("新增 ") + RuleText(*after);
  if (before && !after)
    return QStringLiteral("删除 ") + RuleText(*before);
  if (before && after)
    return QStringLiteral("原为 %1，改为 %2").arg(RuleText(*before), RuleText(*after));
  return QString();
}

QString ShopChangeDetail(const ShopInfo &before, const ShopInfo &after)
{
  QStringList changes;
  const struct {
    const char *caption;
    const QString &was, &now;
  } texts[] = {{"店名", before.name, after.name},
               {"地址", before.address, after.address},
               {"电话", before.phone, after.phone},
               {"小票结尾", before.footer, after.footer}};
  for (const auto &t : texts)
    if (t.was != t.now)
      changes.append(QStringLiteral("%1：%2 → %3").arg(QString::fromUtf8(t.caption), Or(t.was), Or(t.now)));
  if (before.denyAfterCheckout != after.denyAfterCheckout)
    changes.append(after.denyAfterCheckout ? QStringLiteral("结帐后禁止呼叫：开启")
                                           : QStringLiteral("结帐后禁止呼叫：关闭"));
  return changes.isEmpty() ? QStringLiteral("未改动") : changes.join(QStringLiteral("；"));
}

bool QueryAudit(const QByteArray &from, const QByteArray &to, const QString &admin, const QString &action,
                QList<AuditRow> *rows)
{
  rows->clear();
  const std::optional<QByteArray> who = ToGbk(admin), what = ToGbk(action);
  if (!who || !what)
    return false;
  return quenta_selectAudit(from.constData(), to.constData(), who->constData(), what->constData(), AuditArrived,
                            rows) == 0;
}

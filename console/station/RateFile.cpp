/* The rate file: rule lines written and read back, the period order, and the
 * checks that keep every saved line readable by the engine. */
#include "RateFile.h"

#include <QFile>
#include <QHash>

#include <algorithm>
#include <climits>
#include <cstring>

#include "Gbk.h"
#include "Money.h"
#include "SaveFile.h"
#include "Words.h"
#include "utils/decimal.h"

namespace {

/* The engine's own two-decimal text: a price no float can hold ("inf")
 * stays visible in the line, which then fails its read-back check. */
QByteArray Money(float value)
{
  return QByteArray(utils::decimal_text(value).s);
}

}  // namespace

QByteArray FieldText(const char *field, size_t size)
{
  return QByteArray(field, static_cast<qsizetype>(qstrnlen(field, size)));
}

void StoreText(char *field, size_t size, const QByteArray &bytes)
{
  const QByteArray kept = GbkCut(bytes, static_cast<qsizetype>(size) - 1);
  std::memset(field, 0, size);
  std::memcpy(field, kept.constData(), static_cast<size_t>(kept.size()));
}

bool IsDefaultRule(const RateInfo &rule)
{
  return FIELD_TEXT(rule.m_name) == DEFAULT_RULE_NAME;
}

RateInfo NewRuleTemplate()
{
  RateInfo rule{};
  rule.m_min_bill_time = RULE_UNIT_DEFAULT;
  STORE_TEXT(rule.m_period_price[0].m_time, "0:00:00");
  rule.m_period_price[0].m_timelen = 7;
  rule.m_ppcount = 0;
  return rule;
}

RateInfo DefaultRule()
{
  RateInfo rule = NewRuleTemplate();
  STORE_TEXT(rule.m_name, DEFAULT_RULE_NAME);
  rule.m_namelen = static_cast<int>(std::strlen(DEFAULT_RULE_NAME));
  return rule;
}

QByteArray FormatRateLine(const RateInfo &rule)
{
  const bool isDefault = IsDefaultRule(rule);
  QByteArray line = FIELD_TEXT(rule.m_name) + '|';
  if (!isDefault)
    line += FIELD_TEXT(rule.m_prefix);
  line += '|' + Money(rule.m_handling_charge) + '|';
  bool first = true;
  for (const period_price &p : rule.m_period_price) {
    const QByteArray start = FIELD_TEXT(p.m_time);
    if (start.isEmpty())
      continue;
    if (!first)
      line += ',';
    line += start + '-' + Money(p.m_price);
    first = false;
  }
  line += '|' + QByteArray::number(rule.m_tao_price.m_category) + ':' + Money(rule.m_tao_price.m_price) + '|' +
          QByteArray::number(rule.m_invalid_timeval) + '|' + QByteArray::number(rule.m_min_bill_time) + '\n';
  return line;
}

bool ParseRateLine(const QByteArray &line, RateInfo *rule)
{
  qsizetype end = line.size();
  while (end > 0 && IsBlank(line[end - 1]))
    end--;
  qsizetype begin = 0;
  while (begin < end && IsBlank(line[begin]))
    begin++;
  if (begin == end)
    return false;
  const QByteArray text = line.mid(begin, end - begin);
  const qsizetype bar = text.indexOf('|');
  if (bar < 0)
    return false;
  const QByteArray name = text.left(bar);
  const bool isDefault = name == DEFAULT_RULE_NAME;
  // The default rule's prefix field is empty; the "0" standing in for its bar
  // gives the parser the digit it needs there.
  const QByteArray info = isDefault ? '0' + text.mid(bar + 1) : text.mid(bar + 1);

  RateInfo parsed{};
  if (parser_getRateInfo(info.constData(), &parsed) < 0)
    return false;
  if (isDefault) {
    // The default rule has no prefix of its own: the "0" is not one.
    std::memset(parsed.m_prefix, 0, sizeof parsed.m_prefix);
    parsed.m_prefixlen = 0;
    STORE_TEXT(parsed.m_name, DEFAULT_RULE_NAME);
  } else {
    STORE_TEXT(parsed.m_name, name);
  }
  parsed.m_namelen = static_cast<int>(qstrlen(parsed.m_name));
  *rule = parsed;
  return true;
}

bool ReadRateFile(const QString &path, QList<RateInfo> *rules, int *unreadable)
{
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly))
    return false;
  rules->clear();
  *unreadable = 0;
  while (!file.atEnd()) {
    QByteArray line = file.readLine();
    if (line.endsWith('\n'))
      line.chop(1);
    if (line.trimmed().isEmpty())
      continue;
    RateInfo rule;
    // A longer line was never written by the editor; its pieces must not be
    // read as rules of their own.
    if (line.size() > RATE_LINE_MAX || !ParseRateLine(line, &rule)) {
      ++*unreadable;
      continue;
    }
    rules->append(rule);
  }
  return true;
}

bool WriteRateFile(const QString &path, const QList<RateInfo> &rules, QString *reason)
{
  QByteArray text;
  for (const RateInfo &rule : rules)
    text += FormatRateLine(rule);
  return ReplaceFile(path, text, reason);
}

int PeriodStartSeconds(const period_price &period)
{
  const QByteArray text = FIELD_TEXT(period.m_time);
  if (text.isEmpty())
    return PERIOD_UNUSED_SECONDS;
  const QList<QByteArray> parts = text.split(':');
  const int scale[3] = {3600, 60, 1};
  int seconds = 0;
  for (qsizetype i = 0; i < parts.size() && i < 3; i++)
    seconds += parts[i].left(6).toInt() * scale[i];
  return seconds;
}

QTime PeriodStartTime(const period_price &period)
{
  const QList<QByteArray> parts = FIELD_TEXT(period.m_time).split(':');
  int hms[3] = {0, 0, 0};
  for (qsizetype i = 0; i < parts.size() && i < 3; i++) {
    bool ok = false;
    hms[i] = parts[i].toInt(&ok);
    if (!ok && !parts[i].isEmpty())
      return QTime(0, 0, 0);
  }
  const QTime time(hms[0], hms[1], hms[2]);
  return time.isValid() ? time : QTime(0, 0, 0);
}

void SortPeriods(RateInfo *rule)
{
  std::stable_sort(
      std::begin(rule->m_period_price), std::end(rule->m_period_price),
      [](const period_price &a, const period_price &b) { return PeriodStartSeconds(a) < PeriodStartSeconds(b); });
  rule->m_ppcount = -1;
  for (const period_price &p : rule->m_period_price)
    if (p.m_time[0] != '\0')
      rule->m_ppcount++;
}

QString RateRuleFault(const RateInfo &rule)
{
  const bool isDefault = IsDefaultRule(rule);
  const QByteArray name = FIELD_TEXT(rule.m_name);
  const QByteArray prefix = FIELD_TEXT(rule.m_prefix);
  if (name.contains('|'))
    return QStringLiteral("国家/城市/地区中不能有“|”");
  // A line break would end the rule's line inside its name.
  if (name.contains('\n') || name.contains('\r'))
    return QStringLiteral("国家/城市/地区中不能有换行");
  if (!isDefault) {
    if (prefix.isEmpty())
      return QStringLiteral("区号/代码不能为空");
    if (!std::all_of(prefix.begin(), prefix.end(), [](char c) { return c >= '0' && c <= '9'; }))
      return QStringLiteral("区号/代码只能由数字组成");
  }
  if (std::none_of(std::begin(rule.m_period_price), std::end(rule.m_period_price),
                   [](const period_price &p) { return p.m_time[0] != '\0'; }))
    return QStringLiteral("至少要使用一个时段");
  if (rule.m_min_bill_time <= 0)
    return QStringLiteral("计费间隔不能为0");
  const QByteArray line = FormatRateLine(rule);
  if (line.size() - 1 > ENGINE_LINE_MAX)
    return QStringLiteral("费率内容过长");
  RateInfo back;
  if (!ParseRateLine(line, &back) || FIELD_TEXT(back.m_name) != name)
    return QStringLiteral("费率内容有误，无法保存");
  return QString();
}

bool ParseMoneyText(const QString &text, float *value)
{
  const std::optional<Cents> money = ParseMoney(text);
  if (!money)
    return false;
  *value = FloatOf(*money);
  return true;
}

bool ParseCountText(const QString &text, int *value)
{
  if (text.isEmpty())
    return false;
  long long n = 0;
  for (QChar c : text) {
    if (c < QLatin1Char('0') || c > QLatin1Char('9'))
      return false;
    n = n * 10 + (c.unicode() - '0');
    if (n > INT_MAX)
      return false;
  }
  *value = static_cast<int>(n);
  return true;
}

QString MoneyEditFault(const QString &text, const QString &what, float *value)
{
  if (text.isEmpty())
    return QStringLiteral("请填写%1").arg(what);
  const std::optional<Cents> cents = ParseMoney(text);
  if (!cents)
    return QStringLiteral("“%1”不是有效的数值").arg(text);
  if (!WithinMoneyDecimals(text))
    return QStringLiteral("%1最多只能有两位小数（“%2”）").arg(what, text);
  // Beyond a float's fen the rule would come back as another amount.
  if (CentsOf(FloatOf(*cents)) != *cents)
    return QStringLiteral("%1“%2”过大").arg(what, text);
  *value = FloatOf(*cents);
  return QString();
}

QString CountEditFault(const QString &text, const QString &what, int *value)
{
  if (text.isEmpty())
    return QStringLiteral("请填写%1").arg(what);
  if (!ParseCountText(text, value))
    return QStringLiteral("“%1”不是有效的数值").arg(text);
  return QString();
}

int RowOfPrefix(const QList<RateInfo> &rules, const QByteArray &prefix, int except)
{
  for (qsizetype row = 0; row < rules.size(); row++)
    if (row != except && !IsDefaultRule(rules[row]) && FIELD_TEXT(rules[row].m_prefix) == prefix)
      return static_cast<int>(row);
  return -1;
}

QList<QByteArray> RepeatedPrefixes(const QList<RateInfo> &rules)
{
  QHash<QByteArray, int> seen;
  QList<QByteArray> repeated;
  for (const RateInfo &rule : rules) {
    if (IsDefaultRule(rule))
      continue;
    const QByteArray prefix = FIELD_TEXT(rule.m_prefix);
    if (++seen[prefix] == 2)
      repeated.append(prefix);
  }
  return repeated;
}

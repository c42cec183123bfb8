/* Rate decks: the bytes decoded, the CSV records split, each line checked and
 * made a rule (prices in exact decimal arithmetic, so rounding to the cent is
 * decided on the text, not on a binary fraction), the plan of additions and
 * replacements, and the export. */
#include "RateDeck.h"

#include <QHash>
#include <QStringConverter>
#include <QStringDecoder>

#include <optional>

#include "Gbk.h"
#include "RateFile.h"
#include "Money.h"

#define DECIMAL_DIGITS_MAX 18 /* significant digits of a price: exact in the arithmetic below */

namespace {

enum DeckColumn { kName, kPrefix, kPrice, kCharge, kUnit, kColumns };

using Wide = __int128;

const char kHeader[] = "名称,区号,每分钟价格,手续费,计费间隔\r\n";

Wide Power10(int n)
{
  Wide p = 1;
  while (n-- > 0)
    p *= 10;
  return p;
}

/* A decimal text as mantissa / 10^scale. */
struct Decimal {
  Wide mantissa;
  int scale;
};

/* Digits with at most one point and at least one digit, as the editor's
 * money edits take them. */
std::optional<Decimal> ReadDecimal(const QString &text, bool *tooLong)
{
  *tooLong = false;
  Decimal d{0, 0};
  bool point = false;
  int digits = 0;
  int significant = 0;
  int trailingZeros = 0;
  for (QChar c : text) {
    if (c == QLatin1Char('.') && !point) {
      point = true;
      continue;
    }
    if (c < QLatin1Char('0') || c > QLatin1Char('9'))
      return std::nullopt;
    digits++;
    const int digit = c.unicode() - '0';
    if (point) {
      // Zeros at the end of the fraction change nothing: they wait until a
      // digit behind them needs them.
      if (digit == 0) {
        trailingZeros++;
        continue;
      }
      significant += trailingZeros;
      d.mantissa *= Power10(trailingZeros);
      d.scale += trailingZeros;
      trailingZeros = 0;
      d.scale++;
    }
    if (d.mantissa != 0 || digit != 0)
      significant++;
    if (significant > DECIMAL_DIGITS_MAX) {
      *tooLong = true;
      return std::nullopt;
    }
    d.mantissa = d.mantissa * 10 + digit;
  }
  if (digits == 0)
    return std::nullopt;
  return d;
}

/* value x mul / div in cents, rounded half up; exact when nothing was cut. */
struct Cents {
  long long value;
  bool exact;
};

Cents ToCents(const Decimal &d, long long mul, long long div, Wide *num, Wide *den)
{
  *num = d.mantissa * mul * 100;
  *den = Power10(d.scale) * div;
  return {static_cast<long long>((*num * 2 + *den) / (*den * 2)), *num % *den == 0};
}

/* num / den yuan-cents as a yuan text with up to `decimals` decimals beyond
 * the cents' two, "…" when more would follow. */
QString UnroundedText(Wide num, Wide den, int decimals)
{
  const Wide scaled = num * Power10(decimals);
  Wide q = scaled / den;
  const bool more = scaled % den != 0;
  const Wide unit = Power10(decimals + 2);
  QString text = QString::number(static_cast<long long>(q / unit)) + QLatin1Char('.');
  QString frac = QString::number(static_cast<long long>(q % unit)).rightJustified(decimals + 2, QLatin1Char('0'));
  while (frac.size() > 2 && frac.endsWith(QLatin1Char('0')))
    frac.chop(1);
  return text + frac + (more ? QStringLiteral("…") : QString());
}

bool AllDigits(const QString &text)
{
  for (QChar c : text)
    if (c < QLatin1Char('0') || c > QLatin1Char('9'))
      return false;
  return true;
}

bool HasDigit(const QString &text)
{
  for (QChar c : text)
    if (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
      return true;
  return false;
}

QString Field(const CsvRecord &record, int column)
{
  return column < record.fields.size() ? record.fields[column] : QString();
}

/* A money field as a rule holds it; the reason when it cannot be one. */
std::optional<QString> ReadMoney(const QString &text, long long mul, long long div, const QString &what, Cents *cents,
                                 Wide *num, Wide *den)
{
  bool tooLong = false;
  const std::optional<Decimal> d = ReadDecimal(text, &tooLong);
  if (!d)
    return tooLong ? QStringLiteral("%1的位数过多").arg(what) : QStringLiteral("%1不是数字").arg(what);
  *cents = ToCents(*d, mul, div, num, den);
  if (cents->value > DECK_PRICE_MAX_CENTS)
    return QStringLiteral("%1过大").arg(what);
  return std::nullopt;
}

/* The rule of one deck line, or the reason it is refused. *note tells a
 * price rounded to the cent. seen holds the prefixes of earlier lines. */
std::optional<QString> ReadDeckLine(const CsvRecord &record, QHash<QString, int> *seen, RateInfo *rule, QString *note)
{
  if (record.unclosed)
    return QStringLiteral("引号没有配对");
  for (int i = kColumns; i < record.fields.size(); i++)
    if (!record.fields[i].isEmpty())
      return QStringLiteral("列数过多：最多五列（名称、区号、每分钟价格、手续费、计费间隔）");

  const QString prefix = Field(record, kPrefix);
  const QString name = Field(record, kName);
  // The default rule has no prefix; it goes by its caption.
  const bool isDefault = prefix.isEmpty() && name == QStringLiteral(DEFAULT_RULE_CAPTION);
  if (prefix.isEmpty() && !isDefault)
    return QStringLiteral("区号/代码不能为空");
  if (!AllDigits(prefix))
    return QStringLiteral("区号/代码只能由数字组成");
  if (prefix.size() > RATE_TEXT_MAX)
    return QStringLiteral("区号/代码过长");
  // Counted even when the line fails later: two lines for one prefix are
  // a mistake in the deck whichever of them is sound.
  const auto earlier = seen->constFind(prefix);
  if (earlier != seen->constEnd())
    return isDefault ? QStringLiteral("默认费率与第%1行重复").arg(*earlier)
                     : QStringLiteral("区号与第%1行重复").arg(*earlier);
  seen->insert(prefix, record.line);

  if (name.isEmpty())
    return QStringLiteral("没有国家/城市/地区");
  if (name == QLatin1String(DEFAULT_RULE_NAME))
    return QStringLiteral("“.default”不能用作国家/城市/地区");
  const std::optional<QByteArray> gbkName = ToGbk(name);
  if (!gbkName)
    return QStringLiteral("国家/城市/地区中有无法保存的字符");
  if (gbkName->size() > RATE_TEXT_MAX)
    return QStringLiteral("国家/城市/地区过长");

  const QString priceText = Field(record, kPrice);
  if (priceText.isEmpty())
    return QStringLiteral("没有每分钟价格");
  const QString unitText = Field(record, kUnit);
  int unit = RULE_UNIT_DEFAULT;
  if (!unitText.isEmpty() && !ParseCountText(unitText, &unit))
    return QStringLiteral("计费间隔不是整数秒数");
  if (unit == 0)
    return QStringLiteral("计费间隔不能为0");
  Cents price{}, charge{0, true};
  Wide priceNum = 0, priceDen = 1, chargeNum = 0, chargeDen = 1;
  if (auto fault = ReadMoney(priceText, unit, 60, QStringLiteral("每分钟价格"), &price, &priceNum, &priceDen))
    return fault;
  const QString chargeText = Field(record, kCharge);
  if (!chargeText.isEmpty()) {
    if (auto fault = ReadMoney(chargeText, 1, 1, QStringLiteral("手续费"), &charge, &chargeNum, &chargeDen))
      return fault;
  }

  RateInfo r = NewRuleTemplate();
  STORE_TEXT(r.m_name, isDefault ? QByteArray(DEFAULT_RULE_NAME) : *gbkName);
  STORE_TEXT(r.m_prefix, prefix.toLatin1());
  r.m_namelen = static_cast<int>(qstrlen(r.m_name));
  r.m_prefixlen = static_cast<int>(qstrlen(r.m_prefix));
  r.m_handling_charge = FloatOf(charge.value);
  r.m_min_bill_time = unit;
  r.m_period_price[0].m_price = FloatOf(price.value);
  const QString fault = RateRuleFault(r);
  if (!fault.isEmpty())
    return fault;

  QStringList notes;
  if (!price.exact)
    notes << QStringLiteral("每%1秒%2元记为%3元")
                 .arg(unit)
                 .arg(UnroundedText(priceNum, priceDen, 4), CentsText(price.value));
  if (!charge.exact)
    notes << QStringLiteral("手续费%1元记为%2元").arg(UnroundedText(chargeNum, chargeDen, 4), CentsText(charge.value));
  if (!notes.isEmpty())
    *note = notes.join(QStringLiteral("，")) + QStringLiteral("（费率只记到分）");
  *rule = r;
  return std::nullopt;
}

bool IsHeader(const CsvRecord &record)
{
  const QString prefix = Field(record, kPrefix);
  return !prefix.isEmpty() && !HasDigit(prefix);
}

/* A field as RFC 4180 writes it: quoted when it holds a comma, a quote, a
 * line break or blanks at its ends (which the reader would drop). */
QString CsvField(const QString &text)
{
  const bool quote = text.contains(QLatin1Char(',')) || text.contains(QLatin1Char('"')) ||
                     text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r')) || text != text.trimmed();
  if (!quote)
    return text;
  QString quoted = text;
  quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
  return QLatin1Char('"') + quoted + QLatin1Char('"');
}

}  // namespace

QString DecodeDeck(const QByteArray &bytes, QString *encoding)
{
  const std::optional<QStringConverter::Encoding> marked = QStringConverter::encodingForData(bytes.left(4));
  if (marked && bytes.size() >= 2) {
    QStringDecoder decoder(*marked);
    *encoding = QString::fromLatin1(QStringConverter::nameForEncoding(*marked));
    // The decoder drops the mark itself.
    return decoder.decode(bytes);
  }
  QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
  QString text = utf8.decode(bytes);
  if (!utf8.hasError()) {
    *encoding = QStringLiteral("UTF-8");
    return text;
  }
  *encoding = QStringLiteral("GBK");
  return FromGbk(bytes);
}

QList<CsvRecord> SplitCsv(const QString &text)
{
  enum State { FieldStart, Unquoted, Quoted, AfterQuote };
  QList<CsvRecord> records;
  CsvRecord record{1, {}, false};
  QString field;
  State state = FieldStart;
  bool sawQuote = false;
  int line = 1;

  auto endField = [&] {
    record.fields.append(state == Unquoted ? field.trimmed() : field);
    field.clear();
    state = FieldStart;
  };
  auto endRecord = [&] {
    endField();
    bool blank = !sawQuote && !record.unclosed;
    for (const QString &f : record.fields)
      blank = blank && f.isEmpty();
    if (!blank)
      records.append(record);
    record = CsvRecord{line, {}, false};
    sawQuote = false;
  };

  const QChar *p = text.constData();
  const QChar *end = p + text.size();
  for (; p < end; ++p) {
    const QChar c = *p;
    if (c == QLatin1Char('\n') || c == QLatin1Char('\r')) {
      // CR LF, LF and a lone CR each end one line.
      QString lineBreak(c);
      if (c == QLatin1Char('\r') && p + 1 < end && p[1] == QLatin1Char('\n'))
        lineBreak += *++p;
      line++;
      if (state == Quoted)
        field += lineBreak;
      else
        endRecord();
      continue;
    }
    switch (state) {
    case FieldStart:
      if (c == QLatin1Char('"')) {
        state = Quoted;
        sawQuote = true;
      } else if (c == QLatin1Char(',')) {
        endField();
      } else if (c != QLatin1Char(' ') && c != QLatin1Char('\t')) {
        field += c;
        state = Unquoted;
      }
      break;
    case Unquoted:
      if (c == QLatin1Char(','))
        endField();
      else
        field += c;
      break;
    case Quoted:
      if (c == QLatin1Char('"'))
        state = AfterQuote;
      else
        field += c;
      break;
    case AfterQuote:
      if (c == QLatin1Char('"')) {
        field += c;
        state = Quoted;
      } else if (c == QLatin1Char(',')) {
        endField();
      } else if (c != QLatin1Char(' ') && c != QLatin1Char('\t')) {
        field += c;  // text after the closing quote: kept, as spreadsheets do
      }
      break;
    }
  }
  if (state == Quoted)
    record.unclosed = true;
  if (state != FieldStart || !record.fields.isEmpty() || record.unclosed)
    endRecord();
  return records;
}

DeckPlan PlanDeck(const QByteArray &bytes, const QList<RateInfo> &rules)
{
  DeckPlan plan;
  const QList<CsvRecord> records = SplitCsv(DecodeDeck(bytes, &plan.encoding));

  // The first rule of a prefix is the one the engine chooses: it is replaced.
  // The default rule goes by its empty prefix.
  QHash<QString, int> rows;
  rows.reserve(rules.size());
  for (qsizetype i = rules.size() - 1; i >= 0; i--)
    rows.insert(IsDefaultRule(rules[i]) ? QString() : QString::fromLatin1(FIELD_TEXT(rules[i].m_prefix)),
                static_cast<int>(i));

  QHash<QString, int> seen;
  seen.reserve(records.size());
  plan.added.reserve(records.size());
  plan.replacements.reserve(qMin(records.size(), rules.size()));
  plan.replacedRows.reserve(qMin(records.size(), rules.size()));
  for (qsizetype k = 0; k < records.size(); k++) {
    const CsvRecord &record = records[k];
    if (k == 0 && IsHeader(record)) {
      plan.headerLine = record.line;
      continue;
    }
    RateInfo rule;
    QString note;
    if (const std::optional<QString> fault = ReadDeckLine(record, &seen, &rule, &note)) {
      plan.refused.append({record.line, *fault});
      continue;
    }
    if (!note.isEmpty())
      plan.rounded.append({record.line, note});
    const auto row = rows.constFind(QString::fromLatin1(FIELD_TEXT(rule.m_prefix)));
    if (row != rows.constEnd()) {
      plan.replacedRows.append(*row);
      plan.replacements.append(rule);
      plan.replacementLines.append(record.line);
    } else if (IsDefaultRule(rule)) {
      plan.refused.append({record.line, QStringLiteral("费率表中没有默认费率，无法替换")});
      if (!note.isEmpty())
        plan.rounded.removeLast();
    } else {
      plan.added.append(rule);
      plan.addedLines.append(record.line);
    }
  }
  return plan;
}

QList<RateInfo> ApplyDeck(const QList<RateInfo> &rules, const DeckPlan &plan)
{
  QList<RateInfo> result;
  result.reserve(rules.size() + plan.added.size());
  result += rules;
  for (qsizetype i = 0; i < plan.replacedRows.size(); i++)
    result[plan.replacedRows[i]] = plan.replacements[i];
  result += plan.added;
  return result;
}

QString PerMinuteText(float perUnit, int unit)
{
  bool tooLong = false;
  const std::optional<Decimal> d = ReadDecimal(CentsText(CentsOf(perUnit)), &tooLong);
  Wide num = 0, den = 1;
  if (d)
    ToCents(*d, 60, unit > 0 ? unit : RULE_UNIT_DEFAULT, &num, &den);
  QString text = UnroundedText(num, den, 6);
  // Eight decimals come back to the same cent through the import.
  if (text.endsWith(QStringLiteral("…"))) {
    const Wide q = (num * Power10(6) * 2 + den) / (den * 2);
    text = UnroundedText(q, Power10(6), 6);
  }
  return text;
}

QByteArray FormatDeck(const QList<RateInfo> &rules, int *lossy)
{
  QString text = QString(QChar(0xfeff)) + QString::fromUtf8(kHeader);
  int less = 0;
  for (const RateInfo &rule : rules) {
    int periods = 0;
    for (const period_price &p : rule.m_period_price)
      periods += p.m_time[0] != '\0';
    if (periods > 1 || rule.m_tao_price.m_category != 0 || rule.m_tao_price.m_price != 0 || rule.m_invalid_timeval != 0)
      less++;
    const QString name = IsDefaultRule(rule) ? QStringLiteral(DEFAULT_RULE_CAPTION) : FromGbk(FIELD_TEXT(rule.m_name));
    text += CsvField(name) + QLatin1Char(',') + QString::fromLatin1(FIELD_TEXT(rule.m_prefix)) + QLatin1Char(',') +
            PerMinuteText(rule.m_period_price[0].m_price, rule.m_min_bill_time) + QLatin1Char(',') +
            CentsText(CentsOf(rule.m_handling_charge)) + QLatin1Char(',') + QString::number(rule.m_min_bill_time) +
            QStringLiteral("\r\n");
  }
  if (lossy)
    *lossy = less;
  return text.toUtf8();
}

namespace {

QString RuleCaption(const RateInfo &rule)
{
  if (IsDefaultRule(rule))
    return QStringLiteral(DEFAULT_RULE_CAPTION);
  return QStringLiteral("%1（%2）")
      .arg(FromGbk(FIELD_TEXT(rule.m_name)), QString::fromLatin1(FIELD_TEXT(rule.m_prefix)));
}

/* The prices of the periods in use, per charging unit: "每60秒全天0.90元",
 * "每60秒0:00:00起0.30元、8:00:00起0.60元". */
QString PriceText(const RateInfo &rule)
{
  QStringList periods;
  int used = 0;
  for (const period_price &p : rule.m_period_price)
    used += p.m_time[0] != '\0';
  for (const period_price &p : rule.m_period_price) {
    if (p.m_time[0] == '\0')
      continue;
    const QString price = AmountText(CentsOf(p.m_price));
    if (used == 1 && PeriodStartSeconds(p) == 0)
      periods << QStringLiteral("全天") + price;
    else
      periods << QStringLiteral("%1起%2").arg(QString::fromLatin1(FIELD_TEXT(p.m_time)), price);
  }
  return QStringLiteral("每%1秒").arg(rule.m_min_bill_time) + periods.join(QStringLiteral("、"));
}

QString PackageText(const RateInfo &rule)
{
  if (rule.m_tao_price.m_category == 0 && CentsOf(rule.m_tao_price.m_price) == 0)
    return QStringLiteral("无");
  return QStringLiteral("%1秒%2").arg(rule.m_tao_price.m_category).arg(AmountText(CentsOf(rule.m_tao_price.m_price)));
}

QString FreeText(const RateInfo &rule)
{
  return rule.m_invalid_timeval == 0 ? QStringLiteral("无") : QStringLiteral("%1秒").arg(rule.m_invalid_timeval);
}

}  // namespace

QString DeckAddedText(const RateInfo &rule)
{
  QString text = QStringLiteral("新增 %1：%2").arg(RuleCaption(rule), PriceText(rule));
  if (CentsOf(rule.m_handling_charge) != 0)
    text += QStringLiteral("，手续费") + AmountText(CentsOf(rule.m_handling_charge));
  return text;
}

QString DeckReplacedText(const RateInfo &before, const RateInfo &after)
{
  QStringList changes;
  auto compare = [&changes](const char *what, const QString &was, const QString &now) {
    if (was != now)
      changes << QStringLiteral("%1：%2 → %3").arg(QString::fromUtf8(what), was, now);
  };
  if (!IsDefaultRule(before))
    compare("名称", FromGbk(FIELD_TEXT(before.m_name)), FromGbk(FIELD_TEXT(after.m_name)));
  compare("价格", PriceText(before), PriceText(after));
  compare("手续费", AmountText(CentsOf(before.m_handling_charge)), AmountText(CentsOf(after.m_handling_charge)));
  compare("3+1", PackageText(before), PackageText(after));
  compare("免收费时长", FreeText(before), FreeText(after));
  return QStringLiteral("替换 %1：").arg(RuleCaption(before)) +
         (changes.isEmpty() ? QStringLiteral("没有变化") : changes.join(QStringLiteral("；")));
}
